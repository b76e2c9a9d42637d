// The desktop port: a banner's load() until its page has finished loading in WebKit (the first,
// which starts a web process, and later ones), beside the headless port's scripted page and a
// bare WebKit view loading the same document; the memory a feed of live banners costs over every
// process; the host's main loop while banners load and go, beside bare views doing the same; and
// the quest screen's presentation until its page finished.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "orvex/core/orvex_config.h"
#include "orvex/formats/inline/orvex_banner.h"
#include "orvex/web/quest_web_view_controller.h"
#include "ports/gtk/gtk_main_loop.h"
#include "ports/gtk/gtk_port.h"
#include "ports/gtk/gtk_user_interface.h"
#include "ports/gtk/gtk_web_view.h"
#include "ports/headless/headless_port.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "tests/support/test_sdk.h"
#include "tools/adserver/ad_server.h"

namespace {

using namespace orvex;
using Clock = std::chrono::steady_clock;

struct Service {
  Service() {
    adserver::Options o;
    o.fixtures = ORVEX_ADSERVER_FIXTURES;
    o.appKeys = {testing_support::kTestAppKey};
    server = std::make_unique<adserver::AdServer>(o);
    ready = server->start();
    std::filesystem::create_directories(dir.path() / "bundle");
    std::ofstream(dir.path() / "bundle" / "orvex_service.json")
        << "{\"app_key\": \"" << testing_support::kTestAppKey << "\"}";
  }
  template <typename Options>
  void fill(Options& o) const {
    o.dataDirectory = dir.path();
    o.bundle.resourceDirectory = dir.path() / "bundle";
    o.deployment.adServerBase = o.deployment.apiServerBase = server->baseUrl();
    o.deployment.playerScriptCdnBase = server->baseUrl() + "/cdn/player@";
    o.deployment.questScheme = "http";
    o.deployment.questHost = "127.0.0.1:" + std::to_string(server->port());
    o.deployment.questDomains = {"127.0.0.1"};
  }
  testing_support::TempDir dir;
  std::unique_ptr<adserver::AdServer> server;
  bool ready = false;
};

Service& service() {
  static Service s;
  return s;
}

bool initialized(const std::function<bool(const std::function<bool()>&, double)>& runUntil) {
  Orvex::initialize(false, false);
  return runUntil([] { return Orvex::shared().config().lastConfigAt() > 0; }, 10);
}

// What this process and every process under it cost: WebKit's web and network processes run
// under two sandbox processes each, so the whole tree of descendants is walked.
struct Footprint {
  long pssKb = 0;
  long hostPssKb = 0;
  int webProcesses = 0;
};

long pssKb(long pid) {
  std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string line;
  while (std::getline(rollup, line)) {
    if (line.rfind("Pss:", 0) == 0) return std::stol(line.substr(4));
  }
  return 0;
}

Footprint footprint() {
  std::vector<std::pair<long, long>> parents;  // pid, parent
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    char state = 0;
    long parent = 0;
    if (close != std::string::npos &&
        std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &parent) == 2) {
      parents.emplace_back(std::stol(name), parent);
    }
  }
  std::vector<long> family{getpid()};
  for (std::size_t i = 0; i < family.size(); ++i) {
    for (const auto& [pid, parent] : parents) {
      if (parent == family[i]) family.push_back(pid);
    }
  }
  Footprint f;
  for (long pid : family) {
    f.pssKb += pssKb(pid);
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string command;
    std::getline(comm, command);
    if (command.rfind("WebKitWebProces", 0) == 0) ++f.webProcesses;
  }
  f.hostPssKb = pssKb(getpid());
  return f;
}

double milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void BM_PageFinishedHeadless(benchmark::State& state) {
  auto& s = service();
  if (!s.ready) return state.SkipWithError("no local ad service");
  headless::HeadlessOptions o;
  s.fill(o);
  o.time = headless::TimeMode::real;
  auto port = headless::makeHeadlessPort(o);
  OrvexTestAccess::reset(port.platform);
  auto run = [&](const std::function<bool()>& done, double t) { return port.runUntil(done, t); };
  if (!initialized(run)) return state.SkipWithError("no remote configuration");
  auto window = port.ui->makeKeyWindowWithRootController();
  for (auto _ : state) {
    auto banner = OrvexBanner::create("demo-banner", "bench");
    window->rootViewController()->view()->addSubview(banner->view());
    banner->view()->setFrame(Rect(35, 100, 320, 50));
    const auto start = Clock::now();
    banner->load();
    const bool done = port.runUntil(
        [&] { return port.webViews->last() && port.webViews->last()->finishCount() > 0; }, 10);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (!done) state.SkipWithError("the page never finished");
  }
}
BENCHMARK(BM_PageFinishedHeadless)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

struct Desktop {
  std::unique_ptr<gtk::GtkPort> port;
  GtkWidget* window = nullptr;
  GtkWidget* box = nullptr;
  std::shared_ptr<Window> adopted;
  bool ready = false;
};

Desktop& desktop() {
  static Desktop d = [] {
    Desktop d;
    auto& s = service();
    if (!s.ready || !gtk_init_check()) return d;
    gtk::GtkOptions o;
    s.fill(o);
    o.openExternalLinks = false;
    d.port = std::make_unique<gtk::GtkPort>(gtk::makeGtkPort(o));
    OrvexTestAccess::reset(d.port->platform);
    auto run = [&](const std::function<bool()>& done, double t) {
      return d.port->runUntil(done, t);
    };
    d.window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(d.window), 390, 844);
    d.box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_window_set_child(GTK_WINDOW(d.window), d.box);
    d.adopted = d.port->adoptWindow(GTK_WINDOW(d.window));
    gtk_window_present(GTK_WINDOW(d.window));
    d.ready = initialized(run);
    return d;
  }();
  return d;
}

// Waits for `page` to finish its load; `seconds` from `start` to the engine's load-finished.
bool waitForFinish(Desktop& d, gtk::GtkWebView& page, Clock::time_point start, double* seconds) {
  struct Stamp {
    bool finished = false;
    Clock::time_point end;
  } stamp;
  const gulong id =
      g_signal_connect(page.engineView(), "load-changed",
                       G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                         auto* s = static_cast<Stamp*>(data);
                         if (event != WEBKIT_LOAD_FINISHED || s->finished) return;
                         s->finished = true;
                         s->end = Clock::now();
                       }),
                       &stamp);
  const bool done = d.port->runUntil([&] { return stamp.finished || !page.isLoading(); }, 10);
  if (!stamp.finished) stamp.end = Clock::now();  // finished before the stamp was connected
  g_signal_handler_disconnect(page.engineView(), id);
  *seconds = std::chrono::duration<double>(stamp.end - start).count();
  return done;
}

// Loads a banner into the desktop window and waits for WebKit to finish its page.
std::shared_ptr<OrvexBanner> loadInWindow(Desktop& d, double* seconds) {
  auto banner = OrvexBanner::create("demo-banner", "bench");
  banner->view()->setFrame(Rect(0, 0, 320, 50));
  gtk_box_append(GTK_BOX(d.box), gtk::widgetOf(*banner->view()));
  bool received = false;
  banner->onAdReceived = [&](OrvexBanner&) { received = true; };
  const auto start = Clock::now();
  banner->load();
  if (!d.port->runUntil([&] { return received; }, 10)) return nullptr;
  auto page = std::dynamic_pointer_cast<gtk::GtkWebView>(d.port->ui->webViews().back());
  if (!page || !waitForFinish(d, *page, start, seconds)) return nullptr;
  return banner;
}

// A bare engine view loading the same document as the banners, in the same process
// arrangement as ad pages (related to a live view, no GPU compositing), so the ratio of the two
// is the SDK's own share.
struct Bare {
  WebKitWebView* view = nullptr;
  bool finished = false;
  Clock::time_point end;
};

// A bare view related to `related` (a process of its own when null), in the window's box.
std::unique_ptr<Bare> makeBare(Desktop& d, WebKitWebView* related) {
  auto bare = std::make_unique<Bare>();
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  bare->view =
      WEBKIT_WEB_VIEW(related ? g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related,
                                             "settings", settings, nullptr)
                              : g_object_new(WEBKIT_TYPE_WEB_VIEW, "settings", settings, nullptr));
  g_object_unref(settings);
  gtk_widget_set_size_request(GTK_WIDGET(bare->view), 320, 50);
  gtk_box_append(GTK_BOX(d.box), GTK_WIDGET(bare->view));
  g_signal_connect(bare->view, "load-changed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                     auto* b = static_cast<Bare*>(data);
                     if (event != WEBKIT_LOAD_FINISHED) return;
                     b->finished = true;
                     b->end = Clock::now();
                   }),
                   bare.get());
  return bare;
}

void loadBare(Bare& bare, const std::string& document) {
  bare.finished = false;
  webkit_web_view_load_html(bare.view, document.c_str(), nullptr);
}

void releaseBare(Desktop& d, std::unique_ptr<Bare> bare) {
  g_signal_handlers_disconnect_by_data(bare->view, bare.get());
  gtk_box_remove(GTK_BOX(d.box), GTK_WIDGET(bare->view));
}

// The banners' document, and a live bare view the later bare views share a process with.
struct BareSetUp {
  std::string document;
  std::unique_ptr<Bare> anchor;
};

BareSetUp& bareSetUp() {
  static BareSetUp b;
  return b;
}

// A feed of live banners: the first banner (a web process starts), every later one, and what
// each costs in memory over every process, two whole process groups past the first banner.
void BM_LiveBanners(benchmark::State& state) {
  auto& d = desktop();
  if (!d.ready) return state.SkipWithError("no display or no local ad service");
  const std::size_t perProcess = gtk::GtkOptions{}.adPagesPerWebProcess;
  for (auto _ : state) {
    d.port->runFor(0.5);
    const Footprint before = footprint();
    std::vector<std::shared_ptr<OrvexBanner>> live;
    std::vector<double> later;
    double first = 0;
    Footprint one;
    while (live.size() < 2 * perProcess + 1) {
      double seconds = 0;
      auto banner = loadInWindow(d, &seconds);
      if (!banner) return state.SkipWithError("a page never finished");
      if (live.empty()) {
        first = seconds;
        bareSetUp().document = banner->creative().value_or("");
        d.port->runFor(1.0);
        one = footprint();
      } else {
        later.push_back(seconds);
      }
      live.push_back(std::move(banner));
    }
    d.port->runFor(1.0);
    const Footprint all = footprint();
    state.SetIterationTime(first);
    const double extra = static_cast<double>(live.size() - 1);
    state.counters["first_ms"] = first * 1e3;
    // Banners that opened a new process group (the first of each group after the first).
    double newGroupMax = 0;
    double sameGroupSum = 0, sameGroupMax = 0;
    for (std::size_t i = 0; i < later.size(); ++i) {
      const double ms = later[i] * 1e3;
      if ((i + 1) % perProcess == 0) {
        newGroupMax = std::max(newGroupMax, ms);
      } else {
        sameGroupSum += ms;
        sameGroupMax = std::max(sameGroupMax, ms);
      }
    }
    const double sameGroupCount = static_cast<double>(later.size() - later.size() / perProcess);
    state.counters["later_mean_ms"] = sameGroupSum / sameGroupCount;
    state.counters["later_max_ms"] = sameGroupMax;
    state.counters["new_group_max_ms"] = newGroupMax;
    state.counters["before_mb"] = before.pssKb / 1024.0;
    state.counters["first_banner_mb"] = (one.pssKb - before.pssKb) / 1024.0;
    state.counters["per_extra_banner_mb"] = (all.pssKb - one.pssKb) / 1024.0 / extra;
    state.counters["host_per_extra_banner_mb"] = (all.hostPssKb - one.hostPssKb) / 1024.0 / extra;
    state.counters["live_banners"] = static_cast<double>(live.size());
    state.counters["web_processes"] = all.webProcesses;
    live.clear();
    d.port->runFor(0.5);
  }
}
BENCHMARK(BM_LiveBanners)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// A bare view's first load, which starts its process, and later ones related to a live view.
void BM_BarePageFinished(benchmark::State& state) {
  auto& d = desktop();
  auto& setUp = bareSetUp();
  if (!d.ready || setUp.document.empty()) return state.SkipWithError("no banner document");
  const bool first = state.range(0) == 0;
  for (auto _ : state) {
    if (first && setUp.anchor) return state.SkipWithError("the first bare view ran already");
    auto bare = makeBare(d, first ? nullptr : setUp.anchor->view);
    const auto start = Clock::now();
    loadBare(*bare, setUp.document);
    if (!d.port->runUntil([&] { return bare->finished; }, 10)) {
      return state.SkipWithError("the page never finished");
    }
    state.SetIterationTime(std::chrono::duration<double>(bare->end - start).count());
    if (first) {
      setUp.anchor = std::move(bare);
    } else {
      releaseBare(d, std::move(bare));
    }
  }
}
BENCHMARK(BM_BarePageFinished)
    ->ArgName("later")
    ->Arg(0)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BarePageFinished)
    ->ArgName("later")
    ->Arg(1)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Later banners in a feed that replaces its ads: each is released once its page finished.
void BM_PageFinishedWebKit(benchmark::State& state) {
  auto& d = desktop();
  if (!d.ready) return state.SkipWithError("no display or no local ad service");
  for (auto _ : state) {
    double seconds = 0;
    if (!loadInWindow(d, &seconds)) {
      state.SkipWithError("the page never finished");
      break;
    }
    state.SetIterationTime(seconds);
  }
}
BENCHMARK(BM_PageFinishedWebKit)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// The host's main loop while three pages at a time load and are released, round after round: a
// 2 ms timer records the gaps between its firings. Rounds of banners and of bare views alternate,
// so both meet the same load from the rest of the machine; each gap counts for the kind of round
// it ended in.
void BM_MainLoopGaps(benchmark::State& state) {
  auto& d = desktop();
  auto& setUp = bareSetUp();
  if (!d.ready || !setUp.anchor) return state.SkipWithError("no bare anchor view");
  constexpr int kRounds = 40;
  constexpr int kPerRound = 3;
  struct Ticks {
    std::vector<double> gaps[2];  // banners, bare views
    int kind = 0;
    Clock::time_point last = Clock::now();
  };
  // Three banners, loaded until their pages finished, then released.
  auto bannerRound = [&] {
    std::vector<std::shared_ptr<OrvexBanner>> banners;
    int received = 0;
    for (int i = 0; i < kPerRound; ++i) {
      auto banner = OrvexBanner::create("demo-banner", "bench");
      banner->view()->setFrame(Rect(0, 0, 320, 50));
      gtk_box_append(GTK_BOX(d.box), gtk::widgetOf(*banner->view()));
      banner->onAdReceived = [&](OrvexBanner&) { ++received; };
      banner->load();
      banners.push_back(std::move(banner));
    }
    // A page's load is posted before its banner hears that the ad arrived.
    if (!d.port->runUntil([&] { return received == kPerRound; }, 10)) return false;
    const auto pages = d.port->ui->webViews();
    return d.port->runUntil(
        [&] {
          return std::none_of(pages.end() - kPerRound, pages.end(),
                              [](auto& v) { return v->isLoading(); });
        },
        10);
  };
  // Three bare views sharing the anchor's process, loading the banners' document.
  auto bareRound = [&] {
    std::vector<std::unique_ptr<Bare>> views;
    for (int i = 0; i < kPerRound; ++i) {
      views.push_back(makeBare(d, setUp.anchor->view));
      loadBare(*views.back(), setUp.document);
    }
    const bool ok = d.port->runUntil(
        [&] {
          return std::all_of(views.begin(), views.end(), [](auto& v) { return v->finished; });
        },
        10);
    for (auto& v : views) releaseBare(d, std::move(v));
    return ok;
  };
  for (auto _ : state) {
    d.port->runFor(0.5);
    Ticks ticks;
    const guint timer = g_timeout_add(
        2,
        [](gpointer data) -> gboolean {
          auto* t = static_cast<Ticks*>(data);
          const auto now = Clock::now();
          t->gaps[t->kind].push_back(milliseconds(now - t->last));
          t->last = now;
          return G_SOURCE_CONTINUE;
        },
        &ticks);
    const auto start = Clock::now();
    bool ok = true;
    for (int round = 0; round < 2 * kRounds && ok; ++round) {
      ticks.kind = round % 2;
      ok = ticks.kind == 0 ? bannerRound() : bareRound();
    }
    g_source_remove(timer);
    if (!ok) return state.SkipWithError("a page never finished");
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    const char* names[2] = {"sdk", "bare"};
    double longest[2], p99[2];
    for (int kind = 0; kind < 2; ++kind) {
      auto gaps = ticks.gaps[kind];
      if (gaps.empty()) return state.SkipWithError("the timer never fired");
      std::sort(gaps.begin(), gaps.end());
      const auto over = [&](double ms) {
        return static_cast<double>(gaps.end() - std::upper_bound(gaps.begin(), gaps.end(), ms));
      };
      longest[kind] = gaps.back();
      p99[kind] = gaps[gaps.size() * 99 / 100];
      const std::string name = names[kind];
      state.counters[name + "_longest_ms"] = longest[kind];
      state.counters[name + "_p99_ms"] = p99[kind];
      state.counters[name + "_over_16ms"] = over(16);
      state.counters[name + "_over_50ms"] = over(50);
      state.counters[name + "_ticks"] = static_cast<double>(gaps.size());
    }
    state.counters["longest_ratio"] = longest[0] / longest[1];
    state.counters["p99_ratio"] = p99[0] / p99[1];
  }
}
BENCHMARK(BM_MainLoopGaps)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_QuestPageFinishedWebKit(benchmark::State& state) {
  auto& d = desktop();
  if (!d.ready) return state.SkipWithError("no display or no local ad service");
  auto root = d.adopted->rootViewController();
  const std::string url = service().server->baseUrl() + "/quest/demo/?stay";
  for (auto _ : state) {
    const std::size_t before = d.port->ui->webViews().size();
    const auto start = Clock::now();
    OrvexQuestWebViewController::present(root, url);
    std::shared_ptr<gtk::GtkWebView> page;
    d.port->runUntil(
        [&] {
          auto all = d.port->ui->webViews();
          if (all.size() > before) page = std::dynamic_pointer_cast<gtk::GtkWebView>(all.back());
          return page != nullptr;
        },
        10);
    double seconds = 0;
    if (!page || !waitForFinish(d, *page, start, &seconds)) {
      state.SkipWithError("the quest page never finished");
      break;
    }
    state.SetIterationTime(seconds);
    page.reset();
    // A dismissal during the presentation's own transition is refused, as on the phone: the
    // page may finish before the transition does.
    for (int tries = 0; tries < 10 && root->presentedViewController(); ++tries) {
      root->dismiss(false, nullptr);
      d.port->runUntil([&] { return root->presentedViewController() == nullptr; }, 0.5);
    }
  }
}
BENCHMARK(BM_QuestPageFinishedWebKit)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace
