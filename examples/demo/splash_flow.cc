#include "examples/demo/splash_flow.h"

#include <chrono>
#include <cstdio>

#include "examples/demo/fullscreen_user.h"
#include "orvex/core/file_downloader.h"
#include "orvex/core/json.h"
#include "orvex/core/orvex.h"
#include "orvex/formats/fullscreen/orvex_splash_ad_view_controller.h"

namespace demo {
namespace {

using namespace orvex;

constexpr double kRequestTimeout = 3.0;
constexpr std::uint32_t kLaunchBackground = 0x10243CFF;

// The creatives of the stored list for the next start; none when there is no fresh list.
std::optional<std::vector<std::string>> storedCreatives(const std::string& unitId) {
  auto cache = OrvexSplashAdCache::create(unitId);
  if (cache->isStale()) return std::nullopt;
  auto suite = Orvex::shared().platform().store->suite(OrvexSplashAdCache::kModuleName);
  auto data = suite ? suite->data(unitId) : std::nullopt;
  auto record =
      data
          ? json::parse(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()))
          : std::nullopt;
  const Value* ads = record ? record->find("ads") : nullptr;
  if (!ads || !ads->asArray()) return std::nullopt;
  std::vector<std::string> creatives;
  for (const auto& ad : *ads->asArray()) {
    const Value* creative = ad.find("creative");
    if (creative && creative->asString()) creatives.push_back(*creative->asString());
  }
  return creatives;
}

bool onDisk(const std::vector<std::string>& creatives) {
  auto downloader = FileDownloader::shared();
  for (const auto& url : creatives)
    if (!downloader->freshFile(url, "ad")) return false;
  return true;
}

// The host's logo, from its own resources.
std::optional<Image> hostLogo() {
  const auto& p = Orvex::shared().platform();
  auto dir = p.bundle->resourceDirectory();
  auto bytes = dir ? p.files->readFile(*dir / "logo.png") : std::nullopt;
  return bytes && p.images ? p.images->decode(*bytes) : std::nullopt;
}

double secondsOn(const Clock& clock) {
  return std::chrono::duration<double>(clock.monotonicNow().time_since_epoch()).count();
}

}  // namespace

std::string runSplashFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options) {
  const std::string& unitId = options.unitId;
  const auto& clock = *Orvex::shared().platform().clock;
  screen.makeFeed(6, 1);  // the host's main screen, shown once the launch screen hands over
  auto window = screen.window();
  auto main = window->rootViewController();

  const auto stored = storedCreatives(unitId);
  const bool warm = stored && onDisk(*stored);
  timeline.say(warm ? "splash cache: a stored list with its images on disk (an earlier run's)"
                    : "splash cache: nothing usable stored: the start asks the service, bounded "
                      "by " +
                          std::to_string(kRequestTimeout).substr(0, 3) + " s");

  const double made = secondsOn(clock);
  auto splash = OrvexSplashAdViewController::create(unitId, kRequestTimeout);
  if (!splash) return "the port has no screen for a launch screen";
  auto heard = std::make_shared<FullScreenHeard>();
  auto note = [&timeline, heard](const std::string& event, const std::string& line) {
    heard->events.push_back(event);
    timeline.say("host: " + line);
  };
  auto ad = splash->splashAd();
  ad->onAdReceived = [note, &clock, made](OrvexSplashAd& a) {
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.1f ms", (secondsOn(clock) - made) * 1000);
    note("received", "onAdReceived  txId " + a.txId() + ", campaign " + a.campaignId() +
                         ", creative " + a.creativeId() + ", " + elapsed +
                         " after the launch screen was made");
  };
  ad->onAdFailedToReceive = [note, heard](OrvexSplashAd&, OrvexErrorCode code) {
    heard->error = code;
    note("failed", "onAdFailedToReceive " + OrvexErrorCodeToString(code));
  };
  ad->onAdImpression = [note](OrvexSplashAd&) { note("impression", "onAdImpression"); };
  ad->onAdClose = [note](OrvexSplashAd&, bool impressed) {
    note(impressed ? "close impressed" : "close",
         std::string("onAdClose impressed ") + (impressed ? "true" : "false"));
  };
  splash->setBackgroundColor(kLaunchBackground);
  splash->setLogoImage(hostLogo());
  splash->setMainViewController(main);
  timeline.say("window.rootViewController = launch screen (unit " + unitId + ")");
  window->setRootViewController(splash->viewController());

  if (auto reason = awaitReceived(screen, *heard, unitId); !reason.empty()) return reason;
  auto image = splash->adImageView() ? splash->adImageView()->image() : std::nullopt;
  if (!image) return "the launch screen shows no ad image";
  timeline.say("launch screen shows the ad image (" + std::to_string(image->pixelWidth) + "x" +
               std::to_string(image->pixelHeight) + ", " +
               (warm ? "from the cache, no network wait" : "from the bounded request") +
               "), display duration " + std::to_string(splash->displayDuration()).substr(0, 4) +
               " s");
  if (!options.screenshot.empty()) {
    screen.runFor(0.2);
    if (auto reason = takeScreenshot(screen, timeline, options, *splash->viewController()->view());
        !reason.empty())
      return reason;
  }

  if (!screen.runUntil([&] { return heard->has("close impressed") || heard->has("close"); }, 10))
    return "the launch screen never handed over";
  if (window->rootViewController() != main) return "the window's root is not the host's screen";
  timeline.say("the window shows the host's feed (cross-dissolved)");
  splash.reset();
  ad.reset();

  // The next start's ads: stored by the background refresh, their images prefetched.
  if (!screen.runUntil(
          [&] {
            auto next = storedCreatives(unitId);
            return next && onDisk(*next);
          },
          10))
    return "the list for the next start was not stored with its images";
  timeline.say("next start: " + std::to_string(storedCreatives(unitId)->size()) +
               " ads stored, their images on disk: run again to see one served from the cache");
  return checkOrder(*heard, {"received", "impression", "close impressed"});
}

}  // namespace demo
