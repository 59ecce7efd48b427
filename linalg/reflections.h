// Kernels that Householder reflections are applied with, over contiguous columns.
//
// A reflection updates column y as y(k) += f(x . y) u(k); the sums here are formed from 0
// in increasing k, exactly as one running sum would form them, so a routine may compute
// several of them at once, or spread one over its columns, without changing a bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "host/part_view.h"

namespace linalg {

// The sum of |x(k)|, k = 0 .. n-1.
inline double sumOfMagnitudes(const double* x, int32_t n) {
  double sum = 0.0;
  for (int32_t k = 0; k < n; ++k) sum += std::fabs(x[k]);
  return sum;
}

// y(k) += x(k) * a for k = 0 .. n-1.
inline void addMultiple(double* __restrict y, const double* __restrict x, double a, int32_t n) {
  for (int32_t k = 0; k < n; ++k) y[k] += x[k] * a;
}

// x(k) *= a for k = 0 .. n-1.
inline void scaleColumn(double* x, double a, int32_t n) {
  for (int32_t k = 0; k < n; ++k) x[k] *= a;
}

// out[j] = the sum of x(k) * y_j(k) over k = 0 .. n-1 for the `count` columns
// y_j = first + j * ld. Four sums run side by side, so that each waits less for its
// previous addition; each is still the running sum from 0 in increasing k.
inline void dotProducts(const double* x, const double* first, ptrdiff_t ld, int32_t count,
                        int32_t n, double* out) {
  int32_t j = 0;
  for (; j + 4 <= count; j += 4) {
    const double* y0 = first + j * ld;
    const double *y1 = y0 + ld, *y2 = y1 + ld, *y3 = y2 + ld;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int32_t k = 0; k < n; ++k) {
      const double xk = x[k];
      s0 += xk * y0[k];
      s1 += xk * y1[k];
      s2 += xk * y2[k];
      s3 += xk * y3[k];
    }
    out[j] = s0, out[j + 1] = s1, out[j + 2] = s2, out[j + 3] = s3;
  }
  for (; j < count; ++j) {
    const double* y = first + j * ld;
    double s = 0.0;
    for (int32_t k = 0; k < n; ++k) s += x[k] * y[k];
    out[j] = s;
  }
}

// Applies y += factor(x . y) u to the columns y = a's columns first .. last-1: x is the dot
// products' vector (against the column's rows from `dotRow`, `dotLength` of them), u the
// update's (into its rows from `updateRow`, `updateLength` of them). Four columns at a
// time: their sums side by side, then their updates. Every column is read before it is
// updated, and no column's sum reads another column, so this is the column-by-column
// application exactly.
template <class Factor>
void reflectColumns(PartView a, int32_t first, int32_t last, const double* x, int32_t dotRow,
                    int32_t dotLength, const double* u, int32_t updateRow, int32_t updateLength,
                    Factor factor) {
  double sums[4];
  for (int32_t j = first; j < last; j += 4) {
    const int32_t count = std::min<int32_t>(4, last - j);
    dotProducts(x, a.column(j) + dotRow, a.ld(), count, dotLength, sums);
    for (int32_t q = 0; q < count; ++q) {
      addMultiple(a.column(j + q) + updateRow, u, factor(sums[q]), updateLength);
    }
  }
}

}  // namespace linalg
