#include "ports/headless/virtual_time.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace orvex::headless {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const WallTime kStart = WallTime(seconds(1767225600));

class VirtualTimeTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualTime> vt = std::make_shared<VirtualTime>(kStart);
  std::vector<std::string> log;
};

TEST_F(VirtualTimeTest, RunsEveryQueueInDueOrderFifoAmongEqualTimesWhateverThePostingThread) {
  auto main = vt->mainQueue();
  auto serial = vt->makeSerialQueue("io.test.serial", QueuePriority::utility);
  auto global = vt->globalQueue(QueuePriority::background);
  serial->postAfter(milliseconds(200), [&] { log.push_back("serial@200"); });
  main->postAfter(milliseconds(100), [&] { log.push_back("main@100"); });
  global->post([&] { log.push_back("global@0"); });
  main->post([&] { log.push_back("main@0"); });
  serial->postAfter(milliseconds(100), [&] { log.push_back("serial@100"); });

  EXPECT_EQ(vt->pendingTaskCount(), 5u);
  vt->advance(0.15);
  EXPECT_EQ(log, (std::vector<std::string>{"global@0", "main@0", "main@100", "serial@100"}));
  EXPECT_EQ(vt->now(), kStart + milliseconds(150));
  vt->advance(0.05);
  EXPECT_EQ(log.back(), "serial@200");
  EXPECT_EQ(vt->pendingTaskCount(), 0u);

  std::vector<int> seen;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) main->post([&seen, i] { seen.push_back(i); });
  });
  worker.join();
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(vt->pendingTaskCount(), 100u);
  vt->runUntilIdle();
  std::vector<int> inOrder(100);
  std::iota(inOrder.begin(), inOrder.end(), 0);
  EXPECT_EQ(seen, inOrder);
}

TEST_F(VirtualTimeTest, WorkPostedByTasksRunsWhenDueWithinTheSameAdvance) {
  auto main = vt->mainQueue();
  main->postAfter(seconds(1), [&] {
    log.push_back("a@" + std::to_string(unixMillis(vt->now()) - unixMillis(kStart)));
    main->post([&] { log.push_back("b"); });
    main->postAfter(seconds(1), [&] { log.push_back("c"); });
    main->postAfter(seconds(5), [&] { log.push_back("late"); });
  });
  vt->advance(2.0);
  EXPECT_EQ(log, (std::vector<std::string>{"a@1000", "b", "c"}));
  ASSERT_TRUE(vt->nextDueTime());
  EXPECT_EQ(*vt->nextDueTime(), kStart + seconds(6));
  EXPECT_TRUE(vt->runNext(seconds(10)));
  EXPECT_EQ(log.back(), "late");
  EXPECT_EQ(vt->now(), kStart + seconds(6));
  EXPECT_FALSE(vt->runNext(seconds(10)));
}

TEST_F(VirtualTimeTest, CurrentQueueAndMainThreadFollowTheRunningTask) {
  auto main = vt->mainQueue();
  auto serial = vt->makeSerialQueue("io.test.serial", QueuePriority::utility);
  auto global = vt->globalQueue(QueuePriority::utility);
  EXPECT_TRUE(vt->isMainThread());
  bool sawMain = false, sawSerial = false, sawGlobal = false;
  main->post([&] { sawMain = main->isCurrent() && !serial->isCurrent() && vt->isMainThread(); });
  serial->post(
      [&] { sawSerial = serial->isCurrent() && !main->isCurrent() && !vt->isMainThread(); });
  global->post([&] { sawGlobal = global->isCurrent() && !vt->isMainThread(); });
  vt->advance(1.0);
  EXPECT_TRUE(sawMain);
  EXPECT_TRUE(sawSerial);
  EXPECT_TRUE(sawGlobal);
  EXPECT_TRUE(vt->isMainThread());

  bool otherThreadIsMain = true;
  std::thread([&] { otherThreadIsMain = vt->isMainThread(); }).join();
  EXPECT_FALSE(otherThreadIsMain);
}

TEST_F(VirtualTimeTest, TimersFireAtEachIntervalAndLetGoOfTheirClosure) {
  int fired = 0;
  std::unique_ptr<Timer> timer;
  std::vector<std::int64_t> at;
  timer = vt->scheduleTimer(milliseconds(250), true, [&] {
    at.push_back(unixMillis(vt->now()) - unixMillis(kStart));
    if (++fired == 3) timer->invalidate();
  });
  EXPECT_EQ(vt->pendingTaskCount(), 1u);
  vt->advance(10.0);
  EXPECT_EQ(at, (std::vector<std::int64_t>{250, 500, 750}));
  EXPECT_EQ(vt->pendingTaskCount(), 0u);

  auto sentinel = std::make_shared<int>(7);
  std::weak_ptr<int> weakSentinel = sentinel;
  {
    auto gone = vt->scheduleTimer(milliseconds(500), true, [s = std::move(sentinel)] {});
  }
  EXPECT_TRUE(weakSentinel.expired()) << "an invalidated timer lets go of its closure";
  EXPECT_EQ(vt->pendingTaskCount(), 0u);
}

TEST_F(VirtualTimeTest, ClocksMoveOnlyWithVirtualTime) {
  const auto mono = vt->monotonicNow();
  EXPECT_EQ(vt->now(), kStart);
  vt->advance(90.5);
  EXPECT_EQ(vt->monotonicNow() - mono, milliseconds(90500));
  EXPECT_EQ(vt->now(), kStart + milliseconds(90500));
  vt->shiftWallClock(std::chrono::hours(-24));
  EXPECT_EQ(vt->now(), kStart + milliseconds(90500) - std::chrono::hours(24));
  EXPECT_EQ(vt->monotonicNow() - mono, milliseconds(90500));

  EXPECT_EQ(vt->utcOffsetSeconds(vt->now()), 0);
  vt->setUtcOffsetSeconds(9 * 3600);
  EXPECT_EQ(vt->utcOffsetSeconds(vt->now()), 9 * 3600);
  vt->setUtcOffsetFunction([](WallTime t) { return t < kStart ? 3600 : 7200; });
  EXPECT_EQ(vt->utcOffsetSeconds(kStart - seconds(1)), 3600);
  EXPECT_EQ(vt->utcOffsetSeconds(kStart), 7200);
}

TEST_F(VirtualTimeTest, AdvanceFromATaskDoesNothingAndDroppedTasksAndOrphanedPostsRunNever) {
  auto main = vt->mainQueue();
  main->post([&] {
    vt->advance(100.0);
    log.push_back("outer");
  });
  main->postAfter(seconds(50), [&] { log.push_back("later"); });
  vt->runUntilIdle();
  EXPECT_EQ(log, std::vector<std::string>{"outer"});
  EXPECT_EQ(vt->now(), kStart);

  auto sentinel = std::make_shared<int>(1);
  std::weak_ptr<int> weak = sentinel;
  main->postAfter(seconds(1), [s = std::move(sentinel)] {});
  vt->dropPendingTasks();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(vt->pendingTaskCount(), 0u);
  vt->advance(100.0);
  EXPECT_EQ(log.size(), 1u);

  // Queues outliving their dispatcher drop posts.
  vt.reset();
  main->post([&] { log.push_back("orphan"); });
  EXPECT_EQ(log.size(), 1u);
  EXPECT_FALSE(main->isCurrent());
}

}  // namespace
}  // namespace orvex::headless
