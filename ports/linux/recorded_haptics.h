#pragma once
// Haptics for machines without a haptic engine: every request is recorded (and told to an
// observer, the demo prints them; the newest kRecordCapacity are kept); the vibration sound is the
// system's alert sound where the port has one (a desktop beeps its display). Main thread only.

#include <functional>
#include <string>
#include <vector>

#include "orvex/platform/haptics.h"
#include "ports/linux/bounded_record.h"

namespace orvex::linux_port {

class ORVEX_API RecordedHaptics : public Haptics {
 public:
  explicit RecordedHaptics(std::function<void()> alertSound = {})
      : alertSound_(std::move(alertSound)) {}
  void impactOccurred(ImpactStyle style) override;
  void selectionChanged() override;
  void notificationOccurred(NotificationFeedback type) override;
  void playVibrationSound() override;

  // "impact light" … "impact rigid", "selection", "notification success|warning|error",
  // "vibration sound", in order.
  const std::vector<std::string>& events() const { return events_.all(); }
  void setObserver(std::function<void(const std::string&)> observer) {
    observer_ = std::move(observer);
  }

 private:
  void record(std::string event);
  BoundedRecord<std::string> events_;
  std::function<void(const std::string&)> observer_;
  std::function<void()> alertSound_;
};

}  // namespace orvex::linux_port
