// Standard MIDI Files: files written by another program become the records worked out for them,
// time lands on the nearest tick, the map and its overrides, refusals that name the byte, and
// lists that go out and come back unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "resources/EmbeddedScore.h"
#include "score/MidiFile.h"
#include "score/NoteText.h"
#include "tests/TestScores.h"

namespace quom {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kData = fs::path(QUOM_SOURCE_DIR) / "tests" / "data" / "midi";

Bytes ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Records compare equal exactly when their 7-byte forms do; as text they print readably.
std::string Text(const std::vector<NoteRec>& notes) {
  return FormatNoteText(notes);
}

void PutBe(Bytes& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i)
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A file made byte by byte: the header, then each track's events in an MTrk chunk.
Bytes Smf(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks) {
  Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
  PutBe(out, format, 2);
  PutBe(out, static_cast<uint32_t>(tracks.size()), 2);
  PutBe(out, division, 2);
  for (const Bytes& t : tracks) {
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    PutBe(out, static_cast<uint32_t>(t.size()), 4);
    out.insert(out.end(), t.begin(), t.end());
  }
  return out;
}

MidiScore MustRead(const Bytes& bytes, const MidiReadOptions& options = {}) {
  auto read = ReadMidiFile(bytes, options);
  if (const auto* error = std::get_if<MidiError>(&read)) {
    ADD_FAILURE() << "byte " << error->offset << ": " << error->message;
    return {};
  }
  return std::get<MidiScore>(read);
}

// The file without quom's marks, as a sequencer that drops sequencer-specific events saves it:
// the writer puts each mark right after the track's name.
Bytes WithoutMarks(const Bytes& file) {
  Bytes out(file.begin(), file.begin() + 14);
  for (size_t pos = 14; pos < file.size();) {
    const size_t len = size_t{file[pos + 4]} << 24 | size_t{file[pos + 5]} << 16 |
                       size_t{file[pos + 6]} << 8 | file[pos + 7];
    Bytes data(file.begin() + static_cast<ptrdiff_t>(pos + 8),
               file.begin() + static_cast<ptrdiff_t>(pos + 8 + len));
    const size_t mark = 4 + data[3];  // past "00 FF 03 n name"
    if (data.size() > mark + 3 && data[mark + 1] == 0xFF && data[mark + 2] == 0x7F) {
      size_t end = mark + 3;
      size_t markLen = 0;
      do {
        markLen = markLen << 7 | (data[end] & 0x7F);
      } while (data[end++] & 0x80);
      data.erase(data.begin() + static_cast<ptrdiff_t>(mark),
                 data.begin() + static_cast<ptrdiff_t>(end + markLen));
    }
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    PutBe(out, static_cast<uint32_t>(data.size()), 4);
    out.insert(out.end(), data.begin(), data.end());
    pos += 8 + len;
  }
  return out;
}

std::vector<NoteRec> RoundTrip(const std::vector<NoteRec>& notes, MidiReadReport* report) {
  MidiWriteReport written;
  const Bytes file = WriteMidiFile(notes, &written);
  EXPECT_EQ(DescribeMidiReport(written), "");
  const MidiScore back = MustRead(file);
  *report = back.report;
  return back.notes;
}

TEST(MidiFiles, FilesOfAnotherWriterBecomeTheRecordsWorkedOutForThem) {
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(kData)) {
    if (entry.path().extension() != ".mid") continue;
    ++files;
    fs::path expected = entry.path();
    expected.replace_extension(".txt");
    std::ifstream in(expected);
    const std::string want{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(Text(MustRead(ReadBytes(entry.path())).notes), want) << entry.path();
  }
  EXPECT_EQ(files, 7u);

  // A bar of sixteenths at 120 beats a minute is 3.4375 ticks each: every start within half a
  // tick of its time, none drifting, and each note ending where the next begins.
  const std::vector<NoteRec> sixteenths = MustRead(ReadBytes(kData / "sixteenths_120.mid")).notes;
  ASSERT_GE(sixteenths.size(), 16u);
  for (int i = 0; i < 16; ++i) {
    EXPECT_LE(std::abs(sixteenths[i].Start - i * 3.4375), 0.5) << i;
    const int next = i < 15 ? sixteenths[i + 1].Start : 55;
    EXPECT_EQ(sixteenths[i].Start + sixteenths[i].Length, next) << i;
  }

  const MidiReadReport drums = MustRead(ReadBytes(kData / "drums.mid")).report;
  EXPECT_EQ(DescribeMidiReport(drums), "3 notes with no sound here dropped");
  EXPECT_EQ(DescribeMidiReport(MustRead(ReadBytes(kData / "extras.mid")).report),
            "1 note starting past tick 32767 dropped, 2 notes cut short at tick 32767, 1 note "
            "never released ended with their track, 4 controller, pitch bend and aftertouch "
            "events ignored");
}

TEST(MidiFiles, TimeLandsOnTheNearestTickTiesToEven) {
  // 11 ticks a quarter at 200,000 us: each MIDI tick is exactly half a list tick.
  const Bytes tempo = {0x00, 0xFF, 0x51, 0x03, 0x03, 0x0D, 0x40};
  Bytes t = tempo;
  // Presses at MIDI ticks 1, 3, 5, 7 (0.5, 1.5, 2.5, 3.5 ticks), each one MIDI tick long.
  for (uint8_t key = 60; key < 64; ++key) {
    t.insert(t.end(), {0x01, 0x90, key, 100, 0x01, key, 0});
  }
  const std::vector<NoteRec> notes = MustRead(Smf(0, 11, {t})).notes;
  // Starts 0.5, 1.5, 2.5, 3.5 round to 0, 2, 2, 4; ends 1, 2, 3, 4 to 0, 2, 4, 4: lengths of
  // 1, 0, 1, 0 ticks, and a note lasts at least one.
  EXPECT_EQ(
      Text(notes),
      Text({{0, 1, 60, 100, 25}, {2, 1, 61, 100, 25}, {2, 1, 62, 100, 25}, {4, 1, 63, 100, 25}}));

  // Tempo changes take effect at their tick, from any track: 120 bpm, then 60 bpm from beat 2.
  const Bytes conductor = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,         // 120 bpm
                           0x81, 0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40};  // beat 2: 60 bpm
  const Bytes beats = {0x00, 0x90, 60,  100,  0x81, 0x00, 60, 0,             // beat 1: 0.5 s
                       0x00, 61,   100, 0x81, 0x00, 61,   0,                 // beat 2: 1 s
                       0x00, 62,   100, 0x81, 0x00, 62,   0};
  EXPECT_EQ(Text(MustRead(Smf(1, 128, {conductor, beats})).notes),
            Text({{0, 14, 60, 100, 25}, {14, 27, 61, 100, 25}, {41, 28, 62, 100, 25}}));

  // The longest delta at the slowest tempo, many times over: far past the last tick, exactly.
  Bytes slow = {0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF, 0x00, 0x90, 60, 100};
  for (int i = 0; i < 8; ++i)
    slow.insert(slow.end(), {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x00});  // delta, empty text
  slow.insert(slow.end(), {0x00, 0x90, 62, 100, 0x00, 62, 0});
  const MidiScore far = MustRead(Smf(0, 1, {slow}));
  EXPECT_EQ(Text(far.notes), Text({{0, 32767, 60, 100, 25}}));
  EXPECT_EQ(far.report.pastEnd, 1u);
  EXPECT_EQ(far.report.cutShort, 1u);
  EXPECT_EQ(far.report.unreleased, 1u);
}

TEST(MidiFiles, TheDefaultMapTheKitAndTheOverrides) {
  // One note on every channel, channel c playing program 8 c (a family each), and the kit's
  // sounds on channel 10.
  Bytes t;
  for (uint8_t c = 0; c < 16; ++c)
    t.insert(t.end(), {0x00, static_cast<uint8_t>(0xC0 | c), static_cast<uint8_t>(8 * c)});
  for (uint8_t c = 0; c < 16; ++c)
    t.insert(t.end(), {0x00, static_cast<uint8_t>(0x90 | c), 50, 100});
  const std::vector<NoteRec> byFamily = MustRead(Smf(0, 96, {t})).notes;
  ASSERT_EQ(byFamily.size(), 15u);  // key 50 on the kit is a tom: no sound
  const uint8_t want[] = {25, 25, 26, 25, 32, 26, 26, 24, 24, 24, 26, 26, 25, 25, 26};
  for (size_t i = 0; i < 15; ++i)
    EXPECT_EQ(byFamily[i].Instrument, want[i]) << "channel " << (i < 9 ? i + 1 : i + 2);

  for (int key = 0; key < 128; ++key) {
    // The kit's own sounds, written on the General MIDI keys of those drums, come back.
    const auto own = KitNoteOf(SwapDrumKeys(static_cast<uint8_t>(key)));
    const bool sounds = key == 36 || (key >= 38 && key <= 40) || key == 59 || key == 61 ||
                        key == 63 || key == 67 || key == 69;
    EXPECT_EQ(own.has_value() && *own == key, sounds) << key;
    EXPECT_EQ(SwapDrumKeys(SwapDrumKeys(static_cast<uint8_t>(key))), key);
  }
  for (int code = 0; code < 256; ++code) {
    const int back = DefaultCode(0, ExportProgram(static_cast<uint8_t>(code)));
    if (CodePlays(static_cast<uint8_t>(code)) && code != kDrumCode) {
      EXPECT_EQ(back, code >= 27 && code <= 37 ? 32 : code) << code;
    }
  }

  // --map: channel 10 as a pluck plays its keys as pitches; a silent code drops a channel; a
  // program change in another track still sets the channel's program.
  const Bytes setup = {0x00, 0xC1, 33};
  const Bytes notes = {0x00, 0x99, 42, 100, 0x00, 0x91, 40, 90, 0x00, 0x92, 70, 80};
  EXPECT_EQ(Text(MustRead(Smf(1, 96, {setup, notes})).notes),
            Text({{0, 1, 61, 100, 127}, {0, 1, 40, 90, 32}, {0, 1, 70, 80, 25}}));
  auto parsed = ParseChannelMap("10=25,3=0,10=26");
  ASSERT_TRUE(std::holds_alternative<ChannelMap>(parsed));
  const MidiScore mapped = MustRead(Smf(1, 96, {setup, notes}), {std::get<ChannelMap>(parsed)});
  EXPECT_EQ(Text(mapped.notes), Text({{0, 1, 42, 100, 26}, {0, 1, 40, 90, 32}}));
  EXPECT_EQ(mapped.report.silent, 1u);

  struct Bad {
    const char* text;
    const char* said;
  };
  for (const Bad& b :
       {Bad{"", "'' is not CHANNEL=CODE"}, Bad{"1=24,", "'' is not"}, Bad{"0=24", "channel '0'"},
        Bad{"17=24", "channel '17'"}, Bad{"1=256", "code '256'"}, Bad{"1=x", "code 'x'"},
        Bad{"1:24", "'1:24' is not"}, Bad{"+1=24", "channel '+1'"}}) {
    auto result = ParseChannelMap(b.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(result)) << b.text;
    EXPECT_NE(std::get<std::string>(result).find(b.said), std::string::npos)
        << b.text << ": " << std::get<std::string>(result);
  }
}

TEST(MidiFiles, BadFilesAreRefusedNamingTheByte) {
  const Bytes good = Smf(0, 96, {{0x00, 0x90, 60, 100, 0x10, 60, 0, 0x00, 0xFF, 0x2F, 0x00}});
  const auto cut = [&](size_t n) { return Bytes(good.begin(), good.begin() + n); };
  const auto with = [&](size_t at, std::initializer_list<uint8_t> b) {
    Bytes x = good;
    std::copy(b.begin(), b.end(), x.begin() + static_cast<ptrdiff_t>(at));
    return x;
  };
  const auto track = [](Bytes events) { return Smf(0, 96, {events}); };
  struct Case {
    Bytes file;
    size_t offset;
    const char* said;
  };
  const Case cases[] = {
      {{}, 0, "not a Standard MIDI File"},
      {Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0}, 0, "does not begin with \"MThd\""},
      {with(7, {4}), 4, "fewer than 6"},
      {with(4, {0, 0, 1, 0}), 4, "claims 256 bytes, but only"},
      {with(9, {2}), 8, "format 2"},
      {with(12, {0, 0}), 12, "division of 0 ticks"},
      {with(12, {0xE4, 40}), 12, "SMPTE division of 28 frames"},
      {with(12, {0xE7, 0}), 12, "0 ticks a frame"},
      {cut(good.size() - 3), 14, "claims 11 bytes, but only 8 remain"},
      {cut(20), 14, "truncated chunk header: 6 bytes remain"},
      {track({0x80, 0x80, 0x80, 0x80, 0x00}), 22, "longer than 4 bytes"},
      {track({0x00, 0x90, 60, 100, 0x81}), 26, "runs past the end of its track"},
      {track({0x00, 0x90, 60, 100, 0x10}), 26, "event runs past the end of its track"},
      {track({0x00, 0xFF, 0x00}), 23, "event runs past the end of its track, in a variable"},
      {track({0x00, 60, 100}), 23, "where an event should begin"},
      {track({0x00, 0x90, 60, 0x80}), 25, "data byte 0x80 of event 0x90"},
      {track({0x00, 0x90, 60}), 23, "event 0x90 runs past"},
      {track({0x00, 0xFF, 0x01, 0x05, 'a'}), 23, "meta event 0x01 of 5 bytes"},
      {track({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1}), 23, "tempo event of 2 bytes"},
      {track({0x00, 0xFF, 0x51, 0x03, 0, 0, 0}), 23, "tempo of 0 microseconds"},
      {track({0x00, 0xF0, 0x05, 0x7E}), 23, "system exclusive event of 5 bytes"},
      {track({0x00, 0xF4}), 23, "status byte 0xF4"},
  };
  for (const Case& c : cases) {
    auto read = ReadMidiFile(c.file, {});
    const auto* error = std::get_if<MidiError>(&read);
    ASSERT_NE(error, nullptr) << c.said;
    EXPECT_EQ(error->offset, c.offset) << error->message;
    EXPECT_NE(error->message.find(c.said), std::string::npos) << error->message;
  }

  // What real files do and is no fault: zeros after the last chunk, an unknown chunk, no
  // end-of-track, running status across meta and system exclusive events, events after the
  // end-of-track (not read), a header longer than 6 bytes.
  Bytes padded = good;
  padded.insert(padded.end(), {0, 0, 0});
  EXPECT_EQ(MustRead(padded).notes.size(), 1u);
  Bytes longHeader = {'M', 'T', 'h', 'd', 0, 0, 0, 8, 0, 0, 0, 1, 0, 96, 0xAB, 0xCD};
  longHeader.insert(longHeader.end(), good.begin() + 14, good.end());
  EXPECT_EQ(MustRead(longHeader).notes.size(), 1u);
  const Bytes tolerant = track({0x00, 0x90, 60,   100, 0x00, 0xFF, 0x01, 0x01, 'x',  0x00, 0xF0,
                                0x01, 0xF7, 0x10, 60,  0,    0x00, 0xFF, 0x2F, 0x00, 0xF4});
  EXPECT_EQ(Text(MustRead(tolerant).notes), Text({{0, 2, 60, 100, 25}}));

  // The reader holds only so many notes, program changes and tempo changes.
  MidiReadOptions few;
  few.maxEvents = 2;
  auto many = ReadMidiFile(track({0x00, 0x90, 60, 1, 0x00, 61, 1, 0x00, 62, 1}), few);
  ASSERT_TRUE(std::holds_alternative<MidiError>(many));
  EXPECT_EQ(std::get<MidiError>(many).offset, 30u);
  EXPECT_NE(std::get<MidiError>(many).message.find("more than 2 notes"), std::string::npos);
  auto programs = ReadMidiFile(track({0x00, 0xC0, 1, 0x00, 0xC1, 1, 0x00, 0xC2, 1}), few);
  ASSERT_TRUE(std::holds_alternative<MidiError>(programs));
  EXPECT_NE(std::get<MidiError>(programs).message.find("more than 2 program changes"),
            std::string::npos);
}

TEST(MidiFiles, ListsGoOutAndComeBackUnchanged) {
  std::vector<std::vector<NoteRec>> lists = {DecodeNoteList(EmbeddedNoteList()),
                                             test::AllInstrumentsScore()};
  for (const auto& entry : fs::directory_iterator(kData)) {
    if (entry.path().extension() == ".mid")
      lists.push_back(MustRead(ReadBytes(entry.path())).notes);
  }
  // Codes in no order, silent codes and drum keys, every bass code, same-key notes that nest,
  // overlap and repeat, velocities 1 and 127, the last tick.
  std::vector<NoteRec> odd = {{10, 20, 60, 1, 24},    {0, 40, 60, 127, 24},   {12, 4, 60, 50, 24},
                              {5, 3, 99, 70, 50},     {5, 3, 99, 70, 50},     {0, 1, 42, 90, 127},
                              {0, 1, 61, 90, 127},    {0, 1, 0, 90, 127},     {1, 1, 37, 90, 127},
                              {32766, 1, 127, 9, 26}, {0, 32767, 0, 100, 25}, {3, 2, 64, 80, 24},
                              {3, 9, 64, 80, 24},     {3, 1, 64, 81, 24}};
  for (uint8_t code = 27; code <= 37; ++code)
    odd.push_back({static_cast<int16_t>(code), 2, 40, 100, code});
  lists.push_back(odd);
  for (const auto& notes : lists) {
    MidiReadReport report;
    EXPECT_EQ(Text(RoundTrip(notes, &report)), Text(notes));
    EXPECT_EQ(DescribeMidiReport(report), "");
  }

  // The layout a sequencer sees: format 1 at 480 a quarter, 545,455 us a quarter, a track per
  // code (code 24 three times: its notes of key 60 nest twice), the kit on channel 10.
  const Bytes file = WriteMidiFile(odd, nullptr);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 14),
            (Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 19, 0x01, 0xE0}));
  const Bytes tempo = {0xFF, 0x51, 0x03, 0x08, 0x52, 0xAF};
  EXPECT_NE(std::search(file.begin(), file.end(), tempo.begin(), tempo.end()), file.end());
  const Bytes kitProgram = {0x00, 0xC9, 0x00, 0x00, 0x99};
  EXPECT_NE(std::search(file.begin(), file.end(), kitProgram.begin(), kitProgram.end()),
            file.end());

  // Without the marks the default map hears the same sounds: every record comes back but for
  // the bass codes, which all play as 32, in the order of their starts.
  const std::vector<NoteRec> piece = DecodeNoteList(EmbeddedNoteList());
  const MidiScore unmarked = MustRead(WithoutMarks(WriteMidiFile(piece, nullptr)));
  std::multiset<std::string> want, have;
  for (const NoteRec& r : piece)
    want.insert(Text({r}));
  for (const NoteRec& r : unmarked.notes)
    have.insert(Text({r}));
  EXPECT_TRUE(want == have);
  EXPECT_TRUE(std::is_sorted(unmarked.notes.begin(), unmarked.notes.end(),
                             [](const NoteRec& a, const NoteRec& b) { return a.Start < b.Start; }));

  // What MIDI cannot hold is left out or brought into range, and said.
  MidiWriteReport changed;
  WriteMidiFile(std::vector<NoteRec>{{0, 1, 128, 0, 25}, {0, 1, 60, 0, 25}, {0, 1, 60, 200, 25}},
                &changed);
  EXPECT_EQ(DescribeMidiReport(changed),
            "1 note above 127 left out, 2 velocities outside 1 .. 127 written as 1 or 127");
}

}  // namespace
}  // namespace quom
