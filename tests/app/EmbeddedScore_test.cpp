// The piece built into the program: the figures every part of the engine is sized and tuned
// for (record count and blocks, field ranges, the length of the mix bus, the progress total),
// checked on the embedded bytes themselves.
#include "resources/EmbeddedScore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/Rounding.h"
#include "render/Engine.h"
#include "score/NoteText.h"

namespace quom {
namespace {

std::vector<NoteRec> Piece() {
  return DecodeNoteList(EmbeddedNoteList());
}

// The frame at which a time in ticks falls, the way the mix bus is sized and voices placed.
int32_t TickFrame(int ticks) {
  return RoundToInt32(ticks * static_cast<double>(kSecPerTick) * static_cast<double>(kSampleRate));
}

// The mix bus as sized before any note is mixed: the last note end plus one second.
int32_t SizedMixLen(const std::vector<NoteRec>& notes) {
  int32_t last = 0;
  for (const NoteRec& r : notes)
    last = std::max(last, TickFrame(r.Start + r.Length));
  return last + kSampleRate;
}

// The latest frame any voice of a record can reach. Exact for the kit, whose voices start on
// time and have fixed lengths (the open hat's follows the note, within 0.12 .. 2 s). The tonal
// voices start up to 20 ms early but never late, so the unjittered start bounds them; their
// buffers run 4,000 samples past the note, the bass's main layer 2,000 and its arc layer 4,000
// past half the note.
int32_t LatestVoiceEnd(const NoteRec& r) {
  const float startSec = Single(r.Start * static_cast<double>(kSecPerTick));
  const float lenSec = Single(r.Length * static_cast<double>(kSecPerTick));
  const int32_t off = RoundToInt32(startSec * static_cast<double>(kSampleRate));
  const auto samples = [](double sec, double tail) { return RoundToInt32(sec * 44100.0 + tail); };
  if (r.Instrument == 127) {
    switch (r.Note) {
      case 36:
        return off + 7000;
      case 38:
        return off + 32000;
      case 59:
        return off + 60000;
      case 61:
        return off + 25000;
      case 67:
      case 69:
        return off + 150000;
      case 63: {
        float hold = lenSec;
        if (hold > 2.0f) {
          hold = 2.0f;
        } else if (!(hold >= 0.12f)) {
          hold = 0.12f;
        }
        return off + samples(hold, 2000.0);
      }
      default:
        return off;
    }
  }
  if (r.Instrument >= 27 && r.Instrument <= 37) {
    return off + std::max(samples(Single(lenSec * 0.5), 4000.0), samples(lenSec, 2000.0));
  }
  return off + samples(lenSec, 4000.0);
}

TEST(EmbeddedScore, RecordsFallIntoFiveBlocksByInstrument) {
  EXPECT_EQ(EmbeddedNoteList().size(), 16786u);
  const std::vector<NoteRec> notes = Piece();
  ASSERT_EQ(notes.size(), 2398u);
  EXPECT_FALSE(CheckNoteList(notes).has_value());

  std::vector<std::pair<int, int>> blocks;  // (instrument, count) in file order
  for (const NoteRec& r : notes) {
    if (blocks.empty() || blocks.back().first != r.Instrument) blocks.push_back({r.Instrument, 0});
    ++blocks.back().second;
  }
  const std::vector<std::pair<int, int>> want = {
      {25, 1093}, {24, 124}, {32, 289}, {26, 320}, {127, 572}};
  EXPECT_EQ(blocks, want);

  std::set<int> drums;
  int quietestBass = 255;
  for (const NoteRec& r : notes) {
    if (r.Instrument == 127) drums.insert(r.Note);
    if (r.Instrument == 32) quietestBass = std::min(quietestBass, int{r.Velocity});
  }
  EXPECT_EQ(drums, (std::set<int>{36, 38, 59, 61, 63, 67, 69}));
  EXPECT_EQ(quietestBass, 42);
}

TEST(EmbeddedScore, FieldRangesAndTheirEndsAreAttained) {
  const std::vector<NoteRec> notes = Piece();
  ASSERT_FALSE(notes.empty());
  const auto range = [&](auto field) {
    const auto [lo, hi] = std::minmax_element(
        notes.begin(), notes.end(),
        [&](const NoteRec& a, const NoteRec& b) { return field(a) < field(b); });
    return std::pair<int, int>{field(*lo), field(*hi)};
  };
  EXPECT_EQ(range([](const NoteRec& r) { return int{r.Start}; }), (std::pair{0, 3273}));
  EXPECT_EQ(range([](const NoteRec& r) { return int{r.Length}; }), (std::pair{1, 59}));
  EXPECT_EQ(range([](const NoteRec& r) { return int{r.Note}; }), (std::pair{18, 74}));
  EXPECT_EQ(range([](const NoteRec& r) { return int{r.Velocity}; }), (std::pair{27, 127}));
  EXPECT_EQ(range([](const NoteRec& r) { return r.Start + r.Length; }).second, 3276);
}

TEST(EmbeddedScore, OnlyTheLastCrashReachesPastTheSizedBus) {
  const std::vector<NoteRec> notes = Piece();
  ASSERT_EQ(notes.size(), 2398u);
  const int32_t sized = SizedMixLen(notes);
  EXPECT_EQ(sized, 5253513 + 44100);

  const NoteRec& crash = notes[2395];
  EXPECT_EQ(crash.Instrument, 127);
  EXPECT_EQ(crash.Note, 69);
  EXPECT_EQ(crash.Start, 3210);
  EXPECT_EQ(TickFrame(crash.Start), 5147673);

  std::vector<size_t> past;
  int32_t final = sized;
  for (size_t i = 0; i < notes.size(); ++i) {
    const int32_t end = LatestVoiceEnd(notes[i]);
    if (end > sized) past.push_back(i);
    final = std::max(final, end);
  }
  EXPECT_EQ(past, std::vector<size_t>{2395});
  EXPECT_EQ(final, 5297673);  // the mix bus after every note is mixed
}

TEST(EmbeddedScore, NotesReportTheirShareOfProgress) {
  Engine e;
  for (const NoteRec& r : Piece()) {
    switch (r.Instrument) {
      case 25:
        ShowProgress(e, 0.3f);
        break;
      case 24:
      case 26:
        ShowProgress(e, 0.2f);
        break;
      case 32:
        ShowProgress(e, 0.1f);
        break;
      case 127:
        ShowProgress(e, 0.004f);
        break;
      default:
        ADD_FAILURE() << "instrument " << int{r.Instrument};
    }
  }
  // 1,093 x 0.3 + 124 x 0.2 + 289 x 0.1 + 320 x 0.2 + 572 x 0.004 = 447.888, summed in float.
  EXPECT_NEAR(e.gen.ProgressTotal, 447.888, 0.01);
}

TEST(EmbeddedScore, PrintsAsTextAndReadsBackUnchanged) {
  const std::vector<NoteRec> notes = Piece();
  auto parsed = ParseNoteText(FormatNoteText(notes));
  ASSERT_TRUE(std::holds_alternative<std::vector<NoteRec>>(parsed));
  const auto bytes = EncodeNoteList(std::get<std::vector<NoteRec>>(parsed));
  EXPECT_TRUE(
      std::equal(bytes.begin(), bytes.end(), EmbeddedNoteList().begin(), EmbeddedNoteList().end()));
}

}  // namespace
}  // namespace quom
