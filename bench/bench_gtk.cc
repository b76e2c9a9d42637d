// The desktop port: a banner's load() until its page has finished loading in WebKit, beside the
// same on the headless port's scripted page in the same run; the quest screen's presentation
// until its page finished; and the memory ten live banners cost (this process, and with WebKit's
// web and network processes).
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

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

// Resident kilobytes of a process, from /proc.
long residentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// This process and its children (WebKit's web and network processes).
long familyResidentKb() {
  long total = residentKb(getpid());
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &parent) == 2 &&
        parent == getpid()) {
      total += residentKb(static_cast<pid_t>(std::stol(name)));
    }
  }
  return total;
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
    root->dismiss(false, nullptr);
    d.port->runUntil([&] { return root->presentedViewController() == nullptr; }, 5);
  }
}
BENCHMARK(BM_QuestPageFinishedWebKit)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void BM_MemoryPerBanner(benchmark::State& state) {
  auto& d = desktop();
  if (!d.ready) return state.SkipWithError("no display or no local ad service");
  for (auto _ : state) {
    d.port->runFor(1.0);  // released banners' pages wind down
    const long selfBefore = residentKb(getpid());
    const long allBefore = familyResidentKb();
    std::vector<std::shared_ptr<OrvexBanner>> live;
    for (int i = 0; i < 10; ++i) {
      double seconds = 0;
      auto banner = loadInWindow(d, &seconds);
      if (!banner) return state.SkipWithError("a page never finished");
      live.push_back(std::move(banner));
    }
    d.port->runFor(1.0);
    state.counters["self_kb_per_banner"] =
        static_cast<double>(residentKb(getpid()) - selfBefore) / 10;
    state.counters["with_webkit_kb_per_banner"] =
        static_cast<double>(familyResidentKb() - allBefore) / 10;
  }
}
BENCHMARK(BM_MemoryPerBanner)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
