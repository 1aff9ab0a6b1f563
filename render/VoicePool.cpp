#include "render/VoicePool.h"

namespace quom {

VoiceBuffer VoicePool::Get(int32_t len) {
  const size_t n = static_cast<size_t>(len);
  std::lock_guard<std::mutex> lock(mutex_);
  // The smallest free buffer that is large enough.
  size_t best = free_.size();
  for (size_t i = 0; i < free_.size(); ++i) {
    if (free_[i].size >= n && (best == free_.size() || free_[i].size < free_[best].size)) best = i;
  }
  if (best != free_.size()) {
    if (free_[best].data.get_deleter().heap) freeSize_ -= free_[best].size;
    VoiceBuffer b = std::move(free_[best]);
    free_[best] = std::move(free_.back());
    free_.pop_back();
    return b;
  }
  if (void* p = region_.Take(n * sizeof(float))) {
    return {std::unique_ptr<float[], VoiceFree>(static_cast<float*>(p), VoiceFree{false}), n};
  }
  return {std::unique_ptr<float[], VoiceFree>(new float[n]), n};
}

void VoicePool::Put(VoiceBuffer b) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (b.data.get_deleter().heap) {
    if (freeSize_ + b.size > kFreeSamples) return;  // freed here, the pool is full
    freeSize_ += b.size;
  }
  free_.push_back(std::move(b));
}

}  // namespace quom
