#include "orvex/web/user_content_control_agent.h"

#include <utility>

namespace orvex {

void UserContentControlAgent::didReceive(WebView& webView, const ScriptMessage& message) {
  if (auto d = delegate.lock()) d->didReceive(webView, message);
}

void UserContentControlAgentAsync::didReceive(WebView& webView, const ScriptMessage& message,
                                              Reply reply) {
  if (auto d = delegate.lock()) {
    d->didReceive(webView, message, std::move(reply));
  } else if (reply) {
    // Nobody will answer: settle the page's promise rather than leave it pending forever.
    reply(std::nullopt, std::nullopt);
  }
}

}  // namespace orvex
