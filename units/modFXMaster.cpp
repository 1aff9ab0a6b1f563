// Master stage: level, envelope, gain and soft clip, one frame at a time.
#include "units/modFXMaster.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "base/Dispatch.h"
#include "base/LaneVectors.h"
#include "base/Rounding.h"

namespace quom {

namespace {

constexpr double kKnee = 32000.0;    // PCM units where the clipper starts to bend
constexpr double kHeadroom = 767.0;  // the knee approaches kKnee + 767 = 32767
// Adding and taking away 1.5 * 2^52 rounds a double below 2^51 in magnitude to an integer, to
// nearest with ties to even: what RoundToInt16 does, without a library call per sample.
constexpr double kRoundMagic = 6755399441055744.0;
constexpr float kTargetLevel = 22000.0f;  // envelope level held by the limiter; also b's start
constexpr double kLiftOffset = 11000.0;   // below the target: u = 33000 / (b + 11000)
constexpr double kLiftNumerator = 33000.0;

// One-pole envelope coefficients, single precision: 5 ms attack (1 / 220.5 samples at 44.1 kHz)
// while the level is above the envelope, 200 ms release (1 / 8820) otherwise.
constexpr float kAttack = static_cast<float>(1.0 / 220.5);
constexpr float kAttackKeep = static_cast<float>(1.0 - 1.0 / 220.5);
constexpr float kRelease = static_cast<float>(1.0 / 8820.0);
constexpr float kReleaseKeep = static_cast<float>(1.0 - 1.0 / 8820.0);

// SoftClip, inlined into the master loop.
[[gnu::always_inline]] inline int16_t SoftClipInline(float x) {
  const double xd = x;
  double value = xd;
  if (xd > kKnee) {
    const double y = xd - kKnee;
    // (767 * y) / (y + 767), in this order; the ratio tends to 1 as y grows.
    value = std::isinf(y) ? kKnee + kHeadroom : kKnee + kHeadroom * y / (y + kHeadroom);
  } else if (xd < -kKnee) {
    const double y = -kKnee - xd;
    value = std::isinf(y) ? -kKnee - kHeadroom : -kKnee - kHeadroom * y / (y + kHeadroom);
  }
  if (value != value) return 0;  // NaN falls through both tests
  // Within +-32767 here, so the rounded value fits.
  return static_cast<int16_t>((value + kRoundMagic) - kRoundMagic);
}

// The envelope after one frame: one level for both channels, then a step towards it. The right
// product is rounded to single before the comparison; the left one is taken as it is when it wins
// or ties. The envelope is a chain from frame to frame: both candidates are formed side by side,
// the choice is a lane select rather than a branch (the level crosses the envelope too often for
// one to be predicted) and only the chosen one is rounded, which is choosing the rounded one.
[[gnu::always_inline]] inline float NextEnvelope(float L, float R, float b) {
  using D = LaneVec<2>::D;
  const double left = std::fabs(static_cast<double>(L)) * kMixToPcm;
  const float right = Single(std::fabs(static_cast<double>(R)) * kMixToPcm);
  const double e = left >= right ? left : right;
  const double bd = b;
  const D ee = D{e, e};
  const D bb = D{bd, bd};
  // Lane 0 the release step, lane 1 the attack step.
  const D steps = ee * D{kRelease, kAttack} + bb * D{kReleaseKeep, kAttackKeep};
  const D release = __builtin_shufflevector(steps, steps, 0, 0);
  const D attack = __builtin_shufflevector(steps, steps, 1, 1);
  return Single((ee > bb ? attack : release)[0]);
}

// The master's work after the envelope, on W frames at once: the gain of envelope b, both
// channels scaled and clipped, each operation the one MasterFrame and SoftClipInline do, so the
// bits are theirs.
template <int W>
struct MasterLanes {
  using D = typename LaneVec<W>::D;
  using F = typename LaneVec<W>::F;
  using I = typename LaneVec<W>::I;

  [[gnu::always_inline]] static inline D Gain(const F& b) {
    const D bd = Widen<D>(b);
    const D limit = kTargetLevel / bd;  // both quotients, then the one that applies
    const D lift = kLiftNumerator / (bd + kLiftOffset);
    return Widen<D>(Narrow<F>(bd > static_cast<double>(kTargetLevel) ? limit : lift));
  }

  // SoftClipInline, with the knee's two sides computed for every lane and selected.
  [[gnu::always_inline]] static inline I Clip(const F& x) {
    constexpr double kInf = __builtin_inf();
    const D xd = Widen<D>(x);
    const D up = xd - kKnee;
    const D down = -kKnee - xd;
    const D bentUp =
        up == kInf ? kKnee + kHeadroom + D{} : kKnee + kHeadroom * up / (up + kHeadroom);
    const D bentDown =
        down == kInf ? -kKnee - kHeadroom + D{} : -kKnee - kHeadroom * down / (down + kHeadroom);
    D value = xd > kKnee ? bentUp : (xd < -kKnee ? bentDown : xd);
    value = value != value ? D{} + 0.0 : value;  // NaN falls through both tests
    return Narrow<I>((value + kRoundMagic) - kRoundMagic);
  }

  // Frames of L and R, scaled by the gain u and clipped.
  [[gnu::always_inline]] static inline void Frames(const F& L, const F& R, const D& u, I& outL,
                                                   I& outR) {
    outL = Clip(Narrow<F>(Widen<D>(L) * kMixToPcm * u));
    outR = Clip(Narrow<F>(Widen<D>(R) * kMixToPcm * u));
  }
};

// W frames of PCM: 2W values as 32-bit lanes, then as the 16-bit samples.
template <int W>
struct PcmLanes {
  typedef int32_t Pair __attribute__((vector_size(8 * W)));
  typedef int16_t Out __attribute__((vector_size(4 * W)));
  typedef float Floats __attribute__((vector_size(8 * W)));  // two vectors of W floats
};

template <int W, std::size_t... J>
[[gnu::always_inline]] inline void StoreInterleaved(int16_t* pcm, const typename LaneVec<W>::I& l,
                                                    const typename LaneVec<W>::I& r,
                                                    std::index_sequence<J...>) {
  using Pair = typename PcmLanes<W>::Pair;
  using Out = typename PcmLanes<W>::Out;
  const Pair both = __builtin_shufflevector(l, r, static_cast<int>(J / 2 + (J % 2) * W)...);
  StoreVec(pcm, __builtin_convertvector(both, Out));
}

// Channel C (0 = L, 1 = R) of W frames from the 3 * W floats at `frames`.
template <int W, int C, std::size_t... J>
[[gnu::always_inline]] inline typename LaneVec<W>::F Channel(const float* frames,
                                                             std::index_sequence<J...>) {
  using F = typename LaneVec<W>::F;
  using Two = typename PcmLanes<W>::Floats;
  const F a = LoadVec<F>(frames), b = LoadVec<F>(frames + W), c = LoadVec<F>(frames + 2 * W);
  const Two ab = __builtin_shufflevector(a, b, static_cast<int>(J)..., static_cast<int>(W + J)...);
  const Two cc = __builtin_shufflevector(c, c, static_cast<int>(J)..., static_cast<int>(J)...);
  // Lane 3j + C lies in ab below 2W and in cc's first half from there: the same index either way.
  return __builtin_shufflevector(ab, cc, static_cast<int>(3 * J + C)...);
}

// One frame as the frame loop does it, the envelope b carried on.
[[gnu::always_inline]] inline void MasterFrame(const MixFrame& f, int16_t* pcm, float& b) {
  b = NextEnvelope(f.L, f.R, b);
  const float u = b > kTargetLevel ? Single(kTargetLevel / static_cast<double>(b))
                                   : Single(kLiftNumerator / (b + kLiftOffset));
  // (sample * 200000) * u, rounded to single before the clipper.
  pcm[0] = SoftClipInline(Single(f.L * kMixToPcm * u));
  pcm[1] = SoftClipInline(Single(f.R * kMixToPcm * u));
}

// The PCM of n frames, carrying the envelope b. The envelope is a chain from frame to frame and
// stays scalar; the gains and the clipper of each group of W frames go in vectors while the
// chain runs on through the next group, so that they fill the chain's waiting time. Two lanes
// gain less than the select of both sides of the knee costs: they keep the frame loop, whose
// clipper bends only the samples beyond the knee.
struct MasterKernel {
  using Signature = void(const MixFrame*, int16_t*, int32_t, float&);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(const MixFrame* bus, int16_t* pcm, int32_t n,
                                                float& envelope) {
    constexpr int W = T::kDoubles;
    float b = envelope;
    int32_t i = 0;
    if constexpr (W >= 4) {
      using L = MasterLanes<W>;
      using F = typename L::F;
      using I = typename L::I;
      constexpr auto lanes = std::make_index_sequence<W>();
      alignas(64) float levels[2][W];  // the envelopes of this group and of the one before
      for (; i + W <= n; i += W) {
        float* now = levels[(i / W) & 1];
        for (int k = 0; k < W; ++k) {
          b = NextEnvelope(bus[i + k].L, bus[i + k].R, b);
          now[k] = b;
        }
        if (i > 0) {
          const float* frames = reinterpret_cast<const float*>(bus + i - W);
          const float* before = levels[((i / W) & 1) ^ 1];
          I l, r;
          L::Frames(Channel<W, 0>(frames, lanes), Channel<W, 1>(frames, lanes),
                    L::Gain(LoadVec<F>(before)), l, r);
          StoreInterleaved<W>(pcm + 2 * (i - W), l, r, std::make_index_sequence<2 * W>());
        }
      }
      if (i > 0) {  // the last whole group
        const float* frames = reinterpret_cast<const float*>(bus + i - W);
        I l, r;
        L::Frames(Channel<W, 0>(frames, lanes), Channel<W, 1>(frames, lanes),
                  L::Gain(LoadVec<F>(levels[((i / W) & 1) ^ 1])), l, r);
        StoreInterleaved<W>(pcm + 2 * (i - W), l, r, std::make_index_sequence<2 * W>());
      }
    }
    for (; i < n; ++i)
      MasterFrame(bus[i], pcm + 2 * i, b);
    envelope = b;
  }
};

}  // namespace

int16_t SoftClip(float x) {
  return SoftClipInline(x);
}

void FxMaster(const modGen& g, std::span<int16_t> PcmBuf) {
  if (g.MixLen <= 0) return;
  if (PcmBuf.size() / 2 < static_cast<size_t>(g.MixLen)) {
    throw std::length_error("FxMaster: PcmBuf holds fewer than 2 * MixLen values");
  }
  float b = kMasterStartLevel;
  FxMasterFrames(g, PcmBuf, 0, g.MixLen, b);
}

void FxMasterFrames(const modGen& g, std::span<int16_t> PcmBuf, int32_t from, int32_t to,
                    float& envelope) {
  if (from < 0 || to > g.MixLen || from > to || PcmBuf.size() / 2 < static_cast<size_t>(to)) {
    throw std::length_error("FxMasterFrames: frames outside the bus or PcmBuf");
  }
  float b = envelope;
  for (int32_t i = from; i < to; ++i)
    MasterFrame(g.MixBuf[i], PcmBuf.data() + 2 * static_cast<size_t>(i), b);
  envelope = b;
}

void FxMasterFramesFast(const modGen& g, std::span<int16_t> PcmBuf, int32_t from, int32_t to,
                        float& envelope, SimdPath path) {
  if (from < 0 || to > g.MixLen || from > to || PcmBuf.size() / 2 < static_cast<size_t>(to)) {
    throw std::length_error("FxMasterFrames: frames outside the bus or PcmBuf");
  }
  Dispatch<MasterKernel>(path, g.MixBuf.data() + from,
                         PcmBuf.data() + 2 * static_cast<size_t>(from), to - from, envelope);
}

}  // namespace quom
