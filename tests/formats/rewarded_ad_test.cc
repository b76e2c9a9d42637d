#include "orvex/formats/fullscreen/orvex_rewarded_ad.h"

#include <gtest/gtest.h>

#include <cmath>

#include "orvex/core/orvex.h"
#include "ports/headless/headless_media.h"
#include "ports/headless/headless_web_view.h"
#include "ports/linux/lifecycle.h"
#include "tests/formats/fullscreen_test_support.h"

namespace orvex {
namespace {

using headless::HeadlessMediaItem;
using headless::HeadlessWebView;
using testing_support::adAnswer;
using testing_support::FullScreenFlow;
using testing_support::FullScreenHost;
using Events = std::vector<std::string>;

constexpr const char* kVideo = "https://cdn.example/v.webm";
const std::string kPage =
    R"("id":"a:b:c_d_e","cpId":"x:y","creative":"<video><source src=\"https://cdn.example/v.webm\"></video>")";

class RewardedFlow : public FullScreenFlow {
 protected:
  RewardedFlow() {
    sdk_.port().media->registerItem(kVideo, HeadlessMediaItem{30.4, 25});
    audio().setCategory(AudioSessionCategory::playback, AudioSessionMode::moviePlayback,
                        AudioSessionRouteSharingPolicy::longFormVideo,
                        AudioSessionCategoryOptions::mixWithOthers);
  }
  ~RewardedFlow() override { OrvexRewardedAd::setBackfillLoader({}); }
  std::vector<std::string>& events() override { return host_->events; }

  std::shared_ptr<OrvexRewardedAd> loaded(const std::string& fields = kPage) {
    answer_ = adAnswer(fields);
    auto ad = OrvexRewardedAd::create("unit");
    ad->setDelegate(host_);
    hookCallbacks(*ad);
    ad->load();
    sdk_.advance(0.5);
    return ad;
  }
  void show(OrvexRewardedAd& ad) {
    ad.show(root(), [this](std::int64_t type, std::int64_t amount) {
      host_->events.push_back("reward " + std::to_string(type) + "x" + std::to_string(amount));
    });
    sdk_.advance(0.5);
  }
  AudioSession& audio() { return *sdk_.port().media->audioSession(); }
  static std::shared_ptr<HeadlessWebView> page(const OrvexRewardedAd& ad) {
    return std::dynamic_pointer_cast<HeadlessWebView>(ad.screen()->webView());
  }
  // The remaining times the page was told, in order.
  static Events countdown(const HeadlessWebView& web) {
    Events out;
    for (const auto& s : web.evaluatedScripts())
      if (s.starts_with("updateRemainingTime(")) out.push_back(s);
    return out;
  }
  void send(AppNotification notification) {
    sdk_.port().lifecycle->send(notification);
    sdk_.advance(0);
  }
  // The session as the ad left it: "category/active".
  std::string session() {
    return std::to_string(static_cast<int>(audio().category())) +
           (audio().isActive() ? "/on" : "/off");
  }

  std::shared_ptr<FullScreenHost<OrvexRewardedAd>> host_ =
      std::make_shared<FullScreenHost<OrvexRewardedAd>>();
};

TEST_F(RewardedFlow, TheVideoPlaysToItsEndAndEveryRewardThePageSendsArrives) {
  start();
  auto ad = loaded();
  EXPECT_EQ(host_->events, (Events{"received"}));
  auto screen = ad->screen();
  EXPECT_EQ(screen->videoURL(), kVideo);
  const auto player = screen->videoPlayerView()->player();
  ASSERT_TRUE(player);
  EXPECT_FALSE(player->isPlaying());  // nothing plays before the screen is up
  EXPECT_TRUE(screen->viewController()->prefersStatusBarHidden());

  show(*ad);
  EXPECT_EQ(root()->presentedViewController(), screen->viewController());
  EXPECT_EQ(screen->fsm()->state, OrvexRewardedAdState::advertising);
  EXPECT_TRUE(player->isPlaying());
  EXPECT_EQ(session(), std::to_string(static_cast<int>(AudioSessionCategory::soloAmbient)) + "/on");

  auto web = page(*ad);
  for (const char* body :
       {R"({"action":"reward","type":1,"amount":10})",
        R"({"action":"reward","type":1,"amount":"10"})",
        R"({"action":"reward","type":2,"amount":5})", R"({"action":"mute","isMuted":true})",
        R"({"action":"mute"})", R"({"action":"open","url":"https://adv.example/x"})",
        R"({"action":"open","url":"https://adv.example/x"})"}) {
    web->postMessageJSON("orvex", body);
  }
  sdk_.advance(2);
  EXPECT_TRUE(player->isMuted());
  web->postMessageJSON("orvex", R"({"action":"mute","isMuted":false})");
  sdk_.advance(40);  // to the end of the 30.4 s video
  EXPECT_FALSE(player->isMuted());
  EXPECT_EQ(screen->fsm()->state, OrvexRewardedAdState::finished);
  const Events told = countdown(*web);
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.front(), "updateRemainingTime(29)");  // 30.4 - 1.0, rounded
  EXPECT_EQ(told.back(), "updateRemainingTime(0)");
  // The session is the host's again, as it was before the ad.
  EXPECT_EQ(audio().category(), AudioSessionCategory::playback);
  EXPECT_EQ(audio().mode(), AudioSessionMode::moviePlayback);
  EXPECT_EQ(audio().routeSharingPolicy(), AudioSessionRouteSharingPolicy::longFormVideo);
  EXPECT_EQ(audio().categoryOptions(), AudioSessionCategoryOptions::mixWithOthers);
  EXPECT_FALSE(audio().isActive());

  send(AppNotification::didEnterBackground);  // after the end nothing touches the session
  audio().setActive(true);
  send(AppNotification::didBecomeActive);
  EXPECT_TRUE(audio().isActive());
  EXPECT_EQ(countdown(*web).size(), told.size());

  web->postMessageJSON("orvex", R"({"action":"close"})");
  sdk_.advance(1);
  EXPECT_EQ(host_->events,
            (Events{"received", "willPresent", "impression", "didPresent", "reward 1x10",
                    "reward 2x5", "clicked", "willDismiss", "didDismiss"}));
  EXPECT_EQ(opened().size(), 2u);
  EXPECT_EQ(metrics(), (Events{"AD_IMPR a:b:c_d_e@unit", "AD_CLICK a:b:c_d_e@unit"}));
  EXPECT_FALSE(screen->videoPlayerView()->player());
}

TEST_F(RewardedFlow, BackgroundAndForegroundFollowTheMachinesTable) {
  start();
  auto ad = loaded();
  auto screen = ad->screen();
  const auto player = screen->videoPlayerView()->player();
  audio().setActive(true);
  send(AppNotification::willResignActive);  // idle: the session goes quiet anyway
  EXPECT_FALSE(audio().isActive());
  send(AppNotification::didBecomeActive);  // idle: nothing plays
  EXPECT_FALSE(player->isPlaying());

  show(*ad);
  sdk_.advance(10);
  send(AppNotification::didEnterBackground);
  EXPECT_FALSE(player->isPlaying());
  EXPECT_EQ(audio().category(), AudioSessionCategory::playback);
  const double pausedAt = player->currentTime();
  sdk_.advance(60);
  EXPECT_EQ(player->currentTime(), pausedAt);
  send(AppNotification::didBecomeActive);
  EXPECT_TRUE(player->isPlaying());
  EXPECT_EQ(audio().category(), AudioSessionCategory::soloAmbient);

  ad->show(root(),
           [](std::int64_t, std::int64_t) { FAIL() << "the second handler replaced the first"; });
  sdk_.advance(40);
  EXPECT_EQ(screen->fsm()->state, OrvexRewardedAdState::finished);
  EXPECT_EQ(host_->events.back(), "showFailed ERROR_CODE_AD_SHOWN");
  page(*ad)->postMessageJSON("orvex", R"({"action":"reward","type":3,"amount":1})");
  sdk_.advance(0);
  EXPECT_EQ(host_->events.back(), "reward 3x1");

  send(AppNotification::didBecomeActive);  // finished: back to the last frame
  auto* headlessPlayer = dynamic_cast<headless::HeadlessVideoPlayer*>(player.get());
  ASSERT_FALSE(headlessPlayer->seeks().empty());
  EXPECT_DOUBLE_EQ(headlessPlayer->seeks().back().seconds, 30.4 - 1.0 / 25);
}

TEST_F(RewardedFlow, RemainingSecondsRoundHalvesAwayFromZero) {
  start();
  auto player = sdk_.port().media->makePlayer(kVideo);
  sdk_.advance(0.1);
  for (const auto& [at, remaining] : {std::pair{10.6, 20}, {10.4, 20}, {10.95, 19}}) {
    player->seek(at, 0, 0, {});
    sdk_.advance(0.1);
    EXPECT_EQ(OrvexVideoPlayerView::remainingSeconds(*player), remaining) << at;
  }
  sdk_.port().media->registerItem("https://cdn.example/live", HeadlessMediaItem{INFINITY});
  auto live = sdk_.port().media->makePlayer("https://cdn.example/live");
  sdk_.advance(0.1);
  EXPECT_EQ(OrvexVideoPlayerView::remainingSeconds(*live), std::nullopt);
}

TEST_F(RewardedFlow, APageWithoutAPlayableVideoIsNeverReady) {
  start();
  auto none = loaded(R"("id":"t","creative":"<video></video>")");
  sdk_.port().webViews->setFinishLoadsAutomatically(false);
  auto late = loaded();
  sdk_.advance(5);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_NETWORK", "failed ERROR_CODE_NETWORK"}));
  late->screen()->didFinish(*page(*late));  // a finish already on its way: the probe answers late
  sdk_.advance(1);
  EXPECT_EQ(late->screen()->videoURL(), kVideo);
  EXPECT_FALSE(late->screen()->videoPlayerView()->player());
  EXPECT_EQ(host_->events.size(), 2u);
}

TEST_F(RewardedFlow, AScreenClosedOrReleasedMidVideoGivesTheSessionBack) {
  start();
  auto ad = loaded();
  show(*ad);
  auto web = page(*ad);
  std::weak_ptr<OrvexRewardedAdViewController> screen = ad->screen();
  ad.reset();
  sdk_.advance(3);
  web->postMessageJSON("orvex", R"({"action":"close"})");
  sdk_.advance(1);
  EXPECT_TRUE(screen.expired());
  EXPECT_EQ(audio().category(), AudioSessionCategory::playback);
  EXPECT_FALSE(audio().isActive());
  EXPECT_EQ(host_->events, (Events{"received", "willPresent", "impression", "didPresent"}));
}

TEST_F(RewardedFlow, ABackfillModuleShowsWithTheHostsRewardHandler) {
  start();
  OrvexRewardedAd::setBackfillLoader([](auto ad, OrvexInternal::AdCompletion) {
    RewardedInternalAccess& access = *ad;
    access.setInternalShowHandler(
        [](std::shared_ptr<ViewController>, auto reward) { reward(4, 2); });
    access.setInternalIsLoading(false);
    access.setInternalLoaded(true);
    access.internalNotify(OrvexMetricCode::valid, std::nullopt);
  });
  auto ad = loaded();
  show(*ad);
  EXPECT_EQ(host_->events, (Events{"received", "reward 4x2", "impression"}));
  EXPECT_TRUE(metrics().empty());
}

}  // namespace
}  // namespace orvex
