// The plate: set-up with a random stiffness map, and the explicit finite-difference step.
#include "units/plate/modPlate.h"

#include <stdexcept>

namespace quom {
namespace {

constexpr double kStrike = 10.0;      // velocity given to the two struck cells
constexpr double kLossScale = 0.333;  // loss per unit of tension in the smoothing pass

bool IsPowerOfTwo(int32_t v) {
  return v > 0 && (v & (v - 1)) == 0;
}

}  // namespace

void PlateInit(modPlate& p, modTools& t, int32_t steps, int32_t width, int32_t height,
               double tension, double loss, double irregularity) {
  // The wrap-around is a bitwise AND, the rattle strides by width / 4 and the pick-up and damping
  // cells sit in column 1 and row 1: other sizes would index outside the grid.
  if (!IsPowerOfTwo(width) || !IsPowerOfTwo(height) || width < 4 || height < 2) {
    throw std::invalid_argument("plate sizes must be powers of two, width >= 4, height >= 2");
  }
  p.PlateSteps = steps;
  p.PlateWidth = width;
  p.PlateHeight = height;
  p.PlateMaskX = width - 1;
  p.PlateMaskY = height - 1;
  p.PlateTension = tension;

  const size_t cells = static_cast<size_t>(width) * static_cast<size_t>(height);
  p.PlateDisp.assign(cells, 0.0);
  p.PlateVel.assign(cells, 0.0);
  p.PlateK.assign(cells, 0.0);

  p.PlateKeep = 1.0 - ((loss * kLossScale) * tension);
  p.PlateSpread = (1.0 - p.PlateKeep) * 0.25;

  // Row by row, one RndDiff draw per cell: the draw order fixes every later plate's map too.
  for (int32_t y = 0; y <= p.PlateMaskY; ++y) {
    for (int32_t x = 0; x <= p.PlateMaskX; ++x) {
      const double r = RndDiff(t);
      p.PlateK[y * width + x] = tension * (r * irregularity + 1.0);
    }
  }

  // The struck cells, the pick-up cell and (width / 2, 1) keep the plain tension.
  const int32_t cx = width / 2;
  const int32_t cy = height / 2;
  p.PlateK[0] = tension;
  p.PlateK[cy * width + cx] = tension;
  p.PlateK[cy * width + 1] = tension;
  p.PlateK[1 * width + cx] = tension;

  p.PlateVel[0] = kStrike;
  p.PlateVel[cy * width + cx] = -kStrike;
}

double PlateStep(modPlate& p, float threshold) {
  if (p.PlateDisp.empty()) return 0.0;

  const int32_t w = p.PlateWidth;
  const int32_t mx = p.PlateMaskX;
  const int32_t my = p.PlateMaskY;
  const double keep = p.PlateKeep;
  const double spread = p.PlateSpread;
  const double th = threshold;
  double* const D = p.PlateDisp.data();
  double* const V = p.PlateVel.data();
  const double* const K = p.PlateK.data();

  for (int32_t step = 0; step < p.PlateSteps; ++step) {
    // Acceleration: reads only displacements, so the visiting order does not matter here.
    for (int32_t y = 0; y <= my; ++y) {
      const int32_t row = y * w;
      const int32_t up = ((y - 1) & my) * w;
      const int32_t down = ((y + 1) & my) * w;
      for (int32_t x = 0; x <= mx; ++x) {
        const int32_t left = (x - 1) & mx;
        const int32_t right = (x + 1) & mx;
        const int32_t c = row + x;
        // Left, right, previous row, next row: the sum is rounded in this order.
        const double sum = D[row + left] + D[row + right] + D[up + x] + D[down + x];
        V[c] = (sum * 0.25 - D[c]) * K[c] + V[c];
      }
    }

    // Smoothing, in place and in visiting order: the left neighbour and the previous row are
    // already smoothed, the right neighbour and the next row not yet (except where they wrap).
    // A trace of each strike crosses the whole grid within one pass; keep it that way.
    for (int32_t y = 0; y <= my; ++y) {
      const int32_t row = y * w;
      const int32_t up = ((y - 1) & my) * w;
      const int32_t down = ((y + 1) & my) * w;
      for (int32_t x = 0; x <= mx; ++x) {
        const int32_t left = (x - 1) & mx;
        const int32_t right = (x + 1) & mx;
        const int32_t c = row + x;
        const double sum = V[row + left] + V[row + right] + V[up + x] + V[down + x];
        V[c] = sum * spread + keep * V[c];
      }
    }

    for (int32_t c = 0; c <= (my + 1) * w - 1; ++c)
      D[c] = V[c] + D[c];

    // Rattle: four cells of row 0 that are past +-threshold and still moving outward bounce
    // back at half their speed.
    for (int32_t x = 0; x <= mx; x += w / 4) {
      const double d = D[x];
      const double v = V[x];
      if (d > th) {
        if (v > 0.0) V[x] = v * kRattleBounce;
      } else if (d < -th) {
        if (v < 0.0) V[x] = v * kRattleBounce;
      }
    }

    D[1 * w + 1] = D[1 * w + 1] * kDampKeep;
  }

  return D[(p.PlateHeight / 2) * w + 1];
}

}  // namespace quom
