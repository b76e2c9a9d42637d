#include "examples/demo/interstitial_flow.h"

#include "examples/demo/fullscreen_user.h"
#include "orvex/formats/fullscreen/orvex_interstitial_ad.h"

namespace demo {

using namespace orvex;

std::string runInterstitialFlow(Screen& screen, const Timeline& timeline,
                                const FlowOptions& options) {
  const std::string& unitId = options.unitId;
  auto opened = std::make_shared<std::size_t>(0);
  screen.observeOpenedLinks([&timeline, opened](const std::string& kind, const std::string& to) {
    ++*opened;
    timeline.say("link opener: " + kind + " " + to);
  });
  screen.makeFeed(6, 1);  // the host's own screen, which the ad covers while it is up
  auto root = screen.window()->rootViewController();

  auto ad = OrvexInterstitialAd::create(unitId);
  auto heard = listen(*ad, timeline);
  timeline.say("interstitial.load() for unit " + unitId);
  ad->load();
  if (auto reason = awaitReceived(screen, *heard, unitId); !reason.empty()) return reason;
  auto page = ad->screen() ? ad->screen()->webView() : nullptr;
  if (!page) return "the interstitial has no page";

  screen.runFor(0.5);  // the host shows it when its own screen allows
  timeline.say("interstitial.show(root controller)");
  ad->show(root);
  if (!screen.runUntil([&] { return heard->has("didPresent") || heard->has("showFailed"); }, 5))
    return "the interstitial did not appear";
  if (heard->has("showFailed")) return "show failed: " + OrvexErrorCodeToString(heard->error);
  timeline.say("the page covers the window");
  if (!options.screenshot.empty()) {
    screen.runFor(0.3);
    if (!screen.screenshot(options.screenshot)) return "no screenshot on the " + screen.name();
    timeline.say("screenshot of the window written to " + options.screenshot);
    if (options.screenshotArea) options.screenshotArea(screen.window()->bounds());
  }

  screen.runFor(1.0);  // a person looks before tapping
  timeline.say("user taps the page's first link");
  PageHand(screen, timeline).tapFirstControl(*page, ad->destinationURL());
  if (!screen.runUntil([&] { return heard->has("clicked") && *opened > 0; }, 5)) {
    return heard->has("clicked") ? "the link opener opened nothing"
                                 : "no click: the page did not report the tap (\"open\")";
  }

  screen.runFor(0.5);
  if (auto reason = closeScreen(screen, timeline, *page, *heard, [&] { ad->screen()->close(); });
      !reason.empty())
    return reason;
  if (root->presentedViewController()) return "the window was not given back";
  timeline.say("the window is the host's again");
  return checkOrder(*heard, {"received", "willPresent", "impression", "didPresent", "clicked",
                             "willDismiss", "didDismiss"});
}

}  // namespace demo
