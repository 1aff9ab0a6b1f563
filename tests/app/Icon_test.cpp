// The window icon: its palette, its transparency and its symmetry at both sizes; the icon theme's
// larger sizes drawn as the same figure.
#include "resources/Icon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
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

// The share of the icon each colour covers, by its RGBA value.
std::map<uint32_t, double> ColourShares(int size) {
  const std::vector<uint8_t> px = SnowflakeIcon(size);
  std::map<uint32_t, double> shares;
  for (size_t i = 0; i < px.size(); i += 4) {
    const uint32_t rgba = uint32_t{px[i]} << 24 | px[i + 1] << 16 | px[i + 2] << 8 | px[i + 3];
    shares[rgba] += 1.0 / (size * size);
  }
  return shares;
}

// The desktop's sizes are the 32-pixel icon drawn finer: the same five colours, each covering
// about the same share of the square (bands kept at the small icon's width in pixels would leave
// a thin outline of a snowflake at 256 pixels, 92 % of it transparent).
TEST(Icon, LargerSizesAreTheSameFigure) {
  const std::map<uint32_t, double> window = ColourShares(32);
  ASSERT_EQ(window.size(), 5u);
  for (int size : {48, 64, 128, 256}) {
    const std::map<uint32_t, double> shares = ColourShares(size);
    ASSERT_EQ(shares.size(), window.size()) << size;
    for (const auto& [rgba, share] : window) {
      ASSERT_TRUE(shares.count(rgba)) << size << ": no colour " << std::hex << rgba;
      EXPECT_LT(std::fabs(shares.at(rgba) - share), 0.05)
          << size << ": colour " << std::hex << rgba << " covers " << shares.at(rgba);
    }
  }
}

}  // namespace
}  // namespace quom
