#pragma once
// The SDK's persisted settings: the user id, the app key, the creative document template and
// macro, the server's on/off switch, the player-script version and the theme. Every value lives
// in memory and is mirrored at once to the standard store under keys beginning with "orvex_".
//
// Fields are written from the main thread (public operations) and from network completions
// (remote configuration, a 401), so each is guarded; readers get copies.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "orvex/core/codes.h"
#include "orvex/core/simple_logger.h"
#include "orvex/platform/platform.h"

namespace orvex {

// The creative document template used until the server supplies another.
extern const char* const kDefaultDisplayTag;
inline constexpr const char* kDefaultDisplayTagMacro = "<%= data.markup %>";
inline constexpr const char* kDefaultPlayerVersion = "v0.0.13";

struct RemoteConfigRes;
struct ServerError;

class ORVEX_API OrvexConfig {
 public:
  // Loads the persisted keys (a missing or malformed one reads as its default), reads the service
  // file and makes a new user id on first launch or when the app key changed. When the system
  // has no secure random bytes for that id, the user id stays empty for this launch and nothing
  // is stored, so the next launch makes one.
  explicit OrvexConfig(const OrvexPlatform& platform);
  OrvexConfig(const OrvexConfig&) = delete;
  OrvexConfig& operator=(const OrvexConfig&) = delete;

  // The server addresses, built from the deployment.
  std::string remoteConfigURL() const { return apiBase_ + "/remote-config"; }
  std::string requestAdsURL() const { return apiBase_ + "/request-ads"; }
  std::string eventsURL() const { return apiBase_ + "/events"; }
  std::string graphQLURL() const { return adBase_ + "/graphql"; }
  std::string questURL() const { return questURL_; }

  std::string uid() const;
  std::string displayTag() const;
  std::string displayTagMacro() const;
  std::string playerVersion() const;
  std::int64_t lastConfigAt() const;
  std::int64_t serverTimestamp() const;
  bool active() const;
  OrvexTheme themeMode() const;
  std::string appKey() const;

  // Non-empty values that differ from the current one are persisted; "" changes only memory.
  void setUidValue(const std::string& value);
  void setDisplayTag(const std::string& value);
  void setDisplayTagMacro(const std::string& value);
  void setPlayerVersion(const std::string& value);
  void setLastConfigAt(std::int64_t millis);
  void setServerTimestamp(std::int64_t millis);
  void setActive(bool value);
  void setThemeMode(OrvexTheme theme);

  // Stores the SHA-256 of the host's id (never the id itself); a change resets the user's
  // custom properties and refetches remote configuration.
  void setUID(const std::string& value);
  // "light" or "dark"; auto follows the main screen's interface style.
  std::string requestTheme() const;

  // Asks the server for remote configuration and applies it; `completion` runs only on failure.
  void fetchRemoteConfig(std::function<void(const ServerError&)> completion = {});
  // What every ad load calls first: fetches again once the last configuration is 30 minutes
  // old or more. Returns whether it fetched.
  bool fetchRemoteConfigIfStale();

  // The digest setUID stores for a host id; empty when it cannot be computed.
  static std::string uidDigest(const std::string& hostId);

  KeyValueStore& store() const { return *defaults_; }
  SimpleLogger& logger() { return logger_; }
  const OrvexPlatform& platform() const { return platform_; }

 private:
  void setPersistedString(std::string OrvexConfig::*field, const char* key,
                          const std::string& value);
  void resetCustomProperties();
  // The success step of remote configuration; `res` may be absent (the defaults apply).
  void applyRemoteConfig(const std::optional<RemoteConfigRes>& res);

  SimpleLogger logger_{"OrvexConfig"};
  const OrvexPlatform& platform_;
  std::shared_ptr<KeyValueStore> defaults_;
  const std::string apiBase_;
  const std::string adBase_;
  const std::string questURL_;

  mutable std::mutex mutex_;
  std::string uid_;
  std::string displayTag_;
  std::string displayTagMacro_;
  std::int64_t lastConfigAt_ = 0;
  std::int64_t serverTimestamp_ = 0;
  bool active_ = true;
  std::string playerVersion_;
  OrvexTheme themeMode_ = OrvexTheme::automatic;
  std::string appKey_;
};

}  // namespace orvex
