#include "tests/support/test_backfill.h"

#include "orvex/core/codes.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_internal.h"

namespace orvex::testing_support {
namespace {

void activate() {
  OrvexInternal::Loaders::setBanner([](std::shared_ptr<OrvexBanner>,
                                       std::shared_ptr<ViewController>,
                                       OrvexInternal::AdCompletion completion) {
    std::string unit =
        OrvexInternal::externalAdUnitId("test", kTestBackfillUnit).value_or(kTestBackfillUnit);
    OrvexInternal::requestAd(
        unit, "", [completion](std::optional<AdRes> ad, std::optional<ServerError> error) {
          if (ad) {
            ad->id = std::string(OrvexConstants::backfillTxIdPrefix) + ad->id;
            OrvexInternal::reportMetric(OrvexMetricCode::adImpr, ad->id, kTestBackfillUnit);
          }
          completion(std::move(ad), std::move(error));
        });
  });
}

}  // namespace

void registerTestBackfillModule() {
  BackfillModuleRegistry::add("OrvexBackfill", &activate);
}

}  // namespace orvex::testing_support
