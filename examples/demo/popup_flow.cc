#include "examples/demo/popup_flow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "examples/demo/fullscreen_user.h"
#include "orvex/core/localized_strings.h"
#include "orvex/core/orvex.h"
#include "orvex/formats/popup/orvex_popup_ad.h"
#include "orvex/formats/popup/orvex_popup_ad_view.h"
#include "orvex/formats/popup/orvex_popup_web_view_controller.h"

namespace demo {

using namespace orvex;

namespace {

// The first label under `view` showing `text`: labels take no input, so a tap on one lands on
// the button beneath it, as a finger would.
std::shared_ptr<Label> labelShowing(const std::shared_ptr<View>& view, const std::string& text) {
  if (auto label = std::dynamic_pointer_cast<Label>(view)) {
    if (!label->isHidden() && label->text() == text) return label;
  }
  for (const auto& child : view->subviews()) {
    if (auto found = labelShowing(child, text)) return found;
  }
  return nullptr;
}

// The shown button under `label`'s centre: the button a finger on the label presses.
std::shared_ptr<Button> buttonUnder(const std::shared_ptr<View>& view, const Label& label,
                                    const View& window) {
  for (const auto& child : view->subviews()) {
    if (auto found = buttonUnder(child, label, window)) return found;
  }
  auto button = std::dynamic_pointer_cast<Button>(view);
  if (!button || button->isHidden()) return nullptr;
  const Rect l = label.convertRect(label.bounds(), window);
  const Rect b = button->convertRect(button->bounds(), window);
  const Point centre{l.minX() + l.size.width / 2, l.minY() + l.size.height / 2};
  return b.contains(centre) ? button : nullptr;
}

// `heard` without its impressions and clicks (each page counts its own, whenever it has been seen)
// against the order a host meets; "" when it matches.
std::string checkPresentationOrder(const FullScreenHeard& heard,
                                   const std::vector<std::string>& expected) {
  FullScreenHeard presentation;
  for (const auto& e : heard.events)
    if (e != "impression" && e != "clicked") presentation.events.push_back(e);
  return presentation.events == expected ? "" : "callbacks out of order: " + heard.joined();
}

// How far away the next local midnight is.
std::string untilLocalMidnight() {
  const auto& clock = Orvex::shared().platform().clock;
  const WallTime now = clock->now();
  const double local =
      std::chrono::duration<double>(now.time_since_epoch()).count() + clock->utcOffsetSeconds(now);
  const double left = 86400 - std::fmod(std::fmod(local, 86400) + 86400, 86400);
  char text[64];
  std::snprintf(text, sizeof text, "%dh %02dm from now", static_cast<int>(left / 3600),
                static_cast<int>(std::fmod(left, 3600) / 60));
  return text;
}

}  // namespace

std::string runPopupFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options) {
  const std::string& unitId = options.unitId;
  auto opened = std::make_shared<std::size_t>(0);
  screen.observeOpenedLinks([&timeline, opened](const std::string& kind, const std::string& to) {
    ++*opened;
    timeline.say("link opener: " + kind + " " + to);
  });
  screen.makeFeed(6, 1);  // the host's feed, which the popup covers while it is up

  auto popup = OrvexPopupAd::create(unitId);
  auto heard = listen(*popup, timeline);
  popup->onTodayOffClicked = [&timeline, heard](OrvexPopupAd&) {
    heard->events.push_back("todayOff");
    timeline.say("host: onTodayOffClicked");
  };
  timeline.say("popup.load() for unit " + unitId);
  popup->load();
  screen.runUntil([&] { return heard->has("received") || heard->has("failed"); }, 35);
  if (heard->has("failed") && heard->error == OrvexErrorCode::adHideForToday) {
    // An earlier run hid it today; a host would simply show nothing until midnight.
    timeline.say("the unit was hidden today by an earlier run (until local midnight, " +
                 untilLocalMidnight() + "): the demo forgets that mark and loads again");
    Orvex::shared()
        .platform()
        .store->suite(OrvexPopupAd::kStoreSuite)
        ->remove(OrvexPopupAd::kHideForTodayKeyPrefix + unitId);
    popup = OrvexPopupAd::create(unitId);
    heard = listen(*popup, timeline);
    popup->onTodayOffClicked = [&timeline, heard](OrvexPopupAd&) {
      heard->events.push_back("todayOff");
      timeline.say("host: onTodayOffClicked");
    };
    popup->load();
  }
  if (auto reason = awaitReceived(screen, *heard, unitId); !reason.empty()) return reason;
  std::string ids;
  for (const auto& id : popup->creativeIds()) ids += (ids.empty() ? "" : ", ") + id;
  timeline.say("the response kept " + std::to_string(popup->txIds().size()) + " creatives (" + ids +
               "); the first page has loaded");

  screen.runFor(0.5);
  timeline.say("popup.show()");
  popup->show();
  if (!screen.runUntil([&] { return heard->has("didPresent") || heard->has("showFailed"); }, 5))
    return "the popup did not appear";
  if (heard->has("showFailed")) return "show failed: " + OrvexErrorCodeToString(heard->error);
  const auto& controller = popup->popupAdViewController();
  auto view = controller ? controller->view() : nullptr;
  if (!view) return "the popup has no view";
  screen.runFor(0.8);  // the appearing animation
  timeline.say("the popup is up over the feed: page " + std::to_string(view->currentIndex() + 1) +
               " / " + std::to_string(view->maxPage()));
  if (auto reason = takeScreenshot(screen, timeline, options, *view->view()); !reason.empty())
    return reason;

  if (view->maxPage() >= 2) {
    if (controller->pages().front()->isVideoAd()) {
      timeline.say("page 1 plays a video: the carousel does not roll while it is up");
    } else if (!screen.runUntil([&] { return view->currentIndex() == 1; }, 5)) {
      return "the carousel did not roll by itself";
    } else {
      timeline.say("the carousel rolled by itself to page 2 / " + std::to_string(view->maxPage()));
    }
    // Back until the last page.
    auto scroll = view->scrollView();
    const double width = scroll->bounds().size.width;
    const int last = view->maxPage() - 1;
    int swipes = 0;
    do {
      const int before = view->currentIndex();
      timeline.say("user swipes back");
      if (!screen.swipe(*scroll, width - 80)) {
        timeline.say("(this screen plays no swipe: the carousel is scrolled as one ends)");
        scroll->setContentOffset(Point{scroll->contentOffset().x - width, 0}, true);
      }
      if (!screen.runUntil([&] { return view->currentIndex() != before; }, 2))
        return "the swipe did not turn the page";
      screen.runFor(0.2);
      timeline.say("the indicator reads " + std::to_string(view->currentIndex() + 1) + " / " +
                   std::to_string(view->maxPage()));
    } while (view->currentIndex() != last && ++swipes < view->maxPage());
    if (view->currentIndex() != last) return "the swipes did not reach the last page";
  }

  const int current = view->currentIndex();
  auto page = controller->webViews().at(static_cast<std::size_t>(current))->webView();
  timeline.say("user taps the link of page " + std::to_string(current + 1));
  screen.clickLink(
      *page, controller->ads().at(static_cast<std::size_t>(current)).destinationURL.value_or(""));
  if (!screen.runUntil([&] { return heard->has("clicked") && *opened > 0; }, 5))
    return heard->has("clicked") ? "the link opener opened nothing" : "the tap was no click";
  if (!screen.runUntil([&] { return heard->has("impression"); }, 5)) return "no impression";

  const std::string hideText = LocalizedStrings::forDevice().text("orvex_hide_for_today");
  auto hide = labelShowing(view->view(), hideText);
  auto hideButton = hide ? buttonUnder(view->view(), *hide, *screen.window()) : nullptr;
  if (!hideButton) {
    // A template without the button: the user closes the popup instead.
    const std::string closeText = LocalizedStrings::forDevice().text("orvex_close");
    auto close = labelShowing(view->view(), closeText);
    auto closeButton = close ? buttonUnder(view->view(), *close, *screen.window()) : nullptr;
    if (closeButton) {
      timeline.say("this template has no \"" + hideText + "\": user taps \"" + closeText + "\"");
      screen.tap(*closeButton);
    } else {
      timeline.say("no labelled button to tap here: the host closes the popup (popup.close())");
      popup->close();
    }
    if (!screen.runUntil([&] { return heard->has("didDismiss"); }, 5))
      return "the popup did not close";
    timeline.say("the feed is the host's again");
    return checkPresentationOrder(
        *heard, {"received", "willPresent", "didPresent", "willDismiss", "didDismiss"});
  }

  // Hidden for today: the whole unit, or only this creative's campaign when it asks so.
  const auto& popupOptions = controller->ads().at(static_cast<std::size_t>(current)).popupOptions;
  const bool campaignOnly =
      popupOptions && popupOptions->useHideForToday && popupOptions->useHideThisAdForToday;
  const std::string campaign = popup->campaignIds().at(static_cast<std::size_t>(current));
  timeline.say("user taps \"" + hideText + "\"");
  screen.tap(*hideButton);
  if (!screen.runUntil([&] { return heard->has("didDismiss"); }, 5))
    return "the popup did not close";
  timeline.say("the feed is the host's again");

  auto next = OrvexPopupAd::create(unitId);
  auto heardNext = listen(*next, timeline);
  timeline.say("a new popup.load() for unit " + unitId);
  next->load();
  screen.runUntil([&] { return heardNext->has("received") || heardNext->has("failed"); }, 10);
  if (campaignOnly) {
    const auto& kept = next->campaignIds();
    const bool left = heardNext->has("received")
                          ? std::find(kept.begin(), kept.end(), campaign) == kept.end()
                          : heardNext->error == OrvexErrorCode::adNoFill;
    if (!left) return "the hidden campaign came back the same day";
    timeline.say("campaign " + campaign + " left out until local midnight, " +
                 untilLocalMidnight());
  } else {
    if (!heardNext->has("failed") || heardNext->error != OrvexErrorCode::adHideForToday)
      return "the next load was not refused for today";
    timeline.say("refused until local midnight, " + untilLocalMidnight());
  }
  return checkPresentationOrder(
      *heard, {"received", "willPresent", "didPresent", "todayOff", "willDismiss", "didDismiss"});
}

}  // namespace demo
