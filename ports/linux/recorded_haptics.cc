#include "ports/linux/recorded_haptics.h"

namespace orvex::linux_port {

void RecordedHaptics::impactOccurred(ImpactStyle style) {
  switch (style) {
    case ImpactStyle::light:
      return record("impact light");
    case ImpactStyle::medium:
      return record("impact medium");
    case ImpactStyle::heavy:
      return record("impact heavy");
    case ImpactStyle::soft:
      return record("impact soft");
    case ImpactStyle::rigid:
      return record("impact rigid");
  }
}

void RecordedHaptics::selectionChanged() {
  record("selection");
}

void RecordedHaptics::notificationOccurred(NotificationFeedback type) {
  switch (type) {
    case NotificationFeedback::success:
      return record("notification success");
    case NotificationFeedback::warning:
      return record("notification warning");
    case NotificationFeedback::error:
      return record("notification error");
  }
}

void RecordedHaptics::playVibrationSound() {
  record("vibration sound");
  if (alertSound_) alertSound_();
}

void RecordedHaptics::record(std::string event) {
  const std::string& recorded = events_.add(std::move(event));
  if (observer_) observer_(recorded);
}

}  // namespace orvex::linux_port
