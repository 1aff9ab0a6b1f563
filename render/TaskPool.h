// The engine's one way of using threads: a fixed set of workers that run tasks in the order they
// are queued. Tasks come in groups; the thread that waits for a group keeps calling back (to
// report progress) while it waits, may help with the group's tasks, and gets the first exception
// a task threw.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quom {

class TaskGroup;

class TaskPool {
 public:
  // Starts `threads` workers. If the system refuses some threads, the pool works with those that
  // started; if it refuses the first, throws std::system_error. With none (where there are no
  // threads to start), every task runs on the thread that waits for its group.
  explicit TaskPool(int threads);
  // Joins the workers once the queue is empty. Every group must be gone before.
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  int Threads() const { return static_cast<int>(workers_.size()); }

 private:
  friend class TaskGroup;
  using Task = std::function<void(int32_t)>;
  // Tasks task(next) .. task(end - 1) of one group, started in that order.
  struct Entry {
    TaskGroup* group;
    std::shared_ptr<const Task> task;  // shared, so that a run outlives the entry
    int32_t next, end;
  };

  void Work();
  // Takes the first queued task (of `only`, when given) and runs it with the lock released.
  // Returns false when there was none.
  bool RunNext(std::unique_lock<std::mutex>& lock, TaskGroup* only);

  std::mutex mutex_;
  std::condition_variable work_;  // a task was queued, or the pool is closing
  std::condition_variable done_;  // a group ran out of tasks, or stopped
  std::deque<Entry> queue_;
  bool closing_ = false;
  std::vector<std::thread> workers_;
  std::atomic<uint64_t> submitted_{0};  // groups of tasks queued so far
};

// Tasks waited for together. Destroying a group stops it and waits for its running tasks, so that
// an exception on the way out leaves no task behind that uses what is being unwound.
class TaskGroup {
 public:
  // How often Wait calls its tick.
  static constexpr std::chrono::milliseconds kTickPeriod{10};

  explicit TaskGroup(TaskPool& pool) : pool_(pool) {}
  ~TaskGroup();
  TaskGroup(const TaskGroup&) = delete;
  TaskGroup& operator=(const TaskGroup&) = delete;

  // Queues a task; tasks of every group start in the order they are queued, each on whichever
  // worker is free. Tasks may queue more. Nothing is queued once the group has stopped.
  void Submit(std::function<void()> task);
  // Queues task(0) .. task(count - 1), started in that order.
  void SubmitEach(int32_t count, std::function<void(int32_t)> task);

  // Whether the group has stopped: by Stop, by a task's exception or by the waiter's. Long tasks
  // look now and then and return early.
  bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }
  // Drops the queued tasks; the running ones finish (see Stopped).
  void Stop();

  // Returns once no task of the group is queued or running. Meanwhile the calling thread calls
  // `tick` every kTickPeriod and, with `help` (always, in a pool without workers), runs queued
  // tasks of the group itself, ticking between them. If a task threw, rethrows the first exception
  // once the group's other tasks have finished or been dropped. If `tick` throws, stops the group,
  // waits for its running tasks and passes the exception on.
  void Wait(const std::function<void()>& tick = {}, bool help = false);

 private:
  friend class TaskPool;
  void StopLocked();                      // with the pool's lock held
  void Failed(std::exception_ptr error);  // likewise

  TaskPool& pool_;
  int64_t pending_ = 0;  // tasks queued or running (under the pool's lock)
  std::atomic<bool> stopped_{false};
  std::exception_ptr error_;  // the first task's exception (under the pool's lock)
};

}  // namespace quom
