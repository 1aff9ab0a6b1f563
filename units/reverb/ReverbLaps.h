// The reverb a lap of the line at a time, to the bit what FxReverb gives: a round of eight laps
// computes the line's value at every position of every lap (the line pieces), then the wet
// frames from them (the wet pieces), added into L and R of the bus as they are made, while the
// next round's send is smoothed. No wet buffer beyond a round of the line's values.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/Simd.h"
#include "units/modGen.h"
#include "units/reverb/LapKernels.h"
#include "units/reverb/modFXReverb.h"

namespace quom {

constexpr int32_t kReverbRoundLaps = 8;
constexpr int32_t kReverbRound = kReverbRoundLaps * kReverbLineLen;  // frames per round
constexpr int32_t kReverbLinePieces = kReverbLineLen / kReverbChunk;
constexpr int32_t kReverbWetPieces = kReverbRound / kReverbChunk;

// Whether the kernels may round by the split in a round. The split gives the float a conversion
// gives where the round's inputs (TapIn for the line, y for the wet frames) keep every sum zero or
// a multiple of the smallest float far below the largest; the gate sees the inputs as they are
// made and answers for the round under way.
class ReverbSplitGate {
 public:
  // Inputs seen one at a time: whether each was zero or from the floor up to the ceiling.
  class Check {
   public:
    explicit Check(double floor) : floor_(floor) {}
    [[gnu::always_inline]] void See(double v) {
      const double a = std::fabs(v);
      large_ = large_ | !(a <= kCeiling);
      small_ = small_ | ((a < floor_) & (a != 0.0));
    }
    void See(const double* v, int32_t n) {
      for (int32_t i = 0; i < n; ++i)
        See(v[i]);
    }
    bool Small() const { return small_; }  // a nonzero input below the floor
    bool Large() const { return large_; }  // an input above the ceiling, or NaN
    bool Fits() const { return !small_ && !large_; }

   private:
    // The largest input the split takes: 128 products of it and a gain below 0.1, and the halved
    // line cell, stay far below the largest float.
    static constexpr double kCeiling = 0x1p100;
    double floor_;
    bool small_ = false;
    bool large_ = false;
  };

  // Splits nowhere unless `rounding` is the split; the floors come from the taps' gains.
  ReverbSplitGate(ReverbRounding rounding, const ReverbLapTaps& taps);

  // Forgets every input seen, for a reverb of another bus.
  void Restart();

  // A check of the line's inputs (a round's TapIn), and one of the wet frames' (the y a line
  // piece gives).
  Check SendCheck() const { return Check(lineFloor_); }
  Check LineCheck() const { return Check(wetFloor_); }

  // The TapIn of the next round whose lines are computed, as its smoothing saw it.
  void SawSend(const Check& c);
  // Whether the y that line piece `piece` of the round gave all fit (by LineCheck). Pieces of
  // one round may report at once.
  void SawLines(int32_t piece, bool fits);
  // On to the next round (whose send it has seen).
  void NextRound();

  // The two questions, for the round under way: may its line pieces split, once the round's
  // send is seen; may its wet pieces split, once its line pieces have all reported.
  bool LinesMaySplit() const;
  bool WetMaySplit() const;

 private:
  ReverbRounding rounding_;
  double lineFloor_;
  double wetFloor_;
  bool tapInSmall_ = false;        // TapIn of the round has values below lineFloor_
  bool tapInSmallBefore_ = false;  // ... of the round before, whose last lap the line reads too
  bool tapInLarge_ = false;        // TapIn went above the ceiling (or was NaN) at some round so far
  std::array<bool, kReverbLinePieces> yFits_{};  // each line piece's y of the round
  bool yFitsBefore_ = true;                      // every y of the round before
};

class ReverbLaps {
 public:
  // What runs a round's pieces, and who hears of the frames and rounds done: the laps know
  // nothing of threads or progress.
  class Runner {
   public:
    // Runs piece(0) .. piece(count - 1), in any order or side by side, and meanwhile beside()
    // once on the calling thread; returns once all of them have run.
    virtual void Run(int32_t count, const std::function<void(int32_t)>& piece,
                     const std::function<void()>& beside) = 0;
    // Frames [from, to) of the bus are final: nothing touches them again. In order, from frame 0
    // up to MixLen; beside the next round's line pieces, or after the last round.
    virtual void FramesFinal(int32_t from, int32_t to) = 0;
    // A round is done: the frames before `fed` have gone into the line.
    virtual void RoundDone(int32_t fed) = 0;

   protected:
    ~Runner() = default;
  };

  // A reverb with the taps given, on the kernels of `path`, rounding as given where the inputs
  // allow it.
  ReverbLaps(const ReverbTaps& taps, SimdPath path, ReverbRounding rounding);

  // Adds the reverb of the bus's Send into its L and R, a round at a time: the round's line
  // pieces, then its wet pieces beside the next round's send. Send is left as it was. Each run
  // starts afresh, so a second run on the same bus gives what the first did.
  void Run(modGen& g, Runner& runner);

 private:
  void SmoothSend(const modGen& g, int32_t from);
  void Lines(int32_t piece, ReverbLineKernel line);
  void Wet(modGen& g, int32_t piece, ReverbWetKernel wet) const;
  void NextRound();

  ReverbLapTaps taps_;
  ReverbLapKernels convert_, split_;
  ReverbSplitGate gate_;
  // The run under way.
  int32_t MixLen_ = 0;
  int32_t lastFrame_ = -1;  // the last frame fed into the line; -1 when none is
  int32_t base_ = 0;        // the first frame of the round
  // TapIn and y of the lap before the round and of the round: frame j at index j - base_ + 8192.
  std::vector<double> tapIn_, y_;
  float SendLp_ = 0.0f;
  float TapIn_ = 0.0f;
};

}  // namespace quom
