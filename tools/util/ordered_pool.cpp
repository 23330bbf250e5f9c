#include "tools/util/ordered_pool.h"

#include <algorithm>
#include <system_error>

namespace {

void RunCaught(CPoolTask* task) {
  try {
    task->Run();
  } catch (...) {
    task->failed = true;
  }
}

}  // namespace

COrderedPool::COrderedPool(unsigned jobs, size_t window, ConsumeFn consume, uint64_t budget,
                           CostHeld held)
    : consume_(std::move(consume)),
      window_(std::max<size_t>(window, 1)),
      budget_(budget),
      held_(held) {
  if (jobs <= 1) return;
  try {
    for (unsigned i = 0; i < jobs; ++i) threads_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    // Fewer threads than asked for (none at all: every task runs when pushed).
  }
}

COrderedPool::~COrderedPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    waiting_.clear();  // tasks not started are never run
  }
  queued_.notify_all();
  for (std::thread& t : threads_) t.join();
}

// The waiting task to run next, or waiting_.end() when none may start yet. Costs held until
// consumed were let in by MakeRoom: the oldest. Costs held while running are let in here:
// the costliest task that fits beside those running (a large entry started early does not
// finish alone at the end while the other threads have nothing left), or with nothing
// running the costliest of all.
std::deque<COrderedPool::Slot*>::iterator COrderedPool::Next() {
  if (held_ == CostHeld::kUntilConsumed || waiting_.empty()) return waiting_.begin();
  auto next = waiting_.end();
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    if ((next == waiting_.end() || (*it)->cost > (*next)->cost) &&
        (running_ == 0 || Fits((*it)->cost))) {
      next = it;
    }
  }
  return next;
}

void COrderedPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return ending_ || Next() != waiting_.end(); });
    if (ending_) return;
    const auto next = Next();
    Slot* slot = *next;
    waiting_.erase(next);
    ++running_;
    if (held_ == CostHeld::kWhileRunning) costHeld_ += slot->cost;
    lock.unlock();
    RunCaught(slot->task.get());
    lock.lock();
    slot->done = true;
    --running_;
    if (held_ == CostHeld::kWhileRunning) {
      costHeld_ -= slot->cost;
      queued_.notify_all();  // a task that did not fit beside this one may now
    }
    ran_.notify_all();
  }
}

bool COrderedPool::ConsumeOldest() {
  std::unique_ptr<CPoolTask> task;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    ran_.wait(lock, [this] { return inFlight_.front().done; });
    task = std::move(inFlight_.front().task);
    if (held_ == CostHeld::kUntilConsumed) costHeld_ -= inFlight_.front().cost;
    inFlight_.pop_front();
  }
  if (!consume_(*task)) stopped_ = true;
  return !stopped_;
}

bool COrderedPool::Fits(uint64_t cost) const {
  return cost <= budget_ - std::min(costHeld_, budget_);
}

bool COrderedPool::MakeRoom(uint64_t cost) {
  while (!stopped_ && !inFlight_.empty()) {
    if (inFlight_.size() < window_) {
      if (held_ == CostHeld::kWhileRunning) break;
      std::lock_guard<std::mutex> lock(mutex_);
      if (Fits(cost)) break;
    }
    ConsumeOldest();
  }
  return !stopped_;
}

bool COrderedPool::Push(std::unique_ptr<CPoolTask> task, uint64_t cost) {
  if (!MakeRoom(cost)) return false;
  if (threads_.empty()) {
    RunCaught(task.get());
    if (!consume_(*task)) stopped_ = true;
    return !stopped_;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    inFlight_.push_back(Slot());
    inFlight_.back().task = std::move(task);
    inFlight_.back().cost = cost;
    waiting_.push_back(&inFlight_.back());
    if (held_ == CostHeld::kUntilConsumed) costHeld_ += cost;
  }
  queued_.notify_one();
  return true;
}

bool COrderedPool::Finish() {
  while (!stopped_ && !inFlight_.empty()) ConsumeOldest();
  return !stopped_;
}

unsigned DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::min(std::max(cores, 1u), kMaxJobs);
}

size_t PoolWindow(unsigned jobs) {
  // Enough tasks waiting to keep every thread busy while the feeding thread reads, counts
  // or writes for a while (up to eight per thread, 48 in all), and never fewer than one
  // running on every thread and two waiting.
  jobs = std::max(jobs, 1u);
  return std::max<size_t>(size_t{jobs} + 2, std::min<size_t>(size_t{jobs} * 8, 48));
}
