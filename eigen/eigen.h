// Eigenvalues and eigenvectors of square matrices: the entry points behind the worksheet's
// eigenvals and eigenvecs, and the three solvers they choose from.
//
//   real symmetric    sym_eigvals, sym_eigvecs   Householder tridiagonalisation, then QL
//                                                with implicit shifts
//   real general      evec, eval                 balancing, elimination to Hessenberg form,
//                                                double-shift QR
//   complex           comeval, comevec           balancing, unitary reduction to Hessenberg
//                                                form, shifted complex QR
//
// Nothing is sorted: each solver leaves the eigenvalues in the order its iteration finds
// them at their diagonal positions, and column j of its eigenvector matrix belongs to the
// j-th of them. The values and the vectors of one matrix come from the same arithmetic, so
// their orders agree.
//
// Every solver works in place on the matrix it is given (callers pass a working copy) and
// returns null or a message: "invalid dimension" (fewer than one row or column),
// "must be square", "out of memory", "too many iterations", and "interrupted" when the
// user asks the host to stop (asked once per step of the reduction, per iteration and per
// eigenvector).
#pragma once

#include "array/array.h"
#include "host/ufnutils.h"

// eigenvals(M) as the host calls it, under the floating-point guard: a matrix goes to the
// matrix-level eigenvals with TOL's real part (its tag is not looked at); anything else
// gives "must be array" blaming no argument.
MATPACK_API Anyval* eigenvals(UfnCallContext* ctx, Anyval* m, Anyval* tol);
// The eigenvalues of a square matrix as an n x 1 matrix, or an error value in its place:
// "must be square" and "may not be nested" blaming argument 1, then the message of the copy
// or of the solver blaming none. Real symmetric matrices give a real vector, all others a
// complex one. `tol` reaches comeval, which does not use it.
MATPACK_API aMatrix* eigenvals(UfnCallContext* ctx, aMatrix* m, double tol);

// eigenvecs(M) as the host calls it; as eigenvals.
MATPACK_API Anyval* eigenvecs(UfnCallContext* ctx, Anyval* m);
// The eigenvectors of a square matrix as the columns of an n x n matrix, each scaled to
// unit Euclidean length, or an error value in its place (as eigenvals).
MATPACK_API aMatrix* eigenvecs(UfnCallContext* ctx, aMatrix* m);

// The real symmetric matrix in the lower triangle of `a` (its upper triangle is not read).
// sym_eigvals stores the eigenvalues through `values` as a new real n x 1 matrix;
// sym_eigvecs leaves the orthonormal eigenvectors in `a` itself. Both also give
// "Null matrix or vector pointer." when `a` or its real part is missing.
const char* sym_eigvals(UfnCallContext* ctx, aMatrix* a, aMatrix** values);
const char* sym_eigvecs(UfnCallContext* ctx, aMatrix* a);

// The real general matrix `a` (its real part). evec stores a new complex n x n eigenvector
// matrix through `vectors` as soon as the reduction is done (it is the host's from then on,
// whatever follows), and on success a new complex n x 1 eigenvalue matrix through `values`.
// Each eigenvector column is divided by its first component of largest modulus. A complex
// conjugate pair of eigenvalues comes as two neighbours, the positive imaginary part first.
const char* evec(UfnCallContext* ctx, aMatrix* a, aMatrix** values, aMatrix** vectors);
// The eigenvalues alone, in evec's order.
MATPACK_API const char* eval(UfnCallContext* ctx, aRealMatrix* a, aVector** values);

// The complex matrix `a`, which must have both part arrays. comeval stores the eigenvalues
// through `values` (`tol` is not used) and allows an eigenvalue 31 QR steps; comevec stores
// its eigenvector matrix through `vectors` as soon as the reduction is done, then the
// eigenvalues through `values`, and allows 30 steps. Eigenvector columns are scaled as
// evec's.
MATPACK_API const char* comeval(UfnCallContext* ctx, aMatrix* a, aVector** values, double tol);
const char* comevec(UfnCallContext* ctx, aMatrix* a, aMatrix** values, aMatrix** vectors);
