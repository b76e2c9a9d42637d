#pragma once
// The rewarded screen's audio and playback across its appearance, the application's trips to the
// background and the end of the video. The screen is its delegate and owns it; the machine plays
// and pauses the screen's video through the delegate. Main thread only.
//
// idle -> advertising (the screen will appear) -> finished (the video played to its end; final).
// Audio on (solo ambient, active, play) acts only while advertising; audio off (session restored
// or simply inactive, pause) acts in every state but finished.

#include <memory>
#include <vector>

#include "orvex/core/simple_logger.h"
#include "orvex/platform/audio_session.h"
#include "orvex/platform/subscription.h"

namespace orvex {

enum class OrvexRewardedAdState { idle, advertising, finished };

// The settings put back when the ad stops playing.
struct OrvexAudioSessionData {
  AudioSessionCategory category = AudioSessionCategory::soloAmbient;
  AudioSessionCategoryOptions categoryOptions = AudioSessionCategoryOptions::none;
  AudioSessionMode mode = AudioSessionMode::standard;
  AudioSessionRouteSharingPolicy routeSharingPolicy = AudioSessionRouteSharingPolicy::standard;
};

class ORVEX_API OrvexRewardedAdFSMDelegate {
 public:
  virtual ~OrvexRewardedAdFSMDelegate() = default;
  virtual void playVideo() = 0;
  virtual void pauseVideo() = 0;
};

class ORVEX_API OrvexRewardedAdFSM : public std::enable_shared_from_this<OrvexRewardedAdFSM> {
 public:
  // Reads the session's settings now, and observes the application's activity and background.
  static std::shared_ptr<OrvexRewardedAdFSM> create();
  ~OrvexRewardedAdFSM();
  OrvexRewardedAdFSM(const OrvexRewardedAdFSM&) = delete;
  OrvexRewardedAdFSM& operator=(const OrvexRewardedAdFSM&) = delete;

  OrvexRewardedAdState state = OrvexRewardedAdState::idle;
  std::weak_ptr<OrvexRewardedAdFSMDelegate> delegate;
  const OrvexAudioSessionData& audioSessionData() const { return audioSessionData_; }

  void activateAudio();
  // False, doing nothing, once finished.
  bool deactivateAudio(bool restore);
  // The screen closed: the machine reacts to the application no more.
  void removeObservers() { subscriptions_.clear(); }

 private:
  OrvexRewardedAdFSM();
  SimpleLogger logger_{"OrvexRewardedAdFSM"};
  OrvexAudioSessionData audioSessionData_;
  std::vector<Subscription> subscriptions_;
};

}  // namespace orvex
