// Block-by-block resampling with libsoxr: a few hundred kilobytes beside the piece.
#include "app/Resample.h"

#include <soxr.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quom {

namespace {

constexpr size_t kBlockFrames = 16384;  // input frames per call

void Check(soxr_error_t error) {
  if (error) throw std::runtime_error(std::string("cannot resample the piece: ") + error);
}

}  // namespace

void ResampleStereo(std::span<const int16_t> pcm, int from, int to,
                    const std::function<void(const float* frames, size_t count)>& sink) {
  const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t error = nullptr;
  std::unique_ptr<soxr, decltype(&soxr_delete)> resampler(
      soxr_create(from, to, 2, &error, &io, &quality, nullptr), soxr_delete);
  Check(error);

  // Room for a block's output and then some: what does not fit waits inside libsoxr.
  const size_t outFrames =
      kBlockFrames * static_cast<size_t>(to) / static_cast<size_t>(from) + 1024;
  std::vector<float> out(2 * outFrames);
  const size_t frames = pcm.size() / 2;
  size_t at = 0;
  for (;;) {
    const bool flushing = at == frames;  // no input left: libsoxr hands out what it holds
    const size_t count = std::min(kBlockFrames, frames - at);
    size_t used = 0, made = 0;
    Check(soxr_process(resampler.get(), flushing ? nullptr : pcm.data() + 2 * at, count, &used,
                       out.data(), outFrames, &made));
    if (made > 0) sink(out.data(), made);
    at += used;
    if (flushing && made == 0) break;
  }
}

}  // namespace quom
