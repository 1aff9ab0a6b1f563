// The per-sample steps of the layer effects, for renderers that fuse them into one loop. Each
// keeps the running values of its effect and rounds where the effect stores, so a chain of
// these gives the bits of the effects applied one after the other.
#pragma once

#include <cmath>
#include <cstdint>

#include "base/Rounding.h"
#include "base/Simd.h"
#include "units/modString.h"
#include "voices/Layer.h"

namespace quom::stages {

// FxHighPass, one sample at a time.
struct HighPass {
  double k;
  double lp = 0.0;
  float operator()(float in) {
    const double x = in;
    lp = (1.0 - k) * x + k * lp;
    return Single(x - lp);
  }
};

// FxDecay, one sample at a time.
struct Decay {
  double factor;
  double g = 1.0;
  float operator()(float in) {
    const float out = Single(in * g);
    g = g * factor;
    return out;
  }
};

// FxResonator, one sample at a time.
struct Resonator {
  double d;
  double feedback;
  double mix;
  double a = 0.0;
  double b = 0.0;
  constexpr Resonator(float freq, float fb, float m)
      : d(freq / 7019.0 > 2.0 ? 2.0 : freq / 7019.0), feedback(fb), mix(m) {}
  float operator()(float in) {
    const double x = in;
    b = (b + d * a) + x;
    a = (a - d * b) * feedback;
    return Single((1.0 - mix) * x + mix * b);
  }
};

// The settings of the tonal kinds' effects, for every renderer that fuses them. The bass layer's
// resonance: FxResonator(1600, 0.9, 1), fully wet.
inline constexpr Resonator kBassResonator(1600.0f, 0.9f, 1.0f);

// A cubic or arc layer's FxDecay factor and FxHighPass pole.
struct Tone {
  double factor;
  double pole;
};
inline Tone ToneOf(const LayerPlan& p) {
  if (p.kind == LayerKind::kCubic) return {0.999985, 0.92f};
  return {ArcDecayFactor(p.voiceFreq), 0.8f};
}

// A bass layer's fade-in and fade-out, cut to the layer.
struct Fades {
  int32_t in;
  int32_t out;
};
inline Fades BassFades(const LayerPlan& p) {
  return {p.fadeIn > p.len ? p.len : p.fadeIn, 3000 > p.len ? p.len : 3000};
}

// The largest magnitude seen, as FxNormalize finds it.
struct Peak {
  float m = 0.0f;
  void operator()(float v) {
    const float a = std::fabs(v);
    m = a > m ? a : m;  // a NaN never wins, as in FxNormalize
  }
  bool Silent() const { return m == 0.0f; }  // FxNormalize leaves a silent buffer as it is
  float Scale(float peak) const { return Single(static_cast<double>(peak) / m); }
};

// FxFade's gain at sample j of n, applied to v: fade-in first, then fade-out. The lengths must
// already be cut to n.
inline float Fade(float v, int32_t j, int32_t n, int32_t fadeIn, int32_t fadeOut) {
  if (j < fadeIn) v = Single((static_cast<double>(v) * j) / fadeIn);
  const int32_t fromEnd = n - j;
  if (fromEnd <= fadeOut) v = Single((static_cast<double>(v) * fromEnd) / fadeOut);
  return v;
}

// FxNormalize to `target`, then FxFade, in one pass (the fade-out several samples at a time).
void ScaleAndFade(float* out, int32_t n, const Peak& peak, float target, int32_t fadeIn,
                  int32_t fadeOut, SimdPath path = BestSimdPath());

// FxFade, several samples at a time on the vector paths.
void FadeBuffer(float* out, int32_t n, int32_t fadeIn, int32_t fadeOut,
                SimdPath path = BestSimdPath());

// The passes that need the whole tonal layer, its peak known: the normalisation and what
// follows it for the layer's kind.
void FinishLayer(const LayerPlan& p, float* out, const Peak& peak, SimdPath path = BestSimdPath());

// FxNormalize to `target`, then FxHighPass(k), in one pass.
inline void ScaleAndHighPass(float* out, int32_t n, const Peak& peak, float target, float k) {
  const bool silent = peak.Silent();
  const double s = silent ? 1.0 : peak.Scale(target);
  HighPass hp{k};
  for (int32_t i = 0; i < n; ++i)
    out[i] = hp(silent ? out[i] : Single(out[i] * s));
}

}  // namespace quom::stages
