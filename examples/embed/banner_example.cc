#include "examples/embed/banner_example.h"

#include "orvex/platform/view.h"

namespace example {

void FeedScreen::showBanner(const std::shared_ptr<orvex::View>& container,
                            const std::string& unitId) {
  banner_ = orvex::OrvexBanner::create(unitId, /*contextId=*/"feed");
  banner_->setDelegate(weak_from_this());  // held weakly: the screen may go first
  banner_->onAdImpression = [](orvex::OrvexBanner&) { /* counted once per creative */ };
  container->addSubview(banner_->view());
  const orvex::Rect bounds = container->bounds();
  banner_->view()->setFrame({0, bounds.size.height - 50, bounds.size.width, 50});
  banner_->load();
}

void FeedScreen::showQuestBanner(const std::shared_ptr<orvex::View>& container,
                                 const std::string& channel) {
  questBanner_ = orvex::OrvexQuestBanner::create(channel, orvex::OrvexQuestBannerFormat::feed);
  questBanner_->setFrom("home");
  questBanner_->onAdClicked = [](orvex::OrvexBanner&) { /* the quest screen is opening */ };
  container->addSubview(questBanner_->view());
  questBanner_->view()->setFrame({0, 0, container->bounds().size.width, 80});
  questBanner_->load();
}

void FeedScreen::onAdReceived(orvex::OrvexBanner& banner) {
  heard.push_back("received " + banner.txId());
}

void FeedScreen::onAdFailedToReceive(orvex::OrvexBanner&, orvex::OrvexErrorCode errorCode) {
  heard.push_back("failed " + orvex::OrvexErrorCodeToString(errorCode));
  banner_->view()->setHidden(true);  // give the slot back to the feed
}

void FeedScreen::onAdClicked(orvex::OrvexBanner& banner) {
  heard.push_back("clicked " + banner.destinationURL().value_or(""));
}

}  // namespace example
