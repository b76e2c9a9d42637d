#include "tests/support/test_sdk.h"

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <fstream>

#include "orvex/core/crypto.h"
#include "ports/linux/memory_log.h"
#include "tests/support/scripted_http.h"

namespace orvex {

void OrvexTestAccess::reset(OrvexPlatform platform) {
  std::lock_guard lock(Orvex::sharedMutexForTesting());
  delete Orvex::gSharedForTesting().exchange(new Orvex(std::move(platform)));
}

namespace testing_support {

std::string makeJwt(const std::string& payloadJson) {
  auto url = [](std::string text) {
    std::string b = base64Encode(text);
    while (!b.empty() && b.back() == '=') b.pop_back();
    for (char& c : b) c = c == '+' ? '-' : c == '/' ? '_' : c;
    return b;
  };
  return url("{\"alg\":\"HS256\",\"typ\":\"JWT\"}") + "." + url(payloadJson) + ".c2lnbmF0dXJl";
}

int refusedPort() {
  // Bound but never listening: the port stays taken, and every connection to it is refused.
  static const int port = [] {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
      return 9;  // discard: nothing listens there on a test machine either
    return static_cast<int>(ntohs(addr.sin_port));
  }();
  return port;
}

OrvexDeployment loopbackDeployment() {
  const std::string base = "http://127.0.0.1:" + std::to_string(refusedPort());
  OrvexDeployment d;
  d.adServerBase = base;
  d.apiServerBase = base;
  d.playerScriptCdnBase = base + "/cdn/player@";
  return d;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvex-test-XXXXXX").string();
  if (char* made = mkdtemp(pattern.data())) path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

namespace {

headless::HeadlessOptions optionsFor(const std::filesystem::path& dataDir,
                                     const std::filesystem::path& resources,
                                     const TestSdkOptions& options) {
  headless::HeadlessOptions o;
  o.time = options.time;
  o.dataDirectory = dataDir;
  o.device.preferredLanguages = options.preferredLanguages;
  o.device.interfaceStyle = options.interfaceStyle;
  o.bundle.resourceDirectory = resources;
  o.bundle.sdkResourceDirectory = options.sdkResourceDirectory;
  o.http = options.http;
  o.deployment = options.deployment;
  return o;
}

}  // namespace

TestSdk::TestSdk(const std::filesystem::path& dataDir, TestSdkOptions options)
    : resources_(dataDir / "bundle"), port_([&] {
        std::filesystem::create_directories(resources_);
        if (options.serviceFile)
          std::ofstream(resources_ / "orvex_service.json") << *options.serviceFile;
        return headless::makeHeadlessPort(optionsFor(dataDir, resources_, options));
      }()) {
  if (auto scripted = std::dynamic_pointer_cast<ScriptedHttpClient>(options.http))
    scripted->attach(port_.platform.dispatcher);
  OrvexTestAccess::reset(port_.platform);
}

TestSdk::~TestSdk() = default;

void TestSdk::advance(double seconds) {
  port_.runFor(seconds);
}

bool TestSdk::logged(const std::string& line) const {
  for (const auto& l : port_.log->lines())
    if (l == line) return true;
  return false;
}

bool TestSdk::loggedStartingWith(const std::string& prefix) const {
  for (const auto& l : port_.log->lines())
    if (l.starts_with(prefix)) return true;
  return false;
}

std::vector<std::string> TestSdk::logLines() const {
  return port_.log->lines();
}

}  // namespace testing_support
}  // namespace orvex
