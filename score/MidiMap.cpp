// The default channel and program map, the kit's drum families, and --map's parser.
#include "score/MidiMap.h"

#include <charconv>

namespace quom {

namespace {

constexpr uint8_t kLead = 24;
constexpr uint8_t kPluck = 25;
constexpr uint8_t kPad = 26;
constexpr uint8_t kBass = 32;

// The code of each General MIDI family of eight programs, in program order.
constexpr std::array<uint8_t, 16> kFamilyCode = {
    kPluck,  // pianos
    kPluck,  // chromatic percussion
    kPad,    // organs: held chords
    kPluck,  // guitars
    kBass,   // basses
    kPad,    // strings
    kPad,    // ensembles
    kLead,   // brass
    kLead,   // reeds
    kLead,   // pipes
    kLead,   // synth leads
    kPad,    // synth pads
    kPad,    // synth effects
    kPluck,  // ethnic
    kPluck,  // percussive
    kPad,    // sound effects
};

}  // namespace

bool CodePlays(uint8_t code) {
  return code == 24 || code == 25 || code == 26 || (code >= 27 && code <= 37) || code == kDrumCode;
}

uint8_t DefaultCode(int channel, int program) {
  if (channel == kDrumChannel) return kDrumCode;
  return kFamilyCode[static_cast<size_t>(program & 127) / 8];
}

std::optional<uint8_t> KitNoteOf(int key) {
  switch (key) {
    case 35:  // acoustic bass drum
    case 36:  // bass drum 1
      return 36;
    case 38:  // acoustic snare; the kit's 39 and 40 are the same snare
    case 39:  // hand clap
    case 40:  // electric snare
      return static_cast<uint8_t>(key);
    case 42:  // closed hi-hat
    case 44:  // pedal hi-hat
      return 61;
    case 46:  // open hi-hat
      return 63;
    case 51:  // ride cymbal 1
    case 53:  // ride bell
    case 56:  // cowbell
    case 59:  // ride cymbal 2
    case 80:  // mute triangle
    case 81:  // open triangle
      return 59;
    case 49:  // crash cymbal 1
    case 55:  // splash cymbal
      return 69;
    case 52:  // Chinese cymbal: the darker crash
    case 57:  // crash cymbal 2
      return 67;
    default:
      return std::nullopt;
  }
}

uint8_t SwapDrumKeys(uint8_t note) {
  constexpr std::array<std::array<uint8_t, 2>, 4> kSwaps = {
      {{61, 42}, {63, 46}, {69, 49}, {67, 57}}};
  for (const auto& [own, key] : kSwaps) {
    if (note == own) return key;
    if (note == key) return own;
  }
  return note;
}

uint8_t ExportProgram(uint8_t code) {
  if (code == kLead) return 80;             // lead 1 (square)
  if (code == kPluck) return 6;             // harpsichord
  if (code == kPad) return 89;              // pad 2 (warm)
  if (code >= 27 && code <= 37) return 38;  // synth bass 1
  return 0;                                 // the kit, and codes that play nothing
}

std::string TrackName(uint8_t code) {
  const char* kind = "Silent";
  if (code == kLead) kind = "Lead";
  if (code == kPluck) kind = "Pluck";
  if (code == kPad) kind = "Pad";
  if (code >= 27 && code <= 37) kind = "Bass";
  if (code == kDrumCode) kind = "Drums";
  return std::string(kind) + " (quom code " + std::to_string(code) + ")";
}

std::variant<ChannelMap, std::string> ParseChannelMap(std::string_view text) {
  ChannelMap map;
  const auto number = [](std::string_view word, int min, int max) -> std::optional<int> {
    int v = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (word.empty() || ec != std::errc() || end != word.data() + word.size() || v < min ||
        v > max) {
      return std::nullopt;
    }
    return v;
  };
  size_t pos = 0;
  while (true) {
    const size_t comma = text.find(',', pos);
    const std::string_view item =
        text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      return "'" + std::string(item) + "' is not CHANNEL=CODE";
    }
    const auto channel = number(item.substr(0, eq), 1, 16);
    if (!channel) {
      return "channel '" + std::string(item.substr(0, eq)) + "' is not a number from 1 to 16";
    }
    const auto code = number(item.substr(eq + 1), 0, 255);
    if (!code) {
      return "code '" + std::string(item.substr(eq + 1)) + "' is not a number from 0 to 255";
    }
    map.code[static_cast<size_t>(*channel - 1)] = static_cast<uint8_t>(*code);
    if (comma == std::string_view::npos) return map;
    pos = comma + 1;
  }
}

}  // namespace quom
