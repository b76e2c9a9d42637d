#pragma once
// An alert: an optional title, a message and one or more buttons, presented modally over a
// controller with ViewController::present. Main thread only.
//
// What a port does: it shows the alert over its presenter, which stays on screen beneath (the
// presentation style is ignored). When the user chooses a button, the port dismisses the alert and,
// once the dismissal has ended, runs that action's handler on the main queue; one handler per
// presentation at most. A desktop maps the cancel-style action to Escape (without one, Escape does
// nothing) and the first standard action to Enter.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/view.h"

namespace orvex {

// The platform's button styles ("default" is the standard one).
enum class AlertActionStyle { standard, cancel, destructive };

struct AlertAction {
  std::string title;
  AlertActionStyle style = AlertActionStyle::standard;
  // Runs on the main queue after the alert was dismissed; may be empty.
  std::function<void()> handler;
};

class ORVEX_API AlertController : public virtual ViewController {
 public:
  virtual std::optional<std::string> title() const = 0;
  virtual std::optional<std::string> message() const = 0;
  // Buttons appear in the order added; add them before presenting.
  virtual void addAction(AlertAction action) = 0;
  virtual std::size_t actionCount() const = 0;
};

}  // namespace orvex
