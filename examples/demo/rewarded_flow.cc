#include "examples/demo/rewarded_flow.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "examples/demo/fullscreen_user.h"
#include "orvex/formats/fullscreen/orvex_rewarded_ad.h"

namespace demo {
namespace {

using namespace orvex;

// Records what the page's own updateRemainingTime is called with, for any page that defines it.
constexpr const char* kWatchCountdown = R"JS((function () {
  if (window.__demoCountdown) return true;
  window.__demoCountdown = [];
  var own = window.updateRemainingTime;
  window.updateRemainingTime = function (seconds) {
    window.__demoCountdown.push(seconds);
    if (typeof own === 'function') return own.apply(this, arguments);
  };
  return typeof own === 'function';
})())JS";

constexpr const char* kRemainingCall = "updateRemainingTime(";

std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

// What the page was told, as it is told: the engine's page reports the calls it got; on a
// scripted page they are the scripts the SDK ran.
class Countdown {
 public:
  Countdown(Screen& screen, const Timeline& timeline, std::shared_ptr<WebView> page)
      : screen_(screen), timeline_(timeline), page_(std::move(page)) {}

  void start() {
    if (screen_.pagesRunThemselves()) page_->evaluateJavaScript(kWatchCountdown);
  }
  // Prints what the page was told since the last call.
  void drain() {
    if (screen_.pagesRunThemselves()) {
      page_->evaluateJavaScript(
          "(window.__demoCountdown || []).splice(0)",
          [told = told_, &timeline = timeline_](std::optional<Value> result, auto) {
            const ValueArray* calls = result ? result->asArray() : nullptr;
            for (const Value& v : calls ? *calls : ValueArray{}) {
              const auto s = v.number();
              if (!s) continue;
              told->push_back(static_cast<std::int64_t>(std::llround(*s)));
              timeline.say("page: updateRemainingTime(" + std::to_string(told->back()) + ")");
            }
          });
      return;
    }
    const auto scripts = screen_.scriptsRun(*page_);
    for (; seen_ < scripts.size(); ++seen_) {
      const std::string& s = scripts[seen_];
      if (!s.starts_with(kRemainingCall)) continue;
      told_->push_back(std::stoll(s.substr(std::string(kRemainingCall).size())));
      timeline_.say("page told: " + s);
    }
  }
  const std::vector<std::int64_t>& told() const { return *told_; }

 private:
  Screen& screen_;
  const Timeline& timeline_;
  std::shared_ptr<WebView> page_;
  // Shared with replies that may come after the flow.
  std::shared_ptr<std::vector<std::int64_t>> told_ = std::make_shared<std::vector<std::int64_t>>();
  std::size_t seen_ = 0;
};

}  // namespace

std::string runRewardedFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options) {
  const std::string& unitId = options.unitId;
  auto opened = std::make_shared<std::size_t>(0);
  screen.observeOpenedLinks([&timeline, opened](const std::string& kind, const std::string& to) {
    ++*opened;
    timeline.say("link opener: " + kind + " " + to);
  });
  screen.makeFeed(6, 1);  // the host's own screen, which the ad covers while it is up
  auto root = screen.window()->rootViewController();

  auto ad = OrvexRewardedAd::create(unitId);
  auto heard = listen(*ad, timeline);
  timeline.say("rewarded.load() for unit " + unitId);
  ad->load();
  if (auto reason = awaitReceived(screen, *heard, unitId); !reason.empty()) return reason;
  const auto& adScreen = ad->screen();
  auto page = adScreen ? adScreen->webView() : nullptr;
  if (!page) return "the rewarded ad has no page";
  timeline.say("the page names its video " + adScreen->videoURL().value_or("(none)"));
  Countdown countdown(screen, timeline, page);
  countdown.start();

  screen.runFor(0.5);
  timeline.say("rewarded.show(root controller, reward handler)");
  ad->show(root, [&timeline, heard](std::int64_t type, std::int64_t amount) {
    heard->events.push_back("reward");
    timeline.say("host: reward earned, type " + std::to_string(type) + ", amount " +
                 std::to_string(amount));
  });
  if (!screen.runUntil([&] { return heard->has("didPresent") || heard->has("showFailed"); }, 5))
    return "the rewarded ad did not appear";
  if (heard->has("showFailed")) return "show failed: " + OrvexErrorCodeToString(heard->error);

  // The video plays beneath the page; the page is told the seconds left once a second.
  const auto player = adScreen->videoPlayerView()->player();
  if (!player) return "no player for the page's video";
  auto finished = [&] { return adScreen->fsm()->state == OrvexRewardedAdState::finished; };
  bool announced = false, shot = options.screenshot.empty(), rewardPosted = false;
  // A scripted page cannot count: the demo plays its part, the reward when 0 seconds are left.
  auto postReward = [&](const char* when) {
    if (screen.pagesRunThemselves() || std::exchange(rewardPosted, true)) return;
    timeline.say(std::string("page (played by the demo): ") + when + ", it posts \"reward\"");
    screen.postFromPage(*page, "orvex", R"({"action":"reward","type":1,"amount":10})");
  };
  double played = 0;
  constexpr double kStep = 0.25;
  while (!finished()) {
    if (player->status() == MediaItemStatus::failed)
      return "the video does not play: " + player->error().value_or("");
    const auto duration = player->duration();
    if (duration && !announced) {
      announced = true;
      timeline.say("video ready: " + seconds(*duration) + ", " +
                   std::to_string(static_cast<int>(player->nominalFrameRate())) +
                   " frames per second, playing beneath the page");
    }
    if (played > (duration && std::isfinite(*duration) ? *duration : 30) + 10)
      return "the video did not play to its end";
    screen.runFor(kStep);
    played += kStep;
    countdown.drain();
    if (!shot && played >= 1.5) {
      shot = true;
      if (!screen.screenshot(options.screenshot)) return "no screenshot on the " + screen.name();
      timeline.say("screenshot of the window written to " + options.screenshot);
      if (options.screenshotArea) options.screenshotArea(screen.window()->bounds());
    }
    if (!countdown.told().empty() && countdown.told().back() == 0)
      postReward("the countdown reached 0");
  }
  timeline.say("the video played to its end (" + seconds(player->currentTime()) + ")");
  postReward("the video ended");
  if (!screen.runUntil([&] { return heard->has("reward"); }, 3))
    return "no reward reached the host";
  screen.runFor(0.3);
  countdown.drain();
  screen.runFor(0.2);
  if (countdown.told().empty()) return "the page was never told the seconds left";

  timeline.say("user taps the call to action");
  PageHand(screen, timeline).tapFirstControl(*page, ad->destinationURL());
  if (!screen.runUntil([&] { return heard->has("clicked") && *opened > 0; }, 5)) {
    return heard->has("clicked") ? "the link opener opened nothing"
                                 : "no click: the page did not report the tap (\"open\")";
  }
  screen.runFor(0.5);
  if (auto reason = closeScreen(screen, timeline, *page, *heard, [&] { adScreen->close(); });
      !reason.empty())
    return reason;
  if (root->presentedViewController()) return "the window was not given back";
  timeline.say("the window is the host's again");
  return checkOrder(*heard, {"received", "willPresent", "impression", "didPresent", "reward",
                             "clicked", "willDismiss", "didDismiss"});
}

}  // namespace demo
