// Render cost of a note list from its records alone, and the limits it is held to.
#include "render/Budget.h"

#include <algorithm>
#include <cstdio>

#include "base/Rounding.h"
#include "render/NotePlan.h"
#include "units/modGen.h"

namespace quom {

namespace {

constexpr double kSampleRateHz = 44100.0;

// The cubic and arc buffers ring on 4,000 samples past the note, the bass main layer 2,000.
int32_t TonalLength(float length) {
  return RoundToInt32(length * kSampleRateHz + 4000.0);
}
int32_t BassMainLength(float length) {
  return RoundToInt32(length * kSampleRateHz + 2000.0);
}

// The drum sounds' fixed lengths; note 63 follows the note within 0.12 .. 2 s plus a tail.
int32_t DrumLength(int note, float LenSec) {
  switch (note) {
    case 36:
      return 7000;
    case 38:
    case 39:
    case 40:
      return 32000;
    case 59:
      return 60000;
    case 61:
      return 25000;
    case 63: {
      float L = LenSec;
      if (LenSec > 2.0f) {
        L = 2.0f;
      } else if (!(LenSec >= 0.12f)) {
        L = 0.12f;
      }
      return RoundToInt32(L * kSampleRateHz + 2000.0);
    }
    case 67:
    case 69:
      return 150000;
    default:
      return 0;  // plays nothing
  }
}

std::string Grouped(int64_t v) {
  std::string digits = std::to_string(v);
  std::string out;
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Minutes(int64_t frames) {
  char figure[32];
  std::snprintf(figure, sizeof figure, "%.1f minutes",
                static_cast<double>(frames) / kSampleRateHz / 60.0);
  return figure;
}

}  // namespace

NoteLayers LayerLengths(const NoteRec& r, float SecPerTick) {
  const double secPerTick = SecPerTick;
  const float S = Single(r.Start * secPerTick);
  const float D = Single(r.Length * secPerTick);
  constexpr float kOctaveLayerSec = 0.03f;
  NoteLayers layers;
  layers.start = RoundToInt32(S * kSampleRateHz);
  auto add = [&layers](int32_t len) { layers.len[layers.count++] = len; };
  const int code = r.Instrument;
  if (code == 24) {
    add(TonalLength(D));
    add(TonalLength(kOctaveLayerSec));
  } else if (code == 25) {
    add(TonalLength(D));
    add(TonalLength(kOctaveLayerSec));
    add(TonalLength(D));
  } else if (code == 26) {
    add(TonalLength(D));
    add(TonalLength(D));
  } else if (code >= 27 && code <= 37) {
    add(TonalLength(Single(D * 0.5)));  // the arc layer: half the note
    add(BassMainLength(D));
  } else if (code == 127) {
    if (const int32_t len = DrumLength(r.Note, D); len > 0) add(len);
  }
  return layers;
}

RenderCost EstimateRenderCost(std::span<const NoteRec> notes, float SecPerTick) {
  RenderCost cost;
  cost.records = notes.size();
  cost.busFrames = SizedMixLen(notes, SecPerTick);
  for (const NoteRec& r : notes) {
    const NoteLayers layers = LayerLengths(r, SecPerTick);
    for (int i = 0; i < layers.count; ++i) {
      cost.voiceSamples += layers.len[i];
      cost.busFrames = std::max(cost.busFrames, layers.start + layers.len[i]);
      if (layers.len[i] > cost.longestLayer) {
        cost.longestLayer = layers.len[i];
        cost.longestLayerRecord = static_cast<size_t>(&r - notes.data());
      }
    }
  }
  return cost;
}

std::optional<std::string> CheckRenderCost(const RenderCost& cost, const RenderLimits& limits) {
  if (cost.records > limits.records) {
    return Grouped(static_cast<int64_t>(cost.records)) + " records; the limit is " +
           Grouped(static_cast<int64_t>(limits.records));
  }
  if (cost.busFrames > limits.busFrames) {
    return "the mix bus would be " + Grouped(cost.busFrames) + " frames (" +
           Minutes(cost.busFrames) + "); the limit is " + Grouped(limits.busFrames);
  }
  if (cost.longestLayer > limits.layerSamples) {
    return "record " + std::to_string(cost.longestLayerRecord) + " would need a voice of " +
           Grouped(cost.longestLayer) + " samples (" + Minutes(cost.longestLayer) +
           "); the limit is " + Grouped(limits.layerSamples);
  }
  if (cost.voiceSamples > limits.voiceSamples) {
    return "the notes would synthesise " + Grouped(cost.voiceSamples) +
           " voice samples; the limit is " + Grouped(limits.voiceSamples);
  }
  return std::nullopt;
}

}  // namespace quom
