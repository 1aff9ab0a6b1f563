// The reverb's rounds: the send smoothed a round ahead, the line pieces, the wet pieces, and the
// gate that lets the kernels split only where the split rounds as a conversion does.
#include "units/reverb/ReverbLaps.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/Rounding.h"

namespace quom {

namespace {

constexpr int32_t kLap = kReverbLineLen;
constexpr int32_t kRound = kReverbRound;
constexpr int32_t kChunk = kReverbChunk;

// Inputs whose nonzero magnitudes are at least 2^-96 / gain, for the smallest nonzero gain: every
// nonzero product is then at least 2^-97 (after its roundings), a double whose last bit is worth
// 2^-149 or more, and so are the float sums of such products. Below the normal range of float
// such a sum is exact in double and a float already, which the split leaves as it is.
double SplitFloor(const std::array<double, kReverbTaps>& gains) {
  double smallest = 0.0;
  for (const double gain : gains) {
    const double g = std::fabs(gain);
    if (g != 0.0 && (smallest == 0.0 || g < smallest)) smallest = g;
  }
  return smallest == 0.0 ? 0.0 : 0x1p-96 / smallest;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The gate.

ReverbSplitGate::ReverbSplitGate(ReverbRounding rounding, const ReverbLapTaps& taps)
    : rounding_(rounding),
      lineFloor_(SplitFloor(taps.lineGain)),
      wetFloor_(std::max(SplitFloor(taps.wetGainLeft), SplitFloor(taps.wetGainRight))) {
  Restart();
}

void ReverbSplitGate::Restart() {
  tapInSmall_ = tapInSmallBefore_ = tapInLarge_ = false;
  yFits_.fill(true);
  yFitsBefore_ = true;
}

void ReverbSplitGate::SawSend(const Check& c) {
  tapInSmallBefore_ = tapInSmall_;
  tapInSmall_ = c.Small();
  tapInLarge_ = tapInLarge_ || c.Large();  // the line carries a large value on, lap after lap
}

void ReverbSplitGate::SawLines(int32_t piece, bool fits) {
  yFits_[piece] = fits;
}

void ReverbSplitGate::NextRound() {
  yFitsBefore_ = std::all_of(yFits_.begin(), yFits_.end(), [](bool f) { return f; });
}

bool ReverbSplitGate::LinesMaySplit() const {
  return rounding_ == ReverbRounding::kSplit && !tapInLarge_ && !tapInSmall_ && !tapInSmallBefore_;
}

bool ReverbSplitGate::WetMaySplit() const {
  // The wet frames read y a lap back, into the round before.
  return rounding_ == ReverbRounding::kSplit && yFitsBefore_ &&
         std::all_of(yFits_.begin(), yFits_.end(), [](bool f) { return f; });
}

// ---------------------------------------------------------------------------------------------
// The rounds.

ReverbLaps::ReverbLaps(const ReverbTaps& taps, SimdPath path, ReverbRounding rounding)
    : taps_(SortReverbTaps(taps)),
      convert_(PickReverbLapKernels(path, ReverbRounding::kConvert)),
      split_(PickReverbLapKernels(path, ReverbRounding::kSplit)),
      gate_(rounding, taps_) {}

void ReverbLaps::Run(modGen& g, Runner& runner) {
  MixLen_ = g.MixLen;
  lastFrame_ = ReverbFedFrames(MixLen_) - 1;
  base_ = 0;
  tapIn_.assign(kLap + kRound, 0.0);
  y_.assign(kLap + kRound, 0.0);
  SendLp_ = 0.0f;
  TapIn_ = 0.0f;
  gate_.Restart();

  const int32_t rounds = (std::max(MixLen_, 0) + kRound - 1) / kRound;
  const auto framesBefore = [&] { runner.FramesFinal(base_ - kRound, std::min(base_, MixLen_)); };
  SmoothSend(g, 0);
  for (int32_t round = 0; round < rounds; ++round) {
    const ReverbLineKernel line = (gate_.LinesMaySplit() ? split_ : convert_).line;
    runner.Run(
        kReverbLinePieces, [this, line](int32_t piece) { Lines(piece, line); },
        [&] {
          // The round before is final: handed on while the lines are computed.
          if (round > 0) framesBefore();
        });
    const ReverbWetKernel wet = (gate_.WetMaySplit() ? split_ : convert_).wet;
    runner.Run(
        kReverbWetPieces, [this, &g, wet](int32_t piece) { Wet(g, piece, wet); },
        [&] {
          // The wet pieces read y and write L and R; the send reads Send alone.
          if (round + 1 < rounds) SmoothSend(g, base_ + kRound);
        });
    runner.RoundDone(std::min(base_ + kRound, lastFrame_ + 1));
    NextRound();
  }
  if (rounds > 0) framesBefore();
}

void ReverbLaps::SmoothSend(const modGen& g, int32_t from) {
  std::memmove(tapIn_.data(), tapIn_.data() + kRound, kLap * sizeof(double));
  double* out = tapIn_.data() + kLap;
  const int32_t n = std::clamp(lastFrame_ + 1 - from, 0, kRound);
  float SendLp = SendLp_;
  float TapIn = TapIn_;
  ReverbSplitGate::Check check = gate_.SendCheck();
  for (int32_t i = 0; i < n; ++i) {
    const float s = g.MixBuf[from + i].Send;
    SendLp = Single(s * 0.3 + SendLp * 0.7);
    TapIn = Single(TapIn * 0.5 + SendLp);
    out[i] = TapIn;
    check.See(TapIn);  // beside the chain of the two smoothing stages, which it does not slow
  }
  SendLp_ = SendLp;
  TapIn_ = TapIn;
  std::fill(out + n, out + kRound, 0.0);
  gate_.SawSend(check);
}

void ReverbLaps::Lines(int32_t piece, ReverbLineKernel line) {
  const int32_t p = piece * kChunk;
  bool fits = true;
  for (int32_t lap = 0; lap < kReverbRoundLaps; ++lap) {
    const int32_t at = kLap + lap * kLap + p;
    const int32_t n = std::clamp(lastFrame_ + 1 - (base_ + at - kLap), 0, kChunk);
    if (n > 0) line(taps_, tapIn_.data() + at, y_.data() + at, kChunk);
    std::fill(y_.data() + at + n, y_.data() + at + kChunk, 0.0);  // past the last fed frame
    ReverbSplitGate::Check check = gate_.LineCheck();
    check.See(y_.data() + at, n);
    fits = fits && check.Fits();
  }
  gate_.SawLines(piece, fits);
}

void ReverbLaps::Wet(modGen& g, int32_t piece, ReverbWetKernel wet) const {
  const int32_t m = piece * kChunk;
  if (base_ + m >= MixLen_) return;  // dropped, as the wet frames from MixLen on are
  MixFrame* bus = g.MixBuf.data() + base_ + m;
  const int32_t n = std::min(kChunk, MixLen_ - (base_ + m));
  // The bus frames were last touched when the notes were mixed: ask for them now, so that they
  // come in while the kernel works.
  const char* frames = reinterpret_cast<const char*>(bus);
  for (size_t at = 0; at < n * sizeof(MixFrame); at += 64)
    __builtin_prefetch(frames + at, 1, 2);
  alignas(64) float left[kChunk], right[kChunk];
  wet(taps_, y_.data() + kLap + m, left, right, kChunk);
  // The sum of two floats, rounded to double and then to float, is their float sum: a double holds
  // more than twice a float's bits and two more, so the first rounding never changes the second.
  for (int32_t i = 0; i < n; ++i) {
    bus[i].L += left[i];
    bus[i].R += right[i];
  }
}

void ReverbLaps::NextRound() {
  std::memmove(y_.data(), y_.data() + kRound, kLap * sizeof(double));
  gate_.NextRound();
  base_ += kRound;
}

}  // namespace quom
