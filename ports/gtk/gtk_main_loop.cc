#include "ports/gtk/gtk_main_loop.h"

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "ports/linux/real_time_loop.h"

namespace orvex::gtk {
namespace {

using Steady = std::chrono::steady_clock;

gint millisecondsUntil(MonotonicTime due) {
  const auto left = due - Steady::now();
  if (left <= Duration::zero()) return 0;
  // Rounded up: waking early would only spin once more.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<gint>(std::min<long long>(ms, G_MAXINT));
}

}  // namespace

// A GLib source that is ready whenever the loop's earliest main-queue entry is due. It runs at
// default priority, above GTK's layout and paint (GDK_PRIORITY_REDRAW) and idles, which GLib
// dispatches only in an iteration where nothing of higher priority is ready. So a turn is bounded
// (kTurnBudget), and when work is still due after it the source sits out one iteration: a flood
// of posts delays a frame by one turn at most and never stops the frame clock.
struct GtkMainLoop::Source {
  static constexpr auto kTurnBudget = std::chrono::milliseconds(8);

  GSource base;
  linux_port::RealTimeLoop* loop;
  bool yielding;

  static Source* of(GSource* source) { return reinterpret_cast<Source*>(source); }
  static gboolean prepare(GSource* source, gint* timeout) {
    if (of(source)->yielding) {
      *timeout = 0;  // not ready this iteration, but no sleeping either
      return FALSE;
    }
    auto due = of(source)->loop->nextMainTaskDue();
    if (!due) {
      *timeout = -1;
      return FALSE;
    }
    *timeout = millisecondsUntil(*due);
    return *timeout == 0;
  }
  static gboolean check(GSource* source) {
    if (std::exchange(of(source)->yielding, false)) return FALSE;
    auto due = of(source)->loop->nextMainTaskDue();
    return due && *due <= Steady::now();
  }
  static gboolean dispatch(GSource* source, GSourceFunc, gpointer) {
    auto* self = of(source);
    self->loop->runDueMainTasks(kTurnBudget);
    auto due = self->loop->nextMainTaskDue();
    self->yielding = due && *due <= Steady::now();
    return G_SOURCE_CONTINUE;
  }
  static GSourceFuncs funcs;
};

GSourceFuncs GtkMainLoop::Source::funcs = {&Source::prepare, &Source::check, &Source::dispatch,
                                           nullptr,          nullptr,        nullptr};

GtkMainLoop::GtkMainLoop() : loop_(std::make_unique<linux_port::RealTimeLoop>()) {
  GMainContext* context = g_main_context_default();
  // Posts from other threads wake the context; g_main_context_wakeup is thread-safe.
  loop_->driveMainFromOutside([context] { g_main_context_wakeup(context); });
  auto* source = g_source_new(&Source::funcs, sizeof(Source));
  source_ = reinterpret_cast<Source*>(source);
  source_->loop = loop_.get();
  source_->yielding = false;
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_name(source, "orvex main queue");
  g_source_attach(source, context);
}

GtkMainLoop::~GtkMainLoop() {
  auto* source = reinterpret_cast<GSource*>(source_);
  g_source_destroy(source);
  g_source_unref(source);
}

std::shared_ptr<TaskQueue> GtkMainLoop::mainQueue() {
  return loop_->mainQueue();
}

std::shared_ptr<TaskQueue> GtkMainLoop::makeSerialQueue(const std::string& label,
                                                        QueuePriority priority) {
  return loop_->makeSerialQueue(label, priority);
}

std::shared_ptr<TaskQueue> GtkMainLoop::globalQueue(QueuePriority priority) {
  return loop_->globalQueue(priority);
}

std::unique_ptr<Timer> GtkMainLoop::scheduleTimer(Duration interval, bool repeats, Task fire) {
  return loop_->scheduleTimer(interval, repeats, std::move(fire));
}

bool GtkMainLoop::isMainThread() const {
  return loop_->isMainThread();
}

WallTime GtkMainLoop::now() const {
  return loop_->now();
}

MonotonicTime GtkMainLoop::monotonicNow() const {
  return loop_->monotonicNow();
}

int GtkMainLoop::utcOffsetSeconds(WallTime at) const {
  return loop_->utcOffsetSeconds(at);
}

void GtkMainLoop::runFor(double seconds) {
  runUntil([] { return false; }, seconds);
}

bool GtkMainLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  GMainContext* context = g_main_context_default();
  const auto deadline = Steady::now() + secondsToDuration(std::max(timeoutSeconds, 0.0));
  for (;;) {
    if (done()) return true;
    const auto now = Steady::now();
    if (now >= deadline) return false;
    // Bounded waits: `done` may turn true from another thread without waking the context.
    const guint slice = static_cast<guint>(std::clamp<long long>(
        std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count(), 1, 10));
    guint tick = g_timeout_add(
        slice, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr);
    g_main_context_iteration(context, TRUE);
    if (GSource* s = g_main_context_find_source_by_id(context, tick)) g_source_destroy(s);
  }
}

}  // namespace orvex::gtk
