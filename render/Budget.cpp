// Render cost of a note list from its records alone, and the limits it is held to.
#include "render/Budget.h"

#include <algorithm>
#include <cstdio>

#include "base/Rounding.h"
#include "base/SampleRate.h"
#include "render/NotePlan.h"
#include "units/modGen.h"
#include "voices/Instruments.h"

namespace quom {

namespace {

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
  const LayerLengthList list = LayerLengthsOf(r.Instrument, r.Note, D);
  NoteLayers layers;
  layers.start = RoundToInt32(S * kSampleRateHz);
  layers.count = list.count;
  layers.len = list.len;
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
