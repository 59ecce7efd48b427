// The stages of the real general eigensolver (eigen/general.cpp) whose loops are arranged
// for contiguous access, for the solver and for tests that compare them with the textbook
// loops.
#pragma once

#include <cstdint>

#include "eigen/steps.h"
#include "host/part_view.h"
#include "pack/interrupt.h"

namespace eigen {

// Reduces the block of the balanced n x n matrix `a` to upper Hessenberg form by stabilised
// elementary similarity transformations: at step m (block.low < m < block.high) the row with
// the largest |a(i, m-1)|, i >= m (the topmost of equals), is exchanged into row m and then
// multiples of it eliminate column m-1 below the sub-diagonal. The multipliers stay in
// a(i, m-1) and the row chosen at step m in pivots[m]. `rowFlags` is n doubles of scratch.
// Messages: "interrupted" (asked once per step).
const char* eliminateToHessenberg(PartView a, int32_t n, Block block, double* pivots,
                                  double* rowFlags, const Interrupt& stop = Interrupt());

// The Francis double-shift QR iteration on the Hessenberg block of `h`: the eigenvalues go
// to (wr, wi) at their diagonal positions, those outside the block being its diagonal
// entries. When `z` is a matrix every transformation is applied to all of h's columns and
// rows and accumulated into z's block rows; without one only the active block is
// transformed. `norm` receives the 1-norm of the Hessenberg matrix.
// Messages: "too many iterations" (40 steps without a deflation), "interrupted" (asked once
// per step or deflation).
const char* realSchur(PartView h, PartView z, int32_t n, Block block, double* wr, double* wi,
                      double& norm, const Interrupt& stop = Interrupt());

// The eigenvectors of the quasi-triangular matrix `h` the QR iteration leaves, with its
// eigenvalues (wr, wi) and `norm` the 1-norm of the Hessenberg matrix it started from:
// column j of `h` becomes the vector of eigenvalue j (a complex pair's real and imaginary
// parts in its two columns), by back-substitution with no rescaling. `rows` is n x n scratch
// (it receives h's upper triangle transposed, so the sums along rows run down columns).
// Messages: "interrupted" (asked once per eigenvalue).
const char* backSubstitute(PartView h, int32_t n, const double* wr, const double* wi, double norm,
                           PartView rows, const Interrupt& stop = Interrupt());

// The eigenvectors of the original matrix: z(i, j) = sum of z(i, k) h(k, j) over
// k = block.low .. min(j, block.high), for rows i of the block and columns j from the last
// down to block.low. `sums` is a scratch column of n doubles.
// Messages: "interrupted" (asked once per column).
const char* multiplyBack(PartView h, PartView z, int32_t n, Block block, double* sums,
                         const Interrupt& stop = Interrupt());

}  // namespace eigen
