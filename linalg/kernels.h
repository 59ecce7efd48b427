// Kernels over contiguous columns: the steps the factorisations, substitutions and inverses
// are built from, for real columns (double*) and split complex ones (SplitColumn).
//
// Storage is column-major, so a column is contiguous and the loops here run down columns.
// Every kernel treats each element on its own: element i goes through the same operations,
// in the same order, as it would in a row-by-row formulation. The routines arrange their
// loops around these kernels so that no element's sequence of operations changes, which
// keeps results bit for bit what the row-by-row algorithms give.
#pragma once

#include <cstdint>
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
    for (int32_t i = 0; i < n; ++i) {
      const double m = magnitude(i, j);
      if (m > scale[i]) scale[i] = m;
    }
  }
  for (int32_t i = 0; i < n; ++i) {
    if (scale[i] == 0.0) return false;
    scale[i] = 1.0 / scale[i];
  }
  return true;
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
