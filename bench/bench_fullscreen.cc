// An interstitial on the headless port in real time against the local ad service over loopback:
// load() until onAdReceived (the request, the answer, the page loaded off screen) and show() until
// onAdDidPresentFullScreen (the presentation, animated as the ad asks: the port's transition
// takes 0.3 s). Both ends are stamped on the main thread, as a host sees them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <memory>

#include "bench/loopback_service.h"
#include "orvex/formats/fullscreen/orvex_interstitial_ad.h"
#include "ports/headless/headless_user_interface.h"

#ifdef ORVEX_ADSERVER_FIXTURES

namespace {

using namespace orvex;
using Clock = std::chrono::steady_clock;

using bench_support::onMain;

std::shared_ptr<ViewController> root() {
  static std::shared_ptr<Window> window;
  if (!window) {
    onMain([] { window = bench_support::loopback().port->ui->makeKeyWindowWithRootController(); });
  }
  return window->rootViewController();
}

struct Times {
  double load = 0, show = 0;
  bool ok = false;
};

// One interstitial loaded, shown and closed again (so that the root is free for the next).
Times oneAd() {
  struct Stamps {
    std::promise<bool> received, presented, dismissed;
    Clock::time_point loadAt, receivedAt, showAt, presentedAt;
  } s;
  std::shared_ptr<OrvexInterstitialAd> ad;
  auto received = s.received.get_future(), presented = s.presented.get_future(),
       dismissed = s.dismissed.get_future();
  onMain([&] {
    ad = OrvexInterstitialAd::create("demo-interstitial");
    ad->onAdReceived = [&s](OrvexInterstitialAd&) {
      s.receivedAt = Clock::now();
      s.received.set_value(true);
    };
    ad->onAdFailedToReceive = [&s](OrvexInterstitialAd&, OrvexErrorCode) {
      s.received.set_value(false);
    };
    ad->onAdDidPresentFullScreen = [&s](OrvexInterstitialAd&) {
      s.presentedAt = Clock::now();
      s.presented.set_value(true);
    };
    ad->onAdDidDismissFullScreen = [&s](OrvexInterstitialAd&) { s.dismissed.set_value(true); };
    s.loadAt = Clock::now();
    ad->load();
  });
  Times t;
  if (received.get()) {
    const auto from = root();
    onMain([&] {
      s.showAt = Clock::now();
      ad->show(from);
    });
    presented.get();
    onMain([&] { ad->screen()->close(); });
    dismissed.get();
    t.ok = true;
    t.load = std::chrono::duration<double>(s.receivedAt - s.loadAt).count();
    t.show = std::chrono::duration<double>(s.presentedAt - s.showAt).count();
  }
  onMain([&] { ad.reset(); });
  return t;
}

void run(benchmark::State& state, double Times::*measure) {
  if (!bench_support::loopback().ready) return state.SkipWithError("the local ad service or SDK");
  for (auto _ : state) {
    const Times t = oneAd();
    if (!t.ok) return state.SkipWithError("the interstitial was not received");
    state.SetIterationTime(t.*measure);
  }
}

void BM_InterstitialLoadToReceivedHeadless(benchmark::State& state) {
  run(state, &Times::load);
}
void BM_InterstitialShowToPresentedHeadless(benchmark::State& state) {
  run(state, &Times::show);
}
BENCHMARK(BM_InterstitialLoadToReceivedHeadless)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(50);
BENCHMARK(BM_InterstitialShowToPresentedHeadless)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace

#endif  // ORVEX_ADSERVER_FIXTURES
