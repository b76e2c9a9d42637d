#include "orvex/formats/inline/orvex_native_ad_view.h"

#include "orvex/core/file_downloader.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_internal.h"
#include "orvex/core/url.h"
#include "orvex/formats/inline/orvex_native_ad.h"
#include "orvex/web/link_opener.h"
#include "orvex/web/native_ad_web_view_controller.h"

namespace orvex {
namespace {

const OrvexPlatform& platform() {
  return Orvex::shared().platform();
}

// The deepest shown view under `point` (in `view`'s coordinates), whether or not it takes
// touches: a tap on an ad's image counts as a tap on the ad even where the image ignores touches.
std::shared_ptr<View> contentAt(const std::shared_ptr<View>& view, Point point) {
  if (view->isHidden() || view->alpha() <= kHitTestMinimumAlpha || !view->bounds().contains(point))
    return nullptr;
  auto subviews = view->subviews();
  for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
    const Point inChild = view->convertRect(Rect(point.x, point.y, 0, 0), **it).origin;
    if (auto hit = contentAt(*it, inChild)) return hit;
  }
  return view;
}

}  // namespace

namespace OrvexInternal {
std::shared_ptr<OrvexNativeAd> nativeAd(const OrvexNativeAdView& view) {
  return view.ad();
}
}  // namespace OrvexInternal

std::shared_ptr<OrvexNativeAdView> OrvexNativeAdView::create() {
  std::shared_ptr<OrvexNativeAdView> view(new OrvexNativeAdView());
  if (const auto& ui = platform().ui) view->container_ = ui->makeView();
  return view;
}

OrvexNativeAdView::~OrvexNativeAdView() {
  // The host's views outlive the container's logic: take back the handlers it gave them. Views
  // and the tracker belong to the main thread, and the last owner may be elsewhere.
  auto teardown = [recognizers = std::move(recognizers_), tracker = std::move(visibilityTracker_),
                   ad = std::move(ad_), container = std::move(container_),
                   slots = std::move(slots_), body = std::move(bodyView_),
                   media = std::move(mediaView_)]() mutable {
    if (tracker) tracker->cancel();
    for (const auto& r : recognizers)
      if (auto v = r.view.lock()) v->removeTapHandler(r.token);
    tracker.reset();
    ad.reset();
    for (auto& slot : slots) slot = {};
    body.reset();
    media.reset();
    if (container) container->removeFromSuperview();
    container.reset();
  };
  const auto& dispatcher = platform().dispatcher;
  if (!dispatcher || dispatcher->isMainThread()) {
    teardown();
  } else {
    dispatcher->mainQueue()->post(std::move(teardown));
  }
}

void OrvexNativeAdView::attachRecognizer(const std::shared_ptr<View>& view) {
  std::weak_ptr<OrvexNativeAdView> weakSelf = weak_from_this();
  // Weak: the view holds its handlers, and must not hold itself.
  std::weak_ptr<View> weakView = view;
  const int token = view->addLocatedTapHandler([weakSelf, weakView](Point location) {
    auto self = weakSelf.lock();
    auto tapped = weakView.lock();
    if (self && tapped) self->handleTap(tapped, location);
  });
  recognizers_.push_back({view, token});
}

void OrvexNativeAdView::removeRecognizers(const View& view) {
  std::erase_if(recognizers_, [&](const Recognizer& r) {
    auto v = r.view.lock();
    if (!v) return true;
    if (v.get() != &view) return false;
    v->removeTapHandler(r.token);
    return true;
  });
}

bool OrvexNativeAdView::hasRecognizer(const View& view) const {
  for (const auto& r : recognizers_)
    if (r.view.lock().get() == &view) return true;
  return false;
}

void OrvexNativeAdView::setSlot(Slot slot, std::shared_ptr<View> view, ClickCallback onClick) {
  Registered& registered = slots_[slot];
  if (registered.view) removeRecognizers(*registered.view);
  if (view) removeRecognizers(*view);
  registered = Registered{view, std::move(onClick)};
  if (!isEntireClick_ && view) {
    view->setUserInteractionEnabled(true);
    attachRecognizer(view);
  }
}

void OrvexNativeAdView::setAdvertiserView(std::shared_ptr<View> view, ClickCallback onClick) {
  setSlot(kAdvertiser, std::move(view), std::move(onClick));
}
void OrvexNativeAdView::setHeadLineView(std::shared_ptr<View> view, ClickCallback onClick) {
  setSlot(kHeadline, std::move(view), std::move(onClick));
}
void OrvexNativeAdView::setIconView(std::shared_ptr<View> view, ClickCallback onClick) {
  setSlot(kIcon, std::move(view), std::move(onClick));
}
void OrvexNativeAdView::setCallToActionView(std::shared_ptr<View> view, ClickCallback onClick) {
  setSlot(kCallToAction, std::move(view), std::move(onClick));
}
void OrvexNativeAdView::setProfileLogoView(std::shared_ptr<View> view, ClickCallback onClick) {
  setSlot(kProfileLogo, std::move(view), std::move(onClick));
}
void OrvexNativeAdView::setProfileNameView(std::shared_ptr<View> view, ClickCallback onClick) {
  setSlot(kProfileName, std::move(view), std::move(onClick));
}

void OrvexNativeAdView::setMediaView(std::shared_ptr<View> view) {
  mediaView_ = std::move(view);
  if (mediaView_) mediaView_->setUserInteractionEnabled(!isEntireClick_);
}

void OrvexNativeAdView::setBodyView(std::shared_ptr<View> view) {
  bodyView_ = std::move(view);
}

void OrvexNativeAdView::setIsEntireClick(bool value) {
  if (!value && (!ad_ || ad_->useCustomClick())) {
    logger_.log("setIsEntireClick failed. isEntireClick can't set false when useCustomClick=true");
    return;
  }
  isEntireClick_ = value;
  if (mediaView_) mediaView_->setUserInteractionEnabled(!value);
  if (!container_) return;
  // The container keeps taking touches either way: without them its views' own taps would die too.
  container_->setUserInteractionEnabled(true);
  if (!value) {
    removeRecognizers(*container_);
  } else if (!hasRecognizer(*container_)) {
    attachRecognizer(container_);
  }
}

void OrvexNativeAdView::setNativeAd(std::shared_ptr<OrvexNativeAd> ad) {
  if (!ad) return;
  logger_.log("setNativeAd() txId: " + ad->txId());
  ++binding_;
  ad_ = std::move(ad);
  if (ad_->useCustomClick()) setIsEntireClick(true);
  loadImage(kIcon, ad_->icon());
  loadImage(kProfileLogo, ad_->profileDisplayLogo());

  auto controller = ad_->nativeAdViewController();
  auto web = controller ? controller->webView() : nullptr;
  if (auto previous = embeddedMedia_.lock(); previous && previous != web) {
    previous->removeFromSuperview();
  }
  embeddedMedia_.reset();
  if (mediaView_ && web) {
    mediaView_->addSubview(web);
    controller->updateWidth(mediaView_->bounds().size.width);
    web->setFillsSuperview(true);
    embeddedMedia_ = web;
  }

  // The previous ad's tracker must not count for this one.
  if (visibilityTracker_) visibilityTracker_->cancel();
  visibilityTracker_.reset();
  // The backfill module counts its own impressions.
  if (ad_->isBackfilled()) return;
  visibilityTracker_ = VisibilityTracker::create();
  visibilityTracker_->setView(container_);
  visibilityTracker_->setDelegate(std::weak_ptr<VisibilityTrackerDelegate>(shared_from_this()));
  visibilityTracker_->start();
}

void OrvexNativeAdView::loadImage(Slot slot, const std::string& url) {
  auto imageView = std::dynamic_pointer_cast<ImageView>(slots_[slot].view);
  if (!imageView || url.empty() || !Url::parse(url)) return;
  const auto& p = platform();
  // Reading and decoding a cached file is work for a background queue, not the main thread.
  std::weak_ptr<OrvexNativeAdView> weakSelf = weak_from_this();
  std::weak_ptr<ImageView> weakView = imageView;
  auto main = p.dispatcher->mainQueue();
  const std::uint64_t binding = binding_;
  p.dispatcher->globalQueue(QueuePriority::utility)->post([url, weakSelf, weakView, main, binding] {
    auto done = [url, weakSelf, weakView, main, binding](std::optional<Image> image) {
      // Only weak references cross threads: the view is touched on the main thread alone.
      main->post([url, weakSelf, weakView, binding, image = std::move(image)] {
        auto self = weakSelf.lock();
        auto view = weakView.lock();
        if (!self || !view || self->binding_ != binding) return;
        if (!image) {
          self->logger_.log("Error loading image: " + url);
          return;
        }
        view->setImage(image);
      });
    };
    FileDownloader::shared()->downloadImage(url, "icon", std::move(done));
  });
}

void OrvexNativeAdView::didBecomeVisible(VisibilityTracker& tracker) {
  tracker.cancel();
  if (ad_) ad_->notify(OrvexMetricCode::adImpr, std::nullopt);
}

void OrvexNativeAdView::handleTap(const std::shared_ptr<View>& tapped, Point location) {
  auto ad = ad_;  // a callback may bind another ad
  for (Slot slot : {kIcon, kHeadline, kAdvertiser, kProfileLogo, kProfileName, kCallToAction}) {
    if (slots_[slot].view != tapped) continue;
    if (auto onClick = slots_[slot].onClick) {
      onClick(ad, *tapped);
      if (ad) ad->notify(OrvexMetricCode::adClick, std::nullopt);
      return;
    }
  }
  if (ad && ad->useCustomClick()) {
    if (!container_) return;
    const Point at = tapped->convertRect(Rect(location.x, location.y, 0, 0), *container_).origin;
    auto hit = contentAt(container_, at);
    if (!hit || hit == container_) return;
  } else {
    const bool profile = tapped == slots_[kProfileLogo].view || tapped == slots_[kProfileName].view;
    openPage(*tapped, profile);
  }
  if (ad) ad->notify(OrvexMetricCode::adClick, std::nullopt);
}

void OrvexNativeAdView::openPage(const View& from, bool profile) {
  if (!ad_) return;
  std::optional<Url> url;
  if (profile) {
    if (auto link = ad_->profileLink()) url = Url::parse(*link);
  }
  if (!url) {
    if (auto destination = ad_->destinationURL()) url = Url::parse(*destination);
  }
  if (!url) return;
  if (auto presenter = nearestViewController(from)) openLink(presenter, *url, ad_->browserTarget());
}

void OrvexNativeAdView::performClick() {
  auto ad = ad_;
  if (!ad) return;
  if (!ad->useCustomClick() && container_) openPage(*container_, false);
  ad->notify(OrvexMetricCode::adClick, std::nullopt);
}

}  // namespace orvex
