#pragma once
// The SDK's entry class. Hosts call the static operations; one shared instance, created on first
// use and kept for the life of the process, holds the run-time switches and lazily owns the
// configuration, the device facts and the server connector.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orvex/core/codes.h"
#include "orvex/core/simple_logger.h"
#include "orvex/platform/platform.h"
#include "orvex/platform/subscription.h"

namespace orvex {

class Device;
class OrvexAPI;
class OrvexConfig;

class ORVEX_API Orvex {
 public:
  // Hands the SDK the platform it reaches the outside world through. Call it once, before any
  // other call into the SDK; afterwards it changes nothing and returns false. Without it the
  // SDK uses the default port of the build (the headless port, in real time).
  static bool installPlatform(OrvexPlatform platform);

  static void initialize(bool production, bool useInAppBrowser,
                         std::optional<std::vector<std::string>> targetCountries = std::nullopt);
  static void setUID(const std::string& uid);
  static void setTheme(OrvexTheme theme);
  // Opens the quest site at /channel[/path]; false when that does not make a URL.
  static bool openQuest(const std::string& channel, const std::optional<std::string>& path);
  // Opens the "orvex_landing_url" of a deep link on the main queue; false when it has none.
  static bool handleDeepLink(const std::string& url);
  static std::string sdkVersion() { return "1.7.0"; }
  static bool isProduction();
  static bool useInAppBrowser();
  static void setUseInAppBrowser(bool value);

  // ---- internal: reached by the SDK's own subsystems, not by hosts ----
  static Orvex& shared();
  const OrvexPlatform& platform() const { return platform_; }
  OrvexConfig& config();
  Device& device();
  // The server operations; created with the configuration and device facts it reads.
  OrvexAPI& api();
  bool initialized() const { return initialized_.load(std::memory_order_acquire); }
  bool isTargetDevice() const { return isTargetDevice_.load(std::memory_order_acquire); }
  SimpleLogger& logger() { return logger_; }
  // Called by the life cycle when the application goes to the background.
  void applicationDidEnterBackground();

  Orvex(const Orvex&) = delete;
  Orvex& operator=(const Orvex&) = delete;
  ~Orvex();

 private:
  friend class OrvexTestAccess;
  explicit Orvex(OrvexPlatform platform);
  static std::atomic<Orvex*>& gSharedForTesting();
  static std::mutex& sharedMutexForTesting();

  void initializeImpl(bool production, bool useInAppBrowser,
                      const std::optional<std::vector<std::string>>& targetCountries);
  void activateBackfillModule();

  SimpleLogger logger_{"Orvex"};
  std::atomic<bool> initialized_{false};
  std::atomic<bool> production_{false};
  std::atomic<bool> useInAppBrowser_{false};
  std::atomic<bool> isTargetDevice_{true};
  const OrvexPlatform platform_;

  std::once_flag configOnce_;
  std::unique_ptr<OrvexConfig> config_;
  std::once_flag deviceOnce_;
  std::unique_ptr<Device> device_;
  // Declared after what it refers to, so it goes first.
  std::once_flag apiOnce_;
  std::shared_ptr<OrvexAPI> api_;
  Subscription backgroundObserver_;
};

// Backfill modules register themselves here under their class name; initialize activates the
// first of "OrvexAdsBackfill.OrvexBackfill" and "OrvexBackfill" that is registered.
namespace BackfillModuleRegistry {
using Activate = void (*)();
ORVEX_API void add(const std::string& className, Activate activate);
// A module that unloads takes itself out; later initializations no longer see it.
ORVEX_API void remove(const std::string& className);
ORVEX_API std::optional<Activate> find(const std::string& className);
}  // namespace BackfillModuleRegistry

// The port a build falls back to when the host installs none. Each port library provides it.
ORVEX_API OrvexPlatform makeDefaultPlatform();

}  // namespace orvex
