// The popup view in a real window: three WebKit pages in its carousel, swiped with the X server's
// pointer and rolled on by its timer, as drawn.
#include <gtest/gtest.h>

#include <array>

#include "orvex/formats/popup/orvex_popup_ad_rolling_timer.h"
#include "orvex/formats/popup/orvex_popup_ad_view.h"
#include "ports/gtk/gtk_user_interface.h"
#include "ports/gtk/gtk_view.h"
#include "tests/gtk/gtk_test_support.h"

namespace orvex {
namespace {

using gtk_testing::GtkTestSdk;
using gtk_testing::PageRecorder;
using gtk_testing::pixelsOf;
using testing_support::TempDir;

struct Screenshot {
  std::vector<unsigned char> pixels;  // premultiplied BGRA
  int width = 0;
  // 'r', 'g' or 'b' where one channel clearly leads, else '?'.
  char hueAt(Point p) const {
    const std::size_t i =
        (static_cast<std::size_t>(p.y) * width + static_cast<std::size_t>(p.x)) * 4;
    if (i + 3 >= pixels.size()) return '?';
    const int b = pixels[i], g = pixels[i + 1], r = pixels[i + 2];
    if (r > 150 && g < 100 && b < 100) return 'r';
    if (g > 120 && r < 100 && b < 100) return 'g';
    if (b > 150 && r < 100 && g < 100) return 'b';
    return '?';
  }
  std::array<unsigned char, 4> at(Point p) const {
    const std::size_t i =
        (static_cast<std::size_t>(p.y) * width + static_cast<std::size_t>(p.x)) * 4;
    return {pixels[i], pixels[i + 1], pixels[i + 2], pixels[i + 3]};
  }
};

TEST(PopupWindow, ThreeRealPagesSwipedAndRolled) {
  ORVEX_REQUIRE_DISPLAY();
  TempDir dir;
  GtkTestSdk sdk(dir.path());
  auto& ui = *sdk.port().ui;
  auto window = ui.makeWindow();
  window->setRootViewController(ui.makeViewController(ViewControllerKind::plain));
  window->makeKeyAndVisible();

  auto recorder = std::make_shared<PageRecorder>();
  std::vector<std::shared_ptr<PassthroughWebView>> pages;
  std::vector<AdRes> ads;
  for (const char* colour : {"#e02020", "#20a040", "#2040e0"}) {
    auto page = PassthroughWebView::create(ui, WebViewConfiguration{});
    ASSERT_TRUE(page);
    page->webView()->setNavigationDelegate(recorder);
    page->webView()->loadHTMLString(std::string("<html><body style='margin:0;background:") +
                                    colour + "'></body></html>");
    pages.push_back(page);
    AdRes ad;
    ad.id = std::string("ad") + colour;
    ad.creative = "<p>page</p>";
    ads.push_back(ad);
  }
  ASSERT_TRUE(sdk.runUntil([&] { return recorder->count("finish") == 3; }));

  const PopupOptions options;  // a bottom sheet with its bar inside
  auto view = OrvexPopupAdView::make(ui, options.type);
  ASSERT_TRUE(view);
  view->configure(options, {}, {}, {}, {});
  view->setCreativeSize(CreativeSize{320, 320});
  view->setRollingTimer(OrvexPopupAdRollingTimer::create(view->scrollView()));
  const auto& root = view->view();
  root->setFrame(window->bounds());
  window->addSubview(root);
  root->setFillsSuperview(true);
  view->animateIn();
  view->setPages(ads, pages);
  ASSERT_TRUE(sdk.runUntil([&] { return view->onAnimationCompleted(); }));

  GtkWidget* drawn = gtk::widgetOf(*root);
  ASSERT_TRUE(drawn);
  const Rect carousel = view->scrollView()->convertRect(view->scrollView()->bounds(), *root);
  const Point middle{carousel.minX() + carousel.size.width / 2, carousel.minY() + 40};
  const Point dimmed{10, 10};
  // The next screenshot in which the carousel's middle shows `hue` (WebKit draws when it can).
  auto shotShowing = [&](char hue) {
    Screenshot shot;
    sdk.runUntil(
        [&] {
          shot = {pixelsOf(drawn), gtk_widget_get_width(drawn)};
          return shot.hueAt(middle) == hue;
        },
        10);
    return shot;
  };
  const Screenshot before = shotShowing('r');
  ASSERT_EQ(before.hueAt(middle), 'r');

  // Right to left: the next page.
  ASSERT_TRUE(gtk_testing::dragPointer(sdk, drawn, {carousel.maxX() - 40, middle.y},
                                       {carousel.minX() + 40, middle.y}));
  ASSERT_TRUE(sdk.runUntil([&] { return view->currentIndex() == 1; }, 5));
  const Screenshot swiped = shotShowing('g');
  EXPECT_EQ(swiped.hueAt(middle), 'g') << "the swiped-to page is not drawn";
  EXPECT_EQ(swiped.at(dimmed), before.at(dimmed)) << "the dim changed with the page";
  EXPECT_EQ(view->layout().element<Label>("currentIndexLabel")->text(), "2");

  // The timer rolls on to the third page.
  ASSERT_TRUE(sdk.runUntil([&] { return view->currentIndex() == 2; },
                           OrvexPopupAdRollingTimer::kRollIntervalSeconds + 3));
  EXPECT_EQ(shotShowing('b').hueAt(middle), 'b') << "the rolled-to page is not drawn";
  EXPECT_EQ(view->layout().element<Label>("currentIndexLabel")->text(), "3");

  view->close();
  ASSERT_TRUE(sdk.runUntil([&] { return root->superview() == nullptr; }, 5));
}

}  // namespace
}  // namespace orvex
