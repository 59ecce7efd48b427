// The stages of the complex eigensolver (eigen/complex.cpp) whose loops are arranged for
// contiguous access, for the solver and for tests that compare them with the textbook
// loops.
#pragma once

#include <cstdint>

#include "eigen/steps.h"
#include "linalg/field.h"
#include "pack/interrupt.h"

namespace eigen {

// Reduces the block of the balanced complex n x n matrix `a` to upper Hessenberg form by
// unitary similarity transformations I - u u^H / h, one per column m-1 of the block
// (block.low < m < block.high). The vectors' entries below their first stay in a(i, m-1);
// their first entries, times their column's scale, in (ortr[m], orti[m]). `sums` is two
// columns of n doubles of scratch (real parts, then imaginary parts).
// Messages: "interrupted" (asked once per column).
const char* reduceUnitary(linalg::ComplexField::View a, int32_t n, Block block, double* ortr,
                          double* orti, linalg::SplitColumn sums,
                          const Interrupt& stop = Interrupt());

// The complex QR iteration on the Hessenberg block of `h`, after its sub-diagonal is rotated
// real: the eigenvalues go to w at their diagonal positions, those outside the block being
// its diagonal entries. When `z` is a matrix every transformation is applied to all of h's
// columns and rows and to z's block rows; without one only the active block is
// transformed. `stepsAllowed` QR steps may pass without a deflation.
// Messages: "too many iterations", "interrupted" (asked once per step or deflation).
const char* complexSchur(linalg::ComplexField::View h, linalg::ComplexField::View z, int32_t n,
                         Block block, linalg::SplitColumn w, int stepsAllowed,
                         const Interrupt& stop = Interrupt());

// The eigenvectors of the upper triangular matrix `h` the QR iteration leaves, whose
// diagonal is w: column en of h becomes the vector of w[en] (its entry en taken as 1) by
// back-substitution with no rescaling, a zero difference of eigenvalues replaced by epsilon
// times `norm`. Reads only h's upper triangle; its strict lower triangle receives the
// transposed upper one, so the sums along rows run down columns.
// Messages: "interrupted" (asked once per eigenvalue).
const char* backSubstituteTriangle(linalg::ComplexField::View h, int32_t n, linalg::SplitColumn w,
                                   double norm, const Interrupt& stop = Interrupt());

// The eigenvectors of the original matrix: z(i, j) += sum of z(i, k) h(k, j) over
// k = block.low .. min(j-1, block.high), for rows i of the block and columns j from the last
// down to block.low + 1.
// Messages: "interrupted" (asked once per column).
const char* multiplyBackComplex(linalg::ComplexField::View h, linalg::ComplexField::View z,
                                int32_t n, Block block, const Interrupt& stop = Interrupt());

}  // namespace eigen
