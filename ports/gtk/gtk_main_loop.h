#pragma once
// The desktop port's run loops: the GLib main context is the main queue and runs the timers;
// serial and global queues run on threads of their own. Posting never runs a task inline, and a
// timer's firing and a posted task keep their order exactly as on the headless port (both are
// entries of one due-ordered queue that a GLib source drains at default priority, in turns
// bounded so that GTK's frame clock always gets its own).

#include <functional>
#include <memory>

#include "orvex/platform/dispatch.h"

namespace orvex::linux_port {
class RealTimeLoop;
}

namespace orvex::gtk {

class GtkMainLoop : public Dispatcher, public Clock {
 public:
  // Call on the thread that runs the default GLib main context (after gtk_init()).
  GtkMainLoop();
  ~GtkMainLoop() override;
  GtkMainLoop(const GtkMainLoop&) = delete;
  GtkMainLoop& operator=(const GtkMainLoop&) = delete;

  // Dispatcher
  std::shared_ptr<TaskQueue> mainQueue() override;
  std::shared_ptr<TaskQueue> makeSerialQueue(const std::string& label,
                                             QueuePriority priority) override;
  std::shared_ptr<TaskQueue> globalQueue(QueuePriority priority) override;
  std::unique_ptr<Timer> scheduleTimer(Duration interval, bool repeats, Task fire) override;
  bool isMainThread() const override;

  // Clock: the system's clock and local time zone.
  WallTime now() const override;
  MonotonicTime monotonicNow() const override;
  int utcOffsetSeconds(WallTime at) const override;

  // Iterates the GLib main context on the calling (main) thread: for hosts without a loop of
  // their own, tests and the demo. GTK applications just run theirs.
  void runFor(double seconds);
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds);

 private:
  struct Source;
  std::unique_ptr<linux_port::RealTimeLoop> loop_;
  Source* source_ = nullptr;
};

}  // namespace orvex::gtk
