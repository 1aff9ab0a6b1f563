// A struck elastic plate: a wrap-around grid of cells with random stiffness. Each step runs an
// acceleration pass (four-neighbour Laplacian of the displacement), an in-place smoothing pass
// over the velocity, a displacement pass, a rattle on four cells of row 0 and a damping point;
// PlateStep then reads one pick-up cell.
//
// A plate is a plain value: make one, PlateInit it, step it, drop it. Nothing is shared between
// plates except the generators PlateInit draws the stiffness map from.
#pragma once

#include <cstdint>
#include <vector>

#include "base/Simd.h"
#include "base/modTools.h"

namespace quom {

struct modPlate {
  int32_t PlateSteps = 0;     // simulation steps per PlateStep call
  int32_t PlateWidth = 0;     // columns; a power of two
  int32_t PlateHeight = 0;    // rows; a power of two
  int32_t PlateMaskX = 0;     // PlateWidth - 1: last column and wrap mask
  int32_t PlateMaskY = 0;     // PlateHeight - 1: last row and wrap mask
  double PlateTension = 0.0;  // base stiffness; used only by PlateInit
  double PlateKeep = 0.0;     // share of its own velocity a cell keeps when smoothed
  double PlateSpread = 0.0;   // weight of each neighbour when smoothed
  // Cell (x, y) is element y * PlateWidth + x of each array.
  std::vector<double> PlateDisp;  // displacement
  std::vector<double> PlateVel;   // velocity
  std::vector<double> PlateK;     // stiffness
};

// The rattle and the damping point, for PlateStep and the vector kernels alike.
inline constexpr double kRattleBounce = -0.5;  // a rattling cell comes back at half its speed
inline constexpr double kDampKeep = 0.5;  // the damping point keeps half its displacement per step

// Sets up a plate at rest, struck at (0, 0) and at the centre. Draws width * height values from
// RndDiff for the stiffness map, row by row. Throws std::invalid_argument unless width and height
// are powers of two with width >= 4 and height >= 2 (the wrap masks, the rattle stride and the
// fixed cells need them).
void PlateInit(modPlate& p, modTools& t, int32_t steps, int32_t width, int32_t height,
               double tension, double loss, double irregularity);

// Advances the plate by PlateSteps steps and returns the displacement of the pick-up cell
// (1, PlateHeight / 2). With PlateSteps < 1 it only reads that cell. A plate that was never
// initialised reads as 0.
double PlateStep(modPlate& p, float threshold);

// The results of `count` consecutive PlateStep calls, written to out[0 .. count - 1], computed
// by a vector kernel of the given path (the scalar path calls PlateStep). Every path gives the
// same bits as PlateStep and leaves the plate in the same state, so a recording may be made in
// stretches of any length; each call rearranges the plate for the kernel and back, so stretches
// of a few thousand samples cost next to nothing more than one long run.
void PlateRun(modPlate& p, float threshold, double* out, int32_t count,
              SimdPath path = BestSimdPath());

}  // namespace quom
