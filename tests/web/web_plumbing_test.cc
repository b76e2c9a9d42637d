#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvex/web/background_reload_manager.h"
#include "orvex/web/user_content_control_agent.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "ports/linux/lifecycle.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using headless::HeadlessWebView;
using testing_support::TempDir;
using testing_support::TestSdk;

struct Recorder : WebViewNavigationDelegate, ScriptMessageHandler, ScriptMessageHandlerWithReply {
  std::vector<std::string> events;
  NavigationPolicy policy = NavigationPolicy::allow;
  void decidePolicy(WebView&, const NavigationAction& action,
                    std::function<void(NavigationPolicy)> decide) override {
    events.push_back("decide " + action.url.value_or("-"));
    decide(policy);
  }
  void didFinish(WebView&) override { events.push_back("finish"); }
  void didFail(WebView&, const WebError& e) override {
    events.push_back("fail " + e.domain + " " + std::to_string(e.code));
  }
  void requestsNewWindow(WebView&, const NavigationAction& a) override {
    events.push_back("window " + a.url.value_or("-"));
  }
  void didReceive(WebView&, const ScriptMessage& m) override { events.push_back("msg " + m.name); }
  void didReceive(WebView&, const ScriptMessage& m, Reply reply) override {
    events.push_back("ask " + m.name);
    reply(Value("pong"), std::nullopt);
  }
};

class WebPlumbing : public ::testing::Test {
 protected:
  WebPlumbing() : sdk_(dir_.path()) {
    web_ = std::dynamic_pointer_cast<HeadlessWebView>(
        sdk_.port().ui->makeWebView(WebViewConfiguration{}));
    recorder_ = std::make_shared<Recorder>();
    web_->setNavigationDelegate(recorder_);
  }
  TempDir dir_;
  TestSdk sdk_;
  std::shared_ptr<HeadlessWebView> web_;
  std::shared_ptr<Recorder> recorder_;
};

TEST_F(WebPlumbing, ScriptedPageLoadsStopsNavigatesAndAnswersProbes) {
  ASSERT_TRUE(web_);
  web_->loadHTMLString("<p>hi</p>");
  EXPECT_TRUE(recorder_->events.empty());  // never inline
  sdk_.advance(0);
  // Asked first, as the engines do.
  EXPECT_EQ(recorder_->events, (std::vector<std::string>{"decide about:blank", "finish"}));

  web_->setFinishLoadsAutomatically(false);
  web_->loadHTMLString("<p>slow</p>");
  web_->stopLoading();
  web_->activateLink("https://example.com/a");
  sdk_.advance(0);
  recorder_->policy = NavigationPolicy::cancel;
  web_->activateLink("https://example.com/b");
  web_->requestNewWindow("https://example.com/c");
  sdk_.advance(0);
  EXPECT_EQ(recorder_->events, (std::vector<std::string>{
                                   "decide about:blank", "finish", "fail NSURLErrorDomain -999",
                                   "decide https://example.com/a", "decide https://example.com/b",
                                   "window https://example.com/c"}));
  EXPECT_EQ(web_->loadedURL(), "https://example.com/a");
  // A URL load still running at its time-out fails as timed out.
  recorder_->policy = NavigationPolicy::allow;
  web_->loadURL("https://example.com/slow", 5.0);
  sdk_.advance(4.9);
  EXPECT_EQ(recorder_->events.back(), "decide https://example.com/slow");
  sdk_.advance(0.2);
  EXPECT_EQ(recorder_->events.back(), "fail NSURLErrorDomain -1001");
  EXPECT_FALSE(web_->isLoading());

  web_->setFrame(Rect(0, 0, 320, 100));
  std::optional<Value> size;
  web_->evaluateJavaScript(
      "({width: document.documentElement.scrollWidth, height: "
      "document.documentElement.scrollHeight})",
      [&](std::optional<Value> r, std::optional<WebError>) { size = r; });
  sdk_.advance(0);
  ASSERT_TRUE(size && size->asDict());
  EXPECT_EQ(size->asDict()->at("height").number(), 100);

  // Callbacks pending when the view goes are dropped, not run on a dead view, script
  // completions too.
  web_->loadHTMLString("<p>again</p>");
  web_->finishLoad();
  web_->evaluateJavaScript("1", [](auto, auto) { ADD_FAILURE() << "called after release"; });
  web_.reset();
  sdk_.advance(0);
  EXPECT_EQ(recorder_->events.size(), 8u);
}

TEST_F(WebPlumbing, AgentsForwardWithoutKeepingTheirDelegateAlive) {
  auto agent = std::make_shared<UserContentControlAgent>();
  auto async = std::make_shared<UserContentControlAgentAsync>();
  agent->delegate = recorder_;
  async->delegate = recorder_;
  web_->addScriptMessageHandler(agent, "orvex");
  web_->addScriptMessageHandlerWithReply(async, "bridge");
  EXPECT_TRUE(web_->postMessage("orvex", Value(ValueDict{{"action", "close"}})));
  EXPECT_TRUE(web_->postMessage("bridge", Value("ping")));
  EXPECT_FALSE(web_->postMessage("nobody", Value(1)));
  sdk_.advance(0);
  EXPECT_EQ(recorder_->events, (std::vector<std::string>{"msg orvex", "ask bridge"}));
  ASSERT_EQ(web_->replies().size(), 1u);
  EXPECT_EQ(*web_->replies()[0].result->asString(), "pong");

  // Hostile bodies: far too deep is refused, huge is delivered; neither crashes.
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  EXPECT_FALSE(web_->postMessageJSON("orvex", deep));
  EXPECT_TRUE(web_->postMessage("orvex", Value(std::string(8 << 20, 'x'))));
  sdk_.advance(0);

  std::weak_ptr<Recorder> gone = recorder_;
  recorder_.reset();
  EXPECT_TRUE(gone.expired());  // the web view's agents did not keep it
  web_->postMessage("bridge", Value("ping"));
  sdk_.advance(0);
  ASSERT_EQ(web_->replies().size(), 2u);  // settled with nothing
  EXPECT_FALSE(web_->replies()[1].result);
}

TEST_F(WebPlumbing, ReloadsOnlyAfterMoreThanThirtySecondsAwayWithContent) {
  auto manager = BackgroundReloadManager::create(web_, 30.0);
  auto& lifecycle = *sdk_.port().lifecycle;
  auto away = [&](double seconds) {
    lifecycle.send(AppNotification::didEnterBackground);
    sdk_.advance(seconds);
    lifecycle.send(AppNotification::willEnterForeground);
    sdk_.advance(0);
  };
  away(60);  // nothing loaded through the manager yet
  EXPECT_TRUE(web_->loads().empty());
  manager->loadContent("<p>ad</p>");
  away(30);
  EXPECT_EQ(web_->loads().size(), 1u);
  away(31);
  ASSERT_EQ(web_->loads().size(), 2u);
  EXPECT_EQ(web_->loadedHTML(), "<p>ad</p>");
  manager.reset();
  away(60);
  EXPECT_EQ(web_->loads().size(), 2u);
}

}  // namespace
}  // namespace orvex
