// The platform a build falls back to when the host installs none: the headless port in real
// time, its main run loop on a thread of its own.
#include <cstdlib>
#include <system_error>

#include "orvex/core/orvex.h"
#include "ports/headless/headless_port.h"
#include "ports/linux/real_time_loop.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

fs::path defaultDataDirectory() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return fs::path(xdg) / "orvex";
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return fs::path(home) / ".local" / "share" / "orvex";
  return {};  // the port makes a temporary one
}

}  // namespace

OrvexPlatform makeDefaultPlatform() {
  headless::HeadlessOptions options;
  options.time = headless::TimeMode::real;
  options.loopOnOwnThread = true;
  options.dataDirectory = defaultDataDirectory();
  options.device = headless::DeviceOptions::fromMachine();
  // Standing in for the system log: lines go to stderr, a bounded tail stays in memory.
  options.echoLog = true;
  // The executable stands for the application bundle: its name and its directory.
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && !exe.empty()) {
    options.bundle.bundleIdentifier = exe.filename().string();
    options.bundle.resourceDirectory = exe.parent_path();
  }
  return headless::makeHeadlessPort(std::move(options)).platform;
}

}  // namespace orvex
