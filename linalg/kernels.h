// Kernels over matrix columns: the steps the factorisations, substitutions and inverses are
// built from.
//
// Storage is column-major, so a column is contiguous and the loops here run down columns.
// Every kernel treats each element on its own: element i goes through the same operations,
// in the same order, as it would in a row-by-row formulation. The routines above arrange
// their loops around these kernels so that no element's sequence of operations changes,
// which keeps results bit for bit what the row-by-row algorithms give.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

#include "host/part_view.h"

namespace linalg {

// y(i) = y(i) - x(i) * alpha for i = 0 .. n-1.
inline void subtractMultiple(double* __restrict y, const double* __restrict x, double alpha,
                             int32_t n) {
  for (int32_t i = 0; i < n; ++i) y[i] -= x[i] * alpha;
}

// x(i) = x(i) / d for i = 0 .. n-1 (true quotients, not products with 1/d).
inline void divideBy(double* x, double d, int32_t n) {
  for (int32_t i = 0; i < n; ++i) x[i] = x[i] / d;
}

// Exchanges rows r and s of one part array over columns 0 .. cols-1.
inline void swapRows(PartView a, int32_t r, int32_t s, int32_t cols) {
  for (int32_t j = 0; j < cols; ++j) std::swap(a(r, j), a(s, j));
}

// The complex column y minus the complex column x times the complex number (ar, ai):
//   y = y - x * a,  x * a = (xr ar - xi ai, xi ar + xr ai).
inline void subtractComplexMultiple(double* __restrict yr, double* __restrict yi,
                                    const double* __restrict xr, const double* __restrict xi,
                                    double ar, double ai, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const double productRe = xr[i] * ar - xi[i] * ai;
    const double productIm = xi[i] * ar + xr[i] * ai;
    yr[i] -= productRe;
    yi[i] -= productIm;
  }
}

// Division by one complex number by Smith's method: the divisor's smaller part is taken
// relative to its larger one, so no square of a part is ever formed.
//   |re| >= |im|:  r = im / re,  d = re + r im,  x / (re, im) = ((xr + r xi) / d, (xi - r xr) / d)
//   |re| <  |im|:  r = re / im,  d = im + r re,  x / (re, im) = ((r xr + xi) / d, (r xi - xr) / d)
// The divisor must not be 0.
class SmithDivisor {
 public:
  SmithDivisor(double re, double im) : byImaginary_(std::fabs(re) < std::fabs(im)) {
    if (byImaginary_) {
      ratio_ = re / im;
      denominator_ = ratio_ * re + im;
    } else {
      ratio_ = im / re;
      denominator_ = ratio_ * im + re;
    }
  }

  // (xr, xi) = (xr, xi) / divisor.
  void divide(double& xr, double& xi) const {
    double re, im;
    if (byImaginary_) {
      re = (ratio_ * xr + xi) / denominator_;
      im = (ratio_ * xi - xr) / denominator_;
    } else {
      re = (ratio_ * xi + xr) / denominator_;
      im = (xi - ratio_ * xr) / denominator_;
    }
    xr = re;
    xi = im;
  }

  // The complex column (xr, xi) divided elementwise, i = 0 .. n-1.
  void divideColumn(double* xr, double* xi, int32_t n) const {
    for (int32_t i = 0; i < n; ++i) divide(xr[i], xi[i]);
  }

 private:
  bool byImaginary_;
  double ratio_;
  double denominator_;
};

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
