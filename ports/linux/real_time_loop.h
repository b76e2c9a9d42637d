#pragma once
// Real threads and the real clock: each serial queue on a thread of its own (named after its
// label), global queues on a small pool, and the main queue plus timers on the main run loop,
// which the host drives (runFor/runUntil/run) or hands to a dedicated thread (startOwnThread).

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "orvex/platform/dispatch.h"

namespace orvex::linux_port {

class ORVEX_API RealTimeLoop : public Dispatcher, public Clock {
 public:
  // The constructing thread is the main thread until another thread drives the loop.
  RealTimeLoop();
  // Stops every thread and joins it; tasks still waiting are dropped.
  ~RealTimeLoop() override;
  RealTimeLoop(const RealTimeLoop&) = delete;
  RealTimeLoop& operator=(const RealTimeLoop&) = delete;

  // Dispatcher
  std::shared_ptr<TaskQueue> mainQueue() override;
  std::shared_ptr<TaskQueue> makeSerialQueue(const std::string& label,
                                             QueuePriority priority) override;
  std::shared_ptr<TaskQueue> globalQueue(QueuePriority priority) override;
  std::unique_ptr<Timer> scheduleTimer(Duration interval, bool repeats, Task fire) override;
  bool isMainThread() const override;

  // Clock (the system's clock and local time zone)
  WallTime now() const override;
  MonotonicTime monotonicNow() const override;
  int utcOffsetSeconds(WallTime at) const override;

  // Drive the main run loop on the calling thread, which becomes the main thread. Nested calls
  // from a main-queue task are allowed; a call while another thread drives returns at once.
  void runFor(double seconds);
  // Runs until `done` holds (checked between tasks and at least every 10 ms) or the timeout.
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds);
  // Runs until stop().
  void run();
  // Makes the current (or the next) run/runFor/runUntil return; safe from any thread.
  void stop();
  // Hands the main run loop to a thread of its own (for hosts that never drive a loop).
  void startOwnThread();
  // For a main loop that another toolkit runs (the GLib main context): the calling thread is the
  // main thread, `wake` is called (from any thread) after every post, and that loop calls
  // runDueMainTasks() when nextMainTaskDue() has come. Posting still never runs inline.
  void driveMainFromOutside(std::function<void()> wake);
  std::optional<MonotonicTime> nextMainTaskDue() const;
  // Runs what was due when the call began, or less: it stops between tasks once `budget` has
  // passed, so that the other loop's own work (a frame) does not wait behind a long queue.
  void runDueMainTasks(std::optional<Duration> budget = std::nullopt);
  bool hasOwnThread() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvex::linux_port
