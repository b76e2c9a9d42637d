#pragma once
// The inline banner: a view the host places in its own layout. One load() asks the server for
// one creative of the unit and shows it in a web view that fills the banner; the banner counts
// one impression per creative, plays videos and rolls carousels only while they can be seen,
// turns link taps into clicks and opens the landing page. No automatic refresh: a new creative
// comes only with the next load().
//
// Threads: create, load, open and every accessor on the main thread; every host callback
// arrives there too, posted (never from inside load()). A banner released while work is pending
// receives nothing more.
//
// Ownership: the host owns the banner and places view() in its hierarchy. Releasing the banner
// stops its trackers and takes its view out of the hierarchy, so a page whose taps nobody
// handles is never left on screen.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "orvex/core/codes.h"
#include "orvex/core/orvex_internal.h"
#include "orvex/core/simple_logger.h"
#include "orvex/measurement/video_visibility_tracker.h"
#include "orvex/measurement/visibility_tracker.h"
#include "orvex/platform/geometry.h"
#include "orvex/platform/web_view.h"
#include "orvex/server/ad_response.h"

namespace orvex {

class BackgroundReloadManager;
class OrvexBanner;

class ORVEX_API OrvexBannerDelegate {
 public:
  virtual ~OrvexBannerDelegate() = default;
  virtual void onAdReceived(OrvexBanner& banner) = 0;
  virtual void onAdFailedToReceive(OrvexBanner& banner, OrvexErrorCode errorCode) = 0;
  virtual void onAdImpression(OrvexBanner& /*banner*/) {}
  virtual void onAdClicked(OrvexBanner& /*banner*/) {}
};

// Size classes hosts may use for their own layout; the SDK gives them no geometry.
enum class OrvexBannerSize { H50, H80, H100 };
ORVEX_API std::optional<OrvexBannerSize> orvexBannerSizeFromRaw(std::string_view raw);
ORVEX_API std::string rawValue(OrvexBannerSize size);

class ORVEX_API OrvexBanner : public std::enable_shared_from_this<OrvexBanner>,
                              public BannerInternalAccess,
                              public VisibilityTrackerDelegate,
                              public VideoVisibilityTrackerDelegate,
                              public CarouselVisibilityTrackerDelegate,
                              public WebViewNavigationDelegate {
 public:
  using Callback = std::function<void(OrvexBanner&)>;
  using FailureCallback = std::function<void(OrvexBanner&, OrvexErrorCode)>;

  static std::shared_ptr<OrvexBanner> create(std::string unitId, std::string contextId);
  ~OrvexBanner() override;
  OrvexBanner(const OrvexBanner&) = delete;
  OrvexBanner& operator=(const OrvexBanner&) = delete;

  // What the host places in its hierarchy; absent on a port without a screen.
  std::shared_ptr<View> view() const { return view_; }

  std::shared_ptr<OrvexBannerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<OrvexBannerDelegate> delegate) { delegate_ = std::move(delegate); }
  // Closure twins of the delegate's operations, called after it.
  Callback onAdReceived;
  FailureCallback onAdFailedToReceive;
  Callback onAdImpression;
  Callback onAdClicked;

  std::string txId() const { return txId_; }
  std::string campaignId() const { return cpId_; }
  std::string unitId() const override { return unitId_; }
  std::string contextId() const override { return contextId_; }
  std::string id() const { return unitId_; }
  // The current creative's landing page, replaced by the last link tapped in it.
  std::optional<std::string> destinationURL() const { return destinationURL_; }
  std::string creativeId() const;
  // (0, 0) until a creative with a size has been received.
  Size creativeSize() const;
  bool isBackfilled() const;
  // Two names for one switch: when on, taps are reported but the host opens the page itself
  // (with open()).
  bool useCustomClick() const { return useCustomClick_; }
  void setUseCustomClick(bool value) { useCustomClick_ = value; }
  bool handleAdClickCustom() const { return useCustomClick_; }
  void setHandleAdClickCustom(bool value) { useCustomClick_ = value; }

  void load();
  // Opens `url` (or the current landing page) from the screen that shows the banner.
  virtual void open(const std::optional<std::string>& url, bool useInAppBrowser);

  // For tests and tools that look at what is shown.
  const std::optional<std::string>& creative() const { return creative_; }
  const std::optional<AdRes>& ad() const { return ad_; }
  bool isVideoAd() const { return isVideoAd_; }
  bool isCarousel() const { return isCarousel_; }
  std::shared_ptr<WebView> webView() const { return webView_; }

 protected:
  OrvexBanner(std::string unitId, std::string contextId);
  // Builds the views and trackers; a subclass's factory calls it once the object is owned by a
  // shared_ptr (it hands out weak references to itself).
  void setUp();
  // Quest banners request another unit format.
  AdUnitFormat format_ = AdUnitFormat::banner;
  SimpleLogger logger_{"OrvexBanner"};

 private:
  // ---- backfill module (BannerInternalAccess): main thread, except internalDisplay ----
  std::string internalTxId() const override { return txId_; }
  void setInternalTxId(const std::string& value) override { txId_ = value; }
  std::string internalCpId() const override { return cpId_; }
  void setInternalCpId(const std::string& value) override { cpId_ = value; }
  bool internalLoaded() const override { return creative_.has_value(); }
  void setInternalLoaded(bool) override {}
  bool internalIsLoading() const override { return false; }
  void setInternalIsLoading(bool) override {}
  void internalNotify(OrvexMetricCode code, std::optional<OrvexErrorCode> error) override {
    notify(code, error);
  }
  std::optional<AdRes> internalAd() const override { return ad_; }
  void setInternalAd(std::optional<AdRes> ad) override { ad_ = std::move(ad); }
  std::optional<std::string> internalDestinationURL() const override { return destinationURL_; }
  void setInternalDestinationURL(std::optional<std::string> url) override {
    destinationURL_ = std::move(url);
  }
  void internalDisplay(const std::string& creative) override { display(creative); }

  // ---- trackers and page ----
  void didBecomeVisible(VisibilityTracker& tracker) override;
  void didBecomeVisible(VideoVisibilityTracker& tracker) override;
  void didBecomeInvisible(VideoVisibilityTracker& tracker) override;
  void didBecomeVisible(CarouselVisibilityTracker& tracker) override;
  void didBecomeInvisible(CarouselVisibilityTracker& tracker) override;
  void decidePolicy(WebView& webView, const NavigationAction& action,
                    std::function<void(NavigationPolicy)> decide) override;
  void didFinish(WebView& webView) override;
  void requestsNewWindow(WebView& webView, const NavigationAction& action) override;

  void request();
  OrvexInternal::AdCompletion adCompletionHandler();
  void completeLoad(std::optional<AdRes> ad, std::optional<ServerError> error);
  void display(const std::string& creative);
  // A click on `url` (ad_navigation decided it was one): opens it, reports it.
  void handleClick(const std::string& url);
  void setCarouselRolling(bool visible);
  void setVideoPlaying(bool visible);
  void stopTrackers();
  bool hasImpression() const;
  void notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error);

  std::weak_ptr<OrvexBannerDelegate> delegate_;
  std::optional<std::string> destinationURL_;
  bool useCustomClick_ = false;
  std::shared_ptr<View> view_;
  std::shared_ptr<WebView> webView_;
  std::shared_ptr<VisibilityTracker> visibilityTracker_;
  std::shared_ptr<VideoVisibilityTracker> videoVisibilityTracker_;
  std::shared_ptr<CarouselVisibilityTracker> carouselVisibilityTracker_;
  std::map<std::string, bool> impressionIds_;
  std::string txId_;
  std::string cpId_;
  const std::string unitId_;
  const std::string contextId_;
  std::optional<std::string> creative_;
  std::optional<AdRes> ad_;
  bool isVideoAd_ = false;
  bool isCarousel_ = false;
  std::shared_ptr<BackgroundReloadManager> backgroundReloadManager_;
  OrvexInternal::AdCompletion adCompletionHandler_;
};

}  // namespace orvex
