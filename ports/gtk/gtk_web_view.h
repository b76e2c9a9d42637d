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
//
// Navigations follow the contract of NavigationAction. WebKitGTK's navigation decision carries
// type, URL and gesture but no frame: the port's own loads (loadHTMLString, loadURL, reload) are
// main-frame ones; a user's navigation is reported as the main frame's; a page's own gesture-less
// http(s), data: or blob: navigation is let through to its response, where the engine says which
// frame it loads, and the delegate is asked then (cancelling drops the response: nothing of it
// is shown). A link with a target comes as a new-window decision: the delegate decides it, then
// hears requestsNewWindow when it allowed it; window.open reaches requestsNewWindow alone. The
// engine's answer to a new window is always no. Pages open no window by themselves, have no
// context menu and download nothing (responses the engine cannot show are refused, and any
// download the session starts is cancelled).

#include <webkit/webkit.h>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/web_view.h"
#include "ports/gtk/gobject_ptr.h"
#include "ports/gtk/gtk_view.h"

namespace orvex::gtk {

// Which WebKit web processes the port's pages run in. Every WebKitWebView made on its own starts a
// process (35 to 100 MB and 300 to 600 ms, measured here), so ad pages share: a new ad page joins a
// group of up to `adPagesPerProcess` live ad pages as WebKit's related view of one of them (any
// one: no leader has to stay), and the next page starts a new group. A crash thus takes down at
// most that many ads. A group whose last page goes keeps its process warm for a while with a blank
// view of its own, so a feed that replaces its ads does not start a process each time; a group
// whose process died takes no new pages (its own pages reload into one new process together).
// Site pages get a process each, in a web context and network session apart from the ads'.
class WebProcessPool : public std::enable_shared_from_this<WebProcessPool> {
 public:
  struct Options {
    // Measured with banners, every process counted: a page costs its process under 1 MB, a
    // process about 35 MB more and 300 to 600 ms to start. At 8 a live banner costs about 5 MB
    // on average (4: 9 MB, 2: 17 MB) and a process starts once per 8 ads, while a crash takes
    // down a screenful of a feed, not all of it.
    std::size_t adPagesPerProcess = 8;
    // Ad pages are drawn without GPU compositing unless this is set: each composited page
    // costs its process about 18 MB of graphics state, a banner a fraction of that without.
    bool acceleratedAdPages = false;
    // How long an emptied group's process is kept for the next ads.
    double warmSeconds = 30;
  };
  explicit WebProcessPool(Options options) : options_(options) {}
  // May run on any thread (the last owner of a platform can be a network queue): what belongs
  // to WebKit is let go on the main context.
  ~WebProcessPool();
  WebProcessPool(const WebProcessPool&) = delete;
  WebProcessPool& operator=(const WebProcessPool&) = delete;

  struct Group;
  // A new engine view for a page of `content`, with its own content manager and settings; an
  // ad page is a member of `*group` until it leaves.
  WebKitWebView* makeEngineView(WebContentGroup content, WebKitUserContentManager* manager,
                                WebKitSettings* settings, std::shared_ptr<Group>* group);
  // `view` (still alive) goes; the last page of a group hands its process to a keeper.
  void leave(const std::shared_ptr<Group>& group, WebKitWebView* view);
  // No page joins the group any more: its process died, or it went cold.
  void retire(const std::shared_ptr<Group>& group);

 private:
  const Options options_;
  std::vector<std::shared_ptr<Group>> groups_;  // open to new ad pages, oldest first
};

// Cancels every download `session` starts: no page of the SDK's saves a file.
void refuseDownloads(WebKitNetworkSession* session);

class GtkWebView : public GtkView, public WebView {
 public:
  // Without a pool the view's page gets a process of its own.
  GtkWebView(std::shared_ptr<TaskQueue> mainQueue, const WebViewConfiguration& configuration,
             std::shared_ptr<WebProcessPool> pool = nullptr);
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
  gboolean decideResponse(WebKitResponsePolicyDecision* response);
  // Asks the delegate on the main queue and applies its answer to `decision` (always "no" when
  // `refuse`).
  void ask(GObjectPtr<WebKitPolicyDecision> decision, NavigationAction action, bool refuse = false);
  void requestWindow(NavigationAction action);
  void expectOwnLoad(NavigationType type, bool html);
  bool isOwnLoad(const NavigationAction& action);
  static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer self);
  static void onLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self);
  static void onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);
  void fail(WebError error);

  std::shared_ptr<TaskQueue> mainQueue_;
  std::shared_ptr<WebProcessPool> pool_;
  std::shared_ptr<WebProcessPool::Group> group_;  // the ad pages sharing this page's process
  GObjectPtr<WebKitUserContentManager> contentManager_;
  WebKitWebView* web_;  // the content widget, owned by this view's container
  std::weak_ptr<WebViewNavigationDelegate> delegate_;
  std::map<std::string, std::unique_ptr<Handler>> handlers_;
  std::set<std::shared_ptr<Decision>> openDecisions_;
  static constexpr std::size_t kMaxPendingNavigations = 32;
  // The load this view started last, until the engine asks about it.
  struct OwnLoad {
    NavigationType type;
    bool html;  // asked about as "about:blank"
  };
  std::optional<OwnLoad> ownLoad_;
  // A page's own navigations let through to their response, where their frame is known.
  std::deque<NavigationAction> deferred_;
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
