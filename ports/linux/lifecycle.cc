#include "ports/linux/lifecycle.h"

#include <map>
#include <mutex>
#include <utility>

namespace orvex::linux_port {

struct Lifecycle::Impl {
  struct Observer {
    std::uint64_t id;
    AppNotification notification;
    std::shared_ptr<std::function<void()>> call;
  };
  struct BackgroundTask {
    std::string name;
    std::function<void()> expiration;
    bool expired = false;
  };

  std::shared_ptr<TaskQueue> main;
  mutable std::mutex mutex;
  AppState state;
  std::uint64_t nextObserver = 1;
  std::vector<Observer> observers;
  BackgroundTaskId nextTask = 1;
  std::map<BackgroundTaskId, BackgroundTask> tasks;

  std::uint64_t add(AppNotification n, std::function<void()> f) {
    std::lock_guard lock(mutex);
    const auto id = nextObserver++;
    observers.push_back({id, n, std::make_shared<std::function<void()>>(std::move(f))});
    return id;
  }
  void removeObserver(std::uint64_t id) {
    std::shared_ptr<std::function<void()>> dropped;  // released outside the lock
    std::lock_guard lock(mutex);
    for (auto it = observers.begin(); it != observers.end(); ++it) {
      if (it->id == id) {
        dropped = std::move(it->call);
        observers.erase(it);
        return;
      }
    }
  }
  bool stillObserving(std::uint64_t id) {
    std::lock_guard lock(mutex);
    for (const auto& o : observers) {
      if (o.id == id) return true;
    }
    return false;
  }
};

Lifecycle::Lifecycle(std::shared_ptr<Dispatcher> dispatcher, AppState initial)
    : impl_(std::make_shared<Impl>()) {
  impl_->main = dispatcher->mainQueue();
  impl_->state = initial;
}

Lifecycle::~Lifecycle() = default;

Subscription Lifecycle::observe(AppNotification notification, std::function<void()> observer) {
  const auto id = impl_->add(notification, std::move(observer));
  return Subscription([weak = std::weak_ptr<Impl>(impl_), id] {
    if (auto impl = weak.lock()) impl->removeObserver(id);
  });
}

void Lifecycle::observeForever(AppNotification notification, std::function<void()> observer) {
  impl_->add(notification, std::move(observer));
}

std::size_t Lifecycle::observerCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->observers.size();
}

AppState Lifecycle::state() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state;
}

void Lifecycle::send(AppNotification notification) {
  {
    std::lock_guard lock(impl_->mutex);
    switch (notification) {
      case AppNotification::didEnterBackground:
      case AppNotification::willTerminate:
        impl_->state = AppState::background;
        break;
      case AppNotification::willEnterForeground:
      case AppNotification::willResignActive:
        impl_->state = AppState::inactive;
        break;
      case AppNotification::didBecomeActive:
        impl_->state = AppState::active;
        break;
    }
  }
  impl_->main->post([weak = std::weak_ptr<Impl>(impl_), notification] {
    auto impl = weak.lock();
    if (!impl) return;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<std::function<void()>>>> calls;
    {
      std::lock_guard lock(impl->mutex);
      for (const auto& o : impl->observers) {
        if (o.notification == notification) calls.emplace_back(o.id, o.call);
      }
    }
    for (auto& [id, call] : calls) {
      if (impl->stillObserving(id) && *call) (*call)();
    }
  });
}

BackgroundTaskId Lifecycle::beginBackgroundTask(const std::string& name,
                                                std::function<void()> expiration) {
  std::lock_guard lock(impl_->mutex);
  const auto id = impl_->nextTask++;
  impl_->tasks.emplace(id, Impl::BackgroundTask{name, std::move(expiration)});
  return id;
}

void Lifecycle::endBackgroundTask(BackgroundTaskId id) {
  Impl::BackgroundTask dropped;  // released outside the lock
  std::lock_guard lock(impl_->mutex);
  auto it = impl_->tasks.find(id);
  if (it == impl_->tasks.end()) return;
  dropped = std::move(it->second);
  impl_->tasks.erase(it);
}

void Lifecycle::expireBackgroundTasks() {
  std::vector<std::pair<BackgroundTaskId, std::function<void()>>> handlers;
  {
    std::lock_guard lock(impl_->mutex);
    for (auto& [id, task] : impl_->tasks) {
      if (task.expired) continue;
      task.expired = true;
      handlers.emplace_back(id, std::move(task.expiration));
    }
  }
  for (auto& [id, handler] : handlers) {
    if (handler) impl_->main->post(std::move(handler));
  }
}

std::size_t Lifecycle::activeBackgroundTaskCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->tasks.size();
}

std::vector<std::string> Lifecycle::activeBackgroundTaskNames() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::string> names;
  for (const auto& [id, task] : impl_->tasks) names.push_back(task.name);
  return names;
}

}  // namespace orvex::linux_port
