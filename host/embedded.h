// Embedded elements: a matrix slot of the real-part array that stands for another value
// (a string or a nested array) instead of a number.
//
// The slot's upper bits are all ones and its lower bits hold the value's address: on 32-bit
// targets the upper 32 bits are 0xFFFFFFFF and the lower 32 the address; on x86-64 the
// upper 16 bits are 0xFFFF and the lower 48 the address. The pattern is a NaN, one that
// arithmetic on ordinary numbers never produces. A NaN the host passes in with a payload
// can come out of arithmetic that way, though (quieting a signalling NaN sets its last
// missing bit, negation sets the sign), and so can a host scalar stored into a slot: a
// number written into a real-part slot goes through asNumber (or a whole computed part
// array through keepNumbers), so that it never reads as a reference. This is the only
// place that knows the bit pattern.
#pragma once

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "host/records.h"

namespace embedded {

#if UINTPTR_MAX == 0xFFFFFFFFu
inline constexpr uint64_t kMarkMask = 0xFFFFFFFF00000000ull;
#else
inline constexpr uint64_t kMarkMask = 0xFFFF000000000000ull;
#endif

// True when the slot refers to a value rather than holding a number.
inline bool is(double slot) {
  return (std::bit_cast<uint64_t>(slot) & kMarkMask) == kMarkMask;
}

// The value an embedded slot refers to.
inline Anyval* target(double slot) {
  return reinterpret_cast<Anyval*>(
      static_cast<uintptr_t>(std::bit_cast<uint64_t>(slot) & ~kMarkMask));
}

// A slot that refers to `value`.
inline double make(const Anyval* value) {
  return std::bit_cast<double>(kMarkMask |
                               static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value)));
}

// The number x as a real-part slot: a NaN that would read as a reference loses the lowest
// bit of the mark, and stays a NaN.
inline double asNumber(double x) {
  // Only a NaN can carry the mark; the comparison passes every other number at once.
  if (x == x || !is(x)) return x;
  return std::bit_cast<double>(std::bit_cast<uint64_t>(x) & ~(kMarkMask & (~kMarkMask + 1)));
}

// True when one of the `count` numbers at x is a NaN: a scan that only reads, two numbers
// at a time.
inline bool anyNaN(const double* x, size_t count) {
  __m128d unordered = _mm_setzero_pd();
  size_t k = 0;
  for (; k + 2 <= count; k += 2) {
    const __m128d pair = _mm_loadu_pd(x + k);
    unordered = _mm_or_pd(unordered, _mm_cmpunord_pd(pair, pair));
  }
  bool found = _mm_movemask_pd(unordered) != 0;
  for (; k < count; ++k) found |= x[k] != x[k];
  return found;
}

// The `count` computed numbers of a real-part array made slots (asNumber). Results rarely
// hold a NaN: the array is scanned in stretches, and only a stretch with a NaN in it is
// rewritten, so that a large result is not stored over a second time.
inline void keepNumbers(double* part, size_t count) {
  constexpr size_t kStretch = 32;
  for (size_t start = 0; start < count; start += kStretch) {
    const size_t end = std::min(count, start + kStretch);
    if (!anyNaN(part + start, end - start)) continue;
    for (size_t k = start; k < end; ++k) part[k] = asNumber(part[k]);
  }
}

}  // namespace embedded
