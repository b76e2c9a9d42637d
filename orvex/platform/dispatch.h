#pragma once
// Run loops and queues: the main queue (the host's run loop), serial and global queues, timers on
// the main run loop, and the clock. Every delay in the SDK goes through here so that tests run
// in virtual time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "orvex/platform/export.h"

namespace orvex {

using Duration = std::chrono::nanoseconds;
using WallTime = std::chrono::system_clock::time_point;
using MonotonicTime = std::chrono::steady_clock::time_point;
using Task = std::function<void()>;

inline Duration secondsToDuration(double seconds) {
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}
inline std::int64_t unixMillis(WallTime t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

enum class QueuePriority { userInteractive, userInitiated, utility, background };

// Runs tasks in order (serial queues and the main queue) or concurrently (global queues).
// Posting never blocks and never runs the task inline.
class ORVEX_API TaskQueue {
 public:
  virtual ~TaskQueue() = default;
  virtual void post(Task task) = 0;
  virtual void postAfter(Duration delay, Task task) = 0;
  virtual const std::string& label() const = 0;
  // True when called from a task this queue is running.
  virtual bool isCurrent() const = 0;
};

// A timer on the main run loop. Destroying the handle invalidates the timer.
class ORVEX_API Timer {
 public:
  virtual ~Timer() = default;
  virtual void invalidate() = 0;
  virtual bool isValid() const = 0;
};

class ORVEX_API Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  virtual std::shared_ptr<TaskQueue> mainQueue() = 0;
  virtual std::shared_ptr<TaskQueue> makeSerialQueue(const std::string& label,
                                                     QueuePriority priority) = 0;
  virtual std::shared_ptr<TaskQueue> globalQueue(QueuePriority priority) = 0;
  // Fires `fire` on the main run loop after `interval`, and then every `interval` when
  // `repeats`. Must be called on the main thread.
  virtual std::unique_ptr<Timer> scheduleTimer(Duration interval, bool repeats, Task fire) = 0;
  virtual bool isMainThread() const = 0;
};

class ORVEX_API Clock {
 public:
  virtual ~Clock() = default;
  virtual WallTime now() const = 0;
  virtual MonotonicTime monotonicNow() const = 0;
  // Seconds east of UTC of the local time zone at `at` (daylight saving included).
  virtual int utcOffsetSeconds(WallTime at) const = 0;
};

}  // namespace orvex
