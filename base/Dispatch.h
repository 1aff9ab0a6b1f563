// One kernel source for every processor: a kernel is written once, as a template on a target,
// and compiled here once per instruction set of the architecture, each copy in a function that
// carries that set's target attribute. The path chosen at run time (base/Simd.h) picks the copy.
//
// A kernel is a struct with its signature and a static member template:
//
//   struct MixKernel {
//     using Signature = void(MixFrame*, const float*, int32_t);
//     template <typename T>
//     [[gnu::always_inline]] static inline void Run(MixFrame* m, const float* v, int32_t n);
//   };
//   Dispatch<MixKernel>(path, m, v, n);        // or PickKernel<MixKernel>(path) to keep
//
// T::kDoubles is how many doubles a vector register of the target holds (1 for scalar code);
// kernels build their vectors on it (base/LaneVectors.h). Run and everything it calls must be
// always inlined, so that it is compiled with the attribute of the copy it lands in. This file is
// the only place that names an instruction set.
#pragma once

#include <utility>

#include "base/Simd.h"

namespace quom {

struct ScalarTarget {
  static constexpr int kDoubles = 1;
};
struct Sse2Target {
  static constexpr int kDoubles = 2;
};
struct Sse4Target {
  static constexpr int kDoubles = 2;
};
struct Avx2Target {
  static constexpr int kDoubles = 4;
};
struct Avx512Target {
  static constexpr int kDoubles = 8;
};
struct NeonTarget {
  static constexpr int kDoubles = 2;
};
struct WasmSimd128Target {
  static constexpr int kDoubles = 2;
};

namespace dispatch_detail {

template <typename Signature>
struct Copies;

template <typename R, typename... A>
struct Copies<R(A...)> {
  template <typename K>
  static R Scalar(A... a) {
    return K::template Run<ScalarTarget>(a...);
  }
#if defined(__x86_64__)
  template <typename K>
  static R Sse2(A... a) {
    return K::template Run<Sse2Target>(a...);
  }
  template <typename K>
  [[gnu::target("sse4.2")]] static R Sse4(A... a) {
    return K::template Run<Sse4Target>(a...);
  }
  template <typename K>
  [[gnu::target("avx2")]] static R Avx2(A... a) {
    return K::template Run<Avx2Target>(a...);
  }
  template <typename K>
  [[gnu::target("avx512f,avx512dq,avx512vl")]] static R Avx512(A... a) {
    return K::template Run<Avx512Target>(a...);
  }
#elif defined(__aarch64__)
  template <typename K>
  static R Neon(A... a) {
    return K::template Run<NeonTarget>(a...);
  }
#elif defined(__wasm__)
  // The module is built without SIMD, so that the scalar copy stays scalar; only this copy's
  // functions carry the 128-bit vector instructions.
  template <typename K>
  [[gnu::target("simd128")]] static R WasmSimd128(A... a) {
    return K::template Run<WasmSimd128Target>(a...);
  }
#endif
};

}  // namespace dispatch_detail

// The copy of kernel K for the path. A path of another architecture gets the scalar copy (the
// paths a processor supports are all of its own architecture).
template <typename K>
typename K::Signature* PickKernel(SimdPath path) {
  using C = dispatch_detail::Copies<typename K::Signature>;
  switch (path) {
#if defined(__x86_64__)
    case SimdPath::kSse2:
      return &C::template Sse2<K>;
    case SimdPath::kSse4:
      return &C::template Sse4<K>;
    case SimdPath::kAvx2:
      return &C::template Avx2<K>;
    case SimdPath::kAvx512:
      return &C::template Avx512<K>;
#elif defined(__aarch64__)
    case SimdPath::kNeon:
      return &C::template Neon<K>;
#elif defined(__wasm__)
    case SimdPath::kWasmSimd128:
      return &C::template WasmSimd128<K>;
#endif
    default:
      return &C::template Scalar<K>;
  }
}

template <typename K, typename... A>
decltype(auto) Dispatch(SimdPath path, A&&... args) {
  return PickKernel<K>(path)(std::forward<A>(args)...);
}

}  // namespace quom
