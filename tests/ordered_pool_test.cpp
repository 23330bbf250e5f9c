// The ordered pool that pack and extract run on: work handed to threads and taken back in
// the order it was handed in, within a window, a budget of costs and a job limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/util/ordered_pool.h"

namespace {

// Sleeps for a while that varies from task to task, so that later tasks often finish first.
class CNumberTask : public CPoolTask {
 public:
  CNumberTask(int number, std::atomic<int>* running, int* mostRunning)
      : number_(number), running_(running), mostRunning_(mostRunning) {}
  void Run() override {
    const int now = ++*running_;
    if (now > *mostRunning_) *mostRunning_ = now;  // a rough high-water mark is enough
    std::this_thread::sleep_for(std::chrono::microseconds((number_ * 7919) % 500));
    --*running_;
    if (number_ == failAt) throw std::bad_alloc();
  }
  int number() const { return number_; }
  static int failAt;

 private:
  int number_;
  std::atomic<int>* running_;
  int* mostRunning_;
};
int CNumberTask::failAt = -1;

TEST(OrderedPool, ConsumesInPushOrderWithinTheWindow) {
  for (unsigned jobs : {1u, 2u, 4u}) {
    std::atomic<int> running{0};
    int mostRunning = 0;
    std::vector<int> order;
    size_t pushed = 0;
    size_t mostInFlight = 0;
    COrderedPool pipeline(jobs, 5, [&](CPoolTask& t) {
      order.push_back(static_cast<CNumberTask&>(t).number());
      return true;
    });
    for (int i = 0; i < 60; ++i) {
      ASSERT_TRUE(
          pipeline.Push(std::unique_ptr<CPoolTask>(new CNumberTask(i, &running, &mostRunning))));
      ++pushed;
      mostInFlight = std::max(mostInFlight, pushed - order.size());
    }
    ASSERT_TRUE(pipeline.Finish());
    ASSERT_EQ(order.size(), 60u);
    for (int i = 0; i < 60; ++i) EXPECT_EQ(order[i], i) << jobs << " jobs";
    EXPECT_LE(mostInFlight, 5u);
    EXPECT_LE(mostRunning, static_cast<int>(jobs));
  }
}

// Tasks of uneven cost: what is in flight stays within the budget, and a task costlier than
// the whole budget is in flight alone.
TEST(OrderedPool, CostsInFlightStayWithinTheBudget) {
  const uint64_t costs[] = {30, 30, 30, 10, 250, 5, 5, 100, 0, 60, 60, 1};
  const uint64_t budget = 100;
  for (unsigned jobs : {1u, 2u, 3u}) {
    std::atomic<int> running{0};
    int mostRunning = 0;
    std::vector<int> order;
    std::vector<uint64_t> inFlight;  // costs pushed and not consumed, oldest first
    uint64_t mostOverBudget = 0;
    size_t aloneViolations = 0;
    COrderedPool pipeline(
        jobs, 8,
        [&](CPoolTask& t) {
          order.push_back(static_cast<CNumberTask&>(t).number());
          inFlight.erase(inFlight.begin());
          return true;
        },
        budget);
    for (int i = 0; i < 12; ++i) {
      ASSERT_TRUE(pipeline.MakeRoom(costs[i]));
      // Room made: this task fits beside what is left, or nothing is left.
      uint64_t sum = costs[i];
      for (uint64_t c : inFlight) sum += c;
      if (sum > budget) {
        mostOverBudget = std::max(mostOverBudget, sum);
        if (!inFlight.empty()) ++aloneViolations;
      }
      inFlight.push_back(costs[i]);
      ASSERT_TRUE(pipeline.Push(
          std::unique_ptr<CPoolTask>(new CNumberTask(i, &running, &mostRunning)), costs[i]));
    }
    ASSERT_TRUE(pipeline.Finish());
    ASSERT_EQ(order.size(), 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(order[i], i) << jobs << " jobs";
    EXPECT_EQ(aloneViolations, 0u) << jobs << " jobs";
    EXPECT_EQ(mostOverBudget, 250u) << "only the task over budget on its own";
  }
}

// With costs held only while tasks run, pushing never waits for the budget: a task done
// and waiting to be consumed holds nothing. The tasks running stay within the budget (one
// over it runs alone), the costliest waiting task that fits starts first, and the tasks are
// consumed in push order.
TEST(OrderedPool, CostsHeldWhileRunningAreLetInWhenATaskStarts) {
  const uint64_t budget = 100;
  struct Watch {
    std::mutex mutex;
    uint64_t running = 0;  // the costs of the tasks inside Run
    uint64_t mostRunning = 0;
    bool overBudgetNotAlone = false;
    std::vector<int> started;
    std::atomic<bool> gate{false};
  } watch;
  class CCostTask : public CPoolTask {
   public:
    CCostTask(int number, uint64_t cost, bool gated, Watch* watch)
        : number(number), cost_(cost), gated_(gated), watch_(watch) {}
    void Run() override {
      {
        std::lock_guard<std::mutex> lock(watch_->mutex);
        watch_->running += cost_;
        if (cost_ > budget && watch_->running != cost_) watch_->overBudgetNotAlone = true;
        if (cost_ <= budget) watch_->mostRunning = std::max(watch_->mostRunning, watch_->running);
        watch_->started.push_back(number);
      }
      // A gated task waits for the gate, but never for long: a pipeline that waits for it
      // to end then fails the test instead of hanging it.
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (gated_ && !watch_->gate && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::lock_guard<std::mutex> lock(watch_->mutex);
      watch_->running -= cost_;
    }
    const int number;

   private:
    uint64_t cost_;
    bool gated_;
    Watch* watch_;
  };
  std::vector<int> order;
  COrderedPool pipeline(
      2, 16,
      [&](CPoolTask& t) {
        order.push_back(static_cast<CCostTask&>(t).number);
        return true;
      },
      budget, CostHeld::kWhileRunning);
  const auto push = [&](int number, uint64_t cost, bool gated) {
    return pipeline.Push(std::unique_ptr<CPoolTask>(new CCostTask(number, cost, gated, &watch)),
                         cost);
  };
  // Both threads held by the first two; then the others wait, the costliest last but one.
  const uint64_t costs[] = {0, 0, 10, 20, 30, 40, 90, 50};
  ASSERT_TRUE(push(0, costs[0], true));
  ASSERT_TRUE(push(1, costs[1], true));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(watch.mutex);
      if (watch.started.size() == 2 || std::chrono::steady_clock::now() > until) break;
    }
    std::this_thread::yield();
  }
  for (int i = 2; i < 8; ++i) ASSERT_TRUE(push(i, costs[i], false));
  EXPECT_TRUE(order.empty()) << "a push waited for a task to be consumed";
  watch.gate = true;
  ASSERT_TRUE(pipeline.Finish());
  ASSERT_EQ(watch.started.size(), 8u);
  // Started first, beside the one task that fits with it (10): the two threads may note
  // those two in either order, but nothing else starts before the costliest has run.
  const auto at = [&](int number) {
    return std::find(watch.started.begin(), watch.started.end(), number) - watch.started.begin();
  };
  for (int later : {3, 4, 5, 7}) {
    EXPECT_LT(at(6), at(later)) << ::testing::PrintToString(watch.started);
  }
  // One over the budget, among others.
  const uint64_t more[] = {30, 250, 30, 60};
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(push(8 + i, more[i], false));
  ASSERT_TRUE(pipeline.Finish());
  ASSERT_EQ(order.size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(order[i], i);
  EXPECT_LE(watch.mostRunning, budget);
  EXPECT_FALSE(watch.overBudgetNotAlone);
}

TEST(OrderedPool, AFailedTaskAndARefusedConsumeStopIt) {
  for (unsigned jobs : {1u, 3u}) {
    std::atomic<int> running{0};
    int mostRunning = 0;
    CNumberTask::failAt = 7;
    std::vector<int> consumed;
    COrderedPool pipeline(jobs, 4, [&](CPoolTask& t) {
      consumed.push_back(static_cast<CNumberTask&>(t).number());
      return !t.failed;
    });
    bool ok = true;
    for (int i = 0; i < 30 && ok; ++i) {
      ok = pipeline.Push(std::unique_ptr<CPoolTask>(new CNumberTask(i, &running, &mostRunning)));
    }
    ok = ok && pipeline.Finish();
    CNumberTask::failAt = -1;
    EXPECT_FALSE(ok);
    ASSERT_FALSE(consumed.empty());
    EXPECT_EQ(consumed.back(), 7) << "nothing is consumed after the failure";
    EXPECT_FALSE(
        pipeline.Push(std::unique_ptr<CPoolTask>(new CNumberTask(99, &running, &mostRunning))));
  }
}

}  // namespace
