// lsolve(M, v): the solution x of M x = v for a square matrix M and one column v.
//
//   lsolve([2, 0; 0, 4], [2; 8])      = [1; 2]
//   lsolve([2, 0; 0, 4], [2i; 8])     = [1i; 2]        complex M or v: complex x
//   lsolve([1, 2; 2, 4], [1; 2])      -> "singular matrix" (consistent, but a pivot is 0)
//   lsolve(identity(3), [1; 2])       -> "incompatible dimension"
//
// M is factored with scaled partial pivoting on a copy; only an exactly zero pivot makes
// the system singular. The result is a copy of v, overwritten with x.
#include "host/embedded.h"
#include "host/part_view.h"
#include "linalg/lu.h"
#include "linalg/working_matrices.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace {

// M's working copy factored, and x, a copy of v in a new host matrix, solved in place: x is
// the result.
Anyval* solve(UfnCallContext* ctx, aMatrix* m, aMatrix* v) {
  const bool complex = m->im || v->im;
  WorkingCopy a(ctx, m, complex);
  if (a.failure()) return errorValue(ctx, a.failure(), 0);
  TempMatrix x(ctx, newHostMatrix(ctx, v->rows, 1, complex ? 2 : 1));
  if (!x) return errorValue(ctx, msg::kOutOfMemory, 0);
  copyParts(v, x.get());
  const Interrupt stop(ctx);
  if (const char* failure =
          complex ? clud_solve(a.get(), x.get(), stop) : lud_solve(a.get(), x.get(), stop)) {
    return errorValue(ctx, failure, 0);
  }
  embedded::keepNumbers(x->re, elementCount(x.get()));
  return asValue(x.handOver());
}

}  // namespace

Anyval* worksheet::lsolve(UfnCallContext* ctx, Anyval* m, Anyval* v) {
  const aMatrix* a = as<aMatrix>(m);
  const aMatrix* b = as<aMatrix>(v);
  if (Anyval* error = Require(ctx, m, 1)
                          .matrix()
                          .next(v, 2)
                          .matrix(msg::kMustBeVector)
                          .that([&] { return b->cols <= 1; }, msg::kMustBeVector)
                          .next(m, 1)
                          .square()
                          .next(v, 2)
                          .vector()
                          .blame(2, 0)
                          .that([&] { return a->rows == b->rows; }, msg::kIncompatibleDimension)
                          .next(m, 1)
                          .notNested()
                          .next(v, 2)
                          .notNested()
                          .error()) {
    return error;
  }
  return solve(ctx, as<aMatrix>(m), as<aMatrix>(v));
}
