#include "orvex/formats/fullscreen/orvex_splash_ad_view_controller.h"

#include <cstdio>
#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/formats/fullscreen/fullscreen_screen.h"
#include "orvex/formats/layout_resource.h"
#include "orvex/platform/lifecycle.h"

namespace orvex {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kBlack = 0x000000FF;
constexpr const char* kInvalidDisplayDuration =
    "Invalid displayDuration value. It must be between 0.5 and 3.0 seconds.";

}  // namespace

std::shared_ptr<OrvexSplashAdViewController> OrvexSplashAdViewController::create(
    std::string unitId, double adRequestTimeout) {
  const auto& ui = Orvex::shared().platform().ui;
  auto controller = ui ? ui->makeViewController(ViewControllerKind::plain) : nullptr;
  if (!controller) return nullptr;
  std::shared_ptr<OrvexSplashAdViewController> screen(
      new OrvexSplashAdViewController(OrvexSplashAd::create(std::move(unitId), adRequestTimeout)));
  screen->controller_ = controller;
  auto handle = fullscreen::adopt(controller, screen);
  screen->build(*ui);
  screen->splashAd_->load();
  std::weak_ptr<OrvexSplashAdViewController> weak = screen;
  if (const auto& lifecycle = Orvex::shared().platform().lifecycle) {
    screen->background_ = lifecycle->observe(AppNotification::didEnterBackground, [weak] {
      if (auto self = weak.lock()) self->didEnterBackground_ = true;
    });
  }
  screen->watchAd();
  return handle;
}

OrvexSplashAdViewController::OrvexSplashAdViewController(std::shared_ptr<OrvexSplashAd> ad)
    : splashAd_(std::move(ad)) {}

OrvexSplashAdViewController::~OrvexSplashAdViewController() {
  logger_.log("deinit");
}

void OrvexSplashAdViewController::build(UserInterface& ui) {
  auto controller = controller_.lock();
  auto root = controller->view();
  std::shared_ptr<ImageView> logo;
  std::shared_ptr<ImageView> ad;
  if (auto layout = buildLayout(ui, kLayoutName)) {
    logo = layout->element<ImageView>("logoImageView");
    ad = layout->element<ImageView>("adImageView");
    if (logo && ad && layout->root) {
      root->addSubview(layout->root);
      layout->root->setFillsSuperview(true);
      layout_ = std::make_unique<BuiltLayout>(std::move(*layout));
    }
  }
  if (!layout_) {
    // Without the resource the screen still works: the same two views, placed here.
    logger_.log(std::string("layout \"") + kLayoutName + "\" unusable; using the built-in one");
    logo = ui.makeImageView();
    ad = ui.makeImageView();
    root->addSubview(logo);
    root->addSubview(ad);
    ad->setHidden(true);
  }
  logoImageView_ = logo;
  adImageView_ = ad;
  controller->setPresentationStyle(PresentationStyle::fullScreen);
  controller->setPrefersStatusBarHidden(true);
  controller->setAppearanceObserver(std::weak_ptr<AppearanceObserver>(weak_from_this()));
  applyAppearance();

  // A root view controller gets no appearance callbacks of its own: the first layout pass inside
  // a window is when it has appeared.
  std::weak_ptr<OrvexSplashAdViewController> weak = weak_from_this();
  root->setLayoutHandler([weak] {
    auto self = weak.lock();
    if (!self) return;
    auto controller = self->controller_.lock();
    if (!controller) return;
    self->layoutAdImage();
    if (!self->appeared_ && controller->view()->window()) {
      ad_rules::onMainIfAlive<OrvexSplashAdViewController>(
          weak, [](OrvexSplashAdViewController& screen) { screen.appeared(); });
    }
  });
}

void OrvexSplashAdViewController::setBackgroundColor(std::optional<std::uint32_t> rgba) {
  backgroundColor_ = rgba;
  applyAppearance();
}

void OrvexSplashAdViewController::setLogoImage(std::optional<Image> image) {
  logoImage_ = std::move(image);
  applyAppearance();
}

void OrvexSplashAdViewController::applyAppearance() {
  auto controller = controller_.lock();
  if (!controller) return;
  auto root = controller->view();
  std::uint32_t color = kWhite;
  if (backgroundColor_) {
    color = *backgroundColor_;
  } else if (auto window = root->window();
             window && window->interfaceStyle() == InterfaceStyle::dark) {
    color = kBlack;
  }
  root->setBackgroundColor(color);
  if (auto logo = logoImageView_.lock()) {
    logo->setImage(logoImage_);
    logo->setHidden(!logoImage_);
  }
}

double OrvexSplashAdViewController::displayDuration() const {
  return splashAd_->serverDisplayDuration().value_or(displayDuration_);
}

void OrvexSplashAdViewController::setDisplayDuration(double seconds) {
  bool outOfRange = false;
  displayDuration_ = splash::clampDisplayDuration(seconds, &outOfRange);
  if (outOfRange) logger_.log(kInvalidDisplayDuration);
}

void OrvexSplashAdViewController::setTimeout(double seconds) {
  bool outOfRange = false;
  displayDuration_ = splash::clampDisplayDuration(seconds, &outOfRange);
  if (outOfRange) std::printf("%s\n", kInvalidDisplayDuration);
}

// Where the ad stands now: shown, awaited, or none at all.
void OrvexSplashAdViewController::watchAd() {
  if (splashAd_->isLoaded()) return showAdImage();
  if (!splashAd_->isLoading()) {
    noFill_ = true;
    return;
  }
  std::weak_ptr<OrvexSplashAdViewController> weak = weak_from_this();
  loading_ = splashAd_->observeLoading([weak](bool loading) {
    if (auto self = weak.lock(); self && !loading) self->adSettled();
  });
}

void OrvexSplashAdViewController::adSettled() {
  loading_.reset();
  if (splashAd_->isLoaded()) {
    showAdImage();
    if (appeared_) startDisplay();
    return;
  }
  noFill_ = true;
  if (appeared_) handOver();
}

void OrvexSplashAdViewController::showAdImage() {
  auto view = adImageView_.lock();
  auto image = splashAd_->adImage();
  if (!view || !image || handedOver_) return;
  view->setImage(image);
  view->setHidden(false);
  layoutAdImage();
}

// Aspect fit: the image keeps its proportions inside the screen, centred.
void OrvexSplashAdViewController::layoutAdImage() {
  auto controller = controller_.lock();
  auto view = adImageView_.lock();
  if (!controller || !view) return;
  const Size area = controller->view()->bounds().size;
  auto image = view->image();
  auto fit = image ? splash::aspectFit(*image, area) : std::nullopt;
  if (layout_) {
    LayoutRules rules;
    if (fit) {
      rules.width = fit->size.width;
      rules.height = fit->size.height;
    }
    if (layout_->rules("adImageView") != rules) layout_->setRules("adImageView", rules);
    return;
  }
  if (auto logo = logoImageView_.lock()) {
    logo->setFrame(Rect((area.width - 120) / 2, (area.height - 120) / 2, 120, 120));
  }
  view->setFrame(fit.value_or(Rect(0, 0, area.width, area.height)));
}

void OrvexSplashAdViewController::viewDidAppear(bool) {
  appeared();
}

void OrvexSplashAdViewController::appeared() {
  if (std::exchange(appeared_, true)) return;
  applyAppearance();
  if (noFill_) return handOver();
  if (splashAd_->isLoaded()) startDisplay();
}

void OrvexSplashAdViewController::startDisplay() {
  if (handedOver_ || std::exchange(displayStarted_, true)) return;
  auto main = Orvex::shared().platform().dispatcher->mainQueue();
  std::weak_ptr<OrvexSplashAdViewController> weak = weak_from_this();
  main->postAfter(secondsToDuration(kImpressionDelaySeconds), [weak] {
    auto self = weak.lock();
    if (!self || self->handedOver_ || self->didEnterBackground_ || self->impressed_) return;
    const auto& lifecycle = Orvex::shared().platform().lifecycle;
    if (lifecycle && lifecycle->state() != AppState::active) return;
    self->splashAd_->notify(OrvexMetricCode::adImpr);
    self->impressed_ = true;
  });
  main->postAfter(secondsToDuration(displayDuration()), [weak] {
    if (auto self = weak.lock()) self->handOver();
  });
}

void OrvexSplashAdViewController::close() {
  handOver();
}

void OrvexSplashAdViewController::handOver() {
  if (std::exchange(handedOver_, true)) return;
  loading_.reset();
  auto controller = controller_.lock();
  auto window = controller ? controller->view()->window() : nullptr;
  const bool impressed = impressed_;
  if (!window) {
    logger_.log("view.window = nil");
    return splashAd_->notify(OrvexMetricCode::close, std::nullopt, impressed);
  }
  if (window->rootViewController() == mainViewController_) {
    logger_.log("window.rootViewController == self.mainViewController already.");
    return splashAd_->notify(OrvexMetricCode::close, std::nullopt, impressed);
  }
  if (!mainViewController_) {
    logger_.log("mainViewController = nil, if you are using SwiftUI disregard this message.");
    return splashAd_->notify(OrvexMetricCode::close, std::nullopt, impressed);
  }
  // The swap lets this screen go at once; its ad stays for the 0.3 s of the dissolve, held by the
  // completion (a main-queue task of the port's), which tells the host the swap is done.
  window->transitionToRootViewController(
      mainViewController_, kHandOverSeconds, [ad = splashAd_, impressed] {
        ad->deliver(OrvexMetricCode::close, std::nullopt, impressed);
      });
}

}  // namespace orvex
