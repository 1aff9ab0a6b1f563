// The whole synthesis as one call: sample bank, notes, reverb, master; returns the PCM.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/Simd.h"
#include "render/Engine.h"

namespace quom {

// Optional hooks between the stages, for tools that export intermediate buffers.
class StageObserver {
 public:
  virtual ~StageObserver() = default;
  virtual void SamplesBuilt(const Engine&) {}
  virtual void NotesMixed(const Engine&) {}
  virtual void ReverbAdded(const Engine&) {}
  // Whether ReverbAdded reads the bus. When it does not, the fast path converts each stretch of
  // the bus to PCM as soon as the reverb is in it, and calls ReverbAdded once the master stage
  // is done too, with the bus gone.
  virtual bool ReadsBusAfterReverb() const { return true; }
};

// Which implementation of the stages runs: the literal one is the reference the fast one is
// checked and measured against. Both give the same bits.
enum class RenderPath { kFast, kLiteral };

// How many worker threads the fast path uses by default: one per processor, at most eight (more
// gain nothing on the piece: its longest plate runs as one task).
constexpr int kMostDefaultWorkers = 8;
int WorkerThreads();

// How the fast path runs: its vector instructions and its worker threads. Every choice gives the
// same bits; the defaults are the fastest this machine allows.
struct RenderOptions {
  RenderPath path = RenderPath::kFast;
  SimdPath simd = BestSimdPath();
  // Workers besides the calling thread; 0 runs everything on the calling thread (where threads
  // cannot be started).
  int threads = WorkerThreads();
  // A test hook: a layer the fast path leaves unmixed (-1: none), to see the render's own check
  // catch the loss.
  int64_t leaveOutLayer = -1;
};

// Runs InitMix, BuildSamples, RenderSong (4/110 s per tick), FxReverb and FxMaster on a fresh
// engine state and returns PcmBuf: interleaved 16-bit stereo, L0 R0 L1 R1 ..., 2 * MixLen values.
// The notes must pass CheckNoteList. The fast path checks after each stage that all of its work
// was done, and throws RenderIncomplete (render/Completeness.h) if not.
std::vector<int16_t> Synthesize(Engine& e, std::span<const NoteRec> notes,
                                StageObserver* observer = nullptr,
                                const RenderOptions& options = {});

}  // namespace quom
