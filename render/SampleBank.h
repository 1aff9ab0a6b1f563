// The sample bank as a stage of the engine: the builders run on the engine's state, and the
// progress the plate builders report, every 1,024 samples, is counted here.
#pragma once

#include <array>
#include <cstdint>

#include "base/Simd.h"
#include "render/Engine.h"
#include "render/ProgressCalls.h"
#include "voices/modSamples.h"

namespace quom {

// Samples between two progress calls of a plate builder.
constexpr int32_t kPlateProgressEvery = 1024;

// Progress units per call of each plate builder: they follow the cost of a sample (256 cells
// stepped twice, 1,024 twice, 4,096 once).
constexpr std::array<float, kBankPlates> kPlateProgressUnits = {0.25f, 1.0f, 2.0f};

// Runs the five builders in their fixed order: noise, kick, small, mid and big plate, the plates
// stepped with PlateStep and reporting progress every 1,024 samples (375.25 units in all).
void BuildSamples(Engine& e);

// The same bank, to the bit, with the generator state and the progress calls BuildSamples leaves
// and makes, from the bank's pieces on the calling thread, the plates run by PlateRun.
void BuildSamples(Engine& e, SimdPath path);

// The bank's progress calls as its pieces record their plates: in BuildSamples' order, a later
// plate's calls after all of an earlier one's. From one thread.
class BankProgress {
 public:
  // All the bank's calls: 89 of 0.25 units, 59 of 1 and 147 of 2.
  static int32_t Calls();

  // Makes the calls due once each plate has recorded `recorded[k]` samples and that have not been
  // made yet. Returns whether every call of the bank has been made.
  bool Report(Engine& e, const std::array<int32_t, kBankPlates>& recorded);

  int32_t Made() const { return made_; }

 private:
  int32_t made_ = 0;
};

}  // namespace quom
