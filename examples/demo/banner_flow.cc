#include "examples/demo/banner_flow.h"

#include <vector>

#include "orvex/formats/inline/orvex_banner.h"
#include "orvex/platform/view.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"

namespace demo {
namespace {

using namespace orvex;

constexpr double kCardHeight = 120;
constexpr int kCards = 8;
constexpr double kBannerTop = kCards * (kCardHeight + 10) + 60;  // well below an 844 pt screen

// What the host heard, in order; the flow waits on it.
struct Heard {
  bool received = false, failed = false, impression = false, clicked = false;
  OrvexErrorCode error = OrvexErrorCode::adNoFill;
};

// The first link of the page the banner shows, as a tap would activate it.
std::optional<std::string> firstLink(const OrvexBanner& banner) {
  const std::string& page = banner.creative().value_or("");
  for (const char* open : {"href=\"", "href='"}) {
    const auto at = page.find(open);
    if (at == std::string::npos) continue;
    const auto start = at + 6;
    const auto end = page.find(open[5], start);
    if (end != std::string::npos) return page.substr(start, end - start);
  }
  return banner.destinationURL();
}

}  // namespace

std::string runBannerFlow(headless::HeadlessPort& port, const Timeline& timeline,
                          const std::string& unitId) {
  auto& ui = *port.ui;
  ui.setOpenObserver([&timeline](const headless::OpenedLink& link) {
    const char* kind = link.kind == headless::OpenedLink::Kind::external       ? "external handler"
                       : link.kind == headless::OpenedLink::Kind::inAppBrowser ? "in-app browser"
                                                                               : "store sheet";
    timeline.say("link opener: " + std::string(kind) + " " + link.target);
  });

  // The host's screen: a scrolling feed of cards with the banner's slot far below the fold.
  auto window = ui.makeKeyWindowWithRootController();
  auto root = window->rootViewController()->view();
  auto feed = ui.makeView();
  root->addSubview(feed);
  feed->setFrame(root->bounds());
  for (int i = 0; i < kCards; ++i) {
    auto card = ui.makeLabel();
    card->setText("Story " + std::to_string(i + 1));
    feed->addSubview(card);
    card->setFrame(Rect(16, 60 + i * (kCardHeight + 10), 358, kCardHeight));
  }
  auto banner = OrvexBanner::create(unitId, "demo-feed");
  feed->addSubview(banner->view());
  banner->view()->setFrame(Rect(35, kBannerTop, 320, 50));
  timeline.say("window 390x844 with a feed; banner slot at y " +
               std::to_string(static_cast<int>(kBannerTop)) + " (below the fold)");

  auto heard = std::make_shared<Heard>();
  banner->onAdReceived = [&timeline, heard](OrvexBanner& b) {
    heard->received = true;
    timeline.say("host: onAdReceived  txId " + b.txId() + ", campaign " + b.campaignId() +
                 ", creative " + b.creativeId() + ", size " +
                 std::to_string(static_cast<int>(b.creativeSize().width)) + "x" +
                 std::to_string(static_cast<int>(b.creativeSize().height)));
  };
  banner->onAdFailedToReceive = [&timeline, heard](OrvexBanner&, OrvexErrorCode code) {
    heard->failed = true;
    heard->error = code;
    timeline.say("host: onAdFailedToReceive " + OrvexErrorCodeToString(code));
  };
  banner->onAdImpression = [&timeline, heard](OrvexBanner&) {
    heard->impression = true;
    timeline.say("host: onAdImpression");
  };
  banner->onAdClicked = [&timeline, heard](OrvexBanner& b) {
    heard->clicked = true;
    timeline.say("host: onAdClicked  destination " + b.destinationURL().value_or(""));
  };

  timeline.say("banner.load() for unit " + unitId);
  banner->load();
  port.runUntil([&] { return heard->received || heard->failed; }, 35);
  if (heard->failed) {
    return heard->error == OrvexErrorCode::adNoFill
               ? "no fill for unit " + unitId
               : "load failed: " + OrvexErrorCodeToString(heard->error);
  }
  if (!heard->received) return "no answer to the banner's request";
  auto page = port.webViews->last();
  port.runUntil([&] { return page && !page->isLoading(); }, 5);
  timeline.say("page loaded in the banner's web view (" +
               std::to_string(banner->creative().value_or("").size()) + " bytes)");

  port.runFor(1.5);
  if (heard->impression) return "impression counted while the banner was off screen";
  timeline.say("1.5 s below the fold: no impression, as it should be");

  const double scroll = kBannerTop - 400;
  feed->setBoundsOrigin(Point{0, scroll});
  timeline.say("host scrolls the feed by " + std::to_string(static_cast<int>(scroll)) +
               " pt: banner now at y 400");
  if (!port.runUntil([&] { return heard->impression; }, 5)) return "no impression";

  port.runFor(0.5);  // a person looks before tapping
  auto link = firstLink(*banner);
  if (!link) return "the creative has no link to tap";
  timeline.say("user taps the creative's link " + *link);
  page->activateLink(*link);
  if (!port.runUntil([&] { return heard->clicked && !ui.openedLinks().empty(); }, 5))
    return heard->clicked ? "the link opener opened nothing" : "no click";
  port.runFor(0.3);  // the click report is on its way
  return "";
}

}  // namespace demo
