#pragma once
// The system log of the Linux ports: keeps every line (tests read them back), optionally
// echoing each to stderr.

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/log.h"

namespace orvex::linux_port {

class ORVEX_API MemoryLog : public SystemLog {
 public:
  // `maxLines` > 0 keeps only the newest lines (for long-running hosts); 0 keeps all.
  explicit MemoryLog(bool echoToStderr = false, std::size_t maxLines = 0)
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
