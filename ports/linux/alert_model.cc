#include "ports/linux/alert_model.h"

namespace orvex::linux_port {

AlertModel::AlertModel(std::shared_ptr<TaskQueue> mainQueue, std::shared_ptr<View> view,
                       std::optional<std::string> title, std::optional<std::string> message)
    : ViewControllerModel(std::move(mainQueue), ViewControllerKind::plain, std::move(view)),
      title_(std::move(title)),
      message_(std::move(message)) {
  fixPresentationStyle(PresentationStyle::overFullScreen);
}

std::vector<std::string> AlertModel::actionTitles() const {
  std::vector<std::string> titles;
  for (const auto& a : actions_) titles.push_back(a.title);
  return titles;
}

bool AlertModel::choose(std::size_t index) {
  if (index >= actions_.size() || chosen_ || !presentingViewController() || isTransitioning()) {
    return false;
  }
  chosen_ = true;
  dismiss(true, [handler = actions_[index].handler] {
    if (handler) handler();
  });
  return true;
}

bool AlertModel::choose(const std::string& title) {
  for (std::size_t i = 0; i < actions_.size(); ++i) {
    if (actions_[i].title == title) return choose(i);
  }
  return false;
}

}  // namespace orvex::linux_port
