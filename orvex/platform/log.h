#pragma once
// The system log. One call writes one line; the text is data, never a format.

#include <string_view>

namespace orvex {

class SystemLog {
 public:
  virtual ~SystemLog() = default;
  // Safe to call from any thread.
  virtual void write(std::string_view line) = 0;
};

}  // namespace orvex
