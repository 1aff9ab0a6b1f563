// The tonal instruments: buffer lengths, level rules, draw order and dispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "base/Rounding.h"
#include "render/Engine.h"
#include "tests/TestUtil.h"
#include "tests/voices/Voices.h"
#include "voices/modGenTonal.h"

namespace quom {
namespace {

using test::MatchesDigits;
using test::VoiceArc;
using test::VoiceBass;
using test::VoiceCubic;

// An engine with an empty bus long enough for the notes under test.
Engine FreshEngine(int32_t frames = 441000) {
  Engine e;
  InitMix(e);
  e.gen.MixLen = frames;
  e.gen.MixBuf.assign(frames, MixFrame{});
  return e;
}

TEST(Tonal, LayerLengthsIncludeTheirTails) {
  Engine e = FreshEngine();
  VoiceCubic(e, 60, 1.0f, 0.2f, 0.5f, 0.5f, 0.2f);
  EXPECT_EQ(e.gen.VoiceLen, 26050);
  VoiceArc(e, 60, 1.0f, 0.2f, 0.5f, 0.5f);
  EXPECT_EQ(e.gen.VoiceLen, 26050);
  VoiceCubic(e, 48, 0.5f, 0.2f, 0.03f, 0.5f, 0.2f);  // the octave-down layer of codes 24 and 25
  EXPECT_EQ(e.gen.VoiceLen, 5323);
}

TEST(Tonal, OctaveLayerRampsDownOverItsWholeLength) {
  Engine e = FreshEngine();
  VoiceCubic(e, 48, 0.5f, 0.2f, 0.03f, 0.5f, 0.2f);
  const std::vector<float>& v = e.gen.VoiceBuf;
  // A 6000-sample fade cut to 5323: the last sample keeps 1/5323 of its level.
  EXPECT_EQ(v[0], 0.0f);
  float peakLate = 0.0f;
  for (int i = 5000; i < 5323; ++i)
    peakLate = std::max(peakLate, std::fabs(v[i]));
  EXPECT_LT(peakLate, 0.1f * 323.0f / 5323.0f * 1.01f);
  EXPECT_NE(v[5322], 0.0f);
}

TEST(Tonal, BassLevelRules) {
  const BassMainLayer loud = BassMainLayerFor(1.0f);
  EXPECT_TRUE(MatchesDigits(loud.h, 2.857143, 7));
  EXPECT_TRUE(MatchesDigits(loud.noise, 0.24489796, 8));
  EXPECT_EQ(loud.fadeIn, 24);  // 24.4999988 rounds down
  EXPECT_EQ(loud.mixGain, 0.35f);

  const BassMainLayer atLimit = BassMainLayerFor(0.35f);
  EXPECT_EQ(atLimit.fadeIn, 200);
  EXPECT_EQ(atLimit.mixGain, 0.35f);

  const float quietGain = VelocityGain(42);
  EXPECT_TRUE(MatchesDigits(quietGain, 0.035658754, 8));
  const BassMainLayer quiet = BassMainLayerFor(quietGain);
  EXPECT_EQ(quiet.fadeIn, 19268);
  EXPECT_EQ(quiet.mixGain, quietGain);
}

TEST(Tonal, OneTickBassLayers) {
  Engine e = FreshEngine();
  const float oneTick = Single(1 * static_cast<double>(kSecPerTick));
  // Record the lengths of both layers through the voice buffer after each.
  VoiceArc(e, 30, 0.6f, 0.1f, Single(oneTick * 0.5), 0.5f);
  EXPECT_EQ(e.gen.VoiceLen, 4802);
  VoiceBass(e, 30, VelocityGain(42), 0.1f, oneTick);
  EXPECT_EQ(e.gen.VoiceLen, 3604);  // the main layer, faded in over the whole buffer
  EXPECT_EQ(e.gen.VoiceBuf[0], 0.0f);
}

TEST(Tonal, NotesAtTimeZeroAreNotMovedBeforeThePiece) {
  for (int layer = 0; layer < 3; ++layer) {
    SCOPED_TRACE(layer);
    Engine e = FreshEngine();
    if (layer == 0) VoiceCubic(e, 60, 1.0f, 0.0f, 0.2f, 0.5f, 0.2f);
    if (layer == 1) VoiceArc(e, 60, 1.0f, 0.0f, 0.2f, 0.5f);
    if (layer == 2) VoiceBass(e, 30, 1.0f, 0.0f, 0.2f);
    // The last layer mixed ends exactly VoiceLen frames after frame 0 (its last sample is never
    // silenced by the fade), so no sample was shifted off the front.
    const int32_t len = e.gen.VoiceLen;
    EXPECT_NE(e.gen.MixBuf[len - 1].R, 0.0f);
    EXPECT_EQ(e.gen.MixBuf[len + 1000].R, 0.0f);
    int32_t last = -1;
    for (int32_t i = 0; i < e.gen.MixLen; ++i)
      if (e.gen.MixBuf[i].R != 0.0f) last = i;
    EXPECT_EQ(last, len - 1);
  }
}

TEST(Tonal, DrawOrderPerLayer) {
  // VoiceCubic: 2 uniform + 128 uniform. VoiceArc: 2 uniform + 128 brown.
  // VoiceBass: 1 uniform, its arc layer, 128 brown.
  Engine e = FreshEngine();
  modTools expected;
  VoiceCubic(e, 60, 1.0f, 0.1f, 0.1f, 0.5f, 0.2f);
  for (int i = 0; i < 130; ++i)
    RndUniform(expected);
  EXPECT_EQ(e.tools.UniState, expected.UniState);
  VoiceArc(e, 60, 1.0f, 0.1f, 0.1f, 0.5f);
  for (int i = 0; i < 2; ++i)
    RndUniform(expected);
  for (int i = 0; i < 128; ++i)
    RndBrown(expected);
  EXPECT_EQ(e.tools.UniState, expected.UniState);
  EXPECT_EQ(e.tools.BrownState, expected.BrownState);
  VoiceBass(e, 30, 1.0f, 0.1f, 0.1f);
  for (int i = 0; i < 3; ++i)
    RndUniform(expected);
  for (int i = 0; i < 256; ++i)
    RndBrown(expected);
  EXPECT_EQ(e.tools.UniState, expected.UniState);
  EXPECT_EQ(e.tools.BrownLevel, expected.BrownLevel);
}

TEST(Tonal, RepeatedCallsGiveDifferentLayers) {
  Engine a = FreshEngine();
  VoiceCubic(a, 60, 1.0f, 0.1f, 0.1f, 0.5f, 0.2f);
  const std::vector<float> first = a.gen.VoiceBuf;
  VoiceCubic(a, 60, 1.0f, 0.1f, 0.1f, 0.5f, 0.2f);
  EXPECT_NE(a.gen.VoiceBuf, first);
}

struct TotalSink : ProgressSink {
  float total = 0.0f;
  void Progress(float t) override { total = t; }
};

TEST(Dispatch, ProgressUnitsPerCode) {
  const std::pair<int, float> units[] = {{24, 0.2f}, {25, 0.3f}, {26, 0.2f}, {27, 0.1f},
                                         {32, 0.1f}, {37, 0.1f}, {23, 0.0f}, {38, 0.0f}};
  for (auto [code, unit] : units) {
    SCOPED_TRACE(code);
    Engine e = FreshEngine();
    TotalSink sink;
    e.progress = &sink;
    PlayNote(e, 0.1f, 0.1f, 50, 100, code);
    EXPECT_EQ(e.gen.ProgressTotal, unit);
    EXPECT_EQ(sink.total, unit);
  }
}

TEST(Dispatch, BassCodesRenderAlike) {
  std::vector<MixFrame> reference;
  for (int code : {32, 27, 37}) {
    SCOPED_TRACE(code);
    Engine e = FreshEngine(60000);
    PlayNote(e, 0.1f, 0.2f, 30, 90, code);
    std::vector<MixFrame>& bus = e.gen.MixBuf;
    if (reference.empty()) {
      reference = bus;
      continue;
    }
    ASSERT_EQ(bus.size(), reference.size());
    for (size_t i = 0; i < bus.size(); ++i) {
      ASSERT_EQ(bus[i].L, reference[i].L) << i;
      ASSERT_EQ(bus[i].Send, reference[i].Send) << i;
    }
  }
}

TEST(Dispatch, UnknownCodesLeaveBusAndGeneratorsUntouched) {
  for (int code : {0, 23, 38, 126, 128, 255}) {
    Engine e = FreshEngine(1000);
    PlayNote(e, 0.0f, 0.1f, 60, 127, code);
    EXPECT_EQ(e.tools.UniState, 0.0);
    EXPECT_EQ(e.wave.VibPhase, 0.0);
    EXPECT_EQ(e.gen.MixLen, 1000);
  }
}

}  // namespace
}  // namespace quom
