// A thousand ad loads in virtual time over a transport that fails at random, with the host
// letting go of ad objects at random, often while their requests are still out. Checks that no
// callback reaches an object the host released, and that nothing accumulates: what is alive and
// pending after a thousand loads is what was after a hundred. A format joins by adding its flow.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>

#include "orvex/core/orvex.h"
#include "orvex/formats/fullscreen/orvex_interstitial_ad.h"
#include "orvex/formats/fullscreen/orvex_rewarded_ad.h"
#include "orvex/formats/fullscreen/orvex_splash_ad_view_controller.h"
#include "orvex/formats/inline/orvex_banner.h"
#include "orvex/formats/inline/orvex_native_ad.h"
#include "orvex/formats/inline/orvex_native_ad_view.h"
#include "orvex/formats/inline/orvex_quest_banner.h"
#include "orvex/formats/popup/orvex_popup_ad.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "ports/headless/virtual_time.h"
#include "ports/linux/lifecycle.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::queryOf;
using testing_support::ScriptedHttpClient;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

struct SoakWorld {
  TestSdk& sdk;
  std::shared_ptr<Window> window;
  std::mt19937& random;
  std::set<int> held;  // ids of the ad objects the host still holds
  int callbacks = 0;
  int lateCallbacks = 0;

  // Every host callback of every flow reports here.
  void heard(int id) {
    ++callbacks;
    if (!held.contains(id)) ++lateCallbacks;
  }
  bool chance(double p) { return std::bernoulli_distribution(p)(random); }
};

// One format's part: make an ad object on screen whose every callback goes to world.heard(id),
// start its load, and return what the host holds (its only strong reference). `play` acts as
// the user on an object that may or may not have loaded.
struct SoakFlow {
  const char* name;
  std::function<std::shared_ptr<void>(SoakWorld&, int id)> start;
  std::function<void(SoakWorld&, const std::shared_ptr<void>&)> play;
};

struct BannerDelegate : OrvexBannerDelegate {
  BannerDelegate(SoakWorld& w, int id) : world(w), id(id) {}
  void onAdReceived(OrvexBanner&) override { world.heard(id); }
  void onAdFailedToReceive(OrvexBanner&, OrvexErrorCode) override { world.heard(id); }
  void onAdImpression(OrvexBanner&) override { world.heard(id); }
  void onAdClicked(OrvexBanner&) override { world.heard(id); }
  SoakWorld& world;
  int id;
};

struct HeldBanner {
  std::shared_ptr<OrvexBanner> banner;
  std::shared_ptr<BannerDelegate> delegate;  // held by the host, as the banner holds it weakly
};

struct NativeDelegate : OrvexNativeAdDelegate {
  NativeDelegate(SoakWorld& w, int id) : world(w), id(id) {}
  void onAdReceived(OrvexNativeAd& ad) override {
    world.heard(id);
    // Binding happens in the callback, as hosts do; the container may already be gone.
    if (auto view = adView.lock()) view->setNativeAd(ad.shared_from_this());
  }
  void onAdFailedToReceive(OrvexNativeAd&, OrvexErrorCode) override { world.heard(id); }
  void onAdImpression(OrvexNativeAd&) override { world.heard(id); }
  void onAdClicked(OrvexNativeAd&) override { world.heard(id); }
  SoakWorld& world;
  int id;
  std::weak_ptr<OrvexNativeAdView> adView;
};

struct HeldNative {
  std::shared_ptr<OrvexNativeAd> ad;
  std::shared_ptr<NativeDelegate> delegate;
  std::shared_ptr<OrvexNativeAdView> adView;
  std::shared_ptr<View> callToAction;
};

// Interstitial and rewarded ads: every callback heard, the page played at random once it is up,
// and the screen gone by the end of the turn (a screen left up would hold its page).
template <typename Ad>
std::shared_ptr<void> startFullScreen(SoakWorld& w, int id, const char* unit) {
  auto ad = Ad::create(w.chance(0.1) ? "demo-nofill" : unit);
  auto heard = [&w, id](Ad&) { w.heard(id); };
  auto failed = [&w, id](Ad&, OrvexErrorCode) { w.heard(id); };
  ad->onAdReceived = ad->onAdImpression = ad->onAdClicked = heard;
  ad->onAdWillPresentFullScreen = ad->onAdDidPresentFullScreen = heard;
  ad->onAdWillDismissFullScreen = ad->onAdDidDismissFullScreen = heard;
  ad->onAdFailedToReceive = ad->onAdFailedToShowFullScreen = failed;
  ad->load();
  return ad;
}

template <typename Ad>
void playFullScreen(SoakWorld& w, const std::shared_ptr<void>& object,
                    const std::function<void(Ad&)>& show) {
  static const char* const kMessages[] = {
      R"({"action":"open","url":"https://advertiser.example/landing"})",
      R"({"action":"reward","type":1,"amount":10})", R"({"action":"mute","isMuted":true})",
      R"({"action":"close"})", R"({"action":7})"};
  auto ad = std::static_pointer_cast<Ad>(object);
  if (!ad) return;
  show(*ad);
  w.sdk.advance(std::uniform_real_distribution<double>(0, 1)(w.random));
  auto page = ad->screen()
                  ? std::dynamic_pointer_cast<headless::HeadlessWebView>(ad->screen()->webView())
                  : nullptr;
  for (int i = 0; page && i < 3; ++i)
    page->postMessageJSON("orvex", kMessages[w.random() % std::size(kMessages)]);
  w.sdk.advance(0.5);
  auto root = w.window->rootViewController();
  if (root->presentedViewController()) root->dismiss(false, nullptr);
}

// The user's tap in the middle of `view`, wherever it is on screen.
void tapCentre(SoakWorld& w, View& view) {
  const Rect r = view.convertRect(view.bounds(), *w.window);
  headless::headlessView(*w.window).tap(
      Point{r.minX() + r.size.width / 2, r.minY() + r.size.height / 2});
}

const std::vector<SoakFlow>& flows() {
  static const std::vector<SoakFlow> all = {
      {"banner",
       [](SoakWorld& w, int id) -> std::shared_ptr<void> {
         auto held = std::make_shared<HeldBanner>();
         held->banner = OrvexBanner::create(w.chance(0.1) ? "demo-nofill" : "demo-banner", "soak");
         held->delegate = std::make_shared<BannerDelegate>(w, id);
         held->banner->setDelegate(held->delegate);
         held->banner->onAdReceived = [&w, id](OrvexBanner&) { w.heard(id); };
         held->banner->onAdFailedToReceive = [&w, id](OrvexBanner&, OrvexErrorCode) {
           w.heard(id);
         };
         held->banner->onAdImpression = [&w, id](OrvexBanner&) { w.heard(id); };
         held->banner->onAdClicked = [&w, id](OrvexBanner&) { w.heard(id); };
         w.window->rootViewController()->view()->addSubview(held->banner->view());
         held->banner->view()->setFrame(Rect(35, 100 + (id % 8) * 60, 320, 50));
         held->banner->load();
         return held;
       },
       [](SoakWorld& w, const std::shared_ptr<void>&) {
         auto pages = w.sdk.port().webViews->alive();
         if (pages.empty()) return;
         std::uniform_int_distribution<std::size_t> pick(0, pages.size() - 1);
         pages[pick(w.random)]->activateLink("https://advertiser.example/landing");
       }},
      {"native",
       [](SoakWorld& w, int id) -> std::shared_ptr<void> {
         auto& ui = *w.sdk.port().ui;
         auto held = std::make_shared<HeldNative>();
         held->adView = OrvexNativeAdView::create();
         auto icon = ui.makeImageView();
         auto media = ui.makeView();
         held->callToAction = ui.makeLabel();
         w.window->rootViewController()->view()->addSubview(held->adView->view());
         held->adView->view()->setFrame(Rect(0, 80 + (id % 4) * 40, 390, 300));
         for (const auto& [view, frame] :
              {std::pair<std::shared_ptr<View>, Rect>{icon, {10, 10, 40, 40}},
               {media, {10, 60, 320, 180}},
               {held->callToAction, {10, 250, 370, 40}}}) {
           held->adView->view()->addSubview(view);
           view->setFrame(frame);
         }
         held->adView->setIconView(icon);
         held->adView->setMediaView(media);
         held->adView->setCallToActionView(held->callToAction);
         held->ad = OrvexNativeAd::create(w.chance(0.1) ? "demo-nofill" : "soak-native", "soak");
         held->delegate = std::make_shared<NativeDelegate>(w, id);
         held->delegate->adView = held->adView;
         held->ad->setDelegate(held->delegate);
         held->ad->load();
         return held;
       },
       [](SoakWorld& w, const std::shared_ptr<void>& object) {
         if (object) tapCentre(w, *std::static_pointer_cast<HeldNative>(object)->callToAction);
       }},
      {"quest banner",
       [](SoakWorld& w, int id) -> std::shared_ptr<void> {
         auto held = std::make_shared<HeldBanner>();
         auto quest = OrvexQuestBanner::create("soak", OrvexQuestBannerFormat::feed);
         quest->setFrom("home");
         held->banner = quest;
         held->delegate = std::make_shared<BannerDelegate>(w, id);
         held->banner->setDelegate(held->delegate);
         w.window->rootViewController()->view()->addSubview(quest->view());
         quest->view()->setFrame(Rect(35, 100 + (id % 8) * 60, 320, 50));
         quest->load();
         return held;
       },
       [](SoakWorld& w, const std::shared_ptr<void>&) {
         // A tap on a quest banner presents the quest screen; the user closes it again.
         auto pages = w.sdk.port().webViews->alive();
         if (!pages.empty()) pages.back()->activateLink("https://quest.orvex.example/soak");
         w.sdk.advance(0.5);
         auto root = w.window->rootViewController();
         if (root->presentedViewController()) root->dismiss(false, nullptr);
       }},
      {"interstitial",
       [](SoakWorld& w, int id) {
         return startFullScreen<OrvexInterstitialAd>(w, id, "soak-interstitial");
       },
       [](SoakWorld& w, const std::shared_ptr<void>& object) {
         playFullScreen<OrvexInterstitialAd>(
             w, object, [&w](OrvexInterstitialAd& ad) { ad.show(w.window->rootViewController()); });
       }},
      {"rewarded",
       [](SoakWorld& w, int id) {
         return startFullScreen<OrvexRewardedAd>(w, id, "soak-rewarded");
       },
       [](SoakWorld& w, const std::shared_ptr<void>& object) {
         playFullScreen<OrvexRewardedAd>(w, object, [&w](OrvexRewardedAd& ad) {
           ad.show(w.window->rootViewController(), [&w](std::int64_t, std::int64_t) {});
         });
       }},
      {"splash",
       [](SoakWorld& w, int id) -> std::shared_ptr<void> {
         // Off screen (a launch screen is a window's root, which the other flows need): the
         // loads, the bound, the cache and the refresh, and close() handing over to nobody.
         const double timeout = w.chance(0.3) ? 0 : 0.8;
         auto screen = OrvexSplashAdViewController::create("soak-splash", timeout);
         auto ad = screen->splashAd();
         ad->onAdReceived = ad->onAdImpression = [&w, id](OrvexSplashAd&) { w.heard(id); };
         ad->onAdFailedToReceive = [&w, id](OrvexSplashAd&, OrvexErrorCode) { w.heard(id); };
         ad->onAdClose = [&w, id](OrvexSplashAd&, bool) { w.heard(id); };
         return screen;
       },
       [](SoakWorld&, const std::shared_ptr<void>& object) {
         if (object) std::static_pointer_cast<OrvexSplashAdViewController>(object)->close();
       }},
      {"popup",
       [](SoakWorld& w, int id) -> std::shared_ptr<void> {
         auto popup = OrvexPopupAd::create(w.chance(0.1) ? "demo-nofill" : "soak-popup");
         auto heard = [&w, id](OrvexPopupAd&) { w.heard(id); };
         auto failed = [&w, id](OrvexPopupAd&, OrvexErrorCode) { w.heard(id); };
         popup->onAdReceived = popup->onAdImpression = popup->onAdClicked = heard;
         popup->onAdWillPresentFullScreen = popup->onAdDidPresentFullScreen = heard;
         popup->onAdWillDismissFullScreen = popup->onAdDidDismissFullScreen = heard;
         popup->onClosed = popup->onDimClicked = popup->onTodayOffClicked = heard;
         popup->onAdFailedToReceive = popup->onAdFailedToShowFullScreen = failed;
         popup->load();
         return popup;
       },
       [](SoakWorld& w, const std::shared_ptr<void>& object) {
         // Shown, a page tapped at some moment of its appearing, then closed (or released up).
         auto popup = std::static_pointer_cast<OrvexPopupAd>(object);
         popup->show();
         w.sdk.advance(std::uniform_real_distribution<double>(0, 1)(w.random));
         const auto& controller = popup->popupAdViewController();
         if (controller && !controller->webViews().empty()) {
           const auto& pages = controller->webViews();
           auto page = std::dynamic_pointer_cast<headless::HeadlessWebView>(
               pages[w.random() % pages.size()]->webView());
           if (page) page->activateLink("https://advertiser.example/landing");
         }
         popup->close();
         w.sdk.advance(1);
       }},
  };
  return all;
}

// The service, failing a third of the time in every way a transport or an answer can.
HttpResult randomAnswer(const HttpRequest& request, std::mt19937& random) {
  static const HttpError::Kind kFailures[] = {
      HttpError::Kind::noConnection,  HttpError::Kind::cannotFindHost,
      HttpError::Kind::cannotConnect, HttpError::Kind::connectionLost,
      HttpError::Kind::timedOut,      HttpError::Kind::secureConnectionFailed,
      HttpError::Kind::tooLarge,      HttpError::Kind::badResponse};
  const std::string query = queryOf(request);
  switch (std::uniform_int_distribution<int>(0, 11)(random)) {
    case 0:
      return ScriptedHttpClient::failure(kFailures[random() % std::size(kFailures)]);
    case 1:
      return ScriptedHttpClient::answer(random() % 2 ? 500 : 401, R"({"errors":[]})");
    case 2:
      return ScriptedHttpClient::answer(200, random() % 2 ? "<html>" : R"({"data":null})");
    case 3:
      return ScriptedHttpClient::answer(200, R"({"data":{"requestAd":{"id":7}}})");
    default:
      break;
  }
  if (query.find("getRemoteConfig") != std::string::npos)
    return ScriptedHttpClient::answer(200, R"({"data":{"getRemoteConfig":{"active":true}}})");
  if (query.find("invoke(") != std::string::npos)
    return ScriptedHttpClient::answer(200, R"({"data":{"invoke":{"message":"ok"}}})");
  if (query.find("demo-nofill") != std::string::npos)
    return ScriptedHttpClient::answer(200, R"({"data":{"requestAd":{"id":"","creative":""}}})");
  if (query.find("soak-splash") != std::string::npos) {
    return ScriptedHttpClient::answer(
        200, R"({"data":{"requestAds":[{"id":"a:b:c_s","creative":"https://cdn.example/)"
             R"(splash.png","campaignStartTime":1.0,"campaignEndTime":4102444800000.0}]}})");
  }
  if (query.find("soak-popup") != std::string::npos) {
    return ScriptedHttpClient::answer(
        200, R"({"data":{"requestAds":[{"id":"a:b:c_p1","cpId":"x:y","creative":"<a href='https:)"
             R"(//advertiser.example/landing'>1</a>"},{"id":"a:b:c_p2","creative":"2"}]}})");
  }
  if (query.find("soak-rewarded") != std::string::npos) {
    return ScriptedHttpClient::answer(
        200, R"({"data":{"requestAd":{"id":"a:b:c_r","cpId":"x:y","creative":"<video><source )"
             R"(src='https://cdn.example/v.webm'></video>"}}})");
  }
  if (query.find("soak-native") != std::string::npos) {
    return ScriptedHttpClient::answer(
        200, R"({"data":{"requestAd":{"id":"a:b:c_n","cpId":"x:y","headline":"H",)"
             R"("callToAction":"Go","icon":"https://cdn.example/icon.png",)"
             R"("cover":"https://cdn.example/cover.png","creative":"<a href='https://)"
             R"(advertiser.example/landing'>m</a>","destinationURL":"https://advertiser.)"
             R"(example/landing"}}})");
  }
  return ScriptedHttpClient::answer(
      200, R"({"data":{"requestAd":{"id":"a:b:c_tx","creative":"<a href='https://advertiser.)"
           R"(example/landing'>ad</a>","cpId":"x:y","destinationURL":"https://advertiser.)"
           R"(example/landing"}}})");
}

// What could pile up over a long session.
struct Footprint {
  std::size_t objects, webViews, pendingTasks, observers, backgroundTasks, views;
  bool operator==(const Footprint&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Footprint& f) {
  return out << "objects " << f.objects << ", web views " << f.webViews << ", pending tasks "
             << f.pendingTasks << ", observers " << f.observers << ", background tasks "
             << f.backgroundTasks << ", views " << f.views;
}

TEST(Soak, AThousandLoadsWithFaultsAndEarlyReleases) {
  constexpr int kLoads = 1000;
  constexpr std::size_t kMaxHeld = 6;
  std::mt19937 random(20260101);
  auto http = std::make_shared<ScriptedHttpClient>();
  http->respond([&random](const HttpRequest& r) { return randomAnswer(r, random); });
  std::ifstream in(
      std::string(ORVEX_SOURCE_DIR) + "/tools/adserver/fixtures/static/splash-current.png",
      std::ios::binary);
  const std::string png{std::istreambuf_iterator<char>(in), {}};
  http->respondToDownloads([&random, &png](const HttpRequest& r) {
    if (r.url.ends_with("splash.png") && random() % 2) return ScriptedHttpClient::answer(200, png);
    return random() % 3 ? ScriptedHttpClient::answer(200, "not an image")
                        : ScriptedHttpClient::failure(HttpError::Kind::timedOut);
  });
  http->setRecording(false);
  TempDir dir;
  TestSdkOptions options;
  options.http = http;
  TestSdk sdk(dir.path(), options);
  auto& port = sdk.port();
  SoakWorld world{sdk, port.ui->makeKeyWindowWithRootController(), random, {}};
  Orvex::initialize(false, false);
  sdk.advance(0);

  std::map<int, std::shared_ptr<void>> held;
  std::vector<std::weak_ptr<void>> made;
  auto release = [&](int id) {
    held.erase(id);
    world.held.erase(id);
  };
  auto releaseAny = [&] {
    auto it = std::next(held.begin(), random() % held.size());
    release(it->first);
  };
  auto footprint = [&] {
    // Everything let go, and long enough for every retry, fallback and post to play out. A
    // screen a click left up (a quest banner's page clicked by another flow) is closed by the user.
    while (!held.empty()) release(held.begin()->first);
    if (auto root = world.window->rootViewController(); root->presentedViewController())
      root->dismiss(false, nullptr);
    sdk.advance(120);
    std::size_t objects = 0;
    for (const auto& m : made) objects += !m.expired();
    return Footprint{objects,
                     port.webViews->alive().size(),
                     port.virtualTime->pendingTaskCount(),
                     port.lifecycle->observerCount(),
                     port.lifecycle->activeBackgroundTaskCount(),
                     world.window->rootViewController()->view()->subviews().size()};
  };

  std::optional<Footprint> afterHundred;
  for (int id = 0; id < kLoads; ++id) {
    if (held.size() >= kMaxHeld) releaseAny();
    const SoakFlow& flow = flows()[id % flows().size()];
    world.held.insert(id);
    held[id] = flow.start(world, id);
    made.push_back(held[id]);
    // Often let go before the answer is in, or between a retry and the next.
    if (world.chance(0.2)) release(id);
    sdk.advance(std::uniform_real_distribution<double>(0, 1.5)(random));
    if (!held.empty() && world.chance(0.3)) {
      const auto& [newest, object] = *held.rbegin();  // played by the flow that made it
      flows()[newest % flows().size()].play(world, object);
    }
    if (!held.empty() && world.chance(0.3)) releaseAny();
    if (id + 1 == 100) afterHundred = footprint();
  }
  const Footprint afterThousand = footprint();

  EXPECT_EQ(world.lateCallbacks, 0);
  EXPECT_GT(world.callbacks, kLoads / 2);  // the flows really ran
  EXPECT_EQ(afterThousand.objects, 0u);
  EXPECT_EQ(afterThousand, *afterHundred);
}

}  // namespace
}  // namespace orvex
