// Render costs from the records alone: the layer lengths the instruments will make, the bus the
// render will need, and the limits that refuse a list before anything large is allocated.
#include "render/Budget.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/Rounding.h"
#include "render/Engine.h"
#include "render/NotePlan.h"
#include "resources/EmbeddedScore.h"
#include "tests/TestScores.h"

namespace quom {
namespace {

// Every instrument code the dispatcher tells apart, every drum selector, lengths around the
// drum's 0.12 .. 2 s bounds and up to the format's end: the estimate must size each layer
// exactly as planning does, and no layer may start after the note.
TEST(Budget, LayerLengthsAreThoseThePlannersMake) {
  Engine e;
  const int codes[] = {0, 23, 24, 25, 26, 27, 32, 37, 38, 126, 127, 128, 255};
  const int16_t lengths[] = {1, 3, 4, 5, 54, 55, 56, 1000, 32767 - 700};
  for (const int code : codes) {
    std::vector<int> notes = {0, 12, 60, 255};
    if (code == 127) {
      notes.clear();
      for (int n = 0; n < 256; ++n)
        notes.push_back(n);
    }
    for (const int16_t length : lengths) {
      for (const int note : notes) {
        const NoteRec r{700, length, static_cast<uint8_t>(note), 100, static_cast<uint8_t>(code)};
        const NoteLayers est = LayerLengths(r, kSecPerTick);
        std::vector<LayerPlan> planned;
        PlanNote(e, Single(r.Start * static_cast<double>(kSecPerTick)),
                 Single(r.Length * static_cast<double>(kSecPerTick)), r.Note, r.Velocity,
                 r.Instrument, planned);
        ASSERT_EQ(static_cast<size_t>(est.count), planned.size())
            << "code " << code << " note " << note << " length " << length;
        for (size_t i = 0; i < planned.size(); ++i) {
          EXPECT_EQ(est.len[i], planned[i].len)
              << "code " << code << " note " << note << " length " << length << " layer " << i;
          EXPECT_LE(LayerOffset(planned[i]), est.start);
        }
      }
    }
  }
}

TEST(Budget, ThePieceIsWellWithinTheLimitsAndItsBusIsExact) {
  const std::vector<NoteRec> piece = DecodeNoteList(EmbeddedNoteList());
  const RenderCost cost = EstimateRenderCost(piece, kSecPerTick);
  EXPECT_EQ(cost.records, 2398u);
  // The last crash, a drum (no jitter), sets the final length.
  EXPECT_EQ(cost.busFrames, 5297673);

  Engine e;
  const SongPlan plan = PlanSong(e, piece, kSecPerTick);
  int64_t planned = 0;
  for (const LayerPlan& p : plan.layers)
    planned += p.len;
  EXPECT_EQ(cost.voiceSamples, planned);
  EXPECT_EQ(cost.voiceSamples, 73'173'443);
  EXPECT_EQ(cost.longestLayer, 150000);
  EXPECT_FALSE(CheckRenderCost(cost));

  const std::vector<NoteRec> all = test::AllInstrumentsScore();
  const SongPlan allPlan = PlanSong(e, all, kSecPerTick);
  EXPECT_GE(EstimateRenderCost(all, kSecPerTick).busFrames, allPlan.mixLen);
}

TEST(Budget, ListsAtTheFormatsEdgeFitButHugeOnesAreRefusedWithTheirFigures) {
  // Notes of every kind ending at the last tick the format allows, a big crash among them.
  const std::vector<NoteRec> edge = {{32766, 1, 60, 127, 24},
                                     {32700, 67, 60, 127, 25},
                                     {32760, 7, 60, 127, 26},
                                     {32000, 767, 40, 127, 32},
                                     {32766, 1, 69, 127, 127}};
  const RenderCost edgeCost = EstimateRenderCost(edge, kSecPerTick);
  EXPECT_GT(edgeCost.busFrames, 52'500'000);
  EXPECT_FALSE(CheckRenderCost(edgeCost));

  // A note as long as the format allows: a 200 MB voice, refused by its record.
  const std::vector<NoteRec> whole = {{0, 4, 60, 100, 25}, {0, 32767, 60, 100, 26}};
  const auto layer = CheckRenderCost(EstimateRenderCost(whole, kSecPerTick));
  ASSERT_TRUE(layer);
  EXPECT_EQ(*layer,
            "record 1 would need a voice of 52,550,350 samples (19.9 minutes); the limit is "
            "2,650,000");
  const int16_t minute = 1650;  // ticks: 60 s
  EXPECT_FALSE(CheckRenderCost(EstimateRenderCost({{{0, minute, 60, 100, 26}}}, kSecPerTick)));
  EXPECT_TRUE(CheckRenderCost(EstimateRenderCost({{{0, minute + 1, 60, 100, 26}}}, kSecPerTick)));

  // Two hundred minute-long notes of three layers each: over a billion samples to synthesise.
  const std::vector<NoteRec> minutes(200, NoteRec{0, minute, 60, 100, 25});
  const auto voices = CheckRenderCost(EstimateRenderCost(minutes, kSecPerTick));
  ASSERT_TRUE(voices);
  EXPECT_EQ(*voices,
            "the notes would synthesise 1,061,064,600 voice samples; the limit is 1,000,000,000");

  // A million and one records that play nothing still cost a record each.
  const std::vector<NoteRec> many(1'000'001, NoteRec{0, 1, 60, 100, 0});
  const auto records = CheckRenderCost(EstimateRenderCost(many, kSecPerTick));
  ASSERT_TRUE(records);
  EXPECT_EQ(*records, "1,000,001 records; the limit is 1,000,000");

  // A slower tick stretches the bus past any limit the format alone would keep.
  const std::vector<NoteRec> slow = {{32766, 1, 60, 100, 0}};
  const auto bus = CheckRenderCost(EstimateRenderCost(slow, 1.0f));
  ASSERT_TRUE(bus);
  EXPECT_EQ(*bus,
            "the mix bus would be 1,445,068,800 frames (546.1 minutes); the limit is 52,920,000");

  // Each figure is compared with its own limit, and equal is within it.
  const RenderCost cost{10, 100, 1000, 50, 3};
  EXPECT_FALSE(CheckRenderCost(cost, {10, 100, 1000, 50}));
  EXPECT_TRUE(CheckRenderCost(cost, {9, 100, 1000, 50}));
  EXPECT_TRUE(CheckRenderCost(cost, {10, 99, 1000, 50}));
  EXPECT_TRUE(CheckRenderCost(cost, {10, 100, 999, 50}));
  EXPECT_TRUE(CheckRenderCost(cost, {10, 100, 1000, 49}));
}

}  // namespace
}  // namespace quom
