// The progress display's text and timing rules, and the once-per-tick refresh.
#include "app/ProgressDisplay.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "base/Rounding.h"

namespace quom {

float ClockSeconds() {
  // Counted from the first reading, so that single precision keeps sub-millisecond resolution
  // for hours.
  using Steady = std::chrono::steady_clock;
  static const Steady::time_point origin = Steady::now();
  return Single(std::chrono::duration<double>(Steady::now() - origin).count());
}

int32_t ProgressTick(float now, float start) {
  constexpr float kTicksPerSecond = 25.0f;
  return RoundToInt32(std::floor((static_cast<double>(now) - start) * kTicksPerSecond));
}

std::string PercentText(float total) {
  constexpr double kPercentPerUnit = 0.0009962;  // 1 / 1003.8 units, a whole run
  const int32_t percent = RoundToInt32(total * kPercentPerUnit * 100);
  // A zero shows no digit at all, only the sign.
  return percent == 0 ? "%" : std::to_string(percent) + "%";
}

std::string SecondsText(int32_t tick) {
  constexpr double kSecondsPerTick = 0.04;
  // Adding 1000.001 fixes the text at a space, four digits, a point and three decimals, so that
  // a plain cut yields "SS.hh" (and wraps at 100 s).
  const double number = tick * kSecondsPerTick + 1000.001;
  char text[40];
  std::snprintf(text, sizeof text, "%s%.15g", number >= 0 ? " " : "", number);
  const std::string s = text;
  const std::string cut = s.size() > 3 ? s.substr(3, 5) : std::string();
  return cut + " seconds";
}

int32_t BarWidthTwips(float total) {
  return RoundToInt32(total);
}

int32_t TwipsToPixels(int32_t twips) {
  constexpr double kTwipsPerPixel = 15.0;  // 1440 per inch at 96 dots per inch
  return RoundToInt32(twips / kTwipsPerPixel);
}

int16_t PulseGreen(float now, float playStart) {
  constexpr double kPhaseAhead = 0.1;           // seconds
  constexpr double kPeriodsPerSec = 0.9166667;  // one period lasts about 1.0909 s
  // The difference of the two readings is taken in double before the constants apply.
  const float t = Single((static_cast<double>(now) - playStart + kPhaseAhead) * kPeriodsPerSec);
  const float g = Single((std::floor(static_cast<double>(t)) - t + 1) * 255);
  return RoundToInt16(g);
}

void ProgressDisplay::Progress(float total) {
  const int32_t tick = ProgressTick(clock_(), StartTime);
  if (tick == LastTick) return;
  view_.ProcessEvents();
  LastTick = tick;
  Show(total);
}

void ProgressDisplay::Finish(float total) {
  LastTick = ProgressTick(clock_(), StartTime);
  Show(total);
}

void ProgressDisplay::Show(float total) {
  view_.SetBar(BarWidthTwips(total));
  view_.SetPercent(PercentText(total));
  view_.SetTime(SecondsText(LastTick));
}

}  // namespace quom
