// The headless port on the contract: virtual time, the in-memory screen and scripted pages.
#include "orvex/core/json.h"
#include "ports/headless/headless_media.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "tests/conformance/port_harness.h"
#include "tests/support/test_sdk.h"

namespace orvex::conformance {
namespace {

class HeadlessHarness : public PortHarness {
 public:
  HeadlessHarness() {
    // What a decoder would read from the video's header.
    sdk_.port().media->registerItem(videoURL(), {.duration = 5, .frameRate = 30});
  }
  OrvexPlatform& platform() override { return sdk_.port().platform; }
  std::shared_ptr<Window> window() override { return window_; }

  bool runUntil(const std::function<bool()>& done, double budgetSeconds) override {
    return sdk_.port().runUntil(done, budgetSeconds);
  }
  void runFor(double seconds) override { sdk_.advance(seconds); }
  void settle() override { sdk_.advance(0); }

  void tap(View& view, Point point) override {
    headless::headlessView(*window_).tap(windowPoint(view, point));
  }
  void drag(View& view, Point from, Point to) override {
    headless::headlessView(*window_).drag(windowPoint(view, from), windowPoint(view, to));
  }
  void hover(View& view, Point point) override {
    // What a desktop asks as the pointer moves; a touch screen asks nothing.
    window_->hitTest(windowPoint(view, point), HitTestEvent::motion);
  }
  bool chooseAlertAction(const std::string& title) override {
    auto alert = ui_.visibleAlert();
    return alert && alert->choose(title);
  }

  void loadUnreachableURL(WebView& webView) override {
    auto& page = dynamic_cast<headless::HeadlessWebView&>(webView);
    page.setFinishLoadsAutomatically(false);
    page.loadURL("http://127.0.0.1:" + std::to_string(testing_support::refusedPort()) + "/", 10);
    sdk_.port().runUntil([&] { return page.loadedURL().has_value(); }, 1);
    page.failLoad(WebError{WebError::kURLErrorDomain, -1004, "Could not connect to the server."});
    page.setFinishLoadsAutomatically(true);
  }
  void playPage(WebView& webView, PageAct act, const std::string& url) override {
    auto& page = dynamic_cast<headless::HeadlessWebView&>(webView);
    page.loadHTMLString("<p>a page</p>");
    sdk_.port().runUntil([&] { return !page.isLoading(); }, 1);
    using N = NavigationType;
    using T = NavigationTarget;
    switch (act) {
      case PageAct::tapLink:
        return page.navigate({N::linkActivated, url, T::mainFrame, true});
      case PageAct::tapLinkToNewWindow:
        return page.navigate({N::linkActivated, url, T::newWindow, true});
      case PageAct::tapToOpenWindow:
        return page.requestNewWindow(url, true);
      case PageAct::pageClicksLink:
        return page.navigate({N::linkActivated, url, T::mainFrame, false});
      case PageAct::pageNavigates:
        return page.navigate({N::other, url, T::mainFrame, false});
      case PageAct::pageOpensWindow:
        return page.requestNewWindow(url, false);
      case PageAct::pageLoadsFrame:
        return page.navigate({N::other, url, T::subFrame, false});
    }
  }
  std::string answeringURL() override {
    return "http://127.0.0.1:" + std::to_string(testing_support::refusedPort()) + "/page";
  }
  std::shared_ptr<WebView> makeWebView() override {
    auto view = ui_.makeWebView({});
    auto page = std::dynamic_pointer_cast<headless::HeadlessWebView>(view);
    page->setScriptResponder([](const std::string& script) -> std::optional<Value> {
      auto value = json::parse(script);
      if (value) return std::move(*value);
      return std::nullopt;
    });
    return view;
  }

 private:
  Point windowPoint(View& view, Point point) {
    return view.convertRect(Rect(point.x, point.y, 0, 0), *window_).origin;
  }

  testing_support::TempDir dir_;
  testing_support::TestSdk sdk_{dir_.path()};
  headless::HeadlessUserInterface& ui_ = *sdk_.port().ui;
  std::shared_ptr<headless::HeadlessWindow> window_ = ui_.makeKeyWindowWithRootController();
};

}  // namespace

std::vector<PortParam> conformancePorts() {
  return {{"Headless", [] { return std::make_unique<HeadlessHarness>(); }}};
}

}  // namespace orvex::conformance
