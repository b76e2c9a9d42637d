#pragma once
// The headless port's web view: no engine, a scripted page. The SDK's side behaves as on a real
// platform (loads are asynchronous, every delegate call and completion arrives on the main
// queue); the host or a test plays the page: it finishes or fails loads, activates links, asks
// for new windows, posts script messages and answers scripts. Main thread only.
//
// What the page does on its own:
// - A load leaves the view loading; unless automatic finishing is off, the page finishes on the
//   next main-queue turn. Every load first asks the navigation delegate, as an engine does
//   (loadHTMLString: type other, "about:blank"; loadURL: type other; reload: type reload; all in
//   the main frame without a gesture), and loads only when allowed.
// - URLs reach the delegate as an engine reads them (engineReadURL: "\" as "/" in http(s), the
//   host in lower case, tabs and newlines gone).
// - stopLoading on a loading page reports didFail with WebError::cancelled().
// - A script's completion runs on the main queue, and not at all once the view is gone.
// - A URL load still running after its time-out is stopped and fails with WebError::timedOut().
// - Scripts are answered by the host's responder, by default defaultScriptResponse():
//     * a script naming document.documentElement.scrollWidth or scrollHeight answers
//       {"width": w, "height": h} of the page's content size (the frame's size unless set);
//     * "videoSrc()" answers the src of the first <source> of the first <video> in the loaded
//       HTML, or null when there is none;
//     * "isLoadComplete()" (the popup's probe) answers true: no image is ever pending here;
//     * anything else answers nothing (the page's undefined).

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/web_view.h"
#include "ports/headless/headless_view.h"

namespace orvex::headless {

struct HeadlessWebViewOptions {
  // Loads finish by themselves on the next main-queue turn; off, the host calls finishLoad().
  bool finishLoadsAutomatically = true;
};

class ORVEX_API HeadlessWebView : public HeadlessView, public WebView {
 public:
  using ScriptResponder = std::function<std::optional<Value>(const std::string& script)>;

  struct Load {
    enum class Kind { html, url } kind = Kind::html;
    std::string content;  // the HTML text or the URL
    double timeoutSeconds = 0;
  };
  struct NavigationDecision {
    NavigationAction action;
    NavigationPolicy policy = NavigationPolicy::allow;
  };
  struct ScriptReply {
    std::string name;
    std::optional<Value> result;
    std::optional<std::string> error;
  };
  struct Presentation {
    bool opaque = true;
    bool scrollEnabled = true;
    bool bounces = true;
    bool showsScrollIndicators = true;
    bool allowsBackForwardGestures = false;
  };

  // Message bodies nested deeper than this are refused, as an engine's serializer would.
  static constexpr int kMaxMessageDepth = 256;

  HeadlessWebView(std::shared_ptr<TaskQueue> mainQueue, WebViewConfiguration configuration,
                  HeadlessWebViewOptions options = {});
  ~HeadlessWebView() override;

  // ---- WebView ----
  void loadHTMLString(const std::string& html) override;
  void loadURL(const std::string& url, double timeoutSeconds) override;
  void stopLoading() override;
  void reload() override;
  bool isLoading() const override { return loading_; }
  void evaluateJavaScript(const std::string& script, ScriptResult completion = {}) override;
  void addUserScript(UserScript script) override;
  void removeAllUserScripts() override;
  void addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler,
                               const std::string& name) override;
  void addScriptMessageHandlerWithReply(std::shared_ptr<ScriptMessageHandlerWithReply> handler,
                                        const std::string& name) override;
  void removeScriptMessageHandler(const std::string& name) override;
  void setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate> delegate) override;
  void setOpaque(bool opaque) override { presentation_.opaque = opaque; }
  void setScrollEnabled(bool enabled) override { presentation_.scrollEnabled = enabled; }
  void setBounces(bool bounces) override { presentation_.bounces = bounces; }
  void setShowsScrollIndicators(bool shows) override {
    presentation_.showsScrollIndicators = shows;
  }
  void setAllowsBackForwardGestures(bool allows) override {
    presentation_.allowsBackForwardGestures = allows;
  }

  // ---- the page, played by the host ----
  void setFinishLoadsAutomatically(bool automatic) {
    options_.finishLoadsAutomatically = automatic;
  }
  // End the current load; false when nothing is loading. The delegate hears it on the main queue.
  bool finishLoad();
  bool failLoad(WebError error);
  // A user's tap on a link of the page: link activated, main frame, with a gesture.
  void activateLink(const std::string& url);
  // A navigation of another type the user started in the page (a form post, a reload, back or
  // forward), decided the same way.
  void navigate(NavigationType type, const std::string& url);
  // Any navigation, as the engine would report it: a page's script (no gesture), a sub-frame's
  // load, a link with a target (newWindow: decided, then requestsNewWindow when allowed; blocked
  // without a gesture, as engines do). An allowed main-frame navigation loads its URL; the
  // others change nothing the SDK sees.
  void navigate(NavigationAction action);
  // window.open: requestsNewWindow (type other, new window) and nothing else. Engines block it
  // without a gesture, so a page's own timer (userGesture false) reaches nobody.
  void requestNewWindow(std::optional<std::string> url, bool userGesture = true);
  // What the page's promise resolves with, for a handler with reply.
  using ReplyObserver = std::function<void(const ScriptReply& reply)>;
  // window.webkit.messageHandlers.<name>.postMessage(body), delivered on the main queue. False
  // (nothing delivered) when no handler has that name or the body is nested too deeply. The page
  // awaiting the answer of a handler with reply hears it through `onReply`.
  bool postMessage(const std::string& name, Value body, ReplyObserver onReply = {});
  // The same with the body as JSON text; text that does not decode is refused.
  bool postMessageJSON(const std::string& name, std::string_view json, ReplyObserver onReply = {});
  // Replaces the default answers; defaultScriptResponse() stays available to fall back on.
  void setScriptResponder(ScriptResponder responder) { responder_ = std::move(responder); }
  std::optional<Value> defaultScriptResponse(const std::string& script) const;
  // The page's scroll size; the frame's size while unset.
  void setContentSize(std::optional<Size> size) { contentSize_ = size; }

  // ---- what the SDK did ----
  const WebViewConfiguration& configuration() const { return configuration_; }
  const std::vector<Load>& loads() const { return loads_; }
  // The HTML of the current document, when it was loaded from a string.
  std::optional<std::string> loadedHTML() const;
  std::optional<std::string> loadedURL() const;
  const std::vector<UserScript>& userScripts() const { return userScripts_; }
  const std::vector<std::string>& evaluatedScripts() const { return evaluatedScripts_; }
  const std::vector<NavigationDecision>& navigationDecisions() const { return decisions_; }
  const std::vector<ScriptReply>& replies() const { return replies_; }
  bool hasMessageHandler(const std::string& name) const;
  std::size_t finishCount() const { return finishCount_; }
  const Presentation& presentation() const { return presentation_; }

 private:
  struct Handler {
    std::string name;
    std::shared_ptr<ScriptMessageHandler> plain;
    std::shared_ptr<ScriptMessageHandlerWithReply> withReply;
  };
  std::shared_ptr<HeadlessWebView> self();
  std::weak_ptr<HeadlessWebView> weakSelf();
  void startLoad(Load load);
  void askThenLoad(Load load, NavigationType type);
  void post(std::function<void(HeadlessWebView&)> task);
  const Handler* handlerNamed(const std::string& name) const;
  void deliver(const std::string& name, const Value& body, ReplyObserver onReply);
  void recordReply(const std::string& name, std::optional<Value> result,
                   std::optional<std::string> error);

  std::shared_ptr<TaskQueue> mainQueue_;
  const WebViewConfiguration configuration_;
  HeadlessWebViewOptions options_;
  std::weak_ptr<WebViewNavigationDelegate> delegate_;
  std::vector<Handler> handlers_;
  std::vector<Load> loads_;
  std::optional<Load> current_;
  bool loading_ = false;
  std::size_t generation_ = 0;
  std::size_t finishCount_ = 0;
  std::vector<UserScript> userScripts_;
  std::vector<std::string> evaluatedScripts_;
  std::vector<NavigationDecision> decisions_;
  std::vector<ScriptReply> replies_;
  ScriptResponder responder_;
  std::optional<Size> contentSize_;
  Presentation presentation_;
};

// The port's web-view factory; remembers what it made so that hosts and tests can play the pages
// of web views the SDK created.
class ORVEX_API HeadlessWebViews {
 public:
  HeadlessWebViews(std::shared_ptr<Dispatcher> dispatcher, HeadlessWebViewOptions options = {});

  std::shared_ptr<HeadlessWebView> make(const WebViewConfiguration& configuration);
  // Applies to web views made from now on.
  void setFinishLoadsAutomatically(bool automatic) {
    options_.finishLoadsAutomatically = automatic;
  }
  // The web views still alive, oldest first.
  std::vector<std::shared_ptr<HeadlessWebView>> alive() const;
  std::shared_ptr<HeadlessWebView> last() const;

 private:
  std::shared_ptr<Dispatcher> dispatcher_;
  HeadlessWebViewOptions options_;
  std::vector<std::weak_ptr<HeadlessWebView>> made_;
};

// Longest chain of nested arrays and dictionaries in `value` is deeper than `maxDepth`
// (iterative, so any input is safe to ask about).
bool nestedDeeperThan(const Value& value, int maxDepth);

}  // namespace orvex::headless
