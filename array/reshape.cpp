// Reordering and reducing one matrix.
//
//   reverse(A)     A with its rows in reverse order       reverse([1; 2; 3]) = [3; 2; 1]
//                  (a single row is returned as it is)
//   transpose(A)   rows and columns exchanged; imaginary parts are kept, not conjugated
//                                                         transpose([1, 2i]) = [1; 2i]
//   tr(A)          the sum of the diagonal of a square matrix
//                                                         tr([1, 2; 3, 4]) = 5
//
// reverse and transpose move element slots as they are, embedded strings and arrays
// included; transpose keeps the nested flag, reverse does not carry it over. tr refuses
// nested matrices.
#include "array/array.h"
#include "host/part_view.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace {

// `from` with its rows in reverse order, as a heap array with leading dimension = rows;
// empty when the heap has no room.
heap::Array<double> reversedRows(PartView from, int32_t rows, int32_t cols) {
  heap::Array<double> part(static_cast<size_t>(rows) * static_cast<size_t>(cols));
  if (!part) return part;
  const PartView to(part.get(), rows);
  for (int32_t j = 0; j < cols; ++j) {
    for (int32_t i = 0; i < rows; ++i) to(i, j) = from(rows - 1 - i, j);
  }
  return part;
}

Anyval* reversed(UfnCallContext* ctx, aMatrix* a) {
  // Nothing to reorder: a single row, or a matrix with neither part array.
  if (a->rows == 1 || (!a->re && !a->im)) return asValue(a);
  heap::Array<double> re, im;
  if (a->re && !(re = reversedRows(realPart(a), a->rows, a->cols))) return outOfMemoryValue();
  if (a->im && !(im = reversedRows(imagPart(a), a->rows, a->cols))) return outOfMemoryValue();
  return resultMatrix(ctx, a->rows, a->cols, re, im);
}

// Fills `to` (cols x rows, leading dimension cols) with the transpose of `from`.
void transposeInto(PartView from, int32_t rows, int32_t cols, double* to) {
  const PartView result(to, cols);
  for (int32_t j = 0; j < cols; ++j) {
    for (int32_t i = 0; i < rows; ++i) result(j, i) = from(i, j);
  }
}

// The sum of the diagonal of one part, in increasing order; 0 for an absent part.
double diagonalSum(PartView part, int32_t n) {
  double sum = 0.0;
  if (!part) return sum;
  for (int32_t k = 0; k < n; ++k) sum += part(k, k);
  return sum;
}

Anyval* trace(UfnCallContext* ctx, const aMatrix* a) {
  return scalarValue(ctx, diagonalSum(realPart(a), a->rows), diagonalSum(imagPart(a), a->rows));
}

}  // namespace

Anyval* transpose(UfnCallContext* ctx, aMatrix* m) {
  const size_t count = elementCount(m);
  HostArray re, im;
  if (m->re && !(re = HostArray(ctx, count))) return outOfMemoryValue();
  if (m->im && !(im = HostArray(ctx, count))) return outOfMemoryValue();
  if (re) transposeInto(realPart(m), m->rows, m->cols, re.get());
  if (im) transposeInto(imagPart(m), m->rows, m->cols, im.get());
  return resultMatrix(ctx, m->cols, m->rows, re, im, m->flags & aMatrix::kNested);
}

namespace worksheet {

Anyval* reverse(UfnCallContext* ctx, Anyval* a) {
  if (Anyval* error = Require(ctx, a, 1).matrix().error()) return error;
  return reversed(ctx, as<aMatrix>(a));
}

Anyval* transpose(UfnCallContext* ctx, Anyval* a) {
  if (Anyval* error = Require(ctx, a, 1).matrix().error()) return error;
  return ::transpose(ctx, as<aMatrix>(a));
}

Anyval* tr(UfnCallContext* ctx, Anyval* a) {
  if (Anyval* error = Require(ctx, a, 1).matrix().square().notNested().error()) return error;
  return trace(ctx, as<aMatrix>(a));
}

}  // namespace worksheet
