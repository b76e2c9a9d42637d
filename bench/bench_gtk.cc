// The desktop port: a banner's load() until its page has finished loading in WebKit, beside the
// same on the headless port's scripted page in the same run; and the memory ten live banners
// cost (this process, and with WebKit's web and network processes).
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
    d.port->adoptWindow(GTK_WINDOW(d.window));
    gtk_window_present(GTK_WINDOW(d.window));
    d.ready = initialized(run);
    return d;
  }();
  return d;
}

// Loads a banner into the desktop window and waits for WebKit to finish its page.
std::shared_ptr<OrvexBanner> loadInWindow(Desktop& d, double* seconds) {
  auto banner = OrvexBanner::create("demo-banner", "bench");
  banner->view()->setFrame(Rect(0, 0, 320, 50));
  gtk_box_append(GTK_BOX(d.box), gtk::widgetOf(*banner->view()));
  bool finished = false;
  bool received = false;
  banner->onAdReceived = [&](OrvexBanner&) { received = true; };
  const auto start = Clock::now();
  Clock::time_point end;
  banner->load();
  if (!d.port->runUntil([&] { return received; }, 10)) return nullptr;
  auto page = std::dynamic_pointer_cast<gtk::GtkWebView>(d.port->ui->webViews().back());
  if (!page) return nullptr;
  struct Stamp {
    bool* finished;
    Clock::time_point* end;
  } stamp{&finished, &end};
  const gulong id =
      g_signal_connect(page->engineView(), "load-changed",
                       G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                         auto* s = static_cast<Stamp*>(data);
                         if (event != WEBKIT_LOAD_FINISHED || *s->finished) return;
                         *s->finished = true;
                         *s->end = Clock::now();
                       }),
                       &stamp);
  const bool done = d.port->runUntil([&] { return finished || !page->isLoading(); }, 10);
  if (!finished) end = Clock::now();  // finished before the stamp was connected
  g_signal_handler_disconnect(page->engineView(), id);
  if (!done) return nullptr;
  *seconds = std::chrono::duration<double>(end - start).count();
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
