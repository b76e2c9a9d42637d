#pragma once
// The view in which the rewarded screen plays its creative's video natively, under the page. It
// tells its delegate the remaining seconds once a second and the end of playback; it never starts
// playing by itself (the screen's state machine plays and pauses it). Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "orvex/platform/media.h"
#include "orvex/platform/subscription.h"

namespace orvex {

class OrvexRewardedAdFSM;

class ORVEX_API OrvexVideoPlayerViewDelegate {
 public:
  virtual ~OrvexVideoPlayerViewDelegate() = default;
  virtual void updateRemainingTime(std::int64_t seconds) = 0;
  // The machine that hears of the video's end.
  virtual std::shared_ptr<OrvexRewardedAdFSM> videoStateMachine() = 0;
};

class ORVEX_API OrvexVideoPlayerView : public std::enable_shared_from_this<OrvexVideoPlayerView> {
 public:
  static constexpr double kRemainingTimeInterval = 1.0;

  // None on a port without a screen. A player is set up at once when `videoURL` is given.
  static std::shared_ptr<OrvexVideoPlayerView> create(std::optional<std::string> videoURL = {});
  OrvexVideoPlayerView(const OrvexVideoPlayerView&) = delete;
  OrvexVideoPlayerView& operator=(const OrvexVideoPlayerView&) = delete;

  const std::shared_ptr<View>& view() const { return view_; }
  std::weak_ptr<OrvexVideoPlayerViewDelegate> delegate;
  std::optional<std::string> videoURL;

  // A new player (and layer) for videoURL, replacing any earlier one; none without a URL.
  void setUpPlayer();
  // Back to the last frame of a video that has ended.
  void showLastFrame();
  // Nothing plays or is shown any more.
  void stop();

  const std::shared_ptr<VideoPlayer>& player() const { return player_; }
  const std::shared_ptr<VideoView>& playerLayer() const { return playerLayer_; }

  // Whole seconds left, halves away from zero; none while the length is unknown or endless.
  static std::optional<std::int64_t> remainingSeconds(const VideoPlayer& player);

 private:
  OrvexVideoPlayerView() = default;
  void playedToEnd();

  std::shared_ptr<View> view_;
  std::shared_ptr<VideoPlayer> player_;
  std::shared_ptr<VideoView> playerLayer_;
  Subscription timeObserver_;
  Subscription endObserver_;
};

}  // namespace orvex
