// Vectors of W lanes for kernels written once for every width: W doubles fill a scalar register
// (W = 1), an SSE2 (2), an AVX2 (4) or an AVX-512 register (8). A kernel is a template on W,
// always inlined into one function per width compiled with that width's target attribute.
//
// One lane is plain scalars (the compilers keep one-element vectors in memory). The conversions
// between floats and doubles are exact and one instruction each way at every width; comparisons
// give masks of the compared lanes' size (M for doubles, I for floats and 32-bit integers; a bool
// for one lane), which select with `mask ? a : b` and are never used otherwise.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "base/VectorTypes.h"

namespace quom {

template <int W>
struct LaneVec {
  static_assert(W == 2 || W == 4 || W == 8, "one lane, or a vector register's worth");
  typedef double D __attribute__((vector_size(8 * W)));
  typedef float F __attribute__((vector_size(4 * W)));
  typedef int64_t M __attribute__((vector_size(8 * W)));  // a mask per double lane
  typedef int32_t I __attribute__((vector_size(4 * W)));  // an integer or a mask per float lane
};

template <>
struct LaneVec<1> {
  typedef double D;
  typedef float F;
  typedef int64_t M;
  typedef int32_t I;
};

namespace lanes_detail {

template <typename D, typename V, std::size_t... J>
[[gnu::always_inline]] inline D Widen(const V& v, std::index_sequence<J...>) {
  return D{static_cast<double>(v[J])...};
}

// One stage of a transpose: lanes B apart swap between the rows i and i + B.
template <int W, int B, bool Upper, typename V, std::size_t... J>
[[gnu::always_inline]] inline V Butterfly(const V& a, const V& b, std::index_sequence<J...>) {
  return __builtin_shufflevector(
      a, b, (Upper ? ((J & B) ? W + J : J + B) : ((J & B) ? W + J - B : J))...);
}

template <int W, int B, typename V>
[[gnu::always_inline]] inline void TransposeStage(V* r) {
  // Unrolled, so that the rows stay in registers.
#pragma GCC unroll 8
  for (int i = 0; i < W; ++i) {
    if (i & B) continue;
    const V lower = Butterfly<W, B, false>(r[i], r[i + B], std::make_index_sequence<W>());
    const V upper = Butterfly<W, B, true>(r[i], r[i + B], std::make_index_sequence<W>());
    r[i] = lower;
    r[i + B] = upper;
  }
}

template <typename V, typename T, typename Get, std::size_t... J>
[[gnu::always_inline]] inline V FromLanes(const T* lanes, Get get, std::index_sequence<J...>) {
  return V{get(lanes[J])...};
}

}  // namespace lanes_detail

// Floats or 32-bit integers to doubles, exactly. (GCC 12's __builtin_convertvector splits the
// widening of eight lanes in two halves; an initialiser list of the lanes is one instruction.)
template <typename D, typename V>
[[gnu::always_inline]] inline D Widen(const V& v) {
  if constexpr (std::is_arithmetic_v<V>) {
    return static_cast<D>(v);
  } else {
    return lanes_detail::Widen<D>(v, std::make_index_sequence<sizeof(D) / sizeof(double)>());
  }
}

// Doubles to floats, each rounded to nearest; or any lanes to integers, truncated.
template <typename T, typename V>
[[gnu::always_inline]] inline T Narrow(const V& v) {
  if constexpr (std::is_arithmetic_v<V>) {
    return static_cast<T>(v);
  } else {
    return __builtin_convertvector(v, T);
  }
}

// first, first + 1, ... in the lanes.
template <typename V>
[[gnu::always_inline]] inline V Iota(int first) {
  if constexpr (std::is_arithmetic_v<V>) {
    return first;
  } else {
    V v;
    for (int i = 0; i < static_cast<int>(sizeof(V) / sizeof(v[0])); ++i)
      v[i] = first + i;
    return v;
  }
}

// Whether any lane of a mask is set.
template <typename V>
[[gnu::always_inline]] inline bool Any(const V& mask) {
  if constexpr (std::is_arithmetic_v<V>) {
    return mask != 0;
  } else if constexpr (sizeof(V) % 8 == 0) {
    uint64_t words[sizeof(V) / 8];
    std::memcpy(words, &mask, sizeof mask);
    uint64_t any = 0;
    for (uint64_t w : words)
      any |= w;
    return any != 0;
  } else {
    uint32_t word;
    std::memcpy(&word, &mask, sizeof word);
    return word != 0;
  }
}

// |v| of every float lane: the sign bit cleared, as std::fabs does.
template <typename F>
[[gnu::always_inline]] inline F Magnitude(const F& v) {
  if constexpr (std::is_arithmetic_v<F>) {
    return std::fabs(v);
  } else {
    typedef int32_t I __attribute__((vector_size(sizeof(F))));
    return (F)((I)v & 0x7FFFFFFF);
  }
}

// For kernels that keep each lane's state in a struct of its own: a vector of one value from each
// of the structs lanes[0], lanes[1] and so on, `get` picking it; and lane k of a vector.
template <typename V, typename T, typename Get>
[[gnu::always_inline]] inline V FromLanes(const T* lanes, Get get) {
  if constexpr (std::is_arithmetic_v<V>) {
    return get(lanes[0]);
  } else {
    constexpr std::size_t kLanes = sizeof(V) / sizeof(std::declval<V&>()[0]);
    return lanes_detail::FromLanes<V>(lanes, get, std::make_index_sequence<kLanes>());
  }
}

template <typename V>
[[gnu::always_inline]] inline auto LaneOf(const V& v, int k) {
  if constexpr (std::is_arithmetic_v<V>) {
    return v;
  } else {
    return v[k];
  }
}

// Transposes the W x W block r in place: afterwards r[j][i] holds what r[i][j] held.
template <int W, typename V>
[[gnu::always_inline]] inline void Transpose(V* r) {
  if constexpr (W >= 2) lanes_detail::TransposeStage<W, 1>(r);
  if constexpr (W >= 4) lanes_detail::TransposeStage<W, 2>(r);
  if constexpr (W >= 8) lanes_detail::TransposeStage<W, 4>(r);
}

}  // namespace quom
