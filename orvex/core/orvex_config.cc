#include "orvex/core/orvex_config.h"

#include "orvex/core/crypto.h"
#include "orvex/core/json.h"
#include "orvex/core/seams.h"
#include "orvex/core/service_file.h"
#include "orvex/core/text.h"
#include "orvex/core/ulid.h"

namespace orvex {

const char* const kDefaultDisplayTag =
    "<!DOCTYPE html><html style='height:100%'><head><meta charset='utf-8'><meta name='robots' "
    "content='noindex'><meta name='robots' content='nofollow'><meta name='robots' "
    "content='noarchive'><meta name='robots' content='nosnippet'><meta name='viewport' "
    "content='width=device-width,height=device-height,initial-scale=1'><base "
    "target='_top'><title>Orvex Ads Banner</title><style>button, html, p {margin: 0;padding: "
    "0}</style></head><body style='margin:0;padding:0;height:100%'><%= data.markup "
    "%></body></html>";

namespace {

constexpr const char* kUid = "orvex_uid";
constexpr const char* kDisplayTag = "orvex_displayTag";
constexpr const char* kDisplayTagMacro = "orvex_displayTagMacro";
constexpr const char* kLastConfigAt = "orvex_lastConfigAt";
constexpr const char* kServerTimestamp = "orvex_serverTimestamp";
constexpr const char* kActive = "orvex_active";
constexpr const char* kPlayerVersion = "orvex_playerVersion";
constexpr const char* kThemeMode = "orvex_themeMode";
constexpr const char* kAppKey = "orvex_appKey";

std::string stringOr(const KeyValueStore& store, const char* key, const char* fallback) {
  return store.string(key).value_or(fallback);
}

std::int64_t decimalAt(const KeyValueStore& store, const char* key) {
  auto text = store.string(key);
  return text ? parseInt64OrZero(*text) : 0;
}

}  // namespace

OrvexConfig::OrvexConfig(const OrvexPlatform& platform)
    : platform_(platform),
      defaults_(platform.store->standard()),
      apiBase_(platform.deployment.apiServerBase),
      adBase_(platform.deployment.adServerBase),
      questURL_(platform.deployment.questScheme + "://" + platform.deployment.questHost) {
  KeyValueStore& d = *defaults_;
  std::lock_guard lock(mutex_);
  uid_ = stringOr(d, kUid, "");
  d.set(kUid, uid_);
  displayTag_ = stringOr(d, kDisplayTag, kDefaultDisplayTag);
  d.set(kDisplayTag, displayTag_);
  displayTagMacro_ = stringOr(d, kDisplayTagMacro, kDefaultDisplayTagMacro);
  d.set(kDisplayTagMacro, displayTagMacro_);
  lastConfigAt_ = decimalAt(d, kLastConfigAt);
  d.set(kLastConfigAt, std::to_string(lastConfigAt_));
  serverTimestamp_ = decimalAt(d, kServerTimestamp);
  d.set(kServerTimestamp, std::to_string(serverTimestamp_));
  // Missing or malformed, the switch reads as on: off refuses every production request.
  active_ = d.boolean(kActive).value_or(true);
  d.set(kActive, active_);
  playerVersion_ = stringOr(d, kPlayerVersion, kDefaultPlayerVersion);
  d.set(kPlayerVersion, playerVersion_);
  themeMode_ = themeFromText(stringOr(d, kThemeMode, "auto"));
  d.set(kThemeMode, themeText(themeMode_));

  appKey_ = loadAppKey(platform, logger_);

  auto storedKey = d.string(kAppKey);
  if (uid_.empty() || !storedKey || *storedKey != appKey_) {
    auto fresh = ULID::generate(platform.clock->now());
    if (!fresh) {
      // Nothing is stored, so the next launch tries again; until then requests carry no id
      // rather than one that could be shared with other devices.
      uid_.clear();
      SimpleLogger::logAlways("OrvexConfig", "no secure random bytes for a new user id");
      return;
    }
    uid_ = fresh->ulidString();
    d.set(kUid, uid_);
    d.set(kAppKey, appKey_);
    resetCustomProperties();
  }
}

std::string OrvexConfig::uid() const {
  std::lock_guard lock(mutex_);
  return uid_;
}
std::string OrvexConfig::displayTag() const {
  std::lock_guard lock(mutex_);
  return displayTag_;
}
std::string OrvexConfig::displayTagMacro() const {
  std::lock_guard lock(mutex_);
  return displayTagMacro_;
}
std::string OrvexConfig::playerVersion() const {
  std::lock_guard lock(mutex_);
  return playerVersion_;
}
std::int64_t OrvexConfig::lastConfigAt() const {
  std::lock_guard lock(mutex_);
  return lastConfigAt_;
}
std::int64_t OrvexConfig::serverTimestamp() const {
  std::lock_guard lock(mutex_);
  return serverTimestamp_;
}
bool OrvexConfig::active() const {
  std::lock_guard lock(mutex_);
  return active_;
}
OrvexTheme OrvexConfig::themeMode() const {
  std::lock_guard lock(mutex_);
  return themeMode_;
}
std::string OrvexConfig::appKey() const {
  std::lock_guard lock(mutex_);
  return appKey_;
}

void OrvexConfig::setPersistedString(std::string OrvexConfig::*field, const char* key,
                                     const std::string& value) {
  std::lock_guard lock(mutex_);
  std::string& current = this->*field;
  bool persist = !value.empty() && value != current;
  current = value;
  if (persist) defaults_->set(key, value);
}

void OrvexConfig::setUidValue(const std::string& value) {
  setPersistedString(&OrvexConfig::uid_, kUid, value);
}
void OrvexConfig::setDisplayTag(const std::string& value) {
  setPersistedString(&OrvexConfig::displayTag_, kDisplayTag, value);
}
void OrvexConfig::setDisplayTagMacro(const std::string& value) {
  setPersistedString(&OrvexConfig::displayTagMacro_, kDisplayTagMacro, value);
}
void OrvexConfig::setPlayerVersion(const std::string& value) {
  bool changed = !value.empty() && value != playerVersion();
  setPersistedString(&OrvexConfig::playerVersion_, kPlayerVersion, value);
  // The one script file serves whatever version it was fetched for: a new version replaces it.
  if (changed) seams::deletePlayerScript();
}

void OrvexConfig::setLastConfigAt(std::int64_t millis) {
  std::lock_guard lock(mutex_);
  lastConfigAt_ = millis;
  defaults_->set(kLastConfigAt, std::to_string(millis));
}
void OrvexConfig::setServerTimestamp(std::int64_t millis) {
  std::lock_guard lock(mutex_);
  serverTimestamp_ = millis;
  defaults_->set(kServerTimestamp, std::to_string(millis));
}
void OrvexConfig::setActive(bool value) {
  std::lock_guard lock(mutex_);
  active_ = value;
  defaults_->set(kActive, value);
}

void OrvexConfig::setThemeMode(OrvexTheme theme) {
  std::lock_guard lock(mutex_);
  if (theme == themeMode_) return;
  themeMode_ = theme;
  defaults_->set(kThemeMode, themeText(theme));
}

std::string OrvexConfig::uidDigest(const std::string& hostId) {
  json::WriteOptions options;
  options.escapeSlashes = true;
  return sha256Hex(json::write(Value(ValueDict{{"uid", hostId}}), options));
}

void OrvexConfig::setUID(const std::string& value) {
  if (value.empty()) return;
  std::string digest = uidDigest(value);
  {
    std::lock_guard lock(mutex_);
    if (digest.empty() || digest == uid_) return;
    uid_ = digest;
    defaults_->set(kUid, digest);
  }
  resetCustomProperties();
  fetchRemoteConfig();
}

std::string OrvexConfig::requestTheme() const {
  switch (themeMode()) {
    case OrvexTheme::light:
      return "light";
    case OrvexTheme::dark:
      return "dark";
    case OrvexTheme::automatic:
      break;
  }
  return platform_.device->interfaceStyle() == InterfaceStyle::dark ? "dark" : "light";
}

void OrvexConfig::resetCustomProperties() {
  // Through the metrics queue: a direct write could be overwritten by a change queued before it.
  seams::resetCustomProperties();
}

}  // namespace orvex
