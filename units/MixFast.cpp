// MixSamples with vectors: the bus is three floats a frame, so W frames make three vectors of W
// values whose lanes run L R Send L R Send ... Every lane computes what the one-frame loop
// computes for its channel (gain * v, times the channel's factor, plus the bus value, rounded to
// float once), so the bits are the same.

#include <utility>

#include "base/Dispatch.h"
#include "base/LaneVectors.h"
#include "base/Rounding.h"
#include "units/modGen.h"

namespace quom {

namespace {

// Lane j of part Q of a group of W frames covers value Q * W + j of the group: frame
// (Q * W + j) / 3, channel (Q * W + j) % 3.
template <int W, int Q, typename D, std::size_t... J>
[[gnu::always_inline]] inline D Spread(const D& perFrame, std::index_sequence<J...>) {
  return __builtin_shufflevector(perFrame, perFrame, static_cast<int>((Q * W + J) / 3)...);
}

template <int W, int Q, typename D, typename F>
[[gnu::always_inline]] inline void MixPart(float* bus, const D& gv, const D& factor) {
  const D spread = Spread<W, Q>(gv, std::make_index_sequence<W>());
  const F bf = LoadVec<F>(bus + Q * W);
  StoreVec(bus + Q * W, Narrow<F>(spread * factor + Widen<D>(bf)));
}

struct MixKernel {
  using Signature = void(MixFrame*, const float*, int32_t, double, double, double, double);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(MixFrame* mix, const float* voice, int32_t len,
                                                double gain, double left, double right,
                                                double send) {
    constexpr int W = T::kDoubles;
    int32_t i = 0;
    if constexpr (W > 1) {
      using D = typename LaneVec<W>::D;
      using F = typename LaneVec<W>::F;
      D factor[3];
      const double channel[3] = {left, right, send};
      for (int q = 0; q < 3; ++q) {
        for (int j = 0; j < W; ++j)
          factor[q][j] = channel[(q * W + j) % 3];
      }
      float* bus = reinterpret_cast<float*>(mix);
      for (; i + W <= len; i += W) {
        const D gv = gain * Widen<D>(LoadVec<F>(voice + i));
        MixPart<W, 0, D, F>(bus + 3 * i, gv, factor[0]);
        MixPart<W, 1, D, F>(bus + 3 * i, gv, factor[1]);
        MixPart<W, 2, D, F>(bus + 3 * i, gv, factor[2]);
      }
    }
    for (; i < len; ++i) {
      const double gv = gain * voice[i];
      MixFrame& f = mix[i];
      f.L = Single(gv * left + f.L);
      f.R = Single(gv * right + f.R);
      f.Send = Single(gv * send + f.Send);
    }
  }
};

}  // namespace

void MixSamplesFast(modGen& g, float StartSec, float Gain, float Pan, float SendLevel,
                    const float* voice, int32_t len, SimdPath path) {
  const int64_t off = RoundToInt32(StartSec * static_cast<double>(kSampleRate));
  if (path == SimdPath::kScalar || off < 0 || off + len > g.MixLen) {
    MixSamples(g, StartSec, Gain, Pan, SendLevel, voice, len);  // the bus grows, or edge cases
    return;
  }
  const double left = 1.0 - static_cast<double>(Pan);
  Dispatch<MixKernel>(path, g.MixBuf.data() + off, voice, len, static_cast<double>(Gain), left,
                      static_cast<double>(Pan), static_cast<double>(SendLevel));
}

}  // namespace quom
