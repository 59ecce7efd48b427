// QR factorisation by plane rotations.
#pragma once

#include "host/records.h"

// Factors the real part of the m x n matrix `m` into an orthogonal m x m Q and an m x n R
// in row-echelon (staircase) form with M = Q R, working on a copy; on success *q and *r
// are new host matrices the caller releases. Q has a real and an (all zero) imaginary
// part. Entries R treats as zero are exact zeros, so a matrix of lower rank gives an R
// whose non-zero rows form a staircase; R's diagonal keeps the signs the rotations leave.
//
// Column j (0-based) is reduced against the rows r .. m-1 not yet in the staircase: with
// nrm the Euclidean norm of the whole column and
//   tol = nrm eps (j + 1) / sqrt(m - r)
// the pairs of neighbouring rows (p, p + 1), from the bottom pair up to p = r, are rotated
// so that row p + 1's entry vanishes, except where that entry is below tol; the column is
// significant, and r grows by one, when its entry in row r or a rotated entry reaches tol.
// Its entries from row r down are then set to exact zeros. A zero column is left as it is.
// The factorisation stops once r = m.
//
// Messages: those of matrix_copy and MtoVcol, "out of memory", "interrupted" (asked once
// per column).
const char* qr_factor(UfnCallContext* ctx, aMatrix* m, aMatrix** q, aMatrix** r);
