// Reverb: two smoothing stages, scatter into the line, gather into the wet buffer, halve.
#include "units/reverb/modFXReverb.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "base/Rounding.h"
#include "base/modTools.h"

namespace quom {

namespace {

constexpr int32_t kLineMask = kReverbLineLen - 1;
constexpr double kReverbSeed = 13.0;
constexpr double kTapGainScale = 0.0007;  // ceiling of tap 0 is 128 * 0.0007 = 0.0896

}  // namespace

void DrawReverbTaps(modTools& t, ReverbTaps& taps) {
  RndSeed(t, kReverbSeed);
  for (int k = 0; k < kReverbTaps; ++k) {
    taps.TapDelay[k] = RoundToInt32(RndUniform(t) * kReverbLineLen);  // 0 .. 8192
    // (u * ceiling) * 0.0007, left to right; the ceiling falls from 128 to 64.5.
    taps.TapGain[k] = Single(RndUniform(t) * (128 - k * 0.5) * kTapGainScale);
    taps.TapPan[k] = Single(RndUniform(t));
  }
}

void ReverbStart(ReverbState& r, const ReverbTaps& taps, int32_t MixLen) {
  r.taps = taps;
  r.ReverbLine.assign(kReverbLineLen, 0.0f);
  // The last fed frame, MixLen - 8191, writes as far as MixLen + 1 through a tap of delay 8192.
  r.WetBuf.assign(static_cast<size_t>(MixLen > 0 ? MixLen : 0) + kReverbLineLen, WetFrame{});
  r.SendLp = 0.0f;
  r.TapIn = 0.0f;
  r.LinePos = 0;
  r.fed = 0;
  r.frames = ReverbFedFrames(MixLen);
  r.wetAdded = false;
}

int32_t FxReverb(modGen& g, ReverbState& r, int32_t count) {
  // Local copies of the taps and plain pointers to the buffers: the stores into the line and the
  // wet buffer then cannot touch the taps, which stay in registers.
  const std::array<int32_t, kReverbTaps> TapDelay = r.taps.TapDelay;
  const std::array<float, kReverbTaps> TapGain = r.taps.TapGain;
  const std::array<float, kReverbTaps> TapPan = r.taps.TapPan;
  float* const ReverbLine = r.ReverbLine.data();
  WetFrame* const WetBuf = r.WetBuf.data();
  float SendLp = r.SendLp;
  float TapIn = r.TapIn;
  int32_t LinePos = r.LinePos;

  const int32_t first = r.fed;
  const int32_t end = first + std::clamp(count, 0, r.frames - first);
  for (int32_t j = first; j < end; ++j) {
    const float s = g.MixBuf[j].Send;
    SendLp = Single(s * 0.3 + SendLp * 0.7);
    TapIn = Single(TapIn * 0.5 + SendLp);

    for (int k = 0; k < kReverbTaps; ++k) {
      float& cell = ReverbLine[(LinePos + TapDelay[k]) & kLineMask];  // delay 8192 wraps to 0
      cell = Single(cell + static_cast<double>(TapIn) * TapGain[k]);
    }

    LinePos = (LinePos + 1) & kLineMask;

    // The cell that has just come due; each tap sends its share to the right in proportion to
    // its pan and the rest to the left. (y * gain) is formed first, then the pan weight.
    const float y = ReverbLine[LinePos];
    for (int k = 0; k < kReverbTaps; ++k) {
      WetFrame& w = WetBuf[static_cast<size_t>(j) + TapDelay[k]];
      const double yg = static_cast<double>(y) * TapGain[k];
      w.L = Single(w.L + yg * (1.0 - TapPan[k]));
      w.R = Single(w.R + yg * TapPan[k]);
    }

    // Halved, not cleared: what stays is read again one lap (8192 frames) later.
    ReverbLine[LinePos] = ReverbLine[LinePos] * 0.5f;
  }
  r.SendLp = SendLp;
  r.TapIn = TapIn;
  r.LinePos = LinePos;
  r.fed = end;

  if (r.fed == r.frames && !r.wetAdded) {
    // Wet frames from MixLen on are dropped.
    for (int32_t i = 0; i < g.MixLen; ++i) {
      g.MixBuf[i].L = Single(g.MixBuf[i].L + static_cast<double>(WetBuf[i].L));
      g.MixBuf[i].R = Single(g.MixBuf[i].R + static_cast<double>(WetBuf[i].R));
    }
    r.wetAdded = true;
  }
  return end - first;
}

}  // namespace quom
