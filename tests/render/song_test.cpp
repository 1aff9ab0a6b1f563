// Note list decoding, mix bus sizing and growth, and note dispatch.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/Rounding.h"
#include "render/Engine.h"
#include "tests/TestUtil.h"

namespace quom {
namespace {

using test::MatchesDigits;

TEST(NoteList, DecodesTheExampleRecordAndIgnoresTrailingBytes) {
  const std::vector<uint8_t> bytes = {0x78, 0x00, 0x0E, 0x00, 0x34, 0x43, 0x19,  // record 0
                                      0xFF, 0xFF, 0x00, 0x80, 0x00, 0xFF, 0x7F,  // record 1
                                      0x01, 0x02, 0x03};                         // trailing
  const std::vector<NoteRec> notes = DecodeNoteList(bytes);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].Start, 120);
  EXPECT_EQ(notes[0].Length, 14);
  EXPECT_EQ(notes[0].Note, 52);
  EXPECT_EQ(notes[0].Velocity, 67);
  EXPECT_EQ(notes[0].Instrument, 25);
  EXPECT_EQ(notes[1].Start, -1);  // little-endian, signed
  EXPECT_EQ(notes[1].Length, -32768);
  EXPECT_EQ(notes[1].Velocity, 255);

  const std::vector<uint8_t> whole(bytes.begin(), bytes.begin() + 14);
  EXPECT_EQ(EncodeNoteList(notes), whole);
  EXPECT_TRUE(DecodeNoteList(std::vector<uint8_t>(6, 0x7F)).empty());
}

TEST(NoteList, CheckNamesTheRecordAndFieldThatBreaksTheInvariants) {
  std::vector<NoteRec> notes = {{0, 1, 60, 100, 25}, {32700, 67, 60, 100, 25}};
  EXPECT_FALSE(CheckNoteList(notes).has_value());  // ends exactly at tick 32767

  notes[1].Length = 68;
  auto problem = CheckNoteList(notes);
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->index, 1u);
  EXPECT_EQ(problem->field, "Length");

  notes[1] = {-1, 4, 60, 100, 25};
  problem = CheckNoteList(notes);
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->field, "Start");

  notes[1] = {10, 0, 60, 100, 25};
  problem = CheckNoteList(notes);
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->field, "Length");
}

TEST(Dispatch, VelocityGains) {
  EXPECT_EQ(VelocityGain(127), 1.0f);
  EXPECT_TRUE(MatchesDigits(VelocityGain(100), 0.34681657, 8));
  EXPECT_TRUE(MatchesDigits(VelocityGain(27), 0.019800041, 8));
  EXPECT_TRUE(MatchesDigits(VelocityGain(0), 0.0068669822, 8));
  EXPECT_TRUE(MatchesDigits(VelocityGain(255), 151.44936, 8));
}

TEST(Dispatch, NoteFrequencies) {
  EXPECT_TRUE(MatchesDigits(NoteFrequency(69), 439.99958, 8));
  EXPECT_TRUE(MatchesDigits(NoteFrequency(57), 219.99979, 8));
  EXPECT_TRUE(MatchesDigits(NoteFrequency(60), 261.62532, 8));
  EXPECT_TRUE(MatchesDigits(NoteFrequency(0), 8.1757911, 8));

  modGen g;
  NewVoice(g, 69, 5);
  EXPECT_EQ(g.VoiceLen, 5);
  EXPECT_EQ(g.VoiceBuf, std::vector<float>(5, 0.0f));
  EXPECT_EQ(g.VoiceFreq, NoteFrequency(69));
}

// A voice of `len` samples of value v.
void FillVoice(modGen& g, int32_t len, float v) {
  NewVoice(g, 0, len);
  for (float& s : g.VoiceBuf)
    s = v;
}

TEST(MixBus, PanSendAndStartFrame) {
  modGen g;
  g.MixLen = 30000;
  g.MixBuf.assign(30000, MixFrame{});
  FillVoice(g, 2, 0.5f);
  MixVoice(g, 0.5f, 2.0f, 0.0f, 0.25f);  // StartSec 0.5 -> frame 22050
  EXPECT_EQ(g.MixBuf[22049].L, 0.0f);
  EXPECT_EQ(g.MixBuf[22050].L, 1.0f);
  EXPECT_EQ(g.MixBuf[22050].R, 0.0f);  // pan 0: nothing to the right
  EXPECT_EQ(g.MixBuf[22050].Send, 0.25f);
  MixVoice(g, 0.5f, 2.0f, 1.0f, 0.0f);
  EXPECT_EQ(g.MixBuf[22051].L, 1.0f);  // pan 1 adds nothing to the left
  EXPECT_EQ(g.MixBuf[22051].R, 1.0f);
  EXPECT_EQ(g.MixBuf[22051].Send, 0.25f);

  // 0.125 s and 0.375 s are frames 5512.5 and 16537.5 exactly: ties go to the even frame.
  modGen h;
  h.MixLen = 20000;
  h.MixBuf.assign(20000, MixFrame{});
  FillVoice(h, 1, 1.0f);
  MixVoice(h, 0.125f, 1.0f, 0.5f, 0.0f);
  MixVoice(h, 0.375f, 1.0f, 0.5f, 0.0f);
  EXPECT_EQ(h.MixBuf[5512].L, 0.5f);
  EXPECT_EQ(h.MixBuf[16538].L, 0.5f);
}

TEST(MixBus, GrowsOnlyPastItsEndKeepingContents) {
  modGen g;
  g.MixLen = 100;
  g.MixBuf.assign(100, MixFrame{});
  g.MixBuf[7].L = 3.0f;
  FillVoice(g, 100, 1.0f);
  MixVoice(g, 0.0f, 1.0f, 0.5f, 0.0f);  // ends exactly at MixLen
  EXPECT_EQ(g.MixLen, 100);
  EXPECT_EQ(g.MixBuf.size(), 100u);

  FillVoice(g, 1, 1.0f);
  MixVoice(g, 100.0f / 44100.0f, 1.0f, 0.5f, 0.0f);  // one frame past the end
  EXPECT_EQ(g.MixLen, 101);
  ASSERT_EQ(g.MixBuf.size(), 101u);
  EXPECT_EQ(g.MixBuf[7].L, 3.5f);
  EXPECT_EQ(g.MixBuf[100].L, 0.5f);
}

TEST(MixBus, ChordsAddSampleBySample) {
  modGen g;
  g.MixLen = 8;
  g.MixBuf.assign(8, MixFrame{});
  NewVoice(g, 0, 3);
  g.VoiceBuf = {0.25f, -0.5f, 1.0f};
  MixVoice(g, 0.0f, 1.0f, 0.5f, 1.0f);
  g.VoiceBuf = {0.125f, 0.5f, 2.0f};
  MixVoice(g, 0.0f, 1.0f, 0.5f, 1.0f);
  EXPECT_EQ(g.MixBuf[0].Send, 0.375f);
  EXPECT_EQ(g.MixBuf[1].Send, 0.0f);
  EXPECT_EQ(g.MixBuf[2].Send, 3.0f);
}

TEST(MixBus, VectorMixingMatchesOneFrameAtATime) {
  modTools t;
  RndSeed(t, 3);
  std::vector<float> voice(1001);
  for (float& v : voice)
    v = static_cast<float>((RndUniform(t) - 0.5) * 3.0);
  modGen reference;
  reference.MixLen = 5000;
  reference.MixBuf.assign(5000, MixFrame{});
  for (MixFrame& f : reference.MixBuf)
    f = {Single(RndUniform(t)), Single(-RndUniform(t)), 0.25f};
  for (SimdPath path : AvailableSimdPaths()) {
    SCOPED_TRACE(SimdPathName(path));
    modGen fast = reference;
    modGen literal = reference;
    // Odd lengths and offsets, two voices over one another, and one reaching past the end.
    const struct {
      float start;
      int32_t len;
    } voices[] = {{0.0f, 1001}, {0.001f, 999}, {0.0013f, 7}, {0.09f, 1001}, {0.1f, 1000}};
    for (const auto& v : voices) {
      MixSamples(literal, v.start, 0.7f, 0.3f, 0.2f, voice.data(), v.len);
      MixSamplesFast(fast, v.start, 0.7f, 0.3f, 0.2f, voice.data(), v.len, path);
    }
    ASSERT_EQ(fast.MixLen, literal.MixLen);
    EXPECT_EQ(std::memcmp(fast.MixBuf.data(), literal.MixBuf.data(),
                          literal.MixBuf.size() * sizeof(MixFrame)),
              0);
  }
}

// Sink that counts what it is told.
struct CountingSink : ProgressSink {
  int starts = 0;
  int calls = 0;
  float last = 0.0f;
  void Start() override { ++starts; }
  void Progress(float total) override {
    ++calls;
    last = total;
  }
};

TEST(Score, MixLenIsTheLastEndPlusOneSecond) {
  Engine e;
  CountingSink sink;
  e.progress = &sink;
  InitMix(e);
  EXPECT_EQ(sink.starts, 1);
  EXPECT_EQ(e.gen.MixLen, 0);
  ASSERT_EQ(e.gen.MixBuf.size(), 1u);
  EXPECT_EQ(e.gen.VoiceBuf.size(), 1u);

  // Unknown codes: nothing rendered, no progress; only the sizing sees them.
  const std::vector<NoteRec> notes = {{3000, 276, 60, 127, 23},
                                      {3200, 76, 60, 127, 38},
                                      {0, 5, 60, 127, 126},
                                      {100, 1, 60, 127, 128}};
  RenderSong(e, notes, kSecPerTick);
  EXPECT_EQ(e.gen.MixLen, 5253513 + 44100);  // equal end ticks do not move it
  EXPECT_EQ(e.gen.MixBuf.size(), 5297613u);
  EXPECT_EQ(sink.calls, 0);
  EXPECT_EQ(e.gen.ProgressTotal, 0.0f);
  for (size_t i = 0; i < e.gen.MixBuf.size(); i += 4099)
    EXPECT_EQ(e.gen.MixBuf[i].L, 0.0f);
}

TEST(Score, EmptyListIsOneSecondOfSilence) {
  Engine e;
  InitMix(e);
  RenderSong(e, {}, kSecPerTick);
  EXPECT_EQ(e.gen.MixLen, 44100);
  EXPECT_EQ(e.gen.MixBuf.size(), 44100u);
}

}  // namespace
}  // namespace quom
