#pragma once
// Haptic feedback, as pages of the quest site ask for it. Main thread only.
//
// A device without a haptic engine ignores impacts, selection changes and notifications (a port
// may record them); the vibration sound falls back to the system's alert sound (a desktop beeps
// the display).

#include "orvex/platform/export.h"

namespace orvex {

enum class ImpactStyle { light, medium, heavy, soft, rigid };
enum class NotificationFeedback { success, warning, error };

class ORVEX_API Haptics {
 public:
  virtual ~Haptics() = default;
  virtual void impactOccurred(ImpactStyle style) = 0;
  virtual void selectionChanged() = 0;
  virtual void notificationOccurred(NotificationFeedback type) = 0;
  // The system's vibration sound.
  virtual void playVibrationSound() = 0;
};

}  // namespace orvex
