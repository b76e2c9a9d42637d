#pragma once
// A fresh SDK per test on a virtual-time headless port over a private temporary directory.

#include <filesystem>
#include <optional>
#include <string>

#include "orvex/core/orvex.h"
#include "ports/headless/headless_port.h"

namespace orvex {

// Reaches the shared instance's private reset; only test code links this.
class OrvexTestAccess {
 public:
  // Replaces the shared instance with a new one on `platform`. The old one must be idle.
  static void reset(OrvexPlatform platform);
};

namespace testing_support {

// A JWT whose payload is `payloadJson` (header and signature are placeholders).
std::string makeJwt(const std::string& payloadJson);

// A scratch directory removed when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A loopback port nothing listens on, for the life of the process: connections are refused.
int refusedPort();
// Deployment values on loopback only, whose servers refuse connections: tests that want answers
// script the transport or aim these at the local ad service.
OrvexDeployment loopbackDeployment();

// The app key the default service file holds (the local ad service must be told to accept it).
inline constexpr const char* kTestAppKey = "eyJhbGciOiJIUzI1NiJ9.eyJwbGF0Zm9ybSI6ImlvcyJ9.sig";

struct TestSdkOptions {
  // Written as the bundle's orvex_service.json when set.
  std::optional<std::string> serviceFile = std::string("{\"app_key\": \"") + kTestAppKey + "\"}";
  std::vector<std::string> preferredLanguages = {"en-US"};
  InterfaceStyle interfaceStyle = InterfaceStyle::light;
  // Replaces the port's HTTP client; a ScriptedHttpClient is attached to the port's dispatcher.
  std::shared_ptr<HttpClient> http;
  OrvexDeployment deployment = loopbackDeployment();
  // Real time runs the main loop on the caller's thread inside advance() and runUntil().
  headless::TimeMode time = headless::TimeMode::virtualTime;
  // The SDK's own resources; absent: the source tree's.
  std::optional<std::filesystem::path> sdkResourceDirectory;
};

// One "launch": a port (virtual time unless asked) over `dataDir` (shared between launches to test
// persistence), installed as the SDK's platform.
class TestSdk {
 public:
  explicit TestSdk(const std::filesystem::path& dataDir, TestSdkOptions options = {});
  ~TestSdk();
  headless::HeadlessPort& port() { return port_; }
  const std::filesystem::path& resources() const { return resources_; }
  // Advances virtual time, running whatever falls due.
  void advance(double seconds);
  bool logged(const std::string& line) const;
  bool loggedStartingWith(const std::string& prefix) const;
  std::vector<std::string> logLines() const;

 private:
  std::filesystem::path resources_;
  headless::HeadlessPort port_;
};

}  // namespace testing_support
}  // namespace orvex
