// Matrix norms of square matrices, as numbers; the worksheet's norm and condition-number
// functions and the row reduction's tolerance are built on them.
//
//   norm1   largest column sum of magnitudes        max_j sum_i |a(i, j)|
//   normi   largest row sum of magnitudes           max_i sum_j |a(i, j)|
//   norme   Frobenius norm                          sqrt(sum of |a(i, j)|^2), squares summed
//                                                   directly, without scaling
//   norm2   spectral norm                           the largest singular value
//
// The real forms read only the real part (absent: all zeros); the complex forms (c...)
// read both, an absent part counting as zeros. In norm1 and normi a complex entry's
// magnitude is formed by ratios (linalg::modulusByRatio). The maxima start at 0 and take
// a strictly larger sum, so a 0 x 0 matrix has norm 0.
//
// Every routine sets *out = 0, refuses a matrix that is not square with "must be square",
// and returns null on success.
#pragma once

#include "host/records.h"
#include "pack/interrupt.h"

const char* norm1(const aMatrix* a, double* out);
const char* cnorm1(const aMatrix* a, double* out);
const char* normi(const aMatrix* a, double* out);
const char* cnormi(const aMatrix* a, double* out);
const char* norme(const aMatrix* a, double* out);
const char* cnorme(const aMatrix* a, double* out);

// The largest singular value of the real part of `a`, which is destroyed (the singular
// values are computed in place): pass a copy. Messages: those of svd_values
// (svd/svd.h).
const char* norm2(aMatrix* a, double* out, const Interrupt& stop = Interrupt());

// The square root of the largest eigenvalue of A^H A for a complex `a` (left unchanged),
// the eigenvalues found by herm_eigvals (svd/hermitian.h). Messages: "must be square",
// "out of memory", "interrupted" and those of herm_eigvals.
const char* cnorm2(UfnCallContext* ctx, const aMatrix* a, double* out);
