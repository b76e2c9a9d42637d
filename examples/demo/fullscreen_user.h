#pragma once
// What the interstitial and rewarded flows share: the host's callbacks, printed and kept in
// order, and the user's hand on a full-screen page. In an engine the page runs itself: the demo
// clicks the page's elements from inside, so the page's own handlers post what they post (the
// click counts only when the page reports it with "open"). On the scripted pages of the in-memory
// screen the demo posts what those handlers would.

#include <memory>
#include <string>
#include <vector>

#include "examples/demo/screen.h"
#include "examples/demo/timeline.h"
#include "orvex/core/codes.h"

namespace demo {

// The host's side of a full-screen ad: every callback, in the order heard.
struct FullScreenHeard {
  std::vector<std::string> events;  // "received", "willPresent", "impression", …
  orvex::OrvexErrorCode error = orvex::OrvexErrorCode::adNoFill;
  bool has(const std::string& event) const;
  std::string joined() const;
};

// Hooks the nine closures of `ad` to `heard`, each printed on the timeline as it comes.
template <typename Ad>
std::shared_ptr<FullScreenHeard> listen(Ad& ad, const Timeline& timeline) {
  auto heard = std::make_shared<FullScreenHeard>();
  auto note = [&timeline, heard](const std::string& event, const std::string& line) {
    heard->events.push_back(event);
    timeline.say("host: " + line);
  };
  ad.onAdReceived = [note](Ad& a) {
    note("received", "onAdReceived  txId " + a.txId() + ", campaign " + a.campaignId() +
                         ", creative " + a.creativeId() + " (page loaded off screen)");
  };
  ad.onAdFailedToReceive = [note, heard](Ad&, orvex::OrvexErrorCode code) {
    heard->error = code;
    note("failed", "onAdFailedToReceive " + orvex::OrvexErrorCodeToString(code));
  };
  ad.onAdFailedToShowFullScreen = [note, heard](Ad&, orvex::OrvexErrorCode code) {
    heard->error = code;
    note("showFailed", "onAdFailedToShowFullScreen " + orvex::OrvexErrorCodeToString(code));
  };
  ad.onAdWillPresentFullScreen = [note](Ad&) { note("willPresent", "onAdWillPresentFullScreen"); };
  ad.onAdImpression = [note](Ad&) { note("impression", "onAdImpression"); };
  ad.onAdDidPresentFullScreen = [note](Ad&) { note("didPresent", "onAdDidPresentFullScreen"); };
  ad.onAdClicked = [note](Ad& a) {
    note("clicked", "onAdClicked  destination " + a.destinationURL());
  };
  ad.onAdWillDismissFullScreen = [note](Ad&) { note("willDismiss", "onAdWillDismissFullScreen"); };
  ad.onAdDidDismissFullScreen = [note](Ad&) { note("didDismiss", "onAdDidDismissFullScreen"); };
  return heard;
}

// Waits for the load's outcome; "" once received, else the reason.
std::string awaitReceived(Screen& screen, const FullScreenHeard& heard, const std::string& unitId);

class PageHand {
 public:
  PageHand(Screen& screen, const Timeline& timeline) : screen_(screen), timeline_(timeline) {}

  // The user's tap on the page's first link (else its first button). On a scripted page the
  // page's tap handler is played: "open" with the first link of its HTML, else `fallbackUrl`.
  void tapFirstControl(orvex::WebView& page, const std::string& fallbackUrl);
  // The user's tap on the page's close control, found by its label ("close", "×", …).
  void tapClose(orvex::WebView& page);

 private:
  Screen& screen_;
  const Timeline& timeline_;
};

// The page's close control, else the host's: closes the screen with `close` when the page has
// not within a few seconds. "" once `heard` has the dismissal, else the reason.
std::string closeScreen(Screen& screen, const Timeline& timeline, orvex::WebView& page,
                        const FullScreenHeard& heard, const std::function<void()>& close);

// `heard` against the order a host meets; "" when it matches.
std::string checkOrder(const FullScreenHeard& heard, const std::vector<std::string>& expected);

}  // namespace demo
