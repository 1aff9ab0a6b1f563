// Planned layers: the lanes against the literal renderer, and planning against playing.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "render/Engine.h"
#include "render/NotePlan.h"
#include "tests/TestScores.h"
#include "tests/TestUtil.h"
#include "voices/LayerLanes.h"

namespace quom {
namespace {

// Tonal notes across the whole range of pitch, velocity and length a list can hold.
std::vector<NoteRec> TonalExtremes() {
  std::vector<NoteRec> notes;
  for (int code : {24, 25, 26, 32}) {
    for (int note : {0, 18, 45, 74, 100, 255}) {
      for (int velocity : {0, 42, 127, 255}) {
        const int16_t length = static_cast<int16_t>(1 + (note * 7 + velocity) % 60);
        notes.push_back({static_cast<int16_t>(note % 7), length, static_cast<uint8_t>(note),
                         static_cast<uint8_t>(velocity), static_cast<uint8_t>(code)});
      }
    }
  }
  return notes;
}

// Each layer rendered the literal way.
std::vector<std::vector<float>> RenderLiteral(const Engine& e,
                                              const std::vector<LayerPlan>& layers) {
  std::vector<std::vector<float>> literal(layers.size());
  for (size_t i = 0; i < layers.size(); ++i) {
    const LayerPlan& p = layers[i];
    literal[i].resize(p.len);
    modString w = p.wave;
    RenderLayerLiteral(p, w, e.samples, literal[i].data());
  }
  return literal;
}

// Renders the layers through the lanes of every path to check, ending and starting at their own
// times, and compares each with the literal rendering; with `alone`, also each layer in a lane of
// its own (with the widest vibrato: one lane is the same code on every path). The paths share one
// room for their lanes, each finding there what the one before left.
void ExpectLanesMatchLiteral(const Engine& e, const std::vector<LayerPlan>& layers, bool alone) {
  const std::vector<std::vector<float>> literal = RenderLiteral(e, layers);
  LaneRoom room;
  for (SimdPath path : test::PathsToCheck()) {
    std::vector<std::vector<float>> lanes(layers.size());
    size_t taken = 0;
    size_t finished = 0;
    RenderLayersInLanes(
        [&](LayerJob& job) {
          if (taken == layers.size()) return false;
          lanes[taken].resize(layers[taken].len);
          job = {&layers[taken], lanes[taken].data(), taken};
          ++taken;
          return true;
        },
        [&](const LayerJob&) { ++finished; }, path, &room);
    EXPECT_EQ(finished, layers.size());
    for (size_t i = 0; i < layers.size(); ++i) {
      const LayerPlan& p = layers[i];
      ASSERT_EQ(std::memcmp(literal[i].data(), lanes[i].data(), p.len * sizeof(float)), 0)
          << "layer " << i << " (kind " << static_cast<int>(p.kind) << ", len " << p.len
          << ") in the lanes of the " << SimdPathName(path) << " path";
      if (!alone || path != BestSimdPath()) continue;
      std::vector<float> one(p.len);
      RenderLayerAlone(p, one.data(), path);
      ASSERT_EQ(std::memcmp(literal[i].data(), one.data(), p.len * sizeof(float)), 0)
          << "layer " << i << " (kind " << static_cast<int>(p.kind) << ", len " << p.len
          << ") alone";
    }
  }
}

// The layers a note list plans.
void ExpectLanesMatchLiteral(const std::vector<NoteRec>& notes, bool alone) {
  Engine e;
  InitMix(e);
  const SongPlan plan = PlanSong(e, notes, kSecPerTick);
  ExpectLanesMatchLiteral(e, plan.layers, alone);
}

TEST(Layers, AloneAndInLanesAsTheLiteralRenderingOnEveryPath) {
  // Pitches from the bottom of the note range to far above the keyboard, whose oscillators
  // cannot run on the tape.
  ExpectLanesMatchLiteral(TonalExtremes(), true);
  // A hundred and sixty notes of every tonal kind at random pitches, loudness and lengths, from one
  // tick to four beats, so that the lanes' layers start and end at every offset of a chunk.
  std::vector<NoteRec> notes;
  uint32_t seed = 12345;
  auto next = [&](uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  const uint8_t codes[] = {24, 25, 26, 32};
  for (int i = 0; i < 160; ++i) {
    notes.push_back({static_cast<int16_t>(next(200)), static_cast<int16_t>(1 + next(60)),
                     static_cast<uint8_t>(next(110)), static_cast<uint8_t>(next(128)),
                     codes[next(4)]});
  }
  ExpectLanesMatchLiteral(notes, false);
}

TEST(Layers, LanesFindThePeakOfLayersThatEndInOneChunk) {
  // Arc layers below zero hertz, whose decay grows instead (1.006 a sample): their peak lies in
  // their last samples. Side by side, the rows of a chunk past one layer's end must count for the
  // peak of the layers that go on, and not for that layer's own, whose chain runs on there.
  Engine e;
  InitMix(e);
  std::vector<LayerPlan> layers;
  for (int32_t len : {200, 300, 77, 256, 129, 1000, 128, 5}) {
    LayerPlan p;
    p.kind = LayerKind::kArc;
    p.len = len;
    p.voiceFreq = -20000.0;
    p.wave.VibPhase = 3.0 * len;
    WaveInitArc(p.wave, e.tools, 220.0f + len, 0.5f, 0.2f);
    layers.push_back(p);
  }
  ExpectLanesMatchLiteral(e, layers, true);
}

TEST(Layers, LanesRefuseDrumLayers) {
  LayerPlan drum;
  drum.kind = LayerKind::kDrum;
  drum.len = 10;
  std::vector<float> out(10);
  bool given = false;
  EXPECT_THROW(RenderLayersInLanes(
                   [&](LayerJob& job) {
                     if (given) return false;
                     given = true;
                     job = {&drum, out.data(), 0};
                     return true;
                   },
                   [](const LayerJob&) {}),
               std::invalid_argument);
}

TEST(Layers, PlanningMakesTheDrawsPlayingMakes) {
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  Engine played;
  InitMix(played);
  played.samples.SmpKick.assign(16384, 0.0f);  // the drums need a bank of the right sizes
  played.samples.SmpNoise.assign(32768, 0.0f);
  played.samples.SmpPlateSmall.assign(90200, 0.0f);
  played.samples.SmpPlateMid.assign(60000, 0.0f);
  played.samples.SmpPlateBig.assign(150000, 0.0f);
  played.samples.SmpPlateBigLow.assign(150000, 0.0f);
  Engine planned = played;
  RenderSong(played, notes, kSecPerTick);
  const SongPlan plan = PlanSong(planned, notes, kSecPerTick);

  EXPECT_EQ(planned.tools.UniState, played.tools.UniState);
  EXPECT_EQ(planned.tools.BrownState, played.tools.BrownState);
  EXPECT_EQ(planned.tools.BrownLevel, played.tools.BrownLevel);
  EXPECT_EQ(planned.wave.VibPhase, played.wave.VibPhase);
  EXPECT_EQ(plan.mixLen, played.gen.MixLen);
  ASSERT_EQ(plan.noteEnd.size(), notes.size());
  EXPECT_EQ(plan.noteEnd.back(), plan.layers.size());
  float total = 0.0f;
  for (float u : plan.units)
    total = total + u;
  EXPECT_EQ(total, played.gen.ProgressTotal);
}

}  // namespace
}  // namespace quom
