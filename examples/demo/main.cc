// The sample host application: installs the headless port, starts the local ad service on a
// loopback port (unless --server names another), initializes the SDK, waits for the remote
// configuration, requests one ad and reports its impression, printing a timeline as it goes.
//
//   orvex-demo [--data DIR] [--production] [--country CC ...] [--server URL]
//              [--log-requests FILE] [--unit ID]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orvex/core/device.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/server/orvex_api.h"
#include "ports/headless/headless_port.h"
#include "ports/headless/memory_log.h"

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
  std::filesystem::path data = defaultDataDir();
  bool production = false;
  std::vector<std::string> countries;
  std::string server;
  std::string logRequests;
  std::string unit = "demo-banner";
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: orvex-demo [--data DIR] [--production] [--country CC ...] [--server URL]\n"
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
    } else if (!hasValue) {
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
    } else {
      usage();
    }
  }
  return a;
}

// Prints lines with the time since the start of the demo.
class Timeline {
 public:
  void say(const std::string& text) const {
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::printf("[%7.3f s] %s\n", t, text.c_str());
    std::fflush(stdout);
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::string shorten(const std::string& text, std::size_t max = 96) {
  return text.size() <= max ? text : text.substr(0, max) + "…";
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args = parse(argc, argv);
  using namespace orvex;
  Timeline timeline;

#ifdef ORVEX_ADSERVER_FIXTURES
  std::unique_ptr<adserver::AdServer> localServer;
  if (args.server.empty()) {
    adserver::Options serverOptions;
    serverOptions.fixtures = ORVEX_ADSERVER_FIXTURES;
    serverOptions.logFile = args.logRequests;
    localServer = std::make_unique<adserver::AdServer>(serverOptions);
    std::string error;
    if (!localServer->start(&error)) {
      std::fprintf(stderr, "could not start the local ad service: %s\n", error.c_str());
      return 1;
    }
    args.server = localServer->baseUrl();
    timeline.say("local ad service listening on " + args.server);
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
  headless::HeadlessPort port = headless::makeHeadlessPort(options);
  if (!Orvex::installPlatform(port.platform)) {
    std::fprintf(stderr, "could not install the headless port\n");
    return 1;
  }

  Orvex& sdk = Orvex::shared();
  OrvexConfig& config = sdk.config();
  std::int64_t configBefore = config.lastConfigAt();
  std::optional<std::vector<std::string>> countries;
  if (!args.countries.empty()) countries = args.countries;
  timeline.say("Orvex.initialize, store in " + args.data.string());
  Orvex::initialize(args.production, true, countries);

  auto failedConfig = [&port] {
    for (const auto& line : port.log->lines())
      if (line.find("remote config failed. ") != std::string::npos) return true;
    return false;
  };
  bool applied =
      port.runUntil([&] { return config.lastConfigAt() != configBefore || failedConfig(); }, 35);
  if (applied && config.lastConfigAt() != configBefore) {
    timeline.say(
        "remote configuration applied: active " + std::string(config.active() ? "true" : "false") +
        ", playerVersion " + config.playerVersion() + ", displayTag " +
        std::to_string(config.displayTag().size()) + " bytes, macro " + config.displayTagMacro() +
        ", serverTimestamp " + std::to_string(config.serverTimestamp()));
    for (const auto& key : port.platform.store->standard()->keys())
      if (key.starts_with("orvex_backfill_"))
        timeline.say("  backfill " + key.substr(15) + " -> " +
                     port.platform.store->standard()->string(key).value_or(""));
  } else {
    timeline.say("remote configuration not applied");
  }

  struct Outcome {
    std::mutex mutex;
    bool done = false;
    std::optional<AdRes> ad;
    std::optional<ServerError> error;
  };
  auto outcome = std::make_shared<Outcome>();
  timeline.say("requestAd(unitId: " + args.unit + ")");
  sdk.api().requestAd(args.unit, "demo-context", [outcome](auto ad, auto error) {
    std::lock_guard lock(outcome->mutex);
    outcome->ad = std::move(ad);
    outcome->error = std::move(error);
    outcome->done = true;
  });
  port.runUntil(
      [&] {
        std::lock_guard lock(outcome->mutex);
        return outcome->done;
      },
      35);
  {
    std::lock_guard lock(outcome->mutex);
    if (!outcome->done) {
      timeline.say("no answer");
    } else if (outcome->error) {
      timeline.say("ad request failed: " + outcome->error->description() + " (" +
                   OrvexErrorCodeToString(errorCode(*outcome->error)) + ")");
    } else if (!outcome->ad || outcome->ad->creative.value_or("").empty()) {
      timeline.say("no fill for " + args.unit);
    } else {
      const AdRes& ad = *outcome->ad;
      timeline.say("ad received: id " + ad.id + ", creative " + shorten(ad.creative.value_or("")));
      sdk.api().reportMetric(OrvexMetricCode::adImpr, ad.id, args.unit);
      timeline.say("reportMetric(AD_IMPR) sent");
    }
  }
  port.runFor(0.5);

  std::printf("\n== log\n");
  for (const auto& line : port.log->lines()) std::printf("%s\n", line.c_str());
#ifdef ORVEX_ADSERVER_FIXTURES
  if (localServer) {
    std::printf("\n== requests the local ad service received\n");
    for (const auto& r : localServer->requests())
      std::printf("%s %-14s %-16s -> %d\n", r.method.c_str(), r.path.c_str(), r.operation.c_str(),
                  r.status);
  }
#endif
  std::printf("\n== configuration\n");
  std::printf("sdkVersion      %s\n", Orvex::sdkVersion().c_str());
  std::printf("user id         %s\n", config.uid().c_str());
  std::printf("appKey          %s\n", shorten(config.appKey(), 40).c_str());
  std::printf("targetDevice    %s\n", sdk.isTargetDevice() ? "yes" : "no");
  std::printf("active          %s\n", config.active() ? "true" : "false");
  std::printf("theme           %s\n", themeText(config.themeMode()).c_str());
  std::printf("requestAdsURL   %s\n", config.requestAdsURL().c_str());
  std::printf("locale          %s\n", sdk.device().locale.c_str());
  std::printf("device info     %s\n", sdk.device().infoJson().c_str());
  sdk.platform().store->flush();
#ifdef ORVEX_ADSERVER_FIXTURES
  if (localServer) localServer->stop();
#endif
  return 0;
}
