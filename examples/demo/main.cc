// The sample host application: installs the headless port, starts the local ad service on a
// loopback port (unless --server names another), initializes the SDK, waits for the remote
// configuration and runs one format's flow, printing a timeline of what the host heard, what the
// SDK sent and what the service recorded. Exits 0 when the whole flow happened.
//
//   orvex-demo [--format banner|native|quest] [--data DIR] [--production] [--country CC ...]
//              [--server URL] [--log-requests FILE] [--unit ID]
//
// For quest, --unit names the page of the service's quest site (default "demo").

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "examples/demo/banner_flow.h"
#include "examples/demo/headless_screen.h"
#include "examples/demo/native_flow.h"
#include "examples/demo/quest_flow.h"
#include "examples/demo/timeline.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/url.h"
#include "ports/headless/headless_port.h"
#include "ports/linux/curl_http_client.h"
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
};

[[noreturn]] void usage() {
  std::fprintf(
      stderr,
      "usage: orvex-demo [--format banner|native|quest] [--data DIR] [--production]\n"
      "                  [--country CC ...] [--server URL] [--log-requests FILE] [--unit ID]\n");
  std::exit(2);
}

Arguments parse(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--production") {
      a.production = true;
    } else if (!hasValue) {
      usage();
    } else if (arg == "--format") {
      a.format = argv[++i];
      if (a.format != "banner" && a.format != "native" && a.format != "quest") usage();
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
    } else {
      usage();
    }
  }
  if (a.unit.empty()) {
    a.unit = a.format == "native" ? "demo-native" : a.format == "quest" ? "demo" : "demo-banner";
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

  headless::HeadlessOptions options;
  options.time = headless::TimeMode::real;
  options.dataDirectory = args.data;
  options.device = headless::DeviceOptions::fromMachine();
  options.bundle.bundleIdentifier = "com.example.orvexdemo";
  options.bundle.resourceDirectory = ORVEX_DEMO_RESOURCES;
  options.deployment.adServerBase = args.server;
  options.deployment.apiServerBase = args.server;
  options.deployment.playerScriptCdnBase = args.server + "/cdn/player@";
  // The quest site is the service's too (its pages under /quest).
  if (auto server = Url::parse(args.server)) {
    options.deployment.questScheme = server->scheme();
    options.deployment.questHost =
        server->host() + (server->port() ? ":" + std::to_string(*server->port()) : "");
    options.deployment.questDomains = {server->host()};
  }
  options.http = std::make_shared<demo::TimelineHttpClient>(
      std::make_shared<linux_port::CurlHttpClient>(), timeline);
  headless::HeadlessPort port = headless::makeHeadlessPort(options);
  if (!Orvex::installPlatform(port.platform)) return fail("could not install the headless port");

  Orvex& sdk = Orvex::shared();
  OrvexConfig& config = sdk.config();
  std::int64_t configBefore = config.lastConfigAt();
  std::optional<std::vector<std::string>> countries;
  if (!args.countries.empty()) countries = args.countries;
  timeline->say("Orvex.initialize, store in " + args.data.string());
  Orvex::initialize(args.production, false, countries);
  timeline->say("user id " + config.uid() + " (kept across runs)");

  auto failedConfig = [&port] {
    for (const auto& line : port.log->lines())
      if (line.find("remote config failed. ") != std::string::npos) return true;
    return false;
  };
  bool applied =
      port.runUntil([&] { return config.lastConfigAt() != configBefore || failedConfig(); }, 35);
  if (!applied || config.lastConfigAt() == configBefore)
    return fail("no server at " + args.server + ": remote configuration not applied");
  timeline->say("remote configuration applied: active " +
                std::string(config.active() ? "true" : "false") + ", playerVersion " +
                config.playerVersion() + ", displayTag " +
                std::to_string(config.displayTag().size()) + " bytes");

  auto screen = demo::makeHeadlessScreen(port);
  const std::string reason =
      args.format == "native"  ? demo::runNativeFlow(*screen, *timeline, args.unit)
      : args.format == "quest" ? demo::runQuestFlow(*screen, *timeline, args.unit)
                               : demo::runBannerFlow(*screen, *timeline, args.unit);
  // A quest page reports nothing to the service; the ad formats an impression and a click.
  [[maybe_unused]] const bool reportsMetrics = args.format != "quest";

#ifdef ORVEX_ADSERVER_FIXTURES
  if (localServer) {
    auto recorded = [&](const std::string& what) {
      for (const auto& r : localServer->requests())
        if (demo::describeBody(r.body).starts_with(what)) return true;
      return false;
    };
    if (reportsMetrics)
      port.runUntil([&] { return !reason.empty() || recorded("invoke AD_CLICK"); }, 5);
    std::printf("\n== what the local ad service recorded\n");
    for (const auto& r : localServer->requests())
      std::printf("%-4s %-16s %d %s\n", r.method.c_str(), r.path.c_str(), r.status,
                  demo::describeBody(r.body).c_str());
    if (reason.empty() && reportsMetrics &&
        !(recorded("invoke AD_IMPR") && recorded("invoke AD_CLICK")))
      return fail("the service did not record the impression and the click");
  }
#endif
  std::printf("\n== log\n");
  for (const auto& line : port.log->lines()) std::printf("%s\n", line.c_str());
  sdk.platform().store->flush();
#ifdef ORVEX_ADSERVER_FIXTURES
  if (localServer) localServer->stop();
#endif
  if (!reason.empty()) return fail(reason);
  if (args.format == "quest") {
    std::printf(
        "\nquest flow complete: page loaded, app version answered, haptic, closed by the "
        "page\n");
  } else {
    std::printf("\n%s flow complete: received, impression, click, landing page opened\n",
                args.format.c_str());
  }
  return 0;
}
