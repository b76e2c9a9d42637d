// The headless port's media: the shared contract in virtual time, and what only virtual time can
// show exactly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ports/headless/headless_media.h"
#include "ports/headless/headless_port.h"
#include "ports/headless/virtual_time.h"
#include "tests/support/media_contract.h"
#include "tests/support/test_sdk.h"

namespace orvex::headless {
namespace {

using testing::ElementsAre;

struct HeadlessDriver {
  static bool available() { return true; }
  HeadlessDriver() {
    port_.media->registerItem(videoUrl(), HeadlessMediaItem{.duration = 5, .frameRate = 30});
    port_.media->registerItem(missingUrl(),
                              HeadlessMediaItem{.outcome = HeadlessMediaItem::Outcome::fails});
  }
  Media& media() { return *port_.platform.media; }
  Dispatcher& dispatcher() { return *port_.platform.dispatcher; }
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    return port_.runUntil(done, timeoutSeconds);
  }
  void runFor(double seconds) { port_.runFor(seconds); }
  std::string videoUrl() { return "https://cdn.example/video.webm"; }
  std::string missingUrl() { return "file:///nonexistent/video.webm"; }

  testing_support::TempDir dir_;
  HeadlessPort port_ = makeHeadlessPort(options(dir_.path()));

  static HeadlessOptions options(const std::filesystem::path& dir) {
    HeadlessOptions o;
    o.time = TimeMode::virtualTime;
    o.dataDirectory = dir;
    return o;
  }
};

}  // namespace
}  // namespace orvex::headless

namespace orvex::media_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(HeadlessMedia, MediaContract, headless::HeadlessDriver);
}

namespace orvex::headless {
namespace {

TEST(HeadlessMedia, PlaysInVirtualTimeToTheNanosecondAndRecordsWhatItWasAsked) {
  auto time = std::make_shared<VirtualTime>(WallTime(std::chrono::seconds(1767225600)));
  HeadlessMedia media(time, time);
  media.registerItem("https://cdn.example/ad.webm", {.duration = 30.4, .frameRate = 24});
  media.registerItem("https://cdn.example/stalls.webm",
                     {.outcome = HeadlessMediaItem::Outcome::neverReady});
  auto player = std::dynamic_pointer_cast<HeadlessVideoPlayer>(
      media.makePlayer("https://cdn.example/ad.webm"));
  auto stalled = media.makePlayer("https://cdn.example/stalls.webm");
  std::vector<double> times;
  std::vector<double> endedAt;
  auto periodic = player->addPeriodicTimeObserver(1, [&](double t) { times.push_back(t); });
  auto end = player->addEndObserver([&] { endedAt.push_back(player->currentTime()); });
  player->play();
  stalled->play();
  time->advance(10.6);
  EXPECT_DOUBLE_EQ(player->currentTime(), 10.6);
  EXPECT_DOUBLE_EQ(player->nominalFrameRate(), 24);
  time->advance(30);
  EXPECT_EQ(times.size(), 30u);
  EXPECT_DOUBLE_EQ(times.front(), 1);
  EXPECT_DOUBLE_EQ(times.back(), 30);
  EXPECT_THAT(endedAt, ElementsAre(30.4));
  EXPECT_EQ(*player->duration(), 30.4);
  // The view's "last frame": exact, whatever the tolerances.
  player->seek(30.4 - 1.0 / 24, 0, std::numeric_limits<double>::infinity(), {});
  player->setMuted(true);
  EXPECT_NEAR(player->currentTime(), 30.4 - 1.0 / 24, 1e-9);  // nanoseconds
  EXPECT_THAT(player->calls(), ElementsAre("play", "seek", "muted"));
  EXPECT_TRUE(std::isinf(player->seeks().back().toleranceAfter));

  EXPECT_EQ(stalled->status(), MediaItemStatus::unknown);
  EXPECT_DOUBLE_EQ(stalled->currentTime(), 0);
  EXPECT_EQ(media.players().size(), 2u);
  stalled.reset();
  EXPECT_EQ(media.players().size(), 1u);
  EXPECT_EQ(player->observerCount(), 2u);
  periodic.reset();
  EXPECT_EQ(player->observerCount(), 1u);
}

TEST(HeadlessMedia, TheAudioSessionRecordsCallsAndFailsWhenTold) {
  auto time = std::make_shared<VirtualTime>(WallTime(std::chrono::seconds(1767225600)));
  HeadlessMedia media(time, time);
  auto& session = *media.recordedAudioSession();
  session.failSetCategory("category refused");
  auto error = session.setCategory(AudioSessionCategory::ambient, AudioSessionMode::standard,
                                   AudioSessionRouteSharingPolicy::standard,
                                   AudioSessionCategoryOptions::none);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->description, "category refused");
  EXPECT_EQ(session.category(), AudioSessionCategory::soloAmbient);
  session.failSetCategory(std::nullopt);
  session.setActive(false, true);
  ASSERT_EQ(session.calls().size(), 2u);
  EXPECT_TRUE(session.calls()[0].failed);
  EXPECT_EQ(session.calls()[1].kind, linux_port::RecordedAudioSession::Call::Kind::setActive);
  EXPECT_TRUE(session.calls()[1].notifyOthersOnDeactivation);
}

}  // namespace
}  // namespace orvex::headless
