#include "orvex/formats/popup/orvex_popup_ad_view_controller.h"

#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/core/url.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/formats/popup/orvex_popup_ad_rolling_timer.h"
#include "orvex/formats/popup/orvex_popup_ad_view.h"
#include "orvex/formats/popup/orvex_popup_web_view_controller.h"
#include "orvex/server/orvex_api.h"
#include "orvex/web/link_opener.h"

namespace orvex {

std::shared_ptr<OrvexPopupAdViewController> OrvexPopupAdViewController::create(
    std::string unitId, std::vector<AdRes> ads, Notify notify) {
  std::shared_ptr<OrvexPopupAdViewController> controller(
      new OrvexPopupAdViewController(std::move(unitId), std::move(ads), std::move(notify)));
  controller->loadPages();
  return controller;
}

OrvexPopupAdViewController::OrvexPopupAdViewController(std::string unitId, std::vector<AdRes> ads,
                                                       Notify notify)
    : unitId_(std::move(unitId)), ads_(std::move(ads)), notify_(std::move(notify)) {}

OrvexPopupAdViewController::~OrvexPopupAdViewController() {
  // A popup the host let go while it was up takes its screen with it: nothing would answer the
  // taps of a view left behind over the application.
  if (view_ && view_->view()) view_->view()->removeFromSuperview();
}

PopupOptions OrvexPopupAdViewController::defaultOptions(AdUnitFormat format) {
  PopupOptions options;
  options.type =
      format == AdUnitFormat::popupDialog ? AdUnitPopupFormat::CENTER : AdUnitPopupFormat::BOTTOM;
  options.templateKind = AdUnitPopupTemplate::PERFORMANCE;
  options.closeButtonPosition = PopupCloseButtonPosition::DEFAULT;
  options.useHideForToday = true;
  options.useHideThisAdForToday = false;
  options.useDimTapToClose = true;
  options.backgroundDimOpacity = 80;
  return options;
}

void OrvexPopupAdViewController::loadPages() {
  std::weak_ptr<OrvexPopupAdViewController> weak = weak_from_this();
  for (std::size_t i = 0; i < ads_.size(); ++i) {
    if (!ads_[i].creative) continue;
    auto page = OrvexPopupWebViewController::create(unitId_, ads_[i],
                                                    [weak](OrvexMetricCode code, const AdRes& ad) {
                                                      if (auto self = weak.lock())
                                                        self->pageEvent(code, ad);
                                                    });
    const int index = static_cast<int>(i);
    page->onAdClick = [weak, index] {
      if (auto self = weak.lock()) self->clickPage(index);
    };
    if (page->webView()) webViews_.push_back(page->webView());
    webViewControllers_.push_back(std::move(page));
  }
}

void OrvexPopupAdViewController::pageEvent(OrvexMetricCode code, const AdRes& ad) {
  if (code == OrvexMetricCode::valid || code == OrvexMetricCode::invalid) {
    // The popup stands or falls with its first page; a later page that fails stays as it is.
    if (ads_.empty() || ad.id != ads_.front().id) return;
    if (code == OrvexMetricCode::invalid) return report(code, OrvexErrorCode::network);
    return report(code, std::nullopt, ad);
  }
  report(code, std::nullopt, ad);
}

void OrvexPopupAdViewController::report(OrvexMetricCode code, std::optional<OrvexErrorCode> error,
                                        std::optional<AdRes> ad) {
  if (auto notify = notify_) notify(code, error, std::move(ad));
}

void OrvexPopupAdViewController::show() {
  const auto& platform = Orvex::shared().platform();
  if (!platform.ui || view_) return;
  PopupOptions options = defaultOptions(AdUnitFormat::popupBottom);
  std::optional<CreativeSize> size;
  if (!ads_.empty()) {
    const AdRes& first = ads_.front();
    const auto format = first.format == static_cast<long long>(AdUnitFormat::popupDialog)
                            ? AdUnitFormat::popupDialog
                            : AdUnitFormat::popupBottom;
    options = first.popupOptions.value_or(defaultOptions(format));
    size = first.creativeSize;
  }
  auto window = platform.ui->firstSceneKeyWindow();
  if (!window) {
    logger_.log("show failed: no window");
    return;
  }
  auto view = OrvexPopupAdView::make(*platform.ui, options.type);
  if (!view || !view->view()) {
    logger_.log("show failed: no layout");
    return;
  }
  const auto& root = view->view();
  root->setBackgroundColor(0);
  view->configure(options, backgroundColor, hideForTodayTextColor, closeTextColor, ctaTextColor);
  view->setCreativeSize(size);

  auto rolling = OrvexPopupAdRollingTimer::create(view->scrollView());
  rolling->setMaxPages(1);
  rolling->setShouldRoll(true);
  view->setRollingTimer(rolling);
  std::weak_ptr<OrvexPopupAdView> weakView = view;
  view->setVisibilityTimer(platform.dispatcher->scheduleTimer(
      secondsToDuration(kVisibilityCheckSeconds), true, [weakView] {
        if (auto v = weakView.lock()) v->checkVisibility();
      }));

  root->setFrame(window->bounds());
  window->addSubview(root);
  root->setFillsSuperview(true);
  view->animateIn();

  view_ = view;
  report(OrvexMetricCode::willOpen);
  view->setPages(ads_, webViews_);
  wire();
  report(OrvexMetricCode::open);
}

void OrvexPopupAdViewController::wire() {
  std::weak_ptr<OrvexPopupAdViewController> weak = weak_from_this();
  view_->onCTAClick = [weak](int index) {
    if (auto self = weak.lock()) self->clickPage(index);
  };
  view_->onClickHideForToday = [weak](int index) {
    if (auto self = weak.lock()) self->hideForToday(index);
  };
  view_->onClickClose = [weak] {
    if (auto self = weak.lock()) self->closeClicked();
  };
  view_->onClickBackground = [weak] {
    if (auto self = weak.lock()) self->dimClicked();
  };
  view_->onDismissView = [weak] {
    if (auto self = weak.lock()) self->dismissed();
  };
}

void OrvexPopupAdViewController::clickPage(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= ads_.size()) return;
  const AdRes& ad = ads_[static_cast<std::size_t>(index)];
  // Every click counts; a user may come back and tap again.
  Orvex::shared().api().reportMetric(OrvexMetricCode::adClick, ad.id, unitId_);
  report(OrvexMetricCode::adClick, std::nullopt, ad);
  if (useCustomClick) return;
  auto url = Url::parse(ad.destinationURL.value_or(""));
  if (!url) return;
  ad_rules::onMainIfAlive<OrvexPopupAdViewController>(
      weak_from_this(), [url = *url, target = ad.browserTarget](OrvexPopupAdViewController& self) {
        auto presenter = self.view_ ? topMostViewController() : nullptr;
        if (presenter) {
          openLink(presenter, url, target);
        } else {
          openExternally(url.text());
        }
      });
}

void OrvexPopupAdViewController::close() {
  if (!view_ || std::exchange(closing_, true)) return;
  report(OrvexMetricCode::willClose);
  view_->close();
}

void OrvexPopupAdViewController::hideForToday(int index) {
  closing_ = true;  // the view closes itself on these taps
  std::optional<AdRes> ad;
  if (index >= 0 && static_cast<std::size_t>(index) < ads_.size()) {
    ad = ads_[static_cast<std::size_t>(index)];
    Orvex::shared().api().reportMetric(OrvexMetricCode::adTodayOff, ad->id, unitId_);
  }
  if (auto popup = delegate.lock()) popup->popupAdViewControllerDidClickHideForToday(ad);
  report(OrvexMetricCode::willClose);
}

void OrvexPopupAdViewController::closeClicked() {
  closing_ = true;
  if (auto popup = delegate.lock()) popup->popupAdViewControllerDidClickClose();
  report(OrvexMetricCode::willClose);
}

void OrvexPopupAdViewController::dimClicked() {
  closing_ = true;
  if (auto popup = delegate.lock()) popup->popupAdViewControllerDidClickDim();
  report(OrvexMetricCode::willClose);
}

void OrvexPopupAdViewController::dismissed() {
  report(OrvexMetricCode::close);
}

}  // namespace orvex
