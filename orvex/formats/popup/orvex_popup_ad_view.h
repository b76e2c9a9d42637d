#pragma once
// The full-window view of a popup: a dim layer, a rounded container holding a three-slot paged
// carousel of creative pages, a page indicator and a bar of text buttons (call to action, close,
// hide for today) inside or outside the container. Built from the layout resources
// "OrvexPopupAdViewBottom" and "OrvexPopupAdViewCenter". Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/core/simple_logger.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"
#include "orvex/server/ad_response.h"
#include "orvex/web/passthrough_web_view.h"

namespace orvex {

class OrvexPopupAdRollingTimer;

class OrvexPopupAdView : public std::enable_shared_from_this<OrvexPopupAdView> {
 public:
  // Builds the layout for `type` from the SDK's resources; none when it cannot be built.
  static std::shared_ptr<OrvexPopupAdView> make(UserInterface& ui, AdUnitPopupFormat type);
  ~OrvexPopupAdView();

  // The root view (full window, clear background).
  const std::shared_ptr<View>& view() const;
  const std::shared_ptr<ScrollView>& scrollView() const;

  void configure(const PopupOptions& options, std::optional<std::uint32_t> backgroundColor,
                 std::optional<std::uint32_t> hideForTodayTextColor,
                 std::optional<std::uint32_t> closeTextColor,
                 std::optional<std::uint32_t> ctaTextColor);
  void setCreativeSize(std::optional<CreativeSize> size);
  // The appearing animation for the configured type.
  void animateIn();
  void setPages(std::vector<AdRes> ads, std::vector<std::shared_ptr<PassthroughWebView>> webViews);
  // Stops rolling and animates out; then onDismissView and removal from the superview.
  void close();

  void setRollingTimer(std::shared_ptr<OrvexPopupAdRollingTimer> timer);
  void setVisibilityTimer(std::unique_ptr<Timer> timer);
  // Starts rolling when on screen and the application is active, else stops it (every second).
  void checkVisibility();
  // Has a window, is shown with alpha above 0, and meets the window's bounds.
  bool isOnScreen() const;

  std::function<void()> onClickClose;
  std::function<void()> onClickBackground;
  std::function<void(int pageIndex)> onClickHideForToday;
  std::function<void()> onDismissView;
  std::function<void(int pageIndex)> onCTAClick;

  int currentIndex() const;
  int maxPage() const;
  bool onAnimationCompleted() const;
};

}  // namespace orvex
