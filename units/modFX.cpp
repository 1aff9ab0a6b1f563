// Buffer effects: high-pass, resonator, normalisation, fades and decay, each in place.
#include "units/modFX.h"

#include <cmath>

#include "base/Rounding.h"

namespace quom {

void FxHighPass(float* buf, int32_t n, float k) {
  const double kd = k;
  double lp = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double x = buf[i];
    lp = (1.0 - kd) * x + kd * lp;  // (1 - k) is formed first, then multiplied by x
    buf[i] = Single(x - lp);
  }
}

void FxResonator(float* buf, int32_t n, float freq, float feedback, float mix) {
  constexpr double kRadiansPerHz = 7019.0;  // 44,100 / 2 pi, rounded: d is radians per sample
  double d = freq / kRadiansPerHz;
  if (d > 2.0) d = 2.0;
  const double fb = feedback;
  const double wet = mix;
  const double dry = 1.0 - wet;
  double a = 0.0;
  double b = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double x = buf[i];
    b = (b + d * a) + x;
    a = (a - d * b) * fb;  // uses the b just computed
    buf[i] = Single(dry * x + wet * b);
  }
}

void FxNormalize(float* buf, int32_t n, float peak) {
  float m = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    const float a = std::fabs(buf[i]);
    if (a > m) m = a;
  }
  // Nothing to scale to: leave a silent buffer silent rather than divide by zero.
  if (m == 0.0f) return;
  const double s = Single(static_cast<double>(peak) / m);  // the factor is rounded to float first
  for (int32_t i = 0; i < n; ++i)
    buf[i] = Single(buf[i] * s);
}

void FxFade(float* buf, int32_t n, int32_t fadeIn, int32_t fadeOut) {
  if (fadeIn > n) fadeIn = n;
  for (int32_t i = 0; i < fadeIn; ++i) {
    buf[i] = Single((static_cast<double>(buf[i]) * i) / fadeIn);  // product first, then quotient
  }
  if (fadeOut > n) fadeOut = n;
  for (int32_t i = 1; i <= fadeOut; ++i) {
    float& s = buf[n - i];
    s = Single((static_cast<double>(s) * i) / fadeOut);
  }
}

void FxDecay(float* buf, int32_t n, double factor) {
  double g = 1.0;
  for (int32_t i = 0; i < n; ++i) {
    buf[i] = Single(buf[i] * g);
    g = g * factor;  // one rounding per sample, not pow(factor, i)
  }
}

}  // namespace quom
