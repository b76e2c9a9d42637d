#include "examples/embed/native_example.h"

#include "orvex/platform/view.h"

namespace example {

void ArticleScreen::showNativeAd(const std::shared_ptr<orvex::View>& container,
                                 orvex::UserInterface& ui, const std::string& unitId) {
  adView_ = orvex::OrvexNativeAdView::create();
  container->addSubview(adView_->view());
  const double width = container->bounds().size.width;
  adView_->view()->setFrame({0, 0, width, 300});

  icon = ui.makeImageView();   // the SDK puts the ad's icon in it
  auto media = ui.makeView();  // and the ad's HTML media, when it has some
  headline_ = ui.makeLabel();
  callToAction = ui.makeLabel();
  adView_->view()->addSubview(icon);
  adView_->view()->addSubview(headline_);
  adView_->view()->addSubview(media);
  adView_->view()->addSubview(callToAction);
  icon->setFrame({12, 12, 40, 40});
  headline_->setFrame({64, 12, width - 76, 40});
  media->setFrame({12, 64, width - 24, 180});
  callToAction->setFrame({12, 252, width - 24, 40});

  adView_->setIconView(icon);
  adView_->setHeadLineView(headline_, [weak = weak_from_this()](auto, orvex::View&) {
    if (auto self = weak.lock()) self->heard.push_back("headline");  // the host's own reaction
  });
  adView_->setMediaView(media);
  adView_->setCallToActionView(callToAction);  // a tap opens the landing page

  ad_ = orvex::OrvexNativeAd::create(unitId, /*contextId=*/"article");
  ad_->setDelegate(weak_from_this());  // held weakly: the screen may go first
  ad_->load();
}

void ArticleScreen::onAdReceived(orvex::OrvexNativeAd& ad) {
  headline_->setText(ad.headline());
  callToAction->setText(ad.callToAction());
  adView_->setNativeAd(ad_);  // images, media, the impression and clicks from here on
  heard.push_back("received " + ad.txId());
}

void ArticleScreen::onAdFailedToReceive(orvex::OrvexNativeAd&, orvex::OrvexErrorCode errorCode) {
  heard.push_back("failed " + orvex::OrvexErrorCodeToString(errorCode));
  adView_->view()->setHidden(true);  // give the space back to the article
}

void ArticleScreen::onAdClicked(orvex::OrvexNativeAd& ad) {
  heard.push_back("clicked " + ad.destinationURL().value_or(""));
}

}  // namespace example
