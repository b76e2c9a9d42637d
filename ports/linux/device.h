#pragma once
// Device facts and the application bundle of a Linux host, from their option records.

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/bundle.h"
#include "orvex/platform/device.h"

namespace orvex::linux_port {

// Device facts; fromMachine() reads sensible values from this Linux machine.
struct ORVEX_API DeviceOptions {
  std::string systemVersion = "17.0";
  std::string model = "Headless";
  ScreenSize screen{390, 844};
  InterfaceStyle interfaceStyle = InterfaceStyle::light;
  std::vector<std::string> preferredLanguages = {"en-US"};
  std::string timeZoneIdentifier = "UTC";
  int timeZoneOffsetSeconds = 0;
  TrackingAuthorization tracking = TrackingAuthorization::notDetermined;
  bool advertisingTrackingEnabled = false;
  std::optional<std::string> advertisingIdentifier;
  std::optional<std::string> webViewUserAgent =
      "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) OrvexHeadless";

  static DeviceOptions fromMachine();
};

struct BundleOptions {
  std::optional<std::string> bundleIdentifier = "com.example.host";
  std::map<std::string, Value, std::less<>> info = {{"CFBundleShortVersionString", "1.0"},
                                                    {"CFBundleVersion", "1"}};
  // Holds orvex_service.json; absent means the host has no resources.
  std::optional<std::filesystem::path> resourceDirectory;
  // The SDK's own resources; absent means "find them": share/orvex of the install the running
  // code came from (whatever its prefix), the build tree, then $XDG_DATA_DIRS.
  std::optional<std::filesystem::path> sdkResourceDirectory;
};

class ORVEX_API LinuxDevice : public DeviceFacts {
 public:
  explicit LinuxDevice(DeviceOptions options) : options_(std::move(options)) {}

  std::string systemVersion() const override;
  std::string model() const override;
  ScreenSize screenSize() const override;
  InterfaceStyle interfaceStyle() const override;
  std::vector<std::string> preferredLanguages() const override;
  std::string timeZoneIdentifier() const override;
  int timeZoneOffsetSeconds() const override;
  TrackingAuthorization trackingAuthorization() const override;
  bool isAdvertisingTrackingEnabled() const override;
  std::optional<std::string> advertisingIdentifier() const override;
  std::optional<std::string> webViewUserAgent() const override;

  // Changes facts while running (the user switching to dark mode, granting tracking).
  void update(const std::function<void(DeviceOptions&)>& change);
  DeviceOptions options() const;

 private:
  mutable std::mutex mutex_;
  DeviceOptions options_;
};

// "ko_KR.UTF-8" -> "ko-KR", "C"/"POSIX" -> "en-US"; empty when the text names no language.
std::string languageTagFromLocale(std::string_view locale);

class ORVEX_API LinuxBundle : public AppBundle {
 public:
  explicit LinuxBundle(BundleOptions options);

  std::optional<std::string> bundleIdentifier() const override;
  std::optional<Value> infoValue(std::string_view key) const override;
  std::optional<std::filesystem::path> resourceDirectory() const override;
  std::optional<std::filesystem::path> sdkResourceDirectory() const override;

 private:
  BundleOptions options_;
};

}  // namespace orvex::linux_port
