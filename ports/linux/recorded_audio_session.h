#pragma once
// The audio session on Linux: recorded state, no system effect (a desktop's sound server has no
// sessions to arbitrate). It starts as a phone's does (solo ambient, standard mode and policy, no
// options, inactive). Every call is recorded in order; a host or a test can make calls fail to
// play a platform that refuses them. Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/audio_session.h"

namespace orvex::linux_port {

class ORVEX_API RecordedAudioSession : public AudioSession {
 public:
  struct Call {
    enum class Kind { setCategory, setActive } kind = Kind::setCategory;
    AudioSessionCategory category = AudioSessionCategory::soloAmbient;
    AudioSessionMode mode = AudioSessionMode::standard;
    AudioSessionRouteSharingPolicy policy = AudioSessionRouteSharingPolicy::standard;
    AudioSessionCategoryOptions options = AudioSessionCategoryOptions::none;
    bool active = false;
    bool notifyOthersOnDeactivation = false;
    bool failed = false;
  };

  AudioSessionCategory category() const override { return category_; }
  AudioSessionCategoryOptions categoryOptions() const override { return options_; }
  AudioSessionMode mode() const override { return mode_; }
  AudioSessionRouteSharingPolicy routeSharingPolicy() const override { return policy_; }
  bool isActive() const override { return active_; }
  std::optional<AudioSessionError> setCategory(AudioSessionCategory category, AudioSessionMode mode,
                                               AudioSessionRouteSharingPolicy policy,
                                               AudioSessionCategoryOptions options) override;
  std::optional<AudioSessionError> setActive(bool active, bool notifyOthersOnDeactivation) override;

  // ---- what the host plays ----
  const std::vector<Call>& calls() const { return calls_; }
  // While set, every setCategory (setActive) call fails with this description and changes
  // nothing.
  void failSetCategory(std::optional<std::string> description) {
    categoryFailure_ = std::move(description);
  }
  void failSetActive(std::optional<std::string> description) {
    activeFailure_ = std::move(description);
  }

 private:
  AudioSessionCategory category_ = AudioSessionCategory::soloAmbient;
  AudioSessionCategoryOptions options_ = AudioSessionCategoryOptions::none;
  AudioSessionMode mode_ = AudioSessionMode::standard;
  AudioSessionRouteSharingPolicy policy_ = AudioSessionRouteSharingPolicy::standard;
  bool active_ = false;
  std::optional<std::string> categoryFailure_;
  std::optional<std::string> activeFailure_;
  std::vector<Call> calls_;
};

}  // namespace orvex::linux_port
