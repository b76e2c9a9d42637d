#pragma once
// The popup: one to several HTML creatives of one unit shown over the application's window, at
// the bottom or centred, with a dimmed background, close and hide-for-today buttons and, for
// several creatives, a paged carousel. load() asks for the unit's creatives, drops those hidden
// for today and keeps the first creative's limit; onAdReceived comes once the first page has
// loaded; show() then puts the popup on screen. Single use: one successful load, one show.
//
// Hide for today is remembered in the store suite "io.orvex.popup-ad" by local calendar day, for
// the whole unit or for one campaign, until local midnight.
//
// Threads: main thread for everything; every host callback is posted there (delegate first, then
// closure) and none reaches a popup the host has let go.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/core/codes.h"
#include "orvex/core/simple_logger.h"
#include "orvex/formats/fullscreen/fullscreen_ad.h"
#include "orvex/formats/popup/orvex_popup_ad_view_controller.h"
#include "orvex/platform/dispatch.h"
#include "orvex/server/ad_response.h"
#include "orvex/server/server_error.h"

namespace orvex {

class OrvexPopupAd;

// onAdReceived and onAdFailedToReceive are required; the others are called where overridden.
using OrvexPopupAdDelegate = FullScreenAdDelegate<OrvexPopupAd>;

// The popup's close-related taps; all optional.
class ORVEX_API OrvexPopupAdCloseDelegate {
 public:
  virtual ~OrvexPopupAdCloseDelegate() = default;
  // The close button.
  virtual void onClosed(OrvexPopupAd& /*popup*/) {}
  // A tap on the dimmed background that closed the popup.
  virtual void onDimClicked(OrvexPopupAd& /*popup*/) {}
  // The hide-for-today button.
  virtual void onTodayOffClicked(OrvexPopupAd& /*popup*/) {}
};

class ORVEX_API OrvexPopupAd : public std::enable_shared_from_this<OrvexPopupAd>,
                               public OrvexPopupAdViewControlelrDelegate {
 public:
  using Callback = std::function<void(OrvexPopupAd&)>;
  using FailureCallback = std::function<void(OrvexPopupAd&, OrvexErrorCode)>;

  static constexpr const char* kStoreSuite = "io.orvex.popup-ad";
  // + unit id
  static constexpr const char* kHideForTodayKeyPrefix = "orvex_popup_ad_hide_for_today";
  // + unit id + "_" + the creative's whole cpId
  static constexpr const char* kHideThisTodayKeyPrefix = "hide_this_today";

  static std::shared_ptr<OrvexPopupAd> create(std::string unitId);
  ~OrvexPopupAd() override;
  OrvexPopupAd(const OrvexPopupAd&) = delete;
  OrvexPopupAd& operator=(const OrvexPopupAd&) = delete;

  // Asks for the unit's creatives; the outcome arrives as onAdReceived (the first page loaded) or
  // onAdFailedToReceive. Refused while the unit is hidden for today and once a load succeeded.
  void load();
  // Puts the loaded popup on screen over the first window of the application's first scene; the
  // controller argument is not needed for that and may be none.
  void show(const std::shared_ptr<ViewController>& rootViewController = nullptr);
  // Opens `url`, or the landing page of the creative last seen or clicked when absent (hosts with
  // custom clicks).
  void open(const std::optional<std::string>& url, bool useInAppBrowser);
  // Animates the popup out; willDismiss and didDismiss follow.
  void close();

  std::shared_ptr<OrvexPopupAdDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<OrvexPopupAdDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  std::shared_ptr<OrvexPopupAdCloseDelegate> closeDelegate() const { return closeDelegate_.lock(); }
  void setCloseDelegate(std::weak_ptr<OrvexPopupAdCloseDelegate> delegate) {
    closeDelegate_ = std::move(delegate);
  }

  Callback onAdReceived;
  FailureCallback onAdFailedToReceive;
  Callback onAdImpression;
  Callback onAdClicked;
  Callback onAdWillPresentFullScreen;
  Callback onAdDidPresentFullScreen;
  Callback onAdWillDismissFullScreen;
  Callback onAdDidDismissFullScreen;
  FailureCallback onAdFailedToShowFullScreen;
  Callback onClosed;
  Callback onDimClicked;
  Callback onTodayOffClicked;

  // Copied into the popup's screen when a load prepares it (later changes do not reach it).
  std::optional<std::uint32_t> backgroundColor;
  std::optional<std::uint32_t> hideForTodayTextColor;
  std::optional<std::uint32_t> closeTextColor;
  std::optional<std::uint32_t> ctaTextColor;

  // The host opens landing pages itself (open()); clicks are still reported. Two names, one flag.
  bool useCustomClick() const { return useCustomClick_; }
  void setUseCustomClick(bool custom);
  bool handleAdClickCustom() const { return useCustomClick_; }
  void setHandleAdClickCustom(bool custom) { setUseCustomClick(custom); }

  const std::string& unitId() const { return adUnit_.id; }
  bool isLoaded() const { return loaded_; }
  // The creative last seen or clicked.
  const std::string& txId() const { return txId_; }
  const std::string& campaignId() const { return cpId_; }
  // "" when it has none (as the other formats read it).
  std::string destinationURL() const { return destinationURL_.value_or(""); }
  std::string creativeId() const { return creativeId_.value_or(""); }
  // The creatives of the last response, in order.
  const std::vector<std::string>& txIds() const { return txIds_; }
  const std::vector<std::string>& campaignIds() const { return cpIds_; }
  std::vector<std::string> creativeIds() const;

  // The prepared screen, for tests and tools.
  const std::shared_ptr<OrvexPopupAdViewController>& popupAdViewController() const {
    return popupAdViewController_;
  }

 private:
  explicit OrvexPopupAd(std::string unitId);

  void request();
  void completeLoad(std::optional<std::vector<AdRes>> ads, std::optional<ServerError> error);
  void controllerEvent(OrvexMetricCode code, std::optional<OrvexErrorCode> error,
                       const std::optional<AdRes>& ad);
  void notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error);
  // Calls the close delegate's operation and then the closure, posted to the main queue.
  void notifyClose(void (OrvexPopupAdCloseDelegate::*operation)(OrvexPopupAd&),
                   Callback OrvexPopupAd::*closure);
  bool isHiddenForToday(const std::string& key) const;
  void markHiddenForToday(const std::string& key) const;
  std::string campaignKey(const AdRes& ad) const;

  // OrvexPopupAdViewControlelrDelegate
  void popupAdViewControllerDidClickClose() override;
  void popupAdViewControllerDidClickDim() override;
  void popupAdViewControllerDidClickHideForToday(const std::optional<AdRes>& ad) override;

  SimpleLogger logger_{"OrvexPopupAd"};
  std::weak_ptr<OrvexPopupAdDelegate> delegate_;
  std::weak_ptr<OrvexPopupAdCloseDelegate> closeDelegate_;
  std::string txId_;
  std::string cpId_;
  std::optional<std::string> destinationURL_;
  bool useCustomClick_ = false;
  std::optional<std::string> creativeId_;
  const AdUnit adUnit_;
  bool loaded_ = false;
  bool isLoading_ = false;
  bool isShown_ = false;
  std::vector<std::string> txIds_;
  std::vector<std::string> cpIds_;
  std::shared_ptr<OrvexPopupAdViewController> popupAdViewController_;
};

}  // namespace orvex
