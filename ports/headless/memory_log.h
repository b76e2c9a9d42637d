#pragma once
// The system log of the headless port: keeps every line (tests read them back), optionally
// echoing each to stderr.

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/log.h"

namespace orvex::headless {

class MemoryLog : public SystemLog {
 public:
  explicit MemoryLog(bool echoToStderr = false) : echo_(echoToStderr) {}
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
  std::vector<std::string> lines_;
  bool echo_;
};

}  // namespace orvex::headless
