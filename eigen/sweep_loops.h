// The loops of eigen/sweep_kernels.h, compiled once for SSE2 (eigen/sweep_kernels.cpp) and
// once for AVX2 (eigen/sweep_kernels_avx2.cpp). Internal to those two files: each gets its
// own copy.
#pragma once

#include <cstddef>

#include "eigen/sweep_kernels.h"

namespace eigen {
namespace {

void reflectBlockRowsLoop(double* block, int32_t width, int32_t top, int32_t firstColumn,
                          const BulgeStep* steps, int count) {
  for (int t = 0; t < count; ++t) {
    const BulgeStep& step = steps[t];
    const Reflector& v = step.v;
    const int32_t from = step.k > firstColumn ? step.k - firstColumn : 0;
    double* __restrict r0 = block + size_t(step.k - top) * width;
    double* __restrict r1 = r0 + width;
    if (step.order3) {
      double* __restrict r2 = r1 + width;
      for (int32_t c = from; c < width; ++c) {
        const double p = r0[c] + v.q * r1[c] + v.r * r2[c];
        r2[c] -= p * v.zz;
        r1[c] -= p * v.y;
        r0[c] -= p * v.x;
      }
    } else {
      for (int32_t c = from; c < width; ++c) {
        const double p = r0[c] + v.q * r1[c];
        r1[c] -= p * v.y;
        r0[c] -= p * v.x;
      }
    }
  }
}

void reflectColumnsLoop(double* __restrict c0, double* __restrict c1, double* __restrict c2,
                        const Reflector& v, int32_t first, int32_t last) {
  const double x = v.x, y = v.y, zz = v.zz, q = v.q, r = v.r;
  if (c2) {
    for (int32_t i = first; i <= last; ++i) {
      const double p = x * c0[i] + y * c1[i] + zz * c2[i];
      c2[i] -= p * r;
      c1[i] -= p * q;
      c0[i] -= p;
    }
  } else {
    for (int32_t i = first; i <= last; ++i) {
      const double p = x * c0[i] + y * c1[i];
      c1[i] -= p * q;
      c0[i] -= p;
    }
  }
}

void rotateComplexColumnsLoop(double* __restrict yr, double* __restrict yi, double* __restrict vr,
                              double* __restrict vi, double xr, double xi, double c, int32_t first,
                              int32_t last) {
  for (int32_t i = first; i <= last; ++i) {
    const double y0 = yr[i], y1 = yi[i];
    const double v0 = vr[i], v1 = vi[i];
    yi[i] = xr * y1 + xi * y0 + c * v1;
    yr[i] = xr * y0 - xi * y1 + c * v0;
    vr[i] = xr * v0 + xi * v1 - c * y0;
    vi[i] = xr * v1 - xi * v0 - c * y1;
  }
}

}  // namespace
}  // namespace eigen
