// The percussion instrument: which buffer each note plays, its length, fades, pan and send, the
// random draws, and the note numbers that play nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "base/Rounding.h"
#include "render/Engine.h"
#include "tests/voices/Voices.h"
#include "units/modFX.h"
#include "voices/modGenDrum.h"

namespace quom {
namespace {

using test::VoiceDrum;

// A bank of the right sizes whose buffers are told apart by their content (the real one takes
// seconds to build and is tested on its own).
Engine WithSyntheticBank() {
  Engine e;
  auto fill = [](std::vector<float>& buf, int32_t n, double rate) {
    buf.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
      buf[i] = Single(0.5 * std::sin(i * rate) + 0.01);
  };
  fill(e.samples.SmpPlateSmall, 90200, 0.011);
  fill(e.samples.SmpPlateMid, 60000, 0.013);
  fill(e.samples.SmpPlateBig, 150000, 0.017);
  fill(e.samples.SmpPlateBigLow, 150000, 0.019);
  fill(e.samples.SmpKick, 16384, 0.023);
  fill(e.samples.SmpNoise, 32768, 0.029);
  RndSeed(e.tools, 2);
  return e;
}

void ExpectSameGenerators(const modTools& a, const modTools& b) {
  EXPECT_EQ(a.UniState, b.UniState);
  EXPECT_EQ(a.BrownState, b.BrownState);
  EXPECT_EQ(a.BrownLevel, b.BrownLevel);
  EXPECT_EQ(a.DiffPrev, b.DiffPrev);
  EXPECT_EQ(a.DiffState, b.DiffState);
}

TEST(Drum, Note63FollowsTheNoteLength) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float lenSec;
    int32_t samples;
  } cases[] = {{3.0f, 90200},  {2.0f, 90200}, {inf, 90200}, {0.5f, 24050}, {0.12f, 7292},
               {0.109f, 7292}, {0.05f, 7292}, {0.0f, 7292}, {-1.0f, 7292}, {nan, 7292}};
  Engine e = WithSyntheticBank();
  for (const auto& c : cases) {
    VoiceDrum(e, 63, 1.0f, 0.0f, c.lenSec);
    EXPECT_EQ(e.gen.VoiceLen, c.samples) << c.lenSec;
  }
  EXPECT_EQ(e.gen.MixLen, 90200);  // the longest stays within SmpPlateSmall
}

// Each sound's source, attack at gain 1, pan and send: in the stretch between the fades the
// voice is the source itself, and the bus gets it at the sound's pan and send.
TEST(Drum, SourcesFadeInsPansAndSends) {
  Engine proto = WithSyntheticBank();
  const modSamples& s = proto.samples;
  const struct {
    int note;
    const std::vector<float>* source;
    int32_t length, fadeIn, fadeOut;
    float pan, send;
  } sounds[] = {
      {36, &s.SmpKick, 7000, 0, 0, 0.5f, 0.1f},
      {59, &s.SmpPlateMid, 60000, 455, 8000, 0.45f, 0.2f},
      {63, &s.SmpPlateSmall, 24050, 364, 2500, 0.53f, 0.35f},
      {67, &s.SmpPlateBigLow, 150000, 91, 2500, 0.4f, 0.2f},
      {69, &s.SmpPlateBig, 150000, 91, 2500, 0.6f, 0.2f},
  };
  for (const auto& d : sounds) {
    SCOPED_TRACE(d.note);
    Engine e = proto;
    VoiceDrum(e, d.note, 1.0f, 0.0f, 0.5f);
    const std::vector<float>& v = e.gen.VoiceBuf;
    const std::vector<float>& src = *d.source;
    ASSERT_EQ(e.gen.VoiceLen, d.length);
    if (d.fadeIn > 0) {
      EXPECT_EQ(v[0], 0.0f);
      EXPECT_EQ(v[d.fadeIn - 1], Single((src[d.fadeIn - 1] * double(d.fadeIn - 1)) / d.fadeIn));
    }
    // The first sample of the fade-out still has factor 1.
    const int32_t plainEnd = d.fadeOut > 0 ? d.length - d.fadeOut + 1 : d.length;
    for (int32_t i = d.fadeIn; i < plainEnd; ++i)
      ASSERT_EQ(v[i], src[i]) << i;
    EXPECT_EQ(v[d.length - 1] == src[d.length - 1], d.fadeOut == 0);

    ASSERT_EQ(e.gen.MixLen, d.length);
    for (int32_t i = 0; i < d.length; i += 97) {
      const MixFrame& f = e.gen.MixBuf[i];
      EXPECT_EQ(f.L, Single(v[i] * (1.0 - d.pan)));
      EXPECT_EQ(f.R, Single(v[i] * static_cast<double>(d.pan)));
      EXPECT_EQ(f.Send, Single(v[i] * static_cast<double>(d.send)));
    }
  }

  // Note 36 at gain 1 adds exactly the first 7,000 kick samples, halved into L and R and a
  // tenth into the send, and nothing past them.
  Engine e = proto;
  e.gen.MixLen = 7001;
  e.gen.MixBuf.assign(7001, MixFrame{});
  VoiceDrum(e, 36, 1.0f, 0.0f, 0.1f);
  EXPECT_EQ(e.gen.MixLen, 7001);
  for (int32_t i = 0; i < 7000; ++i) {
    ASSERT_EQ(e.gen.MixBuf[i].L, s.SmpKick[i] * 0.5f);
    ASSERT_EQ(e.gen.MixBuf[i].R, s.SmpKick[i] * 0.5f);
    ASSERT_EQ(e.gen.MixBuf[i].Send, Single(s.SmpKick[i] * static_cast<double>(0.1f)));
  }
  EXPECT_EQ(e.gen.MixBuf[7000].L, 0.0f);

  // Quieter notes: the send is a product with the gain, which MixVoice applies once more, and the
  // plates' attack grows longer.
  Engine q = proto;
  VoiceDrum(q, 36, 0.5f, 0.0f, 0.1f);
  EXPECT_EQ(q.gen.MixBuf[100].Send, Single((0.5 * s.SmpKick[100]) * double(Single(0.5 * 0.1))));
  VoiceDrum(q, 59, 0.25f, 0.0f, 0.1f);
  const int32_t fadeIn = RoundToInt32(500.0 / (0.25 + 0.1));  // 1,429 samples
  EXPECT_NE(q.gen.VoiceBuf[fadeIn - 1], s.SmpPlateMid[fadeIn - 1]);
  EXPECT_EQ(q.gen.VoiceBuf[fadeIn], s.SmpPlateMid[fadeIn]);
}

TEST(Drum, RandomDrawsOfTheSnareAndNote61) {
  Engine proto = WithSyntheticBank();

  // Notes that draw nothing.
  for (int note : {36, 59, 63, 67, 69}) {
    Engine e = proto;
    VoiceDrum(e, note, 1.0f, 0.0f, 0.5f);
    ExpectSameGenerators(e.tools, proto.tools);
  }

  // The snare: one draw for the offset into the noise, made before the copy, one for the
  // fade-in, made after the resonator.
  Engine e = proto;
  VoiceDrum(e, 38, 1.0f, 0.0f, 0.5f);
  modTools t = proto.tools;
  const double u1 = RndUniform(t);
  const double u2 = RndUniform(t);
  ExpectSameGenerators(e.tools, t);
  std::vector<float> expected(
      proto.samples.SmpNoise.begin() + RoundToInt32(u1 * 600 + 167),
      proto.samples.SmpNoise.begin() + RoundToInt32(u1 * 600 + 167) + 32000);
  FxResonator(expected.data(), 32000, 600.0f, 0.97f, 0.07f);
  FxFade(expected.data(), 32000, RoundToInt32(u2 * 700 + 480), 31000);
  FxNormalize(expected.data(), 32000, 0.2f);
  EXPECT_EQ(e.gen.VoiceBuf, expected);
  for (int note : {39, 40}) {
    Engine other = proto;
    VoiceDrum(other, note, 1.0f, 0.0f, 0.5f);
    EXPECT_EQ(other.gen.VoiceBuf, expected) << note;
  }

  // Note 61: one draw, for the first of its two fade-ins.
  Engine n61 = proto;
  VoiceDrum(n61, 61, 1.0f, 0.0f, 0.5f);
  t = proto.tools;
  const double u = RndUniform(t);
  ExpectSameGenerators(n61.tools, t);
  expected.assign(proto.samples.SmpPlateSmall.begin(), proto.samples.SmpPlateSmall.begin() + 25000);
  FxFade(expected.data(), 25000, RoundToInt32(u * 500 + 348), 24900);
  FxFade(expected.data(), 25000, 100, 24900);
  EXPECT_EQ(n61.gen.VoiceBuf, expected);
}

TEST(Drum, OtherNotesPlayNothingButCountProgress) {
  Engine e = WithSyntheticBank();
  e.gen.MixLen = 4;
  e.gen.MixBuf.assign(4, MixFrame{});
  e.gen.VoiceBuf = {1.0f, 2.0f, 3.0f};
  e.gen.VoiceLen = 3;
  const modTools before = e.tools;
  float total = 0.0f;
  for (int note : {0, 35, 37, 41, 58, 60, 62, 64, 65, 66, 68, 70, 127, -1}) {
    PlayNote(e, 0.0f, 1.0f, note, 127, 127);
    total = total + 0.004f;
    EXPECT_EQ(e.gen.ProgressTotal, total) << note;
  }
  EXPECT_EQ(e.gen.VoiceBuf, (std::vector<float>{1.0f, 2.0f, 3.0f}));
  EXPECT_EQ(e.gen.VoiceLen, 3);
  EXPECT_EQ(e.gen.MixLen, 4);
  for (const MixFrame& f : e.gen.MixBuf)
    EXPECT_EQ(f.L + f.R + f.Send, 0.0f);
  ExpectSameGenerators(e.tools, before);

  PlayNote(e, 0.0f, 1.0f, 36, 127, 127);  // a sounding drum counts the same
  EXPECT_EQ(e.gen.ProgressTotal, total + 0.004f);
  EXPECT_EQ(e.gen.VoiceLen, 7000);
}

// The fades of the vector paths divide several samples at once; the sounds stay those of the
// scalar render, bit for bit, from the quietest to the loudest note and the shortest hat.
TEST(Drum, EveryVectorPathShapesTheSameSounds) {
  Engine e = WithSyntheticBank();
  for (int32_t note : {36, 38, 39, 40, 59, 61, 63, 67, 69}) {
    for (float gain : {0.0f, 0.2f, 1.0f, 2.0f}) {
      for (float len : {0.001f, 0.3f, 3.0f}) {
        LayerPlan p;
        ASSERT_TRUE(PlanDrum(e.tools, note, gain, 0.0f, len, p));
        std::vector<float> scalar(static_cast<size_t>(p.len));
        RenderDrum(p, e.samples, scalar.data(), SimdPath::kScalar);
        for (SimdPath path : AvailableSimdPaths()) {
          std::vector<float> out(static_cast<size_t>(p.len));
          RenderDrum(p, e.samples, out.data(), path);
          ASSERT_EQ(std::memcmp(out.data(), scalar.data(), out.size() * sizeof(float)), 0)
              << "note " << note << ", gain " << gain << ", length " << len << ", "
              << SimdPathName(path);
        }
      }
    }
  }
}

TEST(Drum, RefusesToPlayWithoutTheBank) {
  Engine e;
  EXPECT_THROW(VoiceDrum(e, 36, 1.0f, 0.0f, 0.5f), std::logic_error);
  EXPECT_THROW(VoiceDrum(e, 63, 1.0f, 0.0f, 0.5f), std::logic_error);
  EXPECT_NO_THROW(VoiceDrum(e, 37, 1.0f, 0.0f, 0.5f));  // plays nothing, needs nothing
}

}  // namespace
}  // namespace quom
