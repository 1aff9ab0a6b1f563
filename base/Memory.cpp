#include "base/Memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quom {

void AdviseHugePages(const void* p, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const auto begin = reinterpret_cast<uintptr_t>(p);
  const uintptr_t first = (begin + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  const uintptr_t last = (begin + bytes) & ~(kHugePageBytes - 1);
  // Only a hint: where it is refused, the buffer simply keeps small pages.
  if (p && last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

void ReleasePages(void* p, size_t bytes) {
#if defined(__linux__)
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<uintptr_t>(p);
  const uintptr_t first = (begin + page - 1) & ~(page - 1);
  const uintptr_t last = (begin + bytes) & ~(page - 1);
  if (p && last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
#else
  (void)p;
  (void)bytes;
#endif
}

void TrimHeap() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

#if defined(__SANITIZE_ADDRESS__)
#define QUOM_ADDRESS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUOM_ADDRESS_CHECKED 1
#endif
#endif

HugeRegion::HugeRegion(size_t bytes) {
  // Under the address checker there is no region, and what would come from it comes from the
  // heap, where the checker watches every buffer's bounds.
#if defined(__linux__) && !defined(QUOM_ADDRESS_CHECKED)
  // Mapped with a huge page to spare, so that the region can start on a huge page boundary.
  void* p = mmap(nullptr, bytes + kHugePageBytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return;  // no region: every Take gives nullptr
  mapped_ = p;
  const auto start = (reinterpret_cast<uintptr_t>(p) + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  base_ = reinterpret_cast<char*>(start);
  size_ = bytes;
  AdviseHugePages(base_, size_);
#else
  (void)bytes;
#endif
}

HugeRegion::~HugeRegion() {
#if defined(__linux__)
  if (mapped_) munmap(mapped_, size_ + kHugePageBytes);
#endif
}

void* HugeRegion::Take(size_t bytes) {
  const size_t at = (used_ + 63) & ~size_t{63};
  if (!base_ || bytes > size_ || at > size_ - bytes) return nullptr;
  used_ = at + bytes;
  return base_ + at;
}

}  // namespace quom
