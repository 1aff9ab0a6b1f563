// Which vector instruction set the kernels run with, chosen at run time.
//
// The build targets the architecture's baseline (SSE2 on x86-64, NEON on aarch64, no vectors on
// WebAssembly). Every kernel is also compiled for the wider sets of its architecture
// (base/Dispatch.h), and the widest the processor supports is picked when it runs. Every path gives
// the same bits; the tests run all the paths the machine has.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace quom {

// Narrowest first within each architecture.
enum class SimdPath { kScalar, kSse2, kSse4, kAvx2, kAvx512, kNeon, kWasmSimd128 };

// The widest path this processor supports, or the one QUOM_SIMD names (see AvailableSimdPaths).
SimdPath BestSimdPath();

// Every path this processor can run, narrowest first. When the environment variable QUOM_SIMD
// names a path the processor supports, only that one: the tests' way to check one target alone.
std::vector<SimdPath> AvailableSimdPaths();

// Every path this processor can run, whatever QUOM_SIMD says.
std::vector<SimdPath> SupportedSimdPaths();

const char* SimdPathName(SimdPath path);

// The path of a name SimdPathName gives ("avx2"), if there is one; whether the processor runs
// it is another question (SupportedSimdPaths).
std::optional<SimdPath> SimdPathNamed(std::string_view name);

}  // namespace quom
