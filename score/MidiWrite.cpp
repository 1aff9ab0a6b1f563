// Note lists to Standard MIDI Files: a tempo track, then one track per instrument code (more when
// notes of one key nest), each marked so that quom reads its records back exactly.
#include <algorithm>

#include "score/MidiFile.h"

namespace quom {

namespace {

// A list tick is 4/110 s, a fifteenth of a beat at 110 beats per minute: 480 MIDI ticks a
// quarter note puts it on 32 of them.
constexpr uint16_t kDivision = 480;
constexpr uint32_t kPerListTick = 32;
// 60,000,000 / 110 = 545,454.5 microseconds is no whole number; the nearest makes a list tick
// 1 + 8.3e-7 of itself, so tick 32767 reads back 0.03 tick late and rounds to itself.
constexpr uint32_t kTempo = 545'455;
constexpr size_t kMaxTracks = 65'535;  // the header counts them in 16 bits

constexpr uint8_t kMarkPrefix[] = {0x7D, 'q', 'u', 'o', 'm', 1};

void PutVlq(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t groups[5];
  int n = 0;
  groups[n++] = v & 0x7F;
  while (v >>= 7)
    groups[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
  while (n > 0)
    out.push_back(groups[--n]);
}

void PutBe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i)
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutMeta(std::vector<uint8_t>& out, uint8_t type, const std::vector<uint8_t>& data) {
  out.push_back(0);  // at the track's start
  out.insert(out.end(), {0xFF, type});
  PutVlq(out, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
}

void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& data) {
  out.insert(out.end(), id, id + 4);
  PutBe(out, static_cast<uint32_t>(data.size()), 4);
  out.insert(out.end(), data.begin(), data.end());
}

void PutEndOfTrack(std::vector<uint8_t>& out, uint32_t delta) {
  PutVlq(out, delta);
  out.insert(out.end(), {0xFF, 0x2F, 0x00});
}

struct Track {
  uint8_t code = 0;
  uint8_t channel = 0;
  size_t lane = 0;
  std::vector<uint32_t> notes;  // positions in the written list, in the order they start
};

struct Written {
  int32_t start = 0;  // list ticks
  int32_t end = 0;
  uint8_t key = 0;
  uint8_t velocity = 0;
};

std::vector<uint8_t> TrackData(const Track& t, const std::vector<Written>& notes) {
  std::vector<uint8_t> out;
  const std::string name =
      TrackName(t.code) + (t.lane > 0 ? " " + std::to_string(t.lane + 1) : std::string());
  PutMeta(out, 0x03, std::vector<uint8_t>(name.begin(), name.end()));
  std::vector<uint8_t> mark(std::begin(kMarkPrefix), std::end(kMarkPrefix));
  mark.push_back(t.code);
  for (const uint32_t position : t.notes)
    PutVlq(mark, position);
  PutMeta(out, 0x7F, mark);
  out.insert(out.end(), {0x00, static_cast<uint8_t>(0xC0 | t.channel), ExportProgram(t.code)});

  // Releases before presses at one tick; presses in the order the notes start, and releases of
  // one key in that order too, which is what pairing first in first out gives back.
  struct Event {
    uint32_t tick;
    bool press;
    uint32_t order;
  };
  std::vector<Event> events;
  events.reserve(2 * t.notes.size());
  for (uint32_t i = 0; i < t.notes.size(); ++i) {
    const Written& n = notes[t.notes[i]];
    events.push_back({static_cast<uint32_t>(n.start) * kPerListTick, true, i});
    events.push_back({static_cast<uint32_t>(n.end) * kPerListTick, false, i});
  }
  std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    if (a.tick != b.tick) return a.tick < b.tick;
    if (a.press != b.press) return !a.press;
    return a.order < b.order;
  });
  uint32_t now = 0;
  bool statusWritten = false;  // every event after the first runs on its status
  const uint8_t status = static_cast<uint8_t>(0x90 | t.channel);
  for (const Event& e : events) {
    const Written& n = notes[t.notes[e.order]];
    PutVlq(out, e.tick - now);
    now = e.tick;
    if (!statusWritten) out.push_back(status);
    statusWritten = true;
    out.insert(out.end(), {n.key, e.press ? n.velocity : uint8_t{0}});
  }
  PutEndOfTrack(out, 0);
  return out;
}

}  // namespace

std::vector<uint8_t> WriteMidiFile(std::span<const NoteRec> list, MidiWriteReport* report) {
  MidiWriteReport r;
  std::vector<Written> notes;
  std::vector<uint8_t> codes;  // per written note
  notes.reserve(list.size());
  for (const NoteRec& n : list) {
    if (n.Note > 127) {
      ++r.highNotes;
      continue;
    }
    const uint8_t velocity = std::clamp<uint8_t>(n.Velocity, 1, 127);
    if (velocity != n.Velocity) ++r.velocities;
    const uint8_t key = n.Instrument == kDrumCode ? SwapDrumKeys(n.Note) : n.Note;
    notes.push_back({n.Start, n.Start + n.Length, key, velocity});
    codes.push_back(n.Instrument);
  }
  if (report) *report = r;

  // The codes in the order they first appear, each with its notes in the order they start.
  std::vector<uint8_t> order;
  std::array<std::vector<uint32_t>, 256> byCode;
  for (uint32_t i = 0; i < notes.size(); ++i) {
    if (byCode[codes[i]].empty()) order.push_back(codes[i]);
    byCode[codes[i]].push_back(i);
  }

  std::vector<Track> tracks;
  size_t nextChannel = 0;
  for (const uint8_t code : order) {
    std::vector<uint32_t>& mine = byCode[code];
    std::stable_sort(mine.begin(), mine.end(), [&](uint32_t a, uint32_t b) {
      if (notes[a].start != notes[b].start) return notes[a].start < notes[b].start;
      return notes[a].end < notes[b].end;
    });
    // Lanes: a note goes to the first lane whose notes of its key all end by its end, so that no
    // note nests inside another there. Per key the lanes' latest ends stay in falling order, and
    // the first that fits is found by bisection.
    std::array<std::vector<int32_t>, 128> latestEnd;
    std::vector<size_t> lane(mine.size());
    size_t lanes = 1;
    for (size_t i = 0; i < mine.size(); ++i) {
      const Written& n = notes[mine[i]];
      std::vector<int32_t>& ends = latestEnd[n.key];
      const auto fit =
          std::partition_point(ends.begin(), ends.end(), [&](int32_t end) { return end > n.end; });
      lane[i] = static_cast<size_t>(fit - ends.begin());
      if (fit == ends.end()) {
        ends.push_back(n.end);
      } else {
        *fit = n.end;
      }
      lanes = std::max(lanes, lane[i] + 1);
    }
    if (tracks.size() + lanes + 1 > kMaxTracks) return {};
    uint8_t channel = kDrumChannel;
    if (code != kDrumCode) {
      channel = static_cast<uint8_t>(nextChannel < kDrumChannel ? nextChannel : nextChannel + 1);
      nextChannel = (nextChannel + 1) % 15;
    }
    const size_t first = tracks.size();
    for (size_t l = 0; l < lanes; ++l)
      tracks.push_back({code, channel, l, {}});
    for (size_t i = 0; i < mine.size(); ++i)
      tracks[first + lane[i]].notes.push_back(mine[i]);
  }

  std::vector<uint8_t> out;
  std::vector<uint8_t> header;
  PutBe(header, 1, 2);  // format 1
  PutBe(header, static_cast<uint32_t>(tracks.size() + 1), 2);
  PutBe(header, kDivision, 2);
  PutChunk(out, "MThd", header);

  std::vector<uint8_t> tempo;
  PutMeta(tempo, 0x03, {'q', 'u', 'o', 'm'});
  PutMeta(tempo, 0x51, {kTempo >> 16 & 0xFF, kTempo >> 8 & 0xFF, kTempo & 0xFF});
  PutMeta(tempo, 0x58, {4, 2, 24, 8});  // 4/4, a click every quarter, 8 32nds a quarter
  PutEndOfTrack(tempo, 0);
  PutChunk(out, "MTrk", tempo);
  for (const Track& t : tracks)
    PutChunk(out, "MTrk", TrackData(t, notes));
  return out;
}

std::string DescribeMidiReport(const MidiWriteReport& r) {
  std::string out;
  if (r.highNotes > 0) {
    out += std::to_string(r.highNotes) + (r.highNotes == 1 ? " note" : " notes") +
           " above 127 left out";
  }
  if (r.velocities > 0) {
    if (!out.empty()) out += ", ";
    out += std::to_string(r.velocities) + (r.velocities == 1 ? " velocity" : " velocities") +
           " outside 1 .. 127 written as 1 or 127";
  }
  return out;
}

}  // namespace quom
