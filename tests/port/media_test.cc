// The headless port's media beyond the port contract (tests/conformance/media_conformance.cc):
// what only virtual time shows exactly, registered items, and the recorded audio session.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ports/headless/headless_media.h"
#include "ports/headless/virtual_time.h"

namespace orvex::headless {
namespace {

using testing::ElementsAre;

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
