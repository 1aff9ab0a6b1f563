// The last pass over a tonal layer: normalisation and the fades, several samples at a time.
//
// Every sample's arithmetic is that of FxNormalize then FxFade (a product rounded to float, then
// the fade's product and quotient rounded once more), so the bits do not depend on the width.
// The fade-out's division is the costly part; vectors divide several samples at once.

#include "base/VectorTypes.h"
#include "voices/LayerStages.h"

namespace quom::stages {

namespace {

// Samples [from, to) scaled by s (unless silent), and faded out over the last fadeOut samples
// of n when `fade` is set: out = Single(Single(v * s) * (n - j) / fadeOut).
template <typename D, typename F, int W>
[[gnu::always_inline]] inline void ScaleRun(float* out, int32_t from, int32_t to, int32_t n,
                                            bool silent, double s, bool fade, int32_t fadeOut) {
  D iota;
  for (int k = 0; k < W; ++k)
    iota[k] = k;
  const double len = n;
  int32_t j = from;
  for (; j + W <= to; j += W) {
    D v = __builtin_convertvector(LoadVec<F>(out + j), D);
    if (!silent) v = __builtin_convertvector(__builtin_convertvector(v * s, F), D);
    if (fade) {
      const D fromEnd = len - (iota + static_cast<double>(j));
      v = (v * fromEnd) / static_cast<double>(fadeOut);
    }
    const F r = __builtin_convertvector(v, F);
    StoreVec(out + j, r);
  }
  for (; j < to; ++j) {
    float v = silent ? out[j] : Single(out[j] * s);
    if (fade) v = Single((static_cast<double>(v) * (n - j)) / fadeOut);
    out[j] = v;
  }
}

template <typename D, typename F, int W>
[[gnu::always_inline]] inline void ScaleAndFadeW(float* out, int32_t n, bool silent, double s,
                                                 int32_t fadeIn, int32_t fadeOut) {
  // Fade-in (and whatever of the fade-out overlaps it) one sample at a time; it is short.
  for (int32_t j = 0; j < fadeIn; ++j) {
    const float v = silent ? out[j] : Single(out[j] * s);
    out[j] = Fade(v, j, n, fadeIn, fadeOut);
  }
  const int32_t fadeFrom = n - fadeOut > fadeIn ? n - fadeOut : fadeIn;
  ScaleRun<D, F, W>(out, fadeIn, fadeFrom, n, silent, s, false, fadeOut);
  ScaleRun<D, F, W>(out, fadeFrom, n, n, silent, s, true, fadeOut);
}

void ScaleAndFadeSse2(float* o, int32_t n, bool silent, double s, int32_t in, int32_t out) {
  ScaleAndFadeW<D2, F2, 2>(o, n, silent, s, in, out);
}
[[gnu::target("avx2")]] void ScaleAndFadeAvx2(float* o, int32_t n, bool silent, double s,
                                              int32_t in, int32_t out) {
  ScaleAndFadeW<D4, F4, 4>(o, n, silent, s, in, out);
}
[[gnu::target("avx512f,avx512dq")]] void ScaleAndFadeAvx512(float* o, int32_t n, bool silent,
                                                            double s, int32_t in, int32_t out) {
  ScaleAndFadeW<D8, F8, 8>(o, n, silent, s, in, out);
}

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
  switch (path) {
    case SimdPath::kScalar:
      for (int32_t j = 0; j < n; ++j) {
        const float v = silent ? out[j] : Single(out[j] * s);
        out[j] = Fade(v, j, n, fadeIn, fadeOut);
      }
      break;
    case SimdPath::kSse2:
      ScaleAndFadeSse2(out, n, silent, s, fadeIn, fadeOut);
      break;
    case SimdPath::kAvx2:
      ScaleAndFadeAvx2(out, n, silent, s, fadeIn, fadeOut);
      break;
    case SimdPath::kAvx512:
      ScaleAndFadeAvx512(out, n, silent, s, fadeIn, fadeOut);
      break;
  }
}

void FinishLayer(const LayerPlan& p, float* out, const Peak& peak, SimdPath path) {
  if (p.kind == LayerKind::kBass) {
    ScaleAndHighPass(out, p.len, peak, p.peak, 0.975f);
  } else {
    ScaleAndFade(out, p.len, peak, 0.1f, 50, p.kind == LayerKind::kCubic ? 6000 : 5000, path);
  }
}

void FadeBuffer(float* out, int32_t n, int32_t fadeIn, int32_t fadeOut, SimdPath path) {
  ScaleAndFade(out, n, Peak{}, 1.0f, fadeIn, fadeOut, path);  // a silent peak scales nothing
}

}  // namespace quom::stages
