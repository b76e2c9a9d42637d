#pragma once
// A web view: loads HTML or a URL, runs scripts in the page, injects user scripts, receives the
// page's script messages and asks before each navigation. Engine-neutral: the headless port
// scripts it, the desktop port drives a real engine. Main thread only; every callback arrives on
// the main queue.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "orvex/platform/value.h"
#include "orvex/platform/view.h"

namespace orvex {

enum class UserScriptInjectionTime { atDocumentStart, atDocumentEnd };

struct UserScript {
  std::string source;
  UserScriptInjectionTime injectionTime = UserScriptInjectionTime::atDocumentEnd;
  bool forMainFrameOnly = true;
};

// Which pages may share an engine's processes and network state. Ads share with ads (a port may
// run several ad pages in one process); a site (quest pages) never shares with ads, so a creative
// neither sees a site's cookies nor takes its page down when it crashes.
enum class WebContentGroup { ads, site };

struct WebViewConfiguration {
  bool allowsInlineMediaPlayback = false;
  bool mediaPlaybackRequiresUserAction = true;
  bool allowsPictureInPicture = true;
  WebContentGroup group = WebContentGroup::ads;
};

// What the page posted with window.webkit.messageHandlers.<name>.postMessage(body).
struct ScriptMessage {
  std::string name;
  Value body;  // any JSON-like shape the page chose; untrusted
};

// The platform's navigation types, with its numbering: only a link activation is a click, never a
// form post or a reload.
enum class NavigationType {
  linkActivated = 0,
  formSubmitted = 1,
  backForward = 2,
  reload = 3,
  formResubmitted = 4,
  other = -1,
};

// Where a navigation would show its document.
enum class NavigationTarget {
  mainFrame,  // the page itself
  subFrame,   // an iframe of the page
  newWindow,  // a window of its own (a link with a target, window.open); none is ever opened
};

// What every port tells about a navigation, for every frame alike:
// - `decidePolicy` is asked once for each navigation before its document is shown: the SDK's own
//   loads (loadHTMLString: type other, main frame, no gesture, "about:blank"; loadURL: type other,
//   main frame, no gesture; reload: type reload), a page's links, forms, scripts and redirects, and
//   every sub-frame load (type other, sub-frame, no gesture).
// - A link or form with a target that asks for a new window is first a decision (its own type,
//   target newWindow), as on the phone platform; only when that is allowed does
//   `requestsNewWindow` follow with the same action. window.open reaches `requestsNewWindow` alone
//   (type other, target newWindow). Either way no second window is ever made.
// - `userGesture` is set when a user's input started the navigation: a tap, or a script the host
//   ran (evaluateJavaScript) and what that script starts within the engine's gesture window. A
//   page's own timer or load handler carries none. Engines block window.open without a gesture,
//   so it never reaches the SDK.
// - `url` is the URL as the engine reads it (normalized: "\" is "/" in http(s) paths, the host in
//   lower case, tabs and newlines gone).
// WebKitGTK names the frame of a page's own gesture-less navigation only with its response: the
// desktop port asks then, before anything of it is shown. It names no frame for a user's
// navigation; the port reports those as main-frame navigations.
struct NavigationAction {
  NavigationType type = NavigationType::other;
  std::optional<std::string> url;  // absent when the request carries none
  NavigationTarget target = NavigationTarget::mainFrame;
  bool userGesture = false;
};

enum class NavigationPolicy { allow, cancel };

// A failed load or script. Ports translate their engine's errors into this vocabulary at their
// edge, so formats never see an engine's own domains: a load that was stopped, replaced by
// another or interrupted by a policy decision reads as the URL domain's cancellation (-999).
struct WebError {
  static constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
  static constexpr int kCancelled = -999;
  static constexpr int kTimedOut = -1001;
  // The page's process ended (crashed or was killed); the view shows nothing until a new load.
  // Where ad pages share a process, every page of that process hears it.
  static constexpr const char* kWebKitErrorDomain = "WKErrorDomain";
  static constexpr int kWebContentProcessTerminated = 2;

  std::string domain;
  int code = 0;
  std::string description;

  static WebError cancelled() { return {kURLErrorDomain, kCancelled, "cancelled"}; }
  static WebError timedOut() { return {kURLErrorDomain, kTimedOut, "The request timed out."}; }
  bool isCancelled() const { return code == kCancelled && domain == kURLErrorDomain; }
};

// Optional operations, empty by default (the platform's delegate protocols).
class ORVEX_API WebViewNavigationDelegate {
 public:
  virtual ~WebViewNavigationDelegate() = default;
  // Called before each navigation (see NavigationAction); `decide` must be called exactly once
  // (it may be later). Answering a new-window decision only says whether `requestsNewWindow`
  // follows.
  virtual void decidePolicy(WebView& /*webView*/, const NavigationAction& /*action*/,
                            std::function<void(NavigationPolicy)> decide) {
    decide(NavigationPolicy::allow);
  }
  virtual void didFinish(WebView& /*webView*/) {}
  virtual void didFail(WebView& /*webView*/, const WebError& /*error*/) {}
  // A request for a new window: window.open, or a link with a target whose decision was allowed.
  // No new web view is ever created; the page stays where it is.
  virtual void requestsNewWindow(WebView& /*webView*/, const NavigationAction& /*action*/) {}
};

class ORVEX_API ScriptMessageHandler {
 public:
  virtual ~ScriptMessageHandler() = default;
  virtual void didReceive(WebView& webView, const ScriptMessage& message) = 0;
};

class ORVEX_API ScriptMessageHandlerWithReply {
 public:
  virtual ~ScriptMessageHandlerWithReply() = default;
  // `reply` hands a result or an error text back to the page; call it once.
  using Reply = std::function<void(std::optional<Value> result, std::optional<std::string> error)>;
  virtual void didReceive(WebView& webView, const ScriptMessage& message, Reply reply) = 0;
};

class ORVEX_API WebView : public virtual View {
 public:
  // Asks the navigation delegate (type other, main frame, "about:blank"), then loads a document
  // with no base URL: as on the phone platform, a delegate that cancels it keeps the old page.
  virtual void loadHTMLString(const std::string& html) = 0;
  // Asks the navigation delegate (type other), then loads. A load still running after
  // `timeoutSeconds` (> 0) is stopped and fails with WebError::timedOut().
  virtual void loadURL(const std::string& url, double timeoutSeconds) = 0;
  virtual void stopLoading() = 0;
  virtual void reload() = 0;
  virtual bool isLoading() const = 0;

  // Runs `script` in the page; the completion (optional) receives the result converted to a
  // JSON-like value, or an error, on the main queue. A completion whose web view is released
  // before it runs is dropped, never called.
  using ScriptResult = std::function<void(std::optional<Value> result, std::optional<WebError>)>;
  virtual void evaluateJavaScript(const std::string& script, ScriptResult completion = {}) = 0;

  virtual void addUserScript(UserScript script) = 0;
  virtual void removeAllUserScripts() = 0;
  // The web view holds handlers strongly, as the platform does: register forwarding agents.
  virtual void addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler,
                                       const std::string& name) = 0;
  virtual void addScriptMessageHandlerWithReply(
      std::shared_ptr<ScriptMessageHandlerWithReply> handler, const std::string& name) = 0;
  virtual void removeScriptMessageHandler(const std::string& name) = 0;

  virtual void setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate> delegate) = 0;

  // Presentation switches of the platform's web view. Ports without a switch of their own apply
  // it to the page (a user style sheet that hides overflow or scroll bars).
  virtual void setOpaque(bool opaque) = 0;
  virtual void setScrollEnabled(bool enabled) = 0;
  virtual void setBounces(bool bounces) = 0;
  virtual void setShowsScrollIndicators(bool shows) = 0;
  virtual void setAllowsBackForwardGestures(bool allows) = 0;
};

}  // namespace orvex
