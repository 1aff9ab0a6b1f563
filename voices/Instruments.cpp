// The instrument codes' recipes.
#include "voices/Instruments.h"

#include "base/Rounding.h"
#include "voices/modGenDrum.h"
#include "voices/modGenTonal.h"

namespace quom {

namespace {

constexpr float kOctaveLayerSec = 0.03f;  // the octave-down layers' fixed length

constexpr Instrument kSilent{};

// The lead: one tone, with a short octave-down layer for its attack.
constexpr Instrument kLead{InstrumentKind::kTones,
                           2,
                           {{
                               {LayerKind::kCubic, 0, 1.0, 0.0f, 0.5f, 0.7f},
                               {LayerKind::kCubic, -12, 0.5, kOctaveLayerSec, 0.5f, 0.2f},
                           }},
                           0.2f};

// The arpeggio: two tones spread left and right, the octave-down attack between them.
constexpr Instrument kArpeggio{InstrumentKind::kTones,
                               3,
                               {{
                                   {LayerKind::kCubic, 0, 1.0, 0.0f, 0.15f, 0.2f},
                                   {LayerKind::kCubic, -12, 0.25, kOctaveLayerSec, 0.35f, 0.2f},
                                   {LayerKind::kCubic, 0, 1.0, 0.0f, 0.7f, 0.2f},
                               }},
                               0.3f};

// The stabs: two arc tones, left and right.
constexpr Instrument kStabs{InstrumentKind::kTones,
                            2,
                            {{
                                {LayerKind::kArc, 0, 0.7, 0.0f, 0.3f, 0.0f},
                                {LayerKind::kArc, 0, 0.7, 0.0f, 0.85f, 0.0f},
                            }},
                            0.2f};

constexpr Instrument kBass{InstrumentKind::kBass, 2, {}, 0.1f};

// Counted even for drum notes that play nothing.
constexpr Instrument kDrums{InstrumentKind::kDrum, 1, {}, 0.004f};

}  // namespace

const Instrument& InstrumentOf(int code) {
  if (code == 24) return kLead;
  if (code == 25) return kArpeggio;
  if (code == 26) return kStabs;
  if (code >= 27 && code <= 37) return kBass;
  if (code == 127) return kDrums;
  return kSilent;
}

LayerLengthList LayerLengthsOf(int code, int32_t note, float LenSec) {
  const Instrument& ins = InstrumentOf(code);
  LayerLengthList list;
  auto add = [&list](int32_t len) { list.len[list.count++] = len; };
  switch (ins.kind) {
    case InstrumentKind::kSilent:
      break;
    case InstrumentKind::kTones:
      for (int i = 0; i < ins.layers; ++i) {
        const ToneLayer& t = ins.tones[i];
        add(ToneLength(t.lengthSec > 0.0f ? t.lengthSec : LenSec));
      }
      break;
    case InstrumentKind::kBass:
      add(ToneLength(BassArcLength(LenSec)));
      add(BassMainLength(LenSec));
      break;
    case InstrumentKind::kDrum:
      if (const int32_t len = DrumLength(note, LenSec); len > 0) add(len);
      break;
  }
  return list;
}

}  // namespace quom
