#include "ports/linux/memory_log.h"

#include <algorithm>
#include <cstdio>

namespace orvex::linux_port {

void MemoryLog::write(std::string_view line) {
  std::lock_guard lock(mutex_);
  lines_.emplace_back(line);
  if (lines_.size() > std::max<std::size_t>(maxLines_, 1)) lines_.pop_front();
  if (echo_) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
  }
}

std::vector<std::string> MemoryLog::lines() const {
  std::lock_guard lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

bool MemoryLog::contains(std::string_view text) const {
  return count(text) > 0;
}

std::size_t MemoryLog::count(std::string_view text) const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const auto& line : lines_) {
    if (line.find(text) != std::string::npos) ++n;
  }
  return n;
}

void MemoryLog::clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

void MemoryLog::setEcho(bool echoToStderr) {
  std::lock_guard lock(mutex_);
  echo_ = echoToStderr;
}

}  // namespace orvex::linux_port
