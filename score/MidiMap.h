// Which instrument code a MIDI note plays: the default map from channels and General MIDI
// programs, the kit's drum families, the codes' programs for export, and --map's overrides.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quom {

inline constexpr uint8_t kDrumCode = 127;  // the percussion instrument
inline constexpr int kDrumChannel = 9;     // channel 10 as musicians count them

// Whether an instrument code plays anything: 24, 25, 26, the bass codes 27 to 37, and the kit.
// Notes of any other code sound nothing (they still lengthen the piece).
bool CodePlays(uint8_t code);

// The code a note takes by default: the kit on channel 10, else the family of the channel's
// General MIDI program (0 .. 127): basses to the bass (32); leads, brass, reeds and pipes to the
// lead (24); strings, ensembles, pads and effects to the pad (26); pianos, chromatic percussion,
// organs, guitars, ethnic and percussive programs to the pluck (25).
uint8_t DefaultCode(int channel, int program);

// The kit sound (36, 38, 39, 40, 59, 61, 63, 67 or 69) that a General MIDI drum key plays, by
// family: kicks, snares and claps, closed and pedal hats, open hats, rides and bells, crashes.
// Keys of other families (toms, latin percussion, ...) have no sound: nullopt.
std::optional<uint8_t> KitNoteOf(int key);

// quom's own drum notes as written to a file: its hats and crashes are moved onto the General
// MIDI keys of those sounds (61 and 42, 63 and 46, 69 and 49, 67 and 57 swap places), so that a
// sequencer plays the right drums and KitNoteOf maps them back. The swap is its own inverse.
uint8_t SwapDrumKeys(uint8_t note);

// The General MIDI program an exported track of `code` announces, one that DefaultCode maps back
// to a code that plays the same (every bass code comes back as 32), and the track's name.
uint8_t ExportProgram(uint8_t code);
std::string TrackName(uint8_t code);

// The codes given on the command line for some channels (index 0 is channel 1).
struct ChannelMap {
  std::array<std::optional<uint8_t>, 16> code{};
};

// Reads "CH=CODE[,CH=CODE...]": channels 1 .. 16, codes 0 .. 255; a channel named again takes
// the later code. A refusal says which item is wrong and why.
std::variant<ChannelMap, std::string> ParseChannelMap(std::string_view text);

}  // namespace quom
