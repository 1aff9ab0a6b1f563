// The vector types the kernels are written in (GCC's vector extensions: 2, 4 or 8 lanes of
// 128, 256 or 512 bits) and unaligned loads and stores of them. A kernel is compiled once per
// width with a target attribute; the helpers are always inlined into it, so no vector crosses
// a call boundary and the ABI note about wide vector arguments does not apply.
#pragma once

#include <cstring>

#pragma GCC diagnostic ignored "-Wpsabi"

namespace quom {

typedef double D2 __attribute__((vector_size(16)));
typedef double D4 __attribute__((vector_size(32)));
typedef double D8 __attribute__((vector_size(64)));
typedef float F2 __attribute__((vector_size(8)));
typedef float F4 __attribute__((vector_size(16)));
typedef float F8 __attribute__((vector_size(32)));
typedef long long I2 __attribute__((vector_size(16)));
typedef long long I4 __attribute__((vector_size(32)));
typedef long long I8 __attribute__((vector_size(64)));

template <typename T>
[[gnu::always_inline]] inline T LoadVec(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
[[gnu::always_inline]] inline void StoreVec(void* p, const T& v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace quom
