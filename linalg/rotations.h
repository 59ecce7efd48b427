// Plane rotations applied to pairs of contiguous columns.
#pragma once

#include <cstdint>

namespace linalg {

// (x(k), y(k)) becomes (c x(k) - s y(k), s x(k) + c y(k)) for k = 0 .. n-1: the columns x
// and y turned through the angle whose cosine is c and whose sine is s. Each element pair
// goes through exactly these products and one sum or difference.
inline void rotateColumns(double* __restrict x, double* __restrict y, double c, double s,
                          int32_t n) {
  for (int32_t k = 0; k < n; ++k) {
    const double xk = x[k], yk = y[k];
    x[k] = c * xk - s * yk;
    y[k] = s * xk + c * yk;
  }
}

}  // namespace linalg
