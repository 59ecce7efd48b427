// Eigenvalues of a complex Hermitian matrix, without eigenvectors: the singular values of
// complex matrices come from here (the 2-norm takes the largest eigenvalue of A^H A).
//
// The matrix is reduced to a real symmetric tridiagonal one by Householder reflections
// (each row scaled by the sum of |re| + |im| of its elements left of the diagonal first),
// whose eigenvalues the rational QL iteration then finds, at most 30 steps per value.
#pragma once

#include "host/records.h"
#include "pack/interrupt.h"

// The n eigenvalues of the Hermitian n x n `h`, ascending, into d. Only the lower triangle
// is read (the imaginary parts of the diagonal not at all); h needs both part arrays and
// is destroyed. Messages: "invalid dimension" (no rows or columns), "must be square",
// "out of memory", "too many iterations", "interrupted" (polled once per row of the
// reduction).
const char* herm_eigvals(aMatrix* h, double* d, const Interrupt& stop = Interrupt());
