// A host built against an installed SDK: it links, installs the headless platform, initializes
// and finds the SDK's resources of the install it came with.
#include <cstdio>
#include <filesystem>

#include "orvex/core/orvex.h"
#include "ports/headless/headless_port.h"

int main() {
  orvex::headless::HeadlessOptions options;
  options.time = orvex::headless::TimeMode::virtualTime;
  // Loopback only: nothing is looked up, and the refused connections are fine here.
  options.deployment.adServerBase = "http://127.0.0.1:9";
  options.deployment.apiServerBase = "http://127.0.0.1:9";
  options.deployment.playerScriptCdnBase = "http://127.0.0.1:9/cdn/player@";
  auto port = orvex::headless::makeHeadlessPort(options);
  if (!orvex::Orvex::installPlatform(port.platform)) return 2;
  orvex::Orvex::initialize(false, false);
  port.runFor(0);
  const auto resources = port.platform.bundle->sdkResourceDirectory();
  if (!resources || !std::filesystem::exists(*resources / "embla-carousel.js")) {
    std::puts("no resources");
    return 3;
  }
  std::printf("resources %s\n", resources->c_str());
  return 0;
}
