#include "examples/demo/banner_flow.h"

#include <vector>

#include "orvex/formats/inline/orvex_banner.h"
#include "orvex/platform/view.h"

namespace demo {
namespace {

using namespace orvex;

constexpr int kCards = 8;  // the slot lands well below an 844 pt screen

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

std::string runBannerFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options) {
  const std::string& unitId = options.unitId;
  std::size_t opened = 0;
  screen.observeOpenedLinks([&timeline, &opened](const std::string& kind, const std::string& to) {
    ++opened;
    timeline.say("link opener: " + kind + " " + to);
  });

  // The host's screen: a scrolling feed of cards with the banner's slot far below the fold.
  auto slot = screen.makeFeed(kCards, 50);
  auto banner = OrvexBanner::create(unitId, "demo-feed");
  slot->addSubview(banner->view());
  const double width = slot->bounds().size.width;
  banner->view()->setFrame(Rect((width - 320) / 2, 0, 320, 50));
  const Rect window = screen.window()->bounds();
  const Rect inWindow = slot->convertRect(slot->bounds(), *screen.window());
  timeline.say("window " + std::to_string(static_cast<int>(window.size.width)) + "x" +
               std::to_string(static_cast<int>(window.size.height)) + " (" + screen.name() +
               ") with a feed; banner slot at y " +
               std::to_string(static_cast<int>(inWindow.minY())) + " (below the fold)");

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
  screen.runUntil([&] { return heard->received || heard->failed; }, 35);
  if (heard->failed) {
    return heard->error == OrvexErrorCode::adNoFill
               ? "no fill for unit " + unitId
               : "load failed: " + OrvexErrorCodeToString(heard->error);
  }
  if (!heard->received) return "no answer to the banner's request";
  auto page = screen.lastWebView();
  screen.runUntil([&] { return page && !page->isLoading(); }, 10);
  timeline.say("page loaded in the banner's web view (" +
               std::to_string(banner->creative().value_or("").size()) + " bytes)");

  screen.runFor(1.5);
  if (heard->impression) return "impression counted while the banner was off screen";
  timeline.say("1.5 s below the fold: no impression, as it should be");

  const double scroll = screen.scrollIntoView(*banner->view());
  timeline.say("user scrolls the feed by " + std::to_string(static_cast<int>(scroll)) +
               " pt: the banner comes into view");
  if (!screen.runUntil([&] { return heard->impression; }, 5)) return "no impression";
  if (auto failed = takeScreenshot(screen, timeline, options, *banner->view()); !failed.empty())
    return failed;

  screen.runFor(0.5);  // a person looks before tapping
  auto link = firstLink(*banner);
  if (!link) return "the creative has no link to tap";
  timeline.say("user taps the creative's link " + *link);
  screen.clickLink(*page, *link);
  if (!screen.runUntil([&] { return heard->clicked && opened > 0; }, 5))
    return heard->clicked ? "the link opener opened nothing" : "no click";
  screen.runFor(0.3);  // the click report is on its way
  return "";
}

}  // namespace demo
