#include "examples/demo/native_flow.h"

#include <memory>

#include "orvex/formats/inline/orvex_native_ad.h"
#include "orvex/formats/inline/orvex_native_ad_view.h"
#include "orvex/platform/view.h"
#include "orvex/web/native_ad_web_view_controller.h"

namespace demo {
namespace {

using namespace orvex;

constexpr int kCards = 8;  // the slot lands well below an 844 pt screen
constexpr double kCardHeight = 380;

struct Heard {
  bool received = false, failed = false, impression = false, clicked = false;
  OrvexErrorCode error = OrvexErrorCode::adNoFill;
};

std::string size(const Rect& r) {
  return std::to_string(static_cast<int>(r.size.width)) + "x" +
         std::to_string(static_cast<int>(r.size.height));
}

}  // namespace

std::string runNativeFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options) {
  const std::string& unitId = options.unitId;
  std::size_t opened = 0;
  screen.observeOpenedLinks([&timeline, &opened](const std::string& kind, const std::string& to) {
    ++opened;
    timeline.say("link opener: " + kind + " " + to);
  });

  // The host's card for the ad: its own views, registered with the SDK's container.
  auto slot = screen.makeFeed(kCards, kCardHeight);
  auto& ui = screen.ui();
  auto adView = OrvexNativeAdView::create();
  auto card = adView->view();
  slot->addSubview(card);
  const double width = slot->bounds().size.width - 32;
  card->setFrame(Rect(16, 0, width, kCardHeight));
  auto icon = ui.makeImageView();
  auto headline = ui.makeLabel();
  auto advertiser = ui.makeLabel();
  auto media = ui.makeView();
  auto body = ui.makeLabel();
  auto callToAction = ui.makeLabel();
  const double mediaHeight = (width - 24) * 9 / 16;
  for (const auto& [view, frame] : std::initializer_list<std::pair<std::shared_ptr<View>, Rect>>{
           {icon, Rect(12, 12, 48, 48)},
           {headline, Rect(72, 12, width - 84, 24)},
           {advertiser, Rect(72, 40, width - 84, 20)},
           {media, Rect(12, 72, width - 24, mediaHeight)},
           {body, Rect(12, 80 + mediaHeight, width - 24, 40)},
           {callToAction, Rect(12, kCardHeight - 56, width - 24, 44)}}) {
    card->addSubview(view);
    view->setFrame(frame);
  }
  callToAction->setAccessibilityIdentifier("call-to-action");
  adView->setIconView(icon);
  adView->setHeadLineView(headline);
  adView->setAdvertiserView(advertiser);
  adView->setMediaView(media);
  adView->setBodyView(body);
  adView->setCallToActionView(callToAction);
  const Rect inWindow = card->convertRect(card->bounds(), *screen.window());
  timeline.say("window " + size(screen.window()->bounds()) + " (" + screen.name() +
               ") with a feed; native ad card at y " +
               std::to_string(static_cast<int>(inWindow.minY())) + " (below the fold)");

  auto heard = std::make_shared<Heard>();
  auto ad = OrvexNativeAd::create(unitId, "demo-feed");
  ad->onAdReceived = [&timeline, heard](OrvexNativeAd& a) {
    heard->received = true;
    timeline.say("host: onAdReceived  txId " + a.txId() + ", campaign " + a.campaignId() +
                 ", creative " + a.creativeId() + ", HTML media " +
                 (a.nativeAdViewController() ? "yes" : "no"));
  };
  ad->onAdFailedToReceive = [&timeline, heard](OrvexNativeAd&, OrvexErrorCode code) {
    heard->failed = true;
    heard->error = code;
    timeline.say("host: onAdFailedToReceive " + OrvexErrorCodeToString(code));
  };
  ad->onAdImpression = [&timeline, heard](OrvexNativeAd&) {
    heard->impression = true;
    timeline.say("host: onAdImpression");
  };
  ad->onAdClicked = [&timeline, heard](OrvexNativeAd& a) {
    heard->clicked = true;
    timeline.say("host: onAdClicked  destination " + a.destinationURL().value_or(""));
  };

  timeline.say("nativeAd.load() for unit " + unitId);
  ad->load();
  screen.runUntil([&] { return heard->received || heard->failed; }, 35);
  if (heard->failed) {
    return heard->error == OrvexErrorCode::adNoFill
               ? "no fill for unit " + unitId
               : "load failed: " + OrvexErrorCodeToString(heard->error);
  }
  if (!heard->received) return "no answer to the native ad's request";

  // The host writes the texts; the container fills the images and places the media.
  headline->setText(ad->headline());
  advertiser->setText(ad->advertiser());
  body->setText(ad->body());
  callToAction->setText(ad->callToAction());
  adView->setNativeAd(ad);
  timeline.say("bound: \"" + ad->headline() + "\" by " + ad->advertiser() + ", call to action \"" +
               ad->callToAction() + "\"");
  if (!ad->icon().empty() && !screen.runUntil([&] { return icon->image().has_value(); }, 5))
    return "the icon did not arrive";
  if (icon->image()) {
    timeline.say("icon image " + std::to_string(icon->image()->pixelWidth) + "x" +
                 std::to_string(icon->image()->pixelHeight) + " set from the file cache");
  }
  if (auto controller = ad->nativeAdViewController(); controller && controller->webView()) {
    screen.runFor(0.2);  // the page's size is measured once it finished
    timeline.say("HTML media in the media view at " + size(controller->webView()->frame()) +
                 " (page ratio " + std::to_string(controller->webViewSizeRatio()) + ")");
  }

  screen.runFor(1.5);
  if (heard->impression) return "impression counted while the ad was off screen";
  timeline.say("1.5 s below the fold: no impression, as it should be");
  const double scroll = screen.scrollIntoView(*card);
  timeline.say("user scrolls the feed by " + std::to_string(static_cast<int>(scroll)) +
               " pt: the ad comes into view");
  if (!screen.runUntil([&] { return heard->impression; }, 5)) return "no impression";
  if (auto failed = takeScreenshot(screen, timeline, options, *card); !failed.empty())
    return failed;

  screen.runFor(0.5);  // a person looks before tapping
  timeline.say("user taps the call to action \"" + ad->callToAction() + "\"");
  screen.tap(*callToAction);
  if (!screen.runUntil([&] { return heard->clicked && opened > 0; }, 5))
    return heard->clicked ? "the link opener opened nothing" : "no click";
  screen.runFor(0.3);  // the click report is on its way
  return "";
}

}  // namespace demo
