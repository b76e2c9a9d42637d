// Quest pages and deep links: the two public operations that open the quest web screen.
#include "orvex/core/orvex.h"
#include "orvex/core/url.h"

namespace orvex {

bool Orvex::openQuest(const std::string& channel, const std::optional<std::string>& path) {
  Orvex& self = shared();
  // Built from the deployment rather than the configuration: opening a page must not create
  // the configuration (and with it a user id) as a side effect.
  std::string text = "https://" + self.platform_.deployment.questHost + "/" + channel;
  if (path && !path->empty()) {
    std::string_view rest = *path;
    if (rest.front() == '/') rest.remove_prefix(1);
    text.append("/").append(rest);
  }
  if (!Url::parse(text)) return false;
  self.presentQuest(text);
  return true;
}

bool Orvex::handleDeepLink(const std::string& url) {
  auto items = Url::queryItemsOf(url);
  if (!items || items->empty()) return false;
  for (const auto& item : *items) {
    if (item.name != "orvex_landing_url" || !item.value) continue;
    std::string landing = percentDecode(*item.value).value_or("");
    if (!Url::parse(landing)) continue;
    Orvex& self = shared();
    self.platform_.dispatcher->mainQueue()->postAfter(
        secondsToDuration(0.01), [landing] { Orvex::shared().presentQuest(landing); });
    return true;
  }
  return false;
}

}  // namespace orvex
