// An interstitial on the desktop port against the local ad service over loopback: load() until
// onAdReceived (the request, then WebKit loading the page off screen in a web process of its
// own) and show() until onAdDidPresentFullScreen (the screen put over the window's content,
// animated); a popup of three creatives from load() until onAdReceived (the list request, then
// WebKit loading the three pages off screen and the first one's images checked). Runs under Xvfb
// where there is no display.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "orvex/core/orvex_config.h"
#include "orvex/formats/fullscreen/orvex_interstitial_ad.h"
#include "orvex/formats/popup/orvex_popup_ad.h"
#include "ports/gtk/gtk_port.h"
#include "tests/support/test_sdk.h"
#include "tools/adserver/ad_server.h"

namespace {

using namespace orvex;
using Clock = std::chrono::steady_clock;

struct Desktop {
  testing_support::TempDir dir;
  std::unique_ptr<adserver::AdServer> server;
  std::unique_ptr<gtk::GtkPort> port;
  std::shared_ptr<Window> window;
  bool ready = false;
};

Desktop& desktop() {
  static Desktop* d = [] {
    auto* d = new Desktop;  // lives as long as the SDK it set up
    adserver::Options so;
    so.fixtures = ORVEX_ADSERVER_FIXTURES;
    so.appKeys = {testing_support::kTestAppKey};
    d->server = std::make_unique<adserver::AdServer>(so);
    if (!d->server->start() || !gtk_init_check()) return d;
    std::filesystem::create_directories(d->dir.path() / "bundle");
    std::ofstream(d->dir.path() / "bundle" / "orvex_service.json")
        << "{\"app_key\": \"" << testing_support::kTestAppKey << "\"}";
    gtk::GtkOptions o;
    o.dataDirectory = d->dir.path();
    o.bundle.resourceDirectory = d->dir.path() / "bundle";
    o.deployment.adServerBase = o.deployment.apiServerBase = d->server->baseUrl();
    o.openExternalLinks = false;
    d->port = std::make_unique<gtk::GtkPort>(gtk::makeGtkPort(o));
    OrvexTestAccess::reset(d->port->platform);
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 390, 844);
    gtk_window_set_child(GTK_WINDOW(window), gtk_label_new("the host's screen"));
    d->window = d->port->adoptWindow(GTK_WINDOW(window));
    gtk_window_present(GTK_WINDOW(window));
    Orvex::initialize(false, false);
    d->ready = d->port->runUntil([] { return Orvex::shared().config().lastConfigAt() > 0; }, 10);
    return d;
  }();
  return *d;
}

struct Times {
  double load = 0, show = 0;
  bool ok = false;
};

// One interstitial loaded, shown and closed again (so that the root is free for the next).
Times oneAd(Desktop& d) {
  bool received = false, failed = false, presented = false, dismissed = false;
  Clock::time_point receivedAt, presentedAt;
  auto ad = OrvexInterstitialAd::create("demo-interstitial");
  ad->onAdReceived = [&](OrvexInterstitialAd&) {
    receivedAt = Clock::now();
    received = true;
  };
  ad->onAdFailedToReceive = [&](OrvexInterstitialAd&, OrvexErrorCode) { failed = true; };
  ad->onAdDidPresentFullScreen = [&](OrvexInterstitialAd&) {
    presentedAt = Clock::now();
    presented = true;
  };
  ad->onAdDidDismissFullScreen = [&](OrvexInterstitialAd&) { dismissed = true; };
  Times t;
  const auto loadAt = Clock::now();
  ad->load();
  if (!d.port->runUntil([&] { return received || failed; }, 15) || failed) return t;
  const auto showAt = Clock::now();
  ad->show(d.window->rootViewController());
  if (!d.port->runUntil([&] { return presented; }, 5)) return t;
  ad->screen()->close();
  t.ok = d.port->runUntil([&] { return dismissed; }, 5);
  t.load = std::chrono::duration<double>(receivedAt - loadAt).count();
  t.show = std::chrono::duration<double>(presentedAt - showAt).count();
  return t;
}

void run(benchmark::State& state, double Times::*measure) {
  auto& d = desktop();
  if (!d.ready) return state.SkipWithError("no display or no local ad service");
  for (auto _ : state) {
    const Times t = oneAd(d);
    if (!t.ok) return state.SkipWithError("the interstitial was not received or shown");
    state.SetIterationTime(t.*measure);
  }
}

void BM_InterstitialLoadToReceivedWebKit(benchmark::State& state) {
  run(state, &Times::load);
}
void BM_InterstitialShowToPresentedWebKit(benchmark::State& state) {
  run(state, &Times::show);
}
BENCHMARK(BM_InterstitialLoadToReceivedWebKit)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(BM_InterstitialShowToPresentedWebKit)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void BM_PopupLoadToReceivedWebKit(benchmark::State& state) {
  auto& d = desktop();
  if (!d.ready) return state.SkipWithError("no display or no local ad service");
  for (auto _ : state) {
    bool received = false, failed = false;
    Clock::time_point receivedAt;
    auto popup = OrvexPopupAd::create("demo-popup");
    popup->onAdReceived = [&](OrvexPopupAd& p) {
      receivedAt = Clock::now();
      received = p.txIds().size() == 3;
      failed = !received;
    };
    popup->onAdFailedToReceive = [&](OrvexPopupAd&, OrvexErrorCode) { failed = true; };
    const auto loadAt = Clock::now();
    popup->load();
    if (!d.port->runUntil([&] { return received || failed; }, 15) || failed)
      return state.SkipWithError("the popup's three pages were not received");
    state.SetIterationTime(std::chrono::duration<double>(receivedAt - loadAt).count());
    popup.reset();
    d.port->runFor(0.1);  // the pages go
  }
}
BENCHMARK(BM_PopupLoadToReceivedWebKit)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace
