// The window icon: its palette, its transparency and its symmetry at both sizes.
#include "resources/Icon.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace quom {
namespace {

TEST(Icon, SnowflakeAtBothSizes) {
  const std::set<std::tuple<int, int, int, int>> palette = {
      {0, 0, 0, 0}, {0, 0, 0, 255}, {0, 128, 128, 255}, {0, 255, 255, 255}, {255, 255, 255, 255}};
  for (int size : {32, 16}) {
    const std::vector<uint8_t> px = SnowflakeIcon(size);
    ASSERT_EQ(px.size(), static_cast<size_t>(size * size * 4));
    auto at = [&](int x, int y) {
      const uint8_t* p = &px[(y * size + x) * 4];
      return std::make_tuple(int{p[0]}, int{p[1]}, int{p[2]}, int{p[3]});
    };
    std::set<std::tuple<int, int, int, int>> used;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        used.insert(at(x, y));
        EXPECT_EQ(at(x, y), at(size - 1 - x, y)) << size << ": " << x << "," << y;
        EXPECT_EQ(at(x, y), at(x, size - 1 - y)) << size << ": " << x << "," << y;
      }
    EXPECT_EQ(used, palette) << size;             // every colour appears, no other
    EXPECT_EQ(std::get<3>(at(0, 0)), 0) << size;  // corners are transparent
    EXPECT_EQ(at(size / 2, size / 2), std::make_tuple(255, 255, 255, 255)) << size;
  }
}

}  // namespace
}  // namespace quom
