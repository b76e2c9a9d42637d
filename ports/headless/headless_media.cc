#include "ports/headless/headless_media.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>

namespace orvex::headless {
namespace {

// Positions are whole nanoseconds, so boundaries and the end are met exactly in virtual time.
Duration nanos(double seconds) {
  return Duration(std::llround(std::max(seconds, 0.0) * 1e9));
}

constexpr Duration kMinimumInterval = std::chrono::milliseconds(1);

double secondsOf(Duration d) {
  return std::chrono::duration<double>(d).count();
}

// A file URL's path (no host, no escapes: what the tests and demos name).
std::optional<std::filesystem::path> filePath(std::string_view url) {
  constexpr std::string_view kFile = "file://";
  if (url.substr(0, kFile.size()) != kFile) return std::nullopt;
  return std::filesystem::path(url.substr(kFile.size()));
}

bool playableScheme(std::string_view url) {
  for (std::string_view scheme : {"http://", "https://", "file://"}) {
    if (url.size() >= scheme.size() &&
        std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
          return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
        })) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::shared_ptr<HeadlessVideoPlayer> HeadlessVideoPlayer::create(
    std::shared_ptr<Dispatcher> dispatcher, std::shared_ptr<Clock> clock, std::string url,
    HeadlessMediaItem item) {
  std::shared_ptr<HeadlessVideoPlayer> player(
      new HeadlessVideoPlayer(std::move(dispatcher), std::move(clock), std::move(url), item));
  if (item.outcome != HeadlessMediaItem::Outcome::neverReady) {
    player->dispatcher_->mainQueue()->post([weak = player->weak_from_this()] {
      if (auto p = weak.lock()) p->becomeReady();
    });
  }
  return player;
}

HeadlessVideoPlayer::HeadlessVideoPlayer(std::shared_ptr<Dispatcher> dispatcher,
                                         std::shared_ptr<Clock> clock, std::string url,
                                         HeadlessMediaItem item)
    : dispatcher_(std::move(dispatcher)),
      clock_(std::move(clock)),
      url_(std::move(url)),
      item_(std::move(item)),
      length_(std::isfinite(item_.duration) ? nanos(item_.duration) : Duration::max()),
      anchor_(clock_->monotonicNow()) {}

HeadlessVideoPlayer::~HeadlessVideoPlayer() = default;

std::optional<std::string> HeadlessVideoPlayer::error() const {
  if (status_ != MediaItemStatus::failed) return std::nullopt;
  return item_.error;
}

std::optional<double> HeadlessVideoPlayer::duration() const {
  if (status_ != MediaItemStatus::readyToPlay) return std::nullopt;
  return length_ == Duration::max() ? std::numeric_limits<double>::infinity() : secondsOf(length_);
}

double HeadlessVideoPlayer::currentTime() const {
  return secondsOf(position());
}

double HeadlessVideoPlayer::nominalFrameRate() const {
  return status_ == MediaItemStatus::readyToPlay ? item_.frameRate : 0;
}

bool HeadlessVideoPlayer::playing() const {
  return rate_ != 0 && status_ == MediaItemStatus::readyToPlay;
}

Duration HeadlessVideoPlayer::position() const {
  if (!playing()) return position_;
  const Duration elapsed = clock_->monotonicNow() - anchor_;
  if (length_ == Duration::max()) return position_ + elapsed;
  return std::min(position_ + elapsed, length_);
}

void HeadlessVideoPlayer::settle() {
  position_ = position();
  anchor_ = clock_->monotonicNow();
}

void HeadlessVideoPlayer::becomeReady() {
  if (item_.outcome == HeadlessMediaItem::Outcome::fails) {
    status_ = MediaItemStatus::failed;
    rate_ = 0;
    if (seekCompletion_) {
      dispatcher_->mainQueue()->post([c = std::exchange(seekCompletion_, {})] { c(false); });
    }
    return;
  }
  status_ = MediaItemStatus::readyToPlay;
  anchor_ = clock_->monotonicNow();
  if (auto s = std::exchange(pendingSeek_, std::nullopt)) {
    position_ = std::min(nanos(s->seconds), length_);
    finishSeek(seekGeneration_);
  }
  reschedule();
}

void HeadlessVideoPlayer::play() {
  calls_.push_back("play");
  if (position() == length_ && status_ == MediaItemStatus::readyToPlay) return;
  settle();
  rate_ = 1;
  anchor_ = clock_->monotonicNow();
  reschedule();
}

void HeadlessVideoPlayer::pause() {
  calls_.push_back("pause");
  settle();
  rate_ = 0;
  reschedule();
}

void HeadlessVideoPlayer::setMuted(bool muted) {
  calls_.push_back(muted ? "muted" : "unmuted");
  muted_ = muted;
}

void HeadlessVideoPlayer::seek(double seconds, double toleranceBefore, double toleranceAfter,
                               std::function<void(bool finished)> completion) {
  calls_.push_back("seek");
  seeks_.push_back(Seek{seconds, toleranceBefore, toleranceAfter});
  if (auto earlier = std::exchange(seekCompletion_, std::move(completion))) {
    dispatcher_->mainQueue()->post([earlier] { earlier(false); });
  }
  const std::uint64_t generation = ++seekGeneration_;
  if (status_ == MediaItemStatus::failed) {
    if (auto c = std::exchange(seekCompletion_, {})) {
      dispatcher_->mainQueue()->post([c] { c(false); });
    }
    return;
  }
  if (status_ != MediaItemStatus::readyToPlay) {
    pendingSeek_ = seeks_.back();
    return;
  }
  position_ = std::min(nanos(seconds), length_);
  anchor_ = clock_->monotonicNow();
  finishSeek(generation);
  reschedule();
}

void HeadlessVideoPlayer::finishSeek(std::uint64_t generation) {
  dispatcher_->mainQueue()->post([weak = weak_from_this(), generation] {
    auto self = weak.lock();
    if (!self || generation != self->seekGeneration_) return;
    const Duration at = self->position();
    if (auto c = std::exchange(self->seekCompletion_, {})) {
      c(true);
      if (!stillWanted(self)) return;
    }
    notifyPeriodic(self, at);
  });
}

bool HeadlessVideoPlayer::notifyPeriodic(const std::shared_ptr<HeadlessVideoPlayer>& self,
                                         Duration at, bool onlyDue) {
  std::vector<int> tokens;
  for (const auto& [token, p] : self->periodic_) {
    if (!onlyDue || p.next <= at) tokens.push_back(token);
  }
  for (int token : tokens) {
    auto it = self->periodic_.find(token);
    if (it == self->periodic_.end()) continue;
    auto observer = it->second.observer;
    observer(secondsOf(at));
    if (!stillWanted(self)) return false;
  }
  return true;
}

void HeadlessVideoPlayer::reschedule() {
  timer_.reset();
  if (!playing()) return;
  const Duration now = position();
  Duration next = length_;
  for (auto& [token, p] : periodic_) {
    p.next = (now / p.interval + 1) * p.interval;
    next = std::min(next, p.next);
  }
  if (next == Duration::max()) return;
  timer_ = dispatcher_->scheduleTimer(next - now, false, [weak = weak_from_this()] {
    if (auto self = weak.lock()) tick(self);
  });
}

void HeadlessVideoPlayer::tick(const std::shared_ptr<HeadlessVideoPlayer>& self) {
  if (!self->playing()) return;
  const Duration now = self->position();
  if (!notifyPeriodic(self, now, true)) return;
  if (self->playing() && self->position() == self->length_) {
    self->settle();
    self->rate_ = 0;
    self->timer_.reset();
    std::vector<int> tokens;
    for (const auto& [token, o] : self->endObservers_) tokens.push_back(token);
    for (int token : tokens) {
      auto it = self->endObservers_.find(token);
      if (it == self->endObservers_.end()) continue;
      auto observer = it->second;
      observer();
      if (!stillWanted(self)) return;
    }
    return;
  }
  self->reschedule();
}

Subscription HeadlessVideoPlayer::addPeriodicTimeObserver(
    double intervalSeconds, std::function<void(double seconds)> observer) {
  const int token = nextToken_++;
  periodic_[token] =
      Periodic{std::max(nanos(intervalSeconds), kMinimumInterval), std::move(observer)};
  if (playing()) {
    settle();
    reschedule();
  }
  return Subscription([weak = weak_from_this(), token] {
    if (auto self = weak.lock()) self->periodic_.erase(token);
  });
}

Subscription HeadlessVideoPlayer::addEndObserver(std::function<void()> observer) {
  const int token = nextToken_++;
  endObservers_[token] = std::move(observer);
  return Subscription([weak = weak_from_this(), token] {
    if (auto self = weak.lock()) self->endObservers_.erase(token);
  });
}

HeadlessMedia::HeadlessMedia(std::shared_ptr<Dispatcher> dispatcher, std::shared_ptr<Clock> clock)
    : dispatcher_(std::move(dispatcher)),
      clock_(std::move(clock)),
      audio_(std::make_shared<linux_port::RecordedAudioSession>()) {}

std::shared_ptr<VideoPlayer> HeadlessMedia::makePlayer(const std::string& url) {
  HeadlessMediaItem item = defaultItem_;
  if (auto it = items_.find(url); it != items_.end()) {
    item = it->second;
  } else if (!playableScheme(url)) {
    item.outcome = HeadlessMediaItem::Outcome::fails;
    item.error = "Unsupported URL: " + url;
  } else if (auto path = filePath(url); path && !std::filesystem::exists(*path)) {
    item.outcome = HeadlessMediaItem::Outcome::fails;
    item.error = "No such file: " + path->string();
  }
  auto player = HeadlessVideoPlayer::create(dispatcher_, clock_, url, std::move(item));
  std::erase_if(players_, [](const auto& w) { return w.expired(); });
  players_.push_back(player);
  return player;
}

std::shared_ptr<VideoView> HeadlessMedia::makeVideoView() {
  return std::make_shared<HeadlessVideoView>();
}

std::vector<std::shared_ptr<HeadlessVideoPlayer>> HeadlessMedia::players() const {
  std::vector<std::shared_ptr<HeadlessVideoPlayer>> out;
  for (const auto& w : players_) {
    if (auto p = w.lock()) out.push_back(std::move(p));
  }
  return out;
}

}  // namespace orvex::headless
