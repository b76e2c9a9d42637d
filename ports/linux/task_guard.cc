#include "ports/linux/task_guard.h"

#include <pthread.h>

#include <cstdio>
#include <exception>

namespace orvex::linux_port {

void runGuarded(const Task& task) noexcept {
  if (!task) return;
  try {
    task();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Orvex:: task threw: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Orvex:: task threw a non-standard exception\n");
  }
}

std::string globalQueueLabel(QueuePriority priority) {
  switch (priority) {
    case QueuePriority::userInteractive:
      return "global.user-interactive";
    case QueuePriority::userInitiated:
      return "global.user-initiated";
    case QueuePriority::utility:
      return "global.utility";
    case QueuePriority::background:
      return "global.background";
  }
  return "global.default";
}

void setCurrentThreadName(const std::string& name) {
  constexpr std::size_t kMax = 15;
  std::string shortName = name.size() > kMax ? name.substr(name.size() - kMax) : name;
  pthread_setname_np(pthread_self(), shortName.c_str());
}

}  // namespace orvex::linux_port
