// Shape queries.
//
//   rows(A)        number of rows of A; 0 for a scalar     rows([1, 2; 3, 4]) = 2
//   cols(A)        number of columns of A; 0 for a scalar  cols([1, 2, 3]) = 3
//   length(v)      number of elements of a column vector   length([1; 2; 3]) = 3
//   last(v)        index of v's last element, from ORIGIN  last([1; 2; 3]) = 2 (ORIGIN 0)
//
// Only the shape is read: element values, strings, nesting and imaginary parts don't
// matter.
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/ownership.h"

namespace {

// rows and cols: a scalar has no rows or columns; anything else but a matrix is refused.
template <class Count>
Anyval* shapeCount(UfnCallContext* ctx, Anyval* a, Count count) {
  if (isScalar(a)) return scalarValue(ctx, 0.0);
  if (Anyval* error = Require(ctx, a, 1).patched().matrix().error()) return error;
  return scalarValue(ctx, count(as<aMatrix>(a)));
}

}  // namespace

namespace worksheet {

Anyval* rows(UfnCallContext* ctx, Anyval* a) {
  return shapeCount(ctx, a, [](const aMatrix* m) { return double(m->rows); });
}

Anyval* cols(UfnCallContext* ctx, Anyval* a) {
  return shapeCount(ctx, a, [](const aMatrix* m) { return double(m->cols); });
}

Anyval* length(UfnCallContext* ctx, Anyval* v) {
  if (Anyval* error = Require(ctx, v, 1).matrix(msg::kMustBeVector).blame(1, 0).vector().error())
    return error;
  return scalarValue(ctx, as<aMatrix>(v)->rows);
}

Anyval* last(UfnCallContext* ctx, Anyval* v, Anyval* origin) {
  if (Anyval* error = Require(ctx, v, 1).matrix(msg::kMustBeVector).vector().error()) return error;
  return scalarValue(ctx, (as<aMatrix>(v)->rows - 1) + as<aComplex>(origin)->re);
}

}  // namespace worksheet
