// Vibrato bends: exact values of 1 + 0.002 * sin(phase) with few library calls.
#include "synth/Vibrato.h"

#include <cmath>

namespace quom {

double VibratoBend(double phase) {
  return 1.0 + kVibratoDepth * std::sin(phase);
}

double SinApprox(double x) {
  // Reduce by the nearest multiple k of pi/2. pi/2's head has 33 bits, so k * head is exact for
  // k < 2^20 and x - k * head is exact (the two are within a factor of two); the tail brings
  // the reduced argument to within half an ulp.
  constexpr double kTwoOverPi = 6.36619772367581382433e-01;
  constexpr double kPio2Head = 1.57079632673412561417e+00;
  constexpr double kPio2Tail = 6.07710050650619224932e-11;
  constexpr double kRoundMagic = 6755399441055744.0;  // 1.5 * 2^52: adding it rounds to integer
  const double k = (x * kTwoOverPi + kRoundMagic) - kRoundMagic;
  const double r = (x - k * kPio2Head) - k * kPio2Tail;
  const double z = r * r;

  // Minimax polynomials on |r| <= pi/4 (error below 2^-58 relative).
  const double s =
      r + r * z *
              (-1.66666666666666324348e-01 +
               z * (8.33333333332248946124e-03 +
                    z * (-1.98412698298579493134e-04 +
                         z * (2.75573137070700676789e-06 + z * (-2.50507602534068634195e-08 +
                                                                z * 1.58969099521155010221e-10)))));
  const double c =
      1.0 -
      (0.5 * z -
       z * z *
           (4.16666666666666019037e-02 +
            z * (-1.38888888888741095749e-03 +
                 z * (2.48015872894767294178e-05 +
                      z * (-2.75573143513906633035e-07 +
                           z * (2.08757232129817482790e-09 + z * -1.13596475577881948265e-11))))));
  switch (static_cast<int64_t>(k) & 3) {
    case 0:
      return s;
    case 1:
      return c;
    case 2:
      return -s;
    default:
      return -c;
  }
}

namespace {

// v_0 .. v_{count-1} of the phase run. Inside one binade [2^e, 2^(e+1)) every addition of the
// step rounds the same way (the phase is a multiple of the binade's ulp, and above 2^-11 the step
// never falls on a tie), so v_i = v_0 + i * (v_1 - v_0) exactly while the run stays in the
// binade. Elsewhere the additions are made one by one.
double VibratoPhases(double phase, double* v, int32_t count) {
  int32_t i = 0;
  while (i < count) {
    v[i] = phase;
    const double next = phase + kVibratoStep;
    int exponent;
    std::frexp(phase, &exponent);  // phase in [2^(exponent-1), 2^exponent)
    const double binadeEnd = std::ldexp(1.0, exponent);
    const double step = next - phase;
    if (phase < 0x1p-11 || phase + (count - i) * step >= binadeEnd) {
      phase = next;
      ++i;
      continue;
    }
    for (int32_t j = 1; i + j < count; ++j)
      v[i + j] = phase + j * step;
    phase = phase + (count - i) * step;
    i = count;
  }
  return phase;
}

}  // namespace

double VibratoBends(double phase, double* bend, int32_t count) {
  const double end = VibratoPhases(phase, bend, count);
  if (end >= kSinApproxLimit) {
    for (int32_t i = 0; i < count; ++i)
      bend[i] = VibratoBend(bend[i]);
    return end;
  }
  for (int32_t i = 0; i < count; ++i) {
    const double v = bend[i];
    const double s = SinApprox(v);
    const double lo = 1.0 + kVibratoDepth * (s - kSinApproxError);
    const double hi = 1.0 + kVibratoDepth * (s + kSinApproxError);
    // The bend rounds the same way anywhere in the bracket: no need to ask the library.
    bend[i] = lo == hi ? lo : VibratoBend(v);
  }
  return end;
}

}  // namespace quom
