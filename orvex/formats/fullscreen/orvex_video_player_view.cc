#include "orvex/formats/fullscreen/orvex_video_player_view.h"

#include <cmath>
#include <limits>

#include "orvex/core/orvex.h"
#include "orvex/formats/fullscreen/orvex_rewarded_ad_fsm.h"

namespace orvex {

std::shared_ptr<OrvexVideoPlayerView> OrvexVideoPlayerView::create(
    std::optional<std::string> videoURL) {
  const auto& ui = Orvex::shared().platform().ui;
  if (!ui) return nullptr;
  std::shared_ptr<OrvexVideoPlayerView> self(new OrvexVideoPlayerView());
  self->view_ = ui->makeView();
  self->videoURL = std::move(videoURL);
  self->setUpPlayer();
  return self;
}

std::optional<std::int64_t> OrvexVideoPlayerView::remainingSeconds(const VideoPlayer& player) {
  if (player.status() != MediaItemStatus::readyToPlay) return std::nullopt;
  const auto duration = player.duration();
  if (!duration || std::isinf(*duration)) return std::nullopt;
  return static_cast<std::int64_t>(std::llround(*duration - player.currentTime()));
}

void OrvexVideoPlayerView::setUpPlayer() {
  stop();
  const auto& media = Orvex::shared().platform().media;
  if (!videoURL || !media) return;
  player_ = media->makePlayer(*videoURL);
  std::weak_ptr<OrvexVideoPlayerView> weak = weak_from_this();
  timeObserver_ = player_->addPeriodicTimeObserver(kRemainingTimeInterval, [weak](double) {
    auto self = weak.lock();
    if (!self || !self->player_) return;
    auto remaining = remainingSeconds(*self->player_);
    auto delegate = self->delegate.lock();
    if (remaining && delegate) delegate->updateRemainingTime(*remaining);
  });
  endObserver_ = player_->addEndObserver([weak] {
    if (auto self = weak.lock()) self->playedToEnd();
  });
  playerLayer_ = media->makeVideoView();
  if (playerLayer_) {
    playerLayer_->setPlayer(player_);
    view_->addSubview(playerLayer_);
    playerLayer_->setFrame(view_->bounds());
    playerLayer_->setFillsSuperview(true);
  }
}

void OrvexVideoPlayerView::playedToEnd() {
  auto delegate = this->delegate.lock();
  auto fsm = delegate ? delegate->videoStateMachine() : nullptr;
  if (fsm && fsm->deactivateAudio(true)) fsm->state = OrvexRewardedAdState::finished;
}

void OrvexVideoPlayerView::showLastFrame() {
  if (!player_ || player_->status() != MediaItemStatus::readyToPlay) return;
  const double frameRate = player_->nominalFrameRate();
  const auto duration = player_->duration();
  if (frameRate == 0 || !duration || std::isinf(*duration)) return;
  player_->seek(*duration - 1.0 / frameRate, 0, std::numeric_limits<double>::infinity(), {});
}

void OrvexVideoPlayerView::stop() {
  if (player_) player_->pause();
  timeObserver_ = {};
  endObserver_ = {};
  player_.reset();
  if (playerLayer_) {
    playerLayer_->setPlayer(nullptr);
    playerLayer_->removeFromSuperview();
    playerLayer_.reset();
  }
}

}  // namespace orvex
