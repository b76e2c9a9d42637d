#pragma once
// Small pieces shared by the port's dispatchers.

#include <string>

#include "orvex/platform/dispatch.h"

namespace orvex::linux_port {

// Runs a task; an exception escaping it is reported on stderr and goes no further.
ORVEX_INTERNAL_API void runGuarded(const Task& task) noexcept;
ORVEX_INTERNAL_API std::string globalQueueLabel(QueuePriority priority);
// Names the calling thread (the system keeps 15 bytes: the label's tail, its most telling part).
void setCurrentThreadName(const std::string& name);

}  // namespace orvex::linux_port
