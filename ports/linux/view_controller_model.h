#pragma once
// The view-controller behaviour both screens share, written against the View interface only:
// children (navigation stacks, tab bars), presentation with its transitions and appearance
// callbacks. A port derives its controllers from it and binds each root view to its controller.
//
// Presentation: present() hands the presented controller to the outermost controller of the
// presenter (the window's presentation context); its view goes on top of the window. A
// full-screen presentation takes the covered content out of the window once the transition ends
// and puts it back when dismissal begins, so whatever measures the screen sees what a phone
// would. Transitions end on the next main-queue turn, or after 0.3 s when animated; appearance
// callbacks follow the platform's order. Main thread only.

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"

namespace orvex::linux_port {

class ORVEX_API ViewControllerModel : public virtual ViewController {
 public:
  ~ViewControllerModel() override;

  // ---- ViewController ----
  ViewControllerKind kind() const override { return kind_; }
  std::shared_ptr<View> view() const override { return view_; }
  std::shared_ptr<ViewController> parentViewController() const override { return parent_.lock(); }
  std::vector<std::shared_ptr<ViewController>> childViewControllers() const override {
    return children_;
  }
  // For a navigation controller this pushes; for a tab bar controller it adds a tab.
  void addChildViewController(std::shared_ptr<ViewController> child) override;
  void removeFromParentViewController() override;
  std::shared_ptr<ViewController> visibleViewController() const override;
  std::shared_ptr<ViewController> selectedViewController() const override;
  std::shared_ptr<ViewController> presentedViewController() const override;
  std::shared_ptr<ViewController> presentingViewController() const override {
    return presenting_.lock();
  }
  void setPresentationStyle(PresentationStyle style) override {
    if (!fixedStyle_) style_ = style;
  }
  void present(std::shared_ptr<ViewController> controller, bool animated,
               std::function<void()> completion) override;
  void dismiss(bool animated, std::function<void()> completion) override;
  void setAppearanceObserver(std::weak_ptr<AppearanceObserver> observer) override {
    observer_ = std::move(observer);
  }
  bool isViewVisible() const override { return view_->window() != nullptr; }
  // Recorded only: a port whose screen has either applies it in an override.
  void setOverrideInterfaceStyle(InterfaceStyle style) override { interfaceStyle_ = style; }
  InterfaceStyle overrideInterfaceStyle() const override { return interfaceStyle_; }
  void setStatusBarStyle(StatusBarStyle style) override { statusBarStyle_ = style; }
  StatusBarStyle statusBarStyle() const override { return statusBarStyle_; }

  // ---- what the host plays ----
  PresentationStyle presentationStyle() const { return style_; }
  // Tab bar controllers: chooses the tab shown.
  void selectTab(std::size_t index);

 protected:
  ViewControllerModel(std::shared_ptr<TaskQueue> mainQueue, ViewControllerKind kind,
                      std::shared_ptr<View> view);

  // Puts this controller's view on screen as a presented one, over `window`, in `frame`; by
  // default on top of the window's views. Sheets that are windows of their own override both.
  virtual void showPresentedView(Window& window, const Rect& frame);
  virtual void hidePresentedView();
  // Called as this controller's presentation begins (ports record what was opened).
  virtual void willBePresented() {}
  // Presents with `style` whatever the caller sets (alerts).
  void fixPresentationStyle(PresentationStyle style) {
    style_ = style;
    fixedStyle_ = true;
  }
  bool isTransitioning() const { return transitioning_; }

 private:
  std::shared_ptr<ViewControllerModel> presentationContext();
  void dismissPresented(bool animated, std::function<void()> completion);
  void showChild(const std::shared_ptr<ViewController>& child);
  void notify(void (AppearanceObserver::*event)(bool), bool animated) const;
  void finishTransition(bool animated, std::function<void()> step);

  std::shared_ptr<TaskQueue> mainQueue_;
  const ViewControllerKind kind_;
  std::shared_ptr<View> view_;
  std::weak_ptr<ViewController> parent_;
  std::vector<std::shared_ptr<ViewController>> children_;
  std::size_t selectedTab_ = 0;
  std::shared_ptr<ViewController> presented_;
  std::weak_ptr<ViewController> presenting_;
  // Content taken out of the window by a full-screen presentation, to be put back.
  std::vector<std::shared_ptr<View>> covered_;
  PresentationStyle style_ = PresentationStyle::pageSheet;
  bool fixedStyle_ = false;
  std::weak_ptr<AppearanceObserver> observer_;
  bool transitioning_ = false;
  InterfaceStyle interfaceStyle_ = InterfaceStyle::unspecified;
  StatusBarStyle statusBarStyle_ = StatusBarStyle::automatic;
};

}  // namespace orvex::linux_port
