// Matrix inverses by LU factorisation, exported for the host's other components: its
// inverse operator (M^-1) calls the value-level inv, the condition numbers call the
// message forms.
#pragma once

#include "host/records.h"

// The inverse of a square matrix value, under the floating-point guard with the handlers
// of a guarded entry. A matrix goes to the matrix-level inv; a function value (tags 4 and
// 8) or a value of tag 16 gives "illegal context", anything else "must be array", both
// built with mkError and the integers (1, 0).
MATPACK_API Anyval* inv(UfnCallContext* ctx, Anyval* v);

// The inverse of a square real or complex matrix, or an error value in its place:
// "may not be nested" and "must be square" with (0, 0), then the message of cinv (when m
// has an imaginary part) or of the real inv, both with the near-singularity test on,
// with (0, 0).
MATPACK_API aMatrix* inv(UfnCallContext* ctx, aMatrix* m);

// The inverse of the real part of m. On success *out is a new real n x n matrix; on a
// message *out is null and nothing is left behind. `check` turns on the factorisation's
// near-singularity test.
// Messages: "Unknown error" (no real part), "invalid dimension", "must be square",
// "out of memory", and those of matrix_copy and lud.
MATPACK_API const char* inv(UfnCallContext* ctx, aMatrix* m, aMatrix** out, bool check);

// The complex inverse of m (the callers route real matrices to inv); result arrays from
// the pack's heap. Besides the factorisation's tests, the determinant (the product of U's
// diagonal) must have a non-zero modulus: a product that underflows to zero counts as
// singular. The modulus may throw SE_FPEOverflow_Exception.
// Messages: "invalid dimension", "must be square", "out of memory", "singular matrix",
// and those of the copy and clud.
MATPACK_API const char* cinv(UfnCallContext* ctx, aMatrix* m, aMatrix** out, bool check);
