#include "orvex/formats/fullscreen/orvex_interstitial_ad.h"

#include <gtest/gtest.h>

#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "tests/formats/fullscreen_test_support.h"

namespace orvex {
namespace {

using headless::HeadlessWebView;
using testing_support::adAnswer;
using testing_support::FullScreenFlow;
using testing_support::FullScreenHost;
using Events = std::vector<std::string>;

const std::string kPage = R"("id":"a:b:c_d_e","cpId":"x:y","creative":"<p>ad</p>",)"
                          R"("destinationURL":"https://adv.example/landing")";

class InterstitialFlow : public FullScreenFlow {
 protected:
  std::shared_ptr<OrvexInterstitialAd> make(const std::string& unitId = "unit") {
    auto ad = OrvexInterstitialAd::create(unitId);
    ad->setDelegate(host_);
    hookCallbacks(*ad);
    return ad;
  }
  std::shared_ptr<OrvexInterstitialAd> loaded(const std::string& fields = kPage) {
    answer_ = adAnswer(fields);
    auto ad = make();
    ad->load();
    sdk_.advance(0.5);
    return ad;
  }
  std::shared_ptr<HeadlessWebView> page(const OrvexInterstitialAd& ad) {
    return std::dynamic_pointer_cast<HeadlessWebView>(ad.screen()->webView());
  }
  ~InterstitialFlow() override { OrvexInterstitialAd::setBackfillLoader({}); }
  std::vector<std::string>& events() override { return host_->events; }

  std::shared_ptr<FullScreenHost<OrvexInterstitialAd>> host_ =
      std::make_shared<FullScreenHost<OrvexInterstitialAd>>();
};

TEST_F(InterstitialFlow, ShownClickedAndClosedInTheHostsOrder) {
  start();
  auto ad = loaded();
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_TRUE(ad->isLoaded());
  EXPECT_EQ(ad->creativeId(), "d_e");
  EXPECT_EQ(ad->campaignId(), "y");
  EXPECT_EQ(ad->destinationURL(), "https://adv.example/landing");
  EXPECT_EQ(page(*ad)->loadedHTML(), "<p>ad</p>");  // no template around it
  const auto screen = ad->screen()->viewController();
  EXPECT_EQ(
      screen->supportedInterfaceOrientations(),
      (std::vector{InterfaceOrientation::portrait, InterfaceOrientation::portraitUpsideDown}));

  ad->show(root());
  sdk_.advance(1);
  EXPECT_EQ(root()->presentedViewController(), screen);
  for (int i = 0; i < 2; ++i) {
    page(*ad)->postMessageJSON("orvex", R"({"action":"open","url":"https://adv.example/x"})");
  }
  page(*ad)->postMessageJSON("orvex", R"({"action":"open","url":"not a url"})");
  page(*ad)->postMessageJSON("orvex", R"({"action":"open"})");
  page(*ad)->postMessageJSON("orvex", R"(["close"])");
  sdk_.advance(1);
  page(*ad)->postMessageJSON("orvex", R"({"action":"close"})");
  sdk_.advance(1);
  EXPECT_EQ(host_->events, (Events{"received", "willPresent", "impression", "didPresent", "clicked",
                                   "willDismiss", "didDismiss"}));
  EXPECT_EQ(opened(), (Events{"https://adv.example/x", "https://adv.example/x"}));
  EXPECT_EQ(metrics(), (Events{"AD_IMPR a:b:c_d_e@unit", "AD_CLICK a:b:c_d_e@unit"}));
  EXPECT_EQ(root()->presentedViewController(), nullptr);

  ad->show(root());
  ad->load();
  sdk_.advance(1);
  EXPECT_EQ(host_->lastTwo(),
            (Events{"showFailed ERROR_CODE_AD_SHOWN", "failed ERROR_CODE_AD_LOAD_DUPLICATED"}));
}

TEST_F(InterstitialFlow, RefusalsAndFailures) {
  start(/*production=*/true);
  Orvex::shared().config().setActive(false);
  auto ad = make();
  ad->show(root());  // before any load
  ad->load();        // inactive
  auto empty = make("");
  empty->load();
  sdk_.advance(1);
  auto test = make("x_PUBLIC_TEST_UNIT_ID_y");
  answer_ = adAnswer(R"("id":"t","creative":"")");
  test->load();
  test->load();  // while the first is out
  test->show(root());
  sdk_.advance(1);
  EXPECT_EQ(host_->events,
            (Events{"showFailed ERROR_CODE_AD_EMPTY", "failed ERROR_CODE_AD_INACTIVE",
                    "failed ERROR_CODE_INVALID_UNIT", "failed ERROR_CODE_AD_LOADING",
                    "showFailed ERROR_CODE_AD_LOADING", "failed ERROR_CODE_AD_NO_FILL"}));
}

TEST_F(InterstitialFlow, ServerAndPageFailuresAreNetworkFailures) {
  start();
  status_ = 500;
  auto ad = loaded();
  sdk_.advance(30);
  EXPECT_TRUE(sdk_.logged("Orvex::OrvexInterstitialAd request ad failed. ERROR_CODE_NETWORK"));
  status_ = 200;
  answer_ = adAnswer(kPage + R"(,"portrait":false,"browserTarget":1)");
  sdk_.port().webViews->setFinishLoadsAutomatically(false);
  ad->load();
  sdk_.advance(5.5);
  EXPECT_EQ(host_->events, (Events{"failed ERROR_CODE_NETWORK", "failed ERROR_CODE_NETWORK"}));
  page(*ad)->finishLoad();
  sdk_.advance(1);
  EXPECT_EQ(host_->events.size(), 2u);  // a page ready too late is not received
  EXPECT_FALSE(ad->isLoaded());
  EXPECT_EQ(
      ad->screen()->viewController()->supportedInterfaceOrientations(),
      (std::vector{InterfaceOrientation::landscapeLeft, InterfaceOrientation::landscapeRight}));
  ad->load();  // a failed ad may try again; its new screen replaces the old one
  sdk_.advance(0.5);
  page(*ad)->finishLoad();
  sdk_.advance(0.5);
  EXPECT_EQ(host_->events.back(), "received");
}

TEST_F(InterstitialFlow, NothingIsBilledForAShowThatCannotAppear) {
  start();
  auto ad = loaded();
  auto other = sdk_.port().ui->makeViewController(ViewControllerKind::plain);
  root()->present(other, false, {});
  sdk_.advance(1);
  ad->show(root());
  ad->show(nullptr);
  sdk_.advance(1);
  EXPECT_EQ(host_->lastTwo(),
            (Events{"showFailed ERROR_CODE_INTERNAL", "showFailed ERROR_CODE_INTERNAL"}));
  EXPECT_TRUE(metrics().empty());
  EXPECT_FALSE(ad->screen()->viewController()->isViewVisible());
}

TEST_F(InterstitialFlow, AReleasedAdHearsNothingWhileItsScreenStaysUntilClosed) {
  start();
  auto ad = loaded();
  ad->show(root());
  std::weak_ptr<OrvexInterstitialAdViewController> screen = ad->screen();
  auto web = page(*ad);
  ad.reset();
  sdk_.advance(1);
  ASSERT_FALSE(screen.expired());
  web->postMessageJSON("orvex", R"({"action":"close"})");
  sdk_.advance(1);
  EXPECT_EQ(host_->events, (Events{"received"}));
  EXPECT_TRUE(screen.expired());
}

TEST_F(InterstitialFlow, ABackfillModuleLoadsAndShows) {
  start();
  std::shared_ptr<OrvexInterstitialAd> served;
  OrvexInterstitialAd::setBackfillLoader([&](auto ad, OrvexInternal::AdCompletion) {
    served = ad;
    InterstitialInternalAccess& access = *ad;
    access.setInternalShowHandler([&](std::shared_ptr<ViewController> from) {
      host_->events.push_back(from == root() ? "backfill shown" : "wrong root");
    });
    access.setInternalIsLoading(false);
    access.setInternalLoaded(true);
    access.setInternalTxId("");
    access.internalNotify(OrvexMetricCode::valid, std::nullopt);
  });
  auto ad = make();
  ad->load();
  sdk_.advance(1);
  ad->show(root());
  sdk_.advance(1);
  EXPECT_EQ(served, ad);
  EXPECT_EQ(host_->events, (Events{"received", "backfill shown", "impression"}));
  EXPECT_TRUE(metrics().empty());
}

}  // namespace
}  // namespace orvex
