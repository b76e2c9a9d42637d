#pragma once
// The port contract, written once: the cases in tests/conformance/*_conformance.cc hold every port
// to what orvex/platform/ promises, and each port's test binary runs them with its own harness
// (headless in virtual time, the desktop port in a real window under Xvfb). A case reaches the
// port only through orvex/platform/ and the few things a host or a user does, which the harness
// plays through the port's own paths: running the main loop, and taps through the port's real
// input (hit testing and tap delivery; on a desktop, pointer events through the toolkit).
//
// A port joins by implementing PortHarness and defining conformancePorts() in its test binary.
// Cases are named Conformance/<Area>.<Case>/<Port>.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "orvex/platform/platform.h"
#include "orvex/platform/view.h"
#include "orvex/platform/web_view.h"

namespace orvex::conformance {

class PortHarness {
 public:
  virtual ~PortHarness() = default;

  virtual OrvexPlatform& platform() = 0;
  UserInterface& ui() { return *platform().ui; }
  Dispatcher& dispatcher() { return *platform().dispatcher; }
  // A key window on screen with a plain root controller whose view fills it.
  virtual std::shared_ptr<Window> window() = 0;
  std::shared_ptr<ViewController> root() { return window()->rootViewController(); }

  // Runs the main loop until `done` holds or `budgetSeconds` pass (virtual time where the port
  // has it); returns whether `done` held.
  virtual bool runUntil(const std::function<bool()>& done, double budgetSeconds = 10) = 0;
  // Runs the main loop for `seconds` (virtual time where the port has it).
  virtual void runFor(double seconds) = 0;
  // Runs what is due now and lets the screen catch up with the views (layout, mapping).
  virtual void settle() = 0;

  // The user, through the port's input path. Points are in `view`'s coordinates.
  // A press and release at `point`; returns once the port has handled both.
  virtual void tap(View& view, Point point) = 0;
  // The user drags from `from` to `to` (points in `view`'s coordinates): a press at `from`, the
  // pointer moving there in a few steps, a release at `to`; returns once the port has handled the
  // release (a paging scroll view may still be settling). Moves at a moderate pace: cases rely on
  // the distance (more than a third of a page turns it), never on the speed.
  virtual void drag(View& view, Point from, Point to) = 0;
  // The pointer moving to `point` without a press (a desktop hit tests as it moves; a touch
  // screen has nothing to do).
  virtual void hover(View& view, Point point) = 0;
  // Chooses the button titled `title` of the alert on screen; false when there is none.
  virtual bool chooseAlertAction(const std::string& title) = 0;

  // The page's side where the port has no engine: starts a load of a loopback URL nothing
  // listens on, which the engine fails (the headless page fails it as an engine would).
  virtual void loadUnreachableURL(WebView& webView) = 0;
  // Web views made here answer a script that is a JSON array with its value (the headless page
  // plays that much of an engine).
  virtual std::shared_ptr<WebView> makeWebView() = 0;

  // What a page does that navigates, with `url`. The harness loads a page for it
  // (loadHTMLString: the SDK's own load comes first) and plays it: "tap" acts through the port's
  // input path, the others from the page's own script (no gesture). An engine plays them from the
  // page's markup; the headless page is told what that markup does.
  enum class PageAct {
    tapLink,             // <a href>
    tapLinkToNewWindow,  // <a target="_blank">
    tapToOpenWindow,     // an element whose click handler calls window.open
    pageClicksLink,      // the page's timer calls a.click()
    pageNavigates,       // the page's timer sets location
    pageOpensWindow,     // the page's timer calls window.open
    pageLoadsFrame,      // an <iframe src>
  };
  virtual void playPage(WebView& webView, PageAct act, const std::string& url) = 0;
  // A loopback http URL that answers with a small page: an engine may name a navigation's frame
  // only once its response is in.
  virtual std::string answeringURL() = 0;
};

// The local ad service's video as a file URL: 5 s at 30 frames per second. A port without a
// decoder knows its facts from its harness.
inline std::string videoURL() {
  return "file://" + std::string(ORVEX_SOURCE_DIR) + "/tools/adserver/fixtures/static/video.webm";
}

struct PortParam {
  std::string name;
  std::function<std::unique_ptr<PortHarness>()> make;
};

// Defined once per test binary: the ports it runs the contract on.
std::vector<PortParam> conformancePorts();

// The fixture of every case: a fresh port (and SDK) per case, with a key window.
class PortTest : public ::testing::TestWithParam<PortParam> {
 protected:
  void SetUp() override;
  void TearDown() override { harness_.reset(); }
  PortHarness& port() { return *harness_; }
  // A plain view added to the root view at `frame`.
  std::shared_ptr<View> addView(const Rect& frame, const std::shared_ptr<View>& parent = nullptr);

 private:
  std::unique_ptr<PortHarness> harness_;
};

std::string portName(const ::testing::TestParamInfo<PortParam>& info);
inline void PrintTo(const PortParam& port, std::ostream* out) {
  *out << port.name;
}

}  // namespace orvex::conformance

// Runs the cases of `Area` (a PortTest subclass) on every port of the binary.
#define ORVEX_CONFORMANCE_AREA(Area)                                                      \
  INSTANTIATE_TEST_SUITE_P(Conformance, Area,                                             \
                           ::testing::ValuesIn(::orvex::conformance::conformancePorts()), \
                           ::orvex::conformance::portName)
