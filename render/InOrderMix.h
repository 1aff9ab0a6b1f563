// Layers mixed into the bus in file order, whatever order they finish in and on whatever thread:
// every frame's additions happen in file order, which fixes its bits. Done(i) hands layer i over;
// the hand-off that completes the finished prefix mixes it, under one lock that it waits for, so
// no finished layer can be left behind by a hand-off that gave up.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

namespace quom {

class InOrderMix {
 public:
  explicit InOrderMix(size_t layers) : done_(layers, false) {}

  // Marks layer i finished, then calls mix(m) for every finished layer m that is next in order,
  // while another thread's hand-off waits. Returns how many layers this call mixed.
  template <typename Mix>
  size_t Done(size_t i, Mix&& mix) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_[i] = true;
    size_t m = mixed_.load(std::memory_order_relaxed);
    const size_t from = m;
    while (m < done_.size() && done_[m]) {
      mix(m);
      mixed_.store(++m, std::memory_order_release);
    }
    return m - from;
  }

  // Layers mixed so far, all of them before any not mixed; read at any time, from any thread.
  size_t Mixed() const { return mixed_.load(std::memory_order_acquire); }
  size_t Layers() const { return done_.size(); }

 private:
  std::mutex mutex_;
  std::vector<bool> done_;  // under mutex_
  std::atomic<size_t> mixed_{0};
};

}  // namespace quom
