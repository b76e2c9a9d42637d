#pragma once
// The splash ad: one full-screen image shown while the application starts. Start-up cannot wait
// for the network, so the ad comes from the splash cache, refilled in the background for the
// next start; only when there is no usable stored list and the host allowed a request time-out
// does it ask the server at once, bounded by that time-out. Hosts never make one: the launch
// screen (OrvexSplashAdViewController) and the image view (OrvexSplashAdView) each own one.
//
// Threads: main thread. Completions hop to the main queue before they touch anything; every host
// callback is posted there, and none reaches an ad that is gone.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvex/core/codes.h"
#include "orvex/core/simple_logger.h"
#include "orvex/formats/fullscreen/orvex_splash_ad_cache.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/geometry.h"
#include "orvex/platform/image.h"
#include "orvex/platform/subscription.h"

namespace orvex {

class OrvexSplashAd;
class OrvexSplashAdView;
class OrvexSplashAdViewController;
struct ServerError;

// The host's side; every operation is optional.
class ORVEX_API OrvexSplashAdDelegate {
 public:
  virtual ~OrvexSplashAdDelegate() = default;
  virtual void onAdReceived(OrvexSplashAd& /*ad*/) {}
  virtual void onAdFailedToReceive(OrvexSplashAd& /*ad*/, OrvexErrorCode /*errorCode*/) {}
  virtual void onAdImpression(OrvexSplashAd& /*ad*/) {}
  virtual void onAdClose(OrvexSplashAd& /*ad*/, bool /*impressed*/) {}
};

namespace splash {
inline constexpr double kMinDisplayDuration = 0.5;
inline constexpr double kMaxDisplayDuration = 3.0;
inline constexpr double kDefaultDisplayDuration = 1.0;
// How long a start waits for the stored ad's image to be read and decoded from the file cache
// (no network involved): whatever the host's request time-out, even 0.
inline constexpr double kCachedImageWaitSeconds = 0.5;
// Clamps to [0.5, 3.0]; `outOfRange` tells whether it had to.
double clampDisplayDuration(double seconds, bool* outOfRange = nullptr);
// Where `image` goes in `area` with its proportions kept, centred (aspect fit); none for an empty
// image or area.
std::optional<Rect> aspectFit(const Image& image, Size area);
}  // namespace splash

class ORVEX_API OrvexSplashAd : public std::enable_shared_from_this<OrvexSplashAd> {
 public:
  using Callback = std::function<void(OrvexSplashAd&)>;
  using FailureCallback = std::function<void(OrvexSplashAd&, OrvexErrorCode)>;
  using CloseCallback = std::function<void(OrvexSplashAd&, bool impressed)>;

  // Made by a presenter, which then loads it. Creating it loads the stored list and starts
  // fetching this start's image. A time-out of 0 or less asks the server nothing at once.
  static std::shared_ptr<OrvexSplashAd> create(std::string unitId, double adRequestTimeout);
  OrvexSplashAd(const OrvexSplashAd&) = delete;
  OrvexSplashAd& operator=(const OrvexSplashAd&) = delete;
  ~OrvexSplashAd();

  std::shared_ptr<OrvexSplashAdDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<OrvexSplashAdDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  // Closure twins of the delegate's operations, called after it.
  Callback onAdReceived;
  FailureCallback onAdFailedToReceive;
  Callback onAdImpression;
  CloseCallback onAdClose;

  const std::string& unitId() const { return unitId_; }
  std::string txId() const;
  std::string campaignId() const;
  std::string destinationURL() const;
  std::string creativeId() const;
  std::optional<Image> adImage() const { return cache_->adImage(); }
  bool readyToShow() const { return cache_->adImage().has_value(); }
  // An image is ready and was announced (or is being announced) as received.
  bool isLoaded() const { return loaded_; }
  // The start is still waiting: for the stored image from disk, or for the bounded request.
  bool isLoading() const { return isLoading_; }
  double adRequestTimeout() const { return adRequestTimeout_; }
  // What the selected ad asks for (its splashCloseTime, clamped), if anything.
  std::optional<double> serverDisplayDuration() const;
  const std::shared_ptr<OrvexSplashAdCache>& cache() const { return cache_; }

  // Told of each change of isLoading, on the main thread, while the subscription is held.
  Subscription observeLoading(std::function<void(bool isLoading)> observer);

  // The one exit to the host (and, for impressions, to the service); posted to the main queue.
  void notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error = std::nullopt,
              bool impressed = false);
  // The same at once, for a step that already runs as a main-queue task of its own (a
  // transition's completion) and holds the ad itself.
  void deliver(OrvexMetricCode code, std::optional<OrvexErrorCode> error, bool impressed);

 private:
  friend class OrvexSplashAdView;
  friend class OrvexSplashAdViewController;
  OrvexSplashAd(std::string unitId, double adRequestTimeout);

  // Run once by the presenter right after creation.
  void load();
  void awaitCachedImage();
  void cachedImageRead();
  void requestNow();
  void completeRequest(std::optional<std::vector<AdRes>> ads, std::optional<ServerError> error);
  void requestedImageArrived(std::optional<Image> image);
  void refreshInBackground();
  void boundPassed();
  // Ends the wait (the stored image's or the request's) with an image, or with `error`.
  void settle(std::optional<OrvexErrorCode> error);
  void setLoading(bool loading);

  SimpleLogger logger_{"OrvexSplashAd"};
  std::weak_ptr<OrvexSplashAdDelegate> delegate_;
  const std::string unitId_;
  std::shared_ptr<OrvexSplashAdCache> cache_;
  bool loaded_ = false;
  bool isLoading_ = false;
  bool requestAdOnce_ = true;
  const double adRequestTimeout_;
  std::unique_ptr<Timer> adRequestTimeoutTimer_;
  bool adRequestTimeoutExpired_ = false;
  // Judged before this start rewrote the stored list (which renews its date).
  bool storedListStale_ = true;
  OrvexSplashAdCache::ImageSource imageSource_ = OrvexSplashAdCache::ImageSource::none;
  bool cachedImageDone_ = false;
  // What the running wait is for; nothing once it has settled.
  enum class Wait { none, cachedImage, request } waiting_ = Wait::none;
  int nextObserver_ = 0;
  std::vector<std::pair<int, std::function<void(bool)>>> loadingObservers_;
};

}  // namespace orvex
