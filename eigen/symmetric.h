// The two stages of the real symmetric eigensolver (eigen/symmetric.cpp), for the solver and
// for tests that compare them with the textbook loops.
#pragma once

#include <cstdint>

#include "host/part_view.h"
#include "pack/interrupt.h"

// Householder reduction of the n x n symmetric matrix held in the lower triangle of `a`
// (diagonal included; the strict upper triangle is not read) to tridiagonal form T = Q^T A Q.
// Afterwards d holds T's diagonal and e[i] its sub-diagonal entry coupling rows i-1 and i
// (e[0] = 0). With `vectors`, `a` holds Q; otherwise `a` is left with the Householder data.
// Messages: "interrupted" (asked once per reflection).
const char* tridiag_reduce(PartView a, int32_t n, double* d, double* e, bool vectors,
                           const Interrupt& stop = Interrupt());

// Diagonalises the tridiagonal matrix (d, e) as tridiag_reduce leaves it by the QL
// algorithm with implicit shifts: d becomes the eigenvalues, in the order the iteration
// leaves them, and e is destroyed. When `z` is a matrix (n x n, holding Q) every rotation is
// applied to its columns too, so column j ends up the unit eigenvector of d[j]; an empty view
// computes the eigenvalues alone, with the same arithmetic on d and e.
// Messages: "too many iterations" (an eigenvalue still coupled after 30 steps),
// "interrupted" (asked once per eigenvalue).
const char* tridiag_ql(double* d, double* e, int32_t n, PartView z,
                       const Interrupt& stop = Interrupt());
