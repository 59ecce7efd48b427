// The worksheet functions' entries: what the function table points at. Each takes the
// call context, then one value per worksheet argument, then the system variables its
// table row appends (TOL, ORIGIN); a counted entry takes the number of arguments first.
#pragma once

#include "host/records.h"

// Shapes.
Anyval* rows(UfnCallContext* ctx, Anyval* a);
Anyval* cols(UfnCallContext* ctx, Anyval* a);
Anyval* length(UfnCallContext* ctx, Anyval* v);
Anyval* last(UfnCallContext* ctx, Anyval* v, Anyval* origin);

// Linear systems and decompositions.
Anyval* cholesky(UfnCallContext* ctx, Anyval* m);
Anyval* lsolve(UfnCallContext* ctx, Anyval* m, Anyval* v);
Anyval* lu(UfnCallContext* ctx, Anyval* m);
