// The snowflake icon, drawn from line segments: six arms with a pair of side branches each.
// Every pixel takes the colour of its distance to the nearest segment.
#include "resources/Icon.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quom {

namespace {

struct Rgba {
  uint8_t r, g, b, a;
};
constexpr Rgba kTransparent = {0, 0, 0, 0};
constexpr Rgba kOutline = {0, 0, 0, 255};
constexpr Rgba kDarkCyan = {0, 128, 128, 255};
constexpr Rgba kCyan = {0, 255, 255, 255};
constexpr Rgba kWhite = {255, 255, 255, 255};

struct Segment {
  double x0, y0, x1, y1;
};

double DistanceToSegment(double px, double py, const Segment& s) {
  const double dx = s.x1 - s.x0;
  const double dy = s.y1 - s.y0;
  const double len2 = dx * dx + dy * dy;
  double u = len2 > 0 ? ((px - s.x0) * dx + (py - s.y0) * dy) / len2 : 0;
  u = std::clamp(u, 0.0, 1.0);
  const double ex = s.x0 + u * dx - px;
  const double ey = s.y0 + u * dy - py;
  return std::sqrt(ex * ex + ey * ey);
}

}  // namespace

std::vector<uint8_t> SnowflakeIcon(int size) {
  // Lengths are fractions of the radius; the bands around the skeleton are tuned in pixels for
  // the window's two sizes, so that the small icon keeps its arms apart. Above 32 pixels (the
  // desktop's icon theme) the bands grow with the icon, which then looks like the 32-pixel one
  // drawn finer instead of a thin outline of it.
  const double radius = size / 2.0;
  const bool small = size < 24;
  constexpr double kArm = 0.9;                           // arm length
  constexpr double kBranchAt = 0.52;                     // where the side branches leave the arm
  const double branch = small ? 0.22 : 0.3;              // side branch length
  constexpr double kBranchAngle = std::numbers::pi / 3;  // branches lean 60 degrees out
  // Half-widths of the bands around the skeleton, in pixels.
  const double scale = size > 32 ? size / 32.0 : 1.0;
  const double white = (small ? 0.5 : 0.55) * scale;
  const double cyan = (small ? 0.71 : 1.05) * scale;
  const double darkCyan = (small ? 1.0 : 1.6) * scale;
  const double outline = (small ? 1.45 : 2.2) * scale;

  std::vector<Segment> skeleton;
  for (int arm = 0; arm < 6; ++arm) {
    const double a = std::numbers::pi / 2 + arm * std::numbers::pi / 3;
    const double ux = std::cos(a), uy = std::sin(a);
    skeleton.push_back({0, 0, kArm * radius * ux, kArm * radius * uy});
    const double bx = kBranchAt * radius * ux, by = kBranchAt * radius * uy;
    for (double side : {-1.0, 1.0}) {
      const double b = a + side * kBranchAngle;
      skeleton.push_back(
          {bx, by, bx + branch * radius * std::cos(b), by + branch * radius * std::sin(b)});
    }
  }

  std::vector<uint8_t> pixels(static_cast<size_t>(size) * size * 4);
  for (int row = 0; row < size; ++row) {
    for (int col = 0; col < size; ++col) {
      // Pixel centres, measured from the image centre and folded into one quadrant: the
      // figure is mirror-symmetric, and folding keeps rounding from breaking that at a band's
      // edge.
      const double px = std::fabs(col + 0.5 - radius);
      const double py = std::fabs(row + 0.5 - radius);
      double d = 1e9;
      for (const Segment& s : skeleton)
        d = std::min(d, DistanceToSegment(px, py, s));
      const Rgba c = d < white      ? kWhite
                     : d < cyan     ? kCyan
                     : d < darkCyan ? kDarkCyan
                     : d < outline  ? kOutline
                                    : kTransparent;
      uint8_t* out = &pixels[(static_cast<size_t>(row) * size + col) * 4];
      out[0] = c.r;
      out[1] = c.g;
      out[2] = c.b;
      out[3] = c.a;
    }
  }
  return pixels;
}

}  // namespace quom
