// Which vector instruction set a kernel runs with, chosen at run time.
//
// The default build targets any x86-64 (SSE2). Kernels that have wider versions are compiled for
// AVX2 and AVX-512 too, and the widest the processor supports is picked when they run. Every
// path gives the same bits; tests run all the paths the machine has.
#pragma once

#include <vector>

namespace quom {

enum class SimdPath { kScalar, kSse2, kAvx2, kAvx512 };

// The widest path this processor supports.
SimdPath BestSimdPath();

// Every path this processor can run, narrowest first.
std::vector<SimdPath> AvailableSimdPaths();

const char* SimdPathName(SimdPath path);

}  // namespace quom
