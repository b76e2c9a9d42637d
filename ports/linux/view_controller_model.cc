#include "ports/linux/view_controller_model.h"

#include <algorithm>
#include <chrono>

namespace orvex::linux_port {
namespace {

constexpr auto kAnimationDuration = std::chrono::milliseconds(300);
// A page sheet leaves the top of the screen to what it covers.
constexpr double kPageSheetTop = 54;

std::shared_ptr<ViewControllerModel> asModel(const std::shared_ptr<ViewController>& c) {
  return std::dynamic_pointer_cast<ViewControllerModel>(c);
}

}  // namespace

ViewControllerModel::ViewControllerModel(std::shared_ptr<TaskQueue> mainQueue,
                                         ViewControllerKind kind, std::shared_ptr<View> view)
    : mainQueue_(std::move(mainQueue)), kind_(kind), view_(std::move(view)) {}

ViewControllerModel::~ViewControllerModel() {
  for (auto& child : children_) {
    if (auto c = asModel(child)) c->parent_.reset();
  }
}

void ViewControllerModel::addChildViewController(std::shared_ptr<ViewController> child) {
  auto c = asModel(child);
  if (!c || c.get() == this) return;
  c->removeFromParentViewController();
  auto previousTop = children_.empty() ? nullptr : children_.back();
  children_.push_back(child);
  c->parent_ = weak_from_this();
  if (kind_ == ViewControllerKind::navigation) {
    if (previousTop) previousTop->view()->removeFromSuperview();
    showChild(child);
  } else if (kind_ == ViewControllerKind::tabBar && children_.size() - 1 == selectedTab_) {
    showChild(child);
  }
}

void ViewControllerModel::showChild(const std::shared_ptr<ViewController>& child) {
  auto v = child->view();
  view_->addSubview(v);
  v->setFillsSuperview(true);
}

void ViewControllerModel::removeFromParentViewController() {
  auto parent = asModel(parent_.lock());
  parent_.reset();
  if (!parent) return;
  auto self = shared_from_this();
  auto& siblings = parent->children_;
  auto it = std::find(siblings.begin(), siblings.end(), self);
  if (it == siblings.end()) return;
  bool wasShown = view_->superview() == parent->view_;
  siblings.erase(it);
  if (wasShown && (parent->kind_ == ViewControllerKind::navigation ||
                   parent->kind_ == ViewControllerKind::tabBar)) {
    view_->removeFromSuperview();
    if (parent->kind_ == ViewControllerKind::navigation && !siblings.empty()) {
      parent->showChild(siblings.back());
    } else if (parent->kind_ == ViewControllerKind::tabBar) {
      parent->selectTab(std::min(parent->selectedTab_, siblings.empty() ? 0 : siblings.size() - 1));
    }
  }
}

std::shared_ptr<ViewController> ViewControllerModel::visibleViewController() const {
  if (kind_ != ViewControllerKind::navigation) return nullptr;
  if (auto presented = presented_) return presented;
  return children_.empty() ? nullptr : children_.back();
}

std::shared_ptr<ViewController> ViewControllerModel::selectedViewController() const {
  if (kind_ != ViewControllerKind::tabBar || selectedTab_ >= children_.size()) return nullptr;
  return children_[selectedTab_];
}

void ViewControllerModel::selectTab(std::size_t index) {
  if (kind_ != ViewControllerKind::tabBar) return;
  if (auto current = selectedViewController()) current->view()->removeFromSuperview();
  selectedTab_ = index;
  if (auto next = selectedViewController()) showChild(next);
}

std::shared_ptr<ViewControllerModel> ViewControllerModel::presentationContext() {
  auto context = std::dynamic_pointer_cast<ViewControllerModel>(shared_from_this());
  while (auto parent = asModel(context->parent_.lock())) context = parent;
  return context;
}

std::shared_ptr<ViewController> ViewControllerModel::presentedViewController() const {
  auto* self = const_cast<ViewControllerModel*>(this);
  return parent_.expired() ? presented_ : self->presentationContext()->presented_;
}

void ViewControllerModel::notify(void (AppearanceObserver::*event)(bool), bool animated) const {
  if (auto observer = observer_.lock()) ((*observer).*event)(animated);
}

void ViewControllerModel::finishTransition(bool animated, std::function<void()> step) {
  if (animated) {
    mainQueue_->postAfter(kAnimationDuration, std::move(step));
  } else {
    mainQueue_->post(std::move(step));
  }
}

void ViewControllerModel::showPresentedView(Window& window, const Rect& frame) {
  view_->setFrame(frame);
  window.addSubview(view_);
}

void ViewControllerModel::hidePresentedView() {
  view_->removeFromSuperview();
}

void ViewControllerModel::present(std::shared_ptr<ViewController> controller, bool animated,
                                  std::function<void()> completion) {
  auto context = presentationContext();
  auto p = asModel(controller);
  // The platform refuses these with a console warning and never completes.
  if (!p || context->presented_ || context->transitioning_ || p == context ||
      !p->presenting_.expired() || !p->parent_.expired()) {
    return;
  }
  auto window = context->view_->window();
  if (!window) return;

  context->presented_ = p;
  p->presenting_ = context;
  p->transitioning_ = true;
  p->willBePresented();

  Rect b = window->bounds();
  bool fullScreen = p->style_ == PresentationStyle::fullScreen;
  p->showPresentedView(*window,
                       p->style_ == PresentationStyle::pageSheet
                           ? Rect(0, kPageSheetTop, b.size.width, b.size.height - kPageSheetTop)
                           : Rect(0, 0, b.size.width, b.size.height));
  p->notify(&AppearanceObserver::viewWillAppear, animated);
  if (fullScreen) context->notify(&AppearanceObserver::viewWillDisappear, animated);

  std::weak_ptr<ViewControllerModel> weakContext = context;
  finishTransition(animated,
                   [p, weakContext, animated, fullScreen, completion = std::move(completion)] {
                     p->transitioning_ = false;
                     if (fullScreen) {
                       // The platform takes what a full-screen presentation covers out of the
                       // window.
                       if (auto window = p->view_->window()) {
                         for (auto& v : window->subviews()) {
                           if (v == p->view_) break;
                           p->covered_.push_back(v);
                           v->removeFromSuperview();
                         }
                       }
                     }
                     p->notify(&AppearanceObserver::viewDidAppear, animated);
                     if (auto context = weakContext.lock(); context && fullScreen) {
                       context->notify(&AppearanceObserver::viewDidDisappear, animated);
                     }
                     if (completion) completion();
                   });
}

void ViewControllerModel::dismiss(bool animated, std::function<void()> completion) {
  auto context = presentationContext();
  if (context->presented_) {
    context->dismissPresented(animated, std::move(completion));
  } else if (auto presenter = asModel(presenting_.lock())) {
    presenter->dismissPresented(animated, std::move(completion));
  }
}

void ViewControllerModel::dismissPresented(bool animated, std::function<void()> completion) {
  auto p = asModel(presented_);
  if (!p || p->transitioning_) return;
  // What the presented one presents goes with it.
  if (p->presented_) p->dismissPresented(false, {});
  p->transitioning_ = true;
  bool fullScreen = p->style_ == PresentationStyle::fullScreen;
  if (auto window = p->view_->window()) {
    std::size_t index = 0;
    for (auto& v : p->covered_) window->insertSubview(v, index++);
  }
  p->covered_.clear();
  p->notify(&AppearanceObserver::viewWillDisappear, animated);
  if (fullScreen) notify(&AppearanceObserver::viewWillAppear, animated);

  auto self = std::dynamic_pointer_cast<ViewControllerModel>(shared_from_this());
  finishTransition(animated, [self, p, animated, fullScreen, completion = std::move(completion)] {
    p->hidePresentedView();
    p->transitioning_ = false;
    p->presenting_.reset();
    if (self->presented_ == p) self->presented_.reset();
    p->notify(&AppearanceObserver::viewDidDisappear, animated);
    if (fullScreen) self->notify(&AppearanceObserver::viewDidAppear, animated);
    if (completion) completion();
  });
}

}  // namespace orvex::linux_port
