#include "orvex/formats/fullscreen/fullscreen_screen.h"

namespace orvex::fullscreen {

std::optional<PageMessage> pageMessage(const ScriptMessage& message) {
  if (message.name != "orvex" || !message.body.asDict()) return std::nullopt;
  const Value* action = message.body.find("action");
  const std::string* text = action ? action->asString() : nullptr;
  if (!text) return std::nullopt;
  return PageMessage{*text, message.body};
}

std::optional<Url> pageLink(const PageMessage& message) {
  const Value* url = message.body.find("url");
  const std::string* text = url ? url->asString() : nullptr;
  return text ? Url::parse(*text) : std::nullopt;
}

std::vector<InterfaceOrientation> orientationsFor(bool isPortrait) {
  if (isPortrait) return {InterfaceOrientation::portrait, InterfaceOrientation::portraitUpsideDown};
  return {InterfaceOrientation::landscapeLeft, InterfaceOrientation::landscapeRight};
}

void fill(ViewController& controller, const std::shared_ptr<View>& view) {
  auto root = controller.view();
  root->addSubview(view);
  view->setFrame(root->bounds());
  view->setFillsSuperview(true);
}

}  // namespace orvex::fullscreen
