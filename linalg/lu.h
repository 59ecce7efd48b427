// LU factorisation with scaled partial pivoting, and solving with the factors.
//
// For a square matrix A the factorisation finds a row permutation P, a unit lower
// triangular L and an upper triangular U with P A = L U. It works in place: afterwards the
// strict lower triangle holds L's multipliers (its unit diagonal is not stored) and the
// diagonal and upper triangle hold U. Rows are physically exchanged across the whole
// matrix, L's finished columns included.
//
// Pivoting is scaled: every row is first given the scale 1 / (largest magnitude in the
// row), and the pivot of column k is the row whose element times its scale is largest.
// The pivot vector records, at entry k, the row exchanged with row k at step k, as a whole
// number in a double: 0-based from lud, 1-based from clud (the substitutions read them
// the same way). The sign is +1 or -1, the parity of the exchanges: the determinant is
// sign times the product of U's diagonal.
//
// With `check` set, a pivot counts as zero also when it is smaller than machine epsilon
// times the growth of the factors so far (the largest max(1, |L(:, r)|) times |U(r, :)|
// over the finished rows r).
//
// Every routine returns null on success or the message of the first failure. A matrix the
// factorisation gives up on is left partly factored: callers factor copies.
//
// The routines that take an Interrupt ask it once per elimination step (the inverses once
// per block of solutions and direction) and stop with "interrupted" when the user asked to
// stop; the forms without one never stop.
#pragma once

#include "host/records.h"
#include "pack/interrupt.h"

// Factors the real part of the n x n matrix `a` in place.
//   pivots  n doubles, or null when the interchanges are not wanted; entries 0-based
//   sign    set to +1 or -1 (set to 1 before anything is checked)
// Messages: "PPnullPtr" (no real part), "invalid dimension", "must be square",
// "out of memory", "singular matrix" (a zero row, a zero or NaN pivot, or with `check` a
// pivot below epsilon times the growth; the first pivot is not tested against the growth).
const char* lud(aMatrix* a, double* pivots, double* sign, bool check,
                const Interrupt& stop = Interrupt());

// Factors the complex n x n matrix `a` in place. As lud, with pivot entries 1-based,
// magnitudes the complex modulus (which throws SE_FPEOverflow_Exception when a modulus
// exceeds the largest double), the first of equal pivot candidates kept, a pivot zero when
// both its parts are, and with `check` every diagonal entry up to the current pivot tested
// against the growth. Multipliers are formed by Smith's division. Both part arrays must be
// present: a matrix without one gives "Unknown error" (after the shape messages).
MATPACK_API const char* clud(aMatrix* a, double* pivots, double& sign, bool check);
const char* clud(aMatrix* a, double* pivots, double& sign, bool check, const Interrupt& stop);

// Solves L U x = P b with lud's factors `lu` and 0-based `pivots`; b is the real part of
// the first column of `b` and is overwritten with x. Leading zeros of P b are skipped in
// the forward substitution. b must have n rows (not checked).
// Messages: "Unknown error" (a null pointer or part array), "invalid dimension",
// "must be square".
const char* lud_subst(aMatrix* lu, double* pivots, aMatrix* b);

// The complex counterpart with clud's factors and 1-based pivots; `b` needs both part
// arrays, a factor without a real part counts as purely imaginary.
// Messages: "Unknown error", "invalid dimension", "must be square", "array size mismatch",
// "singular matrix" (a zero diagonal entry of U).
const char* clud_subst(aMatrix* lu, double* pivots, aMatrix* b);

// Factors `a` (lud without the near-singularity test) and solves for the column `b`, both
// in place: b ends up holding the solution.
// Messages: "invalid dimension", "must be square", "array size mismatch", "out of memory",
// and those of lud and lud_subst.
const char* lud_solve(aMatrix* a, aMatrix* b, const Interrupt& stop = Interrupt());

// The complex counterpart with clud and clud_subst.
const char* clud_solve(aMatrix* a, aMatrix* b, const Interrupt& stop = Interrupt());

// The inverse from lud's factors `lu` and 0-based `pivots`: writes into `inverse` (n x n,
// leading dimension n) the columns lud_subst would give for the unit columns e_0 .. e_n-1,
// bit for bit, but solves many of them at once.
// Messages: "out of memory", "interrupted".
const char* lud_inverse(aMatrix* lu, double* pivots, double* inverse,
                        const Interrupt& stop = Interrupt());

// The complex counterpart with clud's factors and 1-based pivots; `inverseRe` and
// `inverseIm` receive the two parts.
// Messages: "out of memory", "singular matrix" (a zero diagonal entry of U), "interrupted".
const char* clud_inverse(aMatrix* lu, double* pivots, double* inverseRe, double* inverseIm,
                         const Interrupt& stop = Interrupt());
