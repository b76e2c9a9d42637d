// Buttons, labels and a view's layer (orvex/platform/view.h): what is set reads back, a button
// acts on a real tap inside it while shown, and a translation or a clip moves and cuts where
// taps land.
#include <functional>
#include <string>
#include <vector>

#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

using Strings = std::vector<std::string>;

class Controls : public PortTest {};
ORVEX_CONFORMANCE_AREA(Controls);

TEST_P(Controls, LayerAndLabelSettingsReadBackAndATranslationLeavesTheFrame) {
  auto view = addView(Rect(10, 10, 100, 100));
  EXPECT_EQ(view->backgroundColor(), 0u);
  EXPECT_FALSE(view->clipsToBounds());
  view->setBackgroundColor(0x11223344);
  view->setCornerRadius(16, kTopLeftCorner | kTopRightCorner);
  view->setClipsToBounds(true);
  view->setTranslation(Point{5, -7});
  port().settle();
  EXPECT_EQ(view->backgroundColor(), 0x11223344u);
  EXPECT_EQ(view->cornerRadius(), 16);
  EXPECT_EQ(view->roundedCorners(), unsigned{kTopLeftCorner | kTopRightCorner});
  EXPECT_TRUE(view->clipsToBounds());
  EXPECT_EQ(view->translation(), (Point{5, -7}));
  EXPECT_EQ(view->frame(), Rect(10, 10, 100, 100));
  view->setCornerRadius(8);
  EXPECT_EQ(view->roundedCorners(), kAllCorners);

  auto label = port().ui().makeLabel();
  port().root()->view()->addSubview(label);
  label->setText("Hide for today");
  label->setTextColor(0xffffffff);
  label->setFont(14, true);
  label->setTextAlignment(TextAlignment::center);
  port().settle();
  EXPECT_EQ(label->text(), "Hide for today");
  EXPECT_EQ(label->textColor(), 0xffffffffu);
}

TEST_P(Controls, AButtonActsOnATapInsideItWhileShown) {
  auto button = port().ui().makeButton();
  port().root()->view()->addSubview(button);
  button->setFrame(Rect(40, 60, 120, 44));
  button->setTitle("Close");
  button->setTitleColor(0x333333ff);
  EXPECT_EQ(button->title(), "Close");
  int actions = 0;
  button->setAction([&] { ++actions; });
  const Point inside{60, 20}, outside{130, 20};  // in the button's coordinates
  const struct {
    const char* step;
    std::function<void()> before;
    Point at;
    int actions;
  } steps[] = {
      {"inside", [] {}, inside, 1},
      {"outside", [] {}, outside, 1},
      {"hidden", [&] { button->setHidden(true); }, inside, 1},
      {"shown again", [&] { button->setHidden(false); }, inside, 2},
      {"untitled", [&] { button->setTitle(""); }, inside, 3},
      {"action removed", [&] { button->setAction({}); }, inside, 3},
  };
  for (const auto& s : steps) {
    s.before();
    port().settle();
    port().tap(*button, s.at);
    port().settle();
    EXPECT_EQ(actions, s.actions) << s.step;
  }
}

TEST_P(Controls, TranslationMovesAndClippingCutsWhereTapsLand) {
  auto below = addView(Rect(0, 0, 300, 300));
  auto card = addView(Rect(50, 50, 100, 100));
  auto inner = addView(Rect(0, 0, 100, 100), card);
  auto overhang = addView(Rect(80, 80, 60, 60), card);  // partly outside the card
  Strings taps;
  for (auto& [view, name] :
       {std::pair{below, "below"}, std::pair{inner, "inner"}, std::pair{overhang, "overhang"}}) {
    view->addTapHandler([&taps, name = std::string(name)] { taps.push_back(name); });
  }
  // Each step changes the card, then taps at a point of the root view.
  const struct {
    std::function<void()> change;
    Point at;
    const char* expected;
  } steps[] = {
      {[&] {
         card->setTranslation(Point{100, 0});
       },
       {60, 60},
       "below"},
      {[] {}, {160, 60}, "inner"},
      {[&] { card->setTranslation(Point{}); }, {60, 60}, "inner"},
      {[&] { card->setClipsToBounds(true); }, {175, 175}, "below"},  // the overhang's outer part
      {[] {}, {140, 140}, "overhang"},
      {[&] { card->setCornerRadius(30); }, {52, 52}, "below"},  // a rounded-off corner
      {[] {}, {100, 100}, "inner"},
      {[&] { card->setCornerRadius(30, kBottomRightCorner); }, {52, 52}, "inner"},
  };
  Strings expected;
  for (const auto& s : steps) {
    s.change();
    port().settle();
    port().tap(*port().root()->view(), s.at);
    expected.push_back(s.expected);
  }
  EXPECT_EQ(taps, expected);
}

}  // namespace
}  // namespace orvex::conformance
