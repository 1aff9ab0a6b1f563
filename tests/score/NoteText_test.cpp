// The score text: what it accepts, what it refuses (with the line), and that text and records
// convert both ways without loss.
#include "score/NoteText.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace quom {
namespace {

// Records compare equal exactly when their 7-byte forms do.
std::vector<uint8_t> Bytes(const std::vector<NoteRec>& notes) {
  return EncodeNoteList(notes);
}

std::vector<NoteRec> MustParse(std::string_view text) {
  auto parsed = ParseNoteText(text);
  if (const auto* error = std::get_if<NoteTextError>(&parsed)) {
    ADD_FAILURE() << "line " << error->line << ": " << error->message;
    return {};
  }
  return std::get<std::vector<NoteRec>>(parsed);
}

NoteTextError MustFail(std::string_view text) {
  auto parsed = ParseNoteText(text);
  if (!std::holds_alternative<NoteTextError>(parsed)) {
    ADD_FAILURE() << "accepted: " << text;
    return {};
  }
  return std::get<NoteTextError>(parsed);
}

TEST(NoteText, ReadsRecordsAroundCommentsBlankLinesTabsAndCrLf) {
  const std::string text =
      "# a header\n"
      "\n"
      "120 14 52 67 25\n"
      "  \t 0\t1 18 127 127   # a trailing comment\r\n"
      "   \r\n"
      "-32768 32767 0 255 0\n"
      "3273 3 66 27 25";  // no final line end
  const std::vector<NoteRec> want = {{120, 14, 52, 67, 25},
                                     {0, 1, 18, 127, 127},
                                     {-32768, 32767, 0, 255, 0},
                                     {3273, 3, 66, 27, 25}};
  EXPECT_EQ(Bytes(MustParse(text)), Bytes(want));
  EXPECT_TRUE(MustParse("").empty());
  EXPECT_TRUE(MustParse("# nothing but comments\n\n#\n").empty());
}

TEST(NoteText, RefusesBadLinesNamingTheLine) {
  struct Case {
    const char* text;
    size_t line;
    const char* words;  // expected somewhere in the message
  };
  const Case cases[] = {
      {"1 2 3 4\n", 1, "found 4"},
      {"# header\n\n1 2 3 4 5 6\n", 3, "found 6"},
      {"1 2 3 4 5\n1 2 3 4 5 # ok\n1 2 x 4 5\n", 3, "note 'x'"},
      {"12a 2 3 4 5\n", 1, "start '12a'"},
      {"1 2.5 3 4 5\n", 1, "length '2.5'"},
      {"1 2 3 +4 5\n", 1, "velocity '+4'"},
      {"1 2 256 4 5\n", 1, "note 256 is out of range 0 .. 255"},
      {"1 2 3 -1 5\n", 1, "velocity -1 is out of range"},
      {"1 2 3 4 1000\n", 1, "instrument 1000"},
      {"32768 2 3 4 5\n", 1, "start 32768 is out of range -32768 .. 32767"},
      {"0 -32769 3 4 5\n", 1, "length -32769"},
      {"1 2 3 4 99999999999999999999999\n", 1, "instrument 99999999999999999999999 is out"},
      {"1 2 3 4 5\r\n1,2,3,4,5\r\n", 2, "found 1"},
  };
  for (const Case& c : cases) {
    const NoteTextError error = MustFail(c.text);
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.message.find(c.words), std::string::npos) << c.text << " -> " << error.message;
  }
}

TEST(NoteText, TextAndRecordsConvertWithoutLoss) {
  // Every field at and next to its limits, in an order that is not sorted.
  std::vector<NoteRec> notes;
  for (int16_t s : {int16_t{-32768}, int16_t{-1}, int16_t{0}, int16_t{32767}}) {
    for (uint8_t byte : {uint8_t{0}, uint8_t{1}, uint8_t{127}, uint8_t{255}}) {
      notes.push_back({s, static_cast<int16_t>(-s - 1), byte, static_cast<uint8_t>(255 - byte),
                       static_cast<uint8_t>(byte ^ 0x55)});
    }
  }
  const std::string text = FormatNoteText(notes);
  EXPECT_EQ(Bytes(MustParse(text)), Bytes(notes));
  EXPECT_EQ(FormatNoteText(MustParse(text)), text);

  // The printed form is one plain line per record after the column comment.
  const std::vector<NoteRec> one = {{120, 14, 52, 67, 25}};
  EXPECT_EQ(FormatNoteText(one), "# start length note velocity instrument\n120 14 52 67 25\n");
  EXPECT_TRUE(MustParse(FormatNoteText({})).empty());
}

}  // namespace
}  // namespace quom
