#include "orvex/web/quest_web_view_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvex/core/orvex.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "ports/linux/recorded_haptics.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using headless::HeadlessWebView;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;
using Lines = std::vector<std::string>;

class QuestScreen : public ::testing::Test {
 protected:
  QuestScreen() : sdk_(dir_.path(), options()) {
    window_ = sdk_.port().ui->makeKeyWindowWithRootController();
  }
  static TestSdkOptions options() {
    TestSdkOptions o;
    o.deployment.questHost = "quest.orvex.example";
    o.deployment.questDomains = {"orvex.example", "orvex-play.example"};
    return o;
  }
  std::shared_ptr<ViewController> presented() {
    return window_->rootViewController()->presentedViewController();
  }
  std::shared_ptr<HeadlessWebView> page() { return sdk_.port().webViews->last(); }
  Lines opened() {
    Lines out;
    for (const auto& l : sdk_.port().ui->openedLinks()) out.push_back(l.target);
    return out;
  }
  // Opens the quest page and lets it settle on screen.
  std::shared_ptr<HeadlessWebView> open(bool finishes = true) {
    sdk_.port().webViews->setFinishLoadsAutomatically(finishes);
    EXPECT_TRUE(Orvex::openQuest("c1", std::string("/p/2")));
    sdk_.advance(0.5);
    return page();
  }
  // The page's replies, as JSON-ish text ("-" for an empty answer).
  Lines replies(const HeadlessWebView& web) {
    Lines out;
    for (const auto& r : web.replies())
      out.push_back(r.result && r.result->asString() ? *r.result->asString() : "-");
    return out;
  }

  TempDir dir_;
  TestSdk sdk_;
  std::shared_ptr<Window> window_;
};

TEST_F(QuestScreen, OpenQuestAndDeepLinksPresentTheSiteFullScreen) {
  EXPECT_FALSE(Orvex::openQuest("bad channel", std::nullopt));
  EXPECT_FALSE(presented());
  auto web = open();
  auto screen = presented();
  ASSERT_TRUE(screen && web);
  EXPECT_EQ(web->loads().back().content, "https://quest.orvex.example/c1/p/2");
  EXPECT_EQ(web->loads().back().timeoutSeconds, 60.0);
  EXPECT_EQ(web->frame(), screen->view()->bounds());
  EXPECT_EQ(screen->overrideInterfaceStyle(), InterfaceStyle::light);
  EXPECT_EQ(screen->statusBarStyle(), StatusBarStyle::darkContent);
  EXPECT_EQ(web->configuration().group, WebContentGroup::site);  // never in an ad's process
  EXPECT_EQ(web->userScripts().at(0).injectionTime, UserScriptInjectionTime::atDocumentStart);
  // The spinner went with the page's finish.
  EXPECT_EQ(screen->view()->subviews().size(), 1u);

  // Closed by the page, the screen and everything it made are gone.
  ASSERT_TRUE(web->postMessageJSON("orvex", R"({"action":"close"})"));
  sdk_.advance(1);
  EXPECT_FALSE(presented());
  std::weak_ptr<HeadlessWebView> watch = web;
  web.reset();
  screen.reset();
  EXPECT_TRUE(watch.expired());

  // A deep link opens its first usable landing URL, 0.01 s later.
  EXPECT_FALSE(Orvex::handleDeepLink("demo://open?orvex_landing_url=%E0%A4%A"));
  EXPECT_TRUE(
      Orvex::handleDeepLink("demo://open?x=1&orvex_landing_url=not%20a%20url&orvex_landing_url&"
                            "orvex_landing_url=https%3A%2F%2Fquest.orvex.example%2Fe%3Fa%3D1"));
  EXPECT_FALSE(presented());
  sdk_.advance(0.01);
  ASSERT_TRUE(presented());
  EXPECT_EQ(page()->loads().back().content, "https://quest.orvex.example/e?a=1");
  // A page asking to close while the screen is still coming up is heard once it is up.
  page()->postMessageJSON("orvex", R"({"action":"close"})");
  sdk_.advance(0.1);
  EXPECT_TRUE(presented());
  sdk_.advance(1);
  EXPECT_FALSE(presented());

  // Without a key window there is nothing to present from: still a URL, nothing shown.
  sdk_.port().ui->removeWindow(window_);
  EXPECT_TRUE(Orvex::openQuest("c2", std::nullopt));
  EXPECT_FALSE(presented());
}

TEST_F(QuestScreen, APageThatNeverLoadsGetsOneAlertAndALateFinishIsHidden) {
  auto web = open(/*finishes=*/false);
  auto screen = presented();
  EXPECT_FALSE(screen->view()->subviews().back()->isHidden());  // the spinner
  web->failLoad(WebError::cancelled());  // a stopped or replaced load is no failure
  sdk_.advance(4.4);
  EXPECT_TRUE(sdk_.port().ui->alertsShown().empty());
  sdk_.advance(0.2);  // 5 s after the view loaded
  ASSERT_EQ(sdk_.port().ui->alertsShown().size(), 1u);
  const auto& alert = sdk_.port().ui->alertsShown()[0];
  EXPECT_EQ(alert.title, std::nullopt);
  EXPECT_EQ(alert.message, "The page could not be loaded. Please try again later.");
  EXPECT_EQ(alert.actions, Lines{"OK"});
  EXPECT_EQ(screen->view()->subviews().size(), 1u);  // spinner removed

  web->reload();
  web->failLoad(WebError::timedOut());  // the load's own failure comes too: no second alert
  sdk_.advance(1);
  EXPECT_EQ(sdk_.port().ui->alertsShown().size(), 1u);
  web->reload();
  web->finishLoad();  // the page arrives after all, beneath the alert
  sdk_.advance(0.1);
  EXPECT_TRUE(web->isHidden());
  ASSERT_TRUE(sdk_.port().ui->visibleAlert());
  EXPECT_TRUE(sdk_.port().ui->visibleAlert()->choose("OK"));
  sdk_.advance(1);
  EXPECT_FALSE(presented());

  // A load refused at once (offline) fails during the screen's entry: the alert comes once the
  // screen is up, and closes it.
  EXPECT_TRUE(Orvex::openQuest("c1", std::nullopt));
  sdk_.advance(0);
  ASSERT_TRUE(presented());
  EXPECT_TRUE(page()->failLoad(WebError{"NSURLErrorDomain", -1009, "offline"}));
  sdk_.advance(0.1);
  EXPECT_FALSE(sdk_.port().ui->visibleAlert());
  sdk_.advance(0.3);
  ASSERT_TRUE(sdk_.port().ui->visibleAlert());
  EXPECT_EQ(sdk_.port().ui->alertsShown().size(), 2u);
  sdk_.advance(0.3);
  EXPECT_TRUE(sdk_.port().ui->visibleAlert()->choose("OK"));
  sdk_.advance(1);
  EXPECT_FALSE(presented());
}

// Quest pages stay; what the user follows elsewhere goes to the system (web, mail, telephone and
// text links only); what the page does by itself never leaves it; its iframes load in place.
TEST_F(QuestScreen, TheRuleKeepsQuestPagesAndSendsOutOnlyWhatTheUserFollowed) {
  auto web = open();
  using T = NavigationTarget;
  const auto tap = [](const char* url, T target = T::mainFrame) {
    return NavigationAction{NavigationType::linkActivated, url, target, true};
  };
  const auto byPage = [](const char* url, T target = T::mainFrame) {
    return NavigationAction{NavigationType::other, url, target, false};
  };
  enum Outcome { stays, system, nowhere };
  const struct {
    NavigationAction action;
    Outcome outcome;
  } cases[] = {
      {tap("https://quest.orvex.example/next"), stays},
      {tap("https://orvex.example/"), stays},
      {tap("http://a.b-c.orvex-play.example/x"), stays},
      {tap("https://QUEST.Orvex.Example/"), stays},
      {tap("https://advertiser.example/"), system},
      {tap("https://evilorvex.example/"), system},
      {tap("https://orvex.example.evil/"), system},
      // A browser goes to evil.example: so does the rule.
      {tap("https://evil.example\\@quest.orvex.example/"), system},
      {tap("mailto:quest@orvex.example"), system},
      {tap("ftp://quest.orvex.example/file"), nowhere},
      {tap("smb://files.example/share"), nowhere},
      {tap("intent:foo"), nowhere},
      // A form post keeps to the scheme rule alone.
      {{NavigationType::formSubmitted, "https://advertiser.example/form", T::mainFrame, true},
       stays},
      // The page by itself.
      {byPage("https://quest.orvex.example/auto"), stays},
      {byPage("https://advertiser.example/auto"), nowhere},
      {byPage("mailto:quest@orvex.example"), nowhere},
      {byPage("myapp://launch"), nowhere},
      {byPage("https://video.example/embed", T::subFrame), stays},
      {byPage("smb://files.example/share", T::subFrame), nowhere},
      {tap("mailto:embed@video.example", T::subFrame), system},
      // Links with a target: decided like any, and never a second window.
      {tap("https://advertiser.example/blank", T::newWindow), system},
      {tap("https://quest.orvex.example/blank", T::newWindow), stays},
  };
  for (const auto& c : cases) {
    const std::size_t decided = web->navigationDecisions().size(), out = opened().size();
    web->navigate(c.action);
    sdk_.advance(0.1);
    ASSERT_EQ(web->navigationDecisions().size(), decided + 1) << *c.action.url;
    const bool allowed = web->navigationDecisions().back().policy == NavigationPolicy::allow;
    const Outcome seen = allowed ? stays : opened().size() > out ? system : nowhere;
    EXPECT_EQ(seen, c.outcome) << *c.action.url;
  }
  EXPECT_EQ(opened().at(3), "https://evil.example/@quest.orvex.example/");
  // window.open: the same rule without a decision; without a gesture the engine blocks it.
  const std::size_t out = opened().size();
  web->requestNewWindow("https://quest.orvex.example/popup");
  web->requestNewWindow("https://advertiser.example/popup");
  web->requestNewWindow("https://advertiser.example/auto-popup", /*userGesture=*/false);
  web->requestNewWindow(std::nullopt);
  sdk_.advance(0.5);
  EXPECT_EQ(opened().size(), out + 1);
  EXPECT_EQ(opened().back(), "https://advertiser.example/popup");
  EXPECT_TRUE(presented());
  EXPECT_TRUE(
      sdk_.logged("Orvex::LinkOpener refused to open smb://files.example/share outside "
                  "the app"));
}

// The screen's own URL is what the host (or the user's deep link) asked for: a landing page
// outside the quest site goes to the system, as a tap would.
TEST_F(QuestScreen, ItsOwnURLOutsideTheSiteGoesToTheSystem) {
  EXPECT_TRUE(Orvex::handleDeepLink(
      "demo://open?orvex_landing_url=https%3A%2F%2Fevil.example%5C%40quest.orvex.example%2F"));
  sdk_.advance(0.5);
  EXPECT_EQ(opened(), Lines{"https://evil.example/@quest.orvex.example/"});
  ASSERT_TRUE(page());
  EXPECT_EQ(page()->navigationDecisions().at(0).policy, NavigationPolicy::cancel);
}

TEST_F(QuestScreen, BridgeAnswersVersionsPlaysHapticsAndSettlesEveryOtherShape) {
  auto web = open();
  auto& haptics = *sdk_.port().haptics;
  for (const char* type :
       {"light", "medium", "heavy", "soft", "rigid", "selection", "vibrate", "unknown", ""}) {
    web->postMessage("bridge",
                     Value(ValueDict{{"sig", "haptic"}, {"payload", ValueDict{{"type", type}}}}));
  }
  for (const char* body :
       {R"({"sig":"getAppVersion"})", R"({"sig":"getAppVersion","payload":[1,2]})",
        R"({"sig":"haptic"})", R"({"sig":"haptic","payload":"light"})",
        R"({"sig":"haptic","payload":{"type":7}})", R"({"sig":"nope","payload":{}})",
        R"({"sig":7})", R"({"payload":{"type":"light"}})", R"("getAppVersion")", R"([1])", "null",
        R"({"action":"close"})"}) {
    EXPECT_TRUE(web->postMessageJSON("bridge", body)) << body;
  }
  const std::string huge(2 << 20, 'x');
  web->postMessage("bridge", Value(ValueDict{{"sig", huge}, {"payload", huge}}));
  sdk_.advance(0.5);
  EXPECT_EQ(haptics.events(),
            (Lines{"impact light", "impact medium", "impact heavy", "impact soft", "impact rigid",
                   "selection", "vibration sound", "impact medium", "impact medium"}));
  Lines expected(9, "-");
  expected.push_back("iOS/1.7.0/1.0");
  expected.push_back("iOS/1.7.0/1.0");
  expected.resize(22, "-");
  EXPECT_EQ(replies(*web), expected);
  EXPECT_TRUE(presented());  // a close message on the bridge is no close

  // The close handler wants exactly {"action": "close"}.
  for (const char* body :
       {R"({"action":"open"})", R"({"action":1})", R"("close")", "[]", R"({"sig":"close"})"}) {
    web->postMessageJSON("orvex", body);
  }
  sdk_.advance(1);
  EXPECT_TRUE(presented());

  // After the screen is gone, what the page still posts reaches nothing (asks are settled).
  web->postMessageJSON("orvex", R"({"action":"close"})");
  sdk_.advance(1);
  ASSERT_FALSE(presented());
  web->postMessageJSON("bridge", R"({"sig":"getAppVersion"})");
  web->activateLink("https://advertiser.example/late");
  sdk_.advance(1);
  EXPECT_EQ(replies(*web).back(), "-");
  EXPECT_TRUE(opened().empty());
}

}  // namespace
}  // namespace orvex
