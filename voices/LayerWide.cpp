// Tonal layers rendered sixteen at a time, one layer in each lane of two AVX-512 vectors.
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
// less than 126 entries, which every layer taken here does (at most three; faster ones, far above
// the keyboard, are rendered alone). So a chunk runs, all lanes side by side,
//   1. the phases of every call: where each call reads;
//   2. the sweep of every layer up to its last read position, and the reads;
//   3. the effects of every sample (decay and high-pass, or the bass's resonance and fades).
// Every lane does the IEEE operations of WaveNext and the effects in their order, so the bits are
// those of RenderLayerFast. A layer's first call may move the read position anywhere; it is made
// alone before the layer joins the lanes. Each pass is a chain of dependent operations per lane;
// two vectors of lanes give the processor two chains to overlap.
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "base/VectorTypes.h"
#include "units/Vibrato.h"
#include "voices/LayerLanes.h"
#include "voices/LayerStages.h"
#include "voices/modSamples.h"

// GCC 12's conversion intrinsics start from an undefined vector they never read.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace quom {

namespace {

constexpr int kGroups = 2;  // vectors of eight lanes, their chains interleaved
constexpr int kLanes = 8 * kGroups;
constexpr int32_t kChunk = 128;  // samples per lane between refills of the vibrato steps
constexpr int32_t kMaxCalls = 2 * kChunk;
constexpr int32_t kMask = kWaveSize - 1;
// Layers whose increment moves the read position at most three entries a call (the vibrato
// bends it by 0.2 % at most); the sweep of a chunk then passes at most 3 * kMaxCalls entries.
constexpr double kMaxIncrement = 2.0 / kWaveSize;
constexpr int32_t kTapeRows = (kWaveSize - 1) + 3 * kMaxCalls + 2;

typedef int32_t V8i __attribute__((vector_size(32)));

// Float and double vectors of eight lanes, converted in one instruction each way (GCC's generic
// conversions split them in halves).
[[gnu::target("avx512f"), gnu::always_inline]] inline D8 ToD(F8 v) {
  return (D8)_mm512_cvtps_pd((__m256)v);
}
[[gnu::target("avx512f"), gnu::always_inline]] inline F8 ToF(D8 v) {
  return (F8)_mm512_cvtpd_ps((__m512d)v);
}

bool Wide(const LayerPlan& p) {
  return p.kind != LayerKind::kDrum && p.len > 0 && p.wave.WaveInc >= 0.0f &&
         p.wave.WaveInc <= kMaxIncrement;
}

// What a lane holds between chunks apart from the arrays below: its layer and the vibrato.
struct LaneJob {
  LayerJob job;
  bool active = false;
  double vib = 0.0;
  double inc = 0.0;
  VibratoRotations rotations;
};

// All the lanes, each array one value per lane.
struct Lanes {
  LaneJob lane[kLanes];

  // The running values, one per lane.
  alignas(64) float phase[kLanes];
  alignas(64) int64_t last[kLanes];  // the previous call's read position, 0 .. 127
  alignas(64) double below[kLanes];  // the entry below the sweep position, a float
  alignas(64) double coef[kLanes];
  alignas(64) double gain[kLanes], factor[kLanes];       // decay
  alignas(64) double lp[kLanes], pole[kLanes];           // high-pass
  alignas(64) float peak[kLanes];                        // FxNormalize's peak so far
  alignas(64) int64_t cubic[kLanes];                     // all bits set for a cubic layer
  alignas(64) int64_t bass[kLanes];                      // all bits set for a bass layer
  alignas(64) double ra[kLanes], rb[kLanes];             // bass resonator
  alignas(64) int32_t fadeIn[kLanes], fadeOut[kLanes];   // bass fades, cut to the layer
  alignas(64) int32_t length[kLanes], rendered[kLanes];  // samples of the layer, and done
  alignas(64) int32_t skip[kLanes];                      // calls of the chunk already made
  alignas(64) int32_t calls[kLanes], samples[kLanes];    // this chunk's

  // The chunk, row by row: a row holds one call (or sample, or tape entry) of every lane.
  alignas(64) double step[kLanes][kMaxCalls];  // lane by lane, as VibratoSteps writes them
  alignas(64) double bent[kMaxCalls][kLanes];  // the same, row by row
  alignas(64) int32_t at[kMaxCalls][kLanes];   // read position, rows from the chunk's start
  alignas(64) double frac[kMaxCalls][kLanes];
  alignas(64) float osc[kMaxCalls][kLanes];
  alignas(64) float tape[kTapeRows][kLanes];
  alignas(64) float out[kChunk][kLanes];

  // Takes the layer into lane l: its first call is made here, on the plan's table.
  void Start(int l, const LayerJob& j) {
    const LayerPlan& p = *j.plan;
    LaneJob& s = lane[l];
    s.job = j;
    s.active = true;
    s.inc = p.wave.WaveInc;
    float table[kWaveSize];
    std::memcpy(table, p.wave.WaveTable, sizeof table);
    float ph = p.wave.WavePhase;
    int32_t pos = p.wave.WaveDiffPos;
    float low = SweepBelow(table, pos);
    double first;
    s.vib = VibratoSteps(p.wave.VibPhase, s.inc, &first, 1, s.rotations, SimdPath::kAvx512);
    osc[0][l] = OscCall(table, ph, pos, low, p.wave.WaveDiffCoef, first);
    skip[l] = 1;
    // The read position now stands where the sweep does.
    for (int32_t i = 0; i < kWaveSize - 1; ++i)
      tape[i][l] = table[(pos + i) & kMask];
    phase[l] = ph;
    last[l] = pos;
    below[l] = low;
    coef[l] = p.wave.WaveDiffCoef;
    gain[l] = 1.0;
    lp[l] = 0.0;
    peak[l] = 0.0f;
    ra[l] = rb[l] = 0.0;
    length[l] = p.len;
    rendered[l] = 0;
    cubic[l] = p.kind == LayerKind::kCubic ? -1 : 0;
    bass[l] = p.kind == LayerKind::kBass ? -1 : 0;
    factor[l] = 1.0;
    pole[l] = 0.0;
    fadeIn[l] = fadeOut[l] = 0;
    if (p.kind == LayerKind::kBass) {
      const stages::Fades fades = stages::BassFades(p);
      fadeIn[l] = fades.in;
      fadeOut[l] = fades.out;
    } else {
      const stages::Tone tone = stages::ToneOf(p);
      factor[l] = tone.factor;
      pole[l] = tone.pole;
    }
  }

  // An idle lane runs along with nothing to do.
  void Idle(int l) {
    lane[l].active = false;
    skip[l] = calls[l] = samples[l] = 0;
  }

  void Finish(int l) {
    Peak peak;
    peak.m = this->peak[l];
    stages::FinishLayer(*lane[l].job.plan, lane[l].job.out, peak, SimdPath::kAvx512);
  }
};

// Pass 1: where every call reads, the lanes side by side, as OscCall advances the phase.
[[gnu::target("avx512f,avx512dq,avx512vl")]] void Phases(Lanes& s, int32_t rows) {
  F8 ph[kGroups];
  I8 last[kGroups], at[kGroups];
  V8i skip[kGroups], calls[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    ph[g] = LoadVec<F8>(s.phase + 8 * g);
    last[g] = LoadVec<I8>(s.last + 8 * g);
    at[g] = I8{} + 0;
    skip[g] = LoadVec<V8i>(s.skip + 8 * g);
    calls[g] = LoadVec<V8i>(s.calls + 8 * g);
  }
  for (int32_t c = 0; c < rows; ++c) {
#pragma GCC unroll 4
    for (int g = 0; g < kGroups; ++g) {
      const I8 live = __builtin_convertvector((skip[g] <= c) & (calls[g] > c), I8);
      const D8 p = ToD(ph[g]) * 128.0;
      const I8 k = __builtin_convertvector(p, I8) & kMask;  // p >= 0: truncation is floor
      const D8 f = p - __builtin_convertvector(k, D8);
      at[g] = live ? at[g] + ((k - last[g]) & kMask) : at[g];
      last[g] = live ? k : last[g];
      StoreVec(s.at[c] + 8 * g, __builtin_convertvector(at[g], V8i));
      StoreVec(s.frac[c] + 8 * g, f);
      const D8 step = LoadVec<D8>(s.bent[c] + 8 * g);
      F8 next = ToF(ToD(ph[g]) + step);
      // The phase is never negative, so its whole part is a truncation; it is rarely 1 or more.
      const V8i wraps = next >= 1.0f;
      if (_mm256_movemask_ps((__m256)wraps)) {
        const F8 whole = __builtin_convertvector(__builtin_convertvector(next, V8i), F8);
        next = wraps ? next - whole : next;
      }
      ph[g] = __builtin_convertvector(live, V8i) ? next : ph[g];
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    StoreVec(s.phase + 8 * g, ph[g]);
    StoreVec(s.last + 8 * g, last[g]);
  }
}

// Pass 2: the sweeps up to each lane's last read position, then every call's read.
[[gnu::target("avx512f,avx512dq,avx512vl")]] void SweepAndRead(Lanes& s, int32_t rows) {
  // A lane's sweep ends where its last call reads.
  alignas(64) int32_t ends[kLanes];
  int32_t longest = 0;
  for (int l = 0; l < kLanes; ++l) {
    ends[l] = s.calls[l] > s.skip[l] ? s.at[s.calls[l] - 1][l] : 0;
    longest = ends[l] > longest ? ends[l] : longest;
  }
  D8 low[kGroups];
  D8 coef[kGroups];
  V8i end[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    low[g] = LoadVec<D8>(s.below + 8 * g);
    coef[g] = LoadVec<D8>(s.coef + 8 * g);
    end[g] = LoadVec<V8i>(ends + 8 * g);
  }
  for (int32_t j = 0; j < longest; ++j) {
#pragma GCC unroll 4
    for (int g = 0; g < kGroups; ++g) {
      // Past a lane's end the rows written are never read: only `below` must stay.
      const D8 here = ToD(LoadVec<F8>(s.tape[j] + 8 * g));
      const D8 delta = (here - low[g]) * coef[g];
      StoreVec(s.tape[j + kWaveSize - 1] + 8 * g, ToF(low[g] + delta));
      const D8 next = ToD(ToF(here - delta));
      low[g] = __builtin_convertvector(end[g] > j, I8) ? next : low[g];
    }
  }
  for (int g = 0; g < kGroups; ++g)
    StoreVec(s.below + 8 * g, low[g]);

  // Both groups' entries with one gather each: sixteen floats, a row apart for the second.
  static_assert(kLanes == 16);
  const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const float* tape = &s.tape[0][0];
  for (int32_t c = 0; c < rows; ++c) {
    const __m512i row = _mm512_slli_epi32(LoadVec<__m512i>(s.at[c]), 4);
    const __m512i index = _mm512_add_epi32(row, lanes);
    const __m512 a16 = _mm512_i32gather_ps(index, tape, 4);
    const __m512 b16 = _mm512_i32gather_ps(index, tape + kLanes, 4);
    const F8 aHalf[2] = {(F8)_mm512_castps512_ps256(a16), (F8)_mm512_extractf32x8_ps(a16, 1)};
    const F8 bHalf[2] = {(F8)_mm512_castps512_ps256(b16), (F8)_mm512_extractf32x8_ps(b16, 1)};
#pragma GCC unroll 4
    for (int g = 0; g < kGroups; ++g) {
      const D8 a = ToD(aHalf[g]);
      const D8 b = ToD(bHalf[g]);
      const D8 f = LoadVec<D8>(s.frac[c] + 8 * g);
      const F8 v = ToF((1.0 - f) * a + f * b);
      if (c == 0) {
        // Lanes that made their first call when they started keep its output.
        const F8 made = LoadVec<F8>(s.osc[0] + 8 * g);
        StoreVec(s.osc[0] + 8 * g, LoadVec<V8i>(s.skip + 8 * g) > 0 ? made : v);
      } else {
        StoreVec(s.osc[c] + 8 * g, v);
      }
    }
  }
}

// The bass layer's FxResonator(1600, 0.9, 1) and FxFade for sample `at` of each lane.
struct BassStage {
  D8 ra, rb;
  V8i fadeIn, fadeOut, length;
  bool fades;  // some lane of the group is inside a fade during the chunk

  [[gnu::target("avx512f,avx512dq,avx512vl"), gnu::always_inline]] F8 operator()(F8 in, V8i at,
                                                                                 I8 live) {
    const Resonator<double>& kRes = stages::kBassResonator;
    const D8 x = ToD(in);
    const D8 b = (rb + kRes.d * ra) + x;
    const D8 a = (ra - kRes.d * b) * kRes.feedback;
    rb = live ? b : rb;
    ra = live ? a : ra;
    F8 v = ToF((1.0 - kRes.mix) * x + kRes.mix * b);
    if (fades) {
      const V8i fromEnd = length - at;
      const D8 faded =
          (ToD(v) * __builtin_convertvector(at, D8)) / __builtin_convertvector(fadeIn, D8);
      v = at < fadeIn ? ToF(faded) : v;
      const D8 ending =
          (ToD(v) * __builtin_convertvector(fromEnd, D8)) / __builtin_convertvector(fadeOut, D8);
      v = fromEnd <= fadeOut ? ToF(ending) : v;
    }
    return v;
  }
};

// Pass 3: the effects of every sample, the lanes side by side.
[[gnu::target("avx512f,avx512dq,avx512vl")]] void Effects(Lanes& s, int32_t rows) {
  D8 gain[kGroups], factor[kGroups], lp[kGroups], pole[kGroups], keep[kGroups];
  F8 peak[kGroups];
  I8 cubic[kGroups];
  V8i samples[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    gain[g] = LoadVec<D8>(s.gain + 8 * g);
    factor[g] = LoadVec<D8>(s.factor + 8 * g);
    lp[g] = LoadVec<D8>(s.lp + 8 * g);
    pole[g] = LoadVec<D8>(s.pole + 8 * g);
    keep[g] = 1.0 - pole[g];
    peak[g] = LoadVec<F8>(s.peak + 8 * g);
    cubic[g] = LoadVec<I8>(s.cubic + 8 * g);
    samples[g] = LoadVec<V8i>(s.samples + 8 * g);
  }
  BassStage bassStage[kGroups];
  I8 bass[kGroups];
  V8i rendered[kGroups];
  bool anyBass[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    BassStage& b = bassStage[g];
    bass[g] = LoadVec<I8>(s.bass + 8 * g);
    rendered[g] = LoadVec<V8i>(s.rendered + 8 * g);
    b.ra = LoadVec<D8>(s.ra + 8 * g);
    b.rb = LoadVec<D8>(s.rb + 8 * g);
    b.fadeIn = LoadVec<V8i>(s.fadeIn + 8 * g);
    b.fadeOut = LoadVec<V8i>(s.fadeOut + 8 * g);
    b.length = LoadVec<V8i>(s.length + 8 * g);
    anyBass[g] = false;
    b.fades = false;
    for (int l = 8 * g; l < 8 * g + 8; ++l) {
      if (!s.bass[l] || !s.lane[l].active) continue;
      anyBass[g] = true;
      const int32_t from = s.rendered[l];
      const int32_t to = from + s.samples[l];
      b.fades = b.fades || from < s.fadeIn[l] || s.length[l] - (to - 1) <= s.fadeOut[l];
    }
  }
  for (int32_t i = 0; i < rows; ++i) {
#pragma GCC unroll 4
    for (int g = 0; g < kGroups; ++g) {
      const V8i live = samples[g] > i;
      const I8 live64 = __builtin_convertvector(live, I8);
      // Two calls a sample for cubic layers, summed and rounded; one for arc layers.
      const D8 a = ToD(LoadVec<F8>(s.osc[2 * i] + 8 * g));
      const D8 b = ToD(LoadVec<F8>(s.osc[2 * i + 1] + 8 * g));
      const F8 one = LoadVec<F8>(s.osc[i] + 8 * g);
      const F8 pair = ToF(a + b);
      const F8 v = __builtin_convertvector(cubic[g], V8i) ? pair : one;
      const F8 decayed = ToF(ToD(v) * gain[g]);
      gain[g] = live64 ? gain[g] * factor[g] : gain[g];
      const D8 x = ToD(decayed);
      const D8 nextLp = keep[g] * x + pole[g] * lp[g];
      lp[g] = live64 ? nextLp : lp[g];
      const F8 y = ToF(x - nextLp);
      F8 out = y;
      if (anyBass[g]) {
        const F8 b = bassStage[g](one, rendered[g] + i, live64 & bass[g]);
        out = __builtin_convertvector(bass[g], V8i) ? b : y;
      }
      const F8 mag = (F8)((V8i)out & 0x7FFFFFFF);
      peak[g] = live & (mag > peak[g]) ? mag : peak[g];  // a NaN never wins, as in FxNormalize
      StoreVec(s.out[i] + 8 * g, out);
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    StoreVec(s.ra + 8 * g, bassStage[g].ra);
    StoreVec(s.rb + 8 * g, bassStage[g].rb);
  }
  for (int g = 0; g < kGroups; ++g) {
    StoreVec(s.gain + 8 * g, gain[g]);
    StoreVec(s.lp + 8 * g, lp[g]);
    StoreVec(s.peak + 8 * g, peak[g]);
  }
}

// Columns of an 8 x 8 block: c[j][i] = r[i][j]. V is D8 or F8.
template <typename V>
[[gnu::always_inline]] inline void Transpose8(const V* r, V* c) {
  V t[8], u[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = __builtin_shufflevector(r[i], r[i + 1], 0, 8, 2, 10, 4, 12, 6, 14);
    t[i + 1] = __builtin_shufflevector(r[i], r[i + 1], 1, 9, 3, 11, 5, 13, 7, 15);
  }
  for (int i = 0; i < 8; i += 4) {
    for (int k = 0; k < 2; ++k) {
      u[i + k] = __builtin_shufflevector(t[i + k], t[i + k + 2], 0, 1, 8, 9, 4, 5, 12, 13);
      u[i + k + 2] = __builtin_shufflevector(t[i + k], t[i + k + 2], 2, 3, 10, 11, 6, 7, 14, 15);
    }
  }
  for (int k = 0; k < 4; ++k) {
    c[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
    c[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
  }
}

// The lanes' bent increments, written lane by lane, into rows of calls.
[[gnu::target("avx512f,avx512dq,avx512vl")]] void StepsByRow(Lanes& s, int32_t rows) {
  for (int g = 0; g < kGroups; ++g) {
    for (int32_t c0 = 0; c0 < rows; c0 += 8) {
      D8 r[8], c[8];
      for (int i = 0; i < 8; ++i)
        r[i] = LoadVec<D8>(&s.step[8 * g + i][c0]);
      Transpose8<D8>(r, c);
      for (int j = 0; j < 8; ++j)
        StoreVec(s.bent[c0 + j] + 8 * g, c[j]);
    }
  }
}

// The chunk's samples of every live lane into its layer's buffer.
[[gnu::target("avx512f,avx512dq,avx512vl")]] void CopyOut(Lanes& s) {
  for (int g = 0; g < kGroups; ++g) {
    int32_t whole = kChunk;  // samples every live lane of the group has
    for (int l = 8 * g; l < 8 * g + 8; ++l) {
      if (s.lane[l].active) whole = std::min(whole, s.samples[l]);
    }
    int32_t i0 = 0;
    for (; i0 + 8 <= whole; i0 += 8) {
      F8 r[8], c[8];
      for (int k = 0; k < 8; ++k)
        r[k] = LoadVec<F8>(s.out[i0 + k] + 8 * g);
      Transpose8<F8>(r, c);
      for (int j = 0; j < 8; ++j) {
        const int l = 8 * g + j;
        if (s.lane[l].active) StoreVec(s.lane[l].job.out + s.rendered[l] + i0, c[j]);
      }
    }
    for (int l = 8 * g; l < 8 * g + 8; ++l) {
      if (!s.lane[l].active) continue;
      for (int32_t i = i0; i < s.samples[l]; ++i)
        s.lane[l].job.out[s.rendered[l] + i] = s.out[i][l];
    }
  }
}

}  // namespace

void RenderLayersWide(const std::function<bool(LayerJob&)>& next,
                      const std::function<void(const LayerJob&)>& done) {
  static const modSamples kNoBank;  // tonal layers read no bank
  auto lanes = std::make_unique<Lanes>();
  Lanes& s = *lanes;
  // The next layer for the lanes; the others are rendered alone on the way. When there is none
  // for now, the lane waits idle and asks again after the next chunk: the lanes that run finish
  // their layers, which makes room for more.
  auto take = [&](LayerJob& job) {
    while (next(job)) {
      if (Wide(*job.plan)) return true;
      RenderLayerFast(*job.plan, kNoBank, job.out);
      done(job);
    }
    return false;
  };
  LayerJob job;
  for (int l = 0; l < kLanes; ++l)
    s.Idle(l);
  while (true) {
    // Each live lane runs a chunk, or what is left of its layer.
    int32_t rows = 0;
    int32_t samples = 0;
    bool asked = false;
    for (int l = 0; l < kLanes; ++l) {
      LaneJob& j = s.lane[l];
      if (!j.active) {
        if (asked || !take(job)) {
          asked = true;  // one refusal a chunk is enough
          continue;
        }
        s.Start(l, job);
      }
      const int32_t chunk = std::min(kChunk, s.length[l] - s.rendered[l]);
      s.samples[l] = chunk;
      s.calls[l] = j.job.plan->kind == LayerKind::kCubic ? 2 * chunk : chunk;
      j.vib = VibratoSteps(j.vib, j.inc, s.step[l] + s.skip[l], s.calls[l] - s.skip[l], j.rotations,
                           SimdPath::kAvx512);
      rows = std::max(rows, s.calls[l]);
      samples = std::max(samples, chunk);
    }
    if (rows == 0) break;
    StepsByRow(s, rows);
    Phases(s, rows);
    SweepAndRead(s, rows);
    Effects(s, samples);
    CopyOut(s);
    for (int l = 0; l < kLanes; ++l) {
      LaneJob& j = s.lane[l];
      if (!j.active) continue;
      s.rendered[l] += s.samples[l];
      // The tape moves on to where the sweep stands.
      const int32_t moved = s.calls[l] > s.skip[l] ? s.at[s.calls[l] - 1][l] : 0;
      for (int32_t i = 0; i < kWaveSize - 1; ++i)
        s.tape[i][l] = s.tape[moved + i][l];
      s.skip[l] = 0;
      if (s.rendered[l] < s.length[l]) continue;
      s.Finish(l);
      done(j.job);
      s.Idle(l);
    }
  }
}

}  // namespace quom
