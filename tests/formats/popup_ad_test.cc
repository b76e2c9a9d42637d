#include "orvex/formats/popup/orvex_popup_ad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/formats/popup/orvex_popup_ad_rolling_timer.h"
#include "orvex/formats/popup/orvex_popup_ad_view.h"
#include "orvex/formats/popup/orvex_popup_web_view_controller.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "ports/headless/virtual_time.h"
#include "ports/linux/lifecycle.h"
#include "tests/formats/fullscreen_test_support.h"

namespace orvex {
namespace {

using headless::HeadlessWebView;
using testing_support::adsAnswer;
using testing_support::FullScreenFlow;
using testing_support::FullScreenHost;
using Events = std::vector<std::string>;

// One creative of the answer: transaction id "t:N_cN", campaign "cp:N", page "<p>N</p>", landing
// page "https://adv.example/N" (unless given); `more` adds members.
std::string creative(int n, const std::string& more = "", std::string txId = "",
                     std::optional<std::string> html = std::nullopt) {
  const std::string i = std::to_string(n);
  if (txId.empty()) txId = "t:" + i + "_c" + i;
  return R"({"id":")" + txId + R"(","cpId":"cp:)" + i + R"(","creative":")" +
         html.value_or("<p>" + i + "</p>") + R"(","destinationURL":"https://adv.example/)" + i +
         "\"" + (more.empty() ? "" : "," + more) + "}";
}
const std::string kTodayOnly =
    R"("popupOptions":{"useHideForToday":true,"useHideThisAdForToday":true})";

class PopupFlow : public FullScreenFlow {
 protected:
  PopupFlow() { answer_ = adsAnswer({creative(1), creative(2)}); }
  std::shared_ptr<OrvexPopupAd> make(const std::string& unitId = "unit") {
    auto popup = OrvexPopupAd::create(unitId);
    popup->setDelegate(host_);
    hookCallbacks(*popup);
    popup->onAdFailedToReceive = [this](OrvexPopupAd&, OrvexErrorCode) { times_.push_back(now()); };
    popup->onAdReceived = [this](OrvexPopupAd&) { times_.push_back(now()); };
    return popup;
  }
  std::shared_ptr<OrvexPopupAd> loaded(const std::string& unitId = "unit") {
    auto popup = make(unitId);
    popup->load();
    sdk_.advance(0.5);
    return popup;
  }
  std::shared_ptr<HeadlessWebView> page(const OrvexPopupAd& popup, std::size_t i) {
    return std::dynamic_pointer_cast<HeadlessWebView>(
        popup.popupAdViewController()->pages().at(i)->webView()->webView());
  }
  headless::VirtualTime& clock() { return *sdk_.port().virtualTime; }
  double now() { return std::chrono::duration<double>(clock().now().time_since_epoch()).count(); }
  // Seconds from now to the next local midnight at `offset` seconds east of UTC.
  double toLocalMidnight(int offset) {
    return 86400 - std::fmod(std::fmod(now() + offset, 86400) + 86400, 86400);
  }
  std::vector<std::string>& events() override { return host_->events; }

  std::shared_ptr<FullScreenHost<OrvexPopupAd>> host_ =
      std::make_shared<FullScreenHost<OrvexPopupAd>>();
  std::vector<double> times_;
};

TEST_F(PopupFlow, LoadAndShowChecksReportTheirCodes) {
  start(/*production=*/true);
  Orvex::shared().config().setActive(false);
  auto popup = make();
  popup->show();  // before any load
  popup->load();  // inactive
  auto empty = make("");
  empty->load();
  sdk_.advance(1);
  auto test = make("x_PUBLIC_TEST_UNIT_ID_y");
  test->load();
  test->load();  // while the first is out
  test->show();
  sdk_.advance(1);
  test->load();
  EXPECT_TRUE(test->isLoaded());
  sdk_.advance(1);
  EXPECT_EQ(host_->events,
            (Events{"showFailed ERROR_CODE_AD_EMPTY", "failed ERROR_CODE_AD_INACTIVE",
                    "failed ERROR_CODE_INVALID_UNIT", "failed ERROR_CODE_AD_LOADING",
                    "showFailed ERROR_CODE_AD_LOADING", "received",
                    "failed ERROR_CODE_AD_LOAD_DUPLICATED"}));
  EXPECT_EQ(test->txIds(), (Events{"t:1_c1", "t:2_c2"}));
  EXPECT_EQ(test->campaignIds(), (Events{"1", "2"}));
}

TEST_F(PopupFlow, NotATargetCountryAsksNothing) {
  Orvex::initialize(false, false, std::vector<std::string>{"KR"});
  sdk_.advance(0);
  auto popup = make();
  popup->load();
  EXPECT_TRUE(host_->events.empty());  // never from inside load()
  sdk_.advance(1);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_NOT_TARGET_COUNTRY"}));
}

TEST_F(PopupFlow, ResponsesAreFilteredLimitedAndChecked) {
  start();
  // The campaign of creative 2 was hidden today by an earlier popup of the unit.
  {
    answer_ = adsAnswer({creative(2, kTodayOnly)});
    auto earlier = loaded();
    earlier->popupAdViewController()->hideForToday(0);
  }
  const std::string limit2 = R"("limit":2)";
  struct Row {
    std::vector<std::string> creatives;
    std::string outcome;
    std::vector<std::string> txIds;
  } rows[] = {
      {{creative(1), creative(2), creative(3)}, "received", {"t:1_c1", "t:3_c3"}},
      {{creative(2)}, "failed ERROR_CODE_AD_NO_FILL", {}},
      {{creative(1, limit2), creative(3), creative(4), creative(5), creative(6)},
       "received",
       {"t:1_c1", "t:3_c3"}},
      {{creative(1, R"("limit":0)"), creative(3), creative(4)},
       "received",
       {"t:1_c1", "t:3_c3", "t:4_c4"}},
      // Only the first creative's limit counts.
      {{creative(1), creative(3, limit2), creative(4)}, "received", {"t:1_c1", "t:3_c3", "t:4_c4"}},
      // Those before an empty page are listed; nothing is shown.
      {{creative(1), creative(3, "", "", ""), creative(4)},
       "failed ERROR_CODE_AD_NO_FILL",
       {"t:1_c1"}},
      {{}, "failed ERROR_CODE_AD_NO_FILL", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.creatives));
    host_->events.clear();
    answer_ = adsAnswer(row.creatives);
    auto popup = loaded();
    EXPECT_EQ(host_->events, (Events{row.outcome}));
    EXPECT_EQ(popup->txIds(), row.txIds);
    EXPECT_EQ(popup->isLoaded(), row.outcome == "received");
  }
  answer_ = adsAnswer({creative(1, "", "a:b:x_y_z"), creative(3, "", "q")});
  EXPECT_EQ(loaded()->creativeIds(), (Events{"y_z", ""}));
}

TEST_F(PopupFlow, HiddenForTodayUntilLocalMidnightInEachTimeZone) {
  start();
  struct Row {
    int offset;
    std::string unit;
    std::string options;  // the campaign's own mark, or the unit's
    std::string whileHidden;
  } rows[] = {
      {9 * 3600, "seoul", "", "failed ERROR_CODE_AD_HIDE_FOR_TODAY"},
      {-5 * 3600, "newyork", "", "failed ERROR_CODE_AD_HIDE_FOR_TODAY"},
      {9 * 3600, "seoul-campaign", kTodayOnly, "failed ERROR_CODE_AD_NO_FILL"},
      {-5 * 3600, "newyork-campaign", kTodayOnly, "failed ERROR_CODE_AD_NO_FILL"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.unit);
    clock().setUtcOffsetSeconds(row.offset);
    answer_ = adsAnswer({creative(1, row.options)});
    sdk_.advance(toLocalMidnight(row.offset) - 3600);  // 23:00 local
    loaded(row.unit)->popupAdViewController()->hideForToday(0);
    host_->events.clear();
    loaded(row.unit);
    sdk_.advance(3599 - 0.5);
    loaded(row.unit);                                 // 23:59:59.5
    clock().shiftWallClock(-std::chrono::hours(48));  // the user sets the date back
    loaded(row.unit);
    clock().shiftWallClock(std::chrono::hours(48));
    sdk_.advance(1);  // past midnight
    loaded(row.unit);
    EXPECT_EQ(host_->events,
              (Events{row.whileHidden, row.whileHidden, row.whileHidden, "received"}));
  }
  EXPECT_EQ(metrics(),
            (Events{"AD_TODAY_OFF t:1_c1@seoul", "AD_TODAY_OFF t:1_c1@newyork",
                    "AD_TODAY_OFF t:1_c1@seoul-campaign", "AD_TODAY_OFF t:1_c1@newyork-campaign"}));
}

TEST_F(PopupFlow, PagesArePolledUntilTheirImagesAreInWithinTheDeadline) {
  start();
  sdk_.port().webViews->setFinishLoadsAutomatically(false);
  struct Row {
    double finishAt;            // -1: never
    int falses;                 // isLoadComplete() answers false this many times, then true
    std::vector<double> polls;  // after the finish
    std::string outcome;
    double at;  // after load()
  } rows[] = {
      {0.5, 0, {0}, "received", 0.5},
      {0.5, 4, {0, 0.2, 0.7, 1.7, 3.7}, "received", 4.2},
      {0.5, 5, {0, 0.2, 0.7, 1.7, 3.7}, "failed ERROR_CODE_NETWORK", 4.2},
      {2.0, 5, {0, 0.2, 0.7, 1.7}, "failed ERROR_CODE_NETWORK", 5.0},
      {-1, 0, {}, "failed ERROR_CODE_NETWORK", 5.0},
      {0.5, -1, {0}, "failed ERROR_CODE_NETWORK", 5.0},  // an answer that is not a boolean
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.polls));
    host_->events.clear();
    times_.clear();
    answer_ = adsAnswer({creative(1)});
    auto popup = make();
    const double start = now();
    popup->load();
    sdk_.advance(0.25);
    std::vector<double> polls;
    int answered = 0;
    page(*popup, 0)->setScriptResponder([&](const std::string& script) -> std::optional<Value> {
      if (script != OrvexPopupWebViewController::kLoadCompleteScript) return std::nullopt;
      polls.push_back(now() - start - row.finishAt);
      if (row.falses < 0) return Value("yes");
      return Value(answered++ >= row.falses);
    });
    if (row.finishAt > 0) {
      sdk_.advance(row.finishAt - 0.25);
      page(*popup, 0)->finishLoad();
    }
    sdk_.advance(10);
    EXPECT_EQ(host_->events, (Events{row.outcome}));
    ASSERT_EQ(polls.size(), row.polls.size());
    for (std::size_t i = 0; i < polls.size(); ++i) EXPECT_NEAR(polls[i], row.polls[i], 1e-6);
    ASSERT_EQ(times_.size(), 1u);
    EXPECT_NEAR(times_[0] - start, row.at, 1e-6);
  }
}

TEST_F(PopupFlow, OnlyTheFirstPageDecidesTheLoad) {
  start();
  sdk_.port().webViews->setFinishLoadsAutomatically(false);
  for (std::size_t failing : {0u, 1u}) {
    auto popup = make();
    popup->load();
    sdk_.advance(0.25);
    page(*popup, 1 - failing)->finishLoad();
    sdk_.advance(6);
    EXPECT_FALSE(page(*popup, failing)->isLoading());  // stopped at the deadline
    EXPECT_TRUE(popup->popupAdViewController()->pages().at(failing)->didFinishLoading());
  }
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_NETWORK", "received"}));
}

TEST_F(PopupFlow, OnlyAUsersTapIsAClickAndEachOneCounts) {
  start();
  auto popup = loaded();
  auto web = page(*popup, 1);
  web->activateLink("https://adv.example/any");
  web->activateLink("https://adv.example/any");
  web->requestNewWindow("https://adv.example/window");
  // The page's own doing is neither a click nor a navigation.
  web->navigate(NavigationAction{NavigationType::linkActivated, "https://adv.example/self",
                                 NavigationTarget::mainFrame, false});
  web->requestNewWindow("https://adv.example/auto", /*userGesture=*/false);
  sdk_.advance(1);
  popup->setUseCustomClick(true);
  web->activateLink("https://adv.example/any");
  sdk_.advance(1);
  EXPECT_EQ(host_->events, (Events{"received", "clicked", "clicked", "clicked", "clicked"}));
  EXPECT_EQ(metrics(), (Events(4, "AD_CLICK t:2_c2@unit")));
  // The creative's landing page, never the link's.
  EXPECT_EQ(opened(), (Events(3, "https://adv.example/2")));
  EXPECT_EQ(popup->txId(), "t:2_c2");
  EXPECT_EQ(popup->creativeId(), "c2");
  EXPECT_EQ(popup->destinationURL(), "https://adv.example/2");
  EXPECT_EQ(web->loads().size(), 1u);
}

TEST_F(PopupFlow, RollingTimerAdvancesOnlyWithTwoPagesAndPausesWhileDragged) {
  start();
  auto scroll = sdk_.port().ui->makeScrollView();
  scroll->setFrame(Rect(0, 0, 100, 50));
  scroll->setContentSize(Size{300, 50});
  scroll->setContentOffset(Point{100, 0}, false);
  auto timer = OrvexPopupAdRollingTimer::create(scroll);
  timer->start();  // one page
  EXPECT_FALSE(timer->isRunning());
  timer->setMaxPages(2);
  timer->setShouldRoll(false);  // a video plays
  timer->start();
  EXPECT_FALSE(timer->isRunning());
  timer->setShouldRoll(true);
  timer->start();
  sdk_.advance(2.9);
  EXPECT_EQ(scroll->contentOffset().x, 100);
  sdk_.advance(0.5);
  EXPECT_EQ(scroll->contentOffset().x, 200);
  timer->scrollViewWillBeginDragging();
  scroll->setContentOffset(Point{100, 0}, false);
  sdk_.advance(6);
  EXPECT_EQ(scroll->contentOffset().x, 100);
  timer->scrollViewDidEndDragging(/*willDecelerate=*/true);
  EXPECT_FALSE(timer->isRunning());
  timer->scrollViewDidEndDecelerating();
  sdk_.advance(3.5);
  EXPECT_EQ(scroll->contentOffset().x, 200);
  timer->tick();  // from the last slot, back to the first
  sdk_.advance(0.5);
  EXPECT_EQ(scroll->contentOffset().x, 0);
}

// ---- on screen ----

class ShownPopup : public PopupFlow {
 protected:
  std::shared_ptr<OrvexPopupAd> shown(std::vector<std::string> creatives) {
    answer_ = adsAnswer(creatives);
    auto popup = loaded();
    popup->show();
    sdk_.advance(1);  // the appearing animation ends
    return popup;
  }
  OrvexPopupAdView& view(const OrvexPopupAd& popup) {
    return *popup.popupAdViewController()->view();
  }
};

TEST_F(ShownPopup, TwoPagesRollEveryThreeSecondsOnlyWhileActive) {
  start();
  auto popup = shown({creative(1), creative(2)});
  EXPECT_EQ(std::vector(host_->events.begin(), host_->events.begin() + 3),
            (Events{"received", "willPresent", "didPresent"}));
  EXPECT_EQ(view(*popup).view()->window(), window_);
  EXPECT_EQ(view(*popup).view()->frame(), window_->bounds());
  // When the page in the middle slot changes, over 12 s on screen.
  auto changes = [&](double seconds) {
    std::vector<double> at;
    int index = view(*popup).currentIndex();
    for (double t = 0; t < seconds; t += 0.05) {
      sdk_.advance(0.05);
      if (view(*popup).currentIndex() != index) at.push_back(t);
      index = view(*popup).currentIndex();
    }
    return at;
  };
  const auto rolled = changes(12);
  ASSERT_GE(rolled.size(), 3u);
  for (std::size_t i = 1; i < rolled.size(); ++i) {
    // Each tick comes 3 s after the carousel settled (its scroll takes a moment).
    EXPECT_GE(rolled[i] - rolled[i - 1], OrvexPopupAdRollingTimer::kRollIntervalSeconds - 1e-6);
    EXPECT_LE(rolled[i] - rolled[i - 1], OrvexPopupAdRollingTimer::kRollIntervalSeconds +
                                             ScrollView::kScrollAnimationSeconds + 0.1);
  }
  EXPECT_EQ(metrics(), (Events{"AD_IMPR t:1_c1@unit", "AD_IMPR t:2_c2@unit"}));  // once each
  EXPECT_EQ(std::count(host_->events.begin(), host_->events.end(), "impression"), 2);

  sdk_.port().lifecycle->send(AppNotification::willResignActive);
  sdk_.port().lifecycle->send(AppNotification::didEnterBackground);
  sdk_.advance(1.5);  // the next visibility check stops it
  EXPECT_TRUE(changes(9).empty());
  sdk_.port().lifecycle->send(AppNotification::willEnterForeground);
  sdk_.port().lifecycle->send(AppNotification::didBecomeActive);
  EXPECT_FALSE(changes(4.5).empty());
}

TEST_F(ShownPopup, OnePageNeverRollsAndTheHostsCloseAnimatesOutOnce) {
  start();
  auto popup = shown({creative(1)});
  const auto scroll = view(*popup).scrollView();
  sdk_.advance(10);
  EXPECT_EQ(view(*popup).currentIndex(), 0);
  EXPECT_EQ(scroll->contentOffset().x, scroll->bounds().size.width);  // the middle slot
  popup->close();
  popup->close();
  sdk_.advance(1);
  popup->close();  // gone
  sdk_.advance(1);
  EXPECT_EQ(std::count(host_->events.begin(), host_->events.end(), "willDismiss"), 1);
  EXPECT_EQ(host_->events.back(), "didDismiss");
  EXPECT_EQ(popup->popupAdViewController(), nullptr);
}

TEST_F(ShownPopup, HideForTodayClosesTheScreenAndRefusesTheNextLoad) {
  start();
  auto popup = shown({creative(1, kTodayOnly), creative(2)});
  int todayOff = 0;
  popup->onTodayOffClicked = [&](OrvexPopupAd&) { ++todayOff; };
  popup->show();
  std::weak_ptr<View> root = view(*popup).view();
  // What the view's button does.
  view(*popup).close();
  view(*popup).onClickHideForToday(0);
  sdk_.advance(1);
  EXPECT_EQ(todayOff, 1);
  EXPECT_EQ(host_->lastTwo(), (Events{"willDismiss", "didDismiss"}));
  EXPECT_EQ(
      std::count(host_->events.begin(), host_->events.end(), "showFailed ERROR_CODE_AD_SHOWN"), 1);
  EXPECT_EQ(popup->popupAdViewController(), nullptr);
  EXPECT_TRUE(root.expired() || !root.lock()->window());
  // The campaign of the first creative only: the next load shows the second alone.
  auto next = loaded();
  EXPECT_EQ(host_->events.back(), "received");
  EXPECT_EQ(next->txIds(), (Events{"t:2_c2"}));
  const auto reported = metrics();
  EXPECT_EQ(std::count(reported.begin(), reported.end(), "AD_TODAY_OFF t:1_c1@unit"), 1);
}

}  // namespace
}  // namespace orvex
