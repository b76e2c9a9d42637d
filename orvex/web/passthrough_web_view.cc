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
  webView_->setHitTestPassThrough([switches = switches_] {
    if (!switches->shouldIgnoreTouches && !switches->ignoreNextTouch) return false;
    switches->ignoreNextTouch = false;
    return true;
  });
}

}  // namespace orvex
