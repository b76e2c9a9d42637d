#include "ports/linux/recorded_audio_session.h"

namespace orvex::linux_port {

std::optional<AudioSessionError> RecordedAudioSession::setCategory(
    AudioSessionCategory category, AudioSessionMode mode, AudioSessionRouteSharingPolicy policy,
    AudioSessionCategoryOptions options) {
  Call call{.kind = Call::Kind::setCategory,
            .category = category,
            .mode = mode,
            .policy = policy,
            .options = options,
            .failed = categoryFailure_.has_value()};
  calls_.push_back(call);
  if (categoryFailure_) return AudioSessionError{*categoryFailure_};
  category_ = category;
  mode_ = mode;
  policy_ = policy;
  options_ = options;
  return std::nullopt;
}

std::optional<AudioSessionError> RecordedAudioSession::setActive(bool active,
                                                                 bool notifyOthersOnDeactivation) {
  Call call{.kind = Call::Kind::setActive,
            .active = active,
            .notifyOthersOnDeactivation = notifyOthersOnDeactivation,
            .failed = activeFailure_.has_value()};
  calls_.push_back(call);
  if (activeFailure_) return AudioSessionError{*activeFailure_};
  active_ = active;
  return std::nullopt;
}

}  // namespace orvex::linux_port
