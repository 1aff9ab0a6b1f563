// Large buffers backed by transparent huge pages where the system offers them on request: one
// page fault then maps 2 MiB instead of 4 KiB, which matters for the bus and the PCM (tens of
// thousands of faults otherwise, each costing microseconds).
#pragma once

#include <cstddef>
#include <vector>

namespace quom {

inline constexpr size_t kHugePageBytes = size_t{2} << 20;

// Asks for huge pages on the whole 2 MiB pages inside [p, p + bytes). Call it before the memory
// is first touched; a no-op where the system has no such request.
void AdviseHugePages(const void* p, size_t bytes);

// Empties v and gives it room for n elements, advised for huge pages, without touching it.
template <typename T>
void ReserveHuge(std::vector<T>& v, size_t n) {
  std::vector<T>().swap(v);
  v.reserve(n);
  AdviseHugePages(v.data(), n * sizeof(T));
}

// A stretch of memory handed out in pieces from its start, advised for huge pages and only
// reserved until touched; the pieces are returned all at once, when the region goes. One thread
// at a time takes from it. Built with the address checker, it has no memory to hand out.
class HugeRegion {
 public:
  explicit HugeRegion(size_t bytes);
  ~HugeRegion();
  HugeRegion(const HugeRegion&) = delete;
  HugeRegion& operator=(const HugeRegion&) = delete;

  // The next `bytes` (64-byte aligned), or nullptr once the region cannot hold them.
  void* Take(size_t bytes);

 private:
  void* mapped_ = nullptr;
  char* base_ = nullptr;
  size_t size_ = 0;
  size_t used_ = 0;
};

}  // namespace quom
