// Singular value decompositions of real matrices, and what is built on them.
//
// For a real m x n matrix A with m >= n the thin decomposition is A = U diag(w) V^T: U is
// m x n with orthonormal columns, w holds the n singular values, non-negative and in
// descending order, and V is n x n orthogonal. It is found by the Golub-Reinsch method:
// Householder reduction to upper bidiagonal form (each reflection's vector scaled by the
// sum of its magnitudes first), accumulation of the left and right transformations, then
// implicitly shifted QR sweeps on the bidiagonal form with the shift taken from its
// trailing 2 x 2 minor, and finally an exchange sort that never swaps equal values.
//
// A superdiagonal or diagonal entry counts as zero when its magnitude is at most
// eps = 2^-52 times the largest |w(i)| + |e(i)| of the bidiagonal form. A singular value
// gets at most 100 sweeps. The rotations are formed as sqrt(p^2 + q^2) after both
// squares have been compared with the largest double; an operand whose square exceeds it
// ends the computation with "overflow". The squares, their sums and the shift are
// evaluated in long double, so that operands from about 1e-300 to 1e154 keep their
// precision; everything else is double arithmetic.
//
// The routines return null on success or the message of the first failure:
//   "number of rows less than number of columns"   m < n (nothing touched)
//   "out of memory"                                 no scratch
//   "overflow"                                      a rotation operand beyond ~1.34e154
//   "too many iterations"                           a value not split off in 100 sweeps
//   "interrupted"                                   the user asked to stop (polled once
//                                                   per step of each stage)
#pragma once

#include "host/records.h"
#include "pack/interrupt.h"

// The thin decomposition of the real part of `a`. On success a's real part holds U, the
// n x n `v` holds V (column j belongs to w(j)) and the n x 1 `w` holds the singular
// values; on failure a is unchanged.
const char* svd_core(aMatrix* a, aMatrix* v, aMatrix* w, const Interrupt& stop = Interrupt());

// The singular values of the real part of `a`, in place: on success a(i, i) holds w(i)
// for i = 0 .. n-1, and every other element is left holding intermediate data. An
// embedded element among those the reduction reads first in each column (column i from
// row i down) gives "may not be nested".
const char* svd_values(aMatrix* a, const Interrupt& stop = Interrupt());

// The generalised inverse X = V diag(1 / w) U^T of the real m x n `a` (m >= n), with the
// terms of singular values w(i) <= tol dropped. `a` is consumed (overwritten with U); on
// success *result is a new n x m host matrix. Messages: those of svd_core.
const char* pseudo_inverse(UfnCallContext* ctx, aMatrix* a, double tol, aMatrix** result,
                           const Interrupt& stop = Interrupt());

// The numerical rank of the real matrix `a` as a scalar value: the number of singular
// values greater than max(m, n) * w(0) * 2^-52 (a wide matrix is transposed first). An
// error value in its place: "must be real" and "may not be nested" blaming argument 1,
// the host's out-of-memory value when the transpose cannot be made, and the messages of
// the copy and of svd_values with (0, 0).
Anyval* rank(UfnCallContext* ctx, aMatrix* a);
