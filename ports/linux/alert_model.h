#pragma once
// An alert's behaviour both screens share: its title, message and actions, and the user's
// choice — the alert is dismissed (animated) and the chosen action's handler runs on the main
// queue once the dismissal has ended; one choice per presentation. It presents over the
// presenter's content, whatever style the caller sets. A port adds how it is drawn.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/alert.h"
#include "ports/linux/view_controller_model.h"

namespace orvex::linux_port {

class ORVEX_API AlertModel : public ViewControllerModel, public AlertController {
 public:
  std::optional<std::string> title() const override { return title_; }
  std::optional<std::string> message() const override { return message_; }
  void addAction(AlertAction action) override { actions_.push_back(std::move(action)); }
  std::size_t actionCount() const override { return actions_.size(); }

  std::vector<std::string> actionTitles() const;
  // The user choosing a button: false when there is no such button, the alert is not fully on
  // screen, or a button was chosen already.
  bool choose(std::size_t index);
  bool choose(const std::string& title);

 protected:
  AlertModel(std::shared_ptr<TaskQueue> mainQueue, std::shared_ptr<View> view,
             std::optional<std::string> title, std::optional<std::string> message);
  const std::vector<AlertAction>& actions() const { return actions_; }

 private:
  std::optional<std::string> title_;
  std::optional<std::string> message_;
  std::vector<AlertAction> actions_;
  bool chosen_ = false;
};

}  // namespace orvex::linux_port
