// Quest pages and deep links: the two public operations of Orvex that open the quest web screen,
// defined beside the screen they present.
#include "orvex/core/orvex.h"
#include "orvex/core/url.h"
#include "orvex/web/link_opener.h"
#include "orvex/web/quest_web_view_controller.h"

namespace orvex {
namespace {

void presentFromTopMost(const std::string& url) {
  OrvexQuestWebViewController::present(topMostViewController(), url);
}

}  // namespace

bool Orvex::openQuest(const std::string& channel, const std::optional<std::string>& path) {
  const OrvexDeployment& deployment = shared().platform().deployment;
  // Built from the deployment rather than the configuration: opening a page must not create
  // the configuration (and with it a user id) as a side effect.
  std::string text = deployment.questScheme + "://" + deployment.questHost + "/" + channel;
  if (path && !path->empty()) {
    std::string_view rest = *path;
    if (rest.front() == '/') rest.remove_prefix(1);
    text.append("/").append(rest);
  }
  if (!Url::parse(text)) return false;
  presentFromTopMost(text);
  return true;
}

bool Orvex::handleDeepLink(const std::string& url) {
  auto items = Url::queryItemsOf(url);
  if (!items || items->empty()) return false;
  for (const auto& item : *items) {
    if (item.name != "orvex_landing_url" || !item.value) continue;
    std::string landing = percentDecode(*item.value).value_or("");
    if (!Url::parse(landing)) continue;
    shared().platform().dispatcher->mainQueue()->postAfter(
        secondsToDuration(0.01), [landing] { presentFromTopMost(landing); });
    return true;
  }
  return false;
}

}  // namespace orvex
