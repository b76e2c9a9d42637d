#include "ports/headless/headless_web_view.h"

#include <re2/re2.h>

#include <algorithm>
#include <utility>

#include "orvex/core/json.h"
#include "orvex/core/url.h"

namespace orvex::headless {
namespace {

std::optional<std::string> firstVideoSource(const std::string& html) {
  // The element's content up to its end tag (or the end of the document, as a browser would).
  static const RE2 video(R"((?is)<video\b[^>]*>(.*?)(?:</video\s*>|\z))");
  static const RE2 source(
      R"re((?is)<source\b[^>]*?\ssrc\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re");
  re2::StringPiece body;
  if (!RE2::PartialMatch(html, video, &body)) return std::nullopt;
  re2::StringPiece dq, sq, bare;
  if (!RE2::PartialMatch(body, source, &dq, &sq, &bare)) return std::nullopt;
  const re2::StringPiece& hit = dq.data() ? dq : sq.data() ? sq : bare;
  return std::string(hit.data(), hit.size());
}

}  // namespace

bool nestedDeeperThan(const Value& value, int maxDepth) {
  struct Entry {
    const Value* value;
    int depth;
  };
  std::vector<Entry> pending{{&value, 0}};
  while (!pending.empty()) {
    const Entry e = pending.back();
    pending.pop_back();
    const bool container = e.value->asArray() || e.value->asDict();
    if (!container) continue;
    const int depth = e.depth + 1;
    if (depth > maxDepth) return true;
    if (const auto* a = e.value->asArray()) {
      for (const auto& v : *a) pending.push_back({&v, depth});
    } else {
      for (const auto& [key, v] : *e.value->asDict()) pending.push_back({&v, depth});
    }
  }
  return false;
}

HeadlessWebView::HeadlessWebView(std::shared_ptr<TaskQueue> mainQueue,
                                 WebViewConfiguration configuration, HeadlessWebViewOptions options)
    : mainQueue_(std::move(mainQueue)), configuration_(configuration), options_(options) {}

HeadlessWebView::~HeadlessWebView() = default;

std::shared_ptr<HeadlessWebView> HeadlessWebView::self() {
  return std::dynamic_pointer_cast<HeadlessWebView>(View::shared_from_this());
}

std::weak_ptr<HeadlessWebView> HeadlessWebView::weakSelf() {
  return std::dynamic_pointer_cast<HeadlessWebView>(View::weak_from_this().lock());
}

void HeadlessWebView::post(std::function<void(HeadlessWebView&)> task) {
  if (!mainQueue_) return;
  mainQueue_->post([weak = weakSelf(), task = std::move(task)] {
    if (auto view = weak.lock()) task(*view);
  });
}

// ---- loading ----

void HeadlessWebView::loadHTMLString(const std::string& html) {
  askThenLoad({Load::Kind::html, html, 0}, NavigationType::other);
}

void HeadlessWebView::loadURL(const std::string& url, double timeoutSeconds) {
  askThenLoad({Load::Kind::url, url, timeoutSeconds}, NavigationType::other);
}

void HeadlessWebView::askThenLoad(Load load, NavigationType type) {
  // Loading from the moment of the call, as the platform's view is; the document changes only
  // once the delegate allowed the navigation.
  loads_.push_back(load);
  loading_ = true;
  const std::size_t generation = ++generation_;
  post([generation, type, load = std::move(load)](HeadlessWebView& view) {
    if (generation != view.generation_) return;
    NavigationAction action{
        type, load.kind == Load::Kind::html ? "about:blank" : engineReadURL(load.content)};
    auto decide = [weak = view.weakSelf(), generation, action, load,
                   decided = std::make_shared<bool>(false)](NavigationPolicy policy) {
      if (std::exchange(*decided, true)) return;
      auto v = weak.lock();
      if (!v) return;
      v->decisions_.push_back({action, policy});
      if (generation != v->generation_) return;
      if (policy == NavigationPolicy::allow) {
        v->loads_.pop_back();  // startLoad records it again as the navigation that happened
        v->startLoad(load);
      } else {
        v->loading_ = false;
      }
    };
    if (auto d = view.delegate_.lock()) {
      d->decidePolicy(view, action, std::move(decide));
    } else {
      decide(NavigationPolicy::allow);
    }
  });
}

void HeadlessWebView::startLoad(Load load) {
  loads_.push_back(load);
  current_ = std::move(load);
  loading_ = true;
  const std::size_t generation = ++generation_;
  if (current_->kind == Load::Kind::url && current_->timeoutSeconds > 0 && mainQueue_) {
    mainQueue_->postAfter(secondsToDuration(current_->timeoutSeconds),
                          [weak = weakSelf(), generation] {
                            auto view = weak.lock();
                            if (!view || generation != view->generation_ || !view->loading_) return;
                            view->failLoad(WebError::timedOut());
                          });
  }
  if (!options_.finishLoadsAutomatically) return;
  post([generation](HeadlessWebView& view) {
    if (generation == view.generation_ && view.loading_ && view.options_.finishLoadsAutomatically)
      view.finishLoad();
  });
}

void HeadlessWebView::stopLoading() {
  if (!loading_) return;
  loading_ = false;
  ++generation_;
  post([](HeadlessWebView& view) {
    if (auto d = view.delegate_.lock()) d->didFail(view, WebError::cancelled());
  });
}

void HeadlessWebView::reload() {
  if (current_) askThenLoad(*current_, NavigationType::reload);
}

bool HeadlessWebView::finishLoad() {
  if (!loading_) return false;
  loading_ = false;
  ++finishCount_;
  post([](HeadlessWebView& view) {
    if (auto d = view.delegate_.lock()) d->didFinish(view);
  });
  return true;
}

bool HeadlessWebView::failLoad(WebError error) {
  if (!loading_) return false;
  loading_ = false;
  post([error = std::move(error)](HeadlessWebView& view) {
    if (auto d = view.delegate_.lock()) d->didFail(view, error);
  });
  return true;
}

std::optional<std::string> HeadlessWebView::loadedHTML() const {
  if (current_ && current_->kind == Load::Kind::html) return current_->content;
  return std::nullopt;
}

std::optional<std::string> HeadlessWebView::loadedURL() const {
  if (current_ && current_->kind == Load::Kind::url) return current_->content;
  return std::nullopt;
}

void HeadlessWebView::setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate> delegate) {
  delegate_ = std::move(delegate);
}

// ---- the page's actions ----

void HeadlessWebView::activateLink(const std::string& url) {
  navigate(NavigationType::linkActivated, url);
}

void HeadlessWebView::navigate(NavigationType type, const std::string& url) {
  navigate(NavigationAction{type, url, NavigationTarget::mainFrame, /*userGesture=*/true});
}

void HeadlessWebView::navigate(NavigationAction action) {
  // Engines block a window the page asks for by itself, a link's as much as window.open's.
  if (action.target == NavigationTarget::newWindow && !action.userGesture) return;
  if (action.url) action.url = engineReadURL(*action.url);
  post([action = std::move(action)](HeadlessWebView& view) {
    auto decide = [weak = view.weakSelf(), action,
                   decided = std::make_shared<bool>(false)](NavigationPolicy policy) {
      if (std::exchange(*decided, true)) return;
      auto v = weak.lock();
      if (!v) return;
      v->decisions_.push_back({action, policy});
      if (policy != NavigationPolicy::allow) return;
      if (action.target == NavigationTarget::newWindow) {
        // The link asked for a window: the delegate hears the request; none is made.
        v->post([action](HeadlessWebView& page) {
          if (auto d = page.delegate_.lock()) d->requestsNewWindow(page, action);
        });
      } else if (action.target == NavigationTarget::mainFrame && action.url) {
        v->startLoad({Load::Kind::url, *action.url, 0});
      }
    };
    if (auto d = view.delegate_.lock()) {
      d->decidePolicy(view, action, std::move(decide));
    } else {
      decide(NavigationPolicy::allow);
    }
  });
}

void HeadlessWebView::requestNewWindow(std::optional<std::string> url, bool userGesture) {
  if (!userGesture) return;  // blocked by the engine: script-opened windows need a gesture
  if (url) url = engineReadURL(*url);
  post([url = std::move(url)](HeadlessWebView& view) {
    if (auto d = view.delegate_.lock()) {
      d->requestsNewWindow(
          view, NavigationAction{NavigationType::other, url, NavigationTarget::newWindow, true});
    }
  });
}

// ---- scripts ----

void HeadlessWebView::evaluateJavaScript(const std::string& script, ScriptResult completion) {
  evaluatedScripts_.push_back(script);
  std::optional<Value> result = responder_ ? responder_(script) : defaultScriptResponse(script);
  if (!completion) return;
  // Dropped when the view goes first, as in every port.
  post([completion = std::move(completion), result = std::move(result)](HeadlessWebView&) mutable {
    completion(std::move(result), std::nullopt);
  });
}

std::optional<Value> HeadlessWebView::defaultScriptResponse(const std::string& script) const {
  if (script.find("document.documentElement.scrollWidth") != std::string::npos ||
      script.find("document.documentElement.scrollHeight") != std::string::npos) {
    const Size size = contentSize_.value_or(frame().size);
    return Value(ValueDict{{"width", size.width}, {"height", size.height}});
  }
  // No engine loads images here: a page is complete as soon as it finished.
  if (script == "isLoadComplete()") return Value(true);
  if (script.find("videoSrc()") != std::string::npos) {
    const auto html = loadedHTML();
    if (auto src = html ? firstVideoSource(*html) : std::nullopt) return Value(std::move(*src));
    return Value(nullptr);
  }
  return std::nullopt;
}

void HeadlessWebView::addUserScript(UserScript script) {
  userScripts_.push_back(std::move(script));
}

void HeadlessWebView::removeAllUserScripts() {
  userScripts_.clear();
}

// ---- script messages ----

void HeadlessWebView::addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler,
                                              const std::string& name) {
  // A second handler under a taken name replaces the first rather than failing.
  removeScriptMessageHandler(name);
  if (handler) handlers_.push_back({name, std::move(handler), nullptr});
}

void HeadlessWebView::addScriptMessageHandlerWithReply(
    std::shared_ptr<ScriptMessageHandlerWithReply> handler, const std::string& name) {
  removeScriptMessageHandler(name);
  if (handler) handlers_.push_back({name, nullptr, std::move(handler)});
}

void HeadlessWebView::removeScriptMessageHandler(const std::string& name) {
  std::erase_if(handlers_, [&](const Handler& h) { return h.name == name; });
}

const HeadlessWebView::Handler* HeadlessWebView::handlerNamed(const std::string& name) const {
  auto it = std::find_if(handlers_.begin(), handlers_.end(),
                         [&](const Handler& h) { return h.name == name; });
  return it == handlers_.end() ? nullptr : &*it;
}

bool HeadlessWebView::hasMessageHandler(const std::string& name) const {
  return handlerNamed(name) != nullptr;
}

bool HeadlessWebView::postMessage(const std::string& name, Value body, ReplyObserver onReply) {
  if (!handlerNamed(name) || nestedDeeperThan(body, kMaxMessageDepth)) return false;
  post([name, body = std::move(body), onReply = std::move(onReply)](HeadlessWebView& view) {
    view.deliver(name, body, onReply);
  });
  return true;
}

bool HeadlessWebView::postMessageJSON(const std::string& name, std::string_view json,
                                      ReplyObserver onReply) {
  auto body = json::parse(json, nullptr, kMaxMessageDepth);
  if (!body) return false;
  return postMessage(name, std::move(*body), std::move(onReply));
}

void HeadlessWebView::deliver(const std::string& name, const Value& body, ReplyObserver onReply) {
  const Handler* h = handlerNamed(name);
  if (!h) return;  // removed since the page posted
  // Copies: the handler may remove itself (or others) while it runs.
  auto plain = h->plain;
  auto withReply = h->withReply;
  const ScriptMessage message{name, body};
  if (plain) {
    plain->didReceive(*this, message);
    return;
  }
  auto reply = [weak = weakSelf(), name, onReply = std::move(onReply),
                replied = std::make_shared<bool>(false)](std::optional<Value> result,
                                                         std::optional<std::string> error) {
    if (std::exchange(*replied, true)) return;  // the page takes the first answer only
    auto v = weak.lock();
    if (!v) return;
    v->recordReply(name, std::move(result), std::move(error));
    if (onReply) onReply(v->replies_.back());
  };
  withReply->didReceive(*this, message, std::move(reply));
}

void HeadlessWebView::recordReply(const std::string& name, std::optional<Value> result,
                                  std::optional<std::string> error) {
  replies_.push_back({name, std::move(result), std::move(error)});
}

// ---- the factory ----

HeadlessWebViews::HeadlessWebViews(std::shared_ptr<Dispatcher> dispatcher,
                                   HeadlessWebViewOptions options)
    : dispatcher_(std::move(dispatcher)), options_(options) {}

std::shared_ptr<HeadlessWebView> HeadlessWebViews::make(const WebViewConfiguration& configuration) {
  std::erase_if(made_, [](const auto& w) { return w.expired(); });
  auto view = std::make_shared<HeadlessWebView>(dispatcher_ ? dispatcher_->mainQueue() : nullptr,
                                                configuration, options_);
  made_.push_back(view);
  return view;
}

std::vector<std::shared_ptr<HeadlessWebView>> HeadlessWebViews::alive() const {
  std::vector<std::shared_ptr<HeadlessWebView>> out;
  for (const auto& w : made_)
    if (auto v = w.lock()) out.push_back(std::move(v));
  return out;
}

std::shared_ptr<HeadlessWebView> HeadlessWebViews::last() const {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it)
    if (auto v = it->lock()) return v;
  return nullptr;
}

}  // namespace orvex::headless
