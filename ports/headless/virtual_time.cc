#include "ports/headless/virtual_time.h"

#include <algorithm>
#include <utility>

#include "ports/linux/task_guard.h"

namespace orvex::headless {

using linux_port::globalQueueLabel;
using linux_port::runGuarded;
namespace {

thread_local const void* tlsCurrentQueue = nullptr;
thread_local const void* tlsCurrentOwner = nullptr;

// Repeating timers at zero interval would never let advance() finish.
constexpr Duration kMinRepeatInterval = std::chrono::microseconds(100);

}  // namespace

class VirtualTime::Queue : public TaskQueue {
 public:
  Queue(std::weak_ptr<VirtualTime> owner, std::string label, bool isMain)
      : owner_(std::move(owner)), label_(std::move(label)), isMain_(isMain) {}
  void post(Task task) override { postAfter(Duration::zero(), std::move(task)); }
  void postAfter(Duration delay, Task task) override {
    if (auto vt = owner_.lock())
      vt->enqueue(std::max(delay, Duration::zero()), std::move(task), this, nullptr);
  }
  const std::string& label() const override { return label_; }
  bool isCurrent() const override { return tlsCurrentQueue == this; }
  bool isMain() const { return isMain_; }

 private:
  std::weak_ptr<VirtualTime> owner_;
  std::string label_;
  bool isMain_;
};

struct VirtualTime::TimerState {
  Duration interval;
  bool repeats;
  bool valid = true;
  bool scheduled = false;  // has an entry in the heap
  Task fire;
};

class VirtualTime::VirtualTimer : public Timer {
 public:
  VirtualTimer(std::weak_ptr<VirtualTime> owner, std::shared_ptr<TimerState> state)
      : owner_(std::move(owner)), state_(std::move(state)) {}
  ~VirtualTimer() override { invalidate(); }
  void invalidate() override {
    if (auto vt = owner_.lock()) {
      vt->cancelTimer(state_);
    } else {
      state_->valid = false;
      state_->fire = nullptr;
    }
  }
  bool isValid() const override {
    if (auto vt = owner_.lock()) {
      std::lock_guard lock(vt->mutex_);
      return state_->valid;
    }
    return false;
  }

 private:
  std::weak_ptr<VirtualTime> owner_;
  std::shared_ptr<TimerState> state_;
};

VirtualTime::VirtualTime(WallTime start) : owner_(std::this_thread::get_id()), start_(start) {}

VirtualTime::~VirtualTime() = default;

std::shared_ptr<TaskQueue> VirtualTime::mainQueue() {
  std::lock_guard lock(mutex_);
  if (!main_) main_ = std::make_shared<Queue>(weak_from_this(), "com.apple.main-thread", true);
  return main_;
}

std::shared_ptr<TaskQueue> VirtualTime::makeSerialQueue(const std::string& label,
                                                        QueuePriority /*priority*/) {
  return std::make_shared<Queue>(weak_from_this(), label, false);
}

std::shared_ptr<TaskQueue> VirtualTime::globalQueue(QueuePriority priority) {
  std::lock_guard lock(mutex_);
  auto& q = globals_[priority];
  if (!q) q = std::make_shared<Queue>(weak_from_this(), globalQueueLabel(priority), false);
  return q;
}

std::unique_ptr<Timer> VirtualTime::scheduleTimer(Duration interval, bool repeats, Task fire) {
  auto state = std::make_shared<TimerState>();
  state->interval = std::max(interval, repeats ? kMinRepeatInterval : Duration::zero());
  state->repeats = repeats;
  state->fire = std::move(fire);
  enqueue(state->interval, nullptr, nullptr, state);
  return std::make_unique<VirtualTimer>(weak_from_this(), std::move(state));
}

bool VirtualTime::isMainThread() const {
  if (std::this_thread::get_id() != owner_) return false;
  if (tlsCurrentOwner != this || tlsCurrentQueue == nullptr) return true;
  return static_cast<const Queue*>(tlsCurrentQueue)->isMain();
}

WallTime VirtualTime::now() const {
  std::lock_guard lock(mutex_);
  return start_ + std::chrono::duration_cast<WallTime::duration>(elapsed_ + wallShift_);
}

MonotonicTime VirtualTime::monotonicNow() const {
  std::lock_guard lock(mutex_);
  // An arbitrary positive origin, so that "time since boot" style values are never zero.
  return MonotonicTime(std::chrono::hours(1)) +
         std::chrono::duration_cast<MonotonicTime::duration>(elapsed_);
}

int VirtualTime::utcOffsetSeconds(WallTime at) const {
  std::function<int(WallTime)> f;
  {
    std::lock_guard lock(mutex_);
    if (!offsetFunction_) return fixedOffset_;
    f = offsetFunction_;
  }
  return f(at);
}

void VirtualTime::setUtcOffsetSeconds(int seconds) {
  std::lock_guard lock(mutex_);
  fixedOffset_ = seconds;
  offsetFunction_ = nullptr;
}

void VirtualTime::setUtcOffsetFunction(std::function<int(WallTime)> offset) {
  std::lock_guard lock(mutex_);
  offsetFunction_ = std::move(offset);
}

void VirtualTime::shiftWallClock(Duration by) {
  std::lock_guard lock(mutex_);
  wallShift_ += by;
}

void VirtualTime::enqueue(Duration delay, Task task, const Queue* queue,
                          std::shared_ptr<TimerState> timer) {
  {
    std::lock_guard lock(mutex_);
    if (timer) {
      timer->scheduled = true;
      ++liveTimerFirings_;
    }
    heap_.push(Entry{elapsed_ + delay, nextSeq_++, std::move(task), queue, std::move(timer)});
    ++activityCount_;
  }
  activity_.notify_all();
}

void VirtualTime::cancelTimer(const std::shared_ptr<TimerState>& timer) {
  Task dropped;
  {
    std::lock_guard lock(mutex_);
    if (!timer->valid) return;
    timer->valid = false;
    if (timer->scheduled) --liveTimerFirings_;
    dropped = std::move(timer->fire);  // empty while the timer is firing
  }
}

bool VirtualTime::popDue(Duration limit, Entry& out) {
  std::lock_guard lock(mutex_);
  while (!heap_.empty()) {
    if (heap_.top().due > limit) return false;
    // priority_queue only hands out const references; the entry is popped right after.
    out = std::move(const_cast<Entry&>(heap_.top()));
    heap_.pop();
    elapsed_ = std::max(elapsed_, out.due);
    if (!out.timer) return true;
    out.timer->scheduled = false;
    if (!out.timer->valid) continue;
    --liveTimerFirings_;
    out.task = std::move(out.timer->fire);
    return true;
  }
  return false;
}

void VirtualTime::runEntry(Entry& entry) {
  const void* savedQueue = std::exchange(tlsCurrentQueue, entry.timer ? main_.get() : entry.queue);
  const void* savedOwner = std::exchange(tlsCurrentOwner, this);
  runGuarded(entry.task);
  tlsCurrentQueue = savedQueue;
  tlsCurrentOwner = savedOwner;
  if (!entry.timer) {
    Task done = std::move(entry.task);
    return;
  }
  auto timer = std::move(entry.timer);
  Task dropped;
  {
    std::lock_guard lock(mutex_);
    if (timer->valid && timer->repeats) {
      timer->fire = std::move(entry.task);
      timer->scheduled = true;
      ++liveTimerFirings_;
      heap_.push(Entry{entry.due + timer->interval, nextSeq_++, nullptr, nullptr, timer});
    } else {
      timer->valid = false;
      dropped = std::move(entry.task);
    }
  }
}

void VirtualTime::advance(double seconds) {
  advance(secondsToDuration(std::max(seconds, 0.0)));
}

void VirtualTime::advance(Duration by) {
  if (advancing_.exchange(true)) return;
  Duration target;
  {
    std::lock_guard lock(mutex_);
    target = elapsed_ + std::max(by, Duration::zero());
  }
  Entry entry;
  while (popDue(target, entry)) runEntry(entry);
  {
    std::lock_guard lock(mutex_);
    elapsed_ = std::max(elapsed_, target);
  }
  advancing_ = false;
}

bool VirtualTime::runNext(Duration limit) {
  Duration next;
  {
    std::lock_guard lock(mutex_);
    // Skip dead timer entries so they do not count as work.
    while (!heap_.empty() && heap_.top().timer && !heap_.top().timer->valid) {
      heap_.top().timer->scheduled = false;
      heap_.pop();
    }
    if (heap_.empty() || heap_.top().due > elapsed_ + limit) return false;
    next = heap_.top().due - elapsed_;
  }
  advance(std::max(next, Duration::zero()));
  return true;
}

std::optional<WallTime> VirtualTime::nextDueTime() const {
  std::lock_guard lock(mutex_);
  auto copy = heap_;
  while (!copy.empty() && copy.top().timer && !copy.top().timer->valid) copy.pop();
  if (copy.empty()) return std::nullopt;
  return start_ + std::chrono::duration_cast<WallTime::duration>(copy.top().due + wallShift_);
}

std::size_t VirtualTime::pendingTaskCount() const {
  std::lock_guard lock(mutex_);
  // Dead timer entries stay in the heap until their time; they are not work.
  std::size_t timerEntries = 0;
  auto copy = heap_;
  while (!copy.empty()) {
    if (copy.top().timer) ++timerEntries;
    copy.pop();
  }
  return heap_.size() - timerEntries + liveTimerFirings_;
}

void VirtualTime::dropPendingTasks() {
  decltype(heap_) dropped;
  {
    std::lock_guard lock(mutex_);
    std::swap(dropped, heap_);
    liveTimerFirings_ = 0;
    auto copy = dropped;
    while (!copy.empty()) {
      if (copy.top().timer) {
        copy.top().timer->scheduled = false;
        copy.top().timer->valid = false;
      }
      copy.pop();
    }
  }
  // Timer closures are dropped outside the lock: their destructors may post.
  std::vector<Task> closures;
  while (!dropped.empty()) {
    if (dropped.top().timer) {
      std::lock_guard lock(mutex_);
      closures.push_back(std::move(dropped.top().timer->fire));
    }
    dropped.pop();
  }
}

void VirtualTime::beginExternalWork() {
  std::lock_guard lock(mutex_);
  ++externalWork_;
}

void VirtualTime::endExternalWork() {
  {
    std::lock_guard lock(mutex_);
    if (externalWork_ > 0) --externalWork_;
    ++activityCount_;
  }
  activity_.notify_all();
}

std::size_t VirtualTime::externalWorkCount() const {
  std::lock_guard lock(mutex_);
  return externalWork_;
}

void VirtualTime::waitForActivity(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const auto seen = activityCount_;
  activity_.wait_for(lock, timeout, [&] { return activityCount_ != seen; });
}

}  // namespace orvex::headless
