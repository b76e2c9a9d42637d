#pragma once
// The desktop port's web view: a WebKitWebView inside an SDK view. Engine events are translated
// at this edge into the SDK's vocabulary (navigation types with the platform's numbering,
// cancellations and policy interruptions as WebError::cancelled(), a crashed web process as a
// failure) and delivered to the delegate on the main queue, never inside the call that caused
// them. Asynchronous engine calls hold the view weakly: an answer that arrives after the view is
// gone is dropped, and a policy decision still open when it goes is answered (ignored).
//
// What the engine lacks is built here: a URL load's time-out is a timer; the scroll switches
// are a user style sheet (overflow and scroll bars hidden); bounces have no desktop meaning.
// window.open and links with a target reach requestsNewWindow; no second view is ever made.

#include <webkit/webkit.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/web_view.h"
#include "ports/gtk/gobject_ptr.h"
#include "ports/gtk/gtk_view.h"

namespace orvex::gtk {

class GtkWebView : public GtkView, public WebView {
 public:
  GtkWebView(std::shared_ptr<TaskQueue> mainQueue, const WebViewConfiguration& configuration);
  ~GtkWebView() override;

  // ---- WebView ----
  void loadHTMLString(const std::string& html) override;
  void loadURL(const std::string& url, double timeoutSeconds) override;
  void stopLoading() override;
  void reload() override;
  bool isLoading() const override;
  void evaluateJavaScript(const std::string& script, ScriptResult completion = {}) override;
  void addUserScript(UserScript script) override;
  void removeAllUserScripts() override;
  void addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler,
                               const std::string& name) override;
  void addScriptMessageHandlerWithReply(std::shared_ptr<ScriptMessageHandlerWithReply> handler,
                                        const std::string& name) override;
  void removeScriptMessageHandler(const std::string& name) override;
  void setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate> delegate) override {
    delegate_ = std::move(delegate);
  }
  void setOpaque(bool opaque) override;
  void setScrollEnabled(bool enabled) override;
  void setBounces(bool) override {}
  void setShowsScrollIndicators(bool shows) override;
  void setAllowsBackForwardGestures(bool allows) override;

  // The engine's view, for tests and snapshots.
  WebKitWebView* engineView() const { return web_; }
  // Script messages refused because their body could not be read (too deep, too large).
  std::size_t refusedMessages() const { return refusedMessages_; }

 private:
  struct Handler;
  struct Decision;

  std::weak_ptr<GtkWebView> weakSelf();
  // Runs `task` on the main queue while this view lives.
  void post(std::function<void(GtkWebView&)> task);
  void applyStyleSheet();
  void cancelTimeout();

  static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType,
                                 gpointer self);
  static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer self);
  static void onLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self);
  static void onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);
  void fail(WebError error);

  std::shared_ptr<TaskQueue> mainQueue_;
  GObjectPtr<WebKitUserContentManager> contentManager_;
  WebKitWebView* web_;  // the content widget, owned by this view's container
  std::weak_ptr<WebViewNavigationDelegate> delegate_;
  std::map<std::string, std::unique_ptr<Handler>> handlers_;
  std::set<std::shared_ptr<Decision>> openDecisions_;
  std::vector<SignalConnection> signals_;
  GObjectPtr<GCancellable> cancellable_;
  guint timeoutSource_ = 0;
  bool timedOut_ = false;
  bool failed_ = false;  // the current load failed; its "finished" is no success
  bool scrollEnabled_ = true;
  bool showsScrollIndicators_ = true;
  std::size_t refusedMessages_ = 0;
};

}  // namespace orvex::gtk
