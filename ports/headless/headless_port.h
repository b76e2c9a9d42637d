#pragma once
// The headless port: the shared Linux services (files, store, HTTP, device facts, life cycle, log)
// with virtual or real time and an in-memory screen (views, windows, scripted web views), for
// tests, servers and hosts without a display.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/platform.h"
#include "ports/linux/services.h"

namespace orvex::linux_port {
class RealTimeLoop;
class RecordedHaptics;
}  // namespace orvex::linux_port

namespace orvex::headless {

using linux_port::BundleOptions;
using linux_port::DeviceOptions;

class HeadlessMedia;
class HeadlessUserInterface;
class HeadlessWebViews;
class VirtualTime;

enum class TimeMode { real, virtualTime };

struct HeadlessOptions : linux_port::ServiceOptions {
  TimeMode time = TimeMode::real;
  // Virtual time starts here (default: 2026-01-01T00:00:00Z).
  std::optional<WallTime> virtualStart;
  // Real time only: the main run loop runs on a thread of its own instead of the host's.
  bool loopOnOwnThread = false;
};

// The assembled port. The concrete handles let the host drive what a real platform would
// (the run loop, time, the application's life cycle) and inspect the log.
struct ORVEX_API HeadlessPort {
  OrvexPlatform platform;
  std::shared_ptr<VirtualTime> virtualTime;        // set in virtual time
  std::shared_ptr<linux_port::RealTimeLoop> loop;  // set in real time
  std::shared_ptr<linux_port::FileStore> store;
  std::shared_ptr<linux_port::Lifecycle> lifecycle;
  std::shared_ptr<linux_port::MemoryLog> log;
  std::shared_ptr<linux_port::LinuxDevice> device;
  std::shared_ptr<linux_port::LocalFileSystem> files;
  std::shared_ptr<HeadlessUserInterface> ui;
  // Every web view the SDK made, so the host can play its page.
  std::shared_ptr<HeadlessWebViews> webViews;
  // What haptic feedback the SDK asked for.
  std::shared_ptr<linux_port::RecordedHaptics> haptics;
  // Players in the port's time, video views and the recorded audio session.
  std::shared_ptr<HeadlessMedia> media;

  // Runs the main run loop for `seconds` (real time) or advances virtual time by it.
  void runFor(double seconds) const;
  // Runs until `done` holds or `timeoutSeconds` pass; returns whether `done` held. In virtual
  // time the clock jumps from one due task to the next, but never while an HTTP transfer is in
  // flight: then it waits in real time (up to 5 s per call) for the transfer to post back.
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds) const;
};

ORVEX_API HeadlessPort makeHeadlessPort(HeadlessOptions options);

}  // namespace orvex::headless
