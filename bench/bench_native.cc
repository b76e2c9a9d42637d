// A native ad's load() to its onAdReceived over loopback against the local ad service, next to a
// bare libcurl POST of the same request in the same run. The unit carries HTML media, so the
// SDK's side includes the hop to the main thread, the web controller and its (scripted) page load
// on top of the exchange; the images are prefetched beside it, off the measured path.
#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <memory>

#include "bench/loopback_service.h"
#include "orvex/formats/inline/orvex_native_ad.h"
#include "orvex/server/documents.h"

#ifdef ORVEX_ADSERVER_FIXTURES

namespace {

using namespace orvex;

using bench_support::onMain;

void BM_NativeLoadVersusRawCurl(benchmark::State& state) {
  auto& lb = bench_support::loopback();
  if (!lb.ready) {
    state.SkipWithError("the local ad service or the SDK did not start");
    return;
  }
  bench_support::RawPost raw(
      lb, requestBody(requestAdDocument(bench_support::requestFacts("demo-native"))));

  // Both ends are stamped on the main thread, as a host sees them. A native ad serves one ad, so
  // each round makes a new one (on the main thread, outside the measured span).
  using Clock = std::chrono::steady_clock;
  double sdkSeconds = 0, rawSeconds = 0;
  for (auto _ : state) {
    std::promise<bool> received;
    auto answer = received.get_future();
    Clock::time_point loaded, heard;
    std::shared_ptr<OrvexNativeAd> ad;
    onMain([&] {
      ad = OrvexNativeAd::create("demo-native", "ctx");
      ad->onAdReceived = [&](OrvexNativeAd&) {
        heard = Clock::now();
        received.set_value(true);
      };
      ad->onAdFailedToReceive = [&](OrvexNativeAd&, OrvexErrorCode) { received.set_value(false); };
    });
    Orvex::shared().platform().dispatcher->mainQueue()->post([&] {
      loaded = Clock::now();
      ad->load();
    });
    if (!answer.get()) state.SkipWithError("the native ad's load failed");
    onMain([&] { ad.reset(); });
    auto t1 = Clock::now();
    if (!raw.perform()) state.SkipWithError("raw POST failed");
    auto t2 = Clock::now();
    const double sdk = std::chrono::duration<double>(heard - loaded).count();
    sdkSeconds += sdk;
    rawSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(sdk);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["raw_us"] = rawSeconds / n * 1e6;
  state.counters["sdk_us"] = sdkSeconds / n * 1e6;
  state.counters["overhead_us"] = (sdkSeconds - rawSeconds) / n * 1e6;
  state.counters["sdk_over_raw"] = rawSeconds > 0 ? sdkSeconds / rawSeconds : 0;
}
BENCHMARK(BM_NativeLoadVersusRawCurl)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

#endif  // ORVEX_ADSERVER_FIXTURES
