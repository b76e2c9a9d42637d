// A splash start with a warm cache on the headless port in real time: from the launch screen's
// creation (the host's first act at start) to the ad image shown in it, stamped on the main
// thread. The stored list and its image file are there, so no request is waited for: this is what
// every start pays, on the main thread and off it (the image is read and decoded on a global
// queue). The local ad service only answers the background refresh.
#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

#include "bench/loopback_service.h"
#include "orvex/core/file_downloader.h"
#include "orvex/formats/fullscreen/orvex_splash_ad_view_controller.h"
#include "ports/headless/headless_user_interface.h"

#ifdef ORVEX_ADSERVER_FIXTURES

namespace {

using namespace orvex;
using Clock = std::chrono::steady_clock;
using bench_support::onMain;

constexpr const char* kUnit = "demo-splash";

// The service's list for the unit, its images on disk.
std::vector<AdRes> storedList() {
  static std::vector<AdRes> ads = [] {
    std::promise<std::vector<AdRes>> got;
    Orvex::shared().api().requestAds(
        kUnit, [&got](auto list, auto) { got.set_value(list.value_or(std::vector<AdRes>{})); });
    auto list = got.get_future().get();
    for (const auto& ad : list) {
      std::promise<void> done;
      FileDownloader::shared()->download(*ad.creative, "ad", [&done](auto) { done.set_value(); });
      done.get_future().wait();
    }
    return list;
  }();
  return ads;
}

void BM_SplashCreatedToImageShownWarmCacheHeadless(benchmark::State& state) {
  if (!bench_support::loopback().ready) return state.SkipWithError("the local ad service or SDK");
  const auto ads = storedList();
  if (ads.empty()) return state.SkipWithError("no splash ads for the unit");
  std::shared_ptr<Window> window;
  std::shared_ptr<ViewController> home;
  onMain([&] {
    window = bench_support::loopback().port->ui->makeKeyWindowWithRootController();
    home = window->rootViewController();
  });
  double onMainThread = 0;  // the part the host's start waits for: creation and setting the root
  for (auto _ : state) {
    std::promise<bool> shown;
    Clock::time_point createdAt, shownAt, rootSetAt;
    std::shared_ptr<OrvexSplashAdViewController> splash;
    onMain([&] {
      OrvexSplashAdCache::create(kUnit)->saveAds(ads);  // as an earlier start left it
      createdAt = Clock::now();
      splash = OrvexSplashAdViewController::create(kUnit, 1.0);
      // Called right after the image went into the launch screen, in the same main-queue turn.
      splash->splashAd()->onAdReceived = [&](OrvexSplashAd&) {
        shownAt = Clock::now();
        shown.set_value(splash->adImageView()->image().has_value());
      };
      splash->splashAd()->onAdFailedToReceive = [&](OrvexSplashAd&, OrvexErrorCode) {
        shown.set_value(false);
      };
      splash->setMainViewController(home);
      window->setRootViewController(splash->viewController());
      rootSetAt = Clock::now();
    });
    onMainThread += std::chrono::duration<double, std::micro>(rootSetAt - createdAt).count();
    if (!shown.get_future().get()) return state.SkipWithError("no image shown from the cache");
    state.SetIterationTime(std::chrono::duration<double>(shownAt - createdAt).count());
    onMain([&] {
      window->setRootViewController(home);
      splash.reset();
    });
  }
  state.counters["main_thread_us"] = onMainThread / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SplashCreatedToImageShownWarmCacheHeadless)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200);

}  // namespace

#endif  // ORVEX_ADSERVER_FIXTURES
