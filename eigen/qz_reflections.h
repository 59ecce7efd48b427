// The reflections of two and three elements that every QZ stage is made of (see
// eigen/qz.h), and their application to adjacent rows or to columns of a matrix.
#pragma once

#include <cmath>
#include <cstdint>

#include "host/part_view.h"

namespace eigen::qz {

// Zeroes a2 against a1: (x, y) -> (x + t v1, y + t v2) with t = x + u2 y.
struct Reflection2 {
  double u2, v1, v2;
};
// Zeroes a2 and a3 against a1: t = x + u2 y + u3 z.
struct Reflection3 {
  double u2, u3, v1, v2, v3;
};

// The reflection for (a1, a2); |a1| + |a2| must not be 0.
inline Reflection2 reflection(double a1, double a2) {
  const double s = std::fabs(a1) + std::fabs(a2);
  const double u1 = a1 / s, u2 = a2 / s;
  const double r = std::copysign(std::sqrt(u1 * u1 + u2 * u2), u1);
  const double v1 = -(u1 + r) / r, v2 = -u2 / r;
  return {v2 / v1, v1, v2};
}

// The reflection for (a1, a2, a3); |a1| + |a2| + |a3| must not be 0.
inline Reflection3 reflection(double a1, double a2, double a3) {
  const double s = std::fabs(a1) + std::fabs(a2) + std::fabs(a3);
  const double u1 = a1 / s, u2 = a2 / s, u3 = a3 / s;
  const double r = std::copysign(std::sqrt(u1 * u1 + u2 * u2 + u3 * u3), u1);
  const double v1 = -(u1 + r) / r, v2 = -u2 / r, v3 = -u3 / r;
  return {v2 / v1, v3 / v1, v1, v2, v3};
}

// Rows r and r + 1 (and r + 2) of m, columns first .. last. The loop strides across
// columns, where the processor does not foresee the next access: it is asked to fetch the
// column eight ahead.
inline void reflectRows(PartView m, int32_t r, Reflection2 h, int32_t first, int32_t last) {
  for (int32_t j = first; j <= last; ++j) {
    double* x = m.column(j) + r;
    __builtin_prefetch(x + 8 * m.ld(), 1);
    const double t = x[0] + h.u2 * x[1];
    x[0] += t * h.v1;
    x[1] += t * h.v2;
  }
}
inline void reflectRows(PartView m, int32_t r, Reflection3 h, int32_t first, int32_t last) {
  for (int32_t j = first; j <= last; ++j) {
    double* x = m.column(j) + r;
    __builtin_prefetch(x + 8 * m.ld(), 1);
    const double t = x[0] + h.u2 * x[1] + h.u3 * x[2];
    x[0] += t * h.v1;
    x[1] += t * h.v2;
    x[2] += t * h.v3;
  }
}

// Columns c and c - 1 (and c - 2) of m, the first one leading, rows first .. last.
inline void reflectColumns(PartView m, int32_t c, Reflection2 h, int32_t first, int32_t last) {
  double* __restrict x = m.column(c);
  double* __restrict y = m.column(c - 1);
  for (int32_t i = first; i <= last; ++i) {
    const double t = x[i] + h.u2 * y[i];
    x[i] += t * h.v1;
    y[i] += t * h.v2;
  }
}
inline void reflectColumns(PartView m, int32_t c, Reflection3 h, int32_t first, int32_t last) {
  double* __restrict x = m.column(c);
  double* __restrict y = m.column(c - 1);
  double* __restrict z = m.column(c - 2);
  for (int32_t i = first; i <= last; ++i) {
    const double t = x[i] + h.u2 * y[i] + h.u3 * z[i];
    x[i] += t * h.v1;
    y[i] += t * h.v2;
    z[i] += t * h.v3;
  }
}

}  // namespace eigen::qz
