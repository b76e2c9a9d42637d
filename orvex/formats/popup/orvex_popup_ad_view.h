#pragma once
// The full-window view of a popup: a dim layer, a rounded container holding a three-slot paged
// carousel of creative pages, a page indicator and a bar of text buttons (call to action, close,
// hide for today) inside or outside the container. Built from the layout resources
// "OrvexPopupAdViewBottom" and "OrvexPopupAdViewCenter". Main thread only.
//
// The carousel always shows the current page in its middle slot (offset W) with its neighbours
// on either side; when a scroll settles on a side slot the current index moves and the offset
// goes back to the middle, so it pages endlessly in both directions.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/core/localized_strings.h"
#include "orvex/core/simple_logger.h"
#include "orvex/core/view_animator.h"
#include "orvex/formats/layout_resource.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"
#include "orvex/server/ad_response.h"
#include "orvex/web/passthrough_web_view.h"

namespace orvex {

class OrvexPopupAdRollingTimer;

class OrvexPopupAdView : public std::enable_shared_from_this<OrvexPopupAdView>,
                         public ScrollViewDelegate {
 public:
  // The appearing animation's curve and durations (bottom sheet, dialog), and the closing one's.
  static constexpr CubicTiming kAppearingCurve{0.6, 0, 0.35, 1};
  static constexpr CubicTiming kClosingCurve{0.76, 0, 0.24, 1};
  static constexpr double kAppearBottomSeconds = 0.6, kAppearCenterSeconds = 0.3;
  static constexpr double kCloseBottomSeconds = 0.65, kCloseCenterSeconds = 0.3;
  // Container corners; the dialog's narrowest creative width.
  static constexpr double kCornerRadius = 16, kMinimumCenterWidth = 240;

  // Builds the layout for `type` from the SDK's resources; none when it cannot be built.
  static std::shared_ptr<OrvexPopupAdView> make(UserInterface& ui, AdUnitPopupFormat type);
  ~OrvexPopupAdView() override;

  // The root view (full window, clear background).
  const std::shared_ptr<View>& view() const { return root_; }
  const std::shared_ptr<ScrollView>& scrollView() const { return scroll_; }
  const BuiltLayout& layout() const { return layout_; }

  // Roles and the kept bar from the template and close-button position, colours (the window's
  // interface style, then the host's), texts, dim, the container's corners; wires taps, the
  // carousel's delegate and its pan.
  void configure(const PopupOptions& options, std::optional<std::uint32_t> backgroundColor,
                 std::optional<std::uint32_t> hideForTodayTextColor,
                 std::optional<std::uint32_t> closeTextColor,
                 std::optional<std::uint32_t> ctaTextColor);
  // The carousel's width:height becomes the creative's; a dialog shows narrow creatives at least
  // 240 points wide and pins the size when it fits the screen.
  void setCreativeSize(std::optional<CreativeSize> size);
  // The appearing animation for the configured type.
  void animateIn();
  void setPages(std::vector<AdRes> ads, std::vector<std::shared_ptr<PassthroughWebView>> webViews);
  // Stops rolling and animates out; then onDismissView and removal from the superview. Once.
  void close();

  void setRollingTimer(std::shared_ptr<OrvexPopupAdRollingTimer> timer);
  const std::shared_ptr<OrvexPopupAdRollingTimer>& rollingTimer() const { return rollingTimer_; }
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

  int currentIndex() const { return currentIndex_; }
  int maxPage() const { return maxPage_; }
  bool onAnimationCompleted() const { return onAnimationCompleted_; }
  AdUnitPopupFormat type() const { return type_; }

  // The elements playing each role after configure (none where no element plays it).
  struct Roles {
    std::shared_ptr<Button> ctaButton, closeButton, hideForTodayButton;
    std::shared_ptr<Label> ctaLabel, closeLabel, hideForTodayLabel;
  };
  const Roles& roles() const { return roles_; }
  // Where the outside bar sits against the container.
  enum class OutsideBar { none, above, below };
  OutsideBar outsideBarPlacement() const { return outsideBar_; }

  // Whether a creative plays video (its page then stops the carousel while it plays).
  static bool isVideoCreative(const AdRes& ad);

  // ---- ScrollViewDelegate (the carousel's) ----
  void scrollViewDidScroll(ScrollView& scrollView) override;
  void scrollViewWillBeginDragging(ScrollView& scrollView) override;
  void scrollViewDidEndDragging(ScrollView& scrollView, bool willDecelerate) override;
  void scrollViewDidEndDecelerating(ScrollView& scrollView) override;
  void scrollViewDidEndScrollingAnimation(ScrollView& scrollView) override;

 private:
  struct Platform;
  OrvexPopupAdView(BuiltLayout layout, AdUnitPopupFormat type, std::shared_ptr<Platform> platform);

  template <typename T>
  std::shared_ptr<T> element(const char* id) const {
    return layout_.element<T>(id);
  }
  bool darkStyle() const;
  bool applicationIsActive() const;
  Size pageSize() const;
  // Sizes and places the container and the outside bar in the root's bounds.
  void layoutContainer();
  // The carousel's layout pass: page frames, three slots, offset in the middle.
  void layoutPages();
  void placePages();
  void settle();
  void showPageIndex();
  void updateCTAText();
  void activateCurrentPage();
  void playVideo(int index);
  void registerMessageHandler(std::size_t index);
  void handlePan(PanState state);
  void tapClose();
  void tapBackground();
  void tapHideForToday();
  void tapCTA();
  void startRolling();
  void stopRolling();

  SimpleLogger logger_{"OrvexPopupAdView"};
  BuiltLayout layout_;
  std::shared_ptr<Platform> platform_;
  LocalizedStrings strings_;
  std::shared_ptr<View> root_;
  std::shared_ptr<ScrollView> scroll_;
  std::shared_ptr<View> container_, dim_, actionBar_, actionBarOutside_;
  Roles roles_;
  OutsideBar outsideBar_ = OutsideBar::none;
  bool insideBarKept_ = true;
  // The carousel's width / height (the creative's), and the dialog's pinned size.
  double ratio_ = 1;
  std::optional<Size> pinnedSize_;

  bool onAnimationCompleted_ = false;
  bool closing_ = false;
  std::shared_ptr<ViewAnimator> animator_;
  std::shared_ptr<OrvexPopupAdRollingTimer> rollingTimer_;
  std::unique_ptr<Timer> visibilityTimer_;
  AdUnitPopupFormat type_ = AdUnitPopupFormat::BOTTOM;
  PopupOptions options_;
  std::vector<std::shared_ptr<PassthroughWebView>> webViews_;
  int currentIndex_ = 0;
  int maxPage_ = 0;
  int nextPage_ = -1;
  std::vector<AdRes> ads_;
  std::map<std::string, std::shared_ptr<ScriptMessageHandler>> orvexMessageHandlers_;
  int panToken_ = 0;
  bool panHooked_ = false;
  // Counts pans, so a page re-enabled after one is not re-enabled during the next.
  unsigned panGeneration_ = 0;
};

}  // namespace orvex
