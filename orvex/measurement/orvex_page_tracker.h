#pragma once
// Screen-view tracking entry points for hosts: they name the screen they show and, optionally,
// the ad unit on it. Accepted and deliberately inert for now: nothing is stored or sent, no
// callback runs, so hosts can call them from any thread, with any text, before or after the SDK
// is initialized.

#include <string_view>

#include "orvex/platform/export.h"

namespace orvex {

class ORVEX_API OrvexPageTracker {
 public:
  OrvexPageTracker() = delete;

  static void track(std::string_view key, std::string_view screen);
  static void attach(std::string_view key, std::string_view unitId, std::string_view screen);
};

}  // namespace orvex
