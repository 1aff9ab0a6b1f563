// Buffer effects: high-pass, resonator, normalisation, fades and decay, each in place; and the
// passes that fuse the normalisation with the fades or the high-pass that follow it.
#include "units/modFX.h"

#include <cmath>

#include "base/Dispatch.h"
#include "base/LaneVectors.h"
#include "base/Rounding.h"

namespace quom {

void FxHighPass(float* buf, int32_t n, float k) {
  HighPass<double> hp{k};
  for (int32_t i = 0; i < n; ++i)
    buf[i] = Single(hp(buf[i]));
}

void FxResonator(float* buf, int32_t n, float freq, float feedback, float mix) {
  Resonator<double> resonator{ResonatorCoefficient(freq), feedback, mix};
  for (int32_t i = 0; i < n; ++i)
    buf[i] = Single(resonator(buf[i]));
}

void FxNormalize(float* buf, int32_t n, float peak) {
  Peak m;
  for (int32_t i = 0; i < n; ++i)
    m(buf[i]);
  // Nothing to scale to: leave a silent buffer silent rather than divide by zero.
  if (m.Silent()) return;
  const double s = m.Scale(peak);
  for (int32_t i = 0; i < n; ++i)
    buf[i] = Single(buf[i] * s);
}

void FxFade(float* buf, int32_t n, int32_t fadeIn, int32_t fadeOut) {
  // A length of 0 or less skips its side.
  fadeIn = fadeIn < 0 ? 0 : (fadeIn > n ? n : fadeIn);
  fadeOut = fadeOut < 0 ? 0 : (fadeOut > n ? n : fadeOut);
  // Only the ramps change anything; where they overlap, the fade-out follows the fade-in.
  for (int32_t j = 0; j < fadeIn; ++j)
    buf[j] = Fade(buf[j], j, n, fadeIn, fadeOut);
  const int32_t from = fadeIn > n - fadeOut ? fadeIn : n - fadeOut;
  for (int32_t j = from; j < n; ++j)
    buf[j] = Fade(buf[j], j, n, fadeIn, fadeOut);
}

void FxDecay(float* buf, int32_t n, double factor) {
  Decay<double> decay{factor};
  for (int32_t i = 0; i < n; ++i)
    buf[i] = Single(decay(buf[i]));
}

void ScaleAndHighPass(float* out, int32_t n, const Peak& peak, float target, float k) {
  const bool silent = peak.Silent();
  const double s = silent ? 1.0 : peak.Scale(target);
  HighPass<double> hp{k};
  for (int32_t i = 0; i < n; ++i)
    out[i] = Single(hp(silent ? out[i] : Single(out[i] * s)));
}

namespace {

// Samples [from, to) scaled by s (unless silent), W at a time, and faded out over the last
// fadeOut samples of n when `fade` is set: Single(Single(v * s) * (n - j) / fadeOut).
template <int W>
[[gnu::always_inline]] inline void ScaleRun(float* out, int32_t from, int32_t to, int32_t n,
                                            bool silent, double s, bool fade, int32_t fadeOut) {
  using D = typename LaneVec<W>::D;
  using F = typename LaneVec<W>::F;
  const D iota = Widen<D>(Iota<typename LaneVec<W>::I>(0));
  const D len = D{} + static_cast<double>(n);
  const D ramp = D{} + static_cast<double>(fadeOut);
  int32_t j = from;
  for (; j + W <= to; j += W) {
    D v = Widen<D>(LoadVec<F>(out + j));
    if (!silent) v = Widen<D>(Narrow<F>(v * s));
    if (fade) v = Ramp(v, len - (iota + static_cast<double>(j)), ramp);
    StoreVec(out + j, Narrow<F>(v));
  }
  for (; j < to; ++j) {
    float v = silent ? out[j] : Single(out[j] * s);
    if (fade) v = Single(Ramp<double>(v, n - j, fadeOut));
    out[j] = v;
  }
}

// The fade-in (and whatever of the fade-out overlaps it) one sample at a time, as it is short;
// the rest W samples at a time.
template <int W>
[[gnu::always_inline]] inline void ScaleAndFadeW(float* out, int32_t n, bool silent, double s,
                                                 int32_t fadeIn, int32_t fadeOut) {
  for (int32_t j = 0; j < fadeIn; ++j) {
    const float v = silent ? out[j] : Single(out[j] * s);
    out[j] = Fade(v, j, n, fadeIn, fadeOut);
  }
  const int32_t fadeFrom = n - fadeOut > fadeIn ? n - fadeOut : fadeIn;
  ScaleRun<W>(out, fadeIn, fadeFrom, n, silent, s, false, fadeOut);
  ScaleRun<W>(out, fadeFrom, n, n, silent, s, true, fadeOut);
}

// The scaled and faded layer: one sample at a time with scalars, else a register's worth of
// samples at a time outside the fade-in.
struct ScaleAndFadeKernel {
  using Signature = void(float*, int32_t, bool, double, int32_t, int32_t);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(float* out, int32_t n, bool silent, double s,
                                                int32_t fadeIn, int32_t fadeOut) {
    if constexpr (T::kDoubles == 1) {
      for (int32_t j = 0; j < n; ++j) {
        const float v = silent ? out[j] : Single(out[j] * s);
        out[j] = Fade(v, j, n, fadeIn, fadeOut);
      }
    } else {
      ScaleAndFadeW<T::kDoubles>(out, n, silent, s, fadeIn, fadeOut);
    }
  }
};

}  // namespace

void ScaleAndFade(float* out, int32_t n, const Peak& peak, float target, int32_t fadeIn,
                  int32_t fadeOut, SimdPath path) {
  if (n <= 0) return;
  if (fadeIn > n) fadeIn = n;
  if (fadeIn < 0) fadeIn = 0;
  if (fadeOut > n) fadeOut = n;
  if (fadeOut < 0) fadeOut = 0;
  const bool silent = peak.Silent();
  const double s = silent ? 1.0 : peak.Scale(target);
  Dispatch<ScaleAndFadeKernel>(path, out, n, silent, s, fadeIn, fadeOut);
}

void FadeBuffer(float* out, int32_t n, int32_t fadeIn, int32_t fadeOut, SimdPath path) {
  ScaleAndFade(out, n, Peak{}, 1.0f, fadeIn, fadeOut, path);  // a silent peak scales nothing
}

}  // namespace quom
