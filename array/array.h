// Array routines called directly: the exported ones by other host components, the others by
// other parts of the pack.
#pragma once

#include "host/records.h"

// The host's name for a real matrix value. A routine that returns one may return an error
// value in its place: callers test the tag.
using aRealMatrix = aMatrix;

// The n x n identity matrix, n > 0 (not checked); the host's out-of-memory value when the
// host has no memory for it.
MATPACK_API aRealMatrix* identity(UfnCallContext* ctx, int n);
// identity(n) for n given as a scalar, checked as the worksheet function checks it: an
// integer from 1 to 4096, else an error blaming argument 1.
MATPACK_API aRealMatrix* identity(UfnCallContext* ctx, aComplex* n);

// The values (scalars, strings, matrices) stacked top to bottom, as the worksheet's stack
// does, for any count including 1 (a scalar becomes a 1 x 1 matrix). Throws the message
// "out of memory" when the pack's heap runs out: callers run it under a guard.
MATPACK_API Anyval* stack(UfnCallContext* ctx, Anyval** values, int count);
// The worksheet's stack(A, B, ...): the count, then the values; guarded.
MATPACK_API Anyval* stack(UfnCallContext* ctx, int count, ...);

// The transpose of m (imaginary parts kept as they are, not conjugated), keeping its nested
// flag; the host's out-of-memory value when the host has no memory for it.
Anyval* transpose(UfnCallContext* ctx, aMatrix* m);
