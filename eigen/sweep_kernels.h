// The work of the QR sweeps, where the eigensolvers spend most of their time: reflections
// of order 3 (or 2) applied to rows and to columns, and a complex plane rotation applied to
// two complex columns. Each element goes through the same operations whichever
// way the loops are compiled: SSE2 everywhere and, on x86-64 processors that have it, AVX2
// without fused multiply-adds (linalg/vector_units.h says which).
#pragma once

#include <cstdint>

#include "linalg/field.h"

namespace eigen {

// A double-shift QR step's reflector: x, y, zz scale the combination, q and r weigh the
// second and third entries.
struct Reflector {
  double x, y, zz, q, r;
};

// A double-shift QR step: its reflector acts on rows k .. k+2 (k .. k+1 when not order3)
// from the left and on columns k .. k+2 (k .. k+1) from the right.
struct BulgeStep {
  int32_t k;
  bool order3;
  Reflector v;
};

// The reflections from the left of `count` steps, in order, on a block of matrix columns
// held row by row: matrix row `top` + r, block column c (matrix column firstColumn + c) is
// block[r * width + c]. A step reaches the columns from its own index k on.
void reflectBlockRows(double* block, int32_t width, int32_t top, int32_t firstColumn,
                      const BulgeStep* steps, int count);

// Rows first .. last of the columns c0, c1, c2 (c2 null for a reflection of order 2):
// p = x c0 + y c1 + zz c2, then c2 -= p r, c1 -= p q, c0 -= p.
void reflectColumns(double* c0, double* c1, double* c2, const Reflector& v, int32_t first,
                    int32_t last);

// Rows first .. last of the complex columns y and v: (y, v) becomes (x y + c v, conj(x) v - c y)
// for the unit x and real c of a complex QR step, part by part in a fixed order.
void rotateComplexColumns(linalg::SplitColumn y, linalg::SplitColumn v, linalg::Complex x, double c,
                          int32_t first, int32_t last);

}  // namespace eigen
