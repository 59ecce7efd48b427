// A matrix of a small order N known when compiling (FixedOrder, linalg/kernels.h): its
// entries held in the object itself, and read and written through the interface of the
// field's View.
//
// A routine that keeps a FixedMatrix in a local object, and whose loops over it unroll, has
// a constant for every index into it, so the compiler keeps the entries in registers: a
// factorisation or substitution of order 3 then runs without storing and reloading its
// numbers between steps, which costs it more than its arithmetic. Such a routine reaches a
// row known only at run time, such as a pivot row, as a choice among the constant rows
// (for each row i: if i is the one, ...), so that no index stays variable; its loops carry
// `#pragma GCC unroll`, since the compiler keeps entries in registers only when the loops
// have unrolled before it decides.
#pragma once

#include <cstdint>
#include <utility>

#include "linalg/field.h"

namespace linalg {

template <class Field, int32_t N>
struct FixedMatrix {
  using Value = typename Field::Value;
  static constexpr int32_t kOrder = N;

  // Column-major.
  Value entries[N * N];

  [[gnu::always_inline]] Value operator()(int32_t i, int32_t j) const { return entries[i + j * N]; }
  [[gnu::always_inline]] Value* column(int32_t j) { return entries + j * N; }

  // Rows r and s exchange their entries in the columns from .. to-1.
  [[gnu::always_inline]] void swapRows(int32_t r, int32_t s, int32_t from, int32_t to) {
#pragma GCC unroll 8
    for (int32_t j = from; j < to; ++j) std::swap(entries[r + j * N], entries[s + j * N]);
  }

  // The entries of the order-N matrix m, or these entries back into m.
  [[gnu::always_inline]] void copyFrom(typename Field::View m) {
#pragma GCC unroll 8
    for (int32_t j = 0; j < N; ++j) {
#pragma GCC unroll 8
      for (int32_t i = 0; i < N; ++i) entries[i + j * N] = m(i, j);
    }
  }
  [[gnu::always_inline]] void copyInto(typename Field::View m) const {
#pragma GCC unroll 8
    for (int32_t j = 0; j < N; ++j) {
#pragma GCC unroll 8
      for (int32_t i = 0; i < N; ++i) m.set(i, j, entries[i + j * N]);
    }
  }
};

}  // namespace linalg
