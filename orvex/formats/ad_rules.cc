#include "orvex/formats/ad_rules.h"

#include "orvex/core/codes.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/server/orvex_api.h"

namespace orvex::ad_rules {

std::string lastIdPart(std::string_view text) {
  std::string_view last;
  while (!text.empty()) {
    const auto colon = text.find(':');
    const std::string_view part = text.substr(0, colon);
    if (!part.empty()) last = part;
    if (colon == std::string_view::npos) break;
    text.remove_prefix(colon + 1);
  }
  return std::string(last);
}

std::string creativeIdFromTxId(std::string_view txId) {
  const std::string last = lastIdPart(txId);
  const auto underscore = last.find('_');
  if (underscore == std::string::npos) return "";
  return last.substr(underscore + 1);
}

std::string campaignIdFromCpId(const std::optional<std::string>& cpId) {
  return cpId ? lastIdPart(*cpId) : std::string();
}

bool isBackfilledTxId(std::string_view txId) {
  return txId.starts_with(OrvexConstants::backfillTxIdPrefix);
}

bool isInactiveUnit(std::string_view unitId) {
  return Orvex::shared().api().isSwitchedOff(unitId);
}

void refreshRemoteConfigIfStale() {
  Orvex::shared().config().fetchRemoteConfigIfStale();
}

void postToMain(Task task) {
  Orvex::shared().platform().dispatcher->mainQueue()->post(std::move(task));
}

}  // namespace orvex::ad_rules
