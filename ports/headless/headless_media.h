#pragma once
// The headless port's media: players that play in the port's time without decoding anything, a
// video view that records its player, and the recorded audio session. In virtual time a whole
// video plays within one advance(), deterministically. Main thread only.
//
// What an item does is registered by URL (registerItem); any other URL is ready with the default
// item (15 s, 30 frames per second), unless it is no http, https or file URL or names a file that
// does not exist: those fail. An item becomes ready, or fails, on the main-queue turn after
// the player was made; one that never becomes ready stays unknown. Playback then runs at the
// clock's pace: a periodic observer fires at each multiple of its interval of item time that
// playback reaches, the end observers once when the item's duration is reached (a periodic
// observer due at the same instant first). Seeks land exactly, whatever the tolerances; their
// completion and the periodic observers follow on the next main-queue turn.

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/media.h"
#include "ports/headless/headless_view.h"
#include "ports/linux/recorded_audio_session.h"

namespace orvex::headless {

struct HeadlessMediaItem {
  enum class Outcome { ready, neverReady, fails };
  // Seconds; infinity: a stream without an end (it plays forever).
  double duration = 15;
  // 0: no video track.
  double frameRate = 30;
  Outcome outcome = Outcome::ready;
  // What a failing item reports.
  std::string error = "The media could not be played.";
};

class ORVEX_API HeadlessVideoPlayer : public VideoPlayer,
                                      public std::enable_shared_from_this<HeadlessVideoPlayer> {
 public:
  struct Seek {
    double seconds = 0;
    double toleranceBefore = 0;
    double toleranceAfter = 0;
  };

  static std::shared_ptr<HeadlessVideoPlayer> create(std::shared_ptr<Dispatcher> dispatcher,
                                                     std::shared_ptr<Clock> clock, std::string url,
                                                     HeadlessMediaItem item);
  ~HeadlessVideoPlayer() override;

  // ---- VideoPlayer ----
  const std::string& url() const override { return url_; }
  MediaItemStatus status() const override { return status_; }
  std::optional<std::string> error() const override;
  std::optional<double> duration() const override;
  double currentTime() const override;
  double nominalFrameRate() const override;
  void play() override;
  void pause() override;
  double rate() const override { return rate_; }
  void seek(double seconds, double toleranceBefore, double toleranceAfter,
            std::function<void(bool finished)> completion) override;
  bool isMuted() const override { return muted_; }
  void setMuted(bool muted) override;
  Subscription addPeriodicTimeObserver(double intervalSeconds,
                                       std::function<void(double seconds)> observer) override;
  Subscription addEndObserver(std::function<void()> observer) override;

  // ---- what the host reads ----
  // "play", "pause", "seek", "muted", "unmuted", in order.
  const std::vector<std::string>& calls() const { return calls_; }
  const std::vector<Seek>& seeks() const { return seeks_; }
  std::size_t observerCount() const { return periodic_.size() + endObservers_.size(); }

 private:
  struct Periodic {
    Duration interval;
    std::function<void(double)> observer;
    Duration next{0};  // the boundary the running timer waits for
  };
  HeadlessVideoPlayer(std::shared_ptr<Dispatcher> dispatcher, std::shared_ptr<Clock> clock,
                      std::string url, HeadlessMediaItem item);
  void becomeReady();
  bool playing() const;
  Duration position() const;
  // Fixes the position at the clock's now (before a change of rate or position).
  void settle();
  void reschedule();
  void finishSeek(std::uint64_t generation);
  // `self` is the running task's only reference; these stop as soon as an observer lets the
  // player go (false), so no observer runs after its release.
  static void tick(const std::shared_ptr<HeadlessVideoPlayer>& self);
  static bool notifyPeriodic(const std::shared_ptr<HeadlessVideoPlayer>& self, Duration at,
                             bool onlyDue = false);
  static bool stillWanted(const std::shared_ptr<HeadlessVideoPlayer>& self) {
    return self.use_count() > 1;
  }

  std::shared_ptr<Dispatcher> dispatcher_;
  std::shared_ptr<Clock> clock_;
  const std::string url_;
  const HeadlessMediaItem item_;
  const Duration length_;  // Duration::max() for a stream without an end
  MediaItemStatus status_ = MediaItemStatus::unknown;
  double rate_ = 0;
  bool muted_ = false;
  Duration position_{0};  // at anchor_, while playing
  MonotonicTime anchor_;
  std::unique_ptr<Timer> timer_;
  std::optional<Seek> pendingSeek_;  // asked before the item was ready
  std::function<void(bool)> seekCompletion_;
  std::uint64_t seekGeneration_ = 0;
  std::map<int, Periodic> periodic_;
  std::map<int, std::function<void()>> endObservers_;
  int nextToken_ = 1;
  std::vector<std::string> calls_;
  std::vector<Seek> seeks_;
};

// Records the player it shows.
class ORVEX_API HeadlessVideoView : public HeadlessView, public VideoView {
 public:
  void setPlayer(std::shared_ptr<VideoPlayer> player) override { player_ = std::move(player); }
  std::shared_ptr<VideoPlayer> player() const override { return player_; }

 private:
  std::shared_ptr<VideoPlayer> player_;
};

class ORVEX_API HeadlessMedia : public Media {
 public:
  HeadlessMedia(std::shared_ptr<Dispatcher> dispatcher, std::shared_ptr<Clock> clock);

  // ---- Media ----
  std::shared_ptr<VideoPlayer> makePlayer(const std::string& url) override;
  std::shared_ptr<VideoView> makeVideoView() override;
  std::shared_ptr<AudioSession> audioSession() override { return audio_; }

  // ---- what the host plays and reads ----
  void registerItem(const std::string& url, HeadlessMediaItem item) { items_[url] = item; }
  void setDefaultItem(HeadlessMediaItem item) { defaultItem_ = std::move(item); }
  const std::shared_ptr<linux_port::RecordedAudioSession>& recordedAudioSession() const {
    return audio_;
  }
  // The players made that are still alive, oldest first.
  std::vector<std::shared_ptr<HeadlessVideoPlayer>> players() const;

 private:
  std::shared_ptr<Dispatcher> dispatcher_;
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<linux_port::RecordedAudioSession> audio_;
  std::map<std::string, HeadlessMediaItem> items_;
  HeadlessMediaItem defaultItem_;
  mutable std::vector<std::weak_ptr<HeadlessVideoPlayer>> players_;
};

}  // namespace orvex::headless
