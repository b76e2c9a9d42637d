#pragma once
// Application life cycle: the notifications, the application state and background tasks.

#include <cstdint>
#include <functional>
#include <string>

#include "orvex/platform/export.h"
#include "orvex/platform/subscription.h"

namespace orvex {

// willTerminate comes last, after did-enter-background, as the application ends (a desktop host
// quitting); the state stays background.
enum class AppNotification {
  didEnterBackground,
  willEnterForeground,
  didBecomeActive,
  willResignActive,
  willTerminate
};
enum class AppState { active, inactive, background };

using BackgroundTaskId = std::uint64_t;
inline constexpr BackgroundTaskId kInvalidBackgroundTask = 0;

class ORVEX_API AppLifecycle {
 public:
  virtual ~AppLifecycle() = default;
  // Observers are called on the main thread, in registration order.
  virtual Subscription observe(AppNotification notification, std::function<void()> observer) = 0;
  virtual AppState state() const = 0;
  // Asks for time to finish work in the background; `expiration` runs on the main thread when
  // that time is up. Returns kInvalidBackgroundTask when none can be had.
  virtual BackgroundTaskId beginBackgroundTask(const std::string& name,
                                               std::function<void()> expiration) = 0;
  virtual void endBackgroundTask(BackgroundTaskId id) = 0;
};

}  // namespace orvex
