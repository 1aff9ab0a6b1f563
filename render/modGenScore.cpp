// Score rendering: sizing the mix bus for the note list and dispatching every note, in file
// order, to the layers of its instrument code.
#include <algorithm>
#include <cmath>

#include "base/Rounding.h"
#include "render/Engine.h"
#include "render/NotePlan.h"
#include "voices/modGenDrum.h"
#include "voices/modGenTonal.h"

namespace quom {

void ShowProgress(Engine& e, float amount) {
  e.gen.ProgressTotal = e.gen.ProgressTotal + amount;
  if (e.progress) e.progress->Progress(e.gen.ProgressTotal);
}

void InitMix(Engine& e) {
  if (e.progress) e.progress->Start();
  e.gen.VoiceBuf.assign(1, 0.0f);  // VoiceLen is left as it was
  e.gen.MixLen = 0;
  e.gen.MixBuf.assign(1, MixFrame{});
}

int32_t SizedMixLen(std::span<const NoteRec> notes, float SecPerTick) {
  const double secPerTick = SecPerTick;
  int32_t len = 0;
  for (const NoteRec& r : notes) {
    const int endTick = r.Start + r.Length;
    // endTick * SecPerTick first, then * 44100, in double; one rounding to the frame.
    const int32_t endFrame = RoundToInt32(endTick * secPerTick * static_cast<double>(kSampleRate));
    if (endFrame > len) len = endFrame;
  }
  return len + kSampleRate;  // one second after the last note end
}

int64_t LayerOffset(const LayerPlan& p) {
  return RoundToInt32(p.start * static_cast<double>(kSampleRate));
}

void RenderSong(Engine& e, std::span<const NoteRec> notes, float SecPerTick) {
  modGen& g = e.gen;
  g.MixLen = SizedMixLen(notes, SecPerTick);
  g.MixBuf.assign(static_cast<size_t>(g.MixLen), MixFrame{});
  const double secPerTick = SecPerTick;
  for (const NoteRec& r : notes) {
    PlayNote(e, Single(r.Start * secPerTick), Single(r.Length * secPerTick), r.Note, r.Velocity,
             r.Instrument);
  }
}

float PlanNote(Engine& e, float StartSec, float LenSec, int Note, int Velocity, int Instrument,
               std::vector<LayerPlan>& layers) {
  const float Gain = VelocityGain(Velocity);
  const int32_t N = Note;
  const float S = StartSec;
  const float D = LenSec;
  constexpr float kOctaveLayerSec = 0.03f;  // the octave-down layer's fixed length

  // The layers draw from the shared generators: their order is part of the output.
  if (Instrument == 24) {
    layers.push_back(PlanCubic(e, N, Gain, S, D, 0.5f, 0.7f));
    layers.push_back(PlanCubic(e, N - 12, Single(Gain * 0.5), S, kOctaveLayerSec, 0.5f, 0.2f));
    return 0.2f;
  }
  if (Instrument == 25) {
    layers.push_back(PlanCubic(e, N, Gain, S, D, 0.15f, 0.2f));
    layers.push_back(PlanCubic(e, N - 12, Single(Gain * 0.25), S, kOctaveLayerSec, 0.35f, 0.2f));
    layers.push_back(PlanCubic(e, N, Gain, S, D, 0.7f, 0.2f));
    return 0.3f;
  }
  if (Instrument == 26) {
    layers.push_back(PlanArc(e, N, Single(Gain * 0.7), S, D, 0.3f));
    layers.push_back(PlanArc(e, N, Single(Gain * 0.7), S, D, 0.85f));
    return 0.2f;
  }
  if (Instrument >= 27 && Instrument <= 37) {
    LayerPlan arc, main;
    PlanBass(e, N, Gain, S, D, arc, main);
    layers.push_back(arc);
    layers.push_back(main);
    return 0.1f;
  }
  if (Instrument == 127) {
    LayerPlan drum;
    if (PlanDrum(e, N, Gain, S, D, drum)) layers.push_back(drum);
    return 0.004f;  // counted even for drum notes that play nothing
  }
  return 0.0f;  // any other code renders nothing and reports no progress
}

namespace {

// The most layers PlanNote adds for a note of this instrument code (a drum note may add none).
size_t MaxLayers(int Instrument) {
  if (Instrument == 25) return 3;
  if (Instrument == 24 || Instrument == 26 || (Instrument >= 27 && Instrument <= 37)) return 2;
  return Instrument == 127 ? 1 : 0;
}

}  // namespace

void PlayNote(Engine& e, float StartSec, float LenSec, int Note, int Velocity, int Instrument) {
  std::vector<LayerPlan> layers;
  const float units = PlanNote(e, StartSec, LenSec, Note, Velocity, Instrument, layers);
  for (const LayerPlan& p : layers)
    PlayLayer(e, p);
  if (units > 0.0f) ShowProgress(e, units);
}

SongPlan PlanSong(Engine& e, std::span<const NoteRec> notes, float SecPerTick) {
  SongPlan plan;
  plan.sizedLen = SizedMixLen(notes, SecPerTick);
  plan.noteEnd.reserve(notes.size());
  plan.units.reserve(notes.size());
  size_t layers = 0;
  for (const NoteRec& r : notes)
    layers += MaxLayers(r.Instrument);
  plan.layers.reserve(layers);  // a layer plan holds a wave table: copying them adds up
  const double secPerTick = SecPerTick;
  int64_t mixLen = plan.sizedLen;
  for (const NoteRec& r : notes) {
    const size_t first = plan.layers.size();
    plan.units.push_back(PlanNote(e, Single(r.Start * secPerTick), Single(r.Length * secPerTick),
                                  r.Note, r.Velocity, r.Instrument, plan.layers));
    plan.noteEnd.push_back(static_cast<uint32_t>(plan.layers.size()));
    for (size_t i = first; i < plan.layers.size(); ++i) {
      const LayerPlan& p = plan.layers[i];
      mixLen = std::max(mixLen, LayerOffset(p) + p.len);  // where MixVoice would grow the bus
    }
  }
  plan.mixLen = static_cast<int32_t>(mixLen);
  return plan;
}

}  // namespace quom
