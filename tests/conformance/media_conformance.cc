// Video playback and the audio session (orvex/platform/media.h, audio_session.h): an item from a
// URL becomes ready with its facts or fails, plays to its end once, reports its time on the main
// queue, pauses, seeks, mutes, and a released player is heard from no more. The video is the local
// service's fixture as a file URL (no network); the headless port knows its facts without
// decoding it. Times are checked loosely enough for a port whose frames land on a clock of their
// own; in virtual time they are met exactly.
#include <gmock/gmock.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "orvex/platform/media.h"
#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

constexpr double kVideoSeconds = 5.0;
constexpr double kSlack = 0.1;

std::string missingVideoURL() {
  return "file://" + std::string(ORVEX_SOURCE_DIR) + "/tools/adserver/fixtures/static/missing.webm";
}

class Media : public PortTest {
 protected:
  orvex::Media& media() { return *port().platform().media; }
  std::shared_ptr<VideoPlayer> readyPlayer() {
    auto player = media().makePlayer(videoURL());
    EXPECT_TRUE(port().runUntil([&] { return player->status() != MediaItemStatus::unknown; }, 10));
    EXPECT_EQ(player->status(), MediaItemStatus::readyToPlay) << player->error().value_or("");
    return player;
  }
  bool onMain() { return port().dispatcher().isMainThread(); }
};

TEST_P(Media, ItemsBecomeReadyWithTheirFactsOrFail) {
  auto player = media().makePlayer(videoURL());
  EXPECT_EQ(player->status(), MediaItemStatus::unknown);  // never inside makePlayer
  EXPECT_FALSE(player->duration());
  ASSERT_TRUE(
      port().runUntil([&] { return player->status() == MediaItemStatus::readyToPlay; }, 10));
  EXPECT_NEAR(player->duration().value_or(0), kVideoSeconds, kSlack);
  EXPECT_DOUBLE_EQ(player->nominalFrameRate(), 30);
  EXPECT_DOUBLE_EQ(player->currentTime(), 0);
  EXPECT_FALSE(player->isPlaying());
  EXPECT_EQ(player->url(), videoURL());

  auto view = media().makeVideoView();
  ASSERT_TRUE(view);
  view->setPlayer(player);
  EXPECT_EQ(view->player(), player);
  view->setPlayer(nullptr);
  EXPECT_FALSE(view->player());

  for (const std::string& url :
       {missingVideoURL(), std::string("ftp://127.0.0.1/a.webm"), std::string("not a url")}) {
    auto bad = media().makePlayer(url);
    bad->play();
    ASSERT_TRUE(port().runUntil([&] { return bad->status() == MediaItemStatus::failed; }, 10))
        << url;
    EXPECT_TRUE(bad->error()) << url;
    EXPECT_FALSE(bad->duration()) << url;
  }
}

TEST_P(Media, PlaysToItsEndOnceReportingTimeOnTheMainQueue) {
  auto player = media().makePlayer(videoURL());
  std::vector<double> times;
  int ends = 0;
  bool allOnMain = true;
  auto periodic = player->addPeriodicTimeObserver(1.0, [&](double t) {
    times.push_back(t);
    allOnMain = allOnMain && onMain();
  });
  auto end = player->addEndObserver([&] {
    ++ends;
    allOnMain = allOnMain && onMain();
  });
  player->play();  // before the item is ready: it starts when it is
  EXPECT_TRUE(player->isPlaying());
  ASSERT_TRUE(port().runUntil([&] { return ends > 0; }, kVideoSeconds + 10));
  EXPECT_FALSE(player->isPlaying());
  EXPECT_NEAR(player->currentTime(), kVideoSeconds, kSlack);
  // Roughly one a second, in order, none past the end.
  EXPECT_GE(times.size(), 3u);
  EXPECT_LE(times.size(), 6u);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  EXPECT_THAT(times, testing::Each(testing::Le(kVideoSeconds + kSlack)));
  const auto reported = times.size();
  player->play();  // at the end: nothing
  port().runFor(1.5);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(times.size(), reported);
  EXPECT_TRUE(allOnMain);
}

TEST_P(Media, PauseHoldsTimeSeeksLandAndMuteIsKept) {
  auto player = readyPlayer();
  std::vector<double> times;
  auto periodic = player->addPeriodicTimeObserver(1.0, [&](double t) { times.push_back(t); });
  player->play();
  port().runFor(1.2);
  player->pause();
  const double paused = player->currentTime();
  EXPECT_GT(paused, 0.5);
  EXPECT_LT(paused, 1.2 + kSlack);
  port().runFor(1.5);
  EXPECT_NEAR(player->currentTime(), paused, 0.05);
  EXPECT_FALSE(player->isPlaying());

  // A seek cut short by another reports false; the one that lands reports true and its time once.
  std::vector<std::string> completions;
  player->seek(1.0, 0, 0, [&](bool f) { completions.push_back(f ? "first" : "first cut"); });
  player->seek(3.5, 0, 0, [&](bool f) { completions.push_back(f ? "second" : "second cut"); });
  times.clear();
  ASSERT_TRUE(port().runUntil([&] { return completions.size() == 2; }, 10));
  EXPECT_THAT(completions, testing::ElementsAre("first cut", "second"));
  EXPECT_NEAR(player->currentTime(), 3.5, 0.05);
  ASSERT_TRUE(port().runUntil([&] { return !times.empty(); }, 5));
  port().runFor(0.3);
  ASSERT_EQ(times.size(), 1u);
  EXPECT_NEAR(times[0], 3.5, 0.05);

  EXPECT_FALSE(player->isMuted());
  player->setMuted(true);
  EXPECT_TRUE(player->isMuted());
  // Back from the end, the item plays (and ends) again.
  int ends = 0;
  auto end = player->addEndObserver([&] { ++ends; });
  player->play();
  ASSERT_TRUE(port().runUntil([&] { return ends == 1; }, 10));
  bool back = false;
  player->seek(4.0, 0, 0, [&](bool f) { back = f; });
  ASSERT_TRUE(port().runUntil([&] { return back; }, 10));
  player->play();
  ASSERT_TRUE(port().runUntil([&] { return ends == 2; }, 10));
  EXPECT_TRUE(player->isMuted());
}

TEST_P(Media, ReleasedPlayersAndRemovedObserversHearNothing) {
  // Two players near their end: one kept, one released while it plays.
  auto kept = readyPlayer();
  auto released = readyPlayer();
  int keptEnds = 0, removedCalls = 0, releasedCalls = 0;
  auto keptEnd = kept->addEndObserver([&] { ++keptEnds; });
  auto removed = kept->addEndObserver([&] { ++removedCalls; });
  auto tick = released->addPeriodicTimeObserver(0.2, [&](double) { ++releasedCalls; });
  auto releasedEnd = released->addEndObserver([&] { ++releasedCalls; });
  int seeked = 0;
  for (auto* p : {&kept, &released}) {
    (*p)->seek(4.0, 0, 0, [&](bool) { ++seeked; });
    (*p)->play();
  }
  removed.reset();
  ASSERT_TRUE(port().runUntil([&] { return seeked == 2; }, 10));
  released->seek(4.2, 0, 0, [&](bool) { ++releasedCalls; });
  const int before = releasedCalls;
  released.reset();
  ASSERT_TRUE(port().runUntil([&] { return keptEnds > 0; }, 10));
  port().runFor(0.5);
  EXPECT_EQ(releasedCalls, before);
  EXPECT_EQ(removedCalls, 0);
  EXPECT_EQ(keptEnds, 1);
}

TEST_P(Media, AudioSessionKeepsWhatItIsGiven) {
  auto session = media().audioSession();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->category(), AudioSessionCategory::soloAmbient);
  EXPECT_EQ(session->mode(), AudioSessionMode::standard);
  EXPECT_EQ(session->routeSharingPolicy(), AudioSessionRouteSharingPolicy::standard);
  EXPECT_EQ(session->categoryOptions(), AudioSessionCategoryOptions::none);
  EXPECT_FALSE(session->isActive());

  const auto options =
      AudioSessionCategoryOptions::mixWithOthers | AudioSessionCategoryOptions::duckOthers;
  EXPECT_FALSE(session->setCategory(AudioSessionCategory::playback, AudioSessionMode::moviePlayback,
                                    AudioSessionRouteSharingPolicy::longFormAudio, options));
  EXPECT_EQ(session->category(), AudioSessionCategory::playback);
  EXPECT_EQ(session->mode(), AudioSessionMode::moviePlayback);
  EXPECT_EQ(session->routeSharingPolicy(), AudioSessionRouteSharingPolicy::longFormAudio);
  EXPECT_EQ(session->categoryOptions(), options);
  EXPECT_FALSE(session->setActive(true));
  EXPECT_TRUE(session->isActive());
  EXPECT_FALSE(session->setActive(false, true));
  EXPECT_FALSE(session->isActive());
  EXPECT_EQ(media().audioSession(), session);  // one per application
}

ORVEX_CONFORMANCE_AREA(Media);

}  // namespace
}  // namespace orvex::conformance
