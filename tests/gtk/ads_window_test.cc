// The formats end to end in a real window against the local ad service. The banner: WebKit renders
// the creative, the impression waits until the host's feed scrolls it into view, a click inside
// the page runs the whole click flow, and the window's picture shows the creative. The quest
// screen: the page's own scripts talk over the bridge and real links meet the navigation rule. A
// native ad's media page takes the ratio the engine measured and follows its host's widgets.
// Full-screen ads cover the window until their page's own close button closes them; a rewarded
// ad's video plays beneath its page. A popup's pages render and roll over the feed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "examples/demo/banner_flow.h"
#include "examples/demo/fullscreen_user.h"
#include "examples/demo/gtk_screen.h"
#include "examples/demo/popup_flow.h"
#include "examples/embed/gtk/gtk_feed_example.h"
#include "examples/embed/native_example.h"
#include "orvex/core/device.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/orvex_internal.h"
#include "orvex/formats/fullscreen/orvex_interstitial_ad.h"
#include "orvex/formats/fullscreen/orvex_rewarded_ad.h"
#include "orvex/formats/inline/orvex_banner.h"
#include "orvex/formats/inline/orvex_native_ad_view.h"
#include "orvex/formats/popup/orvex_popup_ad.h"
#include "orvex/web/native_ad_web_view_controller.h"
#include "orvex/web/quest_web_view_controller.h"
#include "ports/gtk/gtk_user_interface.h"
#include "ports/gtk/gtk_web_view.h"
#include "ports/linux/memory_log.h"
#include "tests/gtk/gtk_test_support.h"
#include "tools/adserver/ad_server.h"

namespace orvex {
namespace {

using gtk_testing::closeColours;
using gtk_testing::evaluate;
using gtk_testing::GtkTestSdk;
using gtk_testing::pixelAt;
using gtk_testing::pixelsAt;
using testing_support::TempDir;

class AdsInAWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ORVEX_REQUIRE_DISPLAY();
    adserver::Options o;
    o.fixtures = ORVEX_ADSERVER_FIXTURES;
    o.appKeys = {testing_support::kTestAppKey};
    server_ = std::make_unique<adserver::AdServer>(o);
    ASSERT_TRUE(server_->start());
    OrvexDeployment d;
    d.adServerBase = d.apiServerBase = server_->baseUrl();
    d.playerScriptCdnBase = server_->baseUrl() + "/cdn/player@";
    d.questScheme = "http";
    d.questHost = "127.0.0.1:" + std::to_string(server_->port());
    // "localhost" is only there for its subdomains, which the rule keeps in the screen.
    d.questDomains = {"127.0.0.1", "localhost"};
    sdk_ = std::make_unique<GtkTestSdk>(dir_.path(), d);
    Orvex::initialize(false, false);
    ASSERT_TRUE(sdk_->runUntil([] { return Orvex::shared().config().lastConfigAt() > 0; }));
    screen_ = demo::makeGtkScreen(sdk_->port());
  }
  void TearDown() override {
    screen_.reset();
    sdk_.reset();
    if (server_) server_->stop();
  }
  gtk::GtkUserInterface& ui() { return *sdk_->port().ui; }
  std::optional<Value> run(WebView& page, const std::string& script) {
    return evaluate(*sdk_, page, script).result;
  }

  TempDir dir_;
  std::unique_ptr<adserver::AdServer> server_;
  std::unique_ptr<GtkTestSdk> sdk_;
  std::unique_ptr<demo::Screen> screen_;
};

TEST_F(AdsInAWindow, LoadImpressionOnlyInViewClickAndScreenshot) {
  demo::Timeline timeline;
  demo::FlowOptions flow;
  flow.unitId = "demo-banner";
  flow.screenshot = (dir_.path() / "window.png").string();
  Rect area;
  flow.screenshotArea = [&](const Rect& r) { area = r; };
  // The flow itself fails on an impression while the banner is below the fold.
  EXPECT_EQ(demo::runBannerFlow(*screen_, timeline, flow), "");
  ASSERT_TRUE(sdk_->runUntil([&] {
    for (const auto& r : server_->requests())
      if (r.body.find("AD_CLICK") != std::string::npos) return true;
    return false;
  }));
  ASSERT_EQ(sdk_->port().ui->openedLinks().size(), 1u);
  EXPECT_EQ(sdk_->port().ui->openedLinks()[0].target, "https://advertiser.example/landing");

  // The banner's area in the picture shows the creative's image, not a blank rectangle.
  ASSERT_FALSE(area.isEmpty());
  auto png = sdk_->port().platform.files->readFile(std::string(ORVEX_ADSERVER_FIXTURES) +
                                                   "/static/banner.png");
  auto creative = sdk_->port().platform.images->decode(*png);
  ASSERT_TRUE(creative);
  const auto* rgba = static_cast<const std::uint8_t*>(creative->pixels.get());
  const std::uint32_t expected = (std::uint32_t{rgba[0]} << 16) | (rgba[1] << 8) | rgba[2];
  for (double fx : {0.1, 0.5, 0.9}) {
    const std::uint32_t seen =
        pixelAt(flow.screenshot, static_cast<int>(area.minX() + area.size.width * fx),
                static_cast<int>(area.minY() + area.size.height / 2));
    EXPECT_TRUE(closeColours(seen, expected))
        << std::hex << seen << " where the creative is " << expected;
  }
  const std::uint32_t outside = pixelAt(flow.screenshot, static_cast<int>(area.minX()) / 2,
                                        static_cast<int>(area.minY() + area.size.height / 2));
  EXPECT_FALSE(closeColours(outside, expected));
}

TEST_F(AdsInAWindow, VideoAndCarouselPagesFollowWhatIsOnScreen) {
  auto slot = screen_->makeFeed(8, 100);
  auto carousel = OrvexBanner::create("demo-banner-carousel", "feed");
  slot->addSubview(carousel->view());
  carousel->view()->setFrame(Rect(35, 0, 320, 100));
  bool received = false;
  carousel->onAdReceived = [&](OrvexBanner&) { received = true; };
  carousel->load();
  ASSERT_TRUE(sdk_->runUntil([&] { return received; }));
  auto page = sdk_->port().ui->webViews().back();
  ASSERT_TRUE(sdk_->runUntil([&] { return !page->isLoading(); }));
  auto playing = [&] {
    return evaluate(*sdk_, *page,
                    "typeof emblaApi !== 'undefined' && emblaApi.plugins().autoplay.isPlaying()")
        .result;
  };
  // Below the fold the SDK stops the real Embla autoplay; in view it plays again.
  ASSERT_TRUE(sdk_->runUntil([&] { return playing() == Value(false); }, 5));
  screen_->scrollIntoView(*carousel->view());
  ASSERT_TRUE(sdk_->runUntil([&] { return playing() == Value(true); }, 5));
  sdk_->port().runFor(0.1);
  auto* scrolled = gtk_widget_get_ancestor(gtk::widgetOf(*slot), GTK_TYPE_SCROLLED_WINDOW);
  gtk_adjustment_set_value(gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled)), 0);
  ASSERT_TRUE(sdk_->runUntil([&] { return playing() == Value(false); }, 5));

  // A video creative: the page's own visibility callback hears the SDK.
  auto video = OrvexBanner::create("demo-banner-video", "feed");
  slot->addSubview(video->view());
  video->view()->setFrame(Rect(35, 0, 320, 100));
  carousel.reset();
  received = false;
  video->onAdReceived = [&](OrvexBanner&) { received = true; };
  video->load();
  ASSERT_TRUE(sdk_->runUntil([&] { return received; }));
  page = sdk_->port().ui->webViews().back();
  ASSERT_TRUE(sdk_->runUntil([&] { return !page->isLoading(); }));
  evaluate(
      *sdk_, *page,
      "window.heard = []; window.adPlayerVisibilityCallback = function(v) { heard.push(v); }; 0");
  screen_->scrollIntoView(*video->view());
  ASSERT_TRUE(sdk_->runUntil(
      [&] { return evaluate(*sdk_, *page, "heard.indexOf(true) >= 0").result == Value(true); }, 5));
}

TEST_F(AdsInAWindow, ReadmeGtkFeedPlacesABannerCountedOnlyInView) {
  screen_.reset();
  example::GtkFeed feed(sdk_->port(), "demo-banner");
  ASSERT_TRUE(sdk_->runUntil([&] { return !feed.heard.empty(); }));
  EXPECT_TRUE(feed.heard[0].starts_with("received "));
  sdk_->runFor(1.5);
  EXPECT_EQ(feed.heard.size(), 1u);  // still below the fold
  GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(feed.scrolled()));
  gtk_adjustment_set_value(v, gtk_adjustment_get_upper(v));
  ASSERT_TRUE(sdk_->runUntil([&] { return feed.heard.size() == 2; }));
  EXPECT_EQ(feed.heard[1], "impression");
}

TEST_F(AdsInAWindow, QuestBridgeLinksAndCloseInWebKit) {
  auto root = screen_->window()->rootViewController();
  OrvexQuestWebViewController::present(root, server_->baseUrl() + "/quest/demo/?stay");
  ASSERT_TRUE(sdk_->runUntil([&] { return root->presentedViewController() != nullptr; }));
  auto page = ui().webViews().back();

  // The page's own script asked over the bridge and got the reply through its promise.
  ASSERT_TRUE(
      sdk_->runUntil([&] { return run(*page, "window.questAppVersion || ''") != Value(""); }));
  EXPECT_EQ(run(*page, "window.questAppVersion"),
            Value("iOS/1.7.0/" + Orvex::shared().device().appVersion));

  // A mailto on a quest page leaves for the system; the page stays and no alert comes up.
  run(*page, "document.getElementById('mail').click(); 0");
  ASSERT_TRUE(sdk_->runUntil([&] { return !ui().openedLinks().empty(); }));
  EXPECT_EQ(ui().openedLinks().back().target, "mailto:quest@orvex.example");
  run(*page, "document.getElementById('outside').click(); 0");
  ASSERT_TRUE(sdk_->runUntil([&] { return ui().openedLinks().size() == 2; }));
  EXPECT_EQ(ui().openedLinks().back().target, "https://advertiser.example/quest-partner");

  // A page of the quest host stays in the screen; a load cancelled on its way (-999) is no failure.
  server_->setFault("/quest/demo/next.html", {.delayMs = 3000, .times = 1});
  run(*page, "document.getElementById('inside').click(); 0");
  ASSERT_TRUE(sdk_->runUntil([&] { return page->isLoading(); }, 5));
  page->stopLoading();
  sdk_->runFor(0.5);
  EXPECT_FALSE(ui().visibleAlert());
  run(*page, "document.getElementById('inside').click(); 0");
  ASSERT_TRUE(sdk_->runUntil([&] {
    return run(*page, "location.pathname") == Value("/quest/demo/next.html") && !page->isLoading();
  }));
  EXPECT_EQ(ui().openedLinks().size(), 2u);

  // A subdomain of a quest domain stays too (the resolver maps *.localhost to loopback).
  run(*page, "var a = document.createElement('a'); a.href = 'http://sub.localhost:" +
                 std::to_string(server_->port()) +
                 "/quest/demo/?stay'; document.body.appendChild(a); a.click(); 0");
  ASSERT_TRUE(sdk_->runUntil([&] {
    return run(*page, "location.hostname") == Value("sub.localhost") && !page->isLoading();
  }));
  EXPECT_EQ(ui().openedLinks().size(), 2u);
  EXPECT_FALSE(ui().visibleAlert());

  // The close message from the page dismisses the screen.
  run(*page, "window.webkit.messageHandlers.orvex.postMessage({action: 'close'}); 0");
  ASSERT_TRUE(sdk_->runUntil([&] { return root->presentedViewController() == nullptr; }));
}

TEST_F(AdsInAWindow, QuestPageRefusedDuringTheEntryGetsItsAlertOnceUp) {
  // WebKit reports the refused connection within the screen's 0.3 s entry; the alert comes once
  // the screen is up (well before the 5 s watchdog), and its button closes the screen.
  auto root = screen_->window()->rootViewController();
  OrvexQuestWebViewController::present(
      root, "http://127.0.0.1:" + std::to_string(testing_support::refusedPort()) + "/quest");
  ASSERT_TRUE(sdk_->runUntil([&] { return ui().visibleAlert() != nullptr; }, 4));
  // Its button answers once the alert's own entry is over.
  ASSERT_TRUE(sdk_->runUntil([&] { return ui().visibleAlert()->choose(std::size_t{0}); }, 2));
  ASSERT_TRUE(sdk_->runUntil([&] { return root->presentedViewController() == nullptr; }));
}

// Clicks in the real engine: a user's tap counts, also on a link that asks for a new window; what
// the page does by itself counts nothing and does not take the ad away; a link the system must
// not launch is dropped.
TEST_F(AdsInAWindow, OnlyTheUsersTapsAreClicks) {
  auto slot = screen_->makeFeed(1, 100);
  auto banner = OrvexBanner::create("demo-banner", "feed");
  slot->addSubview(banner->view());
  banner->view()->setFrame(Rect(35, 0, 320, 100));
  bool received = false;
  int clicks = 0;
  banner->onAdReceived = [&](OrvexBanner&) { received = true; };
  banner->onAdClicked = [&](OrvexBanner&) { ++clicks; };
  banner->load();
  ASSERT_TRUE(sdk_->runUntil([&] { return received; }));
  auto page = ui().webViews().back();
  // Each creative carries a marker the test waits for, so it knows the page is the new one.
  auto show = [&](const std::string& marker, const std::string& creative) {
    static_cast<BannerInternalAccess&>(*banner).internalDisplay(
        creative + "<script>window.marker = '" + marker + "';</script>");
    ASSERT_TRUE(sdk_->runUntil([&] { return run(*page, "window.marker") == Value(marker); }));
  };
  auto serverClicks = [&] {
    int n = 0;
    for (const auto& r : server_->requests()) n += r.body.find("AD_CLICK") != std::string::npos;
    return n;
  };

  show("blank", "<a target='_blank' href='https://advertiser.example/blank'>ad</a>");
  screen_->clickLink(*page, "https://advertiser.example/blank");
  ASSERT_TRUE(sdk_->runUntil(
      [&] { return clicks == 1 && serverClicks() == 1 && !ui().openedLinks().empty(); }));
  EXPECT_EQ(ui().openedLinks()[0].target, "https://advertiser.example/blank");

  show("self",
       "<a id='ad' href='https://advertiser.example/self'>ad</a><a id='pop' target='_blank' "
       "href='https://advertiser.example/pop'>pop</a><script>setTimeout(function() {"
       "  document.getElementById('ad').click(); document.getElementById('pop').click();"
       "  window.open('https://advertiser.example/open'); location.href = '" +
           server_->baseUrl() + "/quest/demo/next.html'; }, 50);</script>");
  sdk_->runFor(1.0);
  EXPECT_EQ(run(*page, "window.marker"), Value("self"));  // still the ad
  EXPECT_EQ(clicks, 1);

  show("smb", "<a href='smb://files.example/share'>ad</a>");
  screen_->clickLink(*page, "smb://files.example/share");
  ASSERT_TRUE(sdk_->runUntil([&] { return clicks == 2; }));  // the user did tap it
  sdk_->runFor(0.3);
  EXPECT_EQ(ui().openedLinks().size(), 1u);
  EXPECT_TRUE(sdk_->port().log->contains(
      "Orvex::LinkOpener refused to open smb://files.example/share outside the app"));
  EXPECT_EQ(serverClicks(), 2);
}

// A quest page's embed from another host loads in its frame; nothing goes to the system.
TEST_F(AdsInAWindow, AQuestPagesThirdPartyFrameStaysInThePage) {
  adserver::Options o;
  o.host = "127.0.0.2";  // loopback, yet no quest domain
  o.fixtures = ORVEX_ADSERVER_FIXTURES;
  adserver::AdServer thirdParty(o);
  ASSERT_TRUE(thirdParty.start());
  auto root = screen_->window()->rootViewController();
  OrvexQuestWebViewController::present(root, server_->baseUrl() + "/quest/demo/embed.html?frame=" +
                                                 thirdParty.baseUrl() + "%2Fstatic%2Fbanner.png");
  ASSERT_TRUE(sdk_->runUntil([&] {
    for (const auto& r : thirdParty.requests())
      if (r.path == "/static/banner.png") return true;
    return false;
  }));
  auto page = ui().webViews().back();
  ASSERT_TRUE(sdk_->runUntil([&] { return !page->isLoading(); }));
  sdk_->runFor(0.3);
  EXPECT_TRUE(ui().openedLinks().empty());
  EXPECT_EQ(run(*page, "document.querySelectorAll('iframe').length"), Value(1));
  EXPECT_EQ(run(*page, "location.pathname"), Value("/quest/demo/embed.html"));
  EXPECT_TRUE(root->presentedViewController());
  thirdParty.stop();
}

TEST_F(AdsInAWindow, NativeMediaPageTakesItsRatioAndFollowsTheHostsWidth) {
  auto slot = screen_->makeFeed(4, 320);
  auto article = std::make_shared<example::ArticleScreen>();
  article->showNativeAd(slot, ui(), "demo-native");
  ASSERT_TRUE(sdk_->runUntil([&] { return !article->heard.empty(); }));
  ASSERT_TRUE(article->heard[0].starts_with("received ")) << article->heard[0];
  auto controller = article->ad()->nativeAdViewController();
  ASSERT_TRUE(controller && controller->webView());
  // The page (a 16:9 picture) is shorter than the square view it starts in; measured in WebKit
  // whenever WebKit got the square, it sets its own ratio; GTK's layout applies it.
  ASSERT_TRUE(sdk_->runUntil([&] { return controller->webViewSizeRatio() != 1.0; }));
  EXPECT_NEAR(controller->webViewSizeRatio(), 9.0 / 16, 0.01);
  GtkWidget* page = gtk::widgetOf(*controller->webView());
  auto follows = [&](int width) {
    return sdk_->runUntil([&] {
      const int w = gtk_widget_get_width(page), h = gtk_widget_get_height(page);
      return w > 0 && (width == 0 || w == width) &&
             std::abs(h - w * controller->webViewSizeRatio()) <= 1.5;
    });
  };
  ASSERT_TRUE(follows(0));

  // Bound in a host's own layout before GTK allocated it (its width still 0), the page takes the
  // width GTK gives the media view, and follows the host's widget as it is resized.
  GtkWidget* window = gtk_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window), 600, 500);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_halign(column, GTK_ALIGN_START);
  gtk_widget_set_size_request(column, 320, -1);
  gtk_window_set_child(GTK_WINDOW(window), column);
  auto media = ui().makeView();
  gtk_widget_set_size_request(gtk::widgetOf(*media), -1, 240);
  gtk_box_append(GTK_BOX(column), gtk::widgetOf(*media));
  auto card = OrvexNativeAdView::create();
  card->setMediaView(media);
  card->setNativeAd(article->ad());
  EXPECT_EQ(gtk_widget_get_parent(page), gtk::widgetOf(*media));
  EXPECT_EQ(controller->webView()->frame().size.width, 0);
  gtk_window_present(GTK_WINDOW(window));
  for (int width : {320, 240, 400}) {
    gtk_widget_set_size_request(column, width, -1);
    EXPECT_TRUE(follows(width)) << width << ": " << gtk_widget_get_width(page) << "x"
                                << gtk_widget_get_height(page);
  }
  card.reset();
  gtk_window_destroy(GTK_WINDOW(window));
}

TEST_F(AdsInAWindow, InterstitialCoversTheWindowUntilItsPageClosesIt) {
  screen_->makeFeed(6, 1);
  auto ad = OrvexInterstitialAd::create("demo-interstitial");
  demo::Timeline timeline;
  auto heard = demo::listen(*ad, timeline);
  ad->load();
  ASSERT_TRUE(sdk_->runUntil([&] { return heard->has("received"); }));
  const std::string feed = (dir_.path() / "feed.png").string(),
                    covered = (dir_.path() / "covered.png").string(),
                    after = (dir_.path() / "after.png").string();
  ASSERT_TRUE(screen_->screenshot(feed));
  ad->show(screen_->window()->rootViewController());
  ASSERT_TRUE(sdk_->runUntil([&] { return heard->has("didPresent"); }));
  sdk_->runFor(0.3);
  ASSERT_TRUE(screen_->screenshot(covered));

  // The page's own handlers: its link reports "open", its close button "close".
  demo::PageHand hand(*screen_, timeline);
  hand.tapFirstControl(*ad->screen()->webView(), "");
  ASSERT_TRUE(sdk_->runUntil([&] { return heard->has("clicked"); }));
  hand.tapClose(*ad->screen()->webView());
  ASSERT_TRUE(sdk_->runUntil([&] { return heard->has("didDismiss"); }));
  sdk_->runFor(0.3);
  ASSERT_TRUE(screen_->screenshot(after));
  const std::vector<std::pair<int, int>> beside = {{20, 200}, {195, 700}};  // the page's text
  const auto host = pixelsAt(feed, beside), page = pixelsAt(covered, beside),
             back = pixelsAt(after, beside);
  for (std::size_t i = 0; i < beside.size(); ++i) {
    EXPECT_TRUE(closeColours(page[i], 0x1e78dc)) << std::hex << page[i];  // the page's blue
    EXPECT_FALSE(closeColours(host[i], 0x1e78dc)) << std::hex << host[i];
    EXPECT_EQ(back[i], host[i]);
  }
  ASSERT_EQ(ui().openedLinks().size(), 1u);
  EXPECT_EQ(ui().openedLinks()[0].target, "https://advertiser.example/landing");
}

TEST_F(AdsInAWindow, PopupPagesRenderRollAndHideForTodayInWebKit) {
  // An image page is loaded only once WebKit has decoded its image.
  auto images = OrvexPopupAd::create("popup-bottom-1");
  bool received = false;
  images->onAdReceived = [&](OrvexPopupAd&) { received = true; };
  images->load();
  ASSERT_TRUE(sdk_->runUntil([&] { return received; }));

  demo::Timeline timeline;
  demo::FlowOptions options;
  options.unitId = "demo-popup";
  options.screenshot = (dir_.path() / "popup.png").string();
  EXPECT_EQ(demo::runPopupFlow(*screen_, timeline, options), "");
  // The first page's colour fills the carousel's slot, beside its text.
  EXPECT_TRUE(closeColours(pixelAt(options.screenshot, 30, 480), 0xe4572e))
      << std::hex << pixelAt(options.screenshot, 30, 480);
}

TEST_F(AdsInAWindow, RewardedVideoPlaysToItsEndBeneathThePagesCountdown) {
  auto ad = OrvexRewardedAd::create("demo-rewarded");
  demo::Timeline timeline;
  auto heard = demo::listen(*ad, timeline);
  ad->load();
  ASSERT_TRUE(sdk_->runUntil([&] { return heard->has("received"); }));
  auto screen = ad->screen();
  auto& page = *screen->webView();
  // What the page's own function is told.
  run(page,
      "window.told = []; var own = updateRemainingTime;"
      "updateRemainingTime = function (s) { told.push(s); own(s); }; 0");
  std::vector<std::string> rewards;
  ad->show(screen_->window()->rootViewController(), [&](std::int64_t type, std::int64_t amount) {
    rewards.push_back(std::to_string(type) + "x" + std::to_string(amount));
  });
  ASSERT_TRUE(sdk_->runUntil([&] { return heard->has("didPresent"); }));
  run(page, "document.getElementById('mute').click(); 0");
  const auto player = screen->videoPlayerView()->player();
  ASSERT_TRUE(sdk_->runUntil([&] { return player->isMuted(); }));

  // Frames change beneath the transparent page: the video's middle row, a second apart.
  const std::string first = (dir_.path() / "first.png").string(),
                    second = (dir_.path() / "second.png").string();
  std::vector<std::pair<int, int>> row;
  for (int x = 0; x < 390; x += 5) row.emplace_back(x, 380);
  ASSERT_TRUE(screen_->screenshot(first));
  sdk_->runFor(1.0);
  ASSERT_TRUE(screen_->screenshot(second));
  EXPECT_NE(pixelsAt(first, row), pixelsAt(second, row));

  ASSERT_TRUE(
      sdk_->runUntil([&] { return screen->fsm()->state == OrvexRewardedAdState::finished; }, 15));
  ASSERT_TRUE(sdk_->runUntil([&] { return !rewards.empty(); }, 3));
  EXPECT_EQ(rewards, std::vector<std::string>{"1x10"});  // once, when the countdown ran out
  // Once a second while the 5 s video plays: every second left from 4 down to 1, in order (and
  // 0 when that tick beats the end), never more than the video's length, never after its end.
  auto told = run(page, "told");
  ASSERT_TRUE(told && told->asArray() && !told->asArray()->empty());
  std::vector<double> left;
  for (const Value& v : *told->asArray()) left.push_back(v.number().value_or(-1));
  EXPECT_TRUE(std::is_sorted(left.rbegin(), left.rend()));
  EXPECT_LE(left.front(), 5);
  EXPECT_GE(left.back(), 0);
  for (double second : {4, 3, 2, 1})
    EXPECT_NE(std::find(left.begin(), left.end(), second), left.end()) << second;
}

}  // namespace
}  // namespace orvex
