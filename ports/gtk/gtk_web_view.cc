#include "ports/gtk/gtk_web_view.h"

#include <algorithm>
#include <utility>

#include "orvex/core/json.h"

namespace orvex::gtk {

void refuseDownloads(WebKitNetworkSession* session) {
  // Connected for the session's life: sessions live as long as the process.
  g_signal_connect(session, "download-started",
                   G_CALLBACK(+[](WebKitNetworkSession*, WebKitDownload* download, gpointer) {
                     webkit_download_cancel(download);
                   }),
                   nullptr);
}

namespace {

// Bodies are JSON-like values; deeper nesting is refused, as the headless port does.
constexpr int kMaxMessageDepth = 256;
// A page may post anything; bodies larger than this are dropped rather than copied around.
constexpr std::size_t kMaxMessageBytes = 16u << 20;

// WebKit's own codes for script results, translated to the platform's.
constexpr int kScriptExceptionOccurred = 4;
constexpr int kScriptResultTypeUnsupported = 5;

// Each group's own web context and network session, for the life of the program. Neither keeps
// anything on disk; contexts of their own keep a host's web process extensions, URI schemes and
// cache model (its own WebKit pages use the default context) out of the SDK's pages. All of them
// share WebKit's one network process.
struct ContentGroup {
  WebKitWebContext* context;
  WebKitNetworkSession* session;
};

ContentGroup makeContentGroup() {
  ContentGroup group{webkit_web_context_new(), webkit_network_session_new_ephemeral()};
  refuseDownloads(group.session);  // no page of the SDK's saves a file
  return group;
}

const ContentGroup& contentGroup(WebContentGroup group) {
  static const ContentGroup ads = makeContentGroup();
  static const ContentGroup site = makeContentGroup();
  return group == WebContentGroup::site ? site : ads;
}

NavigationType navigationType(WebKitNavigationType type) {
  switch (type) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
      return NavigationType::linkActivated;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
      return NavigationType::formSubmitted;
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
      return NavigationType::backForward;
    case WEBKIT_NAVIGATION_TYPE_RELOAD:
      return NavigationType::reload;
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
      return NavigationType::formResubmitted;
    default:
      return NavigationType::other;
  }
}

NavigationAction actionOf(WebKitNavigationAction* navigation, NavigationTarget target) {
  NavigationAction action;
  action.type = navigationType(webkit_navigation_action_get_navigation_type(navigation));
  WebKitURIRequest* request = webkit_navigation_action_get_request(navigation);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  if (uri && *uri) action.url = uri;
  action.target = target;
  action.userGesture = webkit_navigation_action_is_user_gesture(navigation);
  return action;
}

// Navigations that reach a response decision, where the engine tells their frame.
bool answeredByResponse(const std::string& url) {
  return url.starts_with("http:") || url.starts_with("https:") || url.starts_with("data:") ||
         url.starts_with("blob:");
}

std::string withoutFragment(std::string_view url) {
  return std::string(url.substr(0, url.find('#')));
}

// The engine's load errors in the URL vocabulary the formats know.
WebError translate(const GError* error) {
  const std::string message = error && error->message ? error->message : "";
  if (!error) return WebError{WebError::kURLErrorDomain, -1, message};
  if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
      g_error_matches(error, WEBKIT_POLICY_ERROR,
                      WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
      g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
    return WebError::cancelled();
  }
  int code = -1;  // unknown
  if (error->domain == G_RESOLVER_ERROR) {
    code = -1003;  // cannot find host
  } else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
    code = WebError::kTimedOut;
  } else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED) ||
             g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_TRANSPORT)) {
    code = -1004;  // cannot connect to host
  } else if (error->domain == G_TLS_ERROR) {
    code = -1202;  // server certificate untrusted
  } else if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL)) {
    code = -1002;  // unsupported URL
  } else if (g_error_matches(error, WEBKIT_NETWORK_ERROR,
                             WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST)) {
    code = -1100;  // file does not exist
  }
  return WebError{WebError::kURLErrorDomain, code, message};
}

// A script value as the SDK's Value: nothing for undefined, an error for what JSON cannot hold.
void convertResult(JSCValue* value, std::optional<Value>* result, std::optional<WebError>* error) {
  if (!value || jsc_value_is_undefined(value)) return;
  GCharPtr json(jsc_value_to_json(value, 0));
  if (!json) {
    *error = WebError{WebError::kWebKitErrorDomain, kScriptResultTypeUnsupported,
                      "JavaScript execution returned a result of an unsupported type"};
    return;
  }
  *result = json::parse(json.get(), nullptr, kMaxMessageDepth);
  if (!*result) {
    *error = WebError{WebError::kWebKitErrorDomain, kScriptResultTypeUnsupported,
                      "JavaScript execution returned a result nested too deeply"};
  }
}

// A message body: none when it cannot be read as a bounded JSON-like value.
std::optional<Value> bodyOf(JSCValue* value) {
  if (!value || jsc_value_is_undefined(value)) return Value();
  GCharPtr json(jsc_value_to_json(value, 0));  // null past the engine's own nesting limit
  if (!json) return std::nullopt;
  const std::string_view text(json.get());
  if (text.size() > kMaxMessageBytes) return std::nullopt;
  return json::parse(text, nullptr, kMaxMessageDepth);
}

// The page's promise of a with-reply message: settled exactly once, with nothing if the SDK
// drops the reply, so the page never waits forever.
struct PendingReply {
  WebKitScriptMessageReply* reply;
  GObjectPtr<JSCContext> context;
  bool settled = false;

  PendingReply(WebKitScriptMessageReply* r, JSCContext* c)
      : reply(webkit_script_message_reply_ref(r)), context(GObjectPtr<JSCContext>::retain(c)) {}
  ~PendingReply() {
    settle(std::nullopt, std::nullopt);
    webkit_script_message_reply_unref(reply);
  }
  void settle(const std::optional<Value>& result, const std::optional<std::string>& error) {
    if (std::exchange(settled, true)) return;
    if (error) {
      webkit_script_message_reply_return_error_message(reply, error->c_str());
      return;
    }
    JSCValue* value = result ? jsc_value_new_from_json(context.get(), json::write(*result).c_str())
                             : jsc_value_new_undefined(context.get());
    if (!value) value = jsc_value_new_undefined(context.get());
    webkit_script_message_reply_return_value(reply, value);
    g_object_unref(value);
  }
};

}  // namespace

// ---- web processes ----

struct WebProcessPool::Group {
  std::vector<WebKitWebView*> pages;  // live, oldest first
  GObjectPtr<WebKitWebView> keeper;   // a blank view holding the process while no page does
  guint warmTimer = 0;

  void forgetKeeper() {
    if (warmTimer) g_source_remove(std::exchange(warmTimer, 0));
    keeper.reset();
  }
};

WebProcessPool::~WebProcessPool() {
  auto* keepers = new std::vector<GObjectPtr<WebKitWebView>>();
  for (auto& group : groups_) {
    if (group->warmTimer) g_source_remove(std::exchange(group->warmTimer, 0));
    if (group->keeper) keepers->push_back(std::move(group->keeper));
  }
  g_idle_add(
      [](gpointer data) -> gboolean {
        delete static_cast<std::vector<GObjectPtr<WebKitWebView>>*>(data);
        return G_SOURCE_REMOVE;
      },
      keepers);
}

WebKitWebView* WebProcessPool::makeEngineView(WebContentGroup content,
                                              WebKitUserContentManager* manager,
                                              WebKitSettings* settings,
                                              std::shared_ptr<Group>* joined) {
  const ContentGroup& where = contentGroup(content);
  if (content == WebContentGroup::site) {
    return WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", where.context,
                                        "network-session", where.session, "user-content-manager",
                                        manager, "settings", settings, nullptr));
  }
  if (!options_.acceleratedAdPages) {
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  }
  auto it = std::find_if(groups_.begin(), groups_.end(), [&](const auto& g) {
    return g->pages.size() < std::max<std::size_t>(options_.adPagesPerProcess, 1);
  });
  std::shared_ptr<Group> group;
  WebKitWebView* related = nullptr;
  if (it != groups_.end()) {
    group = *it;
    related = group->pages.empty() ? group->keeper.get() : group->pages.back();
  }
  WebKitWebView* view;
  if (related) {
    // The related view only picks the process (and so the context and session).
    view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related,
                                        "user-content-manager", manager, "settings", settings,
                                        nullptr));
  } else {
    view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", where.context,
                                        "network-session", where.session, "user-content-manager",
                                        manager, "settings", settings, nullptr));
    if (!group) {
      group = std::make_shared<Group>();
      groups_.push_back(group);
    }
  }
  // The new page holds the process from its construction on; the keeper is no longer needed.
  group->forgetKeeper();
  group->pages.push_back(view);
  *joined = group;
  return view;
}

void WebProcessPool::leave(const std::shared_ptr<Group>& group, WebKitWebView* view) {
  std::erase(group->pages, view);
  if (!group->pages.empty() || std::find(groups_.begin(), groups_.end(), group) == groups_.end()) {
    return;
  }
  if (options_.warmSeconds <= 0) return retire(group);
  // Made while `view` still lives, so the process never runs out of pages; it loads nothing.
  group->keeper = GObjectPtr<WebKitWebView>::retain(
      WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", view, "settings",
                                   webkit_web_view_get_settings(view), nullptr)));
  struct Warm {
    std::weak_ptr<WebProcessPool> pool;
    std::weak_ptr<Group> group;
  };
  group->warmTimer = g_timeout_add_full(
      G_PRIORITY_DEFAULT, static_cast<guint>(std::min(options_.warmSeconds * 1000.0, 1e9)),
      [](gpointer data) -> gboolean {
        auto* warm = static_cast<Warm*>(data);
        auto pool = warm->pool.lock();
        auto group = warm->group.lock();
        if (pool && group) {
          group->warmTimer = 0;
          pool->retire(group);
        }
        return G_SOURCE_REMOVE;
      },
      new Warm{weak_from_this(), group}, [](gpointer data) { delete static_cast<Warm*>(data); });
}

void WebProcessPool::retire(const std::shared_ptr<Group>& group) {
  group->forgetKeeper();
  std::erase(groups_, group);
}

struct GtkWebView::Handler {
  GtkWebView* view;
  std::string name;
  std::shared_ptr<ScriptMessageHandler> plain;
  std::shared_ptr<ScriptMessageHandlerWithReply> withReply;
  SignalConnection connection;
};

struct GtkWebView::Decision {
  GObjectPtr<WebKitPolicyDecision> decision;
  bool made = false;
  bool refuse = false;  // a response the engine would only download: never used
  void make(NavigationPolicy policy) {
    if (std::exchange(made, true)) return;
    if (policy == NavigationPolicy::allow && !refuse) {
      webkit_policy_decision_use(decision.get());
    } else {
      webkit_policy_decision_ignore(decision.get());
    }
  }
};

GtkWebView::GtkWebView(std::shared_ptr<TaskQueue> mainQueue,
                       const WebViewConfiguration& configuration,
                       std::shared_ptr<WebProcessPool> pool)
    : mainQueue_(std::move(mainQueue)),
      pool_(pool ? std::move(pool)
                 : std::make_shared<WebProcessPool>(WebProcessPool::Options{.warmSeconds = 0})),
      contentManager_(
          GObjectPtr<WebKitUserContentManager>::adopt(webkit_user_content_manager_new())),
      cancellable_(GObjectPtr<GCancellable>::adopt(g_cancellable_new())) {
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_media_playback_requires_user_gesture(
      settings, configuration.mediaPlaybackRequiresUserAction);
  // A page opens no window by itself: window.open needs a user gesture, as the engine's default
  // and the phone platform's have it.
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  web_ = pool_->makeEngineView(configuration.group, contentManager_.get(), settings, &group_);
  g_object_unref(settings);
  setContent(GTK_WIDGET(web_));
  signals_.push_back(connectSignal(web_, "decide-policy", &GtkWebView::onDecidePolicy, this));
  signals_.push_back(connectSignal(web_, "create", &GtkWebView::onCreate, this));
  // No context menu: "Open Link in New Window" and "Download Linked File" would be clicks and
  // downloads the SDK never sees.
  signals_.push_back(connectSignal(
      web_, "context-menu",
      +[](WebKitWebView*, WebKitContextMenu*, WebKitHitTestResult*, gpointer) -> gboolean {
        return TRUE;
      },
      this));
  signals_.push_back(connectSignal(web_, "load-changed", &GtkWebView::onLoadChanged, this));
  signals_.push_back(connectSignal(web_, "load-failed", &GtkWebView::onLoadFailed, this));
  signals_.push_back(
      connectSignal(web_, "web-process-terminated", &GtkWebView::onProcessTerminated, this));
}

GtkWebView::~GtkWebView() {
  signals_.clear();
  while (!handlers_.empty()) removeScriptMessageHandler(handlers_.begin()->first);
  g_cancellable_cancel(cancellable_.get());
  cancelTimeout();
  for (auto& d : openDecisions_) d->make(NavigationPolicy::cancel);
  openDecisions_.clear();
  webkit_web_view_stop_loading(web_);
  if (group_) pool_->leave(group_, web_);
}

std::weak_ptr<GtkWebView> GtkWebView::weakSelf() {
  return std::dynamic_pointer_cast<GtkWebView>(View::weak_from_this().lock());
}

void GtkWebView::post(std::function<void(GtkWebView&)> task) {
  if (!mainQueue_) return;
  mainQueue_->post([weak = weakSelf(), task = std::move(task)] {
    if (auto view = weak.lock()) task(*view);
  });
}

// ---- loading ----

void GtkWebView::cancelTimeout() {
  if (timeoutSource_) g_source_remove(std::exchange(timeoutSource_, 0));
}

void GtkWebView::expectOwnLoad(NavigationType type, bool html) {
  // Only the latest: a load replaced before the engine asked about it is asked about, if at all,
  // as a page's own navigation of the main frame, which it is.
  ownLoad_ = OwnLoad{type, html};
}

void GtkWebView::loadHTMLString(const std::string& html) {
  cancelTimeout();
  timedOut_ = false;
  expectOwnLoad(NavigationType::other, /*html=*/true);
  webkit_web_view_load_html(web_, html.c_str(), nullptr);
}

void GtkWebView::loadURL(const std::string& url, double timeoutSeconds) {
  cancelTimeout();
  timedOut_ = false;
  expectOwnLoad(NavigationType::other, /*html=*/false);
  webkit_web_view_load_uri(web_, url.c_str());
  if (timeoutSeconds <= 0) return;
  const auto ms = static_cast<guint>(std::min(timeoutSeconds * 1000.0, 1e9));
  timeoutSource_ = g_timeout_add(
      ms,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<GtkWebView*>(data);
        self->timeoutSource_ = 0;
        if (webkit_web_view_is_loading(self->web_)) {
          // The engine reports the stop as a cancellation; it is read as the time-out.
          self->timedOut_ = true;
          webkit_web_view_stop_loading(self->web_);
        }
        return G_SOURCE_REMOVE;
      },
      this);
}

void GtkWebView::stopLoading() {
  webkit_web_view_stop_loading(web_);
}

void GtkWebView::reload() {
  expectOwnLoad(NavigationType::reload, /*html=*/false);
  webkit_web_view_reload(web_);
}

bool GtkWebView::isLoading() const {
  return webkit_web_view_is_loading(web_);
}

void GtkWebView::fail(WebError error) {
  failed_ = true;
  post([error = std::move(error)](GtkWebView& view) {
    if (auto d = view.delegate_.lock()) d->didFail(view, error);
  });
}

void GtkWebView::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
  auto* self = static_cast<GtkWebView*>(data);
  if (event == WEBKIT_LOAD_STARTED) {
    self->failed_ = false;
  } else if (event == WEBKIT_LOAD_FINISHED) {
    self->cancelTimeout();
    if (self->failed_) return;  // "finished" follows every failure too
    self->post([](GtkWebView& view) {
      if (auto d = view.delegate_.lock()) d->didFinish(view);
    });
  }
}

gboolean GtkWebView::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error,
                                  gpointer data) {
  auto* self = static_cast<GtkWebView*>(data);
  self->cancelTimeout();
  WebError translated = translate(error);
  if (std::exchange(self->timedOut_, false) && translated.isCancelled()) {
    translated = WebError::timedOut();
  }
  self->fail(std::move(translated));
  return TRUE;  // no engine error page: the SDK decides what the user sees
}

void GtkWebView::onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                     gpointer data) {
  auto* self = static_cast<GtkWebView*>(data);
  self->cancelTimeout();
  // Every page of the process hears this; the first retires the group.
  if (self->group_) self->pool_->retire(self->group_);
  self->fail(WebError{WebError::kWebKitErrorDomain, WebError::kWebContentProcessTerminated,
                      reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
                          ? "web content process exceeded its memory limit"
                          : "web content process terminated"});
}

// ---- navigation decisions ----

void GtkWebView::ask(GObjectPtr<WebKitPolicyDecision> decision, NavigationAction action,
                     bool refuse) {
  auto open = std::make_shared<Decision>();
  open->decision = std::move(decision);
  open->refuse = refuse;
  openDecisions_.insert(open);
  post([open, action = std::move(action)](GtkWebView& view) {
    auto decide = [weak = view.weakSelf(), open](NavigationPolicy policy) {
      open->make(policy);
      if (auto v = weak.lock()) v->openDecisions_.erase(open);
    };
    if (auto d = view.delegate_.lock()) {
      d->decidePolicy(view, action, std::move(decide));
    } else {
      decide(NavigationPolicy::allow);
    }
  });
}

void GtkWebView::requestWindow(NavigationAction action) {
  post([action = std::move(action)](GtkWebView& view) {
    if (auto d = view.delegate_.lock()) d->requestsNewWindow(view, action);
  });
}

bool GtkWebView::isOwnLoad(const NavigationAction& action) {
  if (action.userGesture || !ownLoad_ || ownLoad_->type != action.type) return false;
  if (ownLoad_->html && action.url != "about:blank") return false;
  ownLoad_.reset();
  return true;
}

gboolean GtkWebView::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                    WebKitPolicyDecisionType type, gpointer data) {
  auto* self = static_cast<GtkWebView*>(data);
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    return self->decideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
  }
  WebKitNavigationAction* navigation = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  auto retained = GObjectPtr<WebKitPolicyDecision>::retain(decision);

  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    NavigationAction action = actionOf(navigation, NavigationTarget::newWindow);
    if (action.type == NavigationType::other) {
      // window.open: the request alone, as on the phone platform.
      webkit_policy_decision_ignore(decision);
      self->requestWindow(std::move(action));
      return TRUE;
    }
    // A link (or form) with a target: a navigation decision first, the request when allowed. The
    // engine is always told no; no second view is ever made.
    webkit_policy_decision_ignore(decision);
    self->post([action = std::move(action)](GtkWebView& view) {
      auto decide = [weak = view.weakSelf(), action](NavigationPolicy policy) {
        auto v = weak.lock();
        if (v && policy == NavigationPolicy::allow) v->requestWindow(action);
      };
      if (auto d = view.delegate_.lock()) d->decidePolicy(view, action, std::move(decide));
    });
    return TRUE;
  }

  // WebKitGTK names no frame here. The SDK's own loads are the page's; a user's navigation is
  // reported as the page's too; a page's own navigation waits for its response, which says.
  NavigationAction action = actionOf(navigation, NavigationTarget::mainFrame);
  if (self->isOwnLoad(action) || action.userGesture) {
    self->ask(std::move(retained), std::move(action));
    return TRUE;
  }
  const std::string url = action.url.value_or("");
  if (answeredByResponse(url)) {
    if (self->deferred_.size() >= kMaxPendingNavigations) self->deferred_.pop_front();
    self->deferred_.push_back(std::move(action));
    webkit_policy_decision_use(decision);  // nothing is shown before its response
    return TRUE;
  }
  // Never answered by a response: a frame's srcdoc is a sub-frame; anything else (about:blank,
  // a scheme the engine cannot load) is judged as the page's own.
  if (url == "about:srcdoc") action.target = NavigationTarget::subFrame;
  self->ask(std::move(retained), std::move(action));
  return TRUE;
}

gboolean GtkWebView::decideResponse(WebKitResponsePolicyDecision* response) {
  // What the engine cannot show it would download: never.
  const bool refuse = !webkit_response_policy_decision_is_mime_type_supported(response);
  WebKitURIRequest* request = webkit_response_policy_decision_get_request(response);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  const std::string key = withoutFragment(uri ? uri : "");
  auto it = std::find_if(deferred_.begin(), deferred_.end(), [&](const NavigationAction& a) {
    return withoutFragment(a.url.value_or("")) == key;
  });
  if (it == deferred_.end()) {
    if (refuse) {
      webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(response));
    } else {
      webkit_policy_decision_use(WEBKIT_POLICY_DECISION(response));
    }
    return TRUE;
  }
  NavigationAction action = std::move(*it);
  deferred_.erase(it);
  action.target = webkit_response_policy_decision_is_main_frame_main_resource(response)
                      ? NavigationTarget::mainFrame
                      : NavigationTarget::subFrame;
  ask(GObjectPtr<WebKitPolicyDecision>::retain(WEBKIT_POLICY_DECISION(response)), std::move(action),
      refuse);
  return TRUE;
}

GtkWidget* GtkWebView::onCreate(WebKitWebView*, WebKitNavigationAction* navigation, gpointer data) {
  // window.open from a user's input comes here without a new-window decision (those are all
  // answered "no", so none leads here): the request, and still no second view.
  static_cast<GtkWebView*>(data)->requestWindow(actionOf(navigation, NavigationTarget::newWindow));
  return nullptr;
}

// ---- scripts ----

void GtkWebView::evaluateJavaScript(const std::string& script, ScriptResult completion) {
  struct Call {
    std::weak_ptr<GtkWebView> view;
    ScriptResult completion;
  };
  auto* call = new Call{weakSelf(), std::move(completion)};
  webkit_web_view_evaluate_javascript(
      web_, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr, cancellable_.get(),
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Call> call(static_cast<Call*>(data));
        GError* error = nullptr;
        JSCValue* value =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
        std::optional<Value> out;
        std::optional<WebError> failure;
        if (error) {
          if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            failure = WebError{WebError::kWebKitErrorDomain,
                               error->code == WEBKIT_JAVASCRIPT_ERROR_INVALID_RESULT
                                   ? kScriptResultTypeUnsupported
                                   : kScriptExceptionOccurred,
                               error->message ? error->message : ""};
          }
          g_error_free(error);
        } else {
          convertResult(value, &out, &failure);
        }
        if (value) g_object_unref(value);
        auto view = call->view.lock();
        if (!view || !call->completion) return;  // the view is gone: nothing is called back
        view->post([completion = std::move(call->completion), out = std::move(out),
                    failure = std::move(failure)](GtkWebView&) { completion(out, failure); });
      },
      call);
}

void GtkWebView::addUserScript(UserScript script) {
  WebKitUserScript* s =
      webkit_user_script_new(script.source.c_str(),
                             script.forMainFrameOnly ? WEBKIT_USER_CONTENT_INJECT_TOP_FRAME
                                                     : WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                             script.injectionTime == UserScriptInjectionTime::atDocumentStart
                                 ? WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START
                                 : WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END,
                             nullptr, nullptr);
  webkit_user_content_manager_add_script(contentManager_.get(), s);
  webkit_user_script_unref(s);
}

void GtkWebView::removeAllUserScripts() {
  webkit_user_content_manager_remove_all_scripts(contentManager_.get());
}

void GtkWebView::addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler,
                                         const std::string& name) {
  if (!handler || handlers_.count(name)) return;
  auto h = std::make_unique<Handler>();
  h->view = this;
  h->name = name;
  h->plain = std::move(handler);
  const std::string signal = "script-message-received::" + name;
  h->connection = connectSignal(
      contentManager_.get(), signal.c_str(),
      +[](WebKitUserContentManager*, JSCValue* value, gpointer data) {
        auto* h = static_cast<Handler*>(data);
        auto body = bodyOf(value);
        if (!body) {
          ++h->view->refusedMessages_;
          return;
        }
        h->view->post([name = h->name, body = std::move(*body)](GtkWebView& view) {
          auto it = view.handlers_.find(name);
          if (it == view.handlers_.end() || !it->second->plain) return;  // removed meanwhile
          auto plain = it->second->plain;  // the handler may remove itself while it runs
          plain->didReceive(view, ScriptMessage{name, body});
        });
      },
      h.get());
  webkit_user_content_manager_register_script_message_handler(contentManager_.get(), name.c_str(),
                                                              nullptr);
  handlers_[name] = std::move(h);
}

void GtkWebView::addScriptMessageHandlerWithReply(
    std::shared_ptr<ScriptMessageHandlerWithReply> handler, const std::string& name) {
  if (!handler || handlers_.count(name)) return;
  auto h = std::make_unique<Handler>();
  h->view = this;
  h->name = name;
  h->withReply = std::move(handler);
  const std::string signal = "script-message-with-reply-received::" + name;
  h->connection = connectSignal(
      contentManager_.get(), signal.c_str(),
      +[](WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
          gpointer data) -> gboolean {
        auto* h = static_cast<Handler*>(data);
        auto pending = std::make_shared<PendingReply>(reply, jsc_value_get_context(value));
        auto body = bodyOf(value);
        if (!body) {
          ++h->view->refusedMessages_;
          pending->settle(std::nullopt, std::string("message body could not be read"));
          return TRUE;
        }
        h->view->post([name = h->name, body = std::move(*body), pending](GtkWebView& view) {
          auto it = view.handlers_.find(name);
          if (it == view.handlers_.end() || !it->second->withReply) return;  // settled empty
          auto withReply = it->second->withReply;
          withReply->didReceive(
              view, ScriptMessage{name, body},
              [pending](std::optional<Value> result, std::optional<std::string> error) {
                pending->settle(result, error);
              });
        });
        return TRUE;
      },
      h.get());
  webkit_user_content_manager_register_script_message_handler_with_reply(contentManager_.get(),
                                                                         name.c_str(), nullptr);
  handlers_[name] = std::move(h);
}

void GtkWebView::removeScriptMessageHandler(const std::string& name) {
  auto it = handlers_.find(name);
  if (it == handlers_.end()) return;
  webkit_user_content_manager_unregister_script_message_handler(contentManager_.get(), name.c_str(),
                                                                nullptr);
  handlers_.erase(it);
}

// ---- presentation ----

void GtkWebView::setOpaque(bool opaque) {
  const GdkRGBA color = opaque ? GdkRGBA{1, 1, 1, 1} : GdkRGBA{0, 0, 0, 0};
  webkit_web_view_set_background_color(web_, &color);
}

void GtkWebView::setScrollEnabled(bool enabled) {
  scrollEnabled_ = enabled;
  applyStyleSheet();
}

void GtkWebView::setShowsScrollIndicators(bool shows) {
  showsScrollIndicators_ = shows;
  applyStyleSheet();
}

void GtkWebView::setAllowsBackForwardGestures(bool allows) {
  webkit_settings_set_enable_back_forward_navigation_gestures(webkit_web_view_get_settings(web_),
                                                              allows);
}

void GtkWebView::applyStyleSheet() {
  webkit_user_content_manager_remove_all_style_sheets(contentManager_.get());
  std::string css;
  if (!scrollEnabled_) css += "html, body { overflow: hidden !important; }\n";
  if (!showsScrollIndicators_) {
    css +=
        "::-webkit-scrollbar { display: none !important; width: 0 !important; "
        "height: 0 !important; }\n";
  }
  if (css.empty()) return;
  WebKitUserStyleSheet* sheet =
      webkit_user_style_sheet_new(css.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                  WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
  webkit_user_content_manager_add_style_sheet(contentManager_.get(), sheet);
  webkit_user_style_sheet_unref(sheet);
}

}  // namespace orvex::gtk
