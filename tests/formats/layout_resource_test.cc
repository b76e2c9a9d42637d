#include "orvex/formats/layout_resource.h"

#include <gtest/gtest.h>

#include "ports/headless/headless_user_interface.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::TempDir;
using testing_support::TestSdk;

class LayoutResource : public ::testing::Test {
 protected:
  UserInterface& ui() { return *sdk_.port().ui; }
  TempDir dir_;
  TestSdk sdk_{dir_.path()};
};

TEST_F(LayoutResource, RulesPlaceAnElementInItsParent) {
  const std::vector<std::pair<std::string, Rect>> rows = {
      {"{}", Rect(0, 0, 400, 800)},
      {R"({"left": 10, "right": 20, "bottom": 0, "height": 52})", Rect(10, 748, 370, 52)},
      {R"({"right": 8, "top": 8, "width": 32, "height": 32})", Rect(360, 8, 32, 32)},
      {R"({"width": 320, "centerY": -10, "aspect": 2})", Rect(40, 310, 320, 160)},
      {R"({"widthFraction": 0.5, "heightFraction": 0.25})", Rect(100, 300, 200, 200)},
      {R"({"left": 0, "top": 0, "aspect": 0.5})", Rect(0, 0, 400, 800)},
      {R"({"left": 30, "width": 100, "centerY": 0, "height": 10})", Rect(30, 395, 100, 10)},
  };
  for (const auto& [rules, frame] : rows) {
    auto built = buildLayoutFromJson(
        ui(), R"({"root": {"kind": "view", "children": [{"id": "e", "kind": "view", "rules": )" +
                  rules + "}]}}");
    ASSERT_TRUE(built) << rules;
    built->root->setFrame(Rect(0, 0, 400, 800));
    EXPECT_EQ(built->element<View>("e")->frame(), frame) << rules;
  }
}

TEST_F(LayoutResource, BuildsElementsAndReappliesRulesOnEachLayoutPass) {
  const char* json = R"({"root": {"id": "top", "kind": "view", "children": [
      {"id": "bar", "kind": "view", "background": "#25252580", "cornerRadius": 16,
       "rules": {"left": 0, "right": 0, "bottom": 0, "height": 52}, "children": [
         {"id": "label", "kind": "label", "text": "Close", "textColor": "#DBDBE4FF",
          "fontSize": 15, "bold": true, "align": "trailing", "rules": {"right": 20}},
         {"id": "button", "kind": "button", "title": "", "rules": {"right": 0, "width": 80}}]},
      {"id": "pages", "kind": "scroll", "paging": true, "hidden": true, "alpha": 0.5,
       "rules": {"top": 0, "aspect": 1}}]}})";
  auto built = buildLayoutFromJson(ui(), json);
  ASSERT_TRUE(built);
  EXPECT_EQ(built->elements.size(), 5u);
  auto bar = built->element<View>("bar");
  auto label = built->element<Label>("label");
  auto pages = built->element<ScrollView>("pages");
  ASSERT_TRUE(bar && label && pages && built->element<Button>("button"));
  EXPECT_EQ(built->element<Label>("button"), nullptr);
  EXPECT_EQ(built->element<View>("absent"), nullptr);
  EXPECT_EQ(bar->backgroundColor(), 0x25252580u);
  EXPECT_EQ(bar->cornerRadius(), 16);
  EXPECT_EQ(label->text(), "Close");
  EXPECT_EQ(label->textColor(), 0xDBDBE4FFu);
  EXPECT_FALSE(label->isUserInteractionEnabled());  // taps reach the button over it
  EXPECT_TRUE(pages->isPagingEnabled() && pages->isHidden());
  EXPECT_EQ(pages->alpha(), 0.5);

  built->root->setFrame(Rect(0, 0, 390, 844));
  EXPECT_EQ(bar->frame(), Rect(0, 792, 390, 52));
  EXPECT_EQ(label->frame(), Rect(0, 0, 370, 52));
  EXPECT_EQ(built->element<View>("button")->frame(), Rect(310, 0, 80, 52));
  EXPECT_EQ(pages->frame(), Rect(0, 0, 390, 390));

  int passes = 0;
  EXPECT_TRUE(built->setLayoutHandler("bar", [&passes] { ++passes; }));
  auto rules = *built->rules("pages");
  rules.aspect = 0.5;
  EXPECT_TRUE(built->setRules("pages", rules));
  EXPECT_EQ(pages->frame(), Rect(0, 0, 390, 780));
  built->root->setFrame(Rect(0, 0, 300, 600));
  EXPECT_EQ(bar->frame(), Rect(0, 548, 300, 52));
  EXPECT_EQ(pages->frame(), Rect(0, 0, 300, 600));
  EXPECT_EQ(passes, 1);
  built->layout();
  EXPECT_EQ(passes, 2);
  EXPECT_FALSE(built->setRules("top", {}));
  EXPECT_FALSE(built->setRules("absent", {}));
}

TEST_F(LayoutResource, ShippedPopupLayoutsHoldEveryElement) {
  for (const char* name : {"OrvexPopupAdViewBottom", "OrvexPopupAdViewCenter"}) {
    auto built = buildLayout(ui(), name);
    ASSERT_TRUE(built) << name;
    EXPECT_TRUE(built->element<ScrollView>("scrollView")) << name;
    for (const char* id : {"currentIndexLabel", "totalIndexLabel", "rightActionLabel",
                           "leftActionLabel", "leftActionLabelOutside", "rightActionLabelOutside"})
      EXPECT_TRUE(built->element<Label>(id)) << name << " " << id;
    for (const char* id : {"rightActionButton", "leftActionButton", "leftActionButtonOutside",
                           "rightActionButtonOutside", "insideTopRightCloseButton"})
      EXPECT_TRUE(built->element<Button>(id)) << name << " " << id;
    for (const char* id :
         {"adContainerView", "backgroundDimView", "pageIndexView", "actionBar", "actionBarOutside"})
      EXPECT_TRUE(built->element<View>(id)) << name << " " << id;
  }
}

TEST_F(LayoutResource, MalformedInputBuildsNothing) {
  const std::vector<std::string> bad = {
      "",
      "[]",
      "{\"root\": 1}",
      R"({"root": {"kind": "view"}, "extra": 1})",
      R"({"root": {"id": "a"}})",
      R"({"root": {"kind": "table"}})",
      R"({"root": {"kind": "view", "colour": "#000000FF"}})",
      R"({"root": {"kind": "view", "background": "#000000"}})",
      R"({"root": {"kind": "view", "background": "#00000GFF"}})",
      R"({"root": {"kind": "view", "rules": {"left": "0"}}})",
      R"({"root": {"kind": "view", "rules": {"middle": 0}}})",
      R"({"root": {"kind": "view", "rules": {"aspect": 0}}})",
      R"({"root": {"kind": "view", "alpha": 2}})",
      R"({"root": {"kind": "label", "align": "justified"}})",
      R"({"root": {"kind": "view", "children": [{"id": "a", "kind": "view"},
                                                {"id": "a", "kind": "view"}]}})",
      R"({"root": {"kind": "view", "children": {"kind": "view"}}})",
      std::string(100, '[') + std::string(100, ']'),
  };
  for (const auto& text : bad) {
    std::string error;
    EXPECT_FALSE(buildLayoutFromJson(ui(), text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  EXPECT_FALSE(buildLayout(ui(), "NoSuchLayout"));
  EXPECT_FALSE(buildLayout(ui(), "../strings/en"));
}

}  // namespace
}  // namespace orvex
