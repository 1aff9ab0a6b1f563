// The whole note list, planned: every layer of every note in file order, with the progress each
// note reports and the bus length the mixed piece needs.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "score/NoteList.h"
#include "voices/Layer.h"

namespace quom {

struct Engine;

// Plans one note as PlayNote renders it: velocity to gain, the instrument code's layers in
// order (each making its draws). Appends the layers to `layers` and returns the note's progress
// units (0 for codes that render nothing and report nothing).
float PlanNote(Engine& e, float StartSec, float LenSec, int Note, int Velocity, int Instrument,
               std::vector<LayerPlan>& layers);

struct SongPlan {
  std::vector<LayerPlan> layers;  // every layer, in file order
  std::vector<uint32_t> noteEnd;  // per note: one past its last layer
  std::vector<float> units;       // per note: progress units it reports (0: none)
  int32_t sizedLen = 0;           // the bus length sized from the note ends
  int32_t mixLen = 0;             // the bus length once every layer is mixed
};

// Plans every record of the list in file order, as RenderSong renders it.
SongPlan PlanSong(Engine& e, std::span<const NoteRec> notes, float SecPerTick);

// The bus length a list needs before any voice is mixed: the last note end plus one second.
int32_t SizedMixLen(std::span<const NoteRec> notes, float SecPerTick);

// The first frame a layer is mixed at.
int64_t LayerOffset(const LayerPlan& p);

}  // namespace quom
