#include "orvex/core/simple_logger.h"

#include "orvex/core/orvex.h"

namespace orvex {

void SimpleLogger::log(std::string_view message) {
  {
    std::lock_guard lock(mutex_);
    lastMessage_ = std::string(message);
  }
  if (Orvex::isProduction()) return;
  logAlways(className_, message);
}

std::string SimpleLogger::lastMessage() const {
  std::lock_guard lock(mutex_);
  return lastMessage_;
}

void SimpleLogger::logAlways(std::string_view className, std::string_view message) {
  std::string line;
  line.reserve(7 + className.size() + 1 + message.size());
  line.append("Orvex::").append(className).append(" ").append(message);
  Orvex::shared().platform().log->write(line);
}

}  // namespace orvex
