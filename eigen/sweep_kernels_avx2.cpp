// The sweeps' column kernels for AVX2 (x86-64; chosen at run time by sweep_kernels.cpp). This
// file is compiled for AVX2 without FMA: each lane multiplies, then adds or subtracts.
#include "eigen/sweep_loops.h"

namespace eigen {

void reflectBlockRowsAvx2(double* block, int32_t width, int32_t top, int32_t firstColumn,
                          const BulgeStep* steps, int count) {
  reflectBlockRowsLoop(block, width, top, firstColumn, steps, count);
}

void reflectColumnsAvx2(double* c0, double* c1, double* c2, const Reflector& v, int32_t first,
                        int32_t last) {
  reflectColumnsLoop(c0, c1, c2, v, first, last);
}

void rotateComplexColumnsAvx2(double* yr, double* yi, double* vr, double* vi, double xr, double xi,
                              double c, int32_t first, int32_t last) {
  rotateComplexColumnsLoop(yr, yi, vr, vi, xr, xi, c, first, last);
}

}  // namespace eigen
