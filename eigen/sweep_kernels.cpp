// The sweeps' column kernels for SSE2, and the choice of their AVX2 build where the
// processor has it (x86-64 only).
#include "eigen/sweep_kernels.h"

#include "eigen/sweep_loops.h"
#include "linalg/vector_units.h"

namespace eigen {

#if defined(__x86_64__)
// sweep_kernels_avx2.cpp, compiled for AVX2.
void reflectBlockRowsAvx2(double* block, int32_t width, int32_t top, int32_t firstColumn,
                          const BulgeStep* steps, int count);
void reflectColumnsAvx2(double* c0, double* c1, double* c2, const Reflector& v, int32_t first,
                        int32_t last);
void rotateComplexColumnsAvx2(double* yr, double* yi, double* vr, double* vi, double xr, double xi,
                              double c, int32_t first, int32_t last);
#endif

void reflectBlockRows(double* block, int32_t width, int32_t top, int32_t firstColumn,
                      const BulgeStep* steps, int count) {
#if defined(__x86_64__)
  if (linalg::useAvx2Kernels())
    return reflectBlockRowsAvx2(block, width, top, firstColumn, steps, count);
#endif
  reflectBlockRowsLoop(block, width, top, firstColumn, steps, count);
}

void reflectColumns(double* c0, double* c1, double* c2, const Reflector& v, int32_t first,
                    int32_t last) {
#if defined(__x86_64__)
  if (linalg::useAvx2Kernels()) return reflectColumnsAvx2(c0, c1, c2, v, first, last);
#endif
  reflectColumnsLoop(c0, c1, c2, v, first, last);
}

void rotateComplexColumns(linalg::SplitColumn y, linalg::SplitColumn v, linalg::Complex x, double c,
                          int32_t first, int32_t last) {
#if defined(__x86_64__)
  if (linalg::useAvx2Kernels())
    return rotateComplexColumnsAvx2(y.re, y.im, v.re, v.im, x.re, x.im, c, first, last);
#endif
  rotateComplexColumnsLoop(y.re, y.im, v.re, v.im, x.re, x.im, c, first, last);
}

}  // namespace eigen
