// The whole synthesis as one call, in the order the piece is made.
#include "song/Synthesize.h"

#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <thread>

#include "fx/modFXMaster.h"
#include "fx/modFXReverb.h"
#include "song/HugePages.h"
#include "song/Pipeline.h"

namespace quom {

namespace {

// FxMaster, a block of frames at a time, handing each block's pages of the bus back to the system
// once it is converted: the PCM grows as the bus shrinks, so the two never need their full size
// at once. The bus is empty afterwards.
std::vector<int16_t> MasterConsumingBus(modGen& g) {
  constexpr int32_t kBlockFrames = 1 << 16;  // 768 KiB of bus
  const size_t frames = g.MixLen > 0 ? static_cast<size_t>(g.MixLen) : 0;
  std::vector<int16_t> PcmBuf;
  ReserveHuge(PcmBuf, 2 * frames);  // no page is touched before it is written
  // Whole huge pages of the bus at a time, so that none is split to free part of it.
  const uintptr_t page = kHugePageBytes;
  const auto busStart = reinterpret_cast<uintptr_t>(g.MixBuf.data());
  uintptr_t released = (busStart + page - 1) & ~(page - 1);  // whole pages only
  float envelope = kMasterStartLevel;
  for (size_t from = 0; from < frames; from += kBlockFrames) {
    const size_t to = std::min(frames, from + kBlockFrames);
    PcmBuf.resize(2 * to);
    FxMasterFrames(g, PcmBuf, static_cast<int32_t>(from), static_cast<int32_t>(to), envelope);
    const uintptr_t done = (busStart + to * sizeof(MixFrame)) & ~(page - 1);
    if (done > released) {
      madvise(reinterpret_cast<void*>(released), done - released, MADV_DONTNEED);
      released = done;
    }
  }
  std::vector<MixFrame>().swap(g.MixBuf);
  return PcmBuf;
}

}  // namespace

int WorkerThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 2 : static_cast<int>(std::min(n, 8u));
}

std::vector<int16_t> Synthesize(Engine& e, std::span<const NoteRec> notes, StageObserver* observer,
                                const RenderOptions& options) {
  const RenderPath path = options.path;
  InitMix(e);
  if (path == RenderPath::kLiteral) {
    BuildSamples(e);  // before any note reads the sample bank
    if (observer) observer->SamplesBuilt(e);
    RenderSong(e, notes, kSecPerTick);
  } else {
    // The bank and the notes at once; the drums wait for the bank.
    BuildSamplesAndRenderSong(
        e, notes, kSecPerTick, options.threads,
        [&] {
          if (observer) observer->SamplesBuilt(e);
        },
        options.simd);
  }
  if (observer) observer->NotesMixed(e);
#if defined(__GLIBC__)
  // The plans and voice buffers of the notes are freed; hand their pages back before the PCM is
  // allocated, so that the bus and the PCM are most of what the process holds at its peak.
  malloc_trim(0);
#endif

  if (path == RenderPath::kLiteral) {
    FxReverb(e);
  } else {
    FxReverb(e, options.simd, options.threads);
  }
  if (observer) observer->ReverbAdded(e);

  // Sized by the final MixLen: voices reaching past the estimate have grown the bus.
  if (path == RenderPath::kLiteral) {
    std::vector<int16_t> PcmBuf(2 * static_cast<size_t>(e.gen.MixLen), 0);
    FxMaster(e.gen, PcmBuf);
    return PcmBuf;
  }
  return MasterConsumingBus(e.gen);
}

}  // namespace quom
