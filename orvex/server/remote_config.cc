// Remote configuration: asks the service for this app's settings and applies the answer.
#include <cmath>

#include "orvex/core/crypto.h"
#include "orvex/core/device.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/seams.h"
#include "orvex/server/ad_response.h"
#include "orvex/server/documents.h"
#include "orvex/server/orvex_api.h"

namespace orvex {
namespace {

constexpr const char* kBackfillPrefix = "orvex_backfill_";

// The server's clock as whole milliseconds; a value no Int64 can hold means "use ours".
std::int64_t serverMillis(double resAt, std::int64_t now) {
  if (!std::isfinite(resAt) || resAt >= 9.2e18 || resAt <= -9.2e18) return now;
  return static_cast<std::int64_t>(resAt);
}

}  // namespace

void OrvexConfig::fetchRemoteConfig(std::function<void(const ServerError&)> completion) {
  Orvex& sdk = Orvex::shared();
  OrvexAPI& api = sdk.api();
  // The configuration belongs to the shared instance, which lives as long as the process, so
  // the steps below may hold it by pointer.
  auto fail = [this, completion](const ServerError& error) {
    logger_.log("remote config failed. " + error.description());
    if (completion) completion(error);
  };
  if (!sdk.initialized()) return fail(ServerError::refused(NotActivated::notInitialized));
  if (!sdk.isTargetDevice()) return fail(ServerError::refused(NotActivated::notTargetCountry));

  RemoteConfigFacts facts;
  facts.uid = uid();
  facts.tagHash = sha256Hex(displayTag());
  facts.deviceInfo = sdk.device().infoJson();
  facts.production = Orvex::isProduction();
  auto slot = std::make_shared<std::optional<RemoteConfigRes>>();
  api.postWithFallback(
      remoteConfigDocument(facts), remoteConfigURL(),
      [slot](const Value& data) -> std::optional<std::string> {
        std::string why;
        auto resp = decodeRemoteConfigReqData(data, &why);
        if (!resp) return why;
        *slot = std::move(resp->data.getRemoteConfig);
        return std::nullopt;
      },
      [this, slot, fail](std::optional<ServerError> error) {
        if (error) return fail(*error);
        applyRemoteConfig(*slot);
      });
}

bool OrvexConfig::fetchRemoteConfigIfStale() {
  constexpr std::int64_t kFreshForMillis = 1'799'999;
  if (unixMillis(platform_.clock->now()) - lastConfigAt() <= kFreshForMillis) return false;
  fetchRemoteConfig();
  return true;
}

void OrvexConfig::applyRemoteConfig(const std::optional<RemoteConfigRes>& res) {
  setDisplayTag(res && res->displayTag ? *res->displayTag : "");
  setDisplayTagMacro(res && res->displayTagMacro ? *res->displayTagMacro : "");
  bool newActive = res && res->active ? *res->active : true;
  if (newActive != active()) setActive(newActive);
  setPlayerVersion(res && res->playerVersion ? *res->playerVersion : kDefaultPlayerVersion);

  std::int64_t now = unixMillis(platform_.clock->now());
  {
    std::lock_guard lock(mutex_);
    bool later = now > lastConfigAt_;
    lastConfigAt_ = now;
    if (later) defaults_->set("orvex_lastConfigAt", std::to_string(now));
  }
  std::int64_t server = res && res->resAt ? serverMillis(*res->resAt, now) : now;
  if (server != serverTimestamp()) setServerTimestamp(server);

  if (res && res->backfills) {
    for (const auto& key : defaults_->keys())
      if (key.starts_with(kBackfillPrefix)) defaults_->remove(key);
    for (const auto& [network, units] : *res->backfills)
      for (const auto& [unit, other] : units)
        defaults_->set(kBackfillPrefix + network + ":" + unit, Value(other));
  }
  seams::preparePlayerScript(playerVersion());
}

}  // namespace orvex
