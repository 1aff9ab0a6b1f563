// The percussion sample bank: six mono buffers computed once, before any note is rendered.
#pragma once

#include <vector>

namespace quom {

struct modSamples {
  std::vector<float> SmpPlateSmall;   // 90,200 samples
  std::vector<float> SmpPlateMid;     // 60,000
  std::vector<float> SmpPlateBig;     // 150,000
  std::vector<float> SmpPlateBigLow;  // 150,000
  std::vector<float> SmpKick;         // 16,384
  std::vector<float> SmpNoise;        // 32,768
};

}  // namespace quom
