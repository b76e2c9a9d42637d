// A popup of three creatives on the headless port in real time against the local ad service over
// loopback: load() until onAdReceived (the list request, the answer, three pages loading off
// screen, the first one's load probe answered). Both ends are stamped on the main thread.
#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <memory>

#include "bench/loopback_service.h"
#include "orvex/formats/popup/orvex_popup_ad.h"

#ifdef ORVEX_ADSERVER_FIXTURES

namespace {

using namespace orvex;
using Clock = std::chrono::steady_clock;
using bench_support::onMain;

void BM_PopupLoadToReceivedHeadless(benchmark::State& state) {
  if (!bench_support::loopback().ready) return state.SkipWithError("the local ad service or SDK");
  for (auto _ : state) {
    std::promise<bool> received;
    auto outcome = received.get_future();
    Clock::time_point loadAt, receivedAt;
    std::shared_ptr<OrvexPopupAd> popup;
    onMain([&] {
      popup = OrvexPopupAd::create("demo-popup");
      popup->onAdReceived = [&](OrvexPopupAd& p) {
        receivedAt = Clock::now();
        received.set_value(p.txIds().size() == 3);
      };
      popup->onAdFailedToReceive = [&](OrvexPopupAd&, OrvexErrorCode) {
        received.set_value(false);
      };
      loadAt = Clock::now();
      popup->load();
    });
    const bool ok = outcome.get();
    onMain([&] { popup.reset(); });
    if (!ok) return state.SkipWithError("the popup's three pages were not received");
    state.SetIterationTime(std::chrono::duration<double>(receivedAt - loadAt).count());
  }
}
BENCHMARK(BM_PopupLoadToReceivedHeadless)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(50);

}  // namespace

#endif  // ORVEX_ADSERVER_FIXTURES
