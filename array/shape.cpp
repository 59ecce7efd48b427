// Shape queries.
//
//   rows(A)        number of rows of A; 0 for a scalar     rows([1, 2; 3, 4]) = 2
//   cols(A)        number of columns of A; 0 for a scalar  cols([1, 2, 3]) = 3
//   length(v)      number of elements of a column vector   length([1; 2; 3]) = 3
//   last(v)        index of v's last element, from ORIGIN  last([1; 2; 3]) = 2 (ORIGIN 0)
//
// Only the shape is read: element values, strings, nesting and imaginary parts don't
// matter.
#include "pack/entries.h"
#include "pack/guarded.h"
#include "pack/messages.h"

namespace {

// rows and cols: a scalar has no rows or columns; anything else but a matrix is refused.
template <class Count>
Anyval* shapeCount(UfnCallContext* ctx, Anyval* a, Count count) {
  return guarded(ctx, [&] {
    if (isScalar(a)) return scalarValue(ctx, 0.0);
    if (!isMatrix(a)) return asValue(patch_error(ctx, msg::kMustBeArray, a, 1));
    return scalarValue(ctx, count(as<aMatrix>(a)));
  });
}

}  // namespace

Anyval* rows(UfnCallContext* ctx, Anyval* a) {
  return shapeCount(ctx, a, [](const aMatrix* m) { return double(m->rows); });
}

Anyval* cols(UfnCallContext* ctx, Anyval* a) {
  return shapeCount(ctx, a, [](const aMatrix* m) { return double(m->cols); });
}

Anyval* length(UfnCallContext* ctx, Anyval* v) {
  if (!isMatrix(v)) return errorValue(ctx, msg::kMustBeVector, 1);
  const aMatrix* m = as<aMatrix>(v);
  if (m->cols != 1) return errorValue(ctx, msg::kMustBeVector, 1, 0);
  return scalarValue(ctx, m->rows);
}

Anyval* last(UfnCallContext* ctx, Anyval* v, Anyval* origin) {
  if (!isMatrix(v)) return errorValue(ctx, msg::kMustBeVector, 1);
  const aMatrix* m = as<aMatrix>(v);
  if (m->cols != 1) return errorValue(ctx, msg::kMustBeVector, 1);
  return scalarValue(ctx, (m->rows - 1) + as<aComplex>(origin)->re);
}
