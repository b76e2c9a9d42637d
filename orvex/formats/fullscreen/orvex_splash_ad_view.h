#pragma once
// The splash ad as a view, for hosts that run their own launch flow: place `view()` anywhere (it
// fills its superview and shows the image aspect-fit, centred). It loads at creation; once the
// image is shown the visibility tracker counts the impression, and the ad closes half a second
// before the display duration has passed since then, so that the time on screen is about the
// display duration. On failure the delegate hears onAdFailedToReceive, then onAdClose(false).
//
// Ownership: the host owns this object, which owns its view and its ad. Main thread only.

#include <memory>
#include <string>

#include "orvex/core/simple_logger.h"
#include "orvex/formats/fullscreen/orvex_splash_ad.h"
#include "orvex/measurement/visibility_tracker.h"
#include "orvex/platform/view.h"

namespace orvex {

class OrvexSplashAdView;

// onAdClose is required; the others are optional.
class ORVEX_API OrvexSplashAdViewDelegate {
 public:
  virtual ~OrvexSplashAdViewDelegate() = default;
  virtual void onAdClose(OrvexSplashAdView& view, bool impressed) = 0;
  virtual void onAdReceived(OrvexSplashAdView& /*view*/) {}
  virtual void onAdFailedToReceive(OrvexSplashAdView& /*view*/, OrvexErrorCode /*errorCode*/) {}
  virtual void onAdImpression(OrvexSplashAdView& /*view*/) {}
};

class ORVEX_API OrvexSplashAdView : public std::enable_shared_from_this<OrvexSplashAdView>,
                                    public OrvexSplashAdDelegate,
                                    public VisibilityTrackerDelegate {
 public:
  // Creates the ad and loads it at once. None on a port without a screen.
  static std::shared_ptr<OrvexSplashAdView> create(std::string unitId, double adRequestTimeout);
  OrvexSplashAdView(const OrvexSplashAdView&) = delete;
  OrvexSplashAdView& operator=(const OrvexSplashAdView&) = delete;
  ~OrvexSplashAdView() override;

  // What the host places: it takes its superview's bounds.
  const std::shared_ptr<View>& view() const { return container_; }
  const std::shared_ptr<ImageView>& imageView() const { return imageView_; }

  std::shared_ptr<OrvexSplashAdViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<OrvexSplashAdViewDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  const std::shared_ptr<OrvexSplashAd>& ad() const { return ad_; }
  const std::string& unitId() const { return ad_->unitId(); }
  std::string creativeId() const { return ad_->creativeId(); }
  bool isClosed() const { return isClosed_; }
  bool isImpressed() const { return impressed_; }

  // As the launch screen's, within [0.5, 3.0]; a value outside is clamped and reported on
  // standard output.
  double displayDuration() const;
  void setDisplayDuration(double seconds);

  // ---- the ad's and the tracker's events ----
  void onAdReceived(OrvexSplashAd& ad) override;
  void onAdFailedToReceive(OrvexSplashAd& ad, OrvexErrorCode errorCode) override;
  void onAdImpression(OrvexSplashAd& ad) override;
  void onAdClose(OrvexSplashAd& ad, bool impressed) override;
  void didBecomeVisible(VisibilityTracker& tracker) override;

 private:
  explicit OrvexSplashAdView(std::shared_ptr<OrvexSplashAd> ad) : ad_(std::move(ad)) {}
  void layoutImage();

  SimpleLogger logger_{"OrvexSplashAdView"};
  std::weak_ptr<OrvexSplashAdViewDelegate> delegate_;
  std::shared_ptr<OrvexSplashAd> ad_;
  std::shared_ptr<VisibilityTracker> visibilityTracker_;
  bool impressed_ = false;
  bool isClosed_ = false;
  double displayDuration_ = splash::kDefaultDisplayDuration;
  std::shared_ptr<View> container_;
  std::shared_ptr<ImageView> imageView_;
};

}  // namespace orvex
