// The sample bank and the notes on the task pool, without hooks (render/PipelineRun.h).
#include "render/Pipeline.h"

#include "render/PipelineRun.h"

namespace quom {

void BuildSamplesAndRenderSong(Engine& e, std::span<const NoteRec> notes, float SecPerTick,
                               TaskPool& pool, const std::function<void()>& samplesBuilt,
                               SimdPath path, int64_t leaveOut) {
  NoHandOffHooks none;
  BuildSamplesAndRenderSongHooked(e, notes, SecPerTick, pool, samplesBuilt, path, leaveOut, none);
}

}  // namespace quom
