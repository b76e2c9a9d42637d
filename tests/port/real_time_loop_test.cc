#include "ports/linux/real_time_loop.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace orvex::linux_port {
namespace {

using std::chrono::milliseconds;

constexpr double kGenerous = 20.0;  // seconds; only reached when something is broken

TEST(RealTimeLoop, SerialQueuesKeepOrderOnANamedThreadOfTheirOwn) {
  RealTimeLoop loop;
  auto queue = loop.makeSerialQueue("io.orvex.metrics", QueuePriority::utility);
  std::vector<int> seen;  // touched only by the serial queue until `done`
  std::atomic<bool> done{false};
  std::atomic<bool> allCurrent{true};
  std::string threadName;
  for (int i = 0; i < 1000; ++i) {
    queue->post([&, i] {
      seen.push_back(i);
      if (!queue->isCurrent() || loop.isMainThread()) allCurrent = false;
    });
  }
  queue->post([&] {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    threadName = name;
    done = true;
  });
  EXPECT_FALSE(queue->isCurrent());
  ASSERT_TRUE(loop.runUntil([&] { return done.load(); }, kGenerous));
  ASSERT_EQ(seen.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(seen[i], i);
  EXPECT_TRUE(allCurrent);
  EXPECT_EQ(threadName, "o.orvex.metrics") << "the tail of the label";

  // Short-lived queues are reaped, not left to pile up threads.
  std::atomic<int> ran{0};
  for (int i = 0; i < 200; ++i) {
    loop.makeSerialQueue("io.test.short", QueuePriority::utility)->post([&] { ++ran; });
  }
  ASSERT_TRUE(loop.runUntil([&] { return ran.load() == 200; }, kGenerous));
}

// Order, posting and timers of the main queue are the port contract's (tests/conformance), which
// runs them on the desktop port's loop, this one driven from outside.
TEST(RealTimeLoop, RunReturnsOnceAnotherThreadStopsIt) {
  RealTimeLoop loop;
  RealTimeLoop other;
  auto main = loop.mainQueue();
  bool otherCurrent = true, ran = false;
  main->post([&] {
    otherCurrent = other.mainQueue()->isCurrent();
    ran = true;
  });
  loop.makeSerialQueue("io.test.stop", QueuePriority::utility)->postAfter(milliseconds(5), [&] {
    loop.stop();
  });
  loop.run();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(otherCurrent);
}

TEST(RealTimeLoop, GlobalQueuesRunConcurrently) {
  RealTimeLoop loop;
  auto global = loop.globalQueue(QueuePriority::utility);
  // Two tasks that each wait for the other can only finish on two threads at once.
  std::promise<void> a, b;
  auto fa = a.get_future().share();
  auto fb = b.get_future().share();
  std::atomic<int> finished{0};
  std::atomic<bool> current{true};
  global->post([&, fb] {
    a.set_value();
    if (fb.wait_for(std::chrono::seconds(10)) == std::future_status::ready) ++finished;
    current = current && global->isCurrent();
  });
  global->post([&, fa] {
    b.set_value();
    if (fa.wait_for(std::chrono::seconds(10)) == std::future_status::ready) ++finished;
  });
  ASSERT_TRUE(loop.runUntil([&] { return finished.load() == 2; }, kGenerous));
  EXPECT_TRUE(current);
  EXPECT_EQ(loop.globalQueue(QueuePriority::utility), global);
}

TEST(RealTimeLoop, OwnThreadDrivesTheMainLoopForHostsThatDoNot) {
  RealTimeLoop loop;
  loop.startOwnThread();
  EXPECT_TRUE(loop.hasOwnThread());
  EXPECT_FALSE(loop.isMainThread());
  std::promise<std::pair<bool, std::thread::id>> result;
  auto timer = loop.scheduleTimer(milliseconds(1), false, [] {});
  loop.mainQueue()->post([&] {
    result.set_value({loop.isMainThread(), std::this_thread::get_id()});
  });
  auto future = result.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  auto [isMain, id] = future.get();
  EXPECT_TRUE(isMain);
  EXPECT_NE(id, std::this_thread::get_id());
}

TEST(RealTimeLoop, DestructionJoinsThreadsAndDropsWaitingTasks) {
  auto sentinel = std::make_shared<int>(1);
  std::weak_ptr<int> weak = sentinel;
  std::shared_ptr<TaskQueue> survivor;
  std::unique_ptr<Timer> outliving;
  std::atomic<int> ran{0};
  {
    RealTimeLoop loop;
    loop.startOwnThread();
    auto serial = loop.makeSerialQueue("io.test.busy", QueuePriority::utility);
    survivor = loop.makeSerialQueue("io.test.survivor", QueuePriority::utility);
    loop.mainQueue()->postAfter(std::chrono::hours(1), [s = sentinel] {});
    serial->postAfter(std::chrono::hours(1), [s = sentinel] {});
    for (int i = 0; i < 100; ++i) {
      serial->post([&] {
        ++ran;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      });
      loop.globalQueue(QueuePriority::background)->post([&] { ++ran; });
    }
    outliving = loop.scheduleTimer(std::chrono::hours(1), true, [s = sentinel] {});
  }
  EXPECT_FALSE(outliving->isValid()) << "a timer handle outliving its loop is dead";
  sentinel.reset();
  EXPECT_TRUE(weak.expired()) << "waiting tasks are dropped with the loop";
  const int afterDestruction = ran.load();
  survivor->post([&] { ++ran; });  // a queue outliving its loop drops posts
  EXPECT_EQ(ran.load(), afterDestruction);
}

TEST(RealTimeLoop, ClockIsTheSystemsOwn) {
  RealTimeLoop loop;
  const auto before = std::chrono::system_clock::now();
  const auto now = loop.now();
  EXPECT_GE(now, before);
  EXPECT_LE(now - before, std::chrono::seconds(5));
  const auto mono = loop.monotonicNow();
  EXPECT_LE(mono, std::chrono::steady_clock::now());
  EXPECT_GE(loop.utcOffsetSeconds(now), -14 * 3600);
  EXPECT_LE(loop.utcOffsetSeconds(now), 14 * 3600);
}

}  // namespace
}  // namespace orvex::linux_port
