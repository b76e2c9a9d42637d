#pragma once
// The screen logic of one popup, between OrvexPopupAd and its view: one page (web view and page
// controller) per creative with HTML, all loading as soon as it is made; on show() the popup view
// over the first window of the first scene, with its rolling and visibility timers; page and view
// events turned into metric reports and into events for the popup. Not a platform view
// controller: it adds its view to the window itself.
//
// Main thread only. Timers, page callbacks and the view's closures hold it weakly.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/core/codes.h"
#include "orvex/core/simple_logger.h"
#include "orvex/server/ad_response.h"
#include "orvex/web/passthrough_web_view.h"

namespace orvex {

class OrvexPopupAdView;
class OrvexPopupWebViewController;

// How the controller reaches its popup for the taps that concern the host directly (the popup's
// close delegate and its hide-for-today memory). The name is the one hosts of the phone platform
// know.
class ORVEX_API OrvexPopupAdViewControlelrDelegate {
 public:
  virtual ~OrvexPopupAdViewControlelrDelegate() = default;
  virtual void popupAdViewControllerDidClickClose() = 0;
  virtual void popupAdViewControllerDidClickDim() = 0;
  // `ad`: the creative on screen, none when the page index was out of range.
  virtual void popupAdViewControllerDidClickHideForToday(const std::optional<AdRes>& ad) = 0;
};

class OrvexPopupAdViewController : public std::enable_shared_from_this<OrvexPopupAdViewController> {
 public:
  using Notify = std::function<void(OrvexMetricCode code, std::optional<OrvexErrorCode> error,
                                    std::optional<AdRes> ad)>;
  static constexpr double kVisibilityCheckSeconds = 1.0;

  // Starts loading every creative's page.
  static std::shared_ptr<OrvexPopupAdViewController> create(std::string unitId,
                                                            std::vector<AdRes> ads, Notify notify);
  ~OrvexPopupAdViewController();
  OrvexPopupAdViewController(const OrvexPopupAdViewController&) = delete;
  OrvexPopupAdViewController& operator=(const OrvexPopupAdViewController&) = delete;

  // The options a unit of `format` gets when its first creative brings none.
  static PopupOptions defaultOptions(AdUnitFormat format);

  // Lays the popup over the first window of the first scene and animates it in: willOpen, then
  // open. Without a window or a layout nothing is shown and nothing is reported.
  void show();

  // Animates the popup out (willClose now, close once it is gone); nothing when it is not up or
  // already closing.
  void close();

  // The view's events (also what its closures call).
  void clickPage(int index);
  void hideForToday(int index);
  void closeClicked();
  void dimClicked();
  void dismissed();

  std::weak_ptr<OrvexPopupAdViewControlelrDelegate> delegate;
  std::optional<std::uint32_t> backgroundColor;
  std::optional<std::uint32_t> hideForTodayTextColor;
  std::optional<std::uint32_t> closeTextColor;
  std::optional<std::uint32_t> ctaTextColor;
  // Clicks are reported, and nothing is opened.
  bool useCustomClick = false;

  const std::string& unitId() const { return unitId_; }
  const std::vector<AdRes>& ads() const { return ads_; }
  // Set once shown.
  const std::shared_ptr<OrvexPopupAdView>& view() const { return view_; }
  const std::vector<std::shared_ptr<PassthroughWebView>>& webViews() const { return webViews_; }
  const std::vector<std::shared_ptr<OrvexPopupWebViewController>>& pages() const {
    return webViewControllers_;
  }

 private:
  OrvexPopupAdViewController(std::string unitId, std::vector<AdRes> ads, Notify notify);
  void loadPages();
  void pageEvent(OrvexMetricCode code, const AdRes& ad);
  void report(OrvexMetricCode code, std::optional<OrvexErrorCode> error = std::nullopt,
              std::optional<AdRes> ad = std::nullopt);
  void wire();

  SimpleLogger logger_{"OrvexPopupAdViewController"};
  const std::string unitId_;
  const std::vector<AdRes> ads_;
  std::shared_ptr<OrvexPopupAdView> view_;
  std::vector<std::shared_ptr<PassthroughWebView>> webViews_;
  std::vector<std::shared_ptr<OrvexPopupWebViewController>> webViewControllers_;
  const Notify notify_;
  // The view has begun its closing animation.
  bool closing_ = false;
};

}  // namespace orvex
