#include "orvex/formats/inline/orvex_banner.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "examples/embed/banner_example.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/orvex_internal.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/formats/inline/orvex_banner_represented.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "ports/linux/lifecycle.h"
#include "tests/support/ad_flow.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using headless::HeadlessWebView;
using headless::OpenedLink;
using testing_support::queryOf;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

using testing_support::adAnswer;
const std::string kServed =
    adAnswer(R"("id":"a:b:c_d_e","creative":"<a href='https://example.com/x'>ad</a>","cpId":"x:y",)"
             R"("destinationURL":"https://example.com/landing","creativeSize":{"w":320,"h":100})");

const char* const kRemoteConfig =
    R"({"data":{"getRemoteConfig":{"active":true,"displayTag":"<body>{{ad}}</body>",)"
    R"("displayTagMacro":"{{ad}}"}}})";

// Records what the host hears, in order; only the required operations are implemented.
struct Host : OrvexBannerDelegate {
  std::vector<std::string> events;
  void onAdReceived(OrvexBanner&) override { events.push_back("received"); }
  void onAdFailedToReceive(OrvexBanner&, OrvexErrorCode code) override {
    events.push_back("failed " + OrvexErrorCodeToString(code));
  }
};

class BannerFlow : public testing_support::AdFlow {
 protected:
  BannerFlow() : AdFlow(kRemoteConfig) { answer_ = kServed; }
  ~BannerFlow() override { OrvexInternal::Loaders::setBanner({}); }

  // A banner on screen in the root view, with the host's delegate and closures.
  std::shared_ptr<OrvexBanner> place(const std::string& unitId) {
    auto banner = OrvexBanner::create(unitId, "ctx");
    banner->setDelegate(host_);
    banner->onAdImpression = [this](OrvexBanner&) { host_->events.push_back("impression"); };
    banner->onAdClicked = [this](OrvexBanner&) { host_->events.push_back("clicked"); };
    window_->rootViewController()->view()->addSubview(banner->view());
    banner->view()->setFrame(Rect(35, 300, 320, 100));
    return banner;
  }
  std::shared_ptr<HeadlessWebView> page() { return sdk_.port().webViews->last(); }
  int requestsContaining(const std::string& text) const {
    int n = 0;
    for (const auto& r : http_->requests()) n += queryOf(r).find(text) != std::string::npos;
    return n;
  }
  std::vector<std::pair<OpenedLink::Kind, std::string>> opened() {
    std::vector<std::pair<OpenedLink::Kind, std::string>> out;
    for (const auto& l : sdk_.port().ui->openedLinks()) out.emplace_back(l.kind, l.target);
    return out;
  }
  using Events = std::vector<std::string>;

  std::shared_ptr<Host> host_ = std::make_shared<Host>();
};

TEST_F(BannerFlow, RefusalsReachTheHostWithoutARequest) {
  Orvex::initialize(false, false, std::vector<std::string>{"KR"});
  sdk_.advance(0);
  auto empty = place("");
  empty->load();
  auto banner = place("unit");
  banner->load();
  EXPECT_TRUE(host_->events.empty());  // never from inside load()
  sdk_.advance(1);
  EXPECT_EQ(host_->events,
            (Events{"failed ERROR_CODE_INVALID_UNIT", "failed ERROR_CODE_NOT_TARGET_COUNTRY"}));
  EXPECT_EQ(requestsContaining("requestAd"), 0);
}

TEST_F(BannerFlow, SwitchedOffProductionServesOnlyTestUnits) {
  start(/*production=*/true);
  Orvex::shared().config().setActive(false);
  auto banner = place("unit");
  banner->load();
  sdk_.advance(1);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_AD_INACTIVE"}));
  auto test = place("x_PUBLIC_TEST_UNIT_ID_y");
  test->load();
  sdk_.advance(1);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_AD_INACTIVE", "received", "impression"}));
}

TEST_F(BannerFlow, ServedCreativeShowsOnceAndCountsOneImpression) {
  start();
  auto banner = place("unit");
  banner->load();
  sdk_.advance(0.1);
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_EQ(banner->txId() + " " + banner->creativeId() + " " + banner->campaignId(),
            "a:b:c_d_e d_e y");
  EXPECT_EQ(banner->destinationURL(), "https://example.com/landing");
  EXPECT_EQ(banner->creativeSize(), (Size{320, 100}));
  EXPECT_FALSE(banner->isBackfilled());
  auto web = page();
  ASSERT_TRUE(web && web->loadedHTML());
  EXPECT_TRUE(web->configuration().allowsInlineMediaPlayback);
  EXPECT_FALSE(web->configuration().mediaPlaybackRequiresUserAction);
  EXPECT_EQ(web->configuration().group, WebContentGroup::ads);
  EXPECT_EQ(web->frame(), (Rect(0, 0, 320, 100)));
  EXPECT_NE(web->loadedHTML()->find("<a href='https://example.com/x'>ad</a>"), std::string::npos);
  EXPECT_EQ(web->loadedHTML(), banner->creative());
  EXPECT_EQ(web->evaluatedScripts().back(), "window.adTrackingControl.unblock();");

  sdk_.advance(1);
  EXPECT_EQ(host_->events, (Events{"received", "impression"}));
  // The page reloads after a long background, and the same creative loads again: still one.
  sdk_.port().lifecycle->send(AppNotification::didEnterBackground);
  sdk_.advance(31);
  sdk_.port().lifecycle->send(AppNotification::willEnterForeground);
  sdk_.advance(2);
  EXPECT_EQ(web->loads().size(), 2u);
  banner->load();
  sdk_.advance(2);
  EXPECT_EQ(host_->events, (Events{"received", "impression", "received"}));
  EXPECT_EQ(metrics(), (Events{"AD_IMPR a:b:c_d_e@unit"}));

  // Thirty minutes after the last configuration, a load refreshes it without waiting for it.
  const int configs = requestsContaining("getRemoteConfig");
  sdk_.advance(29 * 60);
  banner->load();
  sdk_.advance(1);
  EXPECT_EQ(requestsContaining("getRemoteConfig"), configs);
  sdk_.advance(60);
  banner->load();
  sdk_.advance(1);
  EXPECT_EQ(requestsContaining("getRemoteConfig"), configs + 1);
}

TEST_F(BannerFlow, UnfilledAndFailedLoadsClearTheCreative) {
  start();
  auto banner = place("unit");
  banner->load();
  sdk_.advance(1);
  ASSERT_TRUE(banner->creative());
  for (const char* unfilled : {R"({"data":{"requestAd":{"id":"t"}}})",
                               R"({"data":{"requestAd":{"id":"","creative":"<p>x</p>"}}})",
                               R"({"data":{"requestAd":{"id":"t","creative":""}}})"}) {
    SCOPED_TRACE(unfilled);
    answer_ = unfilled;
    banner->load();
    sdk_.advance(1);
    EXPECT_FALSE(banner->creative());
  }
  status_ = 500;
  banner->load();
  sdk_.advance(30);
  EXPECT_EQ(host_->events, (Events{"received", "impression", "failed ERROR_CODE_AD_NO_FILL",
                                   "failed ERROR_CODE_AD_NO_FILL", "failed ERROR_CODE_AD_NO_FILL",
                                   "failed ERROR_CODE_NETWORK"}));
  EXPECT_TRUE(sdk_.loggedStartingWith("Orvex::OrvexBanner request ad failed. ERROR_CODE_NETWORK"));
}

TEST_F(BannerFlow, BackfilledCreativeIsNotTrackedByTheBanner) {
  start();
  std::shared_ptr<ViewController> presenter;
  OrvexInternal::Loaders::setBanner([&](std::shared_ptr<OrvexBanner>,
                                        std::shared_ptr<ViewController> from,
                                        OrvexInternal::AdCompletion completion) {
    presenter = from;
    AdRes ad;
    ad.id = "backfill_x";
    ad.creative = "<p>theirs</p>";
    completion(ad, std::nullopt);
  });
  auto banner = place("unit");
  banner->load();
  sdk_.advance(3);
  EXPECT_EQ(presenter, window_->rootViewController());
  EXPECT_TRUE(banner->isBackfilled());
  EXPECT_EQ(banner->creativeId(), "x");
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_TRUE(metrics().empty());
  EXPECT_EQ(requestsContaining("requestAd"), 0);
}

TEST_F(BannerFlow, ClicksAreReportedCancelledAndOpenedWhereTheAdSays) {
  start();
  auto banner = place("unit");
  banner->load();
  sdk_.advance(1);
  auto web = page();
  web->activateLink("https://example.com/a%20b");
  sdk_.advance(0.1);
  ASSERT_FALSE(web->navigationDecisions().empty());
  EXPECT_EQ(web->navigationDecisions().back().policy, NavigationPolicy::cancel);
  EXPECT_EQ(banner->destinationURL(), "https://example.com/a b");
  // A form post or a reload navigates the page; neither is a click.
  web->navigate(NavigationType::formSubmitted, "https://example.com/form");
  web->navigate(NavigationType::reload, "https://example.com/again");
  sdk_.advance(0.1);
  EXPECT_EQ(web->navigationDecisions().back().policy, NavigationPolicy::allow);
  // window.open of a store page; a new-window request without a URL is no click.
  web->requestNewWindow("https://apps.apple.com/app/id123456");
  web->requestNewWindow(std::nullopt);
  sdk_.advance(1);
  window_->rootViewController()->dismiss(false, {});
  sdk_.advance(1);

  // With custom clicks the host decides: reported and cancelled, nothing opened.
  banner->setHandleAdClickCustom(true);
  web->activateLink("https://example.com/custom");
  sdk_.advance(0.1);
  EXPECT_EQ(web->navigationDecisions().back().policy, NavigationPolicy::cancel);
  EXPECT_EQ(opened().size(), 2u);
  banner->open("not a url", false);
  EXPECT_TRUE(sdk_.logged("Orvex::OrvexBanner failed to open: not a url"));
  banner->open(std::nullopt, true);  // the stored destination, in the in-app browser
  sdk_.advance(0.1);

  using K = OpenedLink::Kind;
  EXPECT_EQ(opened(), (std::vector<std::pair<K, std::string>>{
                          {K::external, "https://example.com/a%20b"},
                          {K::storeProduct, "123456"},
                          {K::inAppBrowser, "https://example.com/custom"}}));
  EXPECT_EQ(host_->events, (Events{"received", "impression", "clicked", "clicked", "clicked"}));
  EXPECT_EQ(metrics(), (Events{"AD_IMPR a:b:c_d_e@unit", "AD_CLICK a:b:c_d_e@unit",
                               "AD_CLICK a:b:c_d_e@unit", "AD_CLICK a:b:c_d_e@unit"}));
}

// Only what a user did is a click, through either hook; without a gesture a page loads its
// frames, its own document and reloads, and never leaves the ad.
TEST_F(BannerFlow, OnlyWhatAUserDidIsAClick) {
  start();
  auto banner = place("unit");
  banner->load();
  sdk_.advance(1);
  auto web = page();
  WebViewNavigationDelegate& hooks = *banner;
  using N = NavigationType;
  using T = NavigationTarget;
  enum Hook { decision, window };
  enum Outcome { click, allowed, cancelled, nothing };
  const struct {
    Hook hook;
    N type;
    T target;
    bool gesture;
    Outcome outcome;
    const char* url = "https://adv.example/x";
  } cases[] = {
      {decision, N::linkActivated, T::mainFrame, true, click},
      {decision, N::linkActivated, T::subFrame, true, click},
      {decision, N::linkActivated, T::newWindow, true, click},       // a tapped target="_blank"
      {decision, N::linkActivated, T::mainFrame, false, cancelled},  // the page's own a.click()
      {decision, N::linkActivated, T::subFrame, false, allowed},
      {decision, N::other, T::mainFrame, false, cancelled},  // location = … from a timer
      {decision, N::other, T::subFrame, false, allowed},     // an iframe loads
      {decision, N::other, T::newWindow, false, cancelled},
      {decision, N::formSubmitted, T::mainFrame, false, cancelled},
      {decision, N::formSubmitted, T::mainFrame, true, allowed},
      {decision, N::other, T::mainFrame, true, allowed},  // a script run from a tap
      {decision, N::reload, T::mainFrame, false, allowed},
      {decision, N::backForward, T::mainFrame, false, cancelled},
      {decision, N::other, T::mainFrame, false, allowed, "about:blank"},  // its own document
      {window, N::other, T::newWindow, true, click},                      // window.open from a tap
      {window, N::other, T::newWindow, false, nothing},
      {window, N::linkActivated, T::newWindow, true, nothing},  // already decided
  };
  for (const auto& c : cases) {
    const NavigationAction action{c.type, c.url, c.target, c.gesture};
    const std::size_t clicks = host_->events.size();
    std::optional<NavigationPolicy> policy;
    if (c.hook == decision) {
      hooks.decidePolicy(*web, action, [&](NavigationPolicy p) { policy = p; });
    } else {
      hooks.requestsNewWindow(*web, action);
    }
    sdk_.advance(0.1);
    const bool clicked = host_->events.size() > clicks;
    const Outcome seen = clicked                              ? click
                         : !policy                            ? nothing
                         : *policy == NavigationPolicy::allow ? allowed
                                                              : cancelled;
    EXPECT_EQ(seen, c.outcome) << static_cast<int>(c.type) << " " << static_cast<int>(c.target)
                               << " " << c.gesture << " " << c.hook;
    if (clicked) {
      EXPECT_EQ(policy.value_or(NavigationPolicy::cancel), NavigationPolicy::cancel);
    }
  }
  EXPECT_EQ(metrics().size(), 1u + 4u);  // the impression and the four clicks
}

TEST_F(BannerFlow, AdsAskingForTheInAppBrowserGetIt) {
  start();
  answer_ = adAnswer(R"("id":"t1","creative":"<p>x</p>","browserTarget":1)");
  auto banner = place("unit");
  banner->load();
  sdk_.advance(1);
  page()->activateLink("https://example.com/in");
  sdk_.advance(1);
  // The ad's own target wins over the caller's choice.
  window_->rootViewController()->dismiss(false, {});
  sdk_.advance(1);
  banner->open("https://example.com/again", false);
  sdk_.advance(0.1);
  using K = OpenedLink::Kind;
  EXPECT_EQ(opened(), (std::vector<std::pair<K, std::string>>{
                          {K::inAppBrowser, "https://example.com/in"},
                          {K::inAppBrowser, "https://example.com/again"}}));
}

TEST_F(BannerFlow, VideoAndCarouselPagesFollowTheBannersVisibility) {
  start();
  answer_ = adAnswer(R"("id":"t1","creative":"<VIDEO src='v.mp4'></VIDEO>")");
  auto banner = place("unit");
  auto web = page();
  // Every load first stops the carousel, which tells the page to stop rolling.
  auto since = [&](std::size_t from) {
    const auto& all = web->evaluatedScripts();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
  };
  banner->load();
  sdk_.advance(0.1);
  const std::size_t loaded = web->evaluatedScripts().size();
  ASSERT_GE(loaded, 3u);
  EXPECT_EQ(web->evaluatedScripts()[0], "window.adTrackingControl.block();");
  EXPECT_TRUE(web->evaluatedScripts()[1].starts_with("javascript:(function() {\n"));
  EXPECT_TRUE(banner->isVideoAd());
  sdk_.advance(1);
  banner->view()->setHidden(true);
  sdk_.advance(1);
  const std::string pad24(24, ' ');
  auto video = [&](const char* visible) {
    return pad24 + "if (typeof window.adPlayerVisibilityCallback === 'function') {\n" +
           std::string(28, ' ') + "window.adPlayerVisibilityCallback(" + visible + ")\n" + pad24 +
           "}";
  };
  EXPECT_EQ(since(loaded), (std::vector<std::string>{video("true"), video("false")}));

  banner->view()->setHidden(false);
  answer_ = adAnswer(R"("id":"t2","creative":"<div class='embla__viewport'></div>")");
  banner->load();
  const std::size_t reloaded = web->evaluatedScripts().size();
  sdk_.advance(1);
  EXPECT_TRUE(banner->isCarousel());
  EXPECT_FALSE(banner->isVideoAd());
  const auto rolling = since(reloaded);
  // Starting the carousel tracker reports it hidden first, then the sample finds it shown.
  ASSERT_EQ(rolling.size(), 4u);
  EXPECT_EQ(rolling[0], "window.adTrackingControl.block();");
  EXPECT_EQ(rolling[2], "window.adTrackingControl.unblock();");
  EXPECT_NE(rolling[3].find("            if (!true) {\n"), std::string::npos);
}

TEST_F(BannerFlow, ReleasedBannerHearsNothingAndLeavesTheScreen) {
  start();
  auto banner = place("unit");
  banner->load();
  auto root = window_->rootViewController()->view();
  EXPECT_EQ(root->subviews().size(), 1u);
  banner.reset();  // while the request is in flight
  sdk_.advance(2);
  EXPECT_TRUE(host_->events.empty());
  EXPECT_TRUE(root->subviews().empty());
  EXPECT_TRUE(sdk_.port().webViews->alive().empty());

  // Released from another thread: the view still leaves on the main thread.
  banner = place("unit");
  banner->load();
  sdk_.advance(1);
  std::thread([b = std::move(banner)]() mutable { b.reset(); }).join();
  sdk_.advance(1);
  EXPECT_TRUE(root->subviews().empty());
  EXPECT_EQ(host_->events, (Events{"received", "impression"}));
}

TEST_F(BannerFlow, TheReadmeHostScreenShowsItsBanner) {
  start();
  auto screen = std::make_shared<example::FeedScreen>();
  screen->showBanner(window_->rootViewController()->view(), "unit");
  sdk_.advance(1);
  page()->activateLink("https://example.com/landing");
  sdk_.advance(0.1);
  EXPECT_EQ(screen->heard, (Events{"received a:b:c_d_e", "clicked https://example.com/landing"}));
  screen.reset();  // the banner goes with its screen
  sdk_.advance(1);
  EXPECT_TRUE(window_->rootViewController()->view()->subviews().empty());
}

TEST(BannerResources, CarouselLibraryIsInjectedIntoEveryFrameAtDocumentStart) {
  TempDir dir, resources;
  std::ofstream(resources.path() / "embla-carousel.js") << "var emblaApi = {};";
  TestSdkOptions options;
  options.sdkResourceDirectory = resources.path();
  TestSdk sdk(dir.path(), options);
  auto banner = OrvexBanner::create("unit", "");
  auto page = sdk.port().webViews->last();
  ASSERT_EQ(page->userScripts().size(), 1u);
  const UserScript& script = page->userScripts()[0];
  EXPECT_EQ(script.source, "var emblaApi = {};");
  EXPECT_EQ(script.injectionTime, UserScriptInjectionTime::atDocumentStart);
  EXPECT_FALSE(script.forMainFrameOnly);
  std::filesystem::remove(resources.path() / "embla-carousel.js");
  auto without = OrvexBanner::create("unit", "");
  EXPECT_TRUE(sdk.port().webViews->last()->userScripts().empty());
}

TEST(BannerRules, IdsSizesAndTheDeclarativeWrapper) {
  // Empty parts are skipped.
  for (const auto& [tx, creative] : {std::pair{"a:b:c_d_e", "d_e"}, std::pair{"a:bc", ""},
                                     std::pair{"a:b_c::", "c"}, std::pair{"x_", ""}})
    EXPECT_EQ(ad_rules::creativeIdFromTxId(tx), creative) << tx;
  EXPECT_EQ(ad_rules::campaignIdFromCpId("x:y"), "y");
  EXPECT_EQ(ad_rules::campaignIdFromCpId(std::nullopt), "");
  EXPECT_EQ(ad_rules::campaignIdFromCpId(":::"), "");
  EXPECT_EQ(orvexBannerSizeFromRaw("H80"), OrvexBannerSize::H80);
  EXPECT_EQ(rawValue(OrvexBannerSize::H100), "H100");
  EXPECT_FALSE(orvexBannerSizeFromRaw("h50"));

  TempDir dir;
  TestSdk sdk(dir.path());
  OrvexBannerRepresented wrapper("unit", std::make_shared<Host>());
  EXPECT_EQ(wrapper.makeUIView(), wrapper.makeUIView());
  EXPECT_EQ(wrapper.banner()->contextId(), "");
  wrapper.setUseCustomClick(true);
  EXPECT_TRUE(wrapper.banner()->useCustomClick());
  EXPECT_TRUE(wrapper.handleAdClickCustom());
}

}  // namespace
}  // namespace orvex
