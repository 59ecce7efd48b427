// The trailing update's AVX2 tiles (x86-64; chosen at run time by update.cpp). This file is
// compiled for AVX2 without FMA: each lane multiplies, then subtracts.
#include "linalg/update_tiles.h"

namespace linalg {

void subtractProductAvx2(double* c, int32_t ldc, const double* a, int32_t lda, const double* b,
                         int32_t ldb, int32_t rows, int32_t cols, int32_t depth) {
  realProduct<4, 2, 4, 8>(c, ldc, a, lda, b, ldb, rows, cols, depth);
}

void subtractProductAvx2(SplitColumn c, int32_t ldc, SplitColumn a, int32_t lda, SplitColumn b,
                         int32_t ldb, int32_t rows, int32_t cols, int32_t depth) {
  complexProduct<4, 1, 3, 4>(c, ldc, a, lda, b, ldb, rows, cols, depth);
}

}  // namespace linalg
