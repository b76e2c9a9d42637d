// The sample host application: starts the local ad service on a loopback port (unless --server
// names another), installs a port — a real window with GTK and WebKit when a display is there,
// the headless port otherwise — initializes the SDK, waits for the remote configuration and runs
// one format's flow, printing a timeline of what the host heard, what the SDK sent and what the
// service recorded. Exits 0 when the whole flow happened.
//
//   orvex-demo [--format banner|native|quest|interstitial|rewarded|splash|popup]
//              [--gui | --headless] [--screenshot FILE] [--data DIR]
//              [--production] [--country CC ...] [--server URL]
//              [--log-requests FILE] [--unit ID]
//
// For quest, --unit names the page of the service's quest site (default "demo"). Splash keeps its
// cache in --data: a second run shows the ad the first one stored.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "examples/demo/banner_flow.h"
#include "examples/demo/headless_screen.h"
#include "examples/demo/interstitial_flow.h"
#include "examples/demo/native_flow.h"
#include "examples/demo/popup_flow.h"
#include "examples/demo/quest_flow.h"
#include "examples/demo/rewarded_flow.h"
#include "examples/demo/splash_flow.h"
#ifdef ORVEX_DEMO_GTK
#include "examples/demo/gtk_screen.h"
#include "ports/gtk/gtk_port.h"
#endif
#include "examples/demo/timeline.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/url.h"
#include "ports/headless/headless_media.h"
#include "ports/headless/headless_port.h"
#include "ports/headless/virtual_time.h"
#include "ports/linux/curl_http_client.h"
#include "ports/linux/device.h"
#include "ports/linux/memory_log.h"

#ifdef ORVEX_ADSERVER_FIXTURES
#include "tools/adserver/ad_server.h"
#endif

namespace {

// Per user, so a second run sees what the first one stored.
std::filesystem::path defaultDataDir() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
    return std::filesystem::path(xdg) / "orvex-demo";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::filesystem::path(home) / ".local" / "share" / "orvex-demo";
  return std::filesystem::temp_directory_path() / "orvex-demo";
}

struct Arguments {
  std::string format = "banner";
  std::filesystem::path data = defaultDataDir();
  bool production = false;
  std::vector<std::string> countries;
  std::string server;
  std::string logRequests;
  std::string unit;  // per format when not given
  enum class Screen { automatic, window, headless } screen = Screen::automatic;
  std::string screenshot;
};

// Shown over the host's screen; headless, their videos and time limits run in virtual time.
bool isFullScreen(const std::string& format) {
  return format == "interstitial" || format == "rewarded" || format == "splash" ||
         format == "popup";
}

[[noreturn]] void usage() {
  std::fprintf(
      stderr,
      "usage: orvex-demo [--format banner|native|quest|interstitial|rewarded|splash|popup]\n"
      "                  [--gui | --headless] [--screenshot FILE] [--data DIR]\n"
      "                  [--production] [--country CC ...] [--server URL]\n"
      "                  [--log-requests FILE] [--unit ID]\n");
  std::exit(2);
}

Arguments parse(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--production") {
      a.production = true;
    } else if (arg == "--gui") {
      a.screen = Arguments::Screen::window;
    } else if (arg == "--headless") {
      a.screen = Arguments::Screen::headless;
    } else if (!hasValue) {
      usage();
    } else if (arg == "--format") {
      a.format = argv[++i];
      if (!isFullScreen(a.format) && a.format != "banner" && a.format != "native" &&
          a.format != "quest")
        usage();
    } else if (arg == "--data") {
      a.data = argv[++i];
    } else if (arg == "--country") {
      a.countries.push_back(argv[++i]);
    } else if (arg == "--server") {
      a.server = argv[++i];
      while (!a.server.empty() && a.server.back() == '/') a.server.pop_back();
    } else if (arg == "--log-requests") {
      a.logRequests = argv[++i];
    } else if (arg == "--unit") {
      a.unit = argv[++i];
    } else if (arg == "--screenshot") {
      a.screenshot = argv[++i];
    } else {
      usage();
    }
  }
  if (a.unit.empty()) {
    a.unit = a.format == "native"     ? "demo-native"
             : a.format == "quest"    ? "demo"
             : isFullScreen(a.format) ? "demo-" + a.format
                                      : "demo-banner";
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args = parse(argc, argv);
  using namespace orvex;
  auto timeline = std::make_shared<demo::Timeline>();
  auto fail = [](const std::string& reason) {
    std::fprintf(stderr, "orvex-demo: %s\n", reason.c_str());
    return 1;
  };

#ifdef ORVEX_ADSERVER_FIXTURES
  std::unique_ptr<adserver::AdServer> localServer;
  if (args.server.empty()) {
    adserver::Options serverOptions;
    serverOptions.fixtures = ORVEX_ADSERVER_FIXTURES;
    serverOptions.logFile = args.logRequests;
    localServer = std::make_unique<adserver::AdServer>(serverOptions);
    std::string error;
    if (!localServer->start(&error)) return fail("could not start the local ad service: " + error);
    args.server = localServer->baseUrl();
    timeline->say("local ad service listening on " + args.server);
  }
#endif
  if (args.server.empty()) {
    std::fprintf(stderr, "this build has no local ad service: pass --server URL\n");
    return 2;
  }

  linux_port::ServiceOptions services;
  services.dataDirectory = args.data;
  services.device = linux_port::DeviceOptions::fromMachine();
  services.bundle.bundleIdentifier = "com.example.orvexdemo";
  services.bundle.resourceDirectory = ORVEX_DEMO_RESOURCES;
  services.echoLog = false;  // the demo prints the log itself, after its timeline
  services.deployment.adServerBase = args.server;
  services.deployment.apiServerBase = args.server;
  services.deployment.playerScriptCdnBase = args.server + "/cdn/player@";
  // The quest site is the service's too (its pages under /quest).
  if (auto server = Url::parse(args.server)) {
    services.deployment.questScheme = server->scheme();
    services.deployment.questHost =
        server->host() + (server->port() ? ":" + std::to_string(*server->port()) : "");
    services.deployment.questDomains = {server->host()};
  }
  services.http = std::make_shared<demo::TimelineHttpClient>(
      std::make_shared<linux_port::CurlHttpClient>(), timeline);

  // The screen: a window where there is a display (GTK and WebKit draw the ad), else in memory.
  std::optional<headless::HeadlessPort> headlessPort;
  std::unique_ptr<demo::Screen> screen;
  std::shared_ptr<linux_port::MemoryLog> log;
  OrvexPlatform platform;
  std::function<bool(const std::function<bool()>&, double)> runUntil;
#ifdef ORVEX_DEMO_GTK
  std::optional<gtk::GtkPort> gtkPort;
  const bool wantWindow = args.screen == Arguments::Screen::window ||
                          (args.screen == Arguments::Screen::automatic &&
                           (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")));
  if (wantWindow && gtk_init_check()) {
    gtk::GtkOptions options;
    static_cast<linux_port::ServiceOptions&>(options) = services;
    options.openExternalLinks = false;  // the demo shows what would open; nothing leaves it
    gtkPort = gtk::makeGtkPort(std::move(options));
    platform = gtkPort->platform;
    log = gtkPort->log;
    runUntil = [&](const std::function<bool()>& done, double t) {
      return gtkPort->runUntil(done, t);
    };
  } else if (args.screen == Arguments::Screen::window) {
    return fail("no display for a window (try --headless)");
  }
#else
  if (args.screen == Arguments::Screen::window) return fail("this build has no desktop port");
#endif
  // The in-memory screen draws nothing: asked for a picture, say so before running anything.
  if (!platform.dispatcher && !args.screenshot.empty()) {
    std::fprintf(stderr, "orvex-demo: --screenshot needs a window, and %s\n",
                 args.screen == Arguments::Screen::headless
                     ? "--headless asks for none"
                     : "there is no display (run it under xvfb-run, or leave --screenshot out)");
    return 2;
  }
  if (!platform.dispatcher) {
    headless::HeadlessOptions options;
    static_cast<linux_port::ServiceOptions&>(options) = services;
    options.time =
        isFullScreen(args.format) ? headless::TimeMode::virtualTime : headless::TimeMode::real;
    // From the real date and zone: what the last run stored (its configuration time, the splash
    // cache's list, a popup hidden today) is judged against it, as a second launch would be, and
    // "local midnight" is the machine's.
    options.virtualStart = std::chrono::system_clock::now();
    headlessPort = headless::makeHeadlessPort(std::move(options));
    if (headlessPort->virtualTime) {
      headlessPort->virtualTime->setUtcOffsetFunction([](WallTime at) {
        const std::time_t t = std::chrono::system_clock::to_time_t(at);
        std::tm local{};
        return localtime_r(&t, &local) ? static_cast<int>(local.tm_gmtoff) : 0;
      });
      timeline->followClock(headlessPort->platform.clock);
      timeline->say("headless port in virtual time: the times from here are its clock's");
    }
    // The local service's video is 5 s long; the in-memory player plays what it is told.
    headlessPort->media->registerItem(args.server + "/static/video.webm",
                                      headless::HeadlessMediaItem{5.0, 30});
    platform = headlessPort->platform;
    log = headlessPort->log;
    runUntil = [&](const std::function<bool()>& done, double t) {
      return headlessPort->runUntil(done, t);
    };
  }
  if (!Orvex::installPlatform(platform)) return fail("could not install the port");

  Orvex& sdk = Orvex::shared();
  OrvexConfig& config = sdk.config();
  std::int64_t configBefore = config.lastConfigAt();
  std::optional<std::vector<std::string>> countries;
  if (!args.countries.empty()) countries = args.countries;
  timeline->say("Orvex.initialize, store in " + args.data.string());
  Orvex::initialize(args.production, false, countries);
  timeline->say("user id " + config.uid() + " (kept across runs)");

  auto failedConfig = [&log] {
    for (const auto& line : log->lines())
      if (line.find("remote config failed. ") != std::string::npos) return true;
    return false;
  };
  bool applied =
      runUntil([&] { return config.lastConfigAt() != configBefore || failedConfig(); }, 35);
  if (!applied || config.lastConfigAt() == configBefore)
    return fail("no server at " + args.server + ": remote configuration not applied");
  timeline->say("remote configuration applied: active " +
                std::string(config.active() ? "true" : "false") + ", playerVersion " +
                config.playerVersion() + ", displayTag " +
                std::to_string(config.displayTag().size()) + " bytes");

#ifdef ORVEX_DEMO_GTK
  if (gtkPort) screen = demo::makeGtkScreen(*gtkPort);
#endif
  if (!screen) screen = demo::makeHeadlessScreen(*headlessPort);
  demo::FlowOptions flow;
  flow.unitId = args.unit;
  flow.screenshot = args.screenshot;
  const std::string reason =
      args.format == "native"         ? demo::runNativeFlow(*screen, *timeline, flow)
      : args.format == "quest"        ? demo::runQuestFlow(*screen, *timeline, flow)
      : args.format == "interstitial" ? demo::runInterstitialFlow(*screen, *timeline, flow)
      : args.format == "rewarded"     ? demo::runRewardedFlow(*screen, *timeline, flow)
      : args.format == "splash"       ? demo::runSplashFlow(*screen, *timeline, flow)
      : args.format == "popup"        ? demo::runPopupFlow(*screen, *timeline, flow)
                                      : demo::runBannerFlow(*screen, *timeline, flow);
  // A quest page reports nothing to the service; the ad formats an impression and a click.
  [[maybe_unused]] const bool reportsMetrics = args.format != "quest";
  [[maybe_unused]] const bool reportsClicks = reportsMetrics && args.format != "splash";

#ifdef ORVEX_ADSERVER_FIXTURES
  if (localServer) {
    auto recorded = [&](const std::string& what) {
      for (const auto& r : localServer->requests())
        if (demo::describeBody(r.body).starts_with(what)) return true;
      return false;
    };
    const std::string last = reportsClicks ? "invoke AD_CLICK" : "invoke AD_IMPR";
    if (reportsMetrics) runUntil([&] { return !reason.empty() || recorded(last); }, 5);
    std::printf("\n== what the local ad service recorded\n");
    for (const auto& r : localServer->requests())
      std::printf("%-4s %-16s %d %s\n", r.method.c_str(), r.path.c_str(), r.status,
                  demo::describeBody(r.body).c_str());
    if (reason.empty() && reportsMetrics &&
        !(recorded("invoke AD_IMPR") && (!reportsClicks || recorded("invoke AD_CLICK"))))
      return fail(reportsClicks ? "the service did not record the impression and the click"
                                : "the service did not record the impression");
  }
#endif
  std::printf("\n== log\n");
  for (const auto& line : log->lines()) std::printf("%s\n", line.c_str());
  sdk.platform().store->flush();
#ifdef ORVEX_ADSERVER_FIXTURES
  if (localServer) localServer->stop();
#endif
  if (!reason.empty()) return fail(reason);
  if (args.format == "quest") {
    std::printf(
        "\nquest flow complete: page loaded, app version answered, haptic, closed by the "
        "page\n");
  } else if (args.format == "splash") {
    std::printf(
        "\nsplash flow complete: ad shown at start, impression, cross-dissolved to the feed, the "
        "next start's ads stored\n");
  } else if (args.format == "popup") {
    std::printf(
        "\npopup flow complete: received, shown over the feed, rolled, swiped, click, landing page "
        "opened, hidden for today, the next load refused\n");
  } else if (isFullScreen(args.format)) {
    std::printf("\n%s flow complete: received, shown, %sclick, landing page opened, closed\n",
                args.format.c_str(),
                args.format == "rewarded" ? "video played to its end, reward, " : "");
  } else {
    std::printf("\n%s flow complete: received, impression, click, landing page opened\n",
                args.format.c_str());
  }
  return 0;
}
