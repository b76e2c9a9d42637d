// The main queue and timers (orvex/platform/dispatch.h): posting never runs inline, posted work
// runs in order on the main thread, delayed work and timers in due order and never early, and a
// timer stops when invalidated or when its handle goes.
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

class MainQueue : public PortTest {};
ORVEX_CONFORMANCE_AREA(MainQueue);

TEST_P(MainQueue, PostedWorkRunsLaterInOrderAndDelayedWorkInDueOrderNeverEarly) {
  Dispatcher& d = port().dispatcher();
  Clock& clock = *port().platform().clock;
  auto main = d.mainQueue();
  Strings now, later;
  main->post([&] {
    now.push_back("a");
    main->post([&] { now.push_back("posted by a"); });
  });
  auto timer = d.scheduleTimer(Duration::zero(), false, [&] { now.push_back("timer"); });
  main->post([&] { now.push_back("b"); });
  const auto start = clock.monotonicNow();
  for (int ms : {300, 100, 200}) {
    main->postAfter(milliseconds(ms), [&, ms] {
      const bool early = clock.monotonicNow() - start < milliseconds(ms);
      later.push_back(std::to_string(ms) + (early ? " early" : ""));
    });
  }
  // Work from another thread lands on the main thread.
  std::atomic<bool> hopped{false};
  auto serial = d.makeSerialQueue("io.orvex.conformance", QueuePriority::utility);
  serial->post([&] { main->post([&] { hopped = d.isMainThread() && main->isCurrent(); }); });
  EXPECT_TRUE(now.empty()) << "posting never runs a task";
  EXPECT_FALSE(main->isCurrent());

  ASSERT_TRUE(port().runUntil([&] { return later.size() == 3 && hopped; }));
  EXPECT_EQ(now, (Strings{"a", "timer", "b", "posted by a"}));
  EXPECT_EQ(later, (Strings{"100", "200", "300"}));
}

TEST_P(MainQueue, TimersFireOnTheMainThreadUntilInvalidatedOrTheirHandleGoes) {
  Dispatcher& d = port().dispatcher();
  int ticks = 0, once = 0, dropped = 0;
  bool onMain = true;
  std::unique_ptr<Timer> repeating;
  repeating = d.scheduleTimer(milliseconds(20), true, [&] {
    onMain = onMain && d.isMainThread() && d.mainQueue()->isCurrent();
    if (++ticks == 3) repeating->invalidate();
  });
  auto shot = d.scheduleTimer(milliseconds(10), false, [&] { ++once; });
  {
    auto gone = d.scheduleTimer(milliseconds(10), true, [&] { ++dropped; });
  }
  EXPECT_TRUE(repeating->isValid());
  ASSERT_TRUE(port().runUntil([&] { return ticks == 3 && once == 1; }));
  port().runFor(0.1);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(once, 1);
  EXPECT_EQ(dropped, 0);
  EXPECT_TRUE(onMain);
  EXPECT_FALSE(repeating->isValid());
  EXPECT_FALSE(shot->isValid());
}

}  // namespace
}  // namespace orvex::conformance
