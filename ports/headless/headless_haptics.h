#pragma once
// The headless port's haptics: nothing to feel, so every request is recorded (and told to an
// observer, the demo prints them). Main thread only.

#include <functional>
#include <string>
#include <vector>

#include "orvex/platform/haptics.h"

namespace orvex::headless {

class HeadlessHaptics : public Haptics {
 public:
  void impactOccurred(ImpactStyle style) override;
  void selectionChanged() override;
  void notificationOccurred(NotificationFeedback type) override;
  void playVibrationSound() override;

  // "impact light" … "impact rigid", "selection", "notification success|warning|error",
  // "vibration sound", in order.
  const std::vector<std::string>& events() const { return events_; }
  void setObserver(std::function<void(const std::string&)> observer) {
    observer_ = std::move(observer);
  }

 private:
  void record(std::string event);
  std::vector<std::string> events_;
  std::function<void(const std::string&)> observer_;
};

}  // namespace orvex::headless
