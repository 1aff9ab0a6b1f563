// What the engine asks of the system's memory beyond new and delete: large buffers backed by
// transparent huge pages where the system offers them on request (one page fault then maps 2 MiB
// instead of 4 KiB, which matters for the bus and the PCM: tens of thousands of faults otherwise,
// each costing microseconds), pages handed back early, and the heap trimmed. Each is a hint: where
// the system has no such request, it does nothing and the render is the same.
#pragma once

#include <cstddef>
#include <vector>

namespace quom {

inline constexpr size_t kHugePageBytes = size_t{2} << 20;

// Asks for huge pages on the whole 2 MiB pages inside [p, p + bytes). Call it before the memory
// is first touched; a no-op where the system has no such request.
void AdviseHugePages(const void* p, size_t bytes);

// Hands the whole system pages inside [p, p + bytes) back to the system while the buffer lives
// on: their contents are gone, and the buffer must not be read there again (writing is allowed,
// and finds fresh zeroed pages where the system took them).
void ReleasePages(void* p, size_t bytes);

// Returns the heap's free memory to the system, so that what was freed does not count towards
// the process's peak.
void TrimHeap();

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
  [[maybe_unused]] void* mapped_ = nullptr;  // what was mapped, where the system maps
  char* base_ = nullptr;
  size_t size_ = 0;
  size_t used_ = 0;
};

}  // namespace quom
