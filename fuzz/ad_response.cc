// Ad service answers as they arrive: the body of every attempt (retries and the fallback
// endpoint included) of requestAd, requestAds, invoke or remote configuration, through the
// connector's validation into the decoders. A decoded ad must survive the JSON round trip the
// splash cache puts it through.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"
#include "orvex/core/json.h"
#include "orvex/core/orvex_config.h"
#include "orvex/server/orvex_api.h"

namespace {

using orvex::AdRes;

void requireRoundTrip(const AdRes& ad) {
  const std::string text = orvex::json::write(orvex::encodeAdRes(ad));
  auto value = orvex::json::parse(text);
  auto again = value ? orvex::decodeAdRes(*value) : std::nullopt;
  orvex::fuzzing::require(again && *again == ad, "an ad reads back as it was written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orvex::fuzzing::FuzzSdk fuzz(256, [](auto& sdk) {
    orvex::Orvex::initialize(false, false);
    sdk.advance(10);
  });
  if (size == 0) return 0;
  auto& sdk = fuzz.next();
  fuzz.answer(200, std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  auto done = std::make_shared<bool>(false);
  auto& api = orvex::Orvex::shared().api();
  switch (data[0] % 4) {
    case 0:
      api.requestAd("unit", "context", [done](std::optional<AdRes> ad, auto) {
        if (ad) requireRoundTrip(*ad);
        *done = true;
      });
      break;
    case 1:
      api.requestAds("unit", [done](std::optional<std::vector<AdRes>> ads, auto) {
        for (const auto& ad : ads.value_or(std::vector<AdRes>{})) requireRoundTrip(ad);
        *done = true;
      });
      break;
    case 2:
      api.invoke("key", "value", [done](auto, auto) { *done = true; });
      break;
    default:
      // Completes only on failure; a success has run its course when time has.
      orvex::Orvex::shared().config().fetchRemoteConfig([done](auto) { *done = true; });
      break;
  }
  sdk.port().runUntil([done] { return *done; }, 10);
  return 0;
}
