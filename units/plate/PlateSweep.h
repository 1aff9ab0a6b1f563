// The plate's step on its skewed grid (units/plate/SkewedPlate.h), N vectors of kW lanes to a
// slot: one sweep over the slots per step, each cell's velocity smoothed and its displacement
// updated as soon as the sweep reaches it, and the acceleration a row of slots (W slots) ahead:
// far enough that the smoothing finds every neighbour accelerated, near enough that no
// displacement it reads has been updated yet.
//
// A step has two kinds of pass:
//   - the border: the L - 1 partly filled slots at either end of the sweep (on a plate of one
//     block of rows, every slot), one slot at a time, everything about a slot looked up at run
//     time and only the lanes holding a cell written;
//   - the interior: the slots between, every lane a cell, a row of slots at a time, each slot
//     compiled for where it holds the columns (Columns below) and for what it accelerates a row
//     ahead (Ahead).
// Every lane does the same IEEE operations in the same order as PlateStep, with no fused
// multiply-add, so every vector width gives the same bits.
//
// Run() and everything it calls are always inlined into the one function per instruction set that
// base/Dispatch.h compiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "base/LaneVectors.h"
#include "units/plate/SkewedPlate.h"
#include "units/plate/modPlate.h"

namespace quom::plate {

// Lanes S .. S + w - 1 of the concatenation a:b of two w-lane vectors.
template <int S, typename V, std::size_t... J>
[[gnu::always_inline]] inline V Window(const V& a, const V& b, std::index_sequence<J...>) {
  return __builtin_shufflevector(a, b, static_cast<int>(S + J)...);
}
template <int S, typename V>
[[gnu::always_inline]] inline V Window(const V& a, const V& b) {
  return Window<S>(a, b, std::make_index_sequence<sizeof(V) / sizeof(double)>());
}

// a with element E taken from b.
template <int E, typename V, std::size_t... J>
[[gnu::always_inline]] inline V Insert(const V& a, const V& b, std::index_sequence<J...>) {
  return __builtin_shufflevector(a, b, static_cast<int>(J == E ? sizeof...(J) + J : J)...);
}
template <int E, typename V>
[[gnu::always_inline]] inline V Insert(const V& a, const V& b) {
  return Insert<E>(a, b, std::make_index_sequence<sizeof(V) / sizeof(double)>());
}

// What an interior slot t does for slot t + W, a row of slots ahead, before it is smoothed:
// accelerate every lane, only the lanes that hold a cell (the partly filled slots at the end, a
// row ahead of the last row of slots), or nothing (past them).
enum class Ahead { kEveryLane, kFilledLanes, kNothing };

// Which lanes of a slot a pass writes: all of them, or only those holding a cell, in the partly
// filled slots at either end of a sweep (their other lanes hold halos and padding).
enum class Lanes { kAll, kFilled };

template <int kW, int N>
struct PlateSweep {
  static constexpr int L = N * kW;  // lanes per slot
  // Slot numbers, as wide as pointers, so that the addresses built from them need no widening.
  using Slot = ptrdiff_t;
  using V = typename LaneVec<kW>::D;
  using M = decltype(V{} < V{});

  SkewedPlate& s;
  const Slot W;  // a row of slots
  const Slot BW;
  const double keep;
  const double spread;
  M lane[N];  // the lane each element of a slot's vectors holds

  [[gnu::always_inline]] PlateSweep(SkewedPlate& plate, double keepShare, double spreadShare)
      : s(plate), W(plate.W), BW(plate.BW), keep(keepShare), spread(spreadShare) {
    for (int k = 0; k < N; ++k) {
      for (int j = 0; j < kW; ++j)
        lane[k][j] = j * N + k;
    }
  }

  // Columns: where a slot holds column 0 and the last column, as far as it is known at compile
  // time. Column 0 takes its left neighbour from slot t + W - 1 instead of t - 1, the last column
  // its right one from slot t - W + 1 instead of t + 1. In a slot at place r = t & (W - 1) of its
  // row of slots, column 0 is lane r and the last column lane (r + 1) & (W - 1), where these are
  // lanes of the slot (below L). Each policy's Blend puts those neighbours into `left` and
  // `right`, the slot's vectors of left and right neighbours; `slot` is slot t of the array.

  // Nothing known: r looked at run time, each vector's lanes compared with it.
  struct AnyColumns {
    [[gnu::always_inline]] static void Blend(const PlateSweep& p, Slot t, const double* slot,
                                             V* left, V* right) {
      const Slot r = t & (p.W - 1);
      if (r >= L && r != p.W - 1) return;
      const Slot r1 = (r + 1) & (p.W - 1);
#pragma GCC unroll 4
      for (int k = 0; k < N; ++k) {
        left[k] = p.lane[k] == r ? LoadVec<V>(slot + (p.W - 1) * L + k * kW) : left[k];
        right[k] = p.lane[k] == r1 ? LoadVec<V>(slot - (p.W - 1) * L + k * kW) : right[k];
      }
    }
  };

  // Neither column: most slots of a wide plate.
  struct NoColumns {
    [[gnu::always_inline]] static void Blend(const PlateSweep&, Slot, const double*, V*, V*) {}
  };
  template <int>
  using NoColumnsAt = NoColumns;

  // Slot kLane of a row of slots: column 0 in lane kLane, the last column in lane kLane + 1 if
  // that is below L. Each is one constant shuffle.
  template <int kLane>
  struct RowStart {
    [[gnu::always_inline]] static void Blend(const PlateSweep& p, Slot, const double* slot, V* left,
                                             V* right) {
      constexpr int r = kLane;
      left[r % N] = Insert<r / N>(left[r % N], LoadVec<V>(slot + (p.W - 1) * L + r % N * kW));
      if constexpr (r + 1 < L) {
        constexpr int r1 = r + 1;
        right[r1 % N] =
            Insert<r1 / N>(right[r1 % N], LoadVec<V>(slot - (p.W - 1) * L + r1 % N * kW));
      }
    }
  };

  // The last slot of a row of slots: the last column alone, in lane 0.
  struct RowEnd {
    [[gnu::always_inline]] static void Blend(const PlateSweep& p, Slot, const double* slot, V*,
                                             V* right) {
      right[0] = Insert<0>(right[0], LoadVec<V>(slot - (p.W - 1) * L));
    }
  };
  // Slot kPhase of the last N slots of a row.
  template <int kPhase>
  using RowEndAt = std::conditional_t<kPhase == N - 1, RowEnd, NoColumns>;

  // The four-neighbour sums of slot t of array a (left, right, previous row, next row, rounded
  // in this order), given slots t - 1 and t + 1; vector 0's upper and vector N - 1's lower
  // neighbour shift in one lane from upFar and downFar.
  template <class Columns>
  [[gnu::always_inline]] void Sums(const double* a, Slot t, const V* prev, const V* next, V upFar,
                                   V downFar, V* sum) const {
    V left[N], right[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      left[k] = prev[k];
      right[k] = next[k];
    }
    Columns::Blend(*this, t, a + t * L, left, right);
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      const V up = k > 0 ? prev[k - 1] : Window<kW - 1>(upFar, prev[N - 1]);
      const V down = k < N - 1 ? next[k + 1] : Window<1>(next[0], downFar);
      sum[k] = ((left[k] + right[k]) + up) + down;
    }
  }

  [[gnu::always_inline]] void LoadSlot(const double* a, Slot t, V* out) const {
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k)
      out[k] = LoadVec<V>(a + t * L + k * kW);
  }

  // Vector N - 1 of slot t - W + L - 1 and vector 0 of slot t + W - L + 1 of array a.
  [[gnu::always_inline]] V UpFar(const double* a, Slot t) const {
    return LoadVec<V>(a + (t - W + L - 1) * L + (N - 1) * kW);
  }
  [[gnu::always_inline]] V DownFar(const double* a, Slot t) const {
    return LoadVec<V>(a + (t + W - L + 1) * L);
  }

  // The lanes of slot t holding a cell, for the vector at k * kW.
  [[gnu::always_inline]] M Filled(Slot t, int k) const {
    return LoadVec<M>(s.Filled(static_cast<int32_t>(t)) + k * kW);
  }

  // The acceleration of slot t, given the displacements of slots t - 1, t and t + 1. Each vector
  // is stored as soon as it is made, here and in Smooth: made all first, they kept more of the
  // carried vectors on the stack and took up to a tenth more instructions.
  template <class Columns, Lanes kLanes>
  [[gnu::always_inline]] void Accelerate(Slot t, const V* dm, const V* d0, const V* dp) {
    V sum[N];
    Sums<Columns>(s.D, t, dm, dp, UpFar(s.D, t), DownFar(s.D, t), sum);
    double* v = s.V + t * L;
    const double* kk = s.K + t * L;
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      const V old = LoadVec<V>(v + k * kW);
      V nv = (sum[k] * 0.25 - d0[k]) * LoadVec<V>(kk + k * kW) + old;
      if constexpr (kLanes == Lanes::kFilled) nv = Filled(t, k) ? nv : old;
      StoreVec(v + k * kW, nv);
    }
  }

  // The acceleration of slot t, given the displacements of slots t - 1 and t in dm and d0, which
  // come back holding slots t and t + 1.
  template <class Columns, Lanes kLanes = Lanes::kAll>
  [[gnu::always_inline]] void AccelerateNext(Slot t, V* dm, V* d0, V* dp) {
    LoadSlot(s.D, t + 1, dp);
    Accelerate<Columns, kLanes>(t, dm, d0, dp);
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      dm[k] = d0[k];
      d0[k] = dp[k];
    }
  }

  // The acceleration of slots t, t + 1, ..., slot t + P compiled as Columns<P>.
  template <template <int> class Columns, std::size_t... P>
  [[gnu::always_inline]] void AccelerateRun(Slot t, V* dm, V* d0, V* dp,
                                            std::index_sequence<P...>) {
    (AccelerateNext<Columns<static_cast<int>(P)>>(t + static_cast<Slot>(P), dm, d0, dp), ...);
  }

  // The smoothing of slot t and the displacement of its cells, given the velocities of slot t - 1
  // as smoothed (prev, which comes back holding slot t) and of slots t and t + 1 as accelerated.
  template <class Columns, Lanes kLanes>
  [[gnu::always_inline]] void Smooth(Slot t, V* prev, const V* v0, const V* vp) {
    V sum[N];
    Sums<Columns>(s.V, t, prev, vp, UpFar(s.V, t), DownFar(s.V, t), sum);
    double* v = s.V + t * L;
    double* d = s.D + t * L;
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      V nv = sum[k] * spread + keep * v0[k];
      const V disp = LoadVec<V>(d + k * kW);
      V nd = nv + disp;
      if constexpr (kLanes == Lanes::kFilled) {
        const M filled = Filled(t, k);
        nv = filled ? nv : v0[k];
        nd = filled ? nd : disp;
      }
      StoreVec(v + k * kW, nv);
      StoreVec(d + k * kW, nd);
      prev[k] = nv;
    }
  }

  // ---- The border: one slot at a time, only the lanes holding a cell written.

  [[gnu::always_inline]] void AccelerateAt(Slot t) {
    V dm[N], d0[N], dp[N];
    LoadSlot(s.D, t - 1, dm);
    LoadSlot(s.D, t, d0);
    AccelerateNext<AnyColumns, Lanes::kFilled>(t, dm, d0, dp);
  }

  [[gnu::always_inline]] void SmoothAt(Slot t, V* prev) {
    V v0[N], vp[N];
    LoadSlot(s.V, t, v0);
    LoadSlot(s.V, t + 1, vp);
    Smooth<AnyColumns, Lanes::kFilled>(t, prev, v0, vp);
  }

  // Slots [from, to) of the sweep, whatever they hold: the acceleration a row ahead where that
  // slot holds a cell, the smoothing, and row 0 copied out while the sweep is in it.
  [[gnu::always_inline]] void Border(Slot from, Slot to, V* prev) {
    for (Slot t = from; t < to; ++t) {
      if (t + W <= s.last) AccelerateAt(t + W);
      SmoothAt(t, prev);
      if (t < W) CopyFirstRow(t);
    }
  }

  // ---- The interior: every lane a cell.

  // Slot t: the acceleration of slot t + W as A says, then the smoothing of t. Slot t + W has
  // the same place in its row of slots as t, so the same columns. The neighbouring slots are
  // carried from one slot to the next in dm, d0, dp (displacements around t + W) and v0, vp
  // (velocities of t and t + 1).
  template <Ahead A, class Columns>
  [[gnu::always_inline]] void SweepSlot(Slot t, V* prev, V* dm, V* d0, V* dp, V* v0, V* vp) {
    if constexpr (A == Ahead::kEveryLane) {
      AccelerateNext<Columns, Lanes::kAll>(t + W, dm, d0, dp);
    } else if constexpr (A == Ahead::kFilledLanes) {
      AccelerateNext<Columns, Lanes::kFilled>(t + W, dm, d0, dp);
    }
    LoadSlot(s.V, t + 1, vp);
    Smooth<Columns, Lanes::kAll>(t, prev, v0, vp);
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k)
      v0[k] = vp[k];
  }

  // Slots t, t + 1, ..., slot t + P compiled as Columns<P>.
  template <Ahead A, template <int> class Columns, std::size_t... P>
  [[gnu::always_inline]] void SweepRun(Slot t, V* prev, V* dm, V* d0, V* dp, V* v0, V* vp,
                                       std::index_sequence<P...>) {
    (SweepSlot<A, Columns<static_cast<int>(P)>>(t + static_cast<Slot>(P), prev, dm, d0, dp, v0, vp),
     ...);
  }

  // The slots a sweep carries from one to the next, loaded for a sweep that starts at slot t.
  template <Ahead A>
  [[gnu::always_inline]] void BeginSweep(Slot t, V* dm, V* d0, V* v0) const {
    if constexpr (A != Ahead::kNothing) {
      LoadSlot(s.D, t + W - 1, dm);
      LoadSlot(s.D, t + W, d0);
    }
    LoadSlot(s.V, t, v0);
  }

  // Slots L - 1 .. W - 1, the rest of the first row of slots after the border: column 0 in lane
  // L - 1 of the first, the last column in lane 0 of the last, neither in those between. The row
  // of slots below is all filled on a plate of two blocks of rows or more.
  [[gnu::always_inline]] void SweepFirstRow(V* prev) {
    constexpr Ahead A = Ahead::kEveryLane;
    V dm[N], d0[N], dp[N], v0[N], vp[N];
    BeginSweep<A>(L - 1, dm, d0, v0);
    SweepSlot<A, RowStart<L - 1>>(L - 1, prev, dm, d0, dp, v0, vp);
    for (Slot g = L; g < W - N; g += N)
      SweepRun<A, NoColumnsAt>(g, prev, dm, d0, dp, v0, vp, std::make_index_sequence<N>());
    SweepRun<A, RowEndAt>(W - N, prev, dm, d0, dp, v0, vp, std::make_index_sequence<N>());
  }

  // Whole rows of slots [from, to), every lane holding a cell, N slots at a time. A row's first
  // L slots hold column 0 (and all but the L-th of them the last column too), its last slot the
  // last column, and those between neither: each slot at either end is compiled for its place,
  // and most slots of a wide plate skip the blends.
  template <Ahead A>
  [[gnu::always_inline]] void SweepRows(Slot from, Slot to, V* prev) {
    V dm[N], d0[N], dp[N], v0[N], vp[N];
    BeginSweep<A>(from, dm, d0, v0);
    for (Slot t = from; t < to; t += W) {
      SweepRun<A, RowStart>(t, prev, dm, d0, dp, v0, vp, std::make_index_sequence<L>());
      for (Slot g = t + L; g < t + W - N; g += N)
        SweepRun<A, NoColumnsAt>(g, prev, dm, d0, dp, v0, vp, std::make_index_sequence<N>());
      SweepRun<A, RowEndAt>(t + W - N, prev, dm, d0, dp, v0, vp, std::make_index_sequence<N>());
    }
  }

  // Slots L - 1 .. W - 1 on a plate of one block of rows, whose first row of slots is also its
  // last: nothing is left to accelerate a row ahead, and row 0 is copied out after each group of
  // N slots, soon enough, as the last row reads cell x of row 0 only at slot x + L - 1.
  [[gnu::always_inline]] void SweepOnlyRow(V* prev) {
    constexpr Ahead A = Ahead::kNothing;
    V dm[N], d0[N], dp[N], v0[N], vp[N];
    BeginSweep<A>(L - 1, dm, d0, v0);
    SweepSlot<A, RowStart<L - 1>>(L - 1, prev, dm, d0, dp, v0, vp);
    CopyFirstRow(L - 1);
    for (Slot g = L; g < W; g += N) {
      if (g < W - N) {
        SweepRun<A, NoColumnsAt>(g, prev, dm, d0, dp, v0, vp, std::make_index_sequence<N>());
      } else {
        SweepRun<A, RowEndAt>(g, prev, dm, d0, dp, v0, vp, std::make_index_sequence<N>());
      }
      for (Slot x = g; x < g + N; ++x)
        CopyFirstRow(x);
    }
  }

  // The last row of slots, BW - W .. BW - 1. A row ahead of its first L - 1 slots are the
  // partly filled slots at the end: those slots accelerate them, only the lanes holding a cell,
  // where the work hides in the smoothing's chain of dependent operations (done anywhere else, it
  // took a tenth longer on the small plates with AVX-512). The rest accelerates nothing.
  [[gnu::always_inline]] void SweepLastRow(V* prev) {
    const Slot t = BW - W;
    V dm[N], d0[N], dp[N], v0[N], vp[N];
    BeginSweep<Ahead::kFilledLanes>(t, dm, d0, v0);
    SweepRun<Ahead::kFilledLanes, RowStart>(t, prev, dm, d0, dp, v0, vp,
                                            std::make_index_sequence<L - 1>());
    SweepSlot<Ahead::kNothing, RowStart<L - 1>>(t + L - 1, prev, dm, d0, dp, v0, vp);
    for (Slot g = t + L; g < t + W - N; g += N) {
      SweepRun<Ahead::kNothing, NoColumnsAt>(g, prev, dm, d0, dp, v0, vp,
                                             std::make_index_sequence<N>());
    }
    SweepRun<Ahead::kNothing, RowEndAt>(t + W - N, prev, dm, d0, dp, v0, vp,
                                        std::make_index_sequence<N>());
  }

  // ---- Around the sweep: halos, the first row's acceleration, rattle and damping point.

  // SkewedPlate's cell offsets with the lane counts known at compile time.
  [[gnu::always_inline]] ptrdiff_t Offset(int32_t x, int32_t y) const {
    const int32_t i = y % L;
    const Slot slot = y / L * W + x + i;
    return slot * L + i % N * kW + i / N;
  }
  [[gnu::always_inline]] ptrdiff_t LastRowHalo(int32_t x) const {
    return Offset(x, s.H - 1) - static_cast<ptrdiff_t>(BW) * L;
  }
  [[gnu::always_inline]] ptrdiff_t FirstRowHalo(int32_t x) const {
    return Offset(x, 0) + static_cast<ptrdiff_t>(BW) * L;
  }

  // Cell (x, 0), as smoothed, into its halo for the last row's smoothing.
  [[gnu::always_inline]] void CopyFirstRow(Slot x) {
    s.V[FirstRowHalo(static_cast<int32_t>(x))] = s.V[Offset(static_cast<int32_t>(x), 0)];
  }

  // The displacements of the last row and of row 0 into their halos, before a step.
  [[gnu::always_inline]] void CopyDisplacementHalos() {
    for (int32_t x = 0; x < W; ++x) {
      s.D[LastRowHalo(x)] = s.D[Offset(x, s.H - 1)];
      s.D[FirstRowHalo(x)] = s.D[Offset(x, 0)];
    }
  }

  // The velocities of the last row as the acceleration pass leaves them, into its halo: row 0 is
  // smoothed long before the sweep's acceleration reaches the last row. The acceleration of a
  // cell reads only displacements not yet updated, and reads them the same way here.
  [[gnu::always_inline]] void AccelerateLastRowHalo() {
    const int32_t y = s.H - 1;
    const double* D = s.D;
    for (int32_t x = 0; x < W; ++x) {
      const double left = D[Offset((x - 1) & (W - 1), y)];
      const double right = D[Offset((x + 1) & (W - 1), y)];
      const double up = D[Offset(x, y - 1)];
      const double down = D[FirstRowHalo(x)];
      const ptrdiff_t c = Offset(x, y);
      const double sum = left + right + up + down;
      s.V[LastRowHalo(x)] = (sum * 0.25 - D[c]) * s.K[c] + s.V[c];
    }
  }

  // The acceleration of the first row of slots, before a step's sweep: the L - 1 partly filled
  // slots one at a time, then slot L - 1 (column 0 in its last lane) and the rest, N at a time.
  [[gnu::always_inline]] void AccelerateFirstRow() {
    Slot t = 0;
    for (; t < L - 1; ++t)
      AccelerateAt(t);
    V dm[N], d0[N], dp[N];
    LoadSlot(s.D, t - 1, dm);
    LoadSlot(s.D, t, d0);
    AccelerateNext<RowStart<L - 1>>(t++, dm, d0, dp);
    for (; t < W - N; t += N)
      AccelerateRun<NoColumnsAt>(t, dm, d0, dp, std::make_index_sequence<N>());
    AccelerateRun<RowEndAt>(t, dm, d0, dp, std::make_index_sequence<N>());
  }

  [[gnu::always_inline]] void RattleAndDamp(double th) {
    for (int32_t x = 0; x < W; x += W / 4) {
      const double d = s.D[Offset(x, 0)];
      double& v = s.V[Offset(x, 0)];
      if (d > th) {
        if (v > 0.0) v = v * kRattleBounce;
      } else if (d < -th) {
        if (v < 0.0) v = v * kRattleBounce;
      }
    }
    double& damp = s.D[Offset(1, 1)];
    damp = damp * kDampKeep;
  }

  // ---- One step.

  [[gnu::always_inline]] void Step(double th) {
    const Slot last = s.last;
    CopyDisplacementHalos();
    AccelerateLastRowHalo();
    AccelerateFirstRow();

    V prev[N];
    LoadSlot(s.V, -1, prev);
    if (BW == W) {
      // One block of rows: the slots a row ahead of the first L - 1 are the partly filled ones at
      // the end, and the last row reads row 0 while the sweep is still in it.
      Border(0, L - 1, prev);
      SweepOnlyRow(prev);
      Border(W, last + 1, prev);
    } else {
      Border(0, L - 1, prev);
      SweepFirstRow(prev);
      SweepRows<Ahead::kEveryLane>(W, BW - W, prev);
      // Row 0 is smoothed; the last row, from slot BW - W + L - 1 on, reads it from its halo.
      for (Slot x = L - 1; x < W; ++x)
        CopyFirstRow(x);
      SweepLastRow(prev);
      Border(BW, last + 1, prev);
    }
    RattleAndDamp(th);
  }

  [[gnu::always_inline]] void Run(int32_t steps, double th, double* out, int32_t count) {
    const ptrdiff_t pickup = Offset(1, s.H / 2);
    for (int32_t n = 0; n < count; ++n) {
      for (int32_t i = 0; i < steps; ++i)
        Step(th);
      out[n] = s.D[pickup];
    }
  }
};

}  // namespace quom::plate
