#pragma once
// Forwarding agents for script messages. A web view holds its message handlers strongly; screens
// register one of these instead of themselves, so the page never keeps its screen alive.
// Messages that arrive after the delegate is gone are dropped (a message awaiting a reply gets an
// empty one). Main thread only.

#include <memory>

#include "orvex/platform/web_view.h"

namespace orvex {

class UserContentControlAgent : public ScriptMessageHandler {
 public:
  std::weak_ptr<ScriptMessageHandler> delegate;

  void didReceive(WebView& webView, const ScriptMessage& message) override;
};

class UserContentControlAgentAsync : public ScriptMessageHandlerWithReply {
 public:
  std::weak_ptr<ScriptMessageHandlerWithReply> delegate;

  void didReceive(WebView& webView, const ScriptMessage& message, Reply reply) override;
};

}  // namespace orvex
