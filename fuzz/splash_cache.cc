// A unit's splash record as the store holds it (the bytes a previous start wrote from the
// service's ads): staleness, selection, the image fetch and the rewrite. A record that decoded
// is written back in a form that decodes again.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"
#include "orvex/formats/fullscreen/orvex_splash_ad_cache.h"

using orvex::OrvexSplashAdCache;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orvex::fuzzing::FuzzSdk fuzz(256);
  if (size == 0) return 0;
  auto& sdk = fuzz.next();
  const std::string unit = data[0] % 2 ? "splash" : "splash_PUBLIC_TEST_UNIT_ID";
  auto suite = sdk.port().platform.store->suite(OrvexSplashAdCache::kModuleName);
  suite->set(unit, orvex::Value(orvex::Bytes(data + 1, data + size)));
  auto cache = OrvexSplashAdCache::create(unit);
  cache->isStale();
  cache->loadStoredAd();
  sdk.advance(0.1);
  if (!sdk.loggedStartingWith("Orvex::OrvexSplashAdCache Failed to decode object")) {
    orvex::fuzzing::require(!OrvexSplashAdCache::create(unit)->isStale(),
                            "a rewritten record decodes and is fresh");
  }
  return 0;
}
