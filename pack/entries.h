// The worksheet functions as the table's entries run them (pack/entry.h): each takes the
// call context, then one value per worksheet argument, then the system variables its table
// row appends (TOL, ORIGIN); a counted function takes its values gathered. The table row
// names the policy an entry runs its function under.
#pragma once

#include "host/records.h"
#include "pack/entry.h"

namespace worksheet {

// Shapes.
Anyval* rows(UfnCallContext* ctx, Anyval* a);
Anyval* cols(UfnCallContext* ctx, Anyval* a);
Anyval* length(UfnCallContext* ctx, Anyval* v);
Anyval* last(UfnCallContext* ctx, Anyval* v, Anyval* origin);

// Lookup.
Anyval* lookup(UfnCallContext* ctx, Anyval* z, Anyval* a, Anyval* b, Anyval* tol);
Anyval* hlookup(UfnCallContext* ctx, Anyval* z, Anyval* a, Anyval* r, Anyval* tol, Anyval* origin);
Anyval* vlookup(UfnCallContext* ctx, Anyval* z, Anyval* a, Anyval* c, Anyval* tol, Anyval* origin);
Anyval* match(UfnCallContext* ctx, Anyval* z, Anyval* a, Anyval* tol, Anyval* origin);

// Building, joining, cutting and reducing arrays.
Anyval* identity(UfnCallContext* ctx, Anyval* n);
Anyval* diag(UfnCallContext* ctx, Anyval* v);
Anyval* augment(UfnCallContext* ctx, Counted values);
Anyval* stack(UfnCallContext* ctx, Counted values);
Anyval* submatrix(UfnCallContext* ctx, Anyval* a, Anyval* ir, Anyval* jr, Anyval* ic, Anyval* jc,
                  Anyval* origin);
Anyval* reverse(UfnCallContext* ctx, Anyval* a);
Anyval* transpose(UfnCallContext* ctx, Anyval* a);
Anyval* tr(UfnCallContext* ctx, Anyval* a);
Anyval* max(UfnCallContext* ctx, Counted values);
Anyval* min(UfnCallContext* ctx, Counted values);
Anyval* matrix(UfnCallContext* ctx, Anyval* m, Anyval* n, Anyval* f);

// Linear systems and decompositions.
Anyval* cholesky(UfnCallContext* ctx, Anyval* m);
Anyval* lsolve(UfnCallContext* ctx, Anyval* m, Anyval* v);
Anyval* lu(UfnCallContext* ctx, Anyval* m);
Anyval* qr(UfnCallContext* ctx, Anyval* m);
Anyval* rref(UfnCallContext* ctx, Anyval* m);

// Norms and condition numbers.
Anyval* norm1(UfnCallContext* ctx, Anyval* m);
Anyval* norm2(UfnCallContext* ctx, Anyval* m);
Anyval* norme(UfnCallContext* ctx, Anyval* m);
Anyval* normi(UfnCallContext* ctx, Anyval* m);
Anyval* cond1(UfnCallContext* ctx, Anyval* m);
Anyval* cond2(UfnCallContext* ctx, Anyval* m);
Anyval* conde(UfnCallContext* ctx, Anyval* m);
Anyval* condi(UfnCallContext* ctx, Anyval* m);

// Singular values and what is built on them.
Anyval* svds(UfnCallContext* ctx, Anyval* a);
Anyval* svd(UfnCallContext* ctx, Anyval* a);
Anyval* rank(UfnCallContext* ctx, Anyval* a);
Anyval* geninv(UfnCallContext* ctx, Anyval* a, Anyval* tol);

// Eigenproblems.
Anyval* eigenvals(UfnCallContext* ctx, Anyval* m, Anyval* tol);
Anyval* eigenvecs(UfnCallContext* ctx, Anyval* m);
Anyval* eigenvec(UfnCallContext* ctx, Anyval* m, Anyval* z);
Anyval* genvals(UfnCallContext* ctx, Anyval* m, Anyval* n);
Anyval* genvecs(UfnCallContext* ctx, Anyval* m, Anyval* n);

}  // namespace worksheet
