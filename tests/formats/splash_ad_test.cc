// The splash ad's selection and timing on the headless port in virtual time: the launch screen and
// the image view over a scripted service whose answers and downloads can come late or never.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "orvex/core/orvex.h"
#include "orvex/formats/fullscreen/orvex_splash_ad_view.h"
#include "orvex/formats/fullscreen/orvex_splash_ad_view_controller.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/linux/lifecycle.h"
#include "tests/support/ad_flow.h"

namespace orvex {
namespace {

using testing_support::adsAnswer;
using testing_support::queryOf;
using testing_support::ScriptedHttpClient;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;
using Events = std::vector<std::string>;

constexpr const char* kUnit = "splash-unit";
constexpr const char* kImage = "https://cdn.example/s/current.png";  // 320 x 480

std::string fixturePng() {
  std::ifstream in(
      std::string(ORVEX_SOURCE_DIR) + "/tools/adserver/fixtures/static/splash-current.png",
      std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// One ad of a requestAds answer, inside its campaign window unless told otherwise.
std::string adJson(const std::string& id, const std::string& creative,
                   const std::string& extra = "") {
  return R"({"id":")" + id + R"(","creative":")" + creative +
         R"(","cpId":"cp:x:camp","campaignStartTime":1.0,"campaignEndTime":4102444800000.0)" +
         extra + "}";
}

// The scripted service, with answers to requestAds that take `adsDelay` seconds and downloads of
// `hangingUrl` that never end.
class SplashHttp : public ScriptedHttpClient {
 public:
  std::shared_ptr<HttpTask> send(HttpRequest request,
                                 std::function<void(HttpResult)> completion) override {
    if (adsDelay > 0 && queryOf(request).find("requestAds") != std::string::npos) {
      auto later = [main = dispatcher, delay = adsDelay, completion](HttpResult r) {
        main->globalQueue(QueuePriority::utility)
            ->postAfter(secondsToDuration(delay), [completion, r] { completion(r); });
      };
      return ScriptedHttpClient::send(std::move(request), later);
    }
    return ScriptedHttpClient::send(std::move(request), std::move(completion));
  }
  std::shared_ptr<HttpTask> download(std::string url,
                                     std::function<void(DownloadResult)> completion) override {
    if (url == hangingUrl) {
      hung.push_back(std::move(completion));
      return ScriptedHttpClient::download(url, [](DownloadResult) {});
    }
    return ScriptedHttpClient::download(std::move(url), std::move(completion));
  }
  std::shared_ptr<Dispatcher> dispatcher;
  double adsDelay = 0;
  std::string hangingUrl;
  std::vector<std::function<void(DownloadResult)>> hung;
};

// Every callback the host hears, with the virtual time it came at.
struct SplashHost : OrvexSplashAdDelegate, OrvexSplashAdViewDelegate {
  std::function<double()> now;
  Events events;
  std::map<std::string, double> at;
  void heard(const std::string& e) {
    events.push_back(e);
    at[e] = now();
  }
  void onAdReceived(OrvexSplashAd&) override { heard("received"); }
  void onAdFailedToReceive(OrvexSplashAd&, OrvexErrorCode code) override {
    heard("failed " + OrvexErrorCodeToString(code));
  }
  void onAdImpression(OrvexSplashAd&) override { heard("impression"); }
  void onAdClose(OrvexSplashAd&, bool impressed) override {
    heard(impressed ? "close impressed" : "close");
  }
  void onAdReceived(OrvexSplashAdView&) override { heard("received"); }
  void onAdFailedToReceive(OrvexSplashAdView&, OrvexErrorCode code) override {
    heard("failed " + OrvexErrorCodeToString(code));
  }
  void onAdImpression(OrvexSplashAdView&) override { heard("impression"); }
  void onAdClose(OrvexSplashAdView&, bool impressed) override {
    heard(impressed ? "close impressed" : "close");
  }
};

class SplashFlow : public testing_support::AdFlow {
 protected:
  SplashFlow()
      : AdFlow(R"({"data":{"getRemoteConfig":{"active":true}}})", std::make_shared<SplashHttp>()),
        service_(static_cast<SplashHttp&>(*http_)) {
    answer_ = adsAnswer({});
    service_.dispatcher = sdk_.port().platform.dispatcher;
    service_.respondToDownloads([this](const HttpRequest& r) {
      return ScriptedHttpClient::answer(200, r.url == kImage ? png_ : "not an image");
    });
    main_ = root();
    host_->now = [this] {
      return std::chrono::duration<double>(
                 sdk_.port().platform.clock->monotonicNow().time_since_epoch())
          .count();
    };
    AdFlow::start();
  }
  // A stored list from an earlier start, its images on disk.
  void warmCache(const std::vector<std::string>& ads = {adJson("a:b:c_d_e", kImage)}) {
    answer_ = adsAnswer(ads);
    auto first = OrvexSplashAdView::create(kUnit, 0);  // its background refresh fills the cache
    sdk_.advance(1);
    ASSERT_FALSE(OrvexSplashAdCache::create(kUnit)->isStale());
  }
  std::shared_ptr<OrvexSplashAdViewController> launch(double timeout = 1.0) {
    auto splash = OrvexSplashAdViewController::create(kUnit, timeout);
    splash->setDelegate(host_);
    splash->setMainViewController(main_);
    return splash;
  }
  // The host's start: the launch screen becomes the window's root.
  std::shared_ptr<OrvexSplashAdViewController> start(double timeout = 1.0) {
    auto splash = launch(timeout);
    window_->setRootViewController(splash->viewController());
    return splash;
  }
  int adRequests() const {
    int n = 0;
    for (const auto& r : http_->requests()) n += queryOf(r).find("requestAds") != std::string::npos;
    return n;
  }
  Events creativeDownloads() const {
    Events out;
    for (const auto& url : http_->downloads())
      if (url.starts_with("https://cdn.example/")) out.push_back(url);
    return out;
  }
  double now() const { return host_->now(); }

  SplashHttp& service_;
  std::shared_ptr<ViewController> main_;
  std::shared_ptr<SplashHost> host_ = std::make_shared<SplashHost>();
  std::string png_ = fixturePng();
};

TEST_F(SplashFlow, DisplayDurationComesFromTheServerOrTheHostWithinHalfASecondAndThree) {
  auto splash = launch();
  auto view = OrvexSplashAdView::create(kUnit, 0);
  EXPECT_EQ(splash->displayDuration(), 1.0);
  EXPECT_EQ(view->displayDuration(), 1.0);
  struct Row {
    std::optional<double> closeTime;
    double expected;
  };
  for (const Row& row : {Row{5000, 3.0}, Row{100, 0.5}, Row{1500, 1.5}, Row{std::nullopt, 1.0}}) {
    AdRes ad;
    ad.id = "x";
    ad.splashCloseTime = row.closeTime;
    splash->splashAd()->cache()->setCachedAdRes(ad);
    view->ad()->cache()->setCachedAdRes(ad);
    EXPECT_EQ(splash->displayDuration(), row.expected);
    EXPECT_EQ(view->displayDuration(), row.expected);
  }

  const std::string logged =
      "Orvex::OrvexSplashAdViewController Invalid displayDuration value. It must be between 0.5 "
      "and 3.0 seconds.";
  splash->setDisplayDuration(3.0);
  EXPECT_EQ(splash->displayDuration(), 3.0);
  EXPECT_FALSE(sdk_.logged(logged));
  splash->setDisplayDuration(0.2);
  EXPECT_EQ(splash->displayDuration(), 0.5);
  EXPECT_TRUE(sdk_.logged(logged));

  ::testing::internal::CaptureStdout();
  splash->setTimeout(7);
  view->setDisplayDuration(0.1);
  view->setDisplayDuration(2.0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Invalid displayDuration value. It must be between 0.5 and 3.0 seconds.\n"
            "Invalid timeout value. It must be between 0.5 and 3.0 seconds.\n");
  EXPECT_EQ(splash->timeout(), 3.0);
  EXPECT_EQ(view->displayDuration(), 2.0);
}

TEST_F(SplashFlow, TimeoutZeroFailsAtOnceAndTheRefreshServesTheNextStart) {
  answer_ = adsAnswer({adJson("a:b:c_d_e", kImage, R"(,"splashCloseTime":2000.0)")});
  auto first = start(0);
  sdk_.advance(0);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_AD_NO_FILL"}));
  EXPECT_EQ(adRequests(), 1) << "only the background refresh";
  sdk_.advance(0.5);
  EXPECT_EQ(host_->events.back(), "close") << "handed over at once, nothing shown";
  EXPECT_EQ(window_->rootViewController(), main_);
  EXPECT_EQ(creativeDownloads(), (Events{kImage})) << "prefetched for the next start";

  // The next start is served from the cache, even with a network that no longer answers.
  host_->events.clear();
  first.reset();
  service_.adsDelay = 100;
  auto second = start(0);
  const double t0 = now();
  sdk_.advance(0.01);
  EXPECT_EQ(host_->events, (Events{"received"}));
  ASSERT_TRUE(second->adImageView()->image());
  EXPECT_EQ(second->adImageView()->image()->pixelWidth, 320);
  EXPECT_FALSE(second->adImageView()->isHidden());
  EXPECT_EQ(second->splashAd()->creativeId(), "d_e");
  EXPECT_EQ(second->splashAd()->campaignId(), "camp");
  EXPECT_EQ(second->displayDuration(), 2.0);
  sdk_.advance(3);
  EXPECT_EQ(host_->events, (Events{"received", "impression", "close impressed"}));
  EXPECT_NEAR(host_->at["impression"] - t0, 0.5, 1e-6);
  EXPECT_NEAR(host_->at["close impressed"] - t0, 2.0 + 0.3, 1e-6);  // after the cross-dissolve
  EXPECT_EQ(window_->rootViewController(), main_);
  EXPECT_EQ(metrics(), (Events{"AD_IMPR a:b:c_d_e@splash-unit"}));
  second.reset();
  EXPECT_TRUE(sdk_.logged("Orvex::OrvexSplashAdViewController deinit"));
  EXPECT_TRUE(sdk_.logged("Orvex::OrvexSplashAd deinit"));
}

// The first start, without a stored list: the request bounded by the host's time-out.
TEST(SplashRequest, ShowsAnAdOnlyWhenEverythingComesInTime) {
  const std::string png = fixturePng();
  struct Row {
    const char* name;
    std::string answer;
    int status = 200;
    double delay = 0;
    bool imageHangs = false;
    Events heard;
  };
  const std::string current = adJson("a:b:c_d_e", kImage);
  const std::string expired = R"({"id":"old","creative":"https://cdn.example/s/old.png",)"
                              R"("campaignStartTime":1.0,"campaignEndTime":2.0})";
  const Row rows[] = {
      {"in time", adsAnswer({current}), 200, 0.5, false, {"received"}},
      {"answer after the bound",
       adsAnswer({current}),
       200,
       1.5,
       false,
       {"failed ERROR_CODE_NETWORK"}},
      {"image never downloads", adsAnswer({current}), 200, 0, true, {"failed ERROR_CODE_NETWORK"}},
      {"image does not decode",
       adsAnswer({adJson("bad", "https://cdn.example/s/bad.png")}),
       200,
       0,
       false,
       {"failed ERROR_CODE_NETWORK"}},
      {"server error", "", 500, 0, false, {"failed ERROR_CODE_NETWORK"}},
      {"empty list", adsAnswer({}), 200, 0, false, {"failed ERROR_CODE_AD_NO_FILL"}},
      {"nothing in its window", adsAnswer({expired}), 200, 0, false, {"failed ERROR_CODE_NETWORK"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    auto http = std::make_shared<SplashHttp>();
    TestSdkOptions o;
    o.http = http;
    TestSdk sdk(dir.path(), o);
    http->dispatcher = sdk.port().platform.dispatcher;
    http->adsDelay = row.delay;
    http->hangingUrl = row.imageHangs ? kImage : "";
    http->respond(
        [&](const HttpRequest&) { return ScriptedHttpClient::answer(row.status, row.answer); });
    http->respondToDownloads([&png](const HttpRequest& r) {
      return ScriptedHttpClient::answer(200, r.url == kImage ? png : "not an image");
    });
    Orvex::initialize(false, false);
    auto host = std::make_shared<SplashHost>();
    host->now = [] { return 0.0; };
    auto splash = OrvexSplashAdViewController::create(kUnit, 1.0);
    splash->setDelegate(host);
    sdk.advance(10);  // long past the bound and every retry
    EXPECT_EQ(host->events, row.heard);
    EXPECT_EQ(splash->splashAd()->isLoaded(), row.heard.front() == "received");
    EXPECT_EQ(splash->adImageView()->image().has_value(), row.heard.front() == "received");
    EXPECT_FALSE(splash->splashAd()->isLoading());
  }
}

TEST_F(SplashFlow, WhatTheCacheHoldsThatIsNotAnAdShowsNothing) {
  // A stored image that does not decode: no blank impression; the file goes, so that the
  // refresh's prefetch fetches it again.
  const std::string broken = "https://cdn.example/s/broken.png";
  warmCache({adJson("a:b:c_d_e", broken)});
  EXPECT_EQ(creativeDownloads(), (Events{broken}));
  auto splash = start(1.0);
  sdk_.advance(2);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_AD_NO_FILL", "close"}));
  EXPECT_TRUE(sdk_.logged("Orvex::OrvexSplashAdCache Failed to decode image: " + broken));
  EXPECT_EQ(creativeDownloads(), (Events{broken, broken}));
  EXPECT_TRUE(metrics().empty());

  // A stored record that does not decode: left as it was until the server's list replaces it,
  // and the start asks the server at once, as with no record.
  host_->events.clear();
  auto suite = sdk_.port().platform.store->suite(OrvexSplashAdCache::kModuleName);
  const std::string garbage = R"({"ads": [{"id": 5}], "updatedAt": 1})";
  suite->set(kUnit, Value(Bytes(garbage.begin(), garbage.end())));
  answer_ = adsAnswer({adJson("a:b:c_d_e", kImage)});
  splash = start(1.0);
  EXPECT_TRUE(suite->data(kUnit));
  sdk_.advance(0.4);
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_FALSE(OrvexSplashAdCache::create(kUnit)->isStale()) << "replaced by the refresh";
}

TEST_F(SplashFlow, AStaleListWithoutItsImageAsksTheServiceAtOnce) {
  const std::string missing = "https://cdn.example/s/missing.png";
  service_.hangingUrl = missing;
  warmCache({adJson("old", missing)});
  sdk_.advance(8 * 86400);  // stale, though this start rewrites it before its load
  answer_ = adsAnswer({adJson("a:b:c_d_e", kImage)});
  auto splash = start(1.0);
  sdk_.advance(0.4);
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_EQ(splash->splashAd()->txId(), "a:b:c_d_e");
  EXPECT_EQ(adRequests(), 3) << "the first start's refresh, then this one's request and refresh";
}

TEST_F(SplashFlow, HandOverWithoutAWayToHandOverStillCloses) {
  struct Row {
    const char* name;
    bool inWindow;
    bool mainIsRoot;
    bool hasMain;
    const char* line;
  };
  for (const Row& row :
       {Row{"no window", false, false, true, "view.window = nil"},
        Row{"already the root", true, true, true,
            "window.rootViewController == self.mainViewController already."},
        Row{"no main controller", true, false, false,
            "mainViewController = nil, if you are using SwiftUI disregard this message."}}) {
    SCOPED_TRACE(row.name);
    host_->events.clear();
    auto splash = launch(0);
    if (row.inWindow) window_->setRootViewController(splash->viewController());
    if (row.mainIsRoot) splash->setMainViewController(splash->viewController());
    if (!row.hasMain) splash->setMainViewController(nullptr);
    sdk_.advance(0.1);
    if (!row.inWindow) splash->close();
    sdk_.advance(0.1);
    EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_AD_NO_FILL", "close"}));
    EXPECT_TRUE(sdk_.logged(std::string("Orvex::OrvexSplashAdViewController ") + row.line));
    splash->close();  // once only
    sdk_.advance(0.1);
    EXPECT_EQ(host_->events.size(), 2u);
    splash->setMainViewController(nullptr);  // a screen holding its own controller never goes
  }
}

TEST_F(SplashFlow, NoImpressionWhenTheApplicationLeftFirst) {
  warmCache();
  for (AppNotification leaving :
       {AppNotification::didEnterBackground, AppNotification::willResignActive}) {
    host_->events.clear();
    auto splash = start();
    sdk_.advance(0.2);
    sdk_.port().lifecycle->send(leaving);
    sdk_.advance(2);
    EXPECT_EQ(host_->events, (Events{"received", "close"}));
    sdk_.port().lifecycle->send(AppNotification::didBecomeActive);
    warmCache();
  }
  EXPECT_TRUE(metrics().empty());
}

TEST_F(SplashFlow, TheViewCountsItsImpressionThroughTheTrackerAndClosesBeforeTheDuration) {
  warmCache({adJson("a:b:c_d_e", kImage, R"(,"splashCloseTime":2000.0)")});
  host_->events.clear();
  auto view = OrvexSplashAdView::create(kUnit, 0);
  view->setDelegate(host_);
  sdk_.advance(0.1);
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_EQ(view->imageView()->image()->pixelWidth, 320);
  sdk_.advance(2);
  EXPECT_EQ(host_->events, (Events{"received"})) << "not on screen yet";

  main_->view()->addSubview(view->view());
  EXPECT_EQ(view->view()->frame(), main_->view()->bounds());
  const Rect fitted = view->imageView()->frame();
  EXPECT_DOUBLE_EQ(fitted.size.width / fitted.size.height, 320.0 / 480.0);
  const Rect screen = main_->view()->bounds();
  EXPECT_DOUBLE_EQ(fitted.minX() + fitted.size.width / 2, screen.size.width / 2);
  EXPECT_DOUBLE_EQ(fitted.minY() + fitted.size.height / 2, screen.size.height / 2);
  sdk_.advance(3);
  EXPECT_EQ(host_->events, (Events{"received", "impression", "close impressed"}));
  EXPECT_NEAR(host_->at["close impressed"] - host_->at["impression"], 2.0 - 0.5, 1e-6);
  EXPECT_TRUE(view->isClosed());
  EXPECT_EQ(metrics(), (Events{"AD_IMPR a:b:c_d_e@splash-unit"}));

  host_->events.clear();
  auto failing = OrvexSplashAdView::create("", 1.0);
  failing->setDelegate(host_);
  sdk_.advance(0.1);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_INVALID_UNIT", "close"}));
  EXPECT_TRUE(failing->isClosed());
}

}  // namespace
}  // namespace orvex
