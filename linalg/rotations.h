// Plane rotations and the moduli they are built from.
//
// A rotation by (c, s) takes a pair of columns x, y to
//   x(i) c + y(i) s,   y(i) c - x(i) s
// element by element; the same numbers in the other order (c x + s y, -s x + c y) give the
// same bits, so every routine that rotates pairs of rows or columns can use it.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace linalg {

// Rotates the columns x and y (n elements each) by (c, s).
inline void rotateColumns(double* __restrict x, double* __restrict y, double c, double s,
                          int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const double xi = x[i], yi = y[i];
    x[i] = xi * c + yi * s;
    y[i] = yi * c - xi * s;
  }
}

// True when p^2 would exceed the largest double.
inline bool squareOverflows(double p) {
  const long double x = p;
  return x * x > static_cast<long double>(DBL_MAX);
}

// sqrt(p^2 + q^2), the squares and their sum held in long double so that neither
// overflows nor underflows for finite p and q; rounded to double once, at the end.
// Callers test both squares with squareOverflows first.
inline double hypotenuse(double p, double q) {
  const long double x = p, y = q;
  return static_cast<double>(std::sqrt(x * x + y * y));
}

// |re + i im| by the ratio of the smaller part to the larger, so no square of a part is
// formed: a + b when either part is 0 (a = |re|, b = |im|), else larger times
// sqrt((smaller / larger)^2 + 1).
inline double modulusByRatio(double re, double im) {
  const double a = std::fabs(re), b = std::fabs(im);
  if (a == 0.0 || b == 0.0) return a + b;
  if (a <= b) {
    const double r = a / b;
    return b * std::sqrt(r * r + 1.0);
  }
  const double r = b / a;
  return a * std::sqrt(r * r + 1.0);
}

}  // namespace linalg
