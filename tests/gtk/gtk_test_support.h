#pragma once
// A fresh SDK per test on the desktop port, in a real window (under Xvfb where there is no
// display), with the local ad service's deployment values when given.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "orvex/platform/web_view.h"
#include "ports/gtk/gtk_port.h"
#include "tests/support/test_sdk.h"

namespace orvex::gtk_testing {

// GTK is initialized once per process; false when there is no display to open.
bool haveDisplay();
// Whether a display was promised (ORVEX_REQUIRE_DISPLAY=1, set by scripts/with-display.sh, which
// make test runs the suite under): then a display GTK cannot open is a failure, not a skip.
bool displayRequired();

class GtkTestSdk {
 public:
  explicit GtkTestSdk(const std::filesystem::path& dataDir, OrvexDeployment deployment = {});
  gtk::GtkPort& port() { return port_; }
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds = 15) {
    return port_.runUntil(done, timeoutSeconds);
  }
  void runFor(double seconds) { port_.runFor(seconds); }

 private:
  gtk::GtkPort port_;
};

// Runs `script` in `page` and waits for its answer.
struct ScriptAnswer {
  std::optional<Value> result;
  std::optional<WebError> error;
};
ScriptAnswer evaluate(GtkTestSdk& sdk, WebView& page, const std::string& script);

// Records what a web view's delegate hears, as text ("finish", "fail <domain> <code>",
// "decide <type> <main|sub|window> <gesture|-> <url>", "window <type> window <gesture|-> <url>").
class PageRecorder : public WebViewNavigationDelegate {
 public:
  void decidePolicy(WebView&, const NavigationAction& action,
                    std::function<void(NavigationPolicy)> decide) override;
  void didFinish(WebView&) override { events.push_back("finish"); }
  void didFail(WebView&, const WebError& e) override;
  void requestsNewWindow(WebView&, const NavigationAction& action) override;
  std::size_t count(const std::string& prefix) const;

  std::vector<std::string> events;
  // Navigations to these URL prefixes are cancelled; everything else is allowed.
  std::vector<std::string> cancelPrefixes = {"https://"};
};

// GTK's and GLib's warnings and critical messages (a failed check inside GTK is one), from
// construction on: a host's widgets must come out of the SDK without any.
class GtkWarnings {
 public:
  GtkWarnings();
  ~GtkWarnings();
  GtkWarnings(const GtkWarnings&) = delete;
  GtkWarnings& operator=(const GtkWarnings&) = delete;
  std::vector<std::string> messages() const;
};

// A host's own 390×600 window around `content`, adopted by the port and shown.
GtkWidget* showHostWindow(gtk::GtkPort& port, GtkWidget* content);

// Minimizes or restores a shown window as an X window manager does, by unmapping or mapping it
// (Xvfb has none). False where the display is not X11.
bool setMinimized(GtkWindow* window, bool minimized);

// The widget as drawn now, as premultiplied BGRA bytes, row after row (empty when it has no size
// or the snapshot came back empty, as it may while a page restyles).
std::vector<unsigned char> pixelsOf(GtkWidget* widget);

// The colours at `points` of a PNG the window wrote, as 0xRRGGBB (0xdeadbe where unreadable).
std::vector<std::uint32_t> pixelsAt(const std::string& png,
                                    const std::vector<std::pair<int, int>>& points);
std::uint32_t pixelAt(const std::string& png, int x, int y);
// Within 8 per channel: what scaling and compositing leave of a colour.
bool closeColours(std::uint32_t a, std::uint32_t b);

// `p` in `widget`'s coordinates, on the X screen ((0, 0) where the display is not X11).
std::pair<int, int> screenPoint(GtkWidget* widget, Point p);

// A user's drag with the X server's pointer (XTest) from `from` to `to` in `widget`'s
// coordinates, in `steps` moves at a hand's pace, so GTK's gestures see real events and speeds.
// False where the display is not X11.
bool dragPointer(GtkTestSdk& sdk, GtkWidget* widget, Point from, Point to, int steps = 8);

// Which of the objects watched have been finalized.
class Finalizations {
 public:
  void watch(gpointer object);
  // The widget and everything in it (its event controllers too).
  void watchTree(GtkWidget* widget);
  int alive() const { return watched_ - *finalized_; }

 private:
  std::shared_ptr<int> finalized_ = std::make_shared<int>(0);
  int watched_ = 0;
};

}  // namespace orvex::gtk_testing

namespace orvex {
// Values print as JSON in test failures.
void PrintTo(const Value& value, std::ostream* out);
}  // namespace orvex

// Skips a test where GTK cannot open a display, or fails it where one was promised.
#define ORVEX_REQUIRE_DISPLAY()                                                    \
  if (!::orvex::gtk_testing::haveDisplay()) {                                      \
    if (::orvex::gtk_testing::displayRequired())                                   \
      GTEST_FAIL() << "no display, although ORVEX_REQUIRE_DISPLAY=1 promised one"; \
    GTEST_SKIP() << "no display";                                                  \
  }                                                                                \
  static_assert(true)
