// Views (orvex/platform/view.h): geometry, the hierarchy, hit testing and taps through the
// port's real input path.
#include <string>
#include <vector>

#include "orvex/web/passthrough_web_view.h"
#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

using Strings = std::vector<std::string>;

class Views : public PortTest {
 protected:
  // Records each tap on `view` as `name`.
  void record(View& view, std::string name) {
    view.addTapHandler([this, name] { taps.push_back(name); });
  }
  Strings taps;
};
ORVEX_CONFORMANCE_AREA(Views);

TEST_P(Views, FramesBoundsAndConversionsFollowTheTreeAndItsScrolling) {
  auto window = port().window();
  auto feed = addView(Rect(10, 100, 300, 500));
  auto ad = addView(Rect(5, 400, 100, 50), feed);
  feed->setBoundsOrigin(Point{0, 300});  // scrolled
  EXPECT_EQ(ad->frame(), Rect(5, 400, 100, 50));
  EXPECT_EQ(ad->bounds(), Rect(0, 0, 100, 50));
  EXPECT_EQ(feed->bounds(), Rect(0, 300, 300, 500));
  const Rect inRoot = ad->convertRect(ad->bounds(), *port().root()->view());
  EXPECT_EQ(inRoot, Rect(15, 200, 100, 50));
  EXPECT_EQ(port().root()->view()->convertRect(inRoot, *ad), ad->bounds());
  EXPECT_EQ(ad->window(), window);
  EXPECT_EQ(ad->superview(), feed);
  EXPECT_EQ(feed->subviews(), std::vector<std::shared_ptr<View>>{ad});

  // A view cannot become its own ancestor; removal leaves the window.
  ad->addSubview(feed);
  EXPECT_EQ(feed->superview(), port().root()->view());
  ad->removeFromSuperview();
  EXPECT_EQ(ad->superview(), nullptr);
  EXPECT_EQ(ad->window(), nullptr);
  EXPECT_TRUE(feed->subviews().empty());
}

TEST_P(Views, HiddenTransparentDisabledAndPassThroughViewsAreNotHitNorTapped) {
  auto below = addView(Rect(20, 20, 200, 200));
  auto above = addView(Rect(40, 40, 100, 100));
  record(*below, "below");
  record(*above, "above");
  const Point inside{60, 60};  // root coordinates, inside both
  auto rootView = port().root()->view();
  auto check = [&](const std::shared_ptr<View>& expected, const std::string& why) {
    EXPECT_EQ(rootView->hitTest(inside), expected) << why;
    port().tap(*rootView, inside);
  };
  check(above, "on top");
  above->setHidden(true);
  check(below, "hidden");
  above->setHidden(false);
  above->setAlpha(0);
  check(below, "transparent");
  above->setAlpha(0.5);
  check(above, "half transparent");
  above->setUserInteractionEnabled(false);
  check(below, "not interactive");
  EXPECT_EQ(taps, (Strings{"above", "below", "below", "above", "below"}));

  // The SDK's pass-through web view over a view of its own (a carousel over its scroll view)
  // lets events through to what is beneath, and only a press uses up its one-time switch.
  above->removeFromSuperview();
  taps.clear();
  auto pass = PassthroughWebView::wrap(port().makeWebView());
  auto page = pass->webView();
  rootView->addSubview(page);
  page->setFrame(Rect(40, 40, 100, 100));
  record(*page, "page");
  port().tap(*rootView, inside);
  pass->setShouldIgnoreTouches(true);
  EXPECT_EQ(rootView->hitTest(inside), below);
  port().tap(*rootView, inside);
  port().tap(*rootView, inside);
  pass->setShouldIgnoreTouches(false);
  pass->setIgnoreNextTouch(true);
  port().hover(*rootView, Point{70, 70});
  port().hover(*rootView, inside);
  EXPECT_TRUE(pass->ignoreNextTouch()) << "pointer motion goes through without using it up";
  port().tap(*rootView, inside);
  EXPECT_FALSE(pass->ignoreNextTouch());
  port().tap(*rootView, inside);
  EXPECT_EQ(taps, (Strings{"page", "below", "below", "below", "page"}));
}

TEST_P(Views, TapsReachTheNearestViewWithHandlersWhereTheyLanded) {
  auto media = addView(Rect(10, 100, 300, 200));
  auto button = addView(Rect(0, 0, 100, 40), media);
  auto label = addView(Rect(10, 10, 50, 20), button);  // no handlers of its own
  std::vector<Point> mediaTaps;
  const int token = media->addLocatedTapHandler([&](Point p) { mediaTaps.push_back(p); });
  record(*button, "button");
  auto rootView = port().root()->view();
  port().tap(*label, Point{5, 5});       // the button's handler, not the media's
  port().tap(*media, Point{150, 100});   // the media view's, where it landed
  media->setBoundsOrigin(Point{0, 30});  // scrolled: the same screen point is deeper in
  port().settle();
  port().tap(*rootView, Point{160, 200});
  media->removeTapHandler(token);
  port().tap(*rootView, Point{160, 200});
  EXPECT_EQ(taps, Strings{"button"});
  ASSERT_EQ(mediaTaps.size(), 2u);
  EXPECT_NEAR(mediaTaps[0].x, 150, 1);
  EXPECT_NEAR(mediaTaps[0].y, 100, 1);
  EXPECT_NEAR(mediaTaps[1].x, 150, 1);
  EXPECT_NEAR(mediaTaps[1].y, 130, 1);

  // A view taken out of the window gets no taps; put back, it does.
  media->setBoundsOrigin(Point{0, 0});
  button->removeFromSuperview();
  port().tap(*rootView, Point{15, 105});
  media->addSubview(button);
  port().tap(*rootView, Point{15, 105});
  EXPECT_EQ(taps, (Strings{"button", "button"}));
}

}  // namespace
}  // namespace orvex::conformance
