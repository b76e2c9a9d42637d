// Scroll views (orvex/platform/view.h): the content offset is the bounds' origin, set at once or
// animated with its events in order; the user's drags page one page in their direction and
// report dragging, scrolling and deceleration, and the pan's stages, in order.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

using Strings = std::vector<std::string>;

// What a scroll view reports; a run of scrolls is one "scroll" (their offsets are in `xs`).
struct Recorder : ScrollViewDelegate {
  void add(std::string event) {
    if (event != "scroll" || events.empty() || events.back() != "scroll") events.push_back(event);
  }
  void scrollViewDidScroll(ScrollView& s) override {
    xs.push_back(s.contentOffset().x);
    add("scroll");
  }
  void scrollViewWillBeginDragging(ScrollView&) override { add("willBeginDragging"); }
  void scrollViewDidEndDragging(ScrollView&, bool decelerate) override {
    add(decelerate ? "didEndDragging decelerating" : "didEndDragging");
  }
  void scrollViewDidEndDecelerating(ScrollView&) override { add("didEndDecelerating"); }
  void scrollViewDidEndScrollingAnimation(ScrollView&) override { add("didEndScrollingAnimation"); }
  Strings events;
  std::vector<double> xs;
};

// Three 300-point pages side by side, paging, at (20, 100) of the root view.
class ScrollViews : public PortTest {
 protected:
  void SetUp() override {
    PortTest::SetUp();
    if (IsSkipped()) return;
    scroll = port().ui().makeScrollView();
    port().root()->view()->addSubview(scroll);
    scroll->setFrame(Rect(20, 100, 300, 200));
    scroll->setContentSize(Size{900, 200});
    scroll->setPagingEnabled(true);
    for (int i = 0; i < 3; ++i) addView(Rect(i * 300, 0, 300, 200), scroll);
    scroll->setDelegate(recorder);
    scroll->addPanHandler([this](PanState state) {
      const char* names[] = {"began", "changed", "ended", "cancelled", "failed"};
      std::string name = names[static_cast<int>(state)];
      if (state != PanState::ended && !scroll->isDragging()) name += " (not dragging)";
      if (pans.empty() || pans.back() != name) pans.push_back(name);
    });
    port().settle();
  }
  void clear() {
    recorder->events.clear();
    recorder->xs.clear();
    pans.clear();
  }
  bool ended(const char* event) {
    return port().runUntil(
        [&] { return !recorder->events.empty() && recorder->events.back() == event; });
  }

  std::shared_ptr<ScrollView> scroll;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  Strings pans;
};
ORVEX_CONFORMANCE_AREA(ScrollViews);

TEST_P(ScrollViews, TheOffsetIsTheBoundsOriginSetAtOnceOrAnimatedToItsTarget) {
  scroll->setContentOffset(Point{300, 0}, false);
  port().settle();
  EXPECT_EQ(scroll->contentOffset(), (Point{300, 0}));
  EXPECT_EQ(scroll->bounds(), Rect(300, 0, 300, 200));
  EXPECT_EQ(recorder->xs, std::vector<double>{300});

  clear();
  scroll->setContentOffset(Point{600, 0}, true);
  ASSERT_TRUE(ended("didEndScrollingAnimation"));
  EXPECT_EQ(recorder->events, (Strings{"scroll", "didEndScrollingAnimation"}));
  EXPECT_GT(recorder->xs.size(), 2u) << "the content moves in steps";
  EXPECT_TRUE(std::is_sorted(recorder->xs.begin(), recorder->xs.end()));
  EXPECT_EQ(recorder->xs.back(), 600);
  EXPECT_EQ(scroll->contentOffset(), (Point{600, 0}));

  // A move at once stops an animation: it never ends.
  clear();
  scroll->setContentOffset(Point{0, 0}, true);
  scroll->setContentOffset(Point{300, 0}, false);
  port().runFor(ScrollView::kScrollAnimationSeconds * 2);
  EXPECT_EQ(scroll->contentOffset(), (Point{300, 0}));
  EXPECT_EQ(recorder->events, Strings{"scroll"});

  // The delegate is held weakly.
  recorder.reset();
  scroll->setContentOffset(Point{600, 0}, false);
  port().settle();
  EXPECT_EQ(scroll->contentOffset(), (Point{600, 0}));
}

TEST_P(ScrollViews, DragsTurnOnePageInTheirDirectionUnlessScrollingIsOff) {
  auto root = port().root()->view();
  const Strings paged{"willBeginDragging", "scroll", "didEndDragging decelerating", "scroll",
                      "didEndDecelerating"};
  const Strings panned{"began", "changed", "ended"};
  // Drags in the root view's coordinates, across the scroll view's middle.
  const struct {
    const char* drag;
    bool enabled;
    Point from, to;
    double offset;
    Strings events, pans;
  } steps[] = {
      {"left by half a page", true, {270, 200}, {120, 200}, 300, paged, panned},
      {"left again", true, {270, 200}, {120, 200}, 600, paged, panned},
      {"right", true, {70, 200}, {220, 200}, 300, paged, panned},
      {"with scrolling off", false, {70, 200}, {220, 200}, 300, {}, {}},
  };
  for (const auto& s : steps) {
    clear();
    scroll->setScrollEnabled(s.enabled);
    EXPECT_EQ(scroll->isScrollEnabled(), s.enabled);
    port().drag(*root, s.from, s.to);
    if (!s.events.empty()) {
      EXPECT_TRUE(ended("didEndDecelerating")) << s.drag;
    }
    port().runFor(ScrollView::kScrollAnimationSeconds);
    EXPECT_EQ(scroll->contentOffset(), (Point{s.offset, 0})) << s.drag;
    EXPECT_EQ(recorder->events, s.events) << s.drag;
    EXPECT_EQ(pans, s.pans) << s.drag;
    EXPECT_FALSE(scroll->isDragging()) << s.drag;
  }
  // The SDK still moves it.
  scroll->setContentOffset(Point{0, 0}, false);
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
}

}  // namespace
}  // namespace orvex::conformance
