// Standard MIDI File reader: chunks and events, note pairing, the tempo map and programs laid
// over every track, and each note landed on the list's tick.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

#include "score/MidiFile.h"

namespace quom {

namespace {

constexpr int64_t kLastTick = 32767;         // the list's last tick: Start + Length may reach it
constexpr uint32_t kDefaultTempo = 500'000;  // microseconds a quarter note before any tempo event
constexpr int64_t kFarTick = int64_t{1} << 40;  // any tick past the list's end is as good as this
constexpr size_t kKeys = 16 * 128;              // channel and key: one pairing queue each

using u128 = unsigned __int128;  // exact times: ticks of 2^55 times tempos of 2^24 and more

// The mark quom puts on the tracks it writes: manufacturer 0x7D (non-commercial), name, version.
constexpr uint8_t kMarkPrefix[] = {0x7D, 'q', 'u', 'o', 'm', 1};

struct Fail {
  size_t offset;
  std::string message;
};

[[noreturn]] void Throw(size_t offset, std::string message) {
  throw Fail{offset, std::move(message)};
}

std::string Hex(uint8_t b) {
  char s[8];
  std::snprintf(s, sizeof s, "0x%02X", b);
  return s;
}

std::string Thousands(size_t n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(static_cast<size_t>(i), ",");
  return digits;
}

// Where an event stands in the file's time: tracks in file order at equal ticks, then the
// track's own order.
struct When {
  int64_t tick = 0;
  uint32_t track = 0;
  uint32_t seq = 0;
  friend bool operator<(const When& a, const When& b) {
    if (a.tick != b.tick) return a.tick < b.tick;
    if (a.track != b.track) return a.track < b.track;
    return a.seq < b.seq;
  }
};

struct HeldNote {
  When on;
  int64_t end = -1;   // MIDI ticks; -1 while held
  uint32_t rank = 0;  // among its track's note-ons
  uint8_t channel = 0;
  uint8_t key = 0;
  uint8_t velocity = 0;
};

struct ProgramChange {
  When at;
  uint8_t program = 0;
};

struct TempoChange {
  When at;
  uint32_t usPerQuarter = 0;
};

struct TrackMark {
  uint8_t code = 0;                 // the track was written by quom for this code
  std::vector<uint32_t> positions;  // list positions of its notes, in the order they start
  bool positionsValid = false;
  uint32_t notes = 0;  // note-ons the track holds
};

// A stretch of constant tempo, with the time before it as microseconds times the division.
struct TempoSegment {
  int64_t tick = 0;
  uint32_t usPerQuarter = 0;
  u128 before = 0;
};

class Reader {
 public:
  Reader(std::span<const uint8_t> bytes, const MidiReadOptions& options)
      : b_(bytes), opt_(options), head_(kKeys, -1), tail_(kKeys, -1) {}

  MidiScore Read() {
    ReadHeader();
    size_t pos = 8 + headerLen_;
    while (pos < b_.size()) {
      const size_t left = b_.size() - pos;
      if (left < 8) {
        // Some writers pad the file; zeros after the last chunk are no fault.
        if (std::all_of(b_.begin() + static_cast<ptrdiff_t>(pos), b_.end(),
                        [](uint8_t x) { return x == 0; })) {
          break;
        }
        Throw(pos, "truncated chunk header: " + std::to_string(left) +
                       " bytes remain, a chunk header is 8");
      }
      const uint32_t len = Be32(pos + 4);
      if (len > left - 8) {
        Throw(pos, "chunk " + ChunkName(pos) + " claims " + Thousands(len) + " bytes, but only " +
                       Thousands(left - 8) + " remain");
      }
      if (std::equal(b_.begin() + static_cast<ptrdiff_t>(pos),
                     b_.begin() + static_cast<ptrdiff_t>(pos) + 4, "MTrk")) {
        ReadTrack(pos + 8, pos + 8 + len);
      }
      pos += 8 + size_t{len};
    }
    return Land();
  }

 private:
  uint32_t Be32(size_t at) const {
    return uint32_t{b_[at]} << 24 | uint32_t{b_[at + 1]} << 16 | uint32_t{b_[at + 2]} << 8 |
           b_[at + 3];
  }
  uint16_t Be16(size_t at) const { return static_cast<uint16_t>(b_[at] << 8 | b_[at + 1]); }

  std::string ChunkName(size_t at) const {
    std::string name = "\"";
    for (size_t i = at; i < at + 4; ++i) {
      name += (b_[i] >= 0x20 && b_[i] < 0x7F) ? std::string(1, static_cast<char>(b_[i]))
                                              : "\\x" + Hex(b_[i]).substr(2);
    }
    return name + "\"";
  }

  void ReadHeader() {
    if (b_.size() < 8 || !std::equal(b_.begin(), b_.begin() + 4, "MThd")) {
      Throw(0, "not a Standard MIDI File: it does not begin with \"MThd\"");
    }
    headerLen_ = Be32(4);
    if (headerLen_ < 6) {
      Throw(4, "the header chunk holds " + std::to_string(headerLen_) + " bytes, fewer than 6");
    }
    if (headerLen_ > b_.size() - 8) {
      Throw(4, "the header chunk claims " + Thousands(headerLen_) + " bytes, but only " +
                   Thousands(b_.size() - 8) + " remain");
    }
    const uint16_t format = Be16(8);
    if (format > 1) {
      Throw(8, "format " + std::to_string(format) + " is not read (only formats 0 and 1 are)");
    }
    const uint16_t division = Be16(12);
    if (division & 0x8000) {
      // SMPTE: frames a second (negated) and ticks a frame. 29 stands for 30000/1001.
      const int fps = -static_cast<int8_t>(division >> 8);
      const int perFrame = division & 0xFF;
      if (fps != 24 && fps != 25 && fps != 29 && fps != 30) {
        Throw(12, "SMPTE division of " + std::to_string(fps) +
                      " frames a second (24, 25, 29 or 30 expected)");
      }
      if (perFrame == 0) Throw(12, "SMPTE division of 0 ticks a frame");
      // ticks of the list = MIDI ticks * 27.5 / (fps * perFrame)
      smpte_ = true;
      smpteMul_ = fps == 29 ? 55 * 1001 : 55;
      smpteDen_ = fps == 29 ? u128{60000} * static_cast<unsigned>(perFrame)
                            : u128{2} * static_cast<unsigned>(fps * perFrame);
    } else {
      if (division == 0) Throw(12, "division of 0 ticks a quarter note");
      perQuarter_ = division;
    }
  }

  // A variable-length number of at most four bytes, within [p, end), in the event that begins
  // at `event` (named when the number is cut short: it may begin at `end` itself).
  uint32_t Vlq(size_t& p, size_t end, size_t event) {
    const size_t at = p;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      if (p >= end)
        Throw(event, "event runs past the end of its track, in a variable-length number");
      const uint8_t x = b_[p++];
      v = v << 7 | (x & 0x7F);
      if (!(x & 0x80)) return v;
    }
    Throw(at, "variable-length number longer than 4 bytes");
  }

  void TooMany(size_t at, const char* what) {
    Throw(at,
          "more than " + Thousands(opt_.maxEvents) + " " + what + ", the most a score may hold");
  }

  void ReadTrack(size_t p, size_t end) {
    if (tracks_ == std::numeric_limits<uint32_t>::max()) Throw(p, "too many tracks");
    const uint32_t track = tracks_++;
    int64_t tick = 0;
    uint32_t seq = 0;
    uint8_t running = 0;
    uint32_t rank = 0;
    std::optional<TrackMark> mark;
    while (p < end) {
      const size_t eventStart = p;
      tick += Vlq(p, end, eventStart);
      // A time with no event after it: name the time's first byte, which is in the file.
      if (p >= end) Throw(eventStart, "event runs past the end of its track");
      const size_t at = p;
      uint8_t status = b_[p];
      if (status < 0x80) {
        if (!running) {
          Throw(at, "data byte " + Hex(status) +
                        " where an event should begin, and no status "
                        "to repeat");
        }
        status = running;
      } else {
        ++p;
      }
      const When when{tick, track, seq++};

      if (status < 0xF0) {
        running = status;
        const int count = (status & 0xE0) == 0xC0 ? 1 : 2;  // program change, channel pressure
        uint8_t data[2] = {0, 0};
        for (int i = 0; i < count; ++i) {
          if (p >= end) Throw(at, "event " + Hex(status) + " runs past the end of its track");
          data[i] = b_[p++];
          if (data[i] & 0x80) {
            Throw(p - 1, "data byte " + Hex(data[i]) + " of event " + Hex(status) +
                             " has its top bit set");
          }
        }
        const uint8_t channel = status & 0x0F;
        const size_t key = size_t{channel} * 128 + data[0];
        switch (status & 0xF0) {
          case 0x90:
            if (data[1] > 0) {
              if (notes_.size() == opt_.maxEvents) TooMany(at, "notes");
              if (head_[key] < 0 && tail_[key] < 0) touched_.push_back(key);
              const int32_t index = static_cast<int32_t>(notes_.size());
              notes_.push_back({when, -1, rank++, channel, data[0], data[1]});
              next_.push_back(-1);
              if (tail_[key] >= 0) {
                next_[static_cast<size_t>(tail_[key])] = index;
              } else {
                head_[key] = index;
              }
              tail_[key] = index;
              break;
            }
            [[fallthrough]];  // velocity 0 releases
          case 0x80:
            if (head_[key] >= 0) {
              const size_t first = static_cast<size_t>(head_[key]);
              notes_[first].end = tick;
              head_[key] = next_[first];
              if (head_[key] < 0) tail_[key] = -1;
            }
            break;
          case 0xC0:
            if (programCount_++ == opt_.maxEvents) TooMany(at, "program changes");
            programs_[channel].push_back({when, data[0]});
            break;
          default:  // aftertouch, controllers, channel pressure, pitch bend
            ++report_.ignored;
            break;
        }
      } else if (status == 0xFF) {
        if (p >= end) Throw(at, "meta event runs past the end of its track");
        const uint8_t type = b_[p++];
        const uint32_t len = Vlq(p, end, at);
        if (len > end - p) {
          Throw(at, "meta event " + Hex(type) + " of " + Thousands(len) +
                        " bytes runs past the end of its track");
        }
        const std::span<const uint8_t> data = b_.subspan(p, len);
        p += len;
        if (type == 0x2F) break;  // end of track: anything after it is not read
        if (type == 0x51 && !smpte_) {
          if (len != 3) {
            Throw(at, "tempo event of " + std::to_string(len) + " bytes (3 expected)");
          }
          const uint32_t tempo = uint32_t{data[0]} << 16 | uint32_t{data[1]} << 8 | data[2];
          if (tempo == 0) Throw(at, "tempo of 0 microseconds a quarter note");
          if (tempos_.size() == opt_.maxEvents) TooMany(at, "tempo changes");
          tempos_.push_back({when, tempo});
        }
        if (type == 0x7F && !mark) mark = ReadMark(data);
      } else if (status == 0xF0 || status == 0xF7) {
        const uint32_t len = Vlq(p, end, at);
        if (len > end - p) {
          Throw(at, "system exclusive event of " + Thousands(len) +
                        " bytes runs past the end of its track");
        }
        p += len;
      } else {
        Throw(at, "status byte " + Hex(status) + " does not belong in a file");
      }
    }

    // Notes still held end with their track. A key may be listed twice (its queue emptied and
    // filled again): the first visit empties it.
    for (size_t key : touched_) {
      for (int32_t i = head_[key]; i >= 0; i = next_[static_cast<size_t>(i)]) {
        notes_[static_cast<size_t>(i)].end = tick;
        ++report_.unreleased;
      }
      head_[key] = tail_[key] = -1;
    }
    touched_.clear();
    if (mark) {
      mark->notes = rank;
      marks_.emplace_back(track, std::move(*mark));
    }
  }

  // The mark of a track quom wrote, or nullopt for another program's sequencer-specific event.
  std::optional<TrackMark> ReadMark(std::span<const uint8_t> data) {
    constexpr size_t kPrefix = sizeof kMarkPrefix;
    if (data.size() < kPrefix + 1 ||
        !std::equal(kMarkPrefix, kMarkPrefix + kPrefix, data.begin())) {
      return std::nullopt;
    }
    TrackMark mark;
    mark.code = data[kPrefix];
    mark.positionsValid = true;
    uint32_t v = 0;
    int bytes = 0;
    for (size_t i = kPrefix + 1; i < data.size(); ++i) {
      v = v << 7 | (data[i] & 0x7F);
      // Positions beyond the notes the reader may hold could name none of them.
      if (++bytes > 4 || markPositions_ + mark.positions.size() == opt_.maxEvents) {
        mark.positionsValid = false;
        mark.positions.clear();
        break;
      }
      if (!(data[i] & 0x80)) {
        mark.positions.push_back(v);
        v = 0;
        bytes = 0;
      }
    }
    if (bytes != 0) {
      mark.positionsValid = false;  // a number cut short
      mark.positions.clear();
    }
    markPositions_ += mark.positions.size();
    return mark;
  }

  // Ticks of the list at a MIDI tick, rounded to the nearest, ties to even; far past the list's
  // end it saturates.
  int64_t ListTick(int64_t midiTick) const {
    u128 num = 0;
    u128 den = 0;
    if (smpte_) {
      num = static_cast<u128>(midiTick) * smpteMul_;
      den = smpteDen_;
    } else {
      // The last segment starting at or before the tick.
      const auto seg =
          std::upper_bound(segments_.begin(), segments_.end(), midiTick,
                           [](int64_t t, const TempoSegment& s) { return t < s.tick; }) -
          1;
      const u128 us = seg->before + static_cast<u128>(midiTick - seg->tick) * seg->usPerQuarter;
      // microseconds * 27.5 ticks a second / 1e6 / division = us * 11 / (400000 * division)
      num = us * 11;
      den = u128{400'000} * perQuarter_;
    }
    const u128 q = num / den;
    const u128 r = num % den;
    if (q >= static_cast<u128>(kFarTick)) return kFarTick;
    int64_t t = static_cast<int64_t>(q);
    if (2 * r > den || (2 * r == den && (t & 1))) ++t;
    return t;
  }

  void BuildTempoMap() {
    std::stable_sort(
        tempos_.begin(), tempos_.end(),
        [](const TempoChange& a, const TempoChange& b) { return a.at.tick < b.at.tick; });
    segments_.push_back({0, kDefaultTempo, 0});
    for (const TempoChange& c : tempos_) {
      TempoSegment& last = segments_.back();
      if (c.at.tick == last.tick) {
        last.usPerQuarter = c.usPerQuarter;  // the later of two at one tick wins
      } else {
        const u128 before =
            last.before + static_cast<u128>(c.at.tick - last.tick) * last.usPerQuarter;
        segments_.push_back({c.at.tick, c.usPerQuarter, before});
      }
    }
  }

  // The mark of a track, if it has one (marks_ is in track order).
  const TrackMark* MarkOf(uint32_t track) const {
    const auto it = std::lower_bound(
        marks_.begin(), marks_.end(), track,
        [](const std::pair<uint32_t, TrackMark>& m, uint32_t t) { return m.first < t; });
    return it != marks_.end() && it->first == track ? &it->second : nullptr;
  }

  uint8_t ProgramAt(uint8_t channel, const When& on) const {
    const std::vector<ProgramChange>& changes = programs_[channel];
    const auto after =
        std::upper_bound(changes.begin(), changes.end(), on,
                         [](const When& w, const ProgramChange& c) { return w < c.at; });
    return after == changes.begin() ? 0 : (after - 1)->program;
  }

  // The list positions the marks give, by note, when every note sits in a marked track and the
  // positions name each note once; else empty.
  std::vector<uint32_t> MarkedOrder() const {
    if (notes_.empty()) return {};
    for (const auto& [track, mark] : marks_) {
      if (!mark.positionsValid || mark.positions.size() != mark.notes) return {};
    }
    std::vector<uint32_t> order(notes_.size());
    std::vector<bool> taken(notes_.size(), false);
    for (size_t i = 0; i < notes_.size(); ++i) {
      const TrackMark* mark = MarkOf(notes_[i].on.track);
      if (!mark) return {};
      const uint32_t position = mark->positions[notes_[i].rank];
      if (position >= notes_.size() || taken[position]) return {};
      taken[position] = true;
      order[position] = static_cast<uint32_t>(i);
    }
    return order;
  }

  // Codes, keys and ticks: the notes as records.
  MidiScore Land() {
    for (auto& changes : programs_) {
      std::stable_sort(
          changes.begin(), changes.end(),
          [](const ProgramChange& a, const ProgramChange& b) { return a.at.tick < b.at.tick; });
    }
    if (!smpte_) BuildTempoMap();

    std::vector<uint32_t> order = MarkedOrder();
    if (order.empty()) {
      order.resize(notes_.size());
      for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<uint32_t>(i);
      // The notes were gathered track by track, each in its order: by start, and that.
      std::stable_sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
        return notes_[a].on.tick < notes_[b].on.tick;
      });
    }
    MidiScore score;
    score.notes.reserve(notes_.size());
    for (const uint32_t i : order) {
      const HeldNote& n = notes_[i];
      const std::optional<uint8_t>& chosen = opt_.map.code[n.channel];
      const TrackMark* mark = MarkOf(n.on.track);
      uint8_t code = 0;
      uint8_t key = n.key;
      if (mark && !chosen) {
        code = mark->code;  // as quom wrote it, silent or not
        if (code == kDrumCode) key = SwapDrumKeys(key);
      } else {
        code = chosen ? *chosen : DefaultCode(n.channel, ProgramAt(n.channel, n.on));
        std::optional<uint8_t> sound = key;
        if (code == kDrumCode) sound = KitNoteOf(key);
        if (!sound || !CodePlays(code)) {
          ++report_.silent;
          continue;
        }
        key = *sound;
      }
      const int64_t start = ListTick(n.on.tick);
      if (start >= kLastTick) {
        ++report_.pastEnd;
        continue;
      }
      int64_t length = std::max<int64_t>(ListTick(n.end) - start, 1);
      if (start + length > kLastTick) {
        ++report_.cutShort;
        length = kLastTick - start;
      }
      score.notes.push_back(
          {static_cast<int16_t>(start), static_cast<int16_t>(length), key, n.velocity, code});
    }
    score.report = report_;
    return score;
  }

  std::span<const uint8_t> b_;
  const MidiReadOptions& opt_;
  uint32_t headerLen_ = 0;
  bool smpte_ = false;
  uint32_t perQuarter_ = 0;
  uint32_t smpteMul_ = 0;
  u128 smpteDen_ = 1;
  uint32_t tracks_ = 0;

  std::vector<HeldNote> notes_;
  std::vector<int32_t> next_;  // the next held note of the same channel and key
  std::vector<int32_t> head_;  // per channel and key: the note a release ends, or -1
  std::vector<int32_t> tail_;
  std::vector<size_t> touched_;  // keys with a queue in the current track
  std::array<std::vector<ProgramChange>, 16> programs_;
  size_t programCount_ = 0;   // over all channels
  size_t markPositions_ = 0;  // over all marks
  std::vector<TempoChange> tempos_;
  std::vector<TempoSegment> segments_;
  std::vector<std::pair<uint32_t, TrackMark>> marks_;
  MidiReadReport report_;
};

void AddClause(std::string& out, size_t count, const char* one, const char* many,
               const char* rest) {
  if (count == 0) return;
  if (!out.empty()) out += ", ";
  out += Thousands(count) + " " + (count == 1 ? one : many) + rest;
}

}  // namespace

std::variant<MidiScore, MidiError> ReadMidiFile(std::span<const uint8_t> bytes,
                                                const MidiReadOptions& options) {
  try {
    return Reader(bytes, options).Read();
  } catch (const Fail& f) {
    return MidiError{f.offset, f.message};
  }
}

std::string DescribeMidiReport(const MidiReadReport& r) {
  std::string out;
  AddClause(out, r.pastEnd, "note", "notes", " starting past tick 32767 dropped");
  AddClause(out, r.cutShort, "note", "notes", " cut short at tick 32767");
  AddClause(out, r.silent, "note", "notes", " with no sound here dropped");
  AddClause(out, r.unreleased, "note", "notes", " never released ended with their track");
  AddClause(out, r.ignored, "controller, pitch bend or aftertouch event",
            "controller, pitch bend and aftertouch events", " ignored");
  return out;
}

}  // namespace quom
