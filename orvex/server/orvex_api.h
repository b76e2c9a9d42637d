#pragma once
// The SDK's operations on the ad service: ad requests, remote configuration and events. One
// instance, owned by the shared Orvex object; completions run on the request queue.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/server/ad_response.h"
#include "orvex/server/orvex_connector.h"

namespace orvex {

class Device;
struct AdRequestFacts;

class ORVEX_API OrvexAPI : public OrvexConnector {
 public:
  using AdCompletion = std::function<void(std::optional<AdRes>, std::optional<ServerError>)>;
  using AdsCompletion =
      std::function<void(std::optional<std::vector<AdRes>>, std::optional<ServerError>)>;
  using InvokeCompletion =
      std::function<void(std::optional<ReportMetricRes>, std::optional<ServerError>)>;

  OrvexAPI(const OrvexPlatform& platform, OrvexConfig& config, Device& device);

  // Refused before anything is sent when the SDK is not initialized, not in a target country,
  // or (in production, for units that are not test units) switched off by the service. Build
  // the request on the main thread: it reads the screen's orientation and style.
  void requestAd(const std::string& unitId, const std::string& contextId, AdCompletion completion);
  void requestAds(const std::string& unitId, AdsCompletion completion);
  // Fire and forget, inside a background task; nothing before initialize.
  void reportMetric(OrvexMetricCode code, const std::optional<std::string>& txId,
                    const std::optional<std::string>& unitId);
  // Sends a free key and value. When the SDK may not send, `refused` runs instead of the
  // completion (the caller drops what it kept for this request).
  void invoke(const std::string& key, const std::optional<std::string>& value,
              InvokeCompletion completion, std::function<void()> refused = {});

  // The gate's verdict for `unitId`; nothing when the request may go out.
  std::optional<NotActivated> gate(const std::string& unitId) const;
  // In production, the service's switch-off spares only test units.
  bool isSwitchedOff(std::string_view unitId) const;

 private:
  AdRequestFacts requestFacts(const std::string& unitId) const;
  void sendMetric(
      const std::string& key, const std::string& value,
      std::function<void(std::optional<ReportMetricRes>, std::optional<ServerError>)> completion);
  Device& device_;
};

}  // namespace orvex
