// Score rendering: sizing the mix bus for the note list and dispatching every note, in file
// order, to the layers of its instrument code.
#include <cmath>

#include "song/Engine.h"
#include "synth/Rounding.h"

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

void RenderSong(Engine& e, std::span<const NoteRec> notes, float SecPerTick) {
  modGen& g = e.gen;
  const double secPerTick = SecPerTick;

  g.MixLen = 0;
  for (const NoteRec& r : notes) {
    const int endTick = r.Start + r.Length;
    // endTick * SecPerTick first, then * 44100, in double; one rounding to the frame.
    const int32_t endFrame = RoundToInt32(endTick * secPerTick * static_cast<double>(kSampleRate));
    if (endFrame > g.MixLen) g.MixLen = endFrame;
  }
  g.MixLen = g.MixLen + kSampleRate;  // one second after the last note end
  g.MixBuf.assign(static_cast<size_t>(g.MixLen), MixFrame{});

  for (const NoteRec& r : notes) {
    PlayNote(e, Single(r.Start * secPerTick), Single(r.Length * secPerTick), r.Note, r.Velocity,
             r.Instrument);
  }
}

void PlayNote(Engine& e, float StartSec, float LenSec, int Note, int Velocity, int Instrument) {
  const float Gain = VelocityGain(Velocity);
  const int32_t N = Note;
  const float S = StartSec;
  const float D = LenSec;
  constexpr float kOctaveLayerSec = 0.03f;  // the octave-down layer's fixed length

  // The layers draw from the shared generators: their order is part of the output.
  if (Instrument == 24) {
    VoiceCubic(e, N, Gain, S, D, 0.5f, 0.7f);
    VoiceCubic(e, N - 12, Single(Gain * 0.5), S, kOctaveLayerSec, 0.5f, 0.2f);
    ShowProgress(e, 0.2f);
  } else if (Instrument == 25) {
    VoiceCubic(e, N, Gain, S, D, 0.15f, 0.2f);
    VoiceCubic(e, N - 12, Single(Gain * 0.25), S, kOctaveLayerSec, 0.35f, 0.2f);
    VoiceCubic(e, N, Gain, S, D, 0.7f, 0.2f);
    ShowProgress(e, 0.3f);
  } else if (Instrument == 26) {
    VoiceArc(e, N, Single(Gain * 0.7), S, D, 0.3f);
    VoiceArc(e, N, Single(Gain * 0.7), S, D, 0.85f);
    ShowProgress(e, 0.2f);
  } else if (Instrument >= 27 && Instrument <= 37) {
    VoiceBass(e, N, Gain, S, D);
    ShowProgress(e, 0.1f);
  } else if (Instrument == 127) {
    VoiceDrum(e, N, Gain, S, D);
    ShowProgress(e, 0.004f);
  }
  // Any other code renders nothing and reports no progress.
}

}  // namespace quom
