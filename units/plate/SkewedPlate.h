// The plate laid out for vector kernels: rows run along the lanes of a vector, skewed so that one
// slot of lanes holds cells that never read each other in the in-place smoothing pass.
//
// The acceleration and displacement passes could visit the cells in any order; the smoothing
// pass cannot: it works in place, so a cell must see its left and upper neighbours already
// smoothed and its right and lower ones not yet (the wrap-around neighbours the other way
// round). Cells with the same x + y (one anti-diagonal) never read each other, so they can be
// updated together.
//
// The grid is held skewed for L lanes. Row y = b * L + i (block b, lane i) runs along lane i, one
// row after the other, and cell (x, y) sits in slot t = b * W + x + i. Every cell of a slot has
// its left and upper neighbour in slot t - 1 (lane 0 takes the upper one from lane L - 1 of slot
// t - W + L - 1), its right and lower neighbour in slot t + 1 (lane L - 1 takes the lower one
// from lane 0 of slot t + W - L + 1). Visiting the slots in ascending order gives every cell the
// neighbours the row-by-row order gives it:
//   - column 0 reads its left neighbour (x = W - 1, slot t + W - 1) before it is smoothed and the
//     last column its right one (x = 0, slot t - W + 1) after, both picked per lane;
//   - row 0 reads the last row as it was before the pass, and the last row reads row 0 as it is
//     after: both come from halo copies, below slot 0 (lane L - 1, the last row) and past the last
//     cell of lane 0 (row 0).
// Lane i holds a cell in slots i .. i + BW - 1, so the first and the last L - 1 slots are partly
// empty. A slot of N vectors of w lanes holds lane i in vector i % N, so that the upper neighbour
// of vectors 1 to N - 1 is the previous vector of the slot before, unshifted; only vector 0 needs
// a lane shift.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "units/plate/modPlate.h"

namespace quom::plate {

// The plate in skewed form for N vectors of w lanes, with its halos and padding on both sides.
struct SkewedPlate {
  int32_t W, H, w, N, L;
  int32_t BW;    // slots taken by one lane's rows: (H / L) * W
  int32_t last;  // the last slot holding a cell: BW + L - 2
  // Slots -W .. BW + W + L - 1 are stored; slot t of an array starts at D + t * L and so on.
  std::vector<double> storage;
  double* D = nullptr;
  double* V = nullptr;
  double* K = nullptr;
  // Lane masks (all bits set where true), L values per entry, in slot order: the lanes holding a
  // cell in each of the first L - 1 slots, in any slot between, and in each of the last L - 1.
  std::vector<int64_t> filled;

  SkewedPlate(int32_t width, int32_t height, int32_t vectorLanes, int32_t vectors)
      : W(width),
        H(height),
        w(vectorLanes),
        N(vectors),
        L(vectorLanes * vectors),
        BW(height / L * width),
        last(BW + L - 2) {
    const size_t perArray = static_cast<size_t>(BW + 2 * W + L) * L;
    storage.assign(3 * perArray + 8, 0.0);  // 8 spare doubles to align to 64 bytes
    const uintptr_t raw = reinterpret_cast<uintptr_t>(storage.data());
    double* base = storage.data() + ((64 - raw % 64) % 64) / sizeof(double);
    const size_t origin = static_cast<size_t>(W) * L;
    D = base + origin;
    V = base + perArray + origin;
    K = base + 2 * perArray + origin;

    filled.assign(static_cast<size_t>(2 * L - 1) * L, 0);
    for (int32_t i = 0; i < L; ++i) {
      // Lane i holds a cell in slots i .. i + BW - 1.
      for (int32_t j = 0; j < 2 * L - 1; ++j) {
        const int32_t t = j < L ? j : BW + (j - L);
        if (j == L - 1 || (i <= t && i >= t - BW + 1)) filled[j * L + Element(i)] = -1;
      }
    }
  }

  // Where lane i sits in its slot.
  int32_t Element(int32_t i) const { return i % N * w + i / N; }

  const int64_t* Filled(int32_t t) const {
    const int32_t j = t < L - 1 ? t : t < BW ? L - 1 : L + (t - BW);
    return filled.data() + j * L;
  }

  // Every cell of the row-major arrays with its place here, row by row.
  template <typename F>
  void ForEachCell(F&& f) const {
    for (int32_t b = 0; b < H / L; ++b) {
      for (int32_t i = 0; i < L; ++i) {
        const size_t row = static_cast<size_t>(b * L + i) * W;
        const ptrdiff_t first = static_cast<ptrdiff_t>(b * W + i) * L + Element(i);
        for (int32_t x = 0; x < W; ++x)
          f(row + x, first + static_cast<ptrdiff_t>(x) * L);
      }
    }
  }

  void Load(const modPlate& p) {
    ForEachCell([&](size_t c, ptrdiff_t o) {
      D[o] = p.PlateDisp[c];
      V[o] = p.PlateVel[c];
      K[o] = p.PlateK[c];
    });
  }

  void Save(modPlate& p) const {
    ForEachCell([&](size_t c, ptrdiff_t o) {
      p.PlateDisp[c] = D[o];
      p.PlateVel[c] = V[o];
    });
  }
};

}  // namespace quom::plate
