// Work shared out over threads, and taken back in the order it was handed in: what a
// writer writes, or extraction moves into place, depends only on that order, never on
// which thread finished first.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// One piece of work: made and consumed on the thread that feeds the pool, run on any thread.
class CPoolTask {
 public:
  virtual ~CPoolTask() = default;
  virtual void Run() = 0;
  bool failed = false;  // Run threw (memory ran out); the pool catches it
};

// How long a task holds the bytes its cost stands for: until it is consumed (a coded piece
// waiting to be written), or only until it has run (a task that hands its bytes on before
// it ends, and waits to be consumed holding nothing).
enum class CostHeld { kUntilConsumed, kWhileRunning };

// Runs tasks on `jobs` threads. With one job no thread is started: each task runs on the
// feeding thread when it is pushed. At most `window` tasks are pushed and not yet consumed,
// which bounds the memory in flight; tasks of uneven size also carry a cost (the bytes they
// hold), and the costs held stay within `budget`, except that a task costlier than the
// whole budget is held alone. Costs held until consumed are let in when pushed, and the
// tasks run in push order; costs held while running are let in when a task starts, the
// costliest waiting task that fits first.
class COrderedPool {
 public:
  // consume gets each task once it has run, in push order; it returns false to stop.
  typedef std::function<bool(CPoolTask& task)> ConsumeFn;
  COrderedPool(unsigned jobs, size_t window, ConsumeFn consume, uint64_t budget = UINT64_MAX,
               CostHeld held = CostHeld::kUntilConsumed);
  ~COrderedPool();
  COrderedPool(const COrderedPool&) = delete;
  COrderedPool& operator=(const COrderedPool&) = delete;

  // Consumes the oldest tasks until a task of this cost fits in the window (and, for costs
  // held until consumed, in the budget), so that the caller may then fill it and push it.
  // False as Push.
  bool MakeRoom(uint64_t cost = 0);
  // Hands task in, first making room for it. False once a consume has returned false;
  // nothing is consumed after that.
  bool Push(std::unique_ptr<CPoolTask> task, uint64_t cost = 0);
  // Consumes every task still in flight. False as Push.
  bool Finish();
  // True when tasks run on threads of the pipeline's own, false when each runs in Push on
  // the caller's thread.
  bool pooled() const { return !threads_.empty(); }

 private:
  struct Slot {
    std::unique_ptr<CPoolTask> task;
    uint64_t cost = 0;
    bool done = false;
  };
  bool ConsumeOldest();
  bool Fits(uint64_t cost) const;  // under mutex_, as Next
  std::deque<Slot*>::iterator Next();
  void Work();

  ConsumeFn consume_;
  size_t window_;
  uint64_t budget_;
  CostHeld held_;
  bool stopped_ = false;  // a consume returned false
  std::mutex mutex_;
  std::condition_variable queued_;  // a task is waiting, or the threads are to end
  std::condition_variable ran_;     // a task has run
  std::deque<Slot> inFlight_;       // pushed and not consumed, oldest first
  std::deque<Slot*> waiting_;       // pushed and not started
  uint64_t costHeld_ = 0;           // of the tasks that hold theirs now
  unsigned running_ = 0;            // tasks started and not yet done
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

// The most threads a pool runs (pack's and extract's --jobs): each holds its share of
// the work in flight.
constexpr unsigned kMaxJobs = 32;

// The threads a pool uses by default: one per core, at most kMaxJobs.
unsigned DefaultJobs();
// The window for `jobs` threads: enough tasks in flight to keep every thread busy.
size_t PoolWindow(unsigned jobs);
