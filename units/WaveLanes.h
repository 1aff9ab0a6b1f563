// The oscillator in lanes: W * G oscillators side by side, one in each lane of G vectors of W
// doubles, each with its own table, phase and vibrato, a chunk of calls at a time. Every lane
// gives the bits of OscCall called one call after the other.
//
// The oscillator call is two chains that meet only in the table: the phase, which says where a
// call reads, and the smoothing sweep, which walks the table pair after pair whatever the calls
// it is cut into. Laid out along the sweep instead of around the table, the table becomes a tape:
// row 0 is the entry at the sweep position when the chunk starts, row i the entry i further on,
// and the pair the sweep smooths at its j-th step (the entry at row j and the one below it) writes
// the lower entry's final value for this lap to row j + 127, where the entry comes round again.
// Each row is written once, so a call whose read position lies K entries past the chunk's start
// finds its two entries at rows K and K + 1, whenever it reads them: the entry at row K was last
// written a lap earlier (or not at all in this chunk) as long as a call moves the read position
// less than 126 entries, which every taped lane does (at most three). So a chunk runs, all lanes
// side by side,
//   1. the phases of every call: where each call reads;
//   2. the sweep of every lane up to its last read position;
//   3. the reads.
// Each pass is a chain of dependent operations per lane; G vectors of lanes give the processor G
// chains to overlap. An oscillator whose calls move faster (an arc or bass layer above 689 Hz, a
// cubic one, read at half its frequency, above 1,378 Hz), or one that has a single lane to
// itself, makes its calls one by one through OscCall, on a table of its own.
//
// Each lane keeps its oscillator in a Lane between chunks; a pass loads the fields it runs on as
// vectors of W lanes and stores them back after its rows. Run() is always inlined, so that it is
// compiled for the instruction set of the function that calls it; everything else is plain code.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "base/LaneVectors.h"
#include "base/Simd.h"
#include "units/Vibrato.h"
#include "units/modString.h"

namespace quom {

template <int W, int G>
struct WaveLanes {
  static constexpr int kLanes = W * G;
  static constexpr int32_t kMaxCalls = 256;  // calls per lane and chunk
  // Taped oscillators move the read position at most three entries a call: an increment of at
  // most two entries, bent by the vibrato by 0.2 % at most, and the entry the read starts in.
  static constexpr double kMaxIncrement = 2.0 / kWaveSize;
  static constexpr int32_t kMaxMove = 3;
  static constexpr int32_t kTapeRows = (kWaveSize - 1) + kMaxMove * kMaxCalls + 2;
  static constexpr int32_t kMask = kWaveSize - 1;
  static constexpr int kLaneBits = std::countr_zero(static_cast<unsigned>(kLanes));
  static_assert(1 << kLaneBits == kLanes, "a power of two of lanes");

  using D = typename LaneVec<W>::D;
  using F = typename LaneVec<W>::F;
  using I = typename LaneVec<W>::I;

  // One lane's oscillator, between chunks.
  struct Lane {
    double vib = 0.0;   // the vibrato phase of the lane's next call
    double inc = 0.0;   // WaveInc
    double coef = 0.0;  // WaveDiffCoef
    VibratoRotations rotations;
    float phase = 0.0f;      // WavePhase
    int32_t sweep = 0;       // WaveDiffPos; on the tape, the entry at row 0
    float below = 0.0f;      // the entry below the sweep position, as the sweep left it
    bool direct = false;     // called through OscCall, on its own table
    int32_t calls = 0;       // this chunk's
    int32_t taped = 0;       // this chunk's calls on the tape: 0 for a direct lane
    float table[kWaveSize];  // a direct lane's table
  };
  Lane lane[kLanes];

  // The chunk, row by row: a row holds one call (or tape entry) of every lane.
  alignas(64) double step[kLanes][kMaxCalls];  // lane by lane, as VibratoSteps writes them
  alignas(64) double bent[kMaxCalls][kLanes];  // the same, row by row
  // Where each call reads: the tape's element (row * kLanes + lane) of the read position's row.
  alignas(64) int32_t at[kMaxCalls][kLanes];
  alignas(64) double frac[kMaxCalls][kLanes];
  alignas(64) float osc[kMaxCalls][kLanes];  // the outputs
  alignas(64) float tape[kTapeRows][kLanes];

  // Whether an oscillator's calls fit on the tape: a small increment and a phase in [0, 1) whose
  // first read lies at most kMaxMove entries past the sweep.
  static bool Taped(const modString& w) {
    if (!(w.WaveInc >= 0.0f && w.WaveInc <= kMaxIncrement)) return false;
    if (!(w.WavePhase >= 0.0f && w.WavePhase < 1.0f) || std::signbit(w.WavePhase)) return false;
    const int32_t k = static_cast<int32_t>(w.WavePhase * 128.0) & kMask;
    return ((k - w.WaveDiffPos) & kMask) <= kMaxMove;
  }

  // Takes the oscillator into lane l.
  void Start(int l, const modString& w) {
    Lane& c = lane[l];
    c.vib = w.VibPhase;
    c.inc = w.WaveInc;
    c.coef = w.WaveDiffCoef;
    c.phase = w.WavePhase;
    c.sweep = w.WaveDiffPos & kMask;
    c.calls = c.taped = 0;
    // A lane alone has no other chains to overlap with its own, and one call after the other
    // does better than the tape's three passes in turn.
    c.direct = kLanes == 1 || !Taped(w);
    if (c.direct) {
      std::memcpy(c.table, w.WaveTable, sizeof c.table);
      c.below = SweepBelow(c.table, c.sweep);
      return;
    }
    c.below = SweepBelow(w.WaveTable, c.sweep);
    for (int32_t i = 0; i < kWaveSize - 1; ++i)
      tape[i][l] = w.WaveTable[(c.sweep + i) & kMask];
  }

  // Lane l waits without an oscillator.
  void Idle(int l) {
    lane[l].direct = false;
    lane[l].calls = lane[l].taped = 0;
  }

  // Lane l makes n calls (at most kMaxCalls) in the next chunk; 0 leaves it idle.
  void Plan(int l, int32_t n, SimdPath path) {
    Lane& c = lane[l];
    c.calls = n;
    c.taped = c.direct ? 0 : n;
    c.vib = VibratoSteps(c.vib, c.inc, step[l], n, c.rotations, path);
  }

  // Every lane's calls of the chunk, into osc[0 .. calls - 1][lane].
  [[gnu::always_inline]] void Run() {
    int32_t rows = 0;
    for (int l = 0; l < kLanes; ++l)
      rows = std::max(rows, lane[l].taped);
    if (rows > 0) {
      StepsByRow(rows);
      Phases(rows);
      Sweep();
      Reads(rows);
    }
    for (int l = 0; l < kLanes; ++l) {
      if (lane[l].direct) Direct(l);
    }
  }

  // After a chunk: the tape moves on to where each lane's sweep stands.
  void MoveOn(int l) {
    if (lane[l].taped == 0) return;
    const int32_t moved = LastRow(l);
    for (int32_t i = 0; i < kWaveSize - 1; ++i)
      tape[i][l] = tape[moved + i][l];
  }

 private:
  // Lane l's calls one by one, its running values in locals so that they stay in registers.
  [[gnu::always_inline]] void Direct(int l) {
    Lane& c = lane[l];
    float ph = c.phase;
    int32_t sweep = c.sweep;
    float lower = c.below;
    const double k = c.coef;
    const int32_t n = c.calls;
    for (int32_t i = 0; i < n; ++i)
      osc[i][l] = OscCall(c.table, ph, sweep, lower, k, step[l][i]);
    c.phase = ph;
    c.sweep = sweep;
    c.below = lower;
  }

  // The row of lane l's last read in the chunk: where its sweep ends.
  int32_t LastRow(int l) const {
    const int32_t n = lane[l].taped;
    return n > 0 ? at[n - 1][l] >> kLaneBits : 0;
  }

  // The lanes' bent increments, written lane by lane, into rows of calls.
  [[gnu::always_inline]] void StepsByRow(int32_t rows) {
    if constexpr (kLanes == 1) {
      std::memcpy(&bent[0][0], &step[0][0], rows * sizeof(double));  // one lane: the same layout
    } else {
      for (int g = 0; g < G; ++g) {
        for (int32_t c0 = 0; c0 < rows; c0 += W) {
          D r[W];
#pragma GCC unroll 8
          for (int i = 0; i < W; ++i)
            r[i] = LoadVec<D>(&step[W * g + i][c0]);
          Transpose<W>(r);
#pragma GCC unroll 8
          for (int j = 0; j < W; ++j)
            StoreVec(bent[c0 + j] + W * g, r[j]);
        }
      }
    }
  }

  // Pass 1: where every call reads, as OscCall advances the phase. The phase never leaves [0, 2)
  // here, so its whole part is a truncation. Two vectors at a time: their chains keep the
  // processor busy, and their running values fit in its registers.
  [[gnu::always_inline]] void Phases(int32_t rows) {
    constexpr int kBlock = G < 2 ? G : 2;
    static_assert(G % kBlock == 0);
    for (int g0 = 0; g0 < G; g0 += kBlock)
      PhaseBlock<kBlock>(g0, rows);
  }

  // The running values of the phase pass for B vectors of lanes.
  template <int B>
  struct PhaseState {
    D ph[B];  // the phases, floats held as doubles
    I lastK[B], element[B], n[B];
  };

  // Vectors g0 .. g0 + B - 1. Rows that every lane of them makes run without masks.
  template <int B>
  [[gnu::always_inline]] void PhaseBlock(int g0, int32_t rows) {
    PhaseState<B> st;
    int32_t every = rows;
    for (int g = 0; g < B; ++g) {
      const Lane* c = lane + W * (g0 + g);
      st.ph[g] = Widen<D>(FromLanes<F>(c, [](const Lane& c) { return c.phase; }));
      st.lastK[g] = FromLanes<I>(c, [](const Lane& c) { return c.sweep; });
      st.element[g] = Iota<I>(W * (g0 + g));  // row 0
      st.n[g] = FromLanes<I>(c, [](const Lane& c) { return c.taped; });
      for (int k = 0; k < W; ++k)
        every = std::min(every, c[k].taped);
    }
    PhaseRows<false>(0, every, g0, st);
    PhaseRows<true>(every, rows, g0, st);
    for (int g = 0; g < B; ++g) {
      const F ph = Narrow<F>(st.ph[g]);
      for (int k = 0; k < W; ++k) {
        Lane& c = lane[W * (g0 + g) + k];
        c.phase = LaneOf(ph, k);
        c.sweep = LaneOf(st.lastK[g], k);
      }
    }
  }

  template <bool kMasked, int B>
  [[gnu::always_inline]] void PhaseRows(int32_t from, int32_t to, int g0, PhaseState<B>& st) {
    for (int32_t c = from; c < to; ++c) {
#pragma GCC unroll 4
      for (int g = 0; g < B; ++g) {
        const int l0 = W * (g0 + g);
        const D p = st.ph[g] * 128.0;
        const I k = Narrow<I>(p) & kMask;  // p >= 0: truncation is floor
        const D f = p - Widen<D>(k);
        const I moved = st.element[g] + (((k - st.lastK[g]) & kMask) << kLaneBits);
        F next = Narrow<F>(st.ph[g] + LoadVec<D>(bent[c] + l0));
        // The phase is rarely 1 or more: about once a cycle.
        const I wraps = next >= 1.0f;
        if (Any(wraps)) next = wraps ? next - Narrow<F>(Narrow<I>(next)) : next;
        if constexpr (kMasked) {
          const I live = st.n[g] > c;
          st.element[g] = live ? moved : st.element[g];
          st.lastK[g] = live ? k : st.lastK[g];
          next = live ? next : Narrow<F>(st.ph[g]);
        } else {
          st.element[g] = moved;
          st.lastK[g] = k;
        }
        st.ph[g] = Widen<D>(next);
        StoreVec(at[c] + l0, st.element[g]);
        StoreVec(frac[c] + l0, f);
      }
    }
  }

  // Pass 2: each lane's sweep up to its last read position.
  [[gnu::always_inline]] void Sweep() {
    alignas(64) double ends[kLanes];
    int32_t longest = 0;
    for (int l = 0; l < kLanes; ++l) {
      const int32_t end = LastRow(l);
      ends[l] = end;
      longest = std::max(longest, end);
    }
    D lower[G], k[G], end[G];
    for (int g = 0; g < G; ++g) {
      const Lane* c = lane + W * g;
      lower[g] = Widen<D>(FromLanes<F>(c, [](const Lane& c) { return c.below; }));
      k[g] = FromLanes<D>(c, [](const Lane& c) { return c.coef; });
      end[g] = LoadVec<D>(ends + W * g);
    }
    for (int32_t j = 0; j < longest; ++j) {
#pragma GCC unroll 4
      for (int g = 0; g < G; ++g) {
        // Past a lane's end the rows written are never read: only its lower entry must stay.
        const D here = Widen<D>(LoadVec<F>(tape[j] + W * g));
        const D delta = WaveSmoothing(here, lower[g], k[g]);
        StoreVec(tape[j + kWaveSize - 1] + W * g, Narrow<F>(lower[g] + delta));
        const D next = Widen<D>(Narrow<F>(here - delta));
        lower[g] = end[g] > static_cast<double>(j) ? next : lower[g];
      }
    }
    for (int g = 0; g < G; ++g) {
      const F below = Narrow<F>(lower[g]);  // a float's value: exact
      for (int i = 0; i < W; ++i)
        lane[W * g + i].below = LaneOf(below, i);
    }
  }

  // Pass 3: every call's read, its two entries picked from the tape lane by lane.
  [[gnu::always_inline]] void Reads(int32_t rows) {
    const float* entries = &tape[0][0];
    for (int32_t c = 0; c < rows; ++c) {
#pragma GCC unroll 4
      for (int g = 0; g < G; ++g) {
        const F a = Gather(entries, at[c] + W * g, std::make_index_sequence<W>());
        const F b = Gather(entries + kLanes, at[c] + W * g, std::make_index_sequence<W>());
        const D f = LoadVec<D>(frac[c] + W * g);
        StoreVec(osc[c] + W * g, Narrow<F>(WaveRead(Widen<D>(a), Widen<D>(b), f)));
      }
    }
  }

  // W floats from base[offset[0]], base[offset[1]] and so on.
  template <std::size_t... J>
  [[gnu::always_inline]] static F Gather(const float* base, const int32_t* offset,
                                         std::index_sequence<J...>) {
    return F{base[offset[J]]...};
  }
};

}  // namespace quom
