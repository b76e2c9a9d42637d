#include "examples/demo/quest_flow.h"

#include <optional>
#include <vector>

#include "orvex/core/orvex.h"
#include "orvex/platform/view.h"

namespace demo {
namespace {

using namespace orvex;

// The local service's quest site lives under one channel.
constexpr const char* kChannel = "quest";

}  // namespace

std::string runQuestFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options) {
  const std::string& page = options.unitId;
  screen.observeOpenedLinks([&timeline](const std::string& kind, const std::string& to) {
    timeline.say("link opener: " + kind + " " + to);
  });
  std::vector<std::string> haptics;
  screen.observeHaptics([&timeline, &haptics](const std::string& feedback) {
    haptics.push_back(feedback);
    timeline.say("haptic feedback: " + feedback);
  });

  auto root = screen.window()->rootViewController();
  timeline.say("Orvex.openQuest(channel \"" + std::string(kChannel) + "\", path \"" + page + "\")");
  if (!Orvex::openQuest(kChannel, page)) return "openQuest did not make a URL of the page";
  if (!screen.runUntil([&] { return root->presentedViewController() != nullptr; }, 5))
    return "the quest screen was not presented";
  // Held weakly: the screen must be free to go when the page closes it.
  const std::weak_ptr<ViewController> quest = root->presentedViewController();
  auto shoot = [&]() -> std::string {
    auto controller = quest.lock();
    if (!controller) return options.screenshot.empty() ? "" : "the quest screen closed too soon";
    return takeScreenshot(screen, timeline, options, *controller->view());
  };
  auto web = screen.lastWebView();
  if (!web) return "the quest screen has no web view";
  if (!screen.runUntil([&] { return !web->isLoading(); }, 10) || web->isHidden())
    return "the quest page did not load";
  timeline.say("quest screen presented full screen; page loaded");

  std::optional<std::string> version;
  if (!screen.pagesRunThemselves()) {
    timeline.say("page: await bridge.postMessage({sig: \"getAppVersion\"})");
    screen.askFromPage(
        *web, "bridge", R"({"sig":"getAppVersion"})",
        [&version](std::optional<std::string> reply) { version = reply.value_or("(no answer)"); });
    if (!screen.runUntil([&] { return version.has_value(); }, 5))
      return "the bridge did not answer getAppVersion";
    timeline.say("page: got " + *version);
    timeline.say("page: bridge.postMessage({sig: \"haptic\", payload: {type: \"medium\"}})");
    screen.postFromPage(*web, "bridge", R"({"sig":"haptic","payload":{"type":"medium"}})");
    if (!screen.runUntil([&] { return !haptics.empty(); }, 5)) return "no haptic feedback";
    screen.runFor(0.5);  // the page shows its answer a moment
    if (auto failed = shoot(); !failed.empty()) return failed;
    timeline.say("page: orvex.postMessage({action: \"close\"})");
    screen.postFromPage(*web, "orvex", R"({"action":"close"})");
  } else {
    timeline.say("the page plays its part by itself");
    if (!screen.runUntil([&] { return !haptics.empty(); }, 15)) return "no haptic feedback";
    // The page closes the screen 1.5 s after its haptic: the picture is taken at once.
    screen.runFor(0.2);
    if (auto failed = shoot(); !failed.empty()) return failed;
    web->evaluateJavaScript("window.questAppVersion",
                            [&version](std::optional<Value> result, std::optional<WebError>) {
                              const std::string* text = result ? result->asString() : nullptr;
                              version = text ? "\"" + *text + "\"" : "(no answer)";
                            });
    screen.runUntil([&] { return version.has_value(); }, 5);
    timeline.say("page: got " + version.value_or("(no answer)"));
  }
  if (!version || version->find("/" + Orvex::sdkVersion() + "/") == std::string::npos)
    return "getAppVersion answered " + version.value_or("nothing");
  if (!screen.runUntil([&] { return root->presentedViewController() == nullptr; }, 10))
    return "the quest screen did not close";
  timeline.say("quest screen dismissed");
  return "";
}

}  // namespace demo
