// Searches that branch little on the values they compare. The codes of a
// case come in no order a branch predictor could learn, so a search whose
// loop exit or halving step depends on them pays a mispredicted branch at
// almost every step; these give the same answers with few such branches or
// none.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tallow {

// The first index in [0, n) whose element is not below the key, n when
// there is none, as std::lower_bound gives it over elements in order.
// below(i) tells whether element i is below the key; it is asked for indexes
// below n only.
template <typename Below>
std::size_t LowerBoundWithoutBranches(std::size_t n, Below below) {
  if (n == 0) return 0;
  std::size_t at = 0;
  // The answer lies in [at, at + n].
  while (n > 1) {
    const std::size_t half = n / 2;
    at += static_cast<std::size_t>(below(at + half - 1)) * half;
    n -= half;
  }
  return at + static_cast<std::size_t>(below(at));
}

// Searches of a category's code tails: the entries of a category are a run
// of tail bytes, and a lookup wants the first of them that equals a tail, or
// the first that is not below it. Sixteen tails are compared at once where
// the machine has SSE2 and the sixteen bytes lie inside the array; the
// answer is always that of a scan from the run's first entry.
enum class TailMatch : uint8_t {
  kEqual,    ///< the tail equals the key
  kAtLeast,  ///< the tail is not below the key
};

// The first index e in [start, start + count) with tails[e] matching key, or
// -1. `size` is the length of the array at `tails`; the run must lie inside
// it (start >= 0, start + count <= size).
template <TailMatch kMatch>
inline int FirstTail(const uint8_t* tails, std::size_t size, int start, int count, uint8_t key) {
  int e = start;
  const int end = start + count;
#if defined(__SSE2__)
  const __m128i k = _mm_set1_epi8(static_cast<char>(key));
  for (; e < end && static_cast<std::size_t>(e) + 16 <= size; e += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tails + e));
    const __m128i hit = kMatch == TailMatch::kEqual ? _mm_cmpeq_epi8(v, k)
                                                    : _mm_cmpeq_epi8(_mm_max_epu8(v, k), v);
    auto bits = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (end - e < 16) bits &= (1u << (end - e)) - 1;
    if (bits != 0) return e + std::countr_zero(bits);
  }
#else
  (void)size;
#endif
  for (; e < end; ++e) {
    const bool hit = kMatch == TailMatch::kEqual ? tails[e] == key : tails[e] >= key;
    if (hit) return e;
  }
  return -1;
}

}  // namespace tallow
