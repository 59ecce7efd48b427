// lsolve(M, v): the solution x of M x = v for a square matrix M and one column v.
//
//   lsolve([2, 0; 0, 4], [2; 8])      = [1; 2]
//   lsolve([2, 0; 0, 4], [2i; 8])     = [1i; 2]        complex M or v: complex x
//   lsolve([1, 2; 2, 4], [1; 2])      -> "singular matrix" (consistent, but a pivot is 0)
//   lsolve(identity(3), [1; 2])       -> "incompatible dimension"
//
// M is factored with scaled partial pivoting on a copy; only an exactly zero pivot makes
// the system singular. The result is the copy of v, overwritten with x.
#include "linalg/lu.h"
#include "linalg/working_matrices.h"
#include "pack/entries.h"
#include "pack/guarded.h"
#include "pack/messages.h"

namespace {

Anyval* lsolve(UfnCallContext* ctx, aMatrix* m, aMatrix* v) {
  if (m->rows != m->cols) return errorValue(ctx, msg::kMustBeSquare, 1);
  if (v->cols != 1) return errorValue(ctx, msg::kMustBeVector, 2);
  if (m->rows != v->rows) return errorValue(ctx, msg::kIncompatibleDimension, 2, 0);
  if (m->nested()) return errorValue(ctx, msg::kMayNotBeNested, 1);
  if (v->nested()) return errorValue(ctx, msg::kMayNotBeNested, 2);

  const bool complex = m->im || v->im;
  TempMatrix a(ctx), x(ctx);
  if (const char* failure = complex ? complexCopy(ctx, m, a.out()) : matrix_copy(ctx, m, a.out())) {
    return errorValue(ctx, failure, 0);
  }
  if (const char* failure = complex ? complexCopy(ctx, v, x.out()) : matrix_copy(ctx, v, x.out())) {
    return errorValue(ctx, failure, 0);
  }
  if (const char* failure = complex ? clud_solve(a.get(), x.get()) : lud_solve(a.get(), x.get())) {
    return errorValue(ctx, failure, 0);
  }
  return asValue(x.handOver());
}

}  // namespace

Anyval* lsolve(UfnCallContext* ctx, Anyval* m, Anyval* v) {
  return guarded(ctx, [&] {
    if (!isMatrix(m)) return errorValue(ctx, msg::kMustBeArray, 1);
    if (!isMatrix(v) || as<aMatrix>(v)->cols > 1) return errorValue(ctx, msg::kMustBeVector, 2);
    return lsolve(ctx, as<aMatrix>(m), as<aMatrix>(v));
  });
}
