#pragma once
// Deterministic time for tests: every queue, delayed task and timer runs on the thread that calls
// advance(), in due-time order (FIFO among equal times), and the clock moves only when told to.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <thread>
#include <vector>

#include "orvex/platform/dispatch.h"

namespace orvex::headless {

class ORVEX_API VirtualTime : public Dispatcher,
                              public Clock,
                              public std::enable_shared_from_this<VirtualTime> {
 public:
  // Must be owned by a std::shared_ptr (queues and timers refer back to it weakly). The
  // constructing thread is the main thread.
  explicit VirtualTime(WallTime start);
  ~VirtualTime() override;

  // Dispatcher
  std::shared_ptr<TaskQueue> mainQueue() override;
  std::shared_ptr<TaskQueue> makeSerialQueue(const std::string& label,
                                             QueuePriority priority) override;
  std::shared_ptr<TaskQueue> globalQueue(QueuePriority priority) override;
  std::unique_ptr<Timer> scheduleTimer(Duration interval, bool repeats, Task fire) override;
  bool isMainThread() const override;

  // Clock
  WallTime now() const override;
  MonotonicTime monotonicNow() const override;
  int utcOffsetSeconds(WallTime at) const override;

  // Runs everything that falls due up to now + seconds, including work those tasks post, then
  // leaves the clock at now + seconds. Calls made from inside a task do nothing.
  void advance(double seconds);
  void advance(Duration by);
  void runUntilIdle() { advance(Duration::zero()); }
  // Advances to the next due task or timer firing (at most `limit` ahead) and runs what is due
  // then; false when nothing is due within `limit`.
  bool runNext(Duration limit);
  // Due time of the earliest task or live timer, if any.
  std::optional<WallTime> nextDueTime() const;
  // Tasks and live timer firings waiting to run.
  std::size_t pendingTaskCount() const;
  // Drops every waiting task and timer firing (breaks ownership cycles at the end of a test).
  void dropPendingTasks();

  // The local time zone: a fixed offset (default 0) or a function of the instant.
  void setUtcOffsetSeconds(int seconds);
  void setUtcOffsetFunction(std::function<int(WallTime)> offset);
  // Moves the wall clock alone (the user changing the date); monotonic time and due times stay.
  void shiftWallClock(Duration by);

  // Work running outside virtual time (HTTP transfers) that will post back; runUntil-style
  // drivers wait for it in real time before moving the clock.
  void beginExternalWork();
  void endExternalWork();
  std::size_t externalWorkCount() const;
  // Blocks up to `timeout` of real time until something is posted or external work ends.
  void waitForActivity(std::chrono::milliseconds timeout);

 private:
  class Queue;
  class VirtualTimer;
  struct TimerState;
  struct Entry {
    Duration due;
    std::uint64_t seq;
    Task task;
    const Queue* queue;  // nullptr: timer firing
    std::shared_ptr<TimerState> timer;
  };
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const {
      return a.due != b.due ? a.due > b.due : a.seq > b.seq;
    }
  };

  void enqueue(Duration delay, Task task, const Queue* queue, std::shared_ptr<TimerState> timer);
  void cancelTimer(const std::shared_ptr<TimerState>& timer);
  bool popDue(Duration limit, Entry& out);
  void runEntry(Entry& entry);

  const std::thread::id owner_;
  const WallTime start_;
  mutable std::mutex mutex_;
  std::condition_variable activity_;
  std::priority_queue<Entry, std::vector<Entry>, Later> heap_;
  std::uint64_t nextSeq_ = 0;
  std::uint64_t activityCount_ = 0;
  Duration elapsed_{0};
  Duration wallShift_{0};
  std::size_t liveTimerFirings_ = 0;
  std::size_t externalWork_ = 0;
  int fixedOffset_ = 0;
  std::function<int(WallTime)> offsetFunction_;
  std::atomic<bool> advancing_{false};

  std::shared_ptr<Queue> main_;
  std::map<QueuePriority, std::shared_ptr<Queue>> globals_;
};

}  // namespace orvex::headless
