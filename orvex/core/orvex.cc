#include "orvex/core/orvex.h"

#include <algorithm>
#include <map>

#include "orvex/core/device.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/seams.h"
#include "orvex/core/text.h"
#include "orvex/server/orvex_api.h"

namespace orvex {
namespace {

// The shared instance. Published once and read on every log line, hence atomic; creation is
// serialised by the mutex, which also guards the platform a host installs beforehand.
std::atomic<Orvex*> gShared{nullptr};
std::mutex& sharedMutex() {
  static std::mutex mutex;
  return mutex;
}
std::optional<OrvexPlatform>& installedPlatform() {
  static std::optional<OrvexPlatform> platform;
  return platform;
}

const char* boolText(bool value) {
  return value ? "true" : "false";
}

}  // namespace

std::atomic<Orvex*>& Orvex::gSharedForTesting() {
  return gShared;
}
std::mutex& Orvex::sharedMutexForTesting() {
  return sharedMutex();
}

bool Orvex::installPlatform(OrvexPlatform platform) {
  std::lock_guard lock(sharedMutex());
  if (gShared.load(std::memory_order_acquire) != nullptr || !platform.complete()) return false;
  installedPlatform() = std::move(platform);
  return true;
}

Orvex& Orvex::shared() {
  if (Orvex* instance = gShared.load(std::memory_order_acquire)) return *instance;
  std::lock_guard lock(sharedMutex());
  if (Orvex* instance = gShared.load(std::memory_order_acquire)) return *instance;
  auto& installed = installedPlatform();
  // Never freed: the shared instance lives until the process ends.
  auto* instance = new Orvex(installed ? std::move(*installed) : makeDefaultPlatform());
  installed.reset();
  gShared.store(instance, std::memory_order_release);
  return *instance;
}

Orvex::Orvex(OrvexPlatform platform) : platform_(std::move(platform)) {}

Orvex::~Orvex() = default;

OrvexConfig& Orvex::config() {
  std::call_once(configOnce_, [this] { config_ = std::make_unique<OrvexConfig>(platform_); });
  return *config_;
}

Device& Orvex::device() {
  std::call_once(deviceOnce_, [this] { device_ = std::make_unique<Device>(platform_); });
  return *device_;
}

OrvexAPI& Orvex::api() {
  std::call_once(apiOnce_,
                 [this] { api_ = std::make_shared<OrvexAPI>(platform_, config(), device()); });
  return *api_;
}

bool Orvex::isProduction() {
  // Asking must not create the SDK: loggers ask this before anything is set up.
  Orvex* instance = gShared.load(std::memory_order_acquire);
  return instance && instance->production_.load(std::memory_order_acquire);
}

bool Orvex::useInAppBrowser() {
  return shared().useInAppBrowser_.load(std::memory_order_acquire);
}

void Orvex::setUseInAppBrowser(bool value) {
  shared().useInAppBrowser_.store(value, std::memory_order_release);
}

void Orvex::initialize(bool production, bool useInAppBrowser,
                       std::optional<std::vector<std::string>> targetCountries) {
  shared().initializeImpl(production, useInAppBrowser, targetCountries);
}

void Orvex::initializeImpl(bool production, bool useInAppBrowser,
                           const std::optional<std::vector<std::string>>& targetCountries) {
  if (initialized_.exchange(true, std::memory_order_acq_rel)) return;

  if (targetCountries && !targetCountries->empty()) {
    std::vector<std::string> upper;
    upper.reserve(targetCountries->size());
    for (const auto& code : *targetCountries) upper.push_back(asciiUpper(code));
    auto pieces = splitNonEmpty(device().locale, '_');
    if (!pieces.empty()) {
      std::string country = asciiUpper(pieces.back());
      if (std::find(upper.begin(), upper.end(), country) == upper.end()) {
        isTargetDevice_.store(false, std::memory_order_release);
        logger_.log("Orvex deactivated. currentCountry: " + country +
                    " targetCountries: " + describeList(upper));
        return;
      }
    }
  }

  production_.store(production, std::memory_order_release);
  useInAppBrowser_.store(useInAppBrowser, std::memory_order_release);
  logger_.log(std::string("Orvex.initialize(production: ") + boolText(production) +
              ", useInAppBrowser: " + boolText(useInAppBrowser) + ", targetCountries: " +
              (targetCountries ? describeList(*targetCountries) : std::string("nil")) + ")");
  logger_.log(
      "⚠️ !!ATTENTION!! ⚠️ \n"
      "Orvex is not in production mode. \n"
      "Please make sure that the Orvex SDK is set to production mode before deployment. \n"
      "Learn more: " +
      platform_.deployment.developerGuideUrl);

  config().fetchRemoteConfig();
  backgroundObserver_ = platform_.lifecycle->observe(AppNotification::didEnterBackground,
                                                     [this] { applicationDidEnterBackground(); });
  activateBackfillModule();
}

void Orvex::activateBackfillModule() {
  for (const char* name : {"OrvexAdsBackfill.OrvexBackfill", "OrvexBackfill"}) {
    if (auto activate = BackfillModuleRegistry::find(name)) {
      (*activate)();
      logger_.log(std::string("🔄 OrvexAdsBackfill automatically activated via ") + name);
      return;
    }
  }
  logger_.log("ℹ️ OrvexAdsBackfill module not found - backfill disabled");
}

void Orvex::setUID(const std::string& uid) {
  Orvex& self = shared();
  if (!self.initialized()) {
    self.logger_.log("setUID function can only be used after calling initialize.");
    return;
  }
  if (uid.empty()) return;
  self.config().setUID(uid);
}

void Orvex::setTheme(OrvexTheme theme) {
  Orvex& self = shared();
  if (!self.initialized()) {
    self.logger_.log("setTheme function can only be used after calling initialize.");
    return;
  }
  OrvexConfig& config = self.config();
  // A splash creative cached for the other theme must not be shown.
  if (theme != config.themeMode()) self.platform_.store->removeSuite("io.orvex.OrvexSplashAdCache");
  config.setThemeMode(theme);
}

void Orvex::applicationDidEnterBackground() {
  seams::cleanUpFileCacheIfNeeded();
  AppLifecycle& lifecycle = *platform_.lifecycle;
  // Shared with the expiration handler, which may end the task first.
  auto task = std::make_shared<std::atomic<BackgroundTaskId>>(kInvalidBackgroundTask);
  task->store(lifecycle.beginBackgroundTask("flushPendingProperties", [task, &lifecycle] {
    BackgroundTaskId id = task->exchange(kInvalidBackgroundTask);
    if (id != kInvalidBackgroundTask) lifecycle.endBackgroundTask(id);
  }));
  if (platform_.store->suite("io.orvex.metrics")->integer("CUSTOM_PROPERTY_REQUEST_AT") != 0) {
    seams::sendPendingCustomProperties();
  }
  BackgroundTaskId id = task->exchange(kInvalidBackgroundTask);
  if (id != kInvalidBackgroundTask) lifecycle.endBackgroundTask(id);
}

namespace BackfillModuleRegistry {
namespace {
struct Registry {
  std::mutex mutex;
  std::map<std::string, Activate, std::less<>> modules;
};
Registry& registry() {
  static Registry r;
  return r;
}
}  // namespace

void add(const std::string& className, Activate activate) {
  if (!activate) return;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.modules[className] = activate;
}

void remove(const std::string& className) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.modules.erase(className);
}

std::optional<Activate> find(const std::string& className) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.modules.find(className);
  if (it == r.modules.end()) return std::nullopt;
  return it->second;
}
}  // namespace BackfillModuleRegistry

}  // namespace orvex
