#include "orvex/formats/fullscreen/orvex_rewarded_ad_fsm.h"

#include "orvex/core/orvex.h"
#include "orvex/platform/media.h"

namespace orvex {
namespace {

std::shared_ptr<AudioSession> audioSession() {
  const auto& media = Orvex::shared().platform().media;
  return media ? media->audioSession() : nullptr;
}

}  // namespace

std::shared_ptr<OrvexRewardedAdFSM> OrvexRewardedAdFSM::create() {
  std::shared_ptr<OrvexRewardedAdFSM> fsm(new OrvexRewardedAdFSM());
  std::weak_ptr<OrvexRewardedAdFSM> weak = fsm;
  auto& lifecycle = *Orvex::shared().platform().lifecycle;
  fsm->subscriptions_.push_back(lifecycle.observe(AppNotification::didBecomeActive, [weak] {
    if (auto self = weak.lock()) self->activateAudio();
  }));
  fsm->subscriptions_.push_back(lifecycle.observe(AppNotification::didEnterBackground, [weak] {
    if (auto self = weak.lock()) self->deactivateAudio(true);
  }));
  fsm->subscriptions_.push_back(lifecycle.observe(AppNotification::willResignActive, [weak] {
    if (auto self = weak.lock()) self->deactivateAudio(false);
  }));
  return fsm;
}

OrvexRewardedAdFSM::OrvexRewardedAdFSM() {
  if (auto session = audioSession()) {
    audioSessionData_ = {session->category(), session->categoryOptions(), session->mode(),
                         session->routeSharingPolicy()};
  }
}

OrvexRewardedAdFSM::~OrvexRewardedAdFSM() = default;

void OrvexRewardedAdFSM::activateAudio() {
  if (state != OrvexRewardedAdState::advertising) return;
  if (auto session = audioSession()) {
    auto error = session->setCategory(AudioSessionCategory::soloAmbient);
    if (!error) error = session->setActive(true);
    if (error) {
      logger_.log("setAudioSessionActive 오디오 세션 설정 중 오류가 발생했습니다: " +
                  error->description);
    }
  }
  if (auto screen = delegate.lock()) screen->playVideo();
}

bool OrvexRewardedAdFSM::deactivateAudio(bool restore) {
  if (state == OrvexRewardedAdState::finished) return false;
  if (auto session = audioSession()) {
    std::optional<AudioSessionError> error;
    if (restore) {
      const auto& saved = audioSessionData_;
      error = session->setCategory(saved.category, saved.mode, saved.routeSharingPolicy,
                                   saved.categoryOptions);
      if (!error) error = session->setActive(false, /*notifyOthersOnDeactivation=*/true);
    } else {
      error = session->setActive(false);
    }
    if (error) {
      logger_.log("setAudioSessionInactive 오디오 세션 설정 중 오류가 발생했습니다: " +
                  error->description);
    }
  }
  if (auto screen = delegate.lock()) screen->pauseVideo();
  return true;
}

}  // namespace orvex
