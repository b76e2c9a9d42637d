#include "ports/linux/real_time_loop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <queue>
#include <thread>
#include <utility>
#include <vector>

#include "ports/linux/task_guard.h"

namespace orvex::linux_port {
namespace {

using Steady = std::chrono::steady_clock;
using SteadyTime = Steady::time_point;

constexpr int kGlobalPoolThreads = 3;
constexpr Duration kMinRepeatInterval = std::chrono::microseconds(100);

thread_local std::uint64_t tlsCurrentQueue = 0;
thread_local const void* tlsCurrentLoop = nullptr;

// Identifies queues across every loop in the process (each loop's main queue included).
std::atomic<std::uint64_t> nextQueueId{1};

struct TimerState {
  std::mutex mutex;
  bool valid = true;
  bool repeats = false;
  Duration interval{0};
  Task fire;  // empty while firing and once invalid
};

struct Entry {
  SteadyTime due;
  std::uint64_t seq = 0;
  Task task;
  std::uint64_t queueId = 0;
  std::shared_ptr<TimerState> timer;
};

struct Later {
  bool operator()(const Entry& a, const Entry& b) const {
    return a.due != b.due ? a.due > b.due : a.seq > b.seq;
  }
};

// A due-ordered set of tasks drained by one or more threads.
class LoopState {
 public:
  bool post(SteadyTime due, Task task, std::uint64_t queueId,
            std::shared_ptr<TimerState> timer = nullptr) {
    std::function<void()> wake;
    {
      std::lock_guard lock(mutex_);
      if (closed_) return false;
      heap_.push(Entry{due, seq_++, std::move(task), queueId, std::move(timer)});
      wake = wake_;
    }
    cv_.notify_one();
    if (wake) wake();
    return true;
  }

  // For a loop driven from outside (another toolkit's main loop): told after every post.
  void setWake(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
  }
  // The entry due by now that was posted before `seqLimit`, without waiting.
  std::optional<Entry> popDue(std::uint64_t seqLimit) {
    std::lock_guard lock(mutex_);
    if (closed_ || heap_.empty()) return std::nullopt;
    const Entry& top = heap_.top();
    if (top.due > Steady::now() || top.seq >= seqLimit) return std::nullopt;
    Entry e = std::move(const_cast<Entry&>(top));
    heap_.pop();
    return e;
  }
  std::optional<SteadyTime> nextDue() {
    std::lock_guard lock(mutex_);
    if (closed_ || heap_.empty()) return std::nullopt;
    return heap_.top().due;
  }
  std::uint64_t nextSeq() {
    std::lock_guard lock(mutex_);
    return seq_;
  }

  // The next entry due by now, waiting until `until` at most. Empty when the time is up, `stop`
  // is set, the state is closed, or it is retired and has nothing left.
  std::optional<Entry> next(SteadyTime until, const std::atomic<bool>* stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (closed_ || (stop && stop->load())) return std::nullopt;
      if (retired_ && heap_.empty()) return std::nullopt;
      const auto now = Steady::now();
      if (!heap_.empty() && heap_.top().due <= now) {
        Entry e = std::move(const_cast<Entry&>(heap_.top()));
        heap_.pop();
        return e;
      }
      if (now >= until) return std::nullopt;
      const auto wakeAt = heap_.empty() ? until : std::min(until, heap_.top().due);
      cv_.wait_until(lock, wakeAt);
    }
  }

  // Closed, or retired with nothing left: its threads may leave.
  bool finished() {
    std::lock_guard lock(mutex_);
    return closed_ || (retired_ && heap_.empty());
  }

  void wakeAll() {
    { std::lock_guard lock(mutex_); }
    cv_.notify_all();
  }

  void retire() {
    {
      std::lock_guard lock(mutex_);
      retired_ = true;
    }
    cv_.notify_all();
  }

  // Rejects further posts and drops what waits (outside the lock: closures may post).
  void close() {
    std::priority_queue<Entry, std::vector<Entry>, Later> dropped;
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
      std::swap(dropped, heap_);
    }
    cv_.notify_all();
    // Timers whose handles outlive the loop become invalid and let go of their closures.
    std::vector<Task> closures;
    while (!dropped.empty()) {
      if (const auto& timer = dropped.top().timer) {
        std::lock_guard lock(timer->mutex);
        timer->valid = false;
        closures.push_back(std::move(timer->fire));
      }
      dropped.pop();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::priority_queue<Entry, std::vector<Entry>, Later> heap_;
  std::uint64_t seq_ = 0;
  bool closed_ = false;
  bool retired_ = false;
  std::function<void()> wake_;
};

class LoopQueue : public TaskQueue {
 public:
  LoopQueue(std::shared_ptr<LoopState> state, std::string label, std::uint64_t id,
            bool retireOnDestroy)
      : state_(std::move(state)), label_(std::move(label)), id_(id), retire_(retireOnDestroy) {}
  ~LoopQueue() override {
    if (retire_) state_->retire();
  }
  void post(Task task) override { state_->post(Steady::now(), std::move(task), id_); }
  void postAfter(Duration delay, Task task) override {
    state_->post(Steady::now() + std::max(delay, Duration::zero()), std::move(task), id_);
  }
  const std::string& label() const override { return label_; }
  bool isCurrent() const override { return tlsCurrentQueue == id_; }

 private:
  std::shared_ptr<LoopState> state_;
  std::string label_;
  std::uint64_t id_;
  bool retire_;
};

class LoopTimer : public Timer {
 public:
  explicit LoopTimer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
  ~LoopTimer() override { invalidate(); }
  void invalidate() override {
    Task dropped;
    std::lock_guard lock(state_->mutex);
    state_->valid = false;
    dropped = std::move(state_->fire);
  }
  bool isValid() const override {
    std::lock_guard lock(state_->mutex);
    return state_->valid;
  }

 private:
  std::shared_ptr<TimerState> state_;
};

// Runs one entry as a task of its queue; a timer firing reschedules itself when still valid.
void runEntry(Entry& entry, LoopState& state, const void* loop) {
  const auto savedQueue = std::exchange(tlsCurrentQueue, entry.queueId);
  const void* savedLoop = std::exchange(tlsCurrentLoop, loop);
  if (!entry.timer) {
    runGuarded(entry.task);
    entry.task = nullptr;
  } else {
    auto& timer = *entry.timer;
    Task fire;
    {
      std::lock_guard lock(timer.mutex);
      if (timer.valid) fire = std::move(timer.fire);
    }
    if (fire) {
      runGuarded(fire);
      Task dropped;
      bool again = false;
      {
        std::lock_guard lock(timer.mutex);
        if (timer.valid && timer.repeats) {
          timer.fire = std::move(fire);
          again = true;
        } else {
          timer.valid = false;
          dropped = std::move(fire);
        }
      }
      if (again) {
        // Missed firings are skipped rather than run in a burst.
        auto due = entry.due + timer.interval;
        const auto now = Steady::now();
        if (due <= now) due = now + timer.interval;
        state.post(due, nullptr, entry.queueId, entry.timer);
      }
    }
  }
  tlsCurrentQueue = savedQueue;
  tlsCurrentLoop = savedLoop;
}

// Waiting "forever" in bounded slices keeps clock arithmetic far from overflow.
SteadyTime farFuture() {
  return Steady::now() + std::chrono::hours(24);
}

void drain(LoopState& state, const void* loop) {
  for (;;) {
    auto entry = state.next(farFuture(), nullptr);
    if (entry) {
      runEntry(*entry, state, loop);
    } else if (state.finished()) {
      return;
    }
  }
}

void joinOrDetach(std::thread& t) {
  if (!t.joinable()) return;
  // The last owner may let go of the loop from one of its own threads.
  if (t.get_id() == std::this_thread::get_id()) {
    t.detach();
  } else {
    t.join();
  }
}

}  // namespace

// How a serial queue's thread tells the loop it is done. The threads are detached, so one whose
// queue was released does not linger as an unjoined thread while the loop lives on (the SDK's
// process-wide state keeps the loop for the life of the process); the loop's destructor waits
// for the signal instead of joining.
struct WorkerExit {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  std::thread::id thread;

  void signal() {
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    cv.notify_all();
  }
  bool isDone() {
    std::lock_guard lock(mutex);
    return done;
  }
  void wait() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [this] { return done; });
  }
};

struct RealTimeLoop::Impl {
  struct Worker {
    std::shared_ptr<LoopState> state;
    std::shared_ptr<WorkerExit> exit;
  };

  std::shared_ptr<LoopState> main = std::make_shared<LoopState>();
  std::shared_ptr<LoopState> global = std::make_shared<LoopState>();
  const std::uint64_t mainQueueId = nextQueueId.fetch_add(1);
  std::shared_ptr<TaskQueue> mainQueue;
  std::atomic<std::thread::id> mainThread;
  std::atomic<std::thread::id> activeDriver;
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> shuttingDown{false};

  std::mutex mutex;  // guards what follows
  std::map<QueuePriority, std::shared_ptr<TaskQueue>> globals;
  std::vector<std::thread> pool;
  std::vector<Worker> workers;
  std::thread ownThread;

  void reapFinishedWorkers() {
    std::lock_guard lock(mutex);
    std::erase_if(workers, [](Worker& w) { return w.exit->isDone(); });
  }

  enum class DriveEnd { done, timeUp, stopped, busy };

  // Drives the main run loop on this thread until `until` (forever when absent), stop(), or
  // `done` holds.
  DriveEnd drive(std::optional<SteadyTime> until, const std::function<bool()>* done,
                 const void* loop) {
    const auto me = std::this_thread::get_id();
    auto none = std::thread::id();
    const bool outermost = activeDriver.load() != me;
    if (outermost && !activeDriver.compare_exchange_strong(none, me)) return DriveEnd::busy;
    mainThread = me;
    DriveEnd end;
    for (;;) {
      if (done && (*done)()) {
        end = DriveEnd::done;
        break;
      }
      auto slice = until ? *until : farFuture();
      if (done) slice = std::min(slice, Steady::now() + std::chrono::milliseconds(10));
      if (auto entry = main->next(slice, &stopRequested)) {
        runEntry(*entry, *main, loop);
        continue;
      }
      if (stopRequested.load() || shuttingDown.load()) {
        end = DriveEnd::stopped;
        break;
      }
      if (until && Steady::now() >= *until) {
        end = DriveEnd::timeUp;
        break;
      }
    }
    if (end != DriveEnd::done && done && (*done)()) end = DriveEnd::done;
    if (outermost) {
      stopRequested = false;
      activeDriver = std::thread::id();
    }
    return end;
  }
};

RealTimeLoop::RealTimeLoop() : impl_(std::make_unique<Impl>()) {
  impl_->mainThread = std::this_thread::get_id();
  impl_->mainQueue =
      std::make_shared<LoopQueue>(impl_->main, "com.apple.main-thread", impl_->mainQueueId, false);
  for (int i = 0; i < kGlobalPoolThreads; ++i) {
    impl_->pool.emplace_back([state = impl_->global, loop = this] {
      setCurrentThreadName("orvex.global");
      drain(*state, loop);
    });
  }
}

RealTimeLoop::~RealTimeLoop() {
  impl_->shuttingDown = true;
  impl_->stopRequested = true;
  impl_->main->wakeAll();
  joinOrDetach(impl_->ownThread);
  impl_->main->close();
  impl_->global->close();
  std::vector<Impl::Worker> workers;
  {
    std::lock_guard lock(impl_->mutex);
    workers = std::move(impl_->workers);
  }
  for (auto& w : workers) w.state->close();
  // The last owner may let go of the loop from one of its own threads: that one is not waited
  // for (it is the caller).
  for (auto& w : workers)
    if (w.exit->thread != std::this_thread::get_id()) w.exit->wait();
  for (auto& t : impl_->pool) joinOrDetach(t);
}

std::shared_ptr<TaskQueue> RealTimeLoop::mainQueue() {
  return impl_->mainQueue;
}

std::shared_ptr<TaskQueue> RealTimeLoop::makeSerialQueue(const std::string& label,
                                                         QueuePriority /*priority*/) {
  impl_->reapFinishedWorkers();
  auto state = std::make_shared<LoopState>();
  auto exit = std::make_shared<WorkerExit>();
  const auto id = nextQueueId.fetch_add(1);
  auto queue = std::make_shared<LoopQueue>(state, label, id, true);
  std::lock_guard lock(impl_->mutex);
  if (impl_->shuttingDown) {
    state->close();
    return queue;
  }
  std::thread t([state, exit, label, loop = this] {
    setCurrentThreadName(label);
    drain(*state, loop);
    exit->signal();  // nothing of the loop is touched after this
  });
  exit->thread = t.get_id();
  t.detach();
  impl_->workers.push_back(Impl::Worker{state, exit});
  return queue;
}

std::shared_ptr<TaskQueue> RealTimeLoop::globalQueue(QueuePriority priority) {
  std::lock_guard lock(impl_->mutex);
  auto& q = impl_->globals[priority];
  if (!q) {
    q = std::make_shared<LoopQueue>(impl_->global, globalQueueLabel(priority),
                                    nextQueueId.fetch_add(1), false);
  }
  return q;
}

std::unique_ptr<Timer> RealTimeLoop::scheduleTimer(Duration interval, bool repeats, Task fire) {
  auto state = std::make_shared<TimerState>();
  state->repeats = repeats;
  state->interval = std::max(interval, repeats ? kMinRepeatInterval : Duration::zero());
  state->fire = std::move(fire);
  impl_->main->post(Steady::now() + state->interval, nullptr, impl_->mainQueueId, state);
  return std::make_unique<LoopTimer>(std::move(state));
}

bool RealTimeLoop::isMainThread() const {
  return std::this_thread::get_id() == impl_->mainThread.load();
}

WallTime RealTimeLoop::now() const {
  return std::chrono::system_clock::now();
}

MonotonicTime RealTimeLoop::monotonicNow() const {
  return Steady::now();
}

int RealTimeLoop::utcOffsetSeconds(WallTime at) const {
  const std::time_t t = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
  if (!localtime_r(&t, &local)) return 0;
  return static_cast<int>(local.tm_gmtoff);
}

void RealTimeLoop::runFor(double seconds) {
  impl_->drive(Steady::now() + secondsToDuration(std::max(seconds, 0.0)), nullptr, this);
}

bool RealTimeLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  return impl_->drive(Steady::now() + secondsToDuration(std::max(timeoutSeconds, 0.0)), &done,
                      this) == Impl::DriveEnd::done;
}

void RealTimeLoop::run() {
  impl_->drive(std::nullopt, nullptr, this);
}

void RealTimeLoop::stop() {
  impl_->stopRequested = true;
  impl_->main->wakeAll();
}

void RealTimeLoop::driveMainFromOutside(std::function<void()> wake) {
  impl_->mainThread = std::this_thread::get_id();
  impl_->main->setWake(std::move(wake));
}

std::optional<MonotonicTime> RealTimeLoop::nextMainTaskDue() const {
  return impl_->main->nextDue();
}

void RealTimeLoop::runDueMainTasks(std::optional<Duration> budget) {
  // Only what was due when the turn began: work that keeps posting itself waits for the next
  // turn, so the other loop's own events are never starved.
  const std::uint64_t limit = impl_->main->nextSeq();
  const auto until =
      budget ? std::optional(std::chrono::steady_clock::now() + *budget) : std::nullopt;
  while (auto entry = impl_->main->popDue(limit)) {
    runEntry(*entry, *impl_->main, this);
    if (until && std::chrono::steady_clock::now() >= *until) break;
  }
}

void RealTimeLoop::startOwnThread() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->ownThread.joinable() || impl_->shuttingDown) return;
  impl_->ownThread = std::thread([this] {
    setCurrentThreadName("orvex.main");
    while (!impl_->shuttingDown.load()) {
      // stop() means nothing to a loop that owns its thread; another driver makes it wait.
      if (impl_->drive(std::nullopt, nullptr, this) == Impl::DriveEnd::busy) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
  });
  impl_->mainThread = impl_->ownThread.get_id();
}

bool RealTimeLoop::hasOwnThread() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->ownThread.joinable();
}

}  // namespace orvex::linux_port
