#include "orvex/formats/popup/orvex_popup_ad_view.h"

#include <gtest/gtest.h>

#include "orvex/formats/popup/orvex_popup_ad_rolling_timer.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using headless::HeadlessView;
using headless::HeadlessWebView;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;
using Position = PopupCloseButtonPosition;

TestSdkOptions style(InterfaceStyle interfaceStyle) {
  TestSdkOptions options;
  options.interfaceStyle = interfaceStyle;
  return options;
}

PopupOptions options(AdUnitPopupFormat type = AdUnitPopupFormat::BOTTOM,
                     AdUnitPopupTemplate kind = AdUnitPopupTemplate::PERFORMANCE,
                     Position position = Position::DEFAULT) {
  PopupOptions o;
  o.type = type;
  o.templateKind = kind;
  o.closeButtonPosition = position;
  return o;
}

// A popup view over a key window, as its screen controller shows it, with creatives of `pages`.
class PopupView : public ::testing::Test {
 protected:
  explicit PopupView(InterfaceStyle interfaceStyle = InterfaceStyle::light)
      : sdk_(dir_.path(), style(interfaceStyle)) {
    window_ = sdk_.port().ui->makeKeyWindowWithRootController();
  }

  std::shared_ptr<OrvexPopupAdView> show(const PopupOptions& o, std::vector<AdRes> ads = {},
                                         std::optional<CreativeSize> size = {}) {
    auto view = OrvexPopupAdView::make(*sdk_.port().ui, o.type);
    EXPECT_TRUE(view);
    if (!view) return nullptr;
    view->configure(o, {}, {}, {}, {});
    view->setCreativeSize(size);
    view->setRollingTimer(OrvexPopupAdRollingTimer::create(view->scrollView()));
    view->view()->setFrame(window_->bounds());
    window_->addSubview(view->view());
    view->view()->setFillsSuperview(true);
    view->animateIn();
    pages_.clear();
    for (std::size_t i = 0; i < ads.size(); ++i) {
      pages_.push_back(PassthroughWebView::create(*sdk_.port().ui, WebViewConfiguration{}));
    }
    view->setPages(std::move(ads), pages_);
    view->onClickClose = [this] { events_.push_back("close"); };
    view->onClickBackground = [this] { events_.push_back("dim"); };
    view->onDismissView = [this] { events_.push_back("dismissed"); };
    view->onCTAClick = [this](int i) { events_.push_back("cta " + std::to_string(i)); };
    view->onClickHideForToday = [this](int i) { events_.push_back("today " + std::to_string(i)); };
    return view;
  }
  static std::vector<AdRes> ads(int n, int videoAt = -1) {
    std::vector<AdRes> out(n);
    for (int i = 0; i < n; ++i) {
      out[i].id = "ad" + std::to_string(i);
      out[i].creative = i == videoAt ? "<video src=a.mp4></video>" : "<p>page</p>";
    }
    return out;
  }
  // Taps the middle of `view` as the user would, through the window.
  bool tap(const std::shared_ptr<View>& view) {
    const Rect r = view->convertRect(view->bounds(), *window_);
    return tapAt({r.minX() + r.size.width / 2, r.minY() + r.size.height / 2});
  }
  // The dim shows above every popup at the window's top left.
  bool tapAt(Point point) { return dynamic_cast<HeadlessView&>(*window_).tap(point); }
  // Which page sits in each of the three slots ("-" for none).
  std::string slots(const OrvexPopupAdView& view) {
    std::string out;
    const double w = view.scrollView()->bounds().size.width;
    for (int slot = 0; slot < 3; ++slot) {
      char c = '-';
      for (std::size_t i = 0; i < pages_.size(); ++i) {
        auto page = pages_[i]->webView();
        if (page->superview() == view.scrollView() && page->frame().minX() == slot * w)
          c = static_cast<char>('0' + i);
      }
      out += c;
    }
    return out;
  }
  std::string text(const OrvexPopupAdView& view, const char* id) {
    auto label = view.layout().element<Label>(id);
    return label ? label->text() : "(none)";
  }

  TempDir dir_;
  TestSdk sdk_;
  std::shared_ptr<Window> window_;
  std::vector<std::shared_ptr<PassthroughWebView>> pages_;
  std::vector<std::string> events_;
};

class DarkPopupView : public PopupView {
 protected:
  DarkPopupView() : PopupView(InterfaceStyle::dark) {}
};

TEST_F(PopupView, RolesAndBarForEveryTemplateAndPosition) {
  using enum AdUnitPopupTemplate;
  using Bar = OrvexPopupAdView::OutsideBar;
  struct Row {
    AdUnitPopupTemplate kind;
    Position position;
    const char* bar;  // the bar kept
    Bar outside;
    const char *cta, *close, *hide;  // the buttons playing each role
  };
  const std::vector<Row> rows = {
      {PERFORMANCE, Position::DEFAULT, "actionBar", Bar::none, "rightActionButton",
       "leftActionButton", ""},
      {HIDE_FOR_TODAY, Position::DEFAULT, "actionBar", Bar::none, "", "rightActionButton",
       "leftActionButton"},
      {PERFORMANCE, Position::OUTSIDE_TOP_RIGHT, "actionBarOutside", Bar::above,
       "rightActionButtonOutside", "leftActionButtonOutside", ""},
      {HIDE_FOR_TODAY, Position::OUTSIDE_TOP_RIGHT, "actionBarOutside", Bar::above, "",
       "rightActionButtonOutside", "leftActionButtonOutside"},
      {PERFORMANCE, Position::OUTSIDE_BOTTOM_RIGHT, "actionBarOutside", Bar::below,
       "rightActionButtonOutside", "leftActionButtonOutside", ""},
      {HIDE_FOR_TODAY, Position::OUTSIDE_BOTTOM_RIGHT, "actionBarOutside", Bar::below, "",
       "rightActionButtonOutside", "leftActionButtonOutside"},
      // The corner button closes; the outside bar keeps only its left side.
      {PERFORMANCE, Position::INSIDE_TOP_RIGHT, "actionBarOutside", Bar::above,
       "leftActionButtonOutside", "insideTopRightCloseButton", ""},
      {HIDE_FOR_TODAY, Position::INSIDE_TOP_RIGHT, "actionBarOutside", Bar::above, "", "",
       "leftActionButtonOutside"},
  };
  auto id = [](const auto& view) { return view ? view->accessibilityIdentifier() : ""; };
  for (const auto type : {AdUnitPopupFormat::BOTTOM, AdUnitPopupFormat::CENTER}) {
    for (const auto& row : rows) {
      const std::string name = std::string(row.bar) + " " + std::string(rawValue(row.kind)) + " " +
                               std::to_string(static_cast<int>(row.position)) +
                               (type == AdUnitPopupFormat::CENTER ? " center" : " bottom");
      auto view = show(options(type, row.kind, row.position), ads(1));
      ASSERT_TRUE(view) << name;
      const auto& layout = view->layout();
      const auto& roles = view->roles();
      for (const char* bar : {"actionBar", "actionBarOutside"}) {
        EXPECT_EQ(layout.element<View>(bar)->superview() != nullptr, bar == std::string(row.bar))
            << name << " " << bar;
      }
      EXPECT_EQ(view->outsideBarPlacement(), row.outside) << name;
      EXPECT_EQ(id(roles.ctaButton), row.cta) << name;
      EXPECT_EQ(id(roles.closeButton), row.close) << name;
      EXPECT_EQ(id(roles.hideForTodayButton), row.hide) << name;
      // Texts: the localized ones, empty where a role has no label.
      auto textOf = [](const std::shared_ptr<Label>& label) { return label ? label->text() : ""; };
      EXPECT_EQ(textOf(roles.closeLabel), *row.close && roles.closeLabel ? "Close" : "") << name;
      EXPECT_EQ(textOf(roles.hideForTodayLabel), *row.hide ? "Don't show today" : "") << name;
      EXPECT_EQ(textOf(roles.ctaLabel), *row.cta ? "View details" : "") << name;
      const bool corner = row.position == Position::INSIDE_TOP_RIGHT;
      EXPECT_EQ(layout.element<View>("insideTopRightCloseButton")->isHidden(), !corner) << name;
      EXPECT_EQ(layout.element<View>("rightActionButtonOutside")->superview() == nullptr, corner)
          << name;
      // Every bar sits inside the window, the outside one against the container.
      const Rect box = view->layout().element<View>("adContainerView")->frame();
      EXPECT_TRUE(window_->bounds().intersection(box) == box) << name;
      const Rect strip = view->layout().element<View>("actionBarOutside")->frame();
      if (row.outside == Bar::above) {
        EXPECT_EQ(strip.maxY(), box.minY()) << name;
      } else if (row.outside == Bar::below) {
        EXPECT_EQ(strip.minY(), box.maxY()) << name;
      }
      view->view()->removeFromSuperview();
    }
  }
}

TEST_F(DarkPopupView, DarkStyleColoursGiveWayToTheHosts) {
  auto o = options(AdUnitPopupFormat::BOTTOM, AdUnitPopupTemplate::HIDE_FOR_TODAY);
  auto view = OrvexPopupAdView::make(*sdk_.port().ui, o.type);
  ASSERT_TRUE(view);
  view->configure(o, std::nullopt, std::nullopt, 0x11223344, std::nullopt);
  EXPECT_EQ(view->layout().element<View>("actionBar")->backgroundColor(), 0x252525FFu);
  EXPECT_EQ(view->roles().hideForTodayLabel->textColor(), 0xA3A3A9FFu);
  EXPECT_EQ(view->roles().closeLabel->textColor(), 0x11223344u);

  o.useHideForToday = false;
  view = OrvexPopupAdView::make(*sdk_.port().ui, o.type);
  view->configure(o, 0xFF0000FF, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(view->layout().element<View>("actionBar")->backgroundColor(), 0xFF0000FFu);
  EXPECT_EQ(view->roles().closeLabel->textColor(), 0xDBDBE4FFu);
  EXPECT_TRUE(view->roles().hideForTodayButton->isHidden());
  EXPECT_TRUE(view->roles().hideForTodayLabel->isHidden());
}

TEST_F(PopupView, DimOpacityAndContainerShapes) {
  auto o = options();
  o.backgroundDimOpacity = 50;
  auto view = show(o, ads(1));
  auto dim = view->layout().element<View>("backgroundDimView");
  EXPECT_EQ(dim->alpha(), 0);  // appearing
  sdk_.advance(1);
  EXPECT_DOUBLE_EQ(dim->alpha(), 0.5);
  auto container = view->layout().element<View>("adContainerView");
  EXPECT_TRUE(container->clipsToBounds());
  EXPECT_EQ(container->cornerRadius(), 16);
  EXPECT_EQ(container->roundedCorners(), kTopLeftCorner | kTopRightCorner);
  EXPECT_EQ(container->frame().maxY(), window_->bounds().maxY());
  EXPECT_EQ(container->frame().size.width, window_->bounds().size.width);
  EXPECT_EQ(container->translation(), (Point{0, 0}));

  view = show(options(AdUnitPopupFormat::CENTER), ads(1));  // the default opacity
  sdk_.advance(1);
  EXPECT_DOUBLE_EQ(view->layout().element<View>("backgroundDimView")->alpha(), 0.8);
  EXPECT_EQ(view->layout().element<View>("adContainerView")->roundedCorners(), kAllCorners);
}

TEST_F(PopupView, ANarrowCreativeIsShownAtLeast240PointsWideInADialog) {
  auto view = show(options(AdUnitPopupFormat::CENTER), ads(1), CreativeSize{200, 300});
  EXPECT_EQ(view->scrollView()->frame().size, (Size{240, 360}));
  EXPECT_EQ(pages_[0]->webView()->frame(), Rect(240, 0, 240, 360));
  // A bottom sheet fills the window's width at the creative's ratio.
  view = show(options(), ads(1), CreativeSize{200, 300});
  EXPECT_EQ(view->scrollView()->frame().size, (Size{390, 585}));
}

TEST_F(PopupView, PagesTakeTheThreeSlots) {
  auto view = show(options(), ads(1));
  EXPECT_EQ(slots(*view), "-0-");
  EXPECT_FALSE(view->scrollView()->isScrollEnabled());
  EXPECT_TRUE(view->layout().element<View>("pageIndexView")->isHidden());

  view = show(options(), ads(2));
  const double w = view->scrollView()->bounds().size.width;
  EXPECT_EQ(view->scrollView()->contentSize(), (Size{3 * w, w}));
  EXPECT_EQ(slots(*view), "-0-");  // the other page shows on the side the user moves to
  view->scrollView()->setContentOffset({w + 10, 0}, false);
  EXPECT_EQ(slots(*view), "-01");
  view->scrollView()->setContentOffset({w - 10, 0}, false);
  EXPECT_EQ(slots(*view), "10-");
  view->scrollView()->setContentOffset({w, 0}, false);

  view = show(options(), ads(3));
  EXPECT_EQ(slots(*view), "201");
  EXPECT_FALSE(view->layout().element<View>("pageIndexView")->isHidden());
  EXPECT_EQ(text(*view, "totalIndexLabel"), "3");
  sdk_.advance(1);
  // Back from the first page: the last one.
  auto root = std::dynamic_pointer_cast<HeadlessView>(view->view());
  const Rect pages = view->scrollView()->convertRect(view->scrollView()->bounds(), *root);
  const double y = pages.minY() + 100;
  ASSERT_TRUE(root->drag({pages.minX() + 50, y}, {pages.minX() + 300, y}));
  EXPECT_TRUE(pages_[0]->shouldIgnoreTouches());
  sdk_.advance(1);
  EXPECT_EQ(view->currentIndex(), 2);
  EXPECT_EQ(text(*view, "currentIndexLabel"), "3");
  EXPECT_EQ(view->scrollView()->contentOffset(), (Point{w, 0}));
  EXPECT_EQ(slots(*view), "120");
  EXPECT_FALSE(pages_[0]->shouldIgnoreTouches());
  // And on, forward, by the rolling timer.
  sdk_.advance(OrvexPopupAdRollingTimer::kRollIntervalSeconds);
  EXPECT_EQ(view->currentIndex(), 0);
  EXPECT_EQ(slots(*view), "201");
}

TEST_F(PopupView, TapsCloseOnlyOnceAppearedAndTheDimOnlyWhenAllowed) {
  auto o = options(AdUnitPopupFormat::CENTER);
  o.useDimTapToClose = false;
  auto view = show(o, ads(2));
  auto close = view->roles().closeButton;
  tap(close);
  tapAt({10, 10});
  sdk_.advance(0.1);
  EXPECT_FALSE(view->onAnimationCompleted());
  tap(close);
  sdk_.advance(1);
  EXPECT_TRUE(view->onAnimationCompleted());
  tapAt({10, 10});
  sdk_.advance(1);
  EXPECT_TRUE(events_.empty());
  tap(view->roles().ctaButton);
  EXPECT_EQ(events_, (std::vector<std::string>{"cta 0"}));
  tap(close);
  tap(close);  // closing already
  EXPECT_EQ(events_, (std::vector<std::string>{"cta 0", "close"}));
  sdk_.advance(1);
  EXPECT_EQ(events_.back(), "dismissed");
  EXPECT_EQ(view->view()->superview(), nullptr);

  o.useDimTapToClose = true;
  o.type = AdUnitPopupFormat::BOTTOM;
  events_.clear();
  view = show(o, ads(2));
  tapAt({10, 10});
  sdk_.advance(1);
  EXPECT_TRUE(events_.empty());
  tapAt({10, 10});
  sdk_.advance(1);
  EXPECT_EQ(events_, (std::vector<std::string>{"dim", "dismissed"}));
}

TEST_F(PopupView, AVideoPageStopsRollingUntilItsScriptPauses) {
  auto view = show(options(), ads(2, 0));
  auto page = std::dynamic_pointer_cast<HeadlessWebView>(pages_[0]->webView());
  sdk_.advance(1);
  EXPECT_FALSE(view->rollingTimer()->isRunning());
  ASSERT_FALSE(page->evaluatedScripts().empty());
  EXPECT_NE(page->evaluatedScripts().back().find("adPlayerVisibilityCallback(true)"),
            std::string::npos);
  sdk_.advance(10);
  EXPECT_EQ(view->currentIndex(), 0);

  page->postMessageJSON("orvex", R"({"action":"pause"})");
  sdk_.advance(0.1);
  EXPECT_TRUE(view->rollingTimer()->isRunning());
  sdk_.advance(OrvexPopupAdRollingTimer::kRollIntervalSeconds + 0.5);
  EXPECT_EQ(view->currentIndex(), 1);
  page->postMessageJSON("orvex", R"({"action":"play"})");
  page->postMessageJSON("orvex", R"({"action":"other"})");
  sdk_.advance(0.1);
  EXPECT_FALSE(view->rollingTimer()->isRunning());

  view.reset();  // the pages outlive the view, its handler does not
  EXPECT_FALSE(page->hasMessageHandler("orvex"));
  AdRes video;
  video.asset = "https://cdn.example/a.webm";
  EXPECT_TRUE(OrvexPopupAdView::isVideoCreative(video));
}

}  // namespace
}  // namespace orvex
