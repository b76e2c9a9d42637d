#include "orvex/web/passthrough_web_view.h"

#include <utility>

namespace orvex {

std::shared_ptr<PassthroughWebView> PassthroughWebView::create(
    UserInterface& ui, const WebViewConfiguration& configuration) {
  return wrap(ui.makeWebView(configuration));
}

std::shared_ptr<PassthroughWebView> PassthroughWebView::wrap(std::shared_ptr<WebView> webView) {
  if (!webView) return nullptr;
  return std::shared_ptr<PassthroughWebView>(new PassthroughWebView(std::move(webView)));
}

PassthroughWebView::PassthroughWebView(std::shared_ptr<WebView> webView)
    : webView_(std::move(webView)) {
  webView_->setHitTestPassThrough([switches = switches_](HitTestEvent event) {
    if (!switches->shouldIgnoreTouches && !switches->ignoreNextTouch) return false;
    // Pointer motion passes through too, but only a press uses up the one-time switch.
    if (event == HitTestEvent::press) switches->ignoreNextTouch = false;
    return true;
  });
}

}  // namespace orvex
