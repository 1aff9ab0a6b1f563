// The voice buffers the layers are rendered into, handed back after mixing and reused, so that
// the pages of one layer's buffer serve the next instead of being returned to the system and
// faulted in again. New buffers come from a region of huge pages while it lasts (one fault maps
// 2 MiB of them instead of 4 KiB), then from the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Memory.h"

namespace quom {

// A voice buffer, from the heap or from the pool's region.
struct VoiceFree {
  bool heap = true;
  void operator()(float* p) const {
    if (heap) delete[] p;
  }
};
struct VoiceBuffer {
  std::unique_ptr<float[], VoiceFree> data;
  size_t size = 0;
  float* get() const { return data.get(); }
};

// Safe to use from any thread. The region's buffers live as long as the pool.
class VoicePool {
 public:
  // Free buffers of the heap kept for reuse, in samples; beyond it they go back to the allocator,
  // so that buffers of many sizes do not pile up. The region's buffers are always kept.
  static constexpr size_t kFreeSamples = 1 << 20;

  // `regionBytes`: the size of the region of huge pages.
  explicit VoicePool(size_t regionBytes) : region_(regionBytes) {}

  // A buffer of at least `len` samples, not zeroed.
  VoiceBuffer Get(int32_t len);
  void Put(VoiceBuffer b);

 private:
  std::mutex mutex_;
  HugeRegion region_;  // under mutex_: one thread takes from it at a time
  std::vector<VoiceBuffer> free_;
  size_t freeSize_ = 0;  // samples in free_ from the heap
};

}  // namespace quom
