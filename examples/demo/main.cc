// The sample host application: installs the headless port, initializes the SDK and shows what it
// did — the log lines, the user id and the configuration it loaded.
//
//   orvex-demo [--data DIR] [--production] [--country CC ...]

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "orvex/core/device.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "ports/headless/headless_port.h"
#include "ports/headless/memory_log.h"

namespace {

struct Arguments {
  std::filesystem::path data = std::filesystem::temp_directory_path() / "orvex-demo";
  bool production = false;
  std::vector<std::string> countries;
};

Arguments parse(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--data" && i + 1 < argc) {
      a.data = argv[++i];
    } else if (arg == "--production") {
      a.production = true;
    } else if (arg == "--country" && i + 1 < argc) {
      a.countries.push_back(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: orvex-demo [--data DIR] [--production] [--country CC ...]\n");
      std::exit(2);
    }
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args = parse(argc, argv);
  using namespace orvex;

  headless::HeadlessOptions options;
  options.time = headless::TimeMode::real;
  options.dataDirectory = args.data;
  options.device = headless::DeviceOptions::fromMachine();
  options.bundle.bundleIdentifier = "com.example.orvexdemo";
  options.bundle.resourceDirectory = ORVEX_DEMO_RESOURCES;
  headless::HeadlessPort port = headless::makeHeadlessPort(options);
  if (!Orvex::installPlatform(port.platform)) {
    std::fprintf(stderr, "could not install the headless port\n");
    return 1;
  }

  std::optional<std::vector<std::string>> countries;
  if (!args.countries.empty()) countries = args.countries;
  Orvex::initialize(args.production, true, countries);
  port.runFor(0.2);  // let queued work (remote configuration, observers) run

  std::printf("== log\n");
  for (const auto& line : port.log->lines()) std::printf("%s\n", line.c_str());

  Orvex& sdk = Orvex::shared();
  OrvexConfig& config = sdk.config();
  std::printf("\n== user id\n%s\n", config.uid().c_str());
  std::printf("\n== configuration (store in %s)\n", args.data.string().c_str());
  std::printf("sdkVersion      %s\n", Orvex::sdkVersion().c_str());
  std::printf("targetDevice    %s\n", sdk.isTargetDevice() ? "yes" : "no");
  std::printf("appKey          %s\n", config.appKey().empty() ? "(none)" : config.appKey().c_str());
  std::printf("active          %s\n", config.active() ? "true" : "false");
  std::printf("playerVersion   %s\n", config.playerVersion().c_str());
  std::printf("theme           %s\n", themeText(config.themeMode()).c_str());
  std::printf("lastConfigAt    %lld\n", static_cast<long long>(config.lastConfigAt()));
  std::printf("displayTagMacro %s\n", config.displayTagMacro().c_str());
  std::printf("requestAdsURL   %s\n", config.requestAdsURL().c_str());
  std::printf("locale          %s\n", sdk.device().locale.c_str());
  std::printf("device info     %s\n", sdk.device().infoJson().c_str());
  sdk.platform().store->flush();
  return 0;
}
