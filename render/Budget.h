// What a note list will cost to render, worked out from its records before anything is
// allocated, and the limits a list must keep to be rendered at all.
//
// The format bounds every note, not their number: a list of a few kilobytes can ask for hours of
// synthesis, and a note as long as the format allows needs a voice of 200 MB. The costs that
// grow with the list are the mix bus (the bus and the PCM have its length), the samples of every
// voice layer (each passes through the oscillator, the effects and the mix once: the time) and the
// longest layer (layers rendered ahead of the mixing are held whole: the memory besides the bus).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "score/NoteList.h"

namespace quom {

struct RenderCost {
  size_t records = 0;
  int64_t busFrames = 0;     // at least the final MixLen: voices are placed without start jitter
  int64_t voiceSamples = 0;  // the length of every layer the list plays, summed
  int32_t longestLayer = 0;  // samples
  size_t longestLayerRecord = 0;  // the first record that plays a layer that long
};

struct RenderLimits {
  size_t records;
  int64_t busFrames;
  int64_t voiceSamples;
  int32_t layerSamples;
};

// Generous for music: the piece has 2,398 records, a 5,297,673-frame bus, about 73 million voice
// samples and no layer longer than 150,000 samples. No list within the format's tick range
// reaches the bus limit (20 minutes, about 850 MB of buffers); the voice limit is fourteen times
// the piece, under a minute of synthesis; a layer may be a minute long.
inline constexpr RenderLimits kRenderLimits = {
    1'000'000,      // records
    52'920'000,     // bus frames: 20 minutes at 44,100 frames per second
    1'000'000'000,  // voice samples
    2'650'000,      // samples in one layer: a 60 s note and its 4,000-sample tail
};

// The layer lengths of every record as the instruments size them, and where the last one ends.
// Needs no engine and makes no draws. The records must pass CheckNoteList.
RenderCost EstimateRenderCost(std::span<const NoteRec> notes, float SecPerTick);

// The layers a record plays, in the order PlayNote makes them: their lengths in samples, and
// the frame the note starts at (no layer starts later).
struct NoteLayers {
  int count = 0;
  std::array<int32_t, 3> len{};
  int64_t start = 0;
};
NoteLayers LayerLengths(const NoteRec& r, float SecPerTick);

// Why the cost exceeds the limits, naming the figure and the limit; nothing when it does not.
std::optional<std::string> CheckRenderCost(const RenderCost& cost,
                                           const RenderLimits& limits = kRenderLimits);

}  // namespace quom
