#pragma once
// The headless port: real files, store, HTTP, clock and run loops for Linux hosts, the demo and
// the tests, with an in-memory screen (views, windows, scripted web views).

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/platform.h"

namespace orvex::headless {

class FileStore;
class HeadlessDevice;
class HeadlessUserInterface;
class HeadlessWebViews;
class Lifecycle;
class LocalFileSystem;
class MemoryLog;
class RealTimeLoop;
class VirtualTime;

// Device facts; fromMachine() reads sensible values from this Linux machine.
struct DeviceOptions {
  std::string systemVersion = "17.0";
  std::string model = "Headless";
  ScreenSize screen{390, 844};
  InterfaceStyle interfaceStyle = InterfaceStyle::light;
  std::vector<std::string> preferredLanguages = {"en-US"};
  std::string timeZoneIdentifier = "UTC";
  int timeZoneOffsetSeconds = 0;
  TrackingAuthorization tracking = TrackingAuthorization::notDetermined;
  bool advertisingTrackingEnabled = false;
  std::optional<std::string> advertisingIdentifier;
  std::optional<std::string> webViewUserAgent =
      "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) OrvexHeadless";

  static DeviceOptions fromMachine();
};

struct BundleOptions {
  std::optional<std::string> bundleIdentifier = "com.example.host";
  std::map<std::string, Value, std::less<>> info = {{"CFBundleShortVersionString", "1.0"},
                                                    {"CFBundleVersion", "1"}};
  // Holds orvex_service.json; absent means the host has no resources.
  std::optional<std::filesystem::path> resourceDirectory;
  // The SDK's own resources; absent means "find them": installed data directory or build tree.
  std::optional<std::filesystem::path> sdkResourceDirectory;
};

enum class TimeMode { real, virtualTime };

struct HeadlessOptions {
  TimeMode time = TimeMode::real;
  // Store suites live in dataDirectory/"defaults", caches in dataDirectory/"caches", temporary
  // files in dataDirectory/"tmp". Empty: a new directory under the system's temporary directory.
  std::filesystem::path dataDirectory;
  DeviceOptions device;
  BundleOptions bundle;
  OrvexDeployment deployment;
  // Echo every log line to stderr as well as keeping it in memory.
  bool echoLog = false;
  // Keep only this many newest log lines (0: all).
  std::size_t logCapacity = 0;
  // Virtual time starts here (default: 2026-01-01T00:00:00Z).
  std::optional<WallTime> virtualStart;
  // Replaces the libcurl client (tests use a scripted transport).
  std::shared_ptr<HttpClient> http;
  // Real time only: the main run loop runs on a thread of its own instead of the host's.
  bool loopOnOwnThread = false;
};

// The assembled port. The concrete handles let the host drive what a real platform would
// (the run loop, time, the application's life cycle) and inspect the log.
struct HeadlessPort {
  OrvexPlatform platform;
  std::shared_ptr<VirtualTime> virtualTime;  // set in virtual time
  std::shared_ptr<RealTimeLoop> loop;        // set in real time
  std::shared_ptr<FileStore> store;
  std::shared_ptr<Lifecycle> lifecycle;
  std::shared_ptr<MemoryLog> log;
  std::shared_ptr<HeadlessDevice> device;
  std::shared_ptr<LocalFileSystem> files;
  std::shared_ptr<HeadlessUserInterface> ui;
  // Every web view the SDK made, so the host can play its page.
  std::shared_ptr<HeadlessWebViews> webViews;

  // Runs the main run loop for `seconds` (real time) or advances virtual time by it.
  void runFor(double seconds) const;
  // Runs until `done` holds or `timeoutSeconds` pass; returns whether `done` held. In virtual
  // time the clock jumps from one due task to the next, but never while an HTTP transfer is in
  // flight: then it waits in real time (up to 5 s per call) for the transfer to post back.
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds) const;
};

HeadlessPort makeHeadlessPort(HeadlessOptions options);

}  // namespace orvex::headless
