#pragma once
// What a demo flow needs from the screen it runs on: the headless port's in-memory screen, or a
// real window with GTK and WebKit. Flows place the SDK's views through orvex::View and play the
// user's part (scrolling, tapping, clicking inside a page) through this interface, so the same
// flow runs, and prints the same timeline, on both.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "examples/demo/timeline.h"
#include "orvex/platform/view.h"
#include "orvex/platform/web_view.h"

namespace demo {

// What every flow is told.
struct FlowOptions {
  std::string unitId;
  // Where to write a PNG of the window once the ad is on screen; empty: none.
  std::string screenshot;
  // Told where the ad was in the window when the screenshot was taken.
  std::function<void(const orvex::Rect&)> screenshotArea;
};

class Screen {
 public:
  virtual ~Screen() = default;

  // "headless" or "window".
  virtual std::string name() const = 0;
  virtual orvex::UserInterface& ui() = 0;
  // The host's key window, with a root controller.
  virtual std::shared_ptr<orvex::Window> window() = 0;

  // A vertically scrolling feed filling the window: `cards` rows of the host's own (drawn by the
  // toolkit where there is one), then an empty slot of `slotHeight` for an ad, well below the
  // fold. Returns the slot; the flow adds the SDK's view to it.
  virtual std::shared_ptr<orvex::View> makeFeed(int cards, double slotHeight) = 0;
  // Scrolls the feed until `view` is in sight, as the user would. Returns the scroll offset.
  virtual double scrollIntoView(orvex::View& view) = 0;
  // The user's tap at the centre of `view`.
  virtual void tap(orvex::View& view) = 0;
  // The user's swipe across the middle of `view` by `dx` points (negative: to the left), at a
  // hand's pace, through the screen's own input. False where the screen cannot play one.
  virtual bool swipe(orvex::View& /*view*/, double /*dx*/) { return false; }

  // The newest web view the SDK made.
  virtual std::shared_ptr<orvex::WebView> lastWebView() = 0;
  // The user clicking the page's link to `url` (a real click on the page's anchor in an engine).
  virtual void clickLink(orvex::WebView& page, const std::string& url) = 0;
  // The page posting `json` to its script-message handler `handler`, as the page's own script
  // would: window.webkit.messageHandlers[handler].postMessage(body).
  virtual void postFromPage(orvex::WebView& page, const std::string& handler,
                            const std::string& json) = 0;

  // Whether pages run their own scripts (a real engine: the local quest site's page plays its
  // part by itself) or a flow plays the page's side (the scripted pages of the in-memory screen).
  virtual bool pagesRunThemselves() const { return false; }
  // The page asking `handler` and awaiting its reply, as
  // `await window.webkit.messageHandlers[handler].postMessage(body)` would; `answer` gets the reply
  // as JSON text, or none when the handler answered nothing.
  virtual void askFromPage(orvex::WebView& page, const std::string& handler,
                           const std::string& json,
                           std::function<void(std::optional<std::string> reply)> answer) {
    postFromPage(page, handler, json);
    if (answer) answer(std::nullopt);
  }
  // What a scripted page cannot do by itself, the flow reads to play its part: the HTML `page`
  // was loaded with and the scripts the SDK ran in it so far. Empty where an engine runs pages.
  virtual std::optional<std::string> loadedHTML(orvex::WebView& /*page*/) { return std::nullopt; }
  virtual std::vector<std::string> scriptsRun(orvex::WebView& /*page*/) { return {}; }
  // Told of every haptic feedback the SDK gives ("impact medium", "selection", "vibration
  // sound", …).
  virtual void observeHaptics(std::function<void(const std::string& feedback)> /*observer*/) {}

  // Told of every link the SDK opens: "external handler", "in-app browser" or "store sheet",
  // and the URL or product.
  virtual void observeOpenedLinks(
      std::function<void(const std::string& kind, const std::string& target)> observer) = 0;

  // The main loop: runs until `done` holds (true) or the time is up (false).
  virtual bool runUntil(const std::function<bool()>& done, double timeoutSeconds) = 0;
  virtual void runFor(double seconds) = 0;

  // Writes a PNG of the window; false where nothing is drawn.
  virtual bool screenshot(const std::filesystem::path&) { return false; }
};

// Writes the PNG `options` ask for, now that `subject` (the ad, the screen) is on screen, and
// tells where it is. "" when written or none was asked for, else why not.
inline std::string takeScreenshot(Screen& screen, const Timeline& timeline,
                                  const FlowOptions& options, orvex::View& subject) {
  if (options.screenshot.empty()) return "";
  if (!screen.screenshot(options.screenshot)) return "no screenshot on the " + screen.name();
  timeline.say("screenshot of the window written to " + options.screenshot);
  if (options.screenshotArea) {
    options.screenshotArea(subject.convertRect(subject.bounds(), *screen.window()));
  }
  return "";
}

}  // namespace demo
