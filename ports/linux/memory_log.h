#pragma once
// The system log of the Linux ports: keeps the newest lines in memory (tests and hosts read them
// back), optionally echoing each to stderr, where a desktop session's journal picks it up.

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/log.h"
#include "ports/linux/bounded_record.h"

namespace orvex::linux_port {

class ORVEX_API MemoryLog : public SystemLog {
 public:
  // Keeps the newest `maxLines` (at least one).
  explicit MemoryLog(bool echoToStderr = false, std::size_t maxLines = kRecordCapacity)
      : echo_(echoToStderr), maxLines_(maxLines) {}
  void write(std::string_view line) override;

  std::vector<std::string> lines() const;
  // Whether some line contains `text`.
  bool contains(std::string_view text) const;
  // How many lines contain `text`.
  std::size_t count(std::string_view text) const;
  void clear();
  void setEcho(bool echoToStderr);

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
  bool echo_;
  std::size_t maxLines_;
};

}  // namespace orvex::linux_port
