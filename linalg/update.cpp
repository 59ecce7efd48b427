// The trailing update with SSE2 tiles, and the choice of AVX2 tiles where the processor has
// them (x86-64 only).
#include "linalg/update.h"

#include "linalg/update_tiles.h"
#include "linalg/vector_units.h"

namespace linalg {

#if defined(__x86_64__)
// update_avx2.cpp, compiled for AVX2.
void subtractProductAvx2(double* c, int32_t ldc, const double* a, int32_t lda, const double* b,
                         int32_t ldb, int32_t rows, int32_t cols, int32_t depth);
void subtractProductAvx2(SplitColumn c, int32_t ldc, SplitColumn a, int32_t lda, SplitColumn b,
                         int32_t ldb, int32_t rows, int32_t cols, int32_t depth);
#endif

namespace {

// Tile shapes (vectors high, columns wide, vectors high for a single column): the 32-bit
// targets have eight vector registers, x86-64 sixteen.
#if defined(__x86_64__)
constexpr int kRealHeight = 2, kRealColumns = 4, kRealColumnHeight = 8;
constexpr int kComplexHeight = 1, kComplexColumns = 3, kComplexColumnHeight = 4;
#else
constexpr int kRealHeight = 2, kRealColumns = 2, kRealColumnHeight = 4;
constexpr int kComplexHeight = 1, kComplexColumns = 1, kComplexColumnHeight = 2;
#endif

}  // namespace

void subtractProduct(double* c, int32_t ldc, const double* a, int32_t lda, const double* b,
                     int32_t ldb, int32_t rows, int32_t cols, int32_t depth) {
  if (rows <= 0 || cols <= 0 || depth <= 0) return;
#if defined(__x86_64__)
  if (useAvx2Kernels()) return subtractProductAvx2(c, ldc, a, lda, b, ldb, rows, cols, depth);
#endif
  realProduct<2, kRealHeight, kRealColumns, kRealColumnHeight>(c, ldc, a, lda, b, ldb, rows, cols,
                                                               depth);
}

void subtractProduct(SplitColumn c, int32_t ldc, SplitColumn a, int32_t lda, SplitColumn b,
                     int32_t ldb, int32_t rows, int32_t cols, int32_t depth) {
  if (rows <= 0 || cols <= 0 || depth <= 0) return;
#if defined(__x86_64__)
  if (useAvx2Kernels()) return subtractProductAvx2(c, ldc, a, lda, b, ldb, rows, cols, depth);
#endif
  complexProduct<2, kComplexHeight, kComplexColumns, kComplexColumnHeight>(c, ldc, a, lda, b, ldb,
                                                                           rows, cols, depth);
}

}  // namespace linalg
