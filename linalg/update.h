// The trailing update of the blocked factorisations: a product of two blocks subtracted
// from a third, one step at a time. For every element (i, j) of C, in turn for
// s = 0 .. depth-1:
//
//   c(i, j) = c(i, j) - a(i, s) * b(s, j)          (real)
//   c(i, j) = c(i, j) - a(i, s) * b(s, j)          (complex, the product as linalg::Complex
//                                                   forms it, the difference part by part)
//
// each product and each difference rounded on its own (no fused multiply-add). That is the
// sequence the one-step-at-a-time loops give each element, so results are bit for bit
// theirs; only the order in which elements are visited changes. The work is done in
// register tiles (a tile of C is loaded once, takes every step, and is stored once) with
// SSE2 on every target and, on x86-64 processors that have it, AVX2: each vector lane does
// the same multiply and subtraction.
//
// Blocks are column-major: element (i, j) of a block at `data` with leading dimension `ld`
// is data[i + j * ld].
#pragma once

#include <cstdint>

#include "linalg/field.h"
#include "linalg/vector_units.h"

namespace linalg {

// C (rows x cols) -= A (rows x depth) B (depth x cols), step by step as above; each block is
// given by the column of its top-left element and its leading dimension.
void subtractProduct(double* c, int32_t ldc, const double* a, int32_t lda, const double* b,
                     int32_t ldb, int32_t rows, int32_t cols, int32_t depth);
void subtractProduct(SplitColumn c, int32_t ldc, SplitColumn a, int32_t lda, SplitColumn b,
                     int32_t ldb, int32_t rows, int32_t cols, int32_t depth);

}  // namespace linalg
