// A paging scroll view of web pages, as the SDK's carousels are: a drag that begins over a page
// turns the page (the pages let input through while the pan lasts, as the carousel makes them),
// and the page takes a tap again afterwards. On a desktop the page holds the pointer from the
// press on, so the scroll view must take the drag from it.
#include <memory>

#include "orvex/web/passthrough_web_view.h"
#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

class Carousels : public PortTest {};
ORVEX_CONFORMANCE_AREA(Carousels);

TEST_P(Carousels, ADragBegunOverAPageTurnsItAndThePageTakesTapsAgain) {
  auto root = port().root()->view();
  auto scroll = port().ui().makeScrollView();
  root->addSubview(scroll);
  scroll->setFrame(Rect(20, 100, 300, 200));
  scroll->setContentSize(Size{900, 200});
  scroll->setPagingEnabled(true);
  scroll->setContentOffset(Point{300, 0}, false);
  auto page = PassthroughWebView::wrap(port().makeWebView());
  scroll->addSubview(page->webView());
  page->webView()->setFrame(Rect(300, 0, 300, 200));
  scroll->addPanHandler([page](PanState state) {
    page->setShouldIgnoreTouches(state == PanState::began || state == PanState::changed);
  });
  int taps = 0;
  page->webView()->addTapHandler([&] { ++taps; });
  page->webView()->loadHTMLString("<html><body style='margin:0;height:100vh'>page</body></html>");
  ASSERT_TRUE(port().runUntil([&] { return !page->webView()->isLoading(); }));

  port().drag(*root, Point{270, 200}, Point{120, 200});
  EXPECT_TRUE(port().runUntil([&] { return scroll->contentOffset() == Point{600, 0}; }));
  EXPECT_FALSE(scroll->isDragging());
  EXPECT_FALSE(page->shouldIgnoreTouches());
  EXPECT_EQ(taps, 0) << "a drag is no tap";

  scroll->setContentOffset(Point{300, 0}, false);
  port().tap(*root, Point{170, 200});
  EXPECT_EQ(taps, 1);
}

}  // namespace
}  // namespace orvex::conformance
