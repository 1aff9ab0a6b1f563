// The progress display's texts, its once-per-tick refresh and the title pulse.
#include "app/ProgressDisplay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quom {
namespace {

TEST(ProgressText, PercentOfTheRunningTotal) {
  EXPECT_EQ(PercentText(0.0f), "%");
  EXPECT_EQ(PercentText(5.0f), "%");  // 0.4981 %: no digit at all
  EXPECT_EQ(PercentText(5.03f), "1%");
  EXPECT_EQ(PercentText(501.9f), "50%");
  EXPECT_EQ(PercentText(1003.9f), "100%");
  EXPECT_EQ(PercentText(1004.0f), "100%");
  EXPECT_EQ(PercentText(1510.0f), "150%");  // a longer note list runs past the end
}

TEST(ProgressText, SecondsOfATick) {
  const std::pair<int32_t, const char*> table[] = {
      {0, "00.00 seconds"},    {1, "00.04 seconds"},    {25, "01.00 seconds"},
      {132, "05.28 seconds"},  {2499, "99.96 seconds"}, {2500, "00.00 seconds"},
      {2501, "00.04 seconds"}, {2525, "01.00 seconds"},
  };
  for (const auto& [tick, caption] : table)
    EXPECT_EQ(SecondsText(tick), caption) << tick;
}

TEST(ProgressText, TicksAndBarWidth) {
  EXPECT_EQ(ProgressTick(10.0f, 10.0f), 0);
  EXPECT_EQ(ProgressTick(10.039f, 10.0f), 0);
  EXPECT_EQ(ProgressTick(10.05f, 10.0f), 1);
  EXPECT_EQ(ProgressTick(15.3f, 10.0f), 132);
  EXPECT_EQ(ProgressTick(9.99f, 10.0f), -1);  // floor, not truncation

  EXPECT_EQ(BarWidthTwips(2.0f), 2);  // narrower than the 135 twips it starts with
  EXPECT_EQ(BarWidthTwips(1003.85f), 1004);
  EXPECT_EQ(TwipsToPixels(135), 9);
  EXPECT_EQ(TwipsToPixels(7185), 479);
  EXPECT_EQ(TwipsToPixels(1004), 67);
}

// A clock the test moves by hand.
float gNow = 0.0f;
float FakeClock() {
  return gNow;
}

class RecordingView : public ProgressView {
 public:
  void ProcessEvents() override { log.push_back("events"); }
  void SetBar(int32_t twips) override { log.push_back("bar " + std::to_string(twips)); }
  void SetPercent(const std::string& text) override { log.push_back("percent " + text); }
  void SetTime(const std::string& text) override { log.push_back("time " + text); }
  std::vector<std::string> log;
};

TEST(ProgressRefresh, OncePerNewTickInTheOrderEventsBarPercentTime) {
  RecordingView view;
  ProgressDisplay display(view, FakeClock);
  gNow = 100.0f;
  display.Start();

  // Tick 0 is the initial LastTick: calls only add up.
  gNow = 100.02f;
  display.Progress(1.0f);
  display.Progress(2.0f);
  EXPECT_TRUE(view.log.empty());

  // The first call in tick 1 refreshes; further calls in the same tick do not.
  gNow = 100.05f;
  display.Progress(3.0f);
  gNow = 100.07f;
  display.Progress(4.0f);
  EXPECT_EQ(view.log,
            (std::vector<std::string>{"events", "bar 3", "percent %", "time 00.04 seconds"}));
  EXPECT_EQ(display.LastTick, 1);

  // Skipped ticks show the tick of the call, not the ones in between.
  view.log.clear();
  gNow = 105.3f;
  display.Progress(600.0f);
  EXPECT_EQ(view.log,
            (std::vector<std::string>{"events", "bar 600", "percent 60%", "time 05.28 seconds"}));

  // The last calls of a render fall in the tick just shown: the display stays behind until
  // Finish shows the whole total, in the same tick, without handling events.
  view.log.clear();
  gNow = 105.31f;
  display.Progress(1004.0f);
  EXPECT_TRUE(view.log.empty());
  display.Finish(1004.0f);
  EXPECT_EQ(view.log, (std::vector<std::string>{"bar 1004", "percent 100%", "time 05.28 seconds"}));
  // Later, at the tick it is called in.
  view.log.clear();
  gNow = 106.0f;
  display.Finish(1004.0f);
  EXPECT_EQ(view.log.back(), "time 06.00 seconds");
  EXPECT_EQ(display.LastTick, 150);
}

TEST(TitlePulse, FallingSawToothFromPlaybackStart) {
  const float start = 50.0f;
  EXPECT_EQ(PulseGreen(start, start), 232);
  EXPECT_EQ(PulseGreen(start + 0.015f, start), 228);  // the first colour update
  // The jump back to 255 comes 1 / 0.9166667 - 0.1 s after the start, then every period.
  const double period = 1 / 0.9166667;
  for (int n = 0; n < 3; ++n) {
    const double jump = start + (n + 1) * period - 0.1;
    EXPECT_LE(PulseGreen(static_cast<float>(jump - 0.002), start), 1) << n;
    EXPECT_GE(PulseGreen(static_cast<float>(jump + 0.002), start), 254) << n;
  }
  // Falling in between.
  EXPECT_GT(PulseGreen(start + 0.3f, start), PulseGreen(start + 0.6f, start));
}

}  // namespace
}  // namespace quom
