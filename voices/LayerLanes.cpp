// Tonal layers in lanes: each lane runs one layer's oscillator and the first effects of its
// chain, a chunk of samples at a time, side by side with the other lanes; when a layer ends, the
// passes that need its peak finish it. One template for every width: one lane alone, four scalar
// lanes, and G vectors of lanes as wide as the path's registers.
//
// A chunk is the oscillator's passes (units/WaveLanes.h), then one pass of the effects over its
// samples, then the samples out into the layers' buffers. Every lane does the IEEE operations of
// RenderLayerLiteral in their order, so the bits do not depend on the width, on the other lanes,
// or on where a layer's chunks begin and end.
#include "voices/LayerLanes.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "base/Dispatch.h"
#include "base/LaneVectors.h"
#include "units/WaveLanes.h"
#include "units/modFX.h"

namespace quom {

namespace {

constexpr int32_t kChunk = 128;  // samples per lane and chunk: 256 calls of a cubic layer

// The passes that need the whole layer, its peak known: the normalisation and what follows it.
void FinishLayer(const LayerPlan& p, float* out, const Peak& peak, SimdPath path) {
  const ToneEffects fx = EffectsOf(p);
  if (fx.resonant) {
    ScaleAndHighPass(out, p.len, peak, fx.peak, fx.highPass);
  } else {
    ScaleAndFade(out, p.len, peak, fx.peak, fx.fadeIn, fx.fadeOut, path);
  }
}

template <int W, int G>
struct Lanes {
  static constexpr int kW = W;
  static constexpr int kG = G;
  static constexpr int kLanes = W * G;
  using D = typename LaneVec<W>::D;
  using F = typename LaneVec<W>::F;
  using M = typename LaneVec<W>::M;
  using I = typename LaneVec<W>::I;
  static_assert(2 * kChunk <= WaveLanes<W, G>::kMaxCalls);

  WaveLanes<W, G> wave;
  LayerJob job[kLanes];
  bool active[kLanes];

  // Each lane's effects before the peak: the settings of its chain and their running values.
  alignas(64) int32_t twice[kLanes];  // all bits set: two calls a sample, summed (cubic)
  alignas(
      64) int32_t resonant[kLanes];  // all bits set: the resonant chain, else decay and high-pass
  alignas(64) double factor[kLanes], gain[kLanes];  // FxDecay
  alignas(64) double pole[kLanes], lp[kLanes];      // FxHighPass
  alignas(64) double d[kLanes], feedback[kLanes], mix[kLanes], ra[kLanes], rb[kLanes];
  alignas(64) int32_t fadeIn[kLanes], fadeOut[kLanes];  // FxFade of the resonant chain
  alignas(64) int32_t length[kLanes], rendered[kLanes], samples[kLanes];
  alignas(64) float peak[kLanes];  // FxNormalize's peak so far
  alignas(64) float out[kChunk][kLanes];

  void Start(int l, const LayerJob& j) {
    const LayerPlan& p = *j.plan;
    job[l] = j;
    active[l] = true;
    wave.Start(l, p.wave);
    const ToneEffects fx = EffectsOf(p);
    twice[l] = p.kind == LayerKind::kCubic ? -1 : 0;
    resonant[l] = fx.resonant ? -1 : 0;
    factor[l] = fx.decay;
    gain[l] = 1.0;
    pole[l] = fx.highPass;
    lp[l] = 0.0;
    d[l] = ResonatorCoefficient(fx.resonance);
    feedback[l] = fx.feedback;
    mix[l] = fx.mix;
    ra[l] = rb[l] = 0.0;
    fadeIn[l] = fadeOut[l] = 0;
    if (fx.resonant) {  // cut to the layer, as FxFade does
      fadeIn[l] = std::min(fx.fadeIn, p.len);
      fadeOut[l] = std::min(fx.fadeOut, p.len);
    }
    length[l] = p.len;
    rendered[l] = samples[l] = 0;
    peak[l] = 0.0f;
  }

  void Idle(int l) {
    active[l] = false;
    samples[l] = 0;
    wave.Idle(l);
  }

  void Finish(int l, SimdPath path) {
    Peak m;
    m.m = peak[l];
    FinishLayer(*job[l].plan, job[l].out, m, path);
  }

  // The running values of a chunk's effects for B vectors of lanes, and what their lanes need.
  template <int B>
  struct EffectState {
    Decay<D> decay[B];
    HighPass<D> highPass[B];
    Resonator<D> resonator[B];
    F top[B];
    I sum[B], ring[B], n[B], from[B], in[B], ending[B], len[B];
    D n64[B];
    bool anyTwice[B], allTwice[B], anyTone[B], anyRing[B], allRing[B], fades[B];
  };

  // The effects of the chunk's samples, `rows` of them, every lane side by side: a cubic lane
  // sums its two calls; then FxDecay and FxHighPass, or FxResonator and FxFade; and the peak.
  // Two vectors at a time: their chains keep the processor busy, and their running values fit
  // in its registers.
  [[gnu::always_inline]] void Effects(int32_t rows) {
    constexpr int kBlock = G < 2 ? G : 2;
    static_assert(G % kBlock == 0);
    for (int g0 = 0; g0 < G; g0 += kBlock)
      EffectBlock<kBlock>(g0, rows);
  }

  // Vectors g0 .. g0 + B - 1. Rows that every lane of them has run without masks.
  template <int B>
  [[gnu::always_inline]] void EffectBlock(int g0, int32_t rows) {
    EffectState<B> st;
    int32_t every = rows;
    for (int g = 0; g < B; ++g) {
      const int l0 = W * (g0 + g);
      st.decay[g] = {LoadVec<D>(factor + l0), LoadVec<D>(gain + l0)};
      st.highPass[g] = {LoadVec<D>(pole + l0), LoadVec<D>(lp + l0)};
      st.resonator[g] = {LoadVec<D>(d + l0), LoadVec<D>(feedback + l0), LoadVec<D>(mix + l0),
                         LoadVec<D>(ra + l0), LoadVec<D>(rb + l0)};
      st.top[g] = LoadVec<F>(peak + l0);
      st.sum[g] = LoadVec<I>(twice + l0);
      st.ring[g] = LoadVec<I>(resonant + l0);
      st.n[g] = LoadVec<I>(samples + l0);
      st.n64[g] = Widen<D>(st.n[g]);
      st.from[g] = LoadVec<I>(rendered + l0);
      st.in[g] = LoadVec<I>(fadeIn + l0);
      st.ending[g] = LoadVec<I>(fadeOut + l0);
      st.len[g] = LoadVec<I>(length + l0);
      st.anyTwice[g] = st.anyTone[g] = st.anyRing[g] = st.fades[g] = false;
      st.allTwice[g] = st.allRing[g] = true;
      for (int l = l0; l < l0 + W; ++l) {
        every = std::min(every, samples[l]);
        if (!active[l]) continue;
        st.anyTwice[g] = st.anyTwice[g] || twice[l];
        st.allTwice[g] = st.allTwice[g] && twice[l];
        st.anyTone[g] = st.anyTone[g] || !resonant[l];
        st.anyRing[g] = st.anyRing[g] || resonant[l];
        st.allRing[g] = st.allRing[g] && resonant[l];
        const int32_t last = rendered[l] + samples[l] - 1;
        st.fades[g] = st.fades[g] ||
                      (resonant[l] && (rendered[l] < fadeIn[l] || length[l] - last <= fadeOut[l]));
      }
    }
    // Only the chains some lane of the block runs, so that their running values stay in registers.
    bool tone = false;
    bool ring = false;
    for (int g = 0; g < B; ++g) {
      tone = tone || st.anyTone[g];
      ring = ring || st.anyRing[g];
    }
    if (!ring) {
      EffectRows<false, true, false>(0, every, g0, st);
      EffectRows<true, true, false>(every, rows, g0, st);
    } else if (!tone) {
      EffectRows<false, false, true>(0, every, g0, st);
      EffectRows<true, false, true>(every, rows, g0, st);
    } else {
      EffectRows<false, true, true>(0, every, g0, st);
      EffectRows<true, true, true>(every, rows, g0, st);
    }
    for (int g = 0; g < B; ++g) {
      const int l0 = W * (g0 + g);
      StoreVec(gain + l0, st.decay[g].g);
      StoreVec(lp + l0, st.highPass[g].lp);
      StoreVec(ra + l0, st.resonator[g].a);
      StoreVec(rb + l0, st.resonator[g].b);
      StoreVec(peak + l0, st.top[g]);
    }
  }

  template <bool kMasked, bool kTone, bool kRing, int B>
  [[gnu::always_inline]] void EffectRows(int32_t from, int32_t to, int g0, EffectState<B>& st) {
    for (int32_t i = from; i < to; ++i) {
#pragma GCC unroll 4
      for (int g = 0; g < B; ++g) {
        const int l0 = W * (g0 + g);
        // The oscillator's output for the sample: two calls summed, or one.
        F v;
        if (st.allTwice[g]) {
          v = Narrow<F>(Widen<D>(LoadVec<F>(wave.osc[2 * i] + l0)) +
                        Widen<D>(LoadVec<F>(wave.osc[2 * i + 1] + l0)));
        } else {
          v = LoadVec<F>(wave.osc[i] + l0);
          if (st.anyTwice[g]) {
            const F pair = Narrow<F>(Widen<D>(LoadVec<F>(wave.osc[2 * i] + l0)) +
                                     Widen<D>(LoadVec<F>(wave.osc[2 * i + 1] + l0)));
            v = st.sum[g] ? pair : v;
          }
        }
        const M keep = st.n64[g] > static_cast<double>(i);
        F y = v;
        if (kTone && st.anyTone[g]) {
          Decay<D>& decay = st.decay[g];
          HighPass<D>& highPass = st.highPass[g];
          const D gain0 = decay.g;
          const D lp0 = highPass.lp;
          y = Narrow<F>(highPass(Widen<D>(Narrow<F>(decay(Widen<D>(v))))));
          if constexpr (kMasked) {
            decay.g = keep ? decay.g : gain0;
            highPass.lp = keep ? highPass.lp : lp0;
          }
        }
        if (kRing && st.anyRing[g]) {
          Resonator<D>& resonator = st.resonator[g];
          const D a0 = resonator.a;
          const D b0 = resonator.b;
          F r = Narrow<F>(resonator(Widen<D>(v)));
          if constexpr (kMasked) {
            resonator.a = keep ? resonator.a : a0;
            resonator.b = keep ? resonator.b : b0;
          }
          if (st.fades[g]) {
            const I j = st.from[g] + i;
            const I fromEnd = st.len[g] - j;
            const F rising = Narrow<F>(Ramp(Widen<D>(r), Widen<D>(j), Widen<D>(st.in[g])));
            r = j < st.in[g] ? rising : r;
            const F falling =
                Narrow<F>(Ramp(Widen<D>(r), Widen<D>(fromEnd), Widen<D>(st.ending[g])));
            r = fromEnd <= st.ending[g] ? falling : r;
          }
          y = st.allRing[g] ? r : (st.ring[g] ? r : y);
        }
        const F louder = Louder(st.top[g], Magnitude(y));
        if constexpr (kMasked) {
          st.top[g] = st.n[g] > i ? louder : st.top[g];
        } else {
          st.top[g] = louder;
        }
        StoreVec(out[i] + l0, y);
      }
    }
  }

  // The chunk's samples of every live lane into its layer's buffer.
  [[gnu::always_inline]] void CopyOut() {
    if constexpr (kLanes == 1) {
      if (active[0]) std::memcpy(job[0].out + rendered[0], out, samples[0] * sizeof(float));
      return;
    }
    for (int g = 0; g < G; ++g) {
      const int l0 = W * g;
      int32_t whole = kChunk;  // samples every live lane of the group has
      for (int l = l0; l < l0 + W; ++l) {
        if (active[l]) whole = std::min(whole, samples[l]);
      }
      int32_t i0 = 0;
      for (; i0 + W <= whole; i0 += W) {
        F r[W];
#pragma GCC unroll 8
        for (int k = 0; k < W; ++k)
          r[k] = LoadVec<F>(out[i0 + k] + l0);
        Transpose<W>(r);
#pragma GCC unroll 8
        for (int k = 0; k < W; ++k) {
          const int l = l0 + k;
          if (active[l]) StoreVec(job[l].out + rendered[l] + i0, r[k]);
        }
      }
      for (int l = l0; l < l0 + W; ++l) {
        if (!active[l]) continue;
        for (int32_t i = i0; i < samples[l]; ++i)
          job[l].out[rendered[l] + i] = out[i][l];
      }
    }
  }
};

// One chunk of every lane: the oscillator, the effects, the samples out.
template <int W, int G>
[[gnu::always_inline]] inline void RunChunk(Lanes<W, G>& s, int32_t samples) {
  s.wave.Run();
  s.Effects(samples);
  s.CopyOut();
}

// The lanes of a path: as many layers side by side as its vectors hold, vectors of W doubles, G
// of them so that their chains overlap (two of the widest, whose registers the running values of
// more would not fit in). Scalar code runs four lanes of one.
template <typename T>
using LanesFor = Lanes<T::kDoubles, T::kDoubles >= 8 ? 2 : 4>;

// A chunk of the path's lanes, compiled for its instruction set. The lanes are passed untyped, as
// the copies differ in width; LanesKernel makes the lanes of the same path.
struct ChunkKernel {
  using Signature = void(void*, int32_t);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(void* lanes, int32_t samples) {
    RunChunk(*static_cast<LanesFor<T>*>(lanes), samples);
  }
};

// A lane alone: one path's copy is as good as another's, since one lane is plain scalars.
void ChunkAlone(void* lanes, int32_t samples) {
  RunChunk(*static_cast<Lanes<1, 1>*>(lanes), samples);
}

// Every layer `next` gives, W * G at a time, each finished layer handed to `done`; `chunk` runs
// a chunk of lanes of this width.
template <int W, int G>
void RunLanes(const std::function<bool(LayerJob&)>& next,
              const std::function<void(const LayerJob&)>& done, SimdPath path,
              void (*chunk)(void*, int32_t), LaneRoom* room) {
  constexpr int kLanes = W * G;
  static_assert(std::is_trivially_destructible_v<Lanes<W, G>>);
  LaneRoom own;
  Lanes<W, G>& s = *new ((room ? room : &own)->Take(sizeof(Lanes<W, G>))) Lanes<W, G>();
  for (int l = 0; l < kLanes; ++l)
    s.Idle(l);
  // The next layer for a lane; one with no samples is done as it comes.
  auto take = [&](LayerJob& job) {
    while (next(job)) {
      if (job.plan->kind == LayerKind::kDrum) {
        throw std::invalid_argument("drum layers are rendered from the sample bank, not in lanes");
      }
      if (job.plan->len > 0) return true;
      done(job);
    }
    return false;
  };
  LayerJob job;
  while (true) {
    // Each live lane runs a chunk, or what is left of its layer. A lane without a layer asks
    // for one; when there is none for now, it waits idle and asks again after the next chunk:
    // the lanes that run finish their layers, which makes room for more.
    int32_t samples = 0;
    bool asked = false;
    for (int l = 0; l < kLanes; ++l) {
      if (!s.active[l]) {
        if (asked || !take(job)) {
          asked = true;  // one refusal a chunk is enough
          continue;
        }
        s.Start(l, job);
      }
      const int32_t n = std::min(kChunk, s.length[l] - s.rendered[l]);
      s.samples[l] = n;
      s.wave.Plan(l, s.twice[l] ? 2 * n : n, path);
      samples = std::max(samples, n);
    }
    if (samples == 0) break;
    chunk(&s, samples);
    for (int l = 0; l < kLanes; ++l) {
      if (!s.active[l]) continue;
      s.rendered[l] += s.samples[l];
      s.wave.MoveOn(l);
      if (s.rendered[l] < s.length[l]) continue;
      s.Finish(l, path);
      done(s.job[l]);
      s.Idle(l);
    }
  }
}

// The path's lanes and their chunks' copy.
struct LanesKernel {
  using Signature = void(const std::function<bool(LayerJob&)>&,
                         const std::function<void(const LayerJob&)>&, SimdPath, LaneRoom*);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(const std::function<bool(LayerJob&)>& next,
                                                const std::function<void(const LayerJob&)>& done,
                                                SimdPath path, LaneRoom* room) {
    using L = LanesFor<T>;
    RunLanes<L::kW, L::kG>(next, done, path, PickKernel<ChunkKernel>(path), room);
  }
};

}  // namespace

void* LaneRoom::Take(size_t bytes) {
  if (bytes > bytes_) {
    room_.reset();
    room_.reset(::operator new (bytes, std::align_val_t{64}));
    bytes_ = bytes;
  }
  return room_.get();
}

void LaneRoom::Free::operator()(void* p) const {
  ::operator delete (p, std::align_val_t{64});
}

void RenderLayersInLanes(const std::function<bool(LayerJob&)>& next,
                         const std::function<void(const LayerJob&)>& done, SimdPath path,
                         LaneRoom* room) {
  Dispatch<LanesKernel>(path, next, done, path, room);
}

void RenderLayerAlone(const LayerPlan& p, float* out, SimdPath path) {
  bool taken = false;
  RunLanes<1, 1>(
      [&](LayerJob& job) {
        if (taken) return false;
        taken = true;
        job = {&p, out, 0};
        return true;
      },
      [](const LayerJob&) {}, path, ChunkAlone, nullptr);
}

}  // namespace quom
