// A banner's load() to its onAdReceived over loopback against the local ad service, next to a
// bare libcurl POST of the same request in the same run: what the SDK adds on top of the
// exchange itself (document, queues, decoding, the hop to the main thread, the page hand-off).
#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <memory>

#include "bench/loopback_service.h"
#include "orvex/formats/inline/orvex_banner.h"
#include "orvex/server/documents.h"

#ifdef ORVEX_ADSERVER_FIXTURES

namespace {

using namespace orvex;

using bench_support::onMain;

void BM_BannerLoadVersusRawCurl(benchmark::State& state) {
  auto& lb = bench_support::loopback();
  if (!lb.ready) {
    state.SkipWithError("the local ad service or the SDK did not start");
    return;
  }
  bench_support::RawPost raw(
      lb, requestBody(requestAdDocument(bench_support::requestFacts("demo-banner"))));

  // Both ends are stamped on the main thread, as a host sees them: the hops between this thread
  // and the main one are the harness's, not the SDK's.
  using Clock = std::chrono::steady_clock;
  struct Round {
    std::promise<bool> received;
    Clock::time_point loaded, heard;
  };
  std::shared_ptr<OrvexBanner> banner;
  Round* round = nullptr;  // touched on the main thread only while a round runs
  onMain([&] {
    banner = OrvexBanner::create("demo-banner", "ctx");
    banner->onAdReceived = [&](OrvexBanner&) {
      round->heard = Clock::now();
      round->received.set_value(true);
    };
    banner->onAdFailedToReceive = [&](OrvexBanner&, OrvexErrorCode) {
      round->received.set_value(false);
    };
  });

  double sdkSeconds = 0, rawSeconds = 0;
  for (auto _ : state) {
    Round current;
    auto answer = current.received.get_future();
    Orvex::shared().platform().dispatcher->mainQueue()->post([&] {
      round = &current;
      current.loaded = Clock::now();
      banner->load();
    });
    if (!answer.get()) state.SkipWithError("the banner's load failed");
    auto t1 = Clock::now();
    if (!raw.perform()) state.SkipWithError("raw POST failed");
    auto t2 = Clock::now();
    const double sdk = std::chrono::duration<double>(current.heard - current.loaded).count();
    sdkSeconds += sdk;
    rawSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(sdk);
  }
  onMain([&] { banner.reset(); });
  const double n = static_cast<double>(state.iterations());
  state.counters["raw_us"] = rawSeconds / n * 1e6;
  state.counters["sdk_us"] = sdkSeconds / n * 1e6;
  state.counters["overhead_us"] = (sdkSeconds - rawSeconds) / n * 1e6;
  state.counters["sdk_over_raw"] = rawSeconds > 0 ? sdkSeconds / rawSeconds : 0;
}
BENCHMARK(BM_BannerLoadVersusRawCurl)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

#endif  // ORVEX_ADSERVER_FIXTURES
