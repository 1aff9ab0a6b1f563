// Run-time choice of the vector instruction set.
#include "base/Simd.h"

namespace quom {

namespace {

bool Supports(SimdPath path) {
#if defined(__x86_64__) || defined(__i386__)
  switch (path) {
    case SimdPath::kScalar:
    case SimdPath::kSse2:
      return true;
    case SimdPath::kAvx2:
      return __builtin_cpu_supports("avx2");
    case SimdPath::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  }
  return false;
#else
  return path == SimdPath::kScalar;
#endif
}

}  // namespace

SimdPath BestSimdPath() {
  static const SimdPath best = [] {
    for (SimdPath p : {SimdPath::kAvx512, SimdPath::kAvx2, SimdPath::kSse2}) {
      if (Supports(p)) return p;
    }
    return SimdPath::kScalar;
  }();
  return best;
}

std::vector<SimdPath> AvailableSimdPaths() {
  std::vector<SimdPath> paths;
  for (SimdPath p : {SimdPath::kScalar, SimdPath::kSse2, SimdPath::kAvx2, SimdPath::kAvx512}) {
    if (Supports(p)) paths.push_back(p);
  }
  return paths;
}

const char* SimdPathName(SimdPath path) {
  switch (path) {
    case SimdPath::kScalar:
      return "scalar";
    case SimdPath::kSse2:
      return "sse2";
    case SimdPath::kAvx2:
      return "avx2";
    case SimdPath::kAvx512:
      return "avx512";
  }
  return "?";
}

}  // namespace quom
