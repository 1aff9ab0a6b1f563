// The progress display: the running total becomes a bar, a percentage and an elapsed time,
// refreshed at most once per 1/25-second tick. The text and timing rules are small free
// functions; the refresh itself goes to a view (the window's widgets, or a terminal line).
#pragma once

#include <cstdint>
#include <string>

#include "base/Progress.h"

namespace quom {

// Seconds since the program started, in single precision. Only differences are used.
float ClockSeconds();

// The 1/25-second tick of `now` counted from `start`: floor((now - start) * 25).
int32_t ProgressTick(float now, float start);

// The percentage caption: total * 0.0009962 as a whole percent followed by "%"; a value that
// rounds to 0 % shows the percent sign alone.
std::string PercentText(float total);

// The elapsed-time caption of a tick: the seconds as "SS.hh seconds", modulo 100 seconds.
std::string SecondsText(int32_t tick);

// The progress bar's width in twips (it follows the total one to one) and in pixels.
int32_t BarWidthTwips(float total);
int32_t TwipsToPixels(int32_t twips);

// The title's green level during playback, a falling saw-tooth of about 1.09 s: 232 at the
// moment playback starts, 255 just after each jump, near 0 just before it.
int16_t PulseGreen(float now, float playStart);

// What the progress display refreshes, in this order: events, bar, percentage, time.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // Lets the user interface handle what is pending (keys, close requests, repaints). May end
  // the program from inside.
  virtual void ProcessEvents() = 0;
  virtual void SetBar(int32_t twips) = 0;
  virtual void SetPercent(const std::string& text) = 0;
  virtual void SetTime(const std::string& text) = 0;
};

// The engine's progress sink for a view: on the common path one clock reading and one
// comparison; the view hears of it only when a call falls in a new tick.
class ProgressDisplay : public ProgressSink {
 public:
  using Clock = float (*)();
  explicit ProgressDisplay(ProgressView& view, Clock clock = ClockSeconds)
      : view_(view), clock_(clock) {}

  void Start() override { StartTime = clock_(); }
  void Progress(float total) override;
  // Shows `total` at the present tick whether or not the last call fell in a new one, so that
  // a display that outlives the render ends on all the work done.
  void Finish(float total);

  float StartTime = 0.0f;  // clock reading when synthesis started
  int32_t LastTick = 0;    // the tick of the latest refresh

 private:
  void Show(float total);

  ProgressView& view_;
  Clock clock_;
};

}  // namespace quom
