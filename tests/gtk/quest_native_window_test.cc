// The quest screen and a native ad's media page in WebKit, in a real window, against the local
// ad service: the page's own scripts talk over the bridge, real links meet the navigation rule,
// and the media page takes the ratio the engine measured.
#include <gtest/gtest.h>

#include <cmath>

#include "examples/demo/gtk_screen.h"
#include "examples/embed/native_example.h"
#include "orvex/core/device.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/web/native_ad_web_view_controller.h"
#include "orvex/web/quest_web_view_controller.h"
#include "ports/gtk/gtk_user_interface.h"
#include "tests/gtk/gtk_test_support.h"
#include "tools/adserver/ad_server.h"

namespace orvex {
namespace {

using gtk_testing::evaluate;
using gtk_testing::GtkTestSdk;
using testing_support::TempDir;

class QuestNativeWindow : public ::testing::Test {
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

TEST_F(QuestNativeWindow, QuestBridgeLinksAndCloseInWebKit) {
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

TEST_F(QuestNativeWindow, NativeMediaPageTakesItsRatioInTheWindow) {
  auto slot = screen_->makeFeed(4, 320);
  auto article = std::make_shared<example::ArticleScreen>();
  article->showNativeAd(slot, ui(), "demo-native");
  ASSERT_TRUE(sdk_->runUntil([&] { return !article->heard.empty(); }));
  ASSERT_TRUE(article->heard[0].starts_with("received ")) << article->heard[0];
  auto controller = article->ad()->nativeAdViewController();
  ASSERT_TRUE(controller && controller->webView());
  // The page's scroll size, measured in WebKit, sets the ratio; GTK's layout applies it.
  ASSERT_TRUE(sdk_->runUntil([&] { return controller->webViewSizeRatio() != 1.0; }));
  GtkWidget* media = gtk::widgetOf(*controller->webView());
  ASSERT_TRUE(sdk_->runUntil([&] {
    const int w = gtk_widget_get_width(media), h = gtk_widget_get_height(media);
    return w > 0 && std::abs(h - w * controller->webViewSizeRatio()) <= 1.5;
  }));
}

}  // namespace
}  // namespace orvex
