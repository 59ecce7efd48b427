// The substitutions that solve A x = b with A's LU factors (L unit lower triangular and U
// upper triangular, in one matrix as lud and clud leave them), one right-hand side at a
// time, for both fields. lud_subst, clud_subst and the inverses of small matrices use them.
#pragma once

#include <cstdint>

#include "linalg/field.h"

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
// i-1 in turn.
template <class Field>
inline void forwardSubstitute(typename Field::View lu, typename Field::Column x, int32_t n) {
  int32_t first = 0;
  while (first < n && isZero(load(x, first))) ++first;
  for (int32_t j = first; j < n - 1; ++j) {
    const auto y = load(x, j);
    for (int32_t i = j + 1; i < n; ++i) store(x, i, load(x, i) - lu(i, j) * y);
  }
}

// Solves U x = y in place, from the last row up: x(i) = (y(i) - sum of U(i, j) x(j) over
// j = i+1 .. n-1, subtracted in turn) / U(i, i). False at a zero on U's diagonal when the
// field counts that as singular.
template <class Field>
inline bool backSubstitute(typename Field::View lu, typename Field::Column x, int32_t n) {
  for (int32_t i = n - 1; i >= 0; --i) {
    auto s = load(x, i);
    for (int32_t j = i + 1; j < n; ++j) s = s - lu(i, j) * load(x, j);
    if (Field::kZeroDiagonalIsSingular && isZero(lu(i, i))) return false;
    store(x, i, typename Field::Divisor{lu(i, i)}.divide(s));
  }
  return true;
}

// Solves L U x = y in place: L, then U. False at a zero on U's diagonal the field counts
// as singular. Inlined, so that at a fixed small order its loops unroll.
template <class Field>
[[gnu::always_inline]] inline bool solveTriangles(typename Field::View factors,
                                                  typename Field::Column x, int32_t n) {
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

}  // namespace linalg
