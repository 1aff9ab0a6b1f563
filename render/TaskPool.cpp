// The task pool: one queue under one lock. A worker takes the front task, runs it unlocked, and
// counts it off its group; a group's waiter sleeps until its count reaches zero or its tick is due.
#include "render/TaskPool.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace quom {

namespace {

// How many times an idle worker, or a waiter whose group's last tasks are running, yields before
// it sleeps.
constexpr int kIdleSpins = 200;

}  // namespace

TaskPool::TaskPool(int threads) {
  const int n = std::max(0, threads);
  workers_.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    try {
      workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      if (workers_.empty()) throw;
      break;  // fewer workers than asked for: those that started share the work
    }
  }
}

TaskPool::~TaskPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  work_.notify_all();
  for (std::thread& w : workers_)
    w.join();
}

void TaskPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    if (queue_.empty() && !closing_) {
      // Stages that queue many short groups (the reverb's rounds) queue the next within
      // microseconds: look for it a while before sleeping, which would cost a wake-up.
      const uint64_t seen = submitted_.load(std::memory_order_relaxed);
      lock.unlock();
      for (int i = 0; i < kIdleSpins && submitted_.load(std::memory_order_relaxed) == seen; ++i)
        std::this_thread::yield();
      lock.lock();
    }
    work_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;  // closing, nothing left
    RunNext(lock, nullptr);
  }
}

bool TaskPool::RunNext(std::unique_lock<std::mutex>& lock, TaskGroup* only) {
  auto it = queue_.begin();
  if (only)
    it = std::find_if(queue_.begin(), queue_.end(),
                      [only](const Entry& e) { return e.group == only; });
  if (it == queue_.end()) return false;
  TaskGroup& group = *it->group;
  const int32_t index = it->next++;
  std::shared_ptr<const Task> task = it->task;
  if (it->next == it->end) queue_.erase(it);

  lock.unlock();
  std::exception_ptr error;
  try {
    (*task)(index);
  } catch (...) {
    error = std::current_exception();
  }
  task.reset();  // the last reference may go here: destroy it unlocked
  lock.lock();

  if (error) group.Failed(error);
  if (--group.pending_ == 0) done_.notify_all();
  return true;
}

TaskGroup::~TaskGroup() {
  std::unique_lock<std::mutex> lock(pool_.mutex_);
  StopLocked();
  pool_.done_.wait(lock, [this] { return pending_ == 0; });
}

void TaskGroup::Submit(std::function<void()> task) {
  SubmitEach(1, [task = std::move(task)](int32_t) { task(); });
}

void TaskGroup::SubmitEach(int32_t count, std::function<void(int32_t)> task) {
  if (count <= 0) return;
  {
    std::lock_guard<std::mutex> lock(pool_.mutex_);
    if (Stopped()) return;
    pending_ += count;
    pool_.queue_.push_back(
        {this, std::make_shared<const TaskPool::Task>(std::move(task)), 0, count});
    pool_.submitted_.fetch_add(1, std::memory_order_relaxed);
  }
  if (count == 1) {
    pool_.work_.notify_one();
  } else {
    pool_.work_.notify_all();
  }
}

void TaskGroup::Stop() {
  std::lock_guard<std::mutex> lock(pool_.mutex_);
  StopLocked();
}

void TaskGroup::StopLocked() {
  stopped_.store(true, std::memory_order_relaxed);
  std::deque<TaskPool::Entry>& queue = pool_.queue_;
  for (auto it = queue.begin(); it != queue.end();) {
    if (it->group == this) {
      pending_ -= it->end - it->next;
      it = queue.erase(it);
    } else {
      ++it;
    }
  }
  pool_.done_.notify_all();
}

void TaskGroup::Failed(std::exception_ptr error) {
  if (!error_) error_ = std::move(error);
  StopLocked();
}

void TaskGroup::Wait(const std::function<void()>& tick, bool help) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point due = Clock::now() + kTickPeriod;
  std::unique_lock<std::mutex> lock(pool_.mutex_);
  help = help || pool_.workers_.empty();  // else nobody would run the group's tasks
  int spins = 0;
  while (pending_ > 0) {
    if (tick && Clock::now() >= due) {
      lock.unlock();
      try {
        tick();
      } catch (...) {
        lock.lock();
        StopLocked();
        pool_.done_.wait(lock, [this] { return pending_ == 0; });
        throw;
      }
      due = Clock::now() + kTickPeriod;
      lock.lock();
      continue;
    }
    if (help && pool_.RunNext(lock, this)) continue;
    if (spins < kIdleSpins) {  // the group's last tasks are running: they usually end soon
      ++spins;
      lock.unlock();
      std::this_thread::yield();
      lock.lock();
      continue;
    }
    if (tick) {
      pool_.done_.wait_until(lock, due);
    } else {
      pool_.done_.wait(lock);
    }
  }
  if (error_) std::rethrow_exception(error_);
}

}  // namespace quom
