// Web views (orvex/platform/web_view.h): loads finish or fail on the main queue, never inside the
// call, and scripts answer with JSON-like values.
#include <string>
#include <vector>

#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

using Strings = std::vector<std::string>;

class WebViews : public PortTest {
 protected:
  struct Recorder : WebViewNavigationDelegate {
    void didFinish(WebView&) override { events.push_back("finish"); }
    void didFail(WebView&, const WebError& e) override {
      events.push_back(e.isCancelled() ? "cancelled" : "fail");
      error = e;
    }
    Strings events;
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
