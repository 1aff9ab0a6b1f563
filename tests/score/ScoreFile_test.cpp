// Score files read from their bytes: the form the name picks, and every refusal and warning in
// the words the command line and the page both show.
#include "score/ScoreFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "score/NoteText.h"

namespace quom {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

ScoreRead Read(const std::string& name, const Bytes& bytes) {
  return ReadScoreBytes(name, bytes, {});
}

// A file that refuses leaves no records behind, whatever it held before the fault.
void ExpectRefused(const ScoreRead& r, const std::string& error, const std::string& warning = "") {
  EXPECT_EQ(r.error, error);
  EXPECT_EQ(r.warning, warning);
  EXPECT_TRUE(r.notes.empty());
}

TEST(ScoreFiles, TheNamePicksTheForm) {
  const std::string text = "0 15 60 100 25\n30 15 62 90 26\n";
  // Text only by ".txt" exactly: the same bytes under another name are 7-byte records.
  const ScoreRead asText = Read("a.txt", FromText(text));
  EXPECT_EQ(asText.error, "");
  EXPECT_EQ(FormatNoteText(asText.notes), "# start length note velocity instrument\n" + text);
  const ScoreRead asRecords = Read("a.TXT", FromText(text));
  EXPECT_EQ(asRecords.notes.size(), text.size() / kNoteRecBytes);

  // MIDI by .mid or .midi in any case; nothing else is.
  for (const char* name : {"song.mid", "SONG.MID", "x.Midi", "y.midi"})
    EXPECT_TRUE(IsMidiName(name)) << name;
  for (const char* name : {"mid", "song.mid.txt", "song.smf", ".mi", "song.midx"})
    EXPECT_FALSE(IsMidiName(name)) << name;
  ExpectRefused(
      Read("text.MIDI", FromText(text)),
      "score 'text.MIDI', byte 0: not a Standard MIDI File: it does not begin with \"MThd\"");
}

TEST(ScoreFiles, RefusalsNameTheFileAndWhere) {
  ExpectRefused(Read("bad.txt", FromText("0 15 60 100 25\n\n5 x 60 100 25\n")),
                "score 'bad.txt', line 3: length 'x' is not a whole number");
  // A record that breaks the list's invariants: by its line in text, by its index elsewhere.
  ExpectRefused(Read("neg.txt", FromText("# c\n0 15 60 100 25\n-3 15 60 100 25\n")),
                "score 'neg.txt', line 3 (record 1), field Start: Start -3 is negative");
  Bytes records =
      EncodeNoteList(std::vector<NoteRec>{{0, 15, 60, 100, 25}, {32760, 10, 60, 1, 25}});
  ExpectRefused(
      Read("long.bin", records),
      "score 'long.bin', record 1, field Length: Start + Length = 32770 is beyond tick 32767");
  ExpectRefused(Read("empty.txt", FromText("# nothing\n")),
                "score 'empty.txt' holds no note record");
  ExpectRefused(Read("short.bin", {1, 2, 3}),
                "score 'short.bin' holds no note record (3 bytes; a record is 7 bytes)");

  // One byte past the most a score may be; at the most, the reader looks at the bytes.
  ExpectRefused(Read("huge.mid", Bytes(kMaxScoreFileBytes + 1)),
                "score 'huge.mid' is larger than 64 MiB, the most a score may be");
  ExpectRefused(
      Read("full.mid", Bytes(kMaxScoreFileBytes)),
      "score 'full.mid', byte 0: not a Standard MIDI File: it does not begin with \"MThd\"");
}

TEST(ScoreFiles, WarningsComeWithRecordsAndWithRefusals) {
  Bytes records = EncodeNoteList(std::vector<NoteRec>{{0, 15, 60, 100, 25}});
  records.insert(records.end(), {9, 9});
  const ScoreRead extra = Read("extra.bin", records);
  EXPECT_EQ(extra.error, "");
  EXPECT_EQ(extra.warning,
            "score 'extra.bin' ends with 2 bytes that fill no record; they are ignored");
  EXPECT_EQ(extra.notes.size(), 1u);

  // The warning stands beside a later refusal, as the command line prints both.
  Bytes bad = EncodeNoteList(std::vector<NoteRec>{{0, 0, 60, 100, 25}});
  bad.push_back(1);
  ExpectRefused(Read("bad.bin", bad),
                "score 'bad.bin', record 0, field Length: Length 0 is less than 1 tick",
                "score 'bad.bin' ends with 1 bytes that fill no record; they are ignored");
}

TEST(ScoreFiles, MessagesForListsFromElsewhere) {
  const std::vector<NoteRec> good = {{0, 15, 60, 100, 25}};
  EXPECT_EQ(NoteListProblemMessage(good, "the embedded score"), "");
  const std::vector<NoteRec> bad = {{0, 15, 60, 100, 25}, {-1, 15, 60, 100, 25}};
  EXPECT_EQ(NoteListProblemMessage(bad, "the embedded score"),
            "the embedded score, record 1, field Start: Start -1 is negative");
  EXPECT_EQ(TooLargeToRenderMessage(ScoreOrigin("x.mid"), "why"),
            "score 'x.mid' is too large to render: why");
}

}  // namespace
}  // namespace quom
