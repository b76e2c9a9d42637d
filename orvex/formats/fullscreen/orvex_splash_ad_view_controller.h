#pragma once
// The launch screen: the host makes it the window's root view controller at start and names the
// controller to hand over to (mainViewController). It shows the host's logo and background, the
// splash ad's image as soon as one is ready, counts the impression half a second after it has
// appeared (not when the application went to the background or is inactive) and, after the
// display duration, swaps the window's root view controller with a 0.3 s cross-dissolve. Without
// an ad it hands over as soon as it has appeared. The host hears onAdReceived, onAdImpression and
// onAdClose(impressed) through the ad's delegate (`delegate`) or its closures (`splashAd()`).
//
// It never holds the start up beyond the request time-out it is given: the stored ad's image is
// read and decoded off the main thread, and a request's answer past the time-out is ignored.
//
// Ownership: create() returns a handle owning the port's controller, which owns this screen (and
// its ad); the window holding the controller as its root keeps the screen, so the host may let
// the handle go once it has set the root. Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "orvex/core/simple_logger.h"
#include "orvex/formats/fullscreen/orvex_splash_ad.h"
#include "orvex/platform/subscription.h"
#include "orvex/platform/view.h"

namespace orvex {

struct BuiltLayout;

class ORVEX_API OrvexSplashAdViewController
    : public std::enable_shared_from_this<OrvexSplashAdViewController>,
      public AppearanceObserver {
 public:
  static constexpr const char* kLayoutName = "OrvexSplashAdViewController";
  static constexpr double kImpressionDelaySeconds = 0.5;
  static constexpr double kHandOverSeconds = 0.3;

  // Creates the ad and loads it at once. None on a port without a screen.
  static std::shared_ptr<OrvexSplashAdViewController> create(std::string unitId,
                                                             double adRequestTimeout);
  OrvexSplashAdViewController(const OrvexSplashAdViewController&) = delete;
  OrvexSplashAdViewController& operator=(const OrvexSplashAdViewController&) = delete;
  ~OrvexSplashAdViewController() override;

  // What the host puts in its window.
  std::shared_ptr<ViewController> viewController() const { return controller_.lock(); }

  // 0xRRGGBBAA; none: the system's background (white, black in dark style).
  std::optional<std::uint32_t> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<std::uint32_t> rgba);
  const std::optional<Image>& logoImage() const { return logoImage_; }
  void setLogoImage(std::optional<Image> image);
  const std::shared_ptr<ViewController>& mainViewController() const { return mainViewController_; }
  void setMainViewController(std::shared_ptr<ViewController> controller) {
    mainViewController_ = std::move(controller);
  }

  // Seconds the ad stays: the server's splashCloseTime when the ad has one, else the host's
  // (1.0 by default); both within [0.5, 3.0]. Setting a value outside clamps it and says so in
  // the log; `setTimeout` is the same value, and says so on standard output.
  double displayDuration() const;
  void setDisplayDuration(double seconds);
  double timeout() const { return displayDuration(); }
  void setTimeout(double seconds);

  std::shared_ptr<ImageView> logoImageView() const { return logoImageView_.lock(); }
  std::shared_ptr<ImageView> adImageView() const { return adImageView_.lock(); }
  const std::shared_ptr<OrvexSplashAd>& splashAd() const { return splashAd_; }
  std::shared_ptr<OrvexSplashAdDelegate> delegate() const { return splashAd_->delegate(); }
  void setDelegate(std::weak_ptr<OrvexSplashAdDelegate> delegate) {
    splashAd_->setDelegate(std::move(delegate));
  }

  // Hands over to mainViewController now (once: later calls, and the display's own end, do
  // nothing more).
  void close();
  bool isImpressed() const { return impressed_; }

  void viewDidAppear(bool animated) override;

 private:
  explicit OrvexSplashAdViewController(std::shared_ptr<OrvexSplashAd> ad);
  void build(UserInterface& ui);
  void watchAd();
  void adSettled();
  void showAdImage();
  void layoutAdImage();
  void applyAppearance();
  void appeared();
  void startDisplay();
  void handOver();

  SimpleLogger logger_{"OrvexSplashAdViewController"};
  std::optional<std::uint32_t> backgroundColor_;
  std::optional<Image> logoImage_;
  std::shared_ptr<ViewController> mainViewController_;
  double displayDuration_ = splash::kDefaultDisplayDuration;
  bool impressed_ = false;
  std::weak_ptr<ImageView> logoImageView_;
  std::weak_ptr<ImageView> adImageView_;
  std::shared_ptr<OrvexSplashAd> splashAd_;
  Subscription loading_;
  Subscription background_;
  bool noFill_ = false;
  bool didEnterBackground_ = false;
  bool appeared_ = false;
  bool displayStarted_ = false;
  bool handedOver_ = false;
  std::weak_ptr<ViewController> controller_;
  std::unique_ptr<BuiltLayout> layout_;  // none when the screen was built without the resource
};

}  // namespace orvex
