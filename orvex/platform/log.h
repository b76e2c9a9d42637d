#pragma once
// The system log. One call writes one line; the text is data, never a format.

#include <string_view>

#include "orvex/platform/export.h"

namespace orvex {

class ORVEX_API SystemLog {
 public:
  virtual ~SystemLog() = default;
  // Safe to call from any thread.
  virtual void write(std::string_view line) = 0;
};

}  // namespace orvex
