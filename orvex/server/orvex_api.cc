#include "orvex/server/orvex_api.h"

#include <atomic>

#include "orvex/core/device.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/seams.h"
#include "orvex/server/documents.h"

namespace orvex {
namespace {

// Hands the decoded member to `completion` on success and the error otherwise; `slot` is filled
// by the decoder, which runs just before on the same queue.
template <class T, class Completion>
OrvexConnector::Done deliver(std::shared_ptr<std::optional<T>> slot, Completion completion) {
  return [slot = std::move(slot),
          completion = std::move(completion)](std::optional<ServerError> error) {
    if (!completion) return;
    if (error) {
      completion(std::nullopt, std::move(error));
    } else {
      completion(std::move(*slot), std::nullopt);
    }
  };
}

}  // namespace

OrvexAPI::OrvexAPI(const OrvexPlatform& platform, OrvexConfig& config, Device& device)
    : OrvexConnector(platform, config), device_(device) {}

std::optional<NotActivated> OrvexAPI::gate(const std::string& unitId) const {
  Orvex& sdk = Orvex::shared();
  if (!sdk.initialized()) return NotActivated::notInitialized;
  if (!sdk.isTargetDevice()) return NotActivated::notTargetCountry;
  if (isSwitchedOff(unitId)) return NotActivated::notActive;
  return std::nullopt;
}

bool OrvexAPI::isSwitchedOff(std::string_view unitId) const {
  return Orvex::isProduction() && !config().active() &&
         unitId.find(OrvexConstants::testUnitMarker) == std::string_view::npos;
}

AdRequestFacts OrvexAPI::requestFacts(const std::string& unitId) const {
  AdRequestFacts facts;
  facts.uid = config().uid();
  facts.unitId = unitId;
  facts.locale = device_.locale;
  facts.timeZone = device_.timeZone;
  facts.platform = device_.platform;
  facts.osVersion = device_.osVersion;
  facts.deviceModel = device_.deviceModel;
  facts.deviceHeight = device_.deviceHeight;
  facts.deviceWidth = device_.deviceWidth;
  facts.appVersion = device_.appVersion;
  facts.adId = device_.adId;
  facts.portrait = seams::interfaceIsPortrait();
  facts.reqAt = unixMillis(platform().clock->now());
  facts.theme = config().requestTheme();
  return facts;
}

void OrvexAPI::requestAd(const std::string& unitId, const std::string& contextId,
                         AdCompletion completion) {
  if (auto refused = gate(unitId)) {
    completion(std::nullopt, ServerError::refused(*refused));
    return;
  }
  AdRequestFacts facts = requestFacts(unitId);
  facts.contextId = contextId;
  auto slot = std::make_shared<std::optional<AdRes>>();
  postWithFallback(
      requestAdDocument(facts), config().requestAdsURL(),
      [slot](const Value& data) -> std::optional<std::string> {
        std::string why;
        auto resp = decodeAdReqData(data, &why);
        if (!resp) return why;
        *slot = std::move(resp->data.requestAd);
        return std::nullopt;
      },
      deliver(slot, std::move(completion)));
}

void OrvexAPI::requestAds(const std::string& unitId, AdsCompletion completion) {
  if (auto refused = gate(unitId)) {
    completion(std::nullopt, ServerError::refused(*refused));
    return;
  }
  auto slot = std::make_shared<std::optional<std::vector<AdRes>>>();
  postWithFallback(
      requestAdsDocument(requestFacts(unitId)), config().requestAdsURL(),
      [slot](const Value& data) -> std::optional<std::string> {
        std::string why;
        auto resp = decodeAdReqsData(data, &why);
        if (!resp) return why;
        *slot = std::move(resp->data.requestAds);
        return std::nullopt;
      },
      deliver(slot, std::move(completion)));
}

void OrvexAPI::sendMetric(
    const std::string& key, const std::string& value,
    std::function<void(std::optional<ReportMetricRes>, std::optional<ServerError>)> completion) {
  MetricFacts facts;
  facts.uid = config().uid();
  facts.key = key;
  facts.value = value;
  facts.time = unixMillis(platform().clock->now());
  auto slot = std::make_shared<std::optional<ReportMetricRes>>();
  postWithFallback(
      invokeDocument(facts), config().eventsURL(),
      [slot](const Value& data) -> std::optional<std::string> {
        std::string why;
        auto resp = decodeReportMetricReqData(data, &why);
        if (!resp) return why;
        *slot = std::move(resp->data.invoke);
        return std::nullopt;
      },
      deliver(slot, std::move(completion)));
}

void OrvexAPI::reportMetric(OrvexMetricCode code, const std::optional<std::string>& txId,
                            const std::optional<std::string>& unitId) {
  Orvex& sdk = Orvex::shared();
  if (!sdk.initialized() || !sdk.isTargetDevice()) return;
  std::string value = txId.value_or("");
  if (unitId) value = txId ? value + "@" + *unitId : *unitId;

  // Whichever comes first, the answer or the platform's expiry, ends the task; the other finds
  // it already ended.
  AppLifecycle& lifecycle = *platform().lifecycle;
  auto task = std::make_shared<std::atomic<BackgroundTaskId>>(kInvalidBackgroundTask);
  auto end = [task, &lifecycle] {
    BackgroundTaskId id = task->exchange(kInvalidBackgroundTask);
    if (id != kInvalidBackgroundTask) lifecycle.endBackgroundTask(id);
  };
  task->store(lifecycle.beginBackgroundTask("reportMetric", end));
  sendMetric(keyString(code), value,
             [end](std::optional<ReportMetricRes>, std::optional<ServerError>) { end(); });
}

void OrvexAPI::invoke(const std::string& key, const std::optional<std::string>& value,
                      InvokeCompletion completion, std::function<void()> refused) {
  Orvex& sdk = Orvex::shared();
  if (!sdk.initialized() || !sdk.isTargetDevice()) {
    if (refused) refused();
    return;
  }
  sendMetric(key, value.value_or(""), std::move(completion));
}

}  // namespace orvex
