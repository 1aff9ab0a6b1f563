// The plate stepped many samples at a time by vector kernels, to the bit the same as PlateStep.
//
// The acceleration and displacement passes could visit the cells in any order; the smoothing
// pass cannot: it works in place, so a cell must see its left and upper neighbours already
// smoothed and its right and lower ones not yet (the wrap-around neighbours the other way
// round). Cells with the same x + y (one anti-diagonal) never read each other, so they can be
// updated together.
//
// The kernels hold the grid skewed for L lanes. Row y = b * L + i (block b, lane i) runs along
// lane i, one row after the other, and cell (x, y) sits in slot t = b * W + x + i. Every cell of
// a slot has its left and upper neighbour in slot t - 1 (lane 0 takes the upper one from lane
// L - 1 of slot t - W + L - 1), its right and lower neighbour in slot t + 1 (lane L - 1 takes the
// lower one from lane 0 of slot t + W - L + 1). Visiting the slots in ascending order gives every
// cell the neighbours the row-by-row order gives it:
//   - column 0 reads its left neighbour (x = W - 1, slot t + W - 1) before it is smoothed and the
//     last column its right one (x = 0, slot t - W + 1) after, both picked per lane;
//   - row 0 reads the last row as it was before the pass, and the last row reads row 0 as it is
//     after: both come from halo copies, below slot 0 (lane L - 1, the last row) and past the last
//     cell of lane 0 (row 0).
// A slot of N vectors holds lane i in vector i % N, so that the upper neighbour of vectors 1 to
// N - 1 is the previous vector of the slot before, unshifted; only vector 0 needs a lane shift.
//
// One sweep per step: the acceleration runs W slots ahead of the smoothing (far enough that the
// smoothing finds every neighbour accelerated, near enough that no displacement it reads has been
// updated), and each cell's displacement is updated as soon as its velocity is smoothed. Every lane
// does the same IEEE operations in the same order as PlateStep, with no fused multiply-add, so
// every vector width gives the same bits.
#include <cstdint>
#include <utility>
#include <vector>

#include "base/Dispatch.h"
#include "base/LaneVectors.h"
#include "units/plate/modPlate.h"

namespace quom {
namespace {

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

// The sweep of N vectors of kW lanes per slot.
template <int kW, int N>
struct Kernel {
  static constexpr int L = N * kW;  // lanes per slot
  // Slot numbers, as wide as pointers, so that the addresses built from them need no widening.
  using Slot = ptrdiff_t;
  using V = typename LaneVec<kW>::D;
  using M = decltype(V{} < V{});

  // Where a group of slots starts in its row of slots, when not known at compile time or when it is
  // the row's last group (a group at the start of a row gives its place, 0 or more).
  static constexpr int kRunTime = -1;
  static constexpr int kTail = -2;

  SkewedPlate& s;
  const Slot W;  // a row of slots
  const Slot BW;
  const double keep;
  const double spread;
  M lane[N];      // the lane each element holds
  M oneLane[kW];  // element e alone set

  [[gnu::always_inline]] Kernel(SkewedPlate& plate, double keepShare, double spreadShare)
      : s(plate), W(plate.W), BW(plate.BW), keep(keepShare), spread(spreadShare) {
    for (int k = 0; k < N; ++k) {
      for (int j = 0; j < kW; ++j)
        lane[k][j] = j * N + k;
    }
    for (int e = 0; e < kW; ++e) {
      for (int j = 0; j < kW; ++j)
        oneLane[e][j] = j == e ? -1 : 0;
    }
  }

  // The four-neighbour sums of slot t of array a (left, right, previous row, next row, rounded
  // in this order), given slots t - 1 and t + 1; the lanes of column 0 and the last column take
  // their left or right neighbour from slot t + W - 1 or t - W + 1 instead, and vector 0's upper
  // and vector N - 1's lower neighbour shift in one lane from upFar and downFar. kPhase is t % N
  // when the caller knows it, else -1; kColumns false when the slot holds neither column. kR, when
  // not kRunTime, places the slot's group in its row of W slots: (t - kPhase) & (W - 1) for one of
  // the groups at the row's start, kTail for its last group. The lanes holding the columns are
  // then known at compile time, and each blend is one constant shuffle.
  template <int kPhase, bool kColumns = true, int kR = kRunTime>
  [[gnu::always_inline]] void Sums(const double* a, Slot t, const V* prev, const V* next, V upFar,
                                   V downFar, V* sum) const {
    const double* slot = a + t * L;
    const Slot r = t & (W - 1);
    const Slot r1 = (r + 1) & (W - 1);
    V left[N], right[N];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      left[k] = prev[k];
      right[k] = next[k];
    }
    // Lane r holds column 0, lane r1 the last column (when they are lanes at all).
    if constexpr (!kColumns) {
    } else if constexpr (kR >= 0) {
      // Lane r holds column 0 and lane r + 1 the last column, where they are below L.
      constexpr int r = kR + kPhase;
      if constexpr (r < L) {
        left[r % N] = Insert<r / N>(left[r % N], LoadVec<V>(slot + (W - 1) * L + r % N * kW));
      }
      if constexpr (r + 1 < L) {
        constexpr int r1 = r + 1;
        right[r1 % N] = Insert<r1 / N>(right[r1 % N], LoadVec<V>(slot - (W - 1) * L + r1 % N * kW));
      }
    } else if constexpr (kR == kTail) {
      // Only the group's last slot holds a column: the last one, in lane 0.
      if constexpr (kPhase == N - 1) right[0] = Insert<0>(right[0], LoadVec<V>(slot - (W - 1) * L));
    } else if constexpr (N == 1) {
      if (r < L || r == W - 1) {
        left[0] = lane[0] == r ? LoadVec<V>(slot + (W - 1) * L) : left[0];
        right[0] = lane[0] == r1 ? LoadVec<V>(slot - (W - 1) * L) : right[0];
      }
    } else if constexpr (kPhase >= 0) {
      // Each sits in one vector of the slot (t % N and t % N + 1, as W is a multiple of N), at a
      // known element: one blend for each.
      constexpr int kLeft = kPhase;
      constexpr int kRight = (kPhase + 1) % N;
      if (r < L) {
        left[kLeft] = oneLane[r / N] ? LoadVec<V>(slot + (W - 1) * L + kLeft * kW) : left[kLeft];
      }
      if (r1 < L) {
        right[kRight] =
            oneLane[r1 / N] ? LoadVec<V>(slot - (W - 1) * L + kRight * kW) : right[kRight];
      }
    } else {
      if (r < L) {
#pragma GCC unroll 4
        for (int k = 0; k < N; ++k) {
          if (k == r % N)
            left[k] = oneLane[r / N] ? LoadVec<V>(slot + (W - 1) * L + k * kW) : left[k];
        }
      }
      if (r1 < L) {
#pragma GCC unroll 4
        for (int k = 0; k < N; ++k) {
          if (k == r1 % N)
            right[k] = oneLane[r1 / N] ? LoadVec<V>(slot - (W - 1) * L + k * kW) : right[k];
        }
      }
    }
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

  // Acceleration of slot t, given the displacements of slots t - 1, t and t + 1.
  template <bool kMasked, int kPhase = -1, bool kColumns = true, int kR = kRunTime>
  [[gnu::always_inline]] void Accelerate(Slot t, const V* dm, const V* d0, const V* dp) {
    V sum[N];
    Sums<kPhase, kColumns, kR>(s.D, t, dm, dp, UpFar(s.D, t), DownFar(s.D, t), sum);
    double* v = s.V + t * L;
    const double* kk = s.K + t * L;
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      const V old = LoadVec<V>(v + k * kW);
      V nv = (sum[k] * 0.25 - d0[k]) * LoadVec<V>(kk + k * kW) + old;
      if (kMasked) nv = LoadVec<M>(s.Filled(t) + k * kW) ? nv : old;
      StoreVec(v + k * kW, nv);
    }
  }

  // Acceleration of slot t, given the displacements of slots t - 1 and t in dm and d0, which
  // come back holding slots t and t + 1.
  template <bool kMasked, int kPhase, bool kColumns, int kR = kRunTime>
  [[gnu::always_inline]] void AccelerateNext(Slot t, V* dm, V* d0, V* dp) {
    LoadSlot(s.D, t + 1, dp);
    Accelerate<kMasked, kPhase, kColumns, kR>(t, dm, d0, dp);
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      dm[k] = d0[k];
      d0[k] = dp[k];
    }
  }

  // Acceleration of slot t alone, its lanes masked.
  [[gnu::always_inline]] void AccelerateAt(Slot t) {
    V dm[N], d0[N], dp[N];
    LoadSlot(s.D, t - 1, dm);
    LoadSlot(s.D, t, d0);
    AccelerateNext<true, -1, true>(t, dm, d0, dp);
  }

  template <bool kColumns, int kR, std::size_t... P>
  [[gnu::always_inline]] void AccelerateGroup(Slot t, V* dm, V* d0, V* dp,
                                              std::index_sequence<P...>) {
    (AccelerateNext<false, static_cast<int>(P), kColumns, kR>(t + static_cast<Slot>(P), dm, d0, dp),
     ...);
  }

  // The acceleration of the first row of slots, before a step's sweep: the L - 1 slots with
  // empty lanes one at a time, then every lane, N slots at a time past the lanes of column 0.
  [[gnu::always_inline]] void AccelerateFirstRow() {
    Slot t = 0;
    for (; t < L - 1; ++t)
      AccelerateAt(t);
    V dm[N], d0[N], dp[N];
    LoadSlot(s.D, t - 1, dm);
    LoadSlot(s.D, t, d0);
    AccelerateNext<false, -1, true>(t++, dm, d0, dp);  // slot L - 1, column 0 in lane L - 1
    for (; t < W - N; t += N)
      AccelerateGroup<false, kRunTime>(t, dm, d0, dp, std::make_index_sequence<N>());
    AccelerateGroup<true, kTail>(t, dm, d0, dp, std::make_index_sequence<N>());
  }

  // Smoothing of slot t and the displacement of its cells, given the velocities of slot t - 1
  // as smoothed (prev, which comes back holding slot t) and of slots t and t + 1 as accelerated.
  template <bool kMasked, int kPhase = -1, bool kColumns = true, int kR = kRunTime>
  [[gnu::always_inline]] void Smooth(Slot t, V* prev, const V* v0, const V* vp) {
    V sum[N];
    Sums<kPhase, kColumns, kR>(s.V, t, prev, vp, UpFar(s.V, t), DownFar(s.V, t), sum);
    double* v = s.V + t * L;
    double* d = s.D + t * L;
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      V nv = sum[k] * spread + keep * v0[k];
      const V disp = LoadVec<V>(d + k * kW);
      V nd = nv + disp;
      if (kMasked) {
        const M filled = LoadVec<M>(s.Filled(t) + k * kW);
        nv = filled ? nv : v0[k];
        nd = filled ? nd : disp;
      }
      StoreVec(v + k * kW, nv);
      StoreVec(d + k * kW, nd);
      prev[k] = nv;
    }
  }

  [[gnu::always_inline]] void SmoothAt(Slot t, V* prev) {
    V v0[N], vp[N];
    LoadSlot(s.V, t, v0);
    LoadSlot(s.V, t + 1, vp);
    Smooth<true>(t, prev, v0, vp);
  }

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

  // Row 0, as smoothed, into its halo for the last row's smoothing.
  [[gnu::always_inline]] void CopyFirstRow(Slot t) {
    s.V[FirstRowHalo(t)] = s.V[Offset(t, 0)];
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

  // Slot t of a sweep: smoothing of t after the acceleration of t + W (kAhead: 0 none, 1 all
  // lanes, 2 some), with row 0 copied out while t < W (kCopy: 1 known to be, 0 known not to be,
  // -1 not known). The neighbouring slots are carried from one slot to the next in dm, d0, dp
  // (displacements around t + W) and v0, vp (velocities of t and t + 1).
  template <int kAhead, int kCopy, int kPhase, bool kColumns, int kR = kRunTime>
  [[gnu::always_inline]] void SweepSlot(Slot t, V* prev, V* dm, V* d0, V* dp, V* v0, V* vp) {
    if (kAhead) AccelerateNext<kAhead == 2, kPhase, kColumns, kR>(t + W, dm, d0, dp);
    LoadSlot(s.V, t + 1, vp);
    Smooth<false, kPhase, kColumns, kR>(t, prev, v0, vp);
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k)
      v0[k] = vp[k];
    if (kCopy == 1 || (kCopy == -1 && t < W)) CopyFirstRow(t);
  }

  template <int kAhead, int kCopy, bool kColumns, int kR = kRunTime, std::size_t... P>
  [[gnu::always_inline]] void SweepGroup(Slot t, V* prev, V* dm, V* d0, V* dp, V* v0, V* vp,
                                         std::index_sequence<P...>) {
    (SweepSlot<kAhead, kCopy, static_cast<int>(P), kColumns, kR>(t + static_cast<Slot>(P), prev, dm,
                                                                 d0, dp, v0, vp),
     ...);
  }

  // The first L / N groups of a row of slots, whose lanes hold column 0.
  template <int kAhead, int kCopy, std::size_t... G>
  [[gnu::always_inline]] void SweepHead(Slot t, V* prev, V* dm, V* d0, V* dp, V* v0, V* vp,
                                        std::index_sequence<G...>) {
    (SweepGroup<kAhead, kCopy, true, static_cast<int>(G) * N>(
         t + static_cast<Slot>(G) * N, prev, dm, d0, dp, v0, vp, std::make_index_sequence<N>()),
     ...);
  }

  // Slots [from, to), every lane holding a cell. Where the acceleration ahead fills every lane or
  // is over (kAhead 1 or 0) and whether row 0 is copied is known (kCopy 0 or 1): all but some
  // W slots of a step, N at a time from a multiple of N on, so that the vectors holding column 0
  // and the last column are known at compile time. A group of slots t .. t + N - 1
  // (r = t & (W - 1) onwards) holds column 0 where r < L and the last column where also
  // r + N == W: most groups of a wide plate hold neither and skip the blends. Whole rows of slots
  // in the middle of a step, where the acceleration ahead fills every lane and row 0 is done, go
  // a row at a time, the groups at either end of the row compiled for their place in it. (With
  // two-lane vectors the extra copies cost more than the blends they save.)
  static constexpr bool kSkipColumns = kW >= 4;
  template <int kAhead, int kCopy>
  [[gnu::always_inline]] void Sweep(Slot from, Slot to, V* prev) {
    V dm[N], d0[N], dp[N], v0[N], vp[N];
    if (kAhead) {
      LoadSlot(s.D, from + W - 1, dm);
      LoadSlot(s.D, from + W, d0);
    }
    LoadSlot(s.V, from, v0);
    Slot t = from;
    if constexpr (kAhead != 2 && kCopy != -1) {
      for (; t < to && t % N != 0; ++t)
        SweepSlot<kAhead, kCopy, -1, true>(t, prev, dm, d0, dp, v0, vp);
      while (t + N <= to) {
        const Slot r = t & (W - 1);
        if constexpr (kSkipColumns && kAhead == 1 && kCopy == 0) {
          // A whole row of slots, as most of a step is, with the column lanes known in each group.
          if (r == 0 && t + W <= to) {
            SweepHead<kAhead, kCopy>(t, prev, dm, d0, dp, v0, vp,
                                     std::make_index_sequence<L / N>());
            for (Slot g = t + L; g < t + W - N; g += N) {
              SweepGroup<kAhead, kCopy, false>(g, prev, dm, d0, dp, v0, vp,
                                               std::make_index_sequence<N>());
            }
            SweepGroup<kAhead, kCopy, true, kTail>(t + W - N, prev, dm, d0, dp, v0, vp,
                                                   std::make_index_sequence<N>());
            t += W;
            continue;
          }
        }
        if (kSkipColumns && r >= L && r != W - N) {
          SweepGroup<kAhead, kCopy, false>(t, prev, dm, d0, dp, v0, vp,
                                           std::make_index_sequence<N>());
        } else {
          SweepGroup<kAhead, kCopy, true>(t, prev, dm, d0, dp, v0, vp,
                                          std::make_index_sequence<N>());
        }
        t += N;
      }
    }
    for (; t < to; ++t)
      SweepSlot<kAhead, kCopy, -1, true>(t, prev, dm, d0, dp, v0, vp);
  }

  [[gnu::always_inline]] void Step(double th) {
    const Slot last = s.last;
    CopyDisplacementHalos();
    AccelerateLastRowHalo();
    AccelerateFirstRow();

    V prev[N];
    LoadSlot(s.V, -1, prev);

    // The first and last L - 1 slots have empty lanes; the segments between differ in whether
    // the acceleration ahead exists and fills every lane, and whether row 0 is still smoothed.
    Slot t = 0;
    for (; t < L - 1; ++t) {
      if (t + W <= last) AccelerateAt(t + W);
      SmoothAt(t, prev);
      CopyFirstRow(t);
    }
    // Segments where row 0 is copied and the acceleration ahead is over exist only on plates of
    // one block of rows; they go one slot at a time, as do the L - 1 slots whose acceleration
    // fills some lanes.
    const Slot bounds[] = {W, BW - W, last + 1 - W, BW};
    while (t < BW) {
      Slot to = BW;
      for (Slot b : bounds) {
        if (b > t && b < to) to = b;
      }
      const bool copy = t < W;
      const int ahead = t + W > last ? 0 : t + W < BW ? 1 : 2;
      if (ahead == 1 && copy) Sweep<1, 1>(t, to, prev);
      if (ahead == 1 && !copy) Sweep<1, 0>(t, to, prev);
      if (ahead == 0 && !copy) Sweep<0, 0>(t, to, prev);
      if (ahead == 0 && copy) Sweep<0, -1>(t, to, prev);
      if (ahead == 2) Sweep<2, -1>(t, to, prev);
      t = to;
    }
    for (; t <= last; ++t) {
      if (t + W <= last) AccelerateAt(t + W);
      SmoothAt(t, prev);
      if (t < W) CopyFirstRow(t);
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

// The plate stepped by the kernel of kW x N lanes, if a slot of them fits: at most one cell of a
// row (L <= W) and whole blocks of rows (L divides H; both are powers of two). Beyond W / 2 the
// partly empty slots at both ends of a sweep and the lanes that wrap around took too large a share
// on the bank's plates.
template <int kW, int N>
[[gnu::always_inline]] inline bool RunIfFits(modPlate& p, float threshold, double* out,
                                             int32_t count) {
  constexpr int32_t L = kW * N;
  if (L > p.PlateWidth / 2 || L > p.PlateHeight) return false;
  SkewedPlate s(p.PlateWidth, p.PlateHeight, kW, N);
  s.Load(p);
  Kernel<kW, N> kernel(s, p.PlateKeep, p.PlateSpread);
  kernel.Run(p.PlateSteps, threshold, out, count);
  s.Save(p);
  return true;
}

// The widest kernel that fits, from vectors of kW lanes down: four or two vectors per slot at the
// register's full width, else one, else one of half the width, and so on. Every plate has one
// (W >= 4, H >= 2).
template <int kFull, int kW>
[[gnu::always_inline]] inline bool RunWidest(modPlate& p, float threshold, double* out,
                                             int32_t count) {
  if constexpr (kW == kFull) {
    // Four vectors to a slot halve the shuffles per cell again, but hold so many registers that
    // they only pay where a slot takes at most a quarter of a row.
    if (4 * kW <= p.PlateWidth / 4 && RunIfFits<kW, 4>(p, threshold, out, count)) return true;
    if (RunIfFits<kW, 2>(p, threshold, out, count)) return true;
  }
  if (RunIfFits<kW, 1>(p, threshold, out, count)) return true;
  if constexpr (kW > 2) {
    return RunWidest<kFull, kW / 2>(p, threshold, out, count);
  } else {
    return false;
  }
}

struct PlateKernel {
  using Signature = void(modPlate&, float, double*, int32_t);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(modPlate& p, float threshold, double* out,
                                                int32_t count) {
    if constexpr (T::kDoubles > 1) {
      if (RunWidest<T::kDoubles, T::kDoubles>(p, threshold, out, count)) return;
    }
    for (int32_t n = 0; n < count; ++n)
      out[n] = PlateStep(p, threshold);
  }
};

}  // namespace

void PlateRun(modPlate& p, float threshold, double* out, int32_t count, SimdPath path) {
  if (count <= 0) return;
  // A plate without cells or steps only reads its pick-up cell: PlateStep does that.
  if (p.PlateDisp.empty() || p.PlateSteps < 1) path = SimdPath::kScalar;
  Dispatch<PlateKernel>(path, p, threshold, out, count);
}

}  // namespace quom
