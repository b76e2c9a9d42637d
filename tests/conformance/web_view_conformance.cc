// Web views (orvex/platform/web_view.h): loads finish or fail on the main queue, never inside the
// call, and scripts answer with JSON-like values; every navigation is told with its type, frame
// and gesture, the same way on every port; a completion never outlives its view.
#include <string>
#include <vector>

#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

using Strings = std::vector<std::string>;

class WebViews : public PortTest {
 protected:
  // Navigations read "decide|window <type> <main|sub|window> <gesture|-> <url>". With
  // `stayOnPage` only the SDK's own documents and new windows are allowed, so the page stays for
  // the next act.
  struct Recorder : WebViewNavigationDelegate {
    static std::string describe(const char* hook, const NavigationAction& a) {
      const char* type = a.type == NavigationType::linkActivated ? "link"
                         : a.type == NavigationType::other       ? "other"
                                                                 : "type";
      const char* target = a.target == NavigationTarget::mainFrame  ? "main"
                           : a.target == NavigationTarget::subFrame ? "sub"
                                                                    : "window";
      return std::string(hook) + " " + type + " " + target + (a.userGesture ? " gesture " : " - ") +
             a.url.value_or("-");
    }
    void decidePolicy(WebView&, const NavigationAction& a,
                      std::function<void(NavigationPolicy)> decide) override {
      navigations.push_back(describe("decide", a));
      const bool allow =
          !stayOnPage || a.url == "about:blank" || a.target == NavigationTarget::newWindow;
      decide(allow ? NavigationPolicy::allow : NavigationPolicy::cancel);
    }
    void requestsNewWindow(WebView&, const NavigationAction& a) override {
      navigations.push_back(describe("window", a));
    }
    void didFinish(WebView&) override { events.push_back("finish"); }
    void didFail(WebView&, const WebError& e) override {
      events.push_back(e.isCancelled() ? "cancelled" : "fail");
      error = e;
    }
    bool stayOnPage = false;
    Strings events;
    Strings navigations;
    WebError error;
  };

  void SetUp() override {
    PortTest::SetUp();
    if (IsSkipped()) return;
    page = port().makeWebView();
    port().root()->view()->addSubview(page);
    page->setFrame(Rect(0, 0, 320, 200));
    page->setNavigationDelegate(recorder);
  }

  std::shared_ptr<WebView> page;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};
ORVEX_CONFORMANCE_AREA(WebViews);

TEST_P(WebViews, NavigationsCarryTheirTypeFrameAndGesture) {
  using Act = PortHarness::PageAct;
  const std::string url = port().answeringURL();
  const std::string own = "decide other main - about:blank";  // loadHTMLString asks too
  recorder->stayOnPage = true;
  const struct {
    Act act;
    Strings expected;
  } cases[] = {
      {Act::tapLink, {own, "decide link main gesture " + url}},
      // As on the phone: a decision first, the request once it is allowed.
      {Act::tapLinkToNewWindow,
       {own, "decide link window gesture " + url, "window link window gesture " + url}},
      {Act::tapToOpenWindow, {own, "window other window gesture " + url}},
      {Act::pageClicksLink, {own, "decide link main - " + url}},
      {Act::pageNavigates, {own, "decide other main - " + url}},
      {Act::pageOpensWindow, {own}},  // blocked: a window needs the user
      {Act::pageLoadsFrame, {own, "decide other sub - " + url}},
  };
  for (const auto& c : cases) {
    recorder->navigations.clear();
    port().playPage(*page, c.act, url);
    port().runUntil([&] { return recorder->navigations.size() >= c.expected.size(); }, 10);
    port().runFor(0.3);  // and nothing more comes
    EXPECT_EQ(recorder->navigations, c.expected) << static_cast<int>(c.act);
  }
}

TEST_P(WebViews, ACompletionWhoseViewWasReleasedIsDropped) {
  page->loadHTMLString("<p>ad</p>");
  ASSERT_TRUE(port().runUntil([&] { return !recorder->events.empty(); }, 30));
  bool called = false;
  page->evaluateJavaScript("[1]", [&](auto, auto) { called = true; });
  page->removeFromSuperview();
  page.reset();
  port().runFor(0.5);
  EXPECT_FALSE(called);
}

TEST_P(WebViews, AnHtmlLoadFinishesLaterAndScriptsAnswerWithValues) {
  page->loadHTMLString("<html><body><p>ad</p></body></html>");
  EXPECT_TRUE(page->isLoading());
  EXPECT_TRUE(recorder->events.empty()) << "nothing is called back inside the call";
  ASSERT_TRUE(port().runUntil([&] { return !recorder->events.empty(); }, 30));
  port().runFor(0.2);
  EXPECT_EQ(recorder->events, Strings{"finish"});
  EXPECT_FALSE(page->isLoading());

  std::optional<Value> result;
  bool answered = false;
  page->evaluateJavaScript(R"([{"a": 1, "b": [true, null]}, "two", 2.5])",
                           [&](std::optional<Value> r, std::optional<WebError> e) {
                             answered = true;
                             result = std::move(r);
                             EXPECT_FALSE(e);
                           });
  EXPECT_FALSE(answered);
  ASSERT_TRUE(port().runUntil([&] { return answered; }, 30));
  EXPECT_EQ(result,
            Value(ValueArray{ValueDict{{"a", 1}, {"b", ValueArray{true, nullptr}}}, "two", 2.5}));
}

TEST_P(WebViews, AUrlLoadNothingAnswersFails) {
  port().loadUnreachableURL(*page);
  ASSERT_TRUE(port().runUntil([&] { return !recorder->events.empty(); }, 30));
  port().runFor(0.2);
  EXPECT_EQ(recorder->events, Strings{"fail"});
  EXPECT_FALSE(recorder->error.domain.empty());
  EXPECT_FALSE(page->isLoading());
}

}  // namespace
}  // namespace orvex::conformance
