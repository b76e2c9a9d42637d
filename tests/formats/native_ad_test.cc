#include "orvex/formats/inline/orvex_native_ad.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "orvex/core/file_downloader.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/orvex_internal.h"
#include "orvex/formats/inline/orvex_native_ad_view.h"
#include "orvex/web/ad_player_script_manager.h"
#include "orvex/web/native_ad_web_view_controller.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "tests/support/ad_flow.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using headless::HeadlessWebView;
using headless::OpenedLink;
using testing_support::ScriptedHttpClient;
using Events = std::vector<std::string>;

using testing_support::adAnswer;
// Everything a native ad can carry, without HTML media.
const std::string kPlain = adAnswer(
    R"("id":"a:b:c_d_e","cpId":"x:y","headline":"Head","body":"Body","callToAction":"Go",)"
    R"("icon":"https://cdn.example/i/icon.png","cover":"https://cdn.example/c/cover.png",)"
    R"("advertiser":"Adv","advertiserURL":"https://adv.example/","asset":"https://cdn.example/a",)"
    R"("destinationURL":"https://adv.example/landing","creativeSize":{"w":320,"h":100},)"
    R"("profile":{"displayLogo":"https://cdn.example/p/logo.png","displayName":"Prof",)"
    R"("link":"https://adv.example/profile"},)"
    R"("extra":[{"id":"a","text":"1"},{"id":"a","text":"2"},{"text":"3"}],)"
    R"("accountTag":"{\"tier\":\"gold\",\"n\":2}","creativeTag":"not json")");
const std::string kMedia =
    adAnswer(R"("id":"t-media","creative":"<a href='https://adv.example/m'>m</a><VIDEO></VIDEO>",)"
             R"("destinationURL":"https://adv.example/landing")");

std::string fixtureImage() {
  std::ifstream in(std::string(ORVEX_SOURCE_DIR) + "/tools/adserver/fixtures/static/icon.png",
                   std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct Host : OrvexNativeAdDelegate {
  Events events;
  void onAdReceived(OrvexNativeAd&) override { events.push_back("received"); }
  void onAdFailedToReceive(OrvexNativeAd&, OrvexErrorCode code) override {
    events.push_back("failed " + OrvexErrorCodeToString(code));
  }
};

class NativeFlow : public testing_support::AdFlow {
 protected:
  NativeFlow() {
    answer_ = kPlain;
    http_->respondToDownloads([image = fixtureImage()](const HttpRequest&) {
      return ScriptedHttpClient::answer(200, image);
    });
  }
  ~NativeFlow() override { OrvexInternal::Loaders::setNative({}); }

  std::shared_ptr<OrvexNativeAd> make(const std::string& unitId) {
    auto ad = OrvexNativeAd::create(unitId, "ctx");
    ad->setDelegate(host_);
    ad->onAdImpression = [this](OrvexNativeAd&) { host_->events.push_back("impression"); };
    ad->onAdClicked = [this](OrvexNativeAd&) { host_->events.push_back("clicked"); };
    return ad;
  }
  std::shared_ptr<OrvexNativeAd> loaded(const std::string& answer) {
    answer_ = answer;
    auto ad = make("unit");
    ad->load();
    sdk_.advance(0.5);
    return ad;
  }
  // A host card on screen: the container with the host's views for the parts, registered.
  struct Card {
    std::shared_ptr<OrvexNativeAdView> adView = OrvexNativeAdView::create();
    std::shared_ptr<ImageView> icon, logo;
    std::shared_ptr<View> headline, media, body, cta, name;
  };
  Card card(OrvexNativeAdView::ClickCallback onHeadline = {}) {
    auto& ui = *sdk_.port().ui;
    Card c;
    c.icon = ui.makeImageView(), c.logo = ui.makeImageView(), c.headline = ui.makeLabel();
    c.media = ui.makeView(), c.body = ui.makeLabel(), c.cta = ui.makeLabel();
    c.name = ui.makeLabel();
    window_->rootViewController()->view()->addSubview(c.adView->view());
    c.adView->view()->setFrame(Rect(0, 100, 390, 420));
    const std::pair<std::shared_ptr<View>, Rect> layout[] = {
        {c.icon, {10, 10, 40, 40}},    {c.headline, {60, 10, 300, 40}},
        {c.media, {10, 60, 320, 200}}, {c.body, {10, 270, 370, 40}},
        {c.cta, {10, 320, 370, 40}},   {c.logo, {10, 370, 20, 20}},
        {c.name, {40, 370, 200, 20}}};
    for (const auto& [view, frame] : layout) {
      c.adView->view()->addSubview(view);
      view->setFrame(frame);
    }
    c.adView->setIconView(c.icon);
    c.adView->setHeadLineView(c.headline, std::move(onHeadline));
    c.adView->setMediaView(c.media);
    c.adView->setBodyView(c.body);
    c.adView->setCallToActionView(c.cta);
    c.adView->setProfileLogoView(c.logo);
    c.adView->setProfileNameView(c.name);
    return c;
  }
  // The user's tap at `point` of `view` (its centre by default).
  void tap(View& view, std::optional<Point> point = std::nullopt) {
    const Rect b = view.bounds();
    const Point at = point.value_or(Point{b.size.width / 2, b.size.height / 2});
    const Rect r = view.convertRect(Rect(at.x, at.y, 0, 0), *window_);
    headless::headlessView(*window_).tap(r.origin);
    sdk_.advance(0.1);
  }

  std::shared_ptr<Host> host_ = std::make_shared<Host>();
};

TEST_F(NativeFlow, RefusalsReachTheHostWithoutARequest) {
  Orvex::initialize(false, false, std::vector<std::string>{"KR"});
  auto empty = make("");
  empty->load();
  auto ad = make("unit");
  ad->load();
  EXPECT_TRUE(host_->events.empty());  // never from inside load()
  sdk_.advance(1);
  ad->load();  // not left loading by the refusal
  sdk_.advance(1);
  EXPECT_EQ(host_->events,
            (Events{"failed ERROR_CODE_INVALID_UNIT", "failed ERROR_CODE_NOT_TARGET_COUNTRY",
                    "failed ERROR_CODE_NOT_TARGET_COUNTRY"}));
  EXPECT_TRUE(http_->requests().empty());
}

TEST_F(NativeFlow, OneAdPerObjectAndEveryFailureReported) {
  start(/*production=*/true);
  Orvex::shared().config().setActive(false);
  auto inactive = make("unit");
  inactive->load();
  sdk_.advance(1);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_AD_INACTIVE"}));

  auto ad = make("x_PUBLIC_TEST_UNIT_ID_y");
  answer_ = adAnswer(R"("id":"")");
  ad->load();
  sdk_.advance(1);
  status_ = 500;
  ad->load();
  sdk_.advance(30);
  status_ = 200;
  answer_ = kPlain;
  ad->load();
  ad->load();
  sdk_.advance(1);
  ad->load();
  sdk_.advance(1);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_AD_INACTIVE", "failed ERROR_CODE_AD_NO_FILL",
                                   "failed ERROR_CODE_NETWORK", "failed ERROR_CODE_AD_LOADING",
                                   "received", "failed ERROR_CODE_AD_LOAD_DUPLICATED"}));
  EXPECT_TRUE(ad->isLoaded());
}

TEST_F(NativeFlow, APlainAdIsReceivedAtOnceWithItsPartsAndImagesPrefetched) {
  start();
  auto ad = loaded(kPlain);
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_FALSE(ad->nativeAdViewController());
  EXPECT_EQ(ad->creativeId() + " " + ad->campaignId(), "d_e y");
  EXPECT_EQ(ad->creativeSize(), (Size{320, 100}));
  EXPECT_EQ(ad->headline() + ad->body() + ad->callToAction() + ad->creative(), "HeadBodyGo");
  EXPECT_EQ(ad->profile(), (OrvexNativeAdProfile{"https://cdn.example/p/logo.png", "Prof",
                                                 "https://adv.example/profile"}));
  EXPECT_EQ(ad->extra(), (std::map<std::string, std::string>{{"a", "2"}, {"", "3"}}));
  EXPECT_EQ(ad->browserTargetValue(), 0);
  EXPECT_EQ(ad->accountTag(), (ValueDict{{"tier", "gold"}, {"n", std::int64_t{2}}}));
  EXPECT_TRUE(ad->creativeTag().empty());
  EXPECT_TRUE(sdk_.logged("Orvex::OrvexNativeAd parsing error"));
  Events images;
  for (const auto& url : http_->downloads())
    if (url.starts_with("https://cdn.example/")) images.push_back(url);
  EXPECT_EQ(images, (Events{"https://cdn.example/i/icon.png", "https://cdn.example/c/cover.png"}));
  EXPECT_TRUE(std::filesystem::exists(
      *FileDownloader::shared()->fileFor("https://cdn.example/c/cover.png", "cover")));

  // Tags of other shapes, and a record with nothing else in it.
  AdRes tags;
  tags.id = "t";
  tags.accountTag = "[1,2]";
  tags.creativeTag = "{\"deep\":" + std::string(300, '[') + std::string(300, ']') + "}";
  auto bare = make("unit");
  static_cast<NativeInternalAccess&>(*bare).setInternalAdRes(tags);
  EXPECT_TRUE(bare->accountTag().empty());
  EXPECT_TRUE(bare->creativeTag().empty());
  EXPECT_EQ(bare->profile(), OrvexNativeAdProfile{});
  EXPECT_TRUE(bare->extra().empty());
}

TEST_F(NativeFlow, HtmlMediaIsReceivedWhenThePageFinishesAndTakesItsShape) {
  start();
  sdk_.port().webViews->setFinishLoadsAutomatically(false);
  auto ad = loaded(kMedia);
  auto controller = ad->nativeAdViewController();
  ASSERT_TRUE(controller && controller->webView());
  EXPECT_TRUE(host_->events.empty());  // not before the page finished
  auto page = std::dynamic_pointer_cast<HeadlessWebView>(controller->webView());
  EXPECT_EQ(page->frame(), Rect(0, 0, 390, 390));  // square, as wide as the screen
  EXPECT_TRUE(controller->isVideoAd());
  EXPECT_NE(page->loadedHTML()->find("<a href='https://adv.example/m'>m</a>"), std::string::npos);

  page->setContentSize(Size{320, 100});
  page->finishLoad();
  sdk_.advance(0.1);
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_TRUE(ad->isLoaded());
  auto c = card();
  c.adView->setNativeAd(ad);
  sdk_.advance(0.1);
  EXPECT_EQ(page->superview(), c.media);
  EXPECT_EQ(page->frame(), Rect(0, 0, 320, 100));  // the media view's width, the page's ratio

  // Bound while the host has not laid the media view out yet (a toolkit allocates late), the
  // page follows the width the host gives it, then every resize, measured again at each width:
  // here a 2:1 picture over a caption 20 high.
  std::weak_ptr<HeadlessWebView> weakPage = page;
  page->setScriptResponder([weakPage](const std::string& script) -> std::optional<Value> {
    auto p = weakPage.lock();
    if (!p || script != OrvexNativeAdWebViewController::kMeasureScript) return std::nullopt;
    const double w = p->frame().size.width;
    return Value(ValueDict{{"width", w}, {"height", w / 2 + 20}});
  });
  auto late = card();
  late.media->setFrame(Rect(10, 60, 0, 0));
  late.adView->setNativeAd(ad);
  sdk_.advance(0.1);
  EXPECT_EQ(page->superview(), late.media);
  for (double width : {300.0, 200.0, 360.0}) {
    late.media->setFrame(Rect(10, 60, width, 200));
    sdk_.advance(0.1);
    EXPECT_EQ(page->frame(), Rect(0, 0, width, width / 2 + 20));
  }
  page->setScriptResponder({});

  // A reload (long background) measures again, without a second onAdReceived; a page without
  // a width keeps the last shape.
  page->setContentSize(Size{0, 50});
  page->reload();
  page->finishLoad();
  sdk_.advance(1.5);
  EXPECT_EQ(page->frame(), Rect(0, 0, 360, 200));
  EXPECT_NE(std::find(page->evaluatedScripts().begin(), page->evaluatedScripts().end(),
                      AdPlayerScriptManager::visibilityCallbackScript(true)),
            page->evaluatedScripts().end());

  // Every link tap is a click that opens; the service hears the first.
  page->activateLink("https://adv.example/m");
  page->activateLink("https://adv.example/m");
  page->requestNewWindow("https://adv.example/w");
  page->requestNewWindow(std::nullopt);
  page->navigate(NavigationType::formSubmitted, "https://adv.example/f");
  // The page clicking its own link is no click, nor does the page leave.
  page->navigate({NavigationType::linkActivated, "https://adv.example/self",
                  NavigationTarget::mainFrame, /*userGesture=*/false});
  sdk_.advance(0.5);
  // Its own document and the reload load; the taps are clicks; the user's form post goes ahead.
  std::vector<NavigationPolicy> policies;
  for (const auto& d : page->navigationDecisions()) policies.push_back(d.policy);
  using P = NavigationPolicy;
  EXPECT_EQ(policies, (std::vector{P::allow, P::allow, P::cancel, P::cancel, P::allow, P::cancel}));
  EXPECT_EQ(opened(),
            (Events{"https://adv.example/m", "https://adv.example/m", "https://adv.example/w"}));
  EXPECT_EQ(host_->events, (Events{"received", "impression", "clicked", "clicked", "clicked"}));
  EXPECT_EQ(metrics(), (Events{"AD_IMPR t-media@unit", "AD_CLICK t-media@unit"}));
}

TEST_F(NativeFlow, APageThatDoesNotFinishIn5SecondsIsNoFillButSpent) {
  start();
  sdk_.port().webViews->setFinishLoadsAutomatically(false);
  auto ad = loaded(kMedia);
  auto page = std::dynamic_pointer_cast<HeadlessWebView>(ad->nativeAdViewController()->webView());
  sdk_.advance(4.4);
  EXPECT_TRUE(host_->events.empty());
  sdk_.advance(0.2);
  EXPECT_FALSE(page->isLoading());  // stopped
  ad->load();                       // spent all the same
  // A page that arrives after all still counts, once.
  page->reload();
  page->finishLoad();
  sdk_.advance(0.1);
  page->reload();
  page->finishLoad();
  sdk_.advance(0.1);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_AD_NO_FILL",
                                   "failed ERROR_CODE_AD_LOAD_DUPLICATED", "received"}));
}

TEST_F(NativeFlow, TheBoundViewCountsOneImpressionAndTurnsTapsIntoClicks) {
  start();
  auto ad = loaded(kPlain);
  Events headlineTaps;
  auto c = card([&](std::shared_ptr<OrvexNativeAd> bound, View&) {
    headlineTaps.push_back(bound ? bound->txId() : "none");
  });
  tap(*c.headline);                   // before binding: the callback hears no ad
  c.adView->setIsEntireClick(false);  // refused without an ad
  EXPECT_TRUE(sdk_.logged(
      "Orvex::OrvexNativeAdView setIsEntireClick failed. isEntireClick can't set false when "
      "useCustomClick=true"));
  c.adView->setNativeAd(ad);
  sdk_.advance(1);
  ASSERT_TRUE(c.icon->image());
  EXPECT_EQ(c.icon->image()->pixelWidth, 1);
  EXPECT_TRUE(c.logo->image());
  // A second container bound to the same ad: still one impression.
  auto twin = card();
  twin.adView->setNativeAd(ad);
  sdk_.advance(1);
  twin.adView->view()->removeFromSuperview();

  tap(*c.headline);          // its own callback
  tap(*c.cta);               // the landing page
  tap(*c.name);              // the profile link
  tap(*c.logo);              // the profile link too
  tap(*c.body);              // no click of its own
  c.adView->performClick();  // the whole ad
  sdk_.advance(0.1);
  EXPECT_EQ(headlineTaps, (Events{"none", "a:b:c_d_e"}));
  EXPECT_EQ(opened(), (Events{"https://adv.example/landing", "https://adv.example/profile",
                              "https://adv.example/profile", "https://adv.example/landing"}));
  EXPECT_EQ(host_->events, (Events{"received", "impression", "clicked", "clicked", "clicked",
                                   "clicked", "clicked"}));
  EXPECT_EQ(metrics(), (Events{"AD_IMPR a:b:c_d_e@unit", "AD_CLICK a:b:c_d_e@unit"}));

  // Entire click: the container is the target; later views get no handler of their own.
  c.adView->setIsEntireClick(true);
  auto late = sdk_.port().ui->makeLabel();
  c.adView->view()->addSubview(late);
  late->setFrame(Rect(250, 270, 100, 40));
  c.adView->setAdvertiserView(late);  // registered after: no handler of its own
  EXPECT_FALSE(c.media->isUserInteractionEnabled());
  tap(*c.body);
  tap(*late);
  c.adView->setIsEntireClick(false);
  tap(*c.body);
  EXPECT_EQ(opened().size(), 6u);
  EXPECT_TRUE(c.media->isUserInteractionEnabled());

  // A profile without a link opens the landing page.
  auto noLink = loaded(adAnswer(
      R"("id":"n1","destinationURL":"https://adv.example/other","profile":{"displayName":"P"})"));
  c.adView->setNativeAd(noLink);
  tap(*c.name);
  EXPECT_EQ(opened().back(), "https://adv.example/other");
}

TEST_F(NativeFlow, CustomClickReportsTapsOnContentAndOpensNothing) {
  start();
  answer_ =
      adAnswer(R"("id":"cc","creative":"<p>m</p>","destinationURL":"https://adv.example/landing")");
  auto ad = make("unit");
  ad->setUseCustomClick(true);
  ad->load();
  sdk_.advance(0.5);
  auto c = card();
  c.adView->setNativeAd(ad);
  EXPECT_TRUE(c.adView->isEntireClick());
  c.adView->setIsEntireClick(false);  // refused while the ad uses custom click
  EXPECT_TRUE(c.adView->isEntireClick());
  sdk_.advance(1);
  const auto before = host_->events.size();
  tap(*c.adView->view(), Point{380, 300});  // empty container area
  EXPECT_EQ(host_->events.size(), before);
  tap(*c.body);
  tap(*c.media);  // the media takes no touches, but it is the ad's content
  c.adView->performClick();
  sdk_.advance(0.1);
  EXPECT_EQ(host_->events.size(), before + 3);
  EXPECT_TRUE(opened().empty());
  ad->open(std::nullopt, /*useInAppBrowser=*/true);
  ad->open("https://adv.example/host", false);
  ad->open("not a url", false);
  sdk_.advance(0.5);
  EXPECT_TRUE(sdk_.logged("Orvex::OrvexNativeAd failed to open: not a url"));
  const auto& links = sdk_.port().ui->openedLinks();
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0].kind, OpenedLink::Kind::inAppBrowser);
  EXPECT_EQ(links[0].target, "https://adv.example/landing");
}

TEST_F(NativeFlow, BackfillServesThroughTheLoaderAndCountsItsOwnImpressions) {
  start();
  OrvexInternal::Loaders::setNative(
      [](std::shared_ptr<OrvexNativeAd> ad, OrvexInternal::AdCompletion completion) {
        EXPECT_TRUE(static_cast<NativeInternalAccess&>(*ad).internalIsLoading());
        AdRes res;
        res.id = "backfill_1";
        completion(res, std::nullopt);
      });
  auto ad = make("unit");
  ad->load();
  sdk_.advance(1);
  EXPECT_TRUE(ad->isBackfilled());
  auto c = card();
  c.adView->setNativeAd(ad);
  sdk_.advance(2);
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_TRUE(metrics().empty());
  EXPECT_EQ(http_->requests().size(), 1u);  // the configuration only
}

TEST_F(NativeFlow, ReleasedAdsAndViewsHearNothingAndLeaveNothingBehind) {
  start();
  make("unit")->load();  // released while its request is in flight
  sdk_.advance(1);
  sdk_.port().webViews->setFinishLoadsAutomatically(false);
  answer_ = kMedia;
  auto media = make("unit");
  media->load();
  sdk_.advance(0.5);
  ASSERT_EQ(sdk_.port().webViews->alive().size(), 1u);
  media.reset();  // while its page loads
  sdk_.advance(6);
  EXPECT_TRUE(host_->events.empty());
  EXPECT_TRUE(sdk_.port().webViews->alive().empty());

  // A container released while its images download: nothing lands anywhere.
  sdk_.port().webViews->setFinishLoadsAutomatically(true);
  auto ad = loaded(kPlain);
  auto c = card();
  c.adView->setNativeAd(ad);
  c.adView.reset();
  sdk_.advance(1);
  EXPECT_FALSE(c.icon->image());
  tap(*c.cta);  // its handlers went with it
  EXPECT_TRUE(opened().empty());

  // Released from another thread after binding its media: the page leaves the host's view on
  // the main thread.
  auto withMedia = loaded(kMedia);
  auto other = card();
  other.adView->setNativeAd(withMedia);
  sdk_.advance(0.1);
  ASSERT_EQ(other.media->subviews().size(), 1u);
  std::thread([view = std::move(other.adView), ad = std::move(withMedia)]() mutable {
    view.reset();
    ad.reset();
  }).join();
  sdk_.advance(0.1);
  EXPECT_TRUE(other.media->subviews().empty());
  tap(*other.cta);
  EXPECT_TRUE(opened().empty());
}

}  // namespace
}  // namespace orvex
