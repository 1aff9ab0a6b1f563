// Run-time choice of the vector instruction set.
#include "base/Simd.h"

#include <algorithm>
#include <cstdlib>

namespace quom {

namespace {

constexpr SimdPath kAllPaths[] = {SimdPath::kScalar,     SimdPath::kSse2,   SimdPath::kSse4,
                                  SimdPath::kAvx2,       SimdPath::kAvx512, SimdPath::kNeon,
                                  SimdPath::kWasmSimd128};

bool Supports(SimdPath path) {
  if (path == SimdPath::kScalar) return true;
#if defined(__x86_64__)
  switch (path) {
    case SimdPath::kSse2:
      return true;
    case SimdPath::kSse4:
      return __builtin_cpu_supports("sse4.2");
    case SimdPath::kAvx2:
      return __builtin_cpu_supports("avx2");
    case SimdPath::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
             __builtin_cpu_supports("avx512vl");
    default:
      return false;
  }
#elif defined(__aarch64__)
  return path == SimdPath::kNeon;
#elif defined(__wasm__)
  // A WebAssembly engine without 128-bit vectors refuses the whole module, so a running one has
  // them.
  return path == SimdPath::kWasmSimd128;
#else
  return false;
#endif
}

// The path QUOM_SIMD names, when the processor supports it.
std::optional<SimdPath> ForcedPath() {
  static const std::optional<SimdPath> forced = []() -> std::optional<SimdPath> {
    const char* name = std::getenv("QUOM_SIMD");
    if (!name) return std::nullopt;
    const std::optional<SimdPath> path = SimdPathNamed(name);
    if (!path || !Supports(*path)) return std::nullopt;
    return path;
  }();
  return forced;
}

}  // namespace

std::vector<SimdPath> SupportedSimdPaths() {
  std::vector<SimdPath> paths;
  for (SimdPath p : kAllPaths) {
    if (Supports(p)) paths.push_back(p);
  }
  return paths;
}

SimdPath BestSimdPath() {
  static const SimdPath best = ForcedPath().value_or(SupportedSimdPaths().back());
  return best;
}

std::vector<SimdPath> AvailableSimdPaths() {
  if (const std::optional<SimdPath> forced = ForcedPath()) return {*forced};
  return SupportedSimdPaths();
}

const char* SimdPathName(SimdPath path) {
  switch (path) {
    case SimdPath::kScalar:
      return "scalar";
    case SimdPath::kSse2:
      return "sse2";
    case SimdPath::kSse4:
      return "sse4";
    case SimdPath::kAvx2:
      return "avx2";
    case SimdPath::kAvx512:
      return "avx512";
    case SimdPath::kNeon:
      return "neon";
    case SimdPath::kWasmSimd128:
      return "simd128";
  }
  return "?";
}

std::optional<SimdPath> SimdPathNamed(std::string_view name) {
  for (SimdPath p : kAllPaths) {
    if (name == SimdPathName(p)) return p;
  }
  return std::nullopt;
}

}  // namespace quom
