// Kernels over contiguous columns: the steps the factorisations, substitutions and inverses
// are built from, for real columns (double*) and split complex ones (SplitColumn).
//
// Storage is column-major, so a column is contiguous and the loops here run down columns.
// Every kernel treats each element on its own: element i goes through the same operations,
// in the same order, as it would in a row-by-row formulation. The routines arrange their
// loops around these kernels so that no element's sequence of operations changes, which
// keeps results bit for bit what the row-by-row algorithms give.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <type_traits>
#include <utility>

#include "linalg/field.h"

namespace linalg {

// y(i) = y(i) - x(i) * a for i = 0 .. n-1.
inline void subtractMultiple(double* __restrict y, const double* __restrict x, double a,
                             int32_t n) {
  for (int32_t i = 0; i < n; ++i) y[i] -= x[i] * a;
}

// y(i) = (y(i) - x(i) * a) - z(i) * b for i = 0 .. n-1: two subtractMultiple calls in one
// pass over y.
inline void subtractTwoMultiples(double* __restrict y, const double* __restrict x, double a,
                                 const double* __restrict z, double b, int32_t n) {
  for (int32_t i = 0; i < n; ++i) y[i] = (y[i] - x[i] * a) - z[i] * b;
}

// The complex y(i) = y(i) - x(i) * a, i = 0 .. n-1, the product as Complex forms it.
inline void subtractMultiple(SplitColumn y, SplitColumn x, Complex a, int32_t n) {
  double* __restrict yr = y.re;
  double* __restrict yi = y.im;
  const double* __restrict xr = x.re;
  const double* __restrict xi = x.im;
  for (int32_t i = 0; i < n; ++i) {
    const double productRe = xr[i] * a.re - xi[i] * a.im;
    const double productIm = xi[i] * a.re + xr[i] * a.im;
    yr[i] -= productRe;
    yi[i] -= productIm;
  }
}

// The complex x(i) = x(i) * a, i = 0 .. n-1, the product as Complex forms it.
inline void multiplyColumn(SplitColumn x, Complex a, int32_t n) {
  for (int32_t i = 0; i < n; ++i) store(x, i, load(x, i) * a);
}

// x(i) = x(i) / d for i = 0 .. n-1.
inline void divideColumn(double* x, RealField::Divisor d, int32_t n) {
  for (int32_t i = 0; i < n; ++i) x[i] = d.divide(x[i]);
}
inline void divideColumn(SplitColumn x, const SmithDivisor& d, int32_t n) {
  for (int32_t i = 0; i < n; ++i) store(x, i, d.divide(load(x, i)));
}

// x(i) = x(i) / d for i = 0 .. n-1, returning max(1, largest |x(i)|) of the quotients (a
// NaN quotient never the largest). Two quotients at a time: the max instruction keeps its
// second operand unless the first is larger, which is that comparison exactly.
inline double divideColumnWithBound(double* x, double d, int32_t n) {
  const __m128d divisor = _mm_set1_pd(d), sign = _mm_set1_pd(-0.0);
  __m128d bounds = _mm_set1_pd(1.0);
  int32_t i = 0;
  for (; i + 2 <= n; i += 2) {
    const __m128d quotients = _mm_div_pd(_mm_loadu_pd(x + i), divisor);
    _mm_storeu_pd(x + i, quotients);
    bounds = _mm_max_pd(_mm_andnot_pd(sign, quotients), bounds);
  }
  double bound = _mm_cvtsd_f64(_mm_max_sd(bounds, _mm_unpackhi_pd(bounds, bounds)));
  for (; i < n; ++i) {
    x[i] = x[i] / d;
    const double magnitude = std::fabs(x[i]);
    if (magnitude > bound) bound = magnitude;
  }
  return bound;
}

// x(i) = 0 for i = 0 .. n-1.
inline void zeroColumn(double* x, int32_t n) {
  for (int32_t i = 0; i < n; ++i) x[i] = 0.0;
}
inline void zeroColumn(SplitColumn x, int32_t n) {
  zeroColumn(x.re, n);
  zeroColumn(x.im, n);
}

// The implicit row scaling of scaled partial pivoting: scale[i] = 1 / (the largest
// magnitude(i, j) over j) for the n x n matrix whose element magnitudes `magnitude` gives,
// read column by column, a later value replacing an earlier one only when strictly larger.
// False, with scale unfinished, when a row is all zero.
template <class Magnitude>
bool rowScales(int32_t n, double* scale, Magnitude magnitude) {
  for (int32_t i = 0; i < n; ++i) scale[i] = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    // Written as a selection, which the processor's max instruction computes exactly (NaN
    // included: it keeps scale[i]), so that the loop runs two or four rows at a time.
    for (int32_t i = 0; i < n; ++i) {
      const double m = magnitude(i, j);
      scale[i] = m > scale[i] ? m : scale[i];
    }
  }
  for (int32_t i = 0; i < n; ++i) {
    if (scale[i] == 0.0) return false;
    scale[i] = 1.0 / scale[i];
  }
  return true;
}

// A matrix order known when compiling. Routines call `withOrder` so that the smallest
// orders, where loop overhead outweighs the arithmetic, each get their own compiled copy
// whose loops unroll; the arithmetic is the same for every copy.
template <int32_t N>
using FixedOrder = std::integral_constant<int32_t, N>;

template <class Order>
inline constexpr bool kIsFixedOrder = !std::is_same_v<Order, int32_t>;

// body(FixedOrder<n>{}) for n = 2 .. 4, body(n) otherwise. A FixedOrder converts to int32_t,
// so one body serves both.
template <class Body>
decltype(auto) withOrder(int32_t n, Body&& body) {
  switch (n) {
    case 2:
      return body(FixedOrder<2>{});
    case 3:
      return body(FixedOrder<3>{});
    case 4:
      return body(FixedOrder<4>{});
    default:
      return body(n);
  }
}

// The row order a sequence of interchanges produces: order[i] is the original row that
// ends up at row i after exchanging rows k and pivots[k] - base for k = 0 .. n-1 in turn
// (base 0 for lud's pivot entries, 1 for clud's).
inline void rowOrder(const double* pivots, int32_t base, int32_t n, int32_t* order) {
  for (int32_t i = 0; i < n; ++i) order[i] = i;
  for (int32_t k = 0; k < n; ++k) {
    std::swap(order[k], order[static_cast<int32_t>(pivots[k]) - base]);
  }
}

}  // namespace linalg
