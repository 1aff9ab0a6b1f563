// Fuzz harnesses for the two note list readers, with a bounded render of what they accept.
#include "tests/fuzz/NoteListFuzz.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "render/Budget.h"
#include "render/Engine.h"
#include "render/NotePlan.h"
#include "score/MidiFile.h"
#include "score/NoteText.h"
#include "units/modFXMaster.h"
#include "voices/LayerLanes.h"
#include "voices/modGenDrum.h"

namespace quom::fuzz {

namespace {

// What one input may render: a dozen records within a few seconds of ticks, and few enough
// voice samples (one crash fits) that an input takes milliseconds.
constexpr size_t kMaxRecords = 12;
constexpr int kStartTicks = 32;         // starts fold into 0 .. 31 (1.1 s)
constexpr int kLengthTicks = 60;        // lengths into 1 .. 60 (2.2 s: past note 63's 2 s cap)
constexpr int64_t kMaxVoice = 160'000;  // samples over all layers; records beyond are skipped

// The bank's buffers at their real lengths. The noise burst ends early, so that the snare copies
// silence from some offsets (the normaliser's silent case) and sound from others.
const modSamples& StandInBank() {
  static const modSamples bank = [] {
    modSamples s;
    uint32_t state = 12345;
    auto fill = [&state](std::vector<float>& v, size_t n, size_t sounding, double decay) {
      v.assign(n, 0.0f);
      for (size_t i = 0; i < sounding; ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = static_cast<double>(state >> 8) / 8388608.0 - 1.0;
        v[i] = static_cast<float>(noise * std::exp(-static_cast<double>(i) / decay));
      }
    };
    fill(s.SmpNoise, 32768, 500, 1e9);
    fill(s.SmpKick, 16384, 16384, 3000.0);
    fill(s.SmpPlateSmall, 90200, 90200, 20000.0);
    fill(s.SmpPlateMid, 60000, 60000, 15000.0);
    fill(s.SmpPlateBig, 150000, 150000, 40000.0);
    fill(s.SmpPlateBigLow, 150000, 150000, 50000.0);
    return s;
  }();
  return bank;
}

// An engine as a fresh process has it, with the stand-in bank. The bus and the voice buffer keep
// their capacity from earlier inputs: fresh megabytes for every input would cost more than the
// render (vector annotations keep reads past the size visible to the address checker).
void Reset(Engine& e) {
  e.tools = modTools{};
  e.wave = modString{};
  e.gen.VoiceLen = 0;
  e.gen.VoiceFreq = 0.0;
  e.gen.ProgressTotal = 0.0f;
  e.progress = nullptr;
  InitMix(e);
}

Engine WithStandInBank() {
  Engine fresh;
  fresh.samples = StandInBank();
  return fresh;
}

// One engine per renderer, kept from input to input and reset before each.
Engine& LiteralEngine() {
  static Engine e = WithStandInBank();
  Reset(e);
  return e;
}

Engine& FastEngine() {
  static Engine e = WithStandInBank();
  Reset(e);
  return e;
}

std::vector<NoteRec> Bounded(std::span<const NoteRec> notes) {
  std::vector<NoteRec> out;
  int64_t voice = 0;
  for (const NoteRec& r : notes) {
    if (out.size() == kMaxRecords) break;
    NoteRec b = r;
    b.Start = static_cast<int16_t>(r.Start % kStartTicks);
    b.Length = static_cast<int16_t>(1 + (r.Length - 1) % kLengthTicks);
    const NoteLayers layers = LayerLengths(b, kSecPerTick);
    int64_t cost = 0;
    for (int i = 0; i < layers.count; ++i)
      cost += layers.len[i];
    if (voice + cost > kMaxVoice) continue;
    voice += cost;
    out.push_back(b);
  }
  return out;
}

// The fast path's parts on one thread: every layer planned up front, the tonal ones rendered in
// lanes, the drums from the bank, all mixed in file order with the vector mixer. (The program runs
// the same parts on worker threads, with the real bank built alongside.)
void RenderSongFastParts(Engine& e, std::span<const NoteRec> notes) {
  const SongPlan plan = PlanSong(e, notes, kSecPerTick);
  modGen& g = e.gen;
  g.MixLen = plan.mixLen;
  g.MixBuf.assign(static_cast<size_t>(g.MixLen), MixFrame{});
  std::vector<std::vector<float>> voices(plan.layers.size());
  for (size_t i = 0; i < plan.layers.size(); ++i) {
    voices[i].resize(static_cast<size_t>(plan.layers[i].len));
    if (plan.layers[i].kind == LayerKind::kDrum) {
      RenderDrum(plan.layers[i], e.samples, voices[i].data());
    }
  }
  size_t next = 0;
  RenderLayersInLanes(
      [&](LayerJob& job) {
        while (next < plan.layers.size() && plan.layers[next].kind == LayerKind::kDrum)
          ++next;
        if (next == plan.layers.size()) return false;
        job = {&plan.layers[next], voices[next].data(), next};
        ++next;
        return true;
      },
      [](const LayerJob&) {});
  for (size_t i = 0; i < plan.layers.size(); ++i) {
    const LayerPlan& p = plan.layers[i];
    MixSamplesFast(g, p.start, p.gain, p.pan, p.send, voices[i].data(), p.len);
  }
}

bool SameRecords(std::span<const NoteRec> a, std::span<const NoteRec> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const NoteRec& x, const NoteRec& y) {
    return x.Start == y.Start && x.Length == y.Length && x.Note == y.Note &&
           x.Velocity == y.Velocity && x.Instrument == y.Instrument;
  });
}

// What the program does with a list once read: refuse it, or render it.
std::string CheckAndRender(std::span<const NoteRec> notes) {
  if (notes.empty()) return {};
  if (const auto problem = CheckNoteList(notes)) {
    if (problem->index >= notes.size()) return "the checker names a record past the end";
    return {};
  }
  for (const NoteRec& r : notes) {
    if (r.Start < 0 || r.Length < 1 || r.Start + r.Length > 32767) {
      return "the checker passed a record that breaks the invariants";
    }
  }
  const RenderCost cost = EstimateRenderCost(notes, kSecPerTick);
  if (cost.busFrames < kSampleRate || cost.voiceSamples < 0) return "an impossible render cost";
  CheckRenderCost(cost);
  return RenderBounded(notes);
}

}  // namespace

std::string RenderBounded(std::span<const NoteRec> notes) {
  const std::vector<NoteRec> bounded = Bounded(notes);

  Engine& literal = LiteralEngine();
  RenderSong(literal, bounded, kSecPerTick);
  Engine& fast = FastEngine();
  RenderSongFastParts(fast, bounded);

  const modGen& g = literal.gen;
  if (fast.gen.MixLen != g.MixLen) return "the fast renderer sized the bus differently";
  if (static_cast<int64_t>(g.MixBuf.size()) != g.MixLen) return "the bus is not MixLen long";
  if (std::memcmp(fast.gen.MixBuf.data(), g.MixBuf.data(), g.MixBuf.size() * sizeof(MixFrame)) !=
      0) {
    return "the fast renderer's bus differs from the literal one";
  }
  for (const MixFrame& f : g.MixBuf) {
    if (!std::isfinite(f.L) || !std::isfinite(f.R) || !std::isfinite(f.Send)) {
      return "the bus holds a sample that is not a finite number";
    }
  }
  if (EstimateRenderCost(bounded, kSecPerTick).busFrames < g.MixLen) {
    return "the estimated bus is shorter than the rendered one";
  }
  static std::vector<int16_t> pcm;
  pcm.assign(2 * static_cast<size_t>(g.MixLen), 0);
  FxMaster(g, pcm);
  return {};
}

std::string FuzzBinaryNoteList(std::span<const uint8_t> data) {
  const std::vector<NoteRec> notes = DecodeNoteList(data);
  if (notes.size() != data.size() / kNoteRecBytes) return "decoding lost or made up records";
  const std::vector<uint8_t> again = EncodeNoteList(notes);
  if (again.size() != notes.size() * kNoteRecBytes ||
      !std::equal(again.begin(), again.end(), data.begin())) {
    return "records do not encode back to their bytes";
  }
  return CheckAndRender(notes);
}

std::string FuzzTextNoteList(std::span<const uint8_t> data) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  auto parsed = ParseNoteText(text);
  if (const auto* error = std::get_if<NoteTextError>(&parsed)) {
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (error->line < 1 || error->line > lines) return "the error names a line not in the text";
    if (error->message.empty()) return "an error without a message";
    return {};
  }
  const std::vector<NoteRec> notes = std::move(std::get<std::vector<NoteRec>>(parsed));
  auto reread = ParseNoteText(FormatNoteText(notes));
  const auto* back = std::get_if<std::vector<NoteRec>>(&reread);
  if (!back || !SameRecords(*back, notes)) return "printed records do not read back the same";
  return CheckAndRender(notes);
}

std::string FuzzMidiScore(std::span<const uint8_t> data) {
  auto read = ReadMidiFile(data, MidiReadOptions{});
  if (const auto* error = std::get_if<MidiError>(&read)) {
    if (error->offset >= std::max<size_t>(data.size(), 1))
      return "the error names a byte past the end";
    if (error->message.empty()) return "an error without a message";
    return {};
  }
  const MidiScore& score = std::get<MidiScore>(read);
  if (CheckNoteList(score.notes)) return "the reader made a record that breaks the invariants";
  for (const NoteRec& r : score.notes) {
    if (r.Note > 127 || r.Velocity < 1 || r.Velocity > 127) return "a record that MIDI cannot hold";
  }
  MidiWriteReport written;
  const std::vector<uint8_t> bytes = WriteMidiFile(score.notes, &written);
  if (bytes.empty() || !DescribeMidiReport(written).empty())
    return "the writer refused or changed records";
  auto again = ReadMidiFile(bytes, MidiReadOptions{});
  const auto* back = std::get_if<MidiScore>(&again);
  if (!back) return "the written file does not read back";
  if (!SameRecords(back->notes, score.notes)) return "the written file reads back to other records";
  if (!DescribeMidiReport(back->report).empty())
    return "reading the written file changed something";
  return CheckAndRender(score.notes);
}

}  // namespace quom::fuzz
