// The whole synthesis as one call, in the order the piece is made.
#include "render/Synthesize.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <thread>

#include "base/Memory.h"
#include "render/Completeness.h"
#include "render/Pipeline.h"
#include "render/Reverb.h"
#include "render/SampleBank.h"
#include "render/TaskPool.h"
#include "units/modFXMaster.h"

namespace quom {

namespace {

// FxMaster, a block of frames at a time, handing each block's pages of the bus back to the system
// once it is converted: the PCM grows as the bus shrinks, so the two never need their full size
// at once. Blocks come in order; the bus is empty afterwards.
class MasterConsumingBus {
 public:
  MasterConsumingBus(modGen& g, SimdPath path)
      : g_(g),
        path_(path),
        frames_(g.MixLen > 0 ? static_cast<size_t>(g.MixLen) : 0),
        busStart_(reinterpret_cast<uintptr_t>(g.MixBuf.data())),
        released_((busStart_ + kHugePageBytes - 1) & ~(kHugePageBytes - 1)) {  // whole pages only
    ReserveHuge(pcm_, 2 * frames_);  // no page is touched before it is written
  }

  // Frames [from, to), the next ones in order.
  void Convert(size_t from, size_t to) {
    if (from != converted_ || to < from || to > frames_) {
      throw std::logic_error("master stage: bus frames out of order");
    }
    pcm_.resize(2 * to);
    FxMasterFramesFast(g_, pcm_, static_cast<int32_t>(from), static_cast<int32_t>(to), envelope_,
                       path_);
    // Whole huge pages of the bus at a time, so that none is split to free part of it.
    const uintptr_t done = (busStart_ + to * sizeof(MixFrame)) & ~(kHugePageBytes - 1);
    if (done > released_) {
      ReleasePages(reinterpret_cast<void*>(released_), done - released_);
      released_ = done;
    }
    converted_ = to;
  }

  // The rest of the bus, a block at a time.
  void ConvertRest() {
    constexpr size_t kBlockFrames = 1 << 16;  // 768 KiB of bus
    while (converted_ < frames_)
      Convert(converted_, std::min(frames_, converted_ + kBlockFrames));
  }

  std::vector<int16_t> Finish() {
    ConvertRest();
    CheckComplete(static_cast<int64_t>(pcm_.size() / 2), static_cast<int64_t>(frames_),
                  "frames converted to PCM");
    std::vector<MixFrame>().swap(g_.MixBuf);
    return std::move(pcm_);
  }

 private:
  modGen& g_;
  SimdPath path_;
  size_t frames_;
  uintptr_t busStart_;
  uintptr_t released_;
  size_t converted_ = 0;  // frames before this are in the PCM
  float envelope_ = kMasterStartLevel;
  std::vector<int16_t> pcm_;
};

}  // namespace

int WorkerThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 2 : static_cast<int>(std::min(n, unsigned{kMostDefaultWorkers}));
}

std::vector<int16_t> Synthesize(Engine& e, std::span<const NoteRec> notes, StageObserver* observer,
                                const RenderOptions& options) {
  const RenderPath path = options.path;
  InitMix(e);
  // The fast path's workers, for every stage.
  std::unique_ptr<TaskPool> pool;
  if (path == RenderPath::kLiteral) {
    BuildSamples(e);  // before any note reads the sample bank
    if (observer) observer->SamplesBuilt(e);
    RenderSong(e, notes, kSecPerTick);
  } else {
    pool = std::make_unique<TaskPool>(options.threads);
    // The bank and the notes at once; the drums wait for the bank.
    BuildSamplesAndRenderSong(
        e, notes, kSecPerTick, *pool,
        [&] {
          if (observer) observer->SamplesBuilt(e);
        },
        options.simd, options.leaveOutLayer);
  }
  if (observer) observer->NotesMixed(e);
  // The plans and voice buffers of the notes are freed; hand their pages back before the PCM is
  // allocated, so that the bus and the PCM are most of what the process holds at its peak.
  TrimHeap();

  if (path == RenderPath::kLiteral) {
    FxReverb(e);
    if (observer) observer->ReverbAdded(e);
    // Sized by the final MixLen: voices reaching past the estimate have grown the bus.
    std::vector<int16_t> PcmBuf(2 * static_cast<size_t>(e.gen.MixLen), 0);
    FxMaster(e.gen, PcmBuf);
    return PcmBuf;
  }

  MasterConsumingBus master(e.gen, options.simd);
  if (observer && observer->ReadsBusAfterReverb()) {
    FxReverb(e, *pool, options.simd);
    observer->ReverbAdded(e);
  } else {
    // The master stage follows the reverb round by round, on the calling thread.
    FxReverb(e, *pool, options.simd,
             [&master](int32_t from, int32_t to) { master.Convert(from, to); });
    if (observer) observer->ReverbAdded(e);
  }
  return master.Finish();
}

}  // namespace quom
