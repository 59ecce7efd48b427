// The substitutions that solve A x = b with A's LU factors (L unit lower triangular and U
// upper triangular, in one matrix as lud and clud leave them), one right-hand side at a
// time, for both fields. lud_subst, clud_subst and the inverses of small matrices use them.
#pragma once

#include <cstdint>
#include <utility>

#include "linalg/field.h"
#include "linalg/fixed_matrix.h"
#include "linalg/kernels.h"

namespace linalg {

// Applies the recorded interchanges to x: exchange x(k) and x(pivots[k]), k = 0 .. n-1.
template <class Field>
inline void interchange(typename Field::Column x, const double* pivots, int32_t n) {
  for (int32_t k = 0; k < n; ++k) {
    const int32_t p = static_cast<int32_t>(pivots[k]) - Field::kPivotBase;
    const auto held = load(x, k);
    store(x, k, load(x, p));
    store(x, p, held);
  }
}

// Solves L y = x in place (unit diagonal), starting at the first non-zero x(first): the
// entries above it stay zero, and each entry below loses L(i, j) y(j) for j = first ..
// i-1 in turn. The factors are any View, x any column of the field's numbers; the loops
// unroll at a fixed order, for a FixedMatrix (linalg/fixed_matrix.h), and the leading zeros
// are passed over inside the loop so that its indices stay constants then.
template <class Field, class View, class Column>
inline void forwardSubstitute(const View& lu, Column x, int32_t n) {
  bool leadingZero = true;
#pragma GCC unroll 8
  for (int32_t j = 0; j < n - 1; ++j) {
    const auto y = load(x, j);
    if (leadingZero && isZero(y)) continue;
    leadingZero = false;
#pragma GCC unroll 8
    for (int32_t i = j + 1; i < n; ++i) store(x, i, load(x, i) - lu(i, j) * y);
  }
}

// Solves U x = y in place, from the last row up: x(i) = (y(i) - sum of U(i, j) x(j) over
// j = i+1 .. n-1, subtracted in turn) / U(i, i). False at a zero on U's diagonal when the
// field counts that as singular.
template <class Field, class View, class Column>
inline bool backSubstitute(const View& lu, Column x, int32_t n) {
#pragma GCC unroll 8
  for (int32_t i = n - 1; i >= 0; --i) {
    auto s = load(x, i);
#pragma GCC unroll 8
    for (int32_t j = i + 1; j < n; ++j) s = s - lu(i, j) * load(x, j);
    if (Field::kZeroDiagonalIsSingular && isZero(lu(i, i))) return false;
    store(x, i, typename Field::Divisor{lu(i, i)}.divide(s));
  }
  return true;
}

// Solves L U x = y in place: L, then U. False at a zero on U's diagonal the field counts
// as singular. Inlined, so that at a fixed small order its loops unroll.
template <class Field, class View, class Column>
[[gnu::always_inline]] inline bool solveTriangles(const View& factors, Column x, int32_t n) {
  forwardSubstitute<Field>(factors, x, n);
  return backSubstitute<Field>(factors, x, n);
}

// Solves A x = b in place with A's factors and interchanges: P b, then L, then U.
template <class Field>
[[gnu::always_inline]] inline bool solveWithFactors(typename Field::View factors,
                                                    const double* pivots, typename Field::Column x,
                                                    int32_t n) {
  interchange<Field>(x, pivots, n);
  return solveTriangles<Field>(factors, x, n);
}

// The same at an order N known when compiling: the factors as a FixedMatrix and x as a local
// array, so that both stay in registers, and x(pivots[k]) reached as one of x's constant
// entries. x gets its entries back however the substitution ends.
template <class Field, int32_t N>
[[gnu::always_inline]] inline bool solveWithFactors(typename Field::View factors,
                                                    const double* pivots, typename Field::Column x,
                                                    FixedOrder<N>) {
  FixedMatrix<Field, N> lu;
  lu.copyFrom(factors);
  typename Field::Value y[N];
#pragma GCC unroll 8
  for (int32_t i = 0; i < N; ++i) y[i] = load(x, i);
#pragma GCC unroll 8
  for (int32_t k = 0; k < N; ++k) {
    const int32_t p = static_cast<int32_t>(pivots[k]) - Field::kPivotBase;
#pragma GCC unroll 8
    for (int32_t i = 0; i < N; ++i) {
      if (i == p && i != k) std::swap(y[k], y[i]);
    }
  }
  const bool solved = solveTriangles<Field>(lu, y, N);
#pragma GCC unroll 8
  for (int32_t i = 0; i < N; ++i) store(x, i, y[i]);
  return solved;
}

}  // namespace linalg
