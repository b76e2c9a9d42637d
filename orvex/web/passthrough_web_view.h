#pragma once
// A web view that can let touches fall through to the views beneath it (a carousel's pan, for
// instance, must reach the scroll view under its pages). Main thread only.

#include <memory>

#include "orvex/platform/web_view.h"

namespace orvex {

class PassthroughWebView {
 public:
  // Both switches start off. None when the platform makes no web view.
  static std::shared_ptr<PassthroughWebView> create(UserInterface& ui,
                                                    const WebViewConfiguration& configuration);
  // Takes over `webView`'s hit-test pass-through; none when `webView` is none.
  static std::shared_ptr<PassthroughWebView> wrap(std::shared_ptr<WebView> webView);

  const std::shared_ptr<WebView>& webView() const { return webView_; }

  // While set, every touch goes through to what lies beneath.
  bool shouldIgnoreTouches() const { return switches_->shouldIgnoreTouches; }
  void setShouldIgnoreTouches(bool ignore) { switches_->shouldIgnoreTouches = ignore; }
  // Lets the next hit test through once, then clears itself.
  bool ignoreNextTouch() const { return switches_->ignoreNextTouch; }
  void setIgnoreNextTouch(bool ignore) { switches_->ignoreNextTouch = ignore; }

 private:
  // Shared with the web view's pass-through closure, so that the view does not own this wrapper.
  struct Switches {
    bool shouldIgnoreTouches = false;
    bool ignoreNextTouch = false;
  };
  explicit PassthroughWebView(std::shared_ptr<WebView> webView);

  std::shared_ptr<WebView> webView_;
  std::shared_ptr<Switches> switches_ = std::make_shared<Switches>();
};

}  // namespace orvex
