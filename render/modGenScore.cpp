// Score rendering: sizing the mix bus for the note list and dispatching every note, in file
// order, to the layers of its instrument code.
#include <algorithm>
#include <cmath>

#include "base/Memory.h"
#include "base/Rounding.h"
#include "render/Engine.h"
#include "render/NotePlan.h"
#include "render/PlayNote.h"
#include "voices/Instruments.h"
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
  const quom::Instrument& ins = InstrumentOf(Instrument);
  modTools& t = e.tools;
  double& vib = e.wave.VibPhase;

  // The layers draw from the shared generators: their order is part of the output.
  switch (ins.kind) {
    case InstrumentKind::kSilent:
      break;
    case InstrumentKind::kTones:
      for (int i = 0; i < ins.layers; ++i) {
        const ToneLayer& l = ins.tones[i];
        const float gain = Single(Gain * l.gain);
        const float length = l.lengthSec > 0.0f ? l.lengthSec : D;
        if (l.kind == LayerKind::kCubic) {
          layers.push_back(PlanCubic(t, vib, N + l.transpose, gain, S, length, l.pan, l.send));
        } else {
          layers.push_back(PlanArc(t, vib, N + l.transpose, gain, S, length, l.pan));
        }
      }
      break;
    case InstrumentKind::kBass: {
      LayerPlan arc, main;
      PlanBass(t, vib, N, Gain, S, D, arc, main);
      layers.push_back(arc);
      layers.push_back(main);
      break;
    }
    case InstrumentKind::kDrum: {
      LayerPlan drum;
      if (PlanDrum(t, N, Gain, S, D, drum)) layers.push_back(drum);
      break;
    }
  }
  return ins.progress;
}

void PlayLayer(Engine& e, const LayerPlan& p) {
  modGen& g = e.gen;
  NewVoice(g, p.voiceNote, p.len);
  if (p.kind != LayerKind::kDrum) {
    // The engine's oscillator runs the layer; its vibrato ends where planning moved it.
    const double vibratoAfter = e.wave.VibPhase;
    e.wave = p.wave;
    RenderLayerLiteral(p, e.wave, e.samples, g.VoiceBuf.data());
    e.wave.VibPhase = vibratoAfter;
  } else {
    RenderLayerLiteral(p, e.wave, e.samples, g.VoiceBuf.data());
  }
  MixVoice(g, p.start, p.gain, p.pan, p.send);
}

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
    layers += static_cast<size_t>(InstrumentOf(r.Instrument).layers);
  // A layer plan holds a wave table: copying them would add up, and their megabytes fault in
  // fewer pages as huge ones.
  ReserveHuge(plan.layers, layers);
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
