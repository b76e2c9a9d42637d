#pragma once
// Video playback: a player for one item (a video at a URL), the view that shows a player, and the
// factory for both, which also hands out the audio session. Main thread only.
//
// Threads and lifetime: every observer and completion runs on the main queue, posted, never
// inside the call that caused it. A player keeps its observers until their Subscription goes or
// the player does; releasing the player (its last shared_ptr) stops it, and none of its observers
// or completions runs after that. Observers capture what they report to weakly: the SDK's views
// hold their player, so a strong capture of the view would keep both alive.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "orvex/platform/audio_session.h"
#include "orvex/platform/export.h"
#include "orvex/platform/subscription.h"
#include "orvex/platform/view.h"

namespace orvex {

enum class MediaItemStatus { unknown, readyToPlay, failed };

// Plays one item from an http, https or file URL. The item starts loading when the player is made
// and becomes ready or fails on a later main-queue turn; a URL the port cannot open (another
// scheme, text that is no URL) fails. Playback starts only with play().
class ORVEX_API VideoPlayer {
 public:
  virtual ~VideoPlayer() = default;

  virtual const std::string& url() const = 0;
  virtual MediaItemStatus status() const = 0;
  // Why the item failed, once it has.
  virtual std::optional<std::string> error() const = 0;
  // Seconds; none while the item is not ready, infinity for a stream without an end.
  virtual std::optional<double> duration() const = 0;
  // Seconds into the item; the duration once it has played to its end.
  virtual double currentTime() const = 0;
  // The nominal frames per second of the item's first video track; 0 when there is none or the
  // item does not say (or is not ready).
  virtual double nominalFrameRate() const = 0;

  // Plays at the normal rate from the current time; asked before the item is ready, playback
  // starts when it is. At the item's end the player pauses by itself (rate 0), and play() there
  // does nothing until a seek moves back.
  virtual void play() = 0;
  virtual void pause() = 0;
  // 1 after play(), 0 after pause() and at the item's end.
  virtual double rate() const = 0;
  bool isPlaying() const { return rate() != 0; }

  // Moves to `seconds` (clamped to the item), landing no more than `toleranceBefore` before it
  // and `toleranceAfter` after it (zero: exactly; infinity: anywhere a port finds cheap, such as a
  // key frame). `completion` gets true when the seek ended, false when a later seek cut it
  // short (or the item failed). A seek asked before the item is ready waits for it. The
  // completion may be empty.
  virtual void seek(double seconds, double toleranceBefore, double toleranceAfter,
                    std::function<void(bool finished)> completion) = 0;

  virtual bool isMuted() const = 0;
  virtual void setMuted(bool muted) = 0;

  // Calls `observer` with the current time every `intervalSeconds` of playback while the player
  // plays, and once after each seek that finished (playing or not); nothing else while paused,
  // before the item is ready or after its end.
  virtual Subscription addPeriodicTimeObserver(double intervalSeconds,
                                               std::function<void(double seconds)> observer) = 0;
  // Calls `observer` once each time the item plays to its end (after a seek back, it can end
  // again).
  virtual Subscription addEndObserver(std::function<void()> observer) = 0;
};

// Shows a player's video scaled to fit its bounds with its aspect kept, centred (resize-aspect;
// the rest of the bounds shows the view's background). The view holds its player.
class ORVEX_API VideoView : public virtual View {
 public:
  // The player to show, or none (the view then shows nothing but its background).
  virtual void setPlayer(std::shared_ptr<VideoPlayer> player) = 0;
  virtual std::shared_ptr<VideoPlayer> player() const = 0;
};

class ORVEX_API Media {
 public:
  virtual ~Media() = default;
  // A new player for `url`, loading. Never null: a URL that does not play gives a player whose
  // item fails.
  virtual std::shared_ptr<VideoPlayer> makePlayer(const std::string& url) = 0;
  // A view for players, without one; none on a port without a screen.
  virtual std::shared_ptr<VideoView> makeVideoView() = 0;
  // The application's one audio session.
  virtual std::shared_ptr<AudioSession> audioSession() = 0;
};

}  // namespace orvex
