// The memory helper: the huge-page region the voice buffers come from, and pages handed back
// while their buffer lives on.
#include "base/Memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quom {
namespace {

// Built with the address checker, a region hands out nothing (the heap serves instead).
bool HasRegions() {
  HugeRegion probe(4096);
  return probe.Take(1) != nullptr;
}

TEST(HugeRegion, HandsOutAlignedPiecesThatDoNotOverlapUntilItIsFull) {
  if (!HasRegions()) GTEST_SKIP() << "no regions in this build";
  HugeRegion region(kHugePageBytes);
  char* previousEnd = nullptr;
  // Odd sizes, so that every piece after the first is rounded up to stay aligned: 0, 64, 192.
  for (size_t bytes : {size_t{1}, size_t{100}, size_t{4099}}) {
    auto* p = static_cast<char*>(region.Take(bytes));
    ASSERT_NE(p, nullptr) << bytes;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
    if (previousEnd) {
      EXPECT_GE(p, previousEnd);
    }
    std::memset(p, 0x5a, bytes);  // writable, all of it
    previousEnd = p + bytes;
  }
  // 4,291 bytes used, 4,352 with the rounding.
  EXPECT_EQ(region.Take(kHugePageBytes), nullptr);
  auto* big = static_cast<char*>(region.Take(kHugePageBytes - 8192));
  ASSERT_NE(big, nullptr);
  EXPECT_GE(big, previousEnd);
  EXPECT_EQ(region.Take(4096), nullptr);  // 3,840 bytes left
  auto* last = static_cast<char*>(region.Take(3840));
  ASSERT_NE(last, nullptr);
  std::memset(last, 0x5a, 3840);  // up to the region's very end
  EXPECT_EQ(region.Take(1), nullptr);
}

TEST(HugeRegion, ARequestLargerThanTheRegionGetsNothing) {
  if (!HasRegions()) GTEST_SKIP() << "no regions in this build";
  HugeRegion region(4096);
  EXPECT_EQ(region.Take(size_t{1} << 40), nullptr);  // no wrap-around in the bounds check
  EXPECT_EQ(region.Take(4097), nullptr);
  EXPECT_NE(region.Take(4096), nullptr);
  EXPECT_EQ(region.Take(1), nullptr);
}

// Only whole pages inside the range go back: the bytes before its first page boundary and after
// its last stay as they were, and the buffer can be written again everywhere.
TEST(ReleasePages, KeepsThePartialPagesAtEitherEndAndLeavesTheBufferWritable) {
  constexpr size_t kBytes = 5 * 4096 * 16;  // whole pages on any page size up to 64 KiB
  std::vector<unsigned char> buffer(kBytes, 0xa5);
  const size_t from = 100, to = kBytes - 100;
  ReleasePages(buffer.data() + from, to - from);
  for (size_t i = 0; i < from; ++i)
    ASSERT_EQ(buffer[i], 0xa5) << i;
  for (size_t i = to; i < kBytes; ++i)
    ASSERT_EQ(buffer[i], 0xa5) << i;
  std::fill(buffer.begin(), buffer.end(), 0x3c);
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0x3c), static_cast<std::ptrdiff_t>(kBytes));
}

}  // namespace
}  // namespace quom
