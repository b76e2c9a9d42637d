#pragma once
// The application life cycle of the Linux ports. The host (or a test) plays the platform:
// send() delivers a notification, expireBackgroundTasks() ends the background time.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/lifecycle.h"

namespace orvex::linux_port {

class ORVEX_API Lifecycle : public AppLifecycle {
 public:
  explicit Lifecycle(std::shared_ptr<Dispatcher> dispatcher, AppState initial = AppState::active);
  ~Lifecycle() override;
  Lifecycle(const Lifecycle&) = delete;
  Lifecycle& operator=(const Lifecycle&) = delete;

  Subscription observe(AppNotification notification, std::function<void()> observer) override;
  AppState state() const override;
  BackgroundTaskId beginBackgroundTask(const std::string& name,
                                       std::function<void()> expiration) override;
  void endBackgroundTask(BackgroundTaskId id) override;

  // An observer for the life of this object (the port's own, such as flushing the store).
  void observeForever(AppNotification notification, std::function<void()> observer);
  // Sets the state at once and calls the observers on the main queue, in registration order
  // (observers removed before their turn are skipped). Safe from any thread.
  void send(AppNotification notification);
  // Posts the expiration handler of every running background task that has not expired yet to
  // the main queue; the tasks stay running until ended.
  void expireBackgroundTasks();
  std::size_t activeBackgroundTaskCount() const;
  // Observers registered and not yet removed (the port's own included).
  std::size_t observerCount() const;
  std::vector<std::string> activeBackgroundTaskNames() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace orvex::linux_port
