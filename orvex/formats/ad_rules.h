#pragma once
// What every ad format does the same way: the ids it derives from a creative record, the checks
// a load makes before it asks the server, and how results travel to the host (always posted to
// the main queue, never into an object that is gone).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "orvex/platform/dispatch.h"

namespace orvex::ad_rules {

// The last non-empty ":"-separated part of `text`; "" when there is none.
std::string lastIdPart(std::string_view text);
// The last part of the transaction id without its first "_"-separated piece: "a:b:c_d_e" gives
// "d_e"; a last part without "_" gives "".
std::string creativeIdFromTxId(std::string_view txId);
// The last part of the campaign id ("x:y" gives "y"); "" when absent or without parts.
std::string campaignIdFromCpId(const std::optional<std::string>& cpId);
// Served by the backfill module (OrvexConstants::backfillTxIdPrefix).
bool isBackfilledTxId(std::string_view txId);

// A production build whose service configuration is switched off loads nothing but test units.
bool isInactiveUnit(std::string_view unitId);
// Starts a remote-configuration refresh, without waiting, once the last one is 30 minutes old.
void refreshRemoteConfigIfStale();

// Runs `step` on the SDK's main queue with `target` locked, or not at all when it is gone by
// then. Used for every host callback and every view change made from a completion.
void postToMain(Task task);
template <typename T>
void onMainIfAlive(std::weak_ptr<T> target, std::function<void(T&)> step) {
  postToMain([target = std::move(target), step = std::move(step)] {
    if (auto strong = target.lock()) step(*strong);
  });
}

}  // namespace orvex::ad_rules
