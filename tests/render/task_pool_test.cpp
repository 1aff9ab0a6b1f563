// The task pool: the order tasks start in, exceptions carried to the waiter, the waiter's tick
// and its exception, help from the waiting thread, tasks that queue more, and groups that go
// away while their tasks run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "render/TaskPool.h"

namespace quom {
namespace {

using namespace std::chrono_literals;

TEST(TaskPool, OneWorkerStartsTasksInTheOrderTheyAreQueued) {
  TaskPool pool(1);
  ASSERT_EQ(pool.Threads(), 1);
  std::vector<int> order;  // one worker: no lock needed
  TaskGroup first(pool);
  TaskGroup second(pool);
  first.Submit([&] { order.push_back(0); });
  second.SubmitEach(3, [&](int32_t i) { order.push_back(1 + i); });
  first.Submit([&] { order.push_back(4); });
  second.Wait();
  first.Wait();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

// Without workers (where no thread can be started) the waiter runs its group's tasks itself, in
// their order, ticking between them; tasks of other groups wait for their own waiter.
TEST(TaskPool, WithoutWorkersTheWaiterRunsItsGroupsTasksAndTicksBetweenThem) {
  TaskPool pool(0);
  ASSERT_EQ(pool.Threads(), 0);
  const std::thread::id waiter = std::this_thread::get_id();
  std::vector<int> order;
  bool elsewhere = false;
  TaskGroup first(pool);
  TaskGroup second(pool);
  first.Submit([&] { order.push_back(0); });
  std::function<void(int32_t)> slow = [&](int32_t i) {
    elsewhere = elsewhere || std::this_thread::get_id() != waiter;
    order.push_back(1 + i);
    std::this_thread::sleep_for(2 * TaskGroup::kTickPeriod);
  };
  second.SubmitEach(3, slow);
  int ticks = 0;
  second.Wait([&] { ++ticks; });  // no help asked for: given anyway
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_GE(ticks, 2);
  first.Wait();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 0}));
  EXPECT_FALSE(elsewhere);
}

TEST(TaskPool, EveryTaskRunsOnceOnEveryWorker) {
  TaskPool pool(3);
  EXPECT_EQ(pool.Threads(), 3);
  std::vector<std::atomic<int>> runs(1000);
  TaskGroup group(pool);
  group.SubmitEach(1000, [&](int32_t i) { ++runs[i]; });
  // Tasks may queue more; the group waits for them too.
  std::atomic<int> chain{0};
  std::function<void()> link = [&] {
    if (++chain < 100) group.Submit(link);
  };
  group.Submit(link);
  group.Wait();
  for (const std::atomic<int>& r : runs)
    ASSERT_EQ(r.load(), 1);
  EXPECT_EQ(chain.load(), 100);
  EXPECT_FALSE(group.Stopped());
}

TEST(TaskPool, WaitRethrowsTheFirstExceptionAndDropsTheQueuedTasks) {
  TaskPool pool(1);
  TaskGroup group(pool);
  TaskGroup other(pool);
  int ran = 0;
  group.SubmitEach(100, [&](int32_t i) {
    if (i == 3) throw std::runtime_error("task 3");
    if (i == 4) throw std::logic_error("never reached");
    ++ran;
  });
  int otherRan = 0;
  other.SubmitEach(5, [&](int32_t) { ++otherRan; });
  try {
    group.Wait();
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "task 3");
  }
  EXPECT_EQ(ran, 3);
  EXPECT_TRUE(group.Stopped());
  group.Submit([&] { ++ran; });  // a stopped group queues nothing
  other.Wait();                  // another group goes on
  EXPECT_EQ(otherRan, 5);
  EXPECT_EQ(ran, 3);
}

TEST(TaskPool, TicksOnTheWaitingThreadWhileTasksRun) {
  TaskPool pool(2);
  TaskGroup group(pool);
  group.Submit([] { std::this_thread::sleep_for(80ms); });
  int ticks = 0;
  bool elsewhere = false;
  const std::thread::id me = std::this_thread::get_id();
  group.Wait([&] {
    ++ticks;
    elsewhere = elsewhere || std::this_thread::get_id() != me;
  });
  EXPECT_GE(ticks, 2);  // every 10 ms for 80 ms
  EXPECT_FALSE(elsewhere);
}

TEST(TaskPool, ATickThatThrowsStopsTheGroupAndWaitsForItsRunningTasks) {
  TaskPool pool(1);
  TaskGroup group(pool);
  std::atomic<bool> finished{false};
  group.Submit([&] {
    while (!group.Stopped())  // a long task that looks now and then
      std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    finished = true;
  });
  int ran = 0;
  group.SubmitEach(5, [&](int32_t) { ++ran; });
  int ticks = 0;
  EXPECT_THROW(group.Wait([&] {
    if (++ticks == 2) throw std::runtime_error("closed");
  }),
               std::runtime_error);
  EXPECT_TRUE(finished.load());  // Wait returned only after it
  EXPECT_EQ(ticks, 2);           // and ticked no more
  EXPECT_EQ(ran, 0);             // the queued ones were dropped
}

TEST(TaskPool, AHelpingWaiterRunsTheGroupsTasks) {
  TaskPool pool(1);
  TaskGroup busy(pool);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  busy.Submit([released] { released.wait(); });  // holds the only worker

  TaskGroup group(pool);
  std::mutex mutex;
  std::vector<std::thread::id> ran;
  group.SubmitEach(3, [&](int32_t) {
    std::lock_guard<std::mutex> lock(mutex);
    ran.push_back(std::this_thread::get_id());
  });
  group.Wait({}, true);
  EXPECT_EQ(ran, std::vector<std::thread::id>(3, std::this_thread::get_id()));
  release.set_value();
  busy.Wait();
}

TEST(TaskPool, AGroupThatGoesAwayStopsAndWaitsForItsRunningTasks) {
  TaskPool pool(1);
  std::atomic<bool> finished{false};
  std::atomic<int> ran{0};
  std::promise<void> started;
  {
    TaskGroup group(pool);
    group.Submit([&] {
      started.set_value();
      std::this_thread::sleep_for(30ms);
      finished = true;
    });
    group.SubmitEach(10, [&](int32_t) { ++ran; });
    started.get_future().wait();
  }  // an exception on its way out, say
  EXPECT_TRUE(finished.load());
  EXPECT_EQ(ran.load(), 0);
}

// A task may wait for another group (helping with it), as a drum layer waits for the bank.
TEST(TaskPool, ATaskMayWaitForAnotherGroup) {
  TaskPool pool(2);
  TaskGroup bank(pool);
  TaskGroup layers(pool);
  std::atomic<bool> built{false};
  bank.Submit([&] {
    std::this_thread::sleep_for(20ms);
    built = true;
  });
  bool sawBank = false;
  layers.Submit([&] {
    bank.Wait({}, true);
    sawBank = built.load();
  });
  layers.Wait();
  EXPECT_TRUE(sawBank);
}

}  // namespace
}  // namespace quom
