// Tonal layers in lanes: each lane runs one layer's oscillator and the first effects of its
// chain, a chunk of samples at a time, side by side with the other lanes; when a layer ends, the
// passes that need its peak finish it. One template for every width: one lane alone, four scalar
// lanes, and G vectors of lanes as wide as the path's registers.
//
// A chunk is the oscillator's passes (units/WaveLanes.h), then one pass of the effects over its
// samples, then the samples out into the layers' buffers. Every lane does the IEEE operations of
// RenderLayerLiteral in their order, so the bits do not depend on the width, on the other lanes,
// or on where a layer's chunks begin and end. Each lane keeps its layer's state in a Lane; the
// rows of a chunk work on vectors of those, and the whole loop over the chunks is compiled once
// per instruction set (base/Dispatch.h).
#include "voices/LayerLanes.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

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

// One lane: the layer it runs, how far the layer has got, and the effects its samples pass
// through before the layer's peak is known, as the steps of units/modFX.h.
struct Lane {
  LayerJob job;
  bool active = false;
  bool twice = false;     // a cubic layer: two oscillator calls a sample, summed
  bool resonant = false;  // FxResonator, then FxFade; else FxDecay, then FxHighPass
  Decay<double> decay{1.0};
  HighPass<double> highPass{0.0};
  Resonator<double> resonator{0.0, 0.0, 0.0};
  int32_t fadeIn = 0;  // FxFade's ramps, on the resonant chain only, cut to the layer
  int32_t fadeOut = 0;
  int32_t length = 0;    // the layer's samples
  int32_t rendered = 0;  // those before this chunk
  int32_t samples = 0;   // this chunk's; 0 while the lane is idle
  Peak peak;             // FxNormalize's search so far

  static Lane Of(const LayerJob& j) {
    const LayerPlan& p = *j.plan;
    const ToneEffects fx = EffectsOf(p);
    Lane lane;
    lane.job = j;
    lane.active = true;
    lane.twice = p.kind == LayerKind::kCubic;
    lane.resonant = fx.resonant;
    lane.decay = {fx.decay};
    lane.highPass = {fx.highPass};
    lane.resonator = {ResonatorCoefficient(fx.resonance), fx.feedback, fx.mix};
    if (fx.resonant) {  // cut to the layer, as FxFade does
      lane.fadeIn = std::min(fx.fadeIn, p.len);
      lane.fadeOut = std::min(fx.fadeOut, p.len);
    }
    lane.length = p.len;
    return lane;
  }

  // Whether this chunk's samples meet a ramp of FxFade.
  bool Fades() const {
    const int32_t last = rendered + samples - 1;
    return resonant && (rendered < fadeIn || length - last <= fadeOut);
  }
};

// Which chains a block of lanes runs. Only theirs are carried through the rows, so that their
// running values stay in registers.
enum class Chains { kTone, kRing, kBoth };

// Which rows of a chunk: those every live lane has, or those past the end of some lane's samples,
// which its peak must skip.
enum class Rows { kEveryLane, kPastSomeEnd };

// The effects of W lanes side by side, for the rows of one chunk: each a vector of the lanes'
// Lane field, loaded before the rows; the running values go back to the lanes after them.
template <int W>
struct LaneEffects {
  using D = typename LaneVec<W>::D;
  using F = typename LaneVec<W>::F;
  using I = typename LaneVec<W>::I;

  // What the live lanes have in common, so that a row does only what some lane needs.
  bool anyTwice = false, allTwice = true;
  bool anyTone = false, anyRing = false, allRing = true;
  bool fades = false;

  I twice{}, resonant{};  // all bits set where the lane's flag is
  Decay<D> decay{};
  HighPass<D> highPass{};
  Resonator<D> resonator{};
  I from{}, fadeIn{}, fadeOut{}, length{};  // for the fades: the chunk's first sample, the ramps
  I samples{};
  F peak{};

  [[gnu::always_inline]] void Load(const Lane* lane) {
    for (int k = 0; k < W; ++k) {
      const Lane& c = lane[k];
      if (!c.active) continue;
      anyTwice = anyTwice || c.twice;
      allTwice = allTwice && c.twice;
      anyTone = anyTone || !c.resonant;
      anyRing = anyRing || c.resonant;
      allRing = allRing && c.resonant;
      fades = fades || c.Fades();
    }
    if (anyTwice && !allTwice)
      twice = FromLanes<I>(lane, [](const Lane& c) { return c.twice ? -1 : 0; });
    if (anyTone) {
      decay = {FromLanes<D>(lane, [](const Lane& c) { return c.decay.factor; }),
               FromLanes<D>(lane, [](const Lane& c) { return c.decay.g; })};
      highPass = {FromLanes<D>(lane, [](const Lane& c) { return c.highPass.k; }),
                  FromLanes<D>(lane, [](const Lane& c) { return c.highPass.lp; })};
    }
    if (anyRing) {
      resonator = {FromLanes<D>(lane, [](const Lane& c) { return c.resonator.d; }),
                   FromLanes<D>(lane, [](const Lane& c) { return c.resonator.feedback; }),
                   FromLanes<D>(lane, [](const Lane& c) { return c.resonator.mix; }),
                   FromLanes<D>(lane, [](const Lane& c) { return c.resonator.a; }),
                   FromLanes<D>(lane, [](const Lane& c) { return c.resonator.b; })};
      resonant = FromLanes<I>(lane, [](const Lane& c) { return c.resonant ? -1 : 0; });
    }
    if (fades) {
      from = FromLanes<I>(lane, [](const Lane& c) { return c.rendered; });
      fadeIn = FromLanes<I>(lane, [](const Lane& c) { return c.fadeIn; });
      fadeOut = FromLanes<I>(lane, [](const Lane& c) { return c.fadeOut; });
      length = FromLanes<I>(lane, [](const Lane& c) { return c.length; });
    }
    samples = FromLanes<I>(lane, [](const Lane& c) { return c.samples; });
    peak = FromLanes<F>(lane, [](const Lane& c) { return c.peak.m; });
  }

  [[gnu::always_inline]] void Store(Lane* lane) const {
    for (int k = 0; k < W; ++k) {
      Lane& c = lane[k];
      if (anyTone) {
        c.decay.g = LaneOf(decay.g, k);
        c.highPass.lp = LaneOf(highPass.lp, k);
      }
      if (anyRing) {
        c.resonator.a = LaneOf(resonator.a, k);
        c.resonator.b = LaneOf(resonator.b, k);
      }
      c.peak.m = LaneOf(peak, k);
    }
  }

  // The oscillator's output for sample i, from the chunk's calls `osc` of the lanes from l0 on:
  // two calls summed, or one.
  template <typename Calls>
  [[gnu::always_inline]] F Output(const Calls& osc, int32_t i, int l0) const {
    if (allTwice) return Pair(osc, i, l0);
    const F one = LoadVec<F>(osc[i] + l0);
    if (!anyTwice) return one;
    return twice ? Pair(osc, i, l0) : one;
  }

  template <typename Calls>
  [[gnu::always_inline]] static F Pair(const Calls& osc, int32_t i, int l0) {
    return Narrow<F>(Widen<D>(LoadVec<F>(osc[2 * i] + l0)) +
                     Widen<D>(LoadVec<F>(osc[2 * i + 1] + l0)));
  }

  // Sample i of the chunk through each lane's chain: FxDecay and FxHighPass, or FxResonator and
  // FxFade, each result rounded to float where its effect stores it.
  template <Chains kChains>
  [[gnu::always_inline]] F Chain(F v, int32_t i) {
    F y = v;
    if (kChains != Chains::kRing && anyTone) {
      y = Narrow<F>(highPass(Widen<D>(Narrow<F>(decay(Widen<D>(v))))));
    }
    if (kChains != Chains::kTone && anyRing) {
      F r = Narrow<F>(resonator(Widen<D>(v)));
      if (fades) r = Fade(r, from + i);
      y = allRing ? r : (resonant ? r : y);
    }
    return y;
  }

  // FxFade on sample j of each lane's layer: the fade-in first, then the fade-out.
  [[gnu::always_inline]] F Fade(F r, I j) const {
    const I fromEnd = length - j;
    const F rising = Narrow<F>(Ramp(Widen<D>(r), Widen<D>(j), Widen<D>(fadeIn)));
    r = j < fadeIn ? rising : r;
    const F falling = Narrow<F>(Ramp(Widen<D>(r), Widen<D>(fromEnd), Widen<D>(fadeOut)));
    return fromEnd <= fadeOut ? falling : r;
  }

  // FxNormalize's search, over the samples each lane has in the chunk when some have fewer.
  template <Rows kRows>
  [[gnu::always_inline]] void Search(F y, int32_t i) {
    const F louder = Louder(peak, Magnitude(y));
    if constexpr (kRows == Rows::kPastSomeEnd) {
      peak = samples > i ? louder : peak;
    } else {
      peak = louder;
    }
  }
};

// W * G lanes side by side: each lane's oscillator (in `wave`) and layer, and the chunk's samples.
template <int W, int G>
struct Lanes {
  static constexpr int kLanes = W * G;
  using F = typename LaneVec<W>::F;
  static_assert(2 * kChunk <= WaveLanes<W, G>::kMaxCalls);

  WaveLanes<W, G> wave;
  Lane lane[kLanes];
  alignas(64) float out[kChunk][kLanes];  // the chunk's samples, row by row

  void Start(int l, const LayerJob& j) {
    lane[l] = Lane::Of(j);
    wave.Start(l, j.plan->wave);
  }

  void Idle(int l) {
    lane[l].active = false;
    lane[l].samples = 0;
    wave.Idle(l);
  }

  // Lane l's next chunk: what is left of its layer, kChunk samples at most. Returns how many.
  int32_t Plan(int l, SimdPath path) {
    Lane& c = lane[l];
    c.samples = std::min(kChunk, c.length - c.rendered);
    wave.Plan(l, c.twice ? 2 * c.samples : c.samples, path);
    return c.samples;
  }

  // After a chunk: lane l moves on, and says whether its layer is rendered.
  bool MoveOn(int l) {
    Lane& c = lane[l];
    c.rendered += c.samples;
    wave.MoveOn(l);
    return c.rendered >= c.length;
  }

  void Finish(int l, SimdPath path) {
    FinishLayer(*lane[l].job.plan, lane[l].job.out, lane[l].peak, path);
  }

  // One chunk of every lane, `rows` samples long: the oscillator, the effects, the samples out.
  [[gnu::always_inline]] void Run(int32_t rows) {
    wave.Run();
    Effects(rows);
    CopyOut();
  }

 private:
  // Two vectors of lanes at a time: their chains keep the processor busy, and their running
  // values fit in its registers.
  [[gnu::always_inline]] void Effects(int32_t rows) {
    constexpr int kBlock = G < 2 ? G : 2;
    static_assert(G % kBlock == 0);
    for (int g0 = 0; g0 < G; g0 += kBlock)
      EffectBlock<kBlock>(W * g0, rows);
  }

  // The B vectors of lanes from lane l0 on. A lane with fewer samples than the chunk's rows ends
  // with this chunk (or is idle): its chain runs on past its end, as nothing but its peak is kept,
  // and the peak skips those rows.
  template <int B>
  [[gnu::always_inline]] void EffectBlock(int l0, int32_t rows) {
    LaneEffects<W> fx[B];
    bool tone = false;
    bool ring = false;
    int32_t every = rows;  // the rows every live lane of the block has
    for (int g = 0; g < B; ++g) {
      fx[g].Load(lane + l0 + W * g);
      tone = tone || fx[g].anyTone;
      ring = ring || fx[g].anyRing;
    }
    for (int l = l0; l < l0 + W * B; ++l) {
      if (lane[l].active) every = std::min(every, lane[l].samples);
    }
    if (!ring) {
      EffectRows<Chains::kTone, Rows::kEveryLane>(0, every, l0, fx);
      EffectRows<Chains::kTone, Rows::kPastSomeEnd>(every, rows, l0, fx);
    } else if (!tone) {
      EffectRows<Chains::kRing, Rows::kEveryLane>(0, every, l0, fx);
      EffectRows<Chains::kRing, Rows::kPastSomeEnd>(every, rows, l0, fx);
    } else {
      EffectRows<Chains::kBoth, Rows::kEveryLane>(0, every, l0, fx);
      EffectRows<Chains::kBoth, Rows::kPastSomeEnd>(every, rows, l0, fx);
    }
    for (int g = 0; g < B; ++g)
      fx[g].Store(lane + l0 + W * g);
  }

  template <Chains kChains, Rows kRows, int B>
  [[gnu::always_inline]] void EffectRows(int32_t from, int32_t to, int l0,
                                         LaneEffects<W> (&fx)[B]) {
    for (int32_t i = from; i < to; ++i) {
#pragma GCC unroll 4
      for (int g = 0; g < B; ++g) {
        const int lg = l0 + W * g;
        LaneEffects<W>& e = fx[g];
        const F y = e.template Chain<kChains>(e.Output(wave.osc, i, lg), i);
        e.template Search<kRows>(y, i);
        StoreVec(out[i] + lg, y);
      }
    }
  }

  // The chunk's samples of every live lane into its layer's buffer.
  [[gnu::always_inline]] void CopyOut() {
    if constexpr (kLanes == 1) {
      const Lane& c = lane[0];
      if (c.active) std::memcpy(c.job.out + c.rendered, out, c.samples * sizeof(float));
      return;
    }
    for (int l0 = 0; l0 < kLanes; l0 += W) {
      int32_t whole = kChunk;  // samples every live lane of the vector has
      for (int l = l0; l < l0 + W; ++l) {
        if (lane[l].active) whole = std::min(whole, lane[l].samples);
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
          const Lane& c = lane[l0 + k];
          if (c.active) StoreVec(c.job.out + c.rendered + i0, r[k]);
        }
      }
      for (int l = l0; l < l0 + W; ++l) {
        const Lane& c = lane[l];
        if (!c.active) continue;
        for (int32_t i = i0; i < c.samples; ++i)
          c.job.out[c.rendered + i] = out[i][l];
      }
    }
  }
};

// The next layer for a lane; one with no samples is done as it comes.
bool TakeJob(const std::function<bool(LayerJob&)>& next,
             const std::function<void(const LayerJob&)>& done, LayerJob& job) {
  while (next(job)) {
    if (job.plan->kind == LayerKind::kDrum) {
      throw std::invalid_argument("drum layers are rendered from the sample bank, not in lanes");
    }
    if (job.plan->len > 0) return true;
    done(job);
  }
  return false;
}

// Every layer `next` gives, a lane's worth at a time, each finished layer handed to `done`.
template <int W, int G>
[[gnu::always_inline]] inline void RunLanes(const std::function<bool(LayerJob&)>& next,
                                            const std::function<void(const LayerJob&)>& done,
                                            SimdPath path, Lanes<W, G>& s) {
  for (int l = 0; l < W * G; ++l)
    s.Idle(l);
  LayerJob job;
  while (true) {
    // Each live lane runs a chunk, or what is left of its layer. A lane without a layer asks
    // for one; when there is none for now, it waits idle and asks again after the next chunk:
    // the lanes that run finish their layers, which makes room for more.
    int32_t rows = 0;
    bool asked = false;
    for (int l = 0; l < W * G; ++l) {
      if (!s.lane[l].active) {
        if (asked || !TakeJob(next, done, job)) {
          asked = true;  // one refusal a chunk is enough
          continue;
        }
        s.Start(l, job);
      }
      rows = std::max(rows, s.Plan(l, path));
    }
    if (rows == 0) break;
    s.Run(rows);
    for (int l = 0; l < W * G; ++l) {
      if (!s.lane[l].active || !s.MoveOn(l)) continue;
      s.Finish(l, path);
      done(s.lane[l].job);
      s.Idle(l);
    }
  }
}

// Fresh lanes in the room, or in `own` when there is none.
template <typename L>
L& NewLanes(LaneRoom* room, LaneRoom& own) {
  static_assert(std::is_trivially_destructible_v<L>);
  return *new ((room ? room : &own)->Take(sizeof(L))) L();
}

// The lanes of a path: as many layers side by side as its vectors hold, vectors of W doubles, G
// of them so that their chains overlap (two of the widest, whose registers the running values of
// more would not fit in). Scalar code runs four lanes of one.
template <typename T>
using LanesFor = Lanes<T::kDoubles, T::kDoubles >= 8 ? 2 : 4>;

// The path's lanes and the whole loop over their chunks, compiled for its instruction set.
struct LanesKernel {
  using Signature = void(const std::function<bool(LayerJob&)>&,
                         const std::function<void(const LayerJob&)>&, SimdPath, LaneRoom*);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(const std::function<bool(LayerJob&)>& next,
                                                const std::function<void(const LayerJob&)>& done,
                                                SimdPath path, LaneRoom* room) {
    LaneRoom own;
    RunLanes(next, done, path, NewLanes<LanesFor<T>>(room, own));
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

// A lane alone is plain scalars, the same code on every path; only its vibrato follows `path`.
void RenderLayerAlone(const LayerPlan& p, float* out, SimdPath path) {
  bool taken = false;
  LaneRoom own;
  RunLanes(
      [&](LayerJob& job) {
        if (taken) return false;
        taken = true;
        job = {&p, out, 0};
        return true;
      },
      [](const LayerJob&) {}, path, NewLanes<Lanes<1, 1>>(nullptr, own));
}

}  // namespace quom
