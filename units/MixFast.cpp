// MixSamples with vectors: the bus is three floats a frame, so W frames make three vectors of W
// values whose lanes run L R Send L R Send ... Every lane computes what the one-frame loop
// computes for its channel (gain * v, times the channel's factor, plus the bus value, rounded to
// float once), so the bits are the same.

#include "base/Rounding.h"
#include "base/Simd.h"
#include "base/VectorTypes.h"
#include "units/modGen.h"

namespace quom {

namespace {

// One group of W frames: v holds W voice samples; bus the 3W floats of those frames.
template <typename D, typename F, typename I, int W>
struct MixGroup {
  // Lane j of part q covers value q*W + j of the group: frame (q*W + j) / 3, channel % 3.
  [[gnu::always_inline]] static inline void Mix(const float* v, float* bus, double gain,
                                                const D (&factor)[3], const I (&frame)[3]) {
    const F vf = LoadVec<F>(v);
    const D gv = gain * __builtin_convertvector(vf, D);
    for (int q = 0; q < 3; ++q) {
#if defined(__clang__)
      // Clang has no shuffle by a mask held in a variable (the fuzzing build uses it).
      D spread;
      for (int j = 0; j < W; ++j)
        spread[j] = gv[frame[q][j]];
#else
      const D spread = __builtin_shuffle(gv, frame[q]);
#endif
      const F bf = LoadVec<F>(bus + q * W);
      const F out = __builtin_convertvector(spread * factor[q] + __builtin_convertvector(bf, D), F);
      StoreVec(bus + q * W, out);
    }
  }

  [[gnu::always_inline]] static inline void Run(MixFrame* mix, const float* voice, int32_t len,
                                                double gain, double left, double right, double send,
                                                const I (&frame)[3]) {
    D factor[3];
    const double channel[3] = {left, right, send};
    for (int q = 0; q < 3; ++q) {
      for (int j = 0; j < W; ++j)
        factor[q][j] = channel[(q * W + j) % 3];
    }
    float* bus = reinterpret_cast<float*>(mix);
    int32_t i = 0;
    for (; i + W <= len; i += W)
      Mix(voice + i, bus + 3 * i, gain, factor, frame);
    for (; i < len; ++i) {
      const double gv = gain * voice[i];
      MixFrame& f = mix[i];
      f.L = Single(gv * left + f.L);
      f.R = Single(gv * right + f.R);
      f.Send = Single(gv * send + f.Send);
    }
  }
};

void MixSse2(MixFrame* m, const float* v, int32_t n, double g, double l, double r, double s) {
  const I2 frame[3] = {I2{0, 0}, I2{0, 1}, I2{1, 1}};
  MixGroup<D2, F2, I2, 2>::Run(m, v, n, g, l, r, s, frame);
}
[[gnu::target("avx2")]] void MixAvx2(MixFrame* m, const float* v, int32_t n, double g, double l,
                                     double r, double s) {
  const I4 frame[3] = {I4{0, 0, 0, 1}, I4{1, 1, 2, 2}, I4{2, 3, 3, 3}};
  MixGroup<D4, F4, I4, 4>::Run(m, v, n, g, l, r, s, frame);
}
[[gnu::target("avx512f,avx512dq")]] void MixAvx512(MixFrame* m, const float* v, int32_t n, double g,
                                                   double l, double r, double s) {
  const I8 frame[3] = {I8{0, 0, 0, 1, 1, 1, 2, 2}, I8{2, 3, 3, 3, 4, 4, 4, 5},
                       I8{5, 5, 6, 6, 6, 7, 7, 7}};
  MixGroup<D8, F8, I8, 8>::Run(m, v, n, g, l, r, s, frame);
}

}  // namespace

void MixSamplesFast(modGen& g, float StartSec, float Gain, float Pan, float SendLevel,
                    const float* voice, int32_t len, SimdPath path) {
  const int64_t off = RoundToInt32(StartSec * static_cast<double>(kSampleRate));
  if (path == SimdPath::kScalar || off < 0 || off + len > g.MixLen) {
    MixSamples(g, StartSec, Gain, Pan, SendLevel, voice, len);  // the bus grows, or edge cases
    return;
  }
  MixFrame* mix = g.MixBuf.data() + off;
  const double gain = Gain;
  const double left = 1.0 - static_cast<double>(Pan);
  const double right = Pan;
  const double send = SendLevel;
  switch (path) {
    case SimdPath::kSse2:
      MixSse2(mix, voice, len, gain, left, right, send);
      break;
    case SimdPath::kAvx2:
      MixAvx2(mix, voice, len, gain, left, right, send);
      break;
    default:
      MixAvx512(mix, voice, len, gain, left, right, send);
      break;
  }
}

}  // namespace quom
