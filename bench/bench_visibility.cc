// Visibility sampling as the trackers meet it: one view deep in a host's hierarchy, and a screen
// full of tracked views sampled on one tick. Items are views sampled: read ns per view.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "orvex/measurement/video_visibility_tracker.h"
#include "orvex/measurement/visibility_tracker.h"
#include "ports/headless/headless_user_interface.h"

namespace {

using namespace orvex;
using orvex::headless::HeadlessUserInterface;

struct Screen {
  Screen() : ui(HeadlessUserInterface::create(nullptr)) {
    window = ui->makeKeyWindowWithRootController();
  }
  // A chain of `depth` nested views under the root view; returns the innermost.
  std::shared_ptr<View> chain(int depth, double y) {
    std::shared_ptr<View> parent = window->rootViewController()->view();
    for (int i = 0; i < depth; ++i) {
      auto v = ui->makeView();
      parent->addSubview(v);
      v->setFrame(i == 0 ? Rect(0, y, 390, 100) : Rect(1, 1, 380, 90));
      parent = v;
    }
    return parent;
  }
  std::shared_ptr<HeadlessUserInterface> ui;
  std::shared_ptr<Window> window;
};

void BM_OnScreenTest20Deep(benchmark::State& state) {
  Screen s;
  auto view = s.chain(20, 100);
  for (auto _ : state) benchmark::DoNotOptimize(VisibilityTracker::isViewOnScreen(*view));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OnScreenTest20Deep);

void BM_VisibleFraction20Deep(benchmark::State& state) {
  Screen s;
  auto view = s.chain(20, 100);
  for (auto _ : state) benchmark::DoNotOptimize(visibleFraction(*view));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VisibleFraction20Deep);

// 1,000 ads in a feed (each in its own cell), every tracker sampling once.
void BM_ThousandTrackersOneTick(benchmark::State& state) {
  Screen s;
  std::vector<std::shared_ptr<View>> views;
  std::vector<std::shared_ptr<VisibilityTracker>> trackers;
  for (int i = 0; i < 1000; ++i) {
    views.push_back(s.chain(3, (i % 8) * 100.0));
    auto t = VisibilityTracker::create(nullptr);
    t->setView(views.back());
    trackers.push_back(t);
  }
  for (auto _ : state) {
    for (auto& t : trackers) t->checkVisibility();
    // Keep the count below the impression so every tick samples the same way.
    state.PauseTiming();
    for (auto& t : trackers) t->cancel();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ThousandTrackersOneTick);

}  // namespace
