#include "orvex/formats/fullscreen/orvex_splash_ad_view.h"

#include <cstdio>

#include "orvex/core/orvex.h"

namespace orvex {

std::shared_ptr<OrvexSplashAdView> OrvexSplashAdView::create(std::string unitId,
                                                             double adRequestTimeout) {
  const auto& ui = Orvex::shared().platform().ui;
  if (!ui) return nullptr;
  std::shared_ptr<OrvexSplashAdView> self(
      new OrvexSplashAdView(OrvexSplashAd::create(std::move(unitId), adRequestTimeout)));
  self->container_ = ui->makeView();
  self->imageView_ = ui->makeImageView();
  self->container_->setBackgroundColor(0);
  self->container_->setFillsSuperview(true);
  self->container_->addSubview(self->imageView_);
  self->imageView_->setBackgroundColor(0);
  std::weak_ptr<OrvexSplashAdView> weak = self;
  self->container_->setLayoutHandler([weak] {
    if (auto view = weak.lock()) view->layoutImage();
  });
  self->visibilityTracker_ = VisibilityTracker::create();
  self->visibilityTracker_->setView(self->container_);
  self->visibilityTracker_->setDelegate(std::weak_ptr<VisibilityTrackerDelegate>(self));
  self->ad_->setDelegate(std::weak_ptr<OrvexSplashAdDelegate>(self));
  self->ad_->load();
  return self;
}

OrvexSplashAdView::~OrvexSplashAdView() = default;

double OrvexSplashAdView::displayDuration() const {
  return ad_->serverDisplayDuration().value_or(displayDuration_);
}

void OrvexSplashAdView::setDisplayDuration(double seconds) {
  bool outOfRange = false;
  displayDuration_ = splash::clampDisplayDuration(seconds, &outOfRange);
  if (outOfRange) std::printf("Invalid timeout value. It must be between 0.5 and 3.0 seconds.\n");
}

void OrvexSplashAdView::layoutImage() {
  const Size area = container_->bounds().size;
  auto image = imageView_->image();
  auto fit = image ? splash::aspectFit(*image, area) : std::nullopt;
  imageView_->setFrame(fit.value_or(Rect(0, 0, area.width, area.height)));
}

void OrvexSplashAdView::onAdReceived(OrvexSplashAd&) {
  imageView_->setImage(ad_->adImage());
  layoutImage();
  visibilityTracker_->start();
  if (auto d = delegate()) d->onAdReceived(*this);
}

void OrvexSplashAdView::onAdFailedToReceive(OrvexSplashAd&, OrvexErrorCode errorCode) {
  isClosed_ = true;
  if (auto d = delegate()) d->onAdFailedToReceive(*this, errorCode);
  ad_->notify(OrvexMetricCode::close, std::nullopt, false);
}

void OrvexSplashAdView::onAdImpression(OrvexSplashAd&) {
  if (auto d = delegate()) d->onAdImpression(*this);
}

void OrvexSplashAdView::onAdClose(OrvexSplashAd&, bool impressed) {
  isClosed_ = true;
  visibilityTracker_->cancel();
  if (auto d = delegate()) d->onAdClose(*this, impressed);
}

void OrvexSplashAdView::didBecomeVisible(VisibilityTracker& tracker) {
  tracker.cancel();
  if (ad_->unitId().empty() || impressed_) return;
  impressed_ = true;
  ad_->notify(OrvexMetricCode::adImpr);
  // Half a second early: the tracker took about that long to see the view.
  std::weak_ptr<OrvexSplashAdView> weak = weak_from_this();
  Orvex::shared().platform().dispatcher->mainQueue()->postAfter(
      secondsToDuration(displayDuration() - 0.5), [weak] {
        if (auto self = weak.lock()) {
          self->ad_->notify(OrvexMetricCode::close, std::nullopt, self->impressed_);
        }
      });
}

}  // namespace orvex
