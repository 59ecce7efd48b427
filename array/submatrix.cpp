// Cutting a block out of a matrix.
//
//   submatrix(A, ir, jr, ic, jc)   rows ir to jr and columns ic to jc of A, counted from
//                                  ORIGIN; a range given high to low comes out reversed
//
//     with ORIGIN 0 and A = [1, 2, 3; 4, 5, 6]:
//     submatrix(A, 0, 1, 1, 2) = [2, 3; 5, 6]
//     submatrix(A, 1, 0, 2, 2) = [6; 3]
//     submatrix(A, 1, 1, 0, 0) = [4]        a single element, as a 1 x 1 matrix
//
// A single element that refers to a string or a nested array gives a 1 x 1 nested matrix
// referring to the same value; a referenced matrix counts the new reference. One that
// refers to a scalar gives that scalar as a 1 x 1 matrix.
#include <climits>
#include <cstdlib>

#include "host/embedded.h"
#include "host/part_view.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace {

constexpr double kLargestIndex = 2147483647.0;

// An index argument truncated toward zero to a 32-bit integer; values below the integer
// range (and NaN) become the smallest integer, which no range accepts.
int32_t truncated(double index) {
  if (!(index >= static_cast<double>(INT32_MIN))) return INT32_MIN;
  return static_cast<int32_t>(index);
}

// The index argument at `position` checked against [origin, extent + origin); its 0-based
// value goes to `at`. An error value when it does not name a row (column) of A.
Anyval* checkIndex(UfnCallContext* ctx, const aComplex& index, int position, int32_t extent,
                   double origin, int32_t& at) {
  // Truncated only once it is known to fit: out of range, the conversion flags a fault.
  auto k = [&] { return truncated(index.re); };
  if (Anyval* error =
          Require(ctx, asValue(&index), position)
              .that([&] { return index.im == 0.0; }, msg::kMustBeReal)
              .that([&] { return !(index.re > kLargestIndex); }, msg::kIntegerTooLarge)
              .that([&] { return k() >= origin && k() < extent + origin; }, msg::kInvalidDimension)
              .error()) {
    return error;
  }
  at = static_cast<int32_t>(k() - origin);
  return nullptr;
}

// Rows (or columns) first to last, 0-based, stepping down when last < first.
struct Range {
  int32_t first, last;
  int32_t count() const { return std::abs(last - first) + 1; }
  int32_t step() const { return first <= last ? 1 : -1; }
  int32_t operator[](int32_t p) const { return first + p * step(); }
};

// The corners checked once more before the copy: the index checks above already keep them
// inside A, so these fire only if those checks change.
Anyval* cornerError(UfnCallContext* ctx, const aMatrix* a, Range rows, Range cols) {
  const struct {
    bool failed;
    const char* message;
    int position;
  } checks[] = {
      {rows.first < 0, msg::kInvalidIndex, 2},
      {cols.first < 0, msg::kInvalidIndex, 4},
      {rows.last < 0, msg::kInvalidIndex, 3},
      {cols.last < 0, msg::kInvalidIndex, 5},
      {rows.last >= a->rows, msg::kUpperIndexOutOfBounds, 3},
      {cols.last >= a->cols, msg::kUpperIndexOutOfBounds, 5},
      {rows.first >= a->rows, msg::kUpperIndexOutOfBounds, 2},
      {cols.first >= a->cols, msg::kUpperIndexOutOfBounds, 4},
  };
  for (const auto& check : checks) {
    if (check.failed) return errorValue(ctx, check.message, check.position);
  }
  return nullptr;
}

// Fills `to` (leading dimension rows.count()) with the block of one part of A.
void copyBlock(PartView from, Range rows, Range cols, double* to) {
  const PartView block(to, rows.count());
  for (int32_t q = 0; q < cols.count(); ++q) {
    for (int32_t p = 0; p < rows.count(); ++p) block(p, q) = from(rows[p], cols[q]);
  }
}

bool holdsEmbedded(const double* part, size_t count) {
  for (size_t k = 0; k < count; ++k) {
    if (embedded::is(part[k])) return true;
  }
  return false;
}

// The block as a new matrix over host arrays. It is nested when A is and an embedded
// element came along.
Anyval* block(UfnCallContext* ctx, const aMatrix* a, Range rows, Range cols) {
  if (Anyval* error = cornerError(ctx, a, rows, cols)) return error;
  const size_t count = static_cast<size_t>(rows.count()) * static_cast<size_t>(cols.count());
  HostArray re, im;
  if (a->re && !(re = HostArray(ctx, count))) return outOfMemoryValue();
  if (a->im && !(im = HostArray(ctx, count))) return outOfMemoryValue();
  if (re) copyBlock(realPart(a), rows, cols, re.get());
  if (im) copyBlock(imagPart(a), rows, cols, im.get());
  const bool nested = a->nested() && re && holdsEmbedded(re.get(), count);
  return resultMatrix(ctx, rows.count(), cols.count(), re, im, nested ? aMatrix::kNested : 0);
}

// A one-element part array holding `slot`; empty when the heap has no room.
heap::Array<double> oneElement(double slot) {
  heap::Array<double> part(1);
  if (part) part[0] = slot;
  return part;
}

Anyval* scalarAsMatrix(UfnCallContext* ctx, const aComplex& z) {
  heap::Array<double> re = oneElement(embedded::asNumber(z.re)), im;
  if (!re) return outOfMemoryValue();
  if (z.im != 0.0 && !(im = oneElement(z.im))) return outOfMemoryValue();
  return resultMatrix(ctx, 1, 1, re, im);
}

// The matrix now also refers to itself from another value.
void countReference(aMatrix* m) {
  m->refs += 1;
  m->flags |= aMatrix::kReferenced;
}

// Element (i, j) of A as a 1 x 1 matrix over heap arrays.
Anyval* singleElement(UfnCallContext* ctx, const aMatrix* a, int32_t i, int32_t j) {
  const bool isReference = a->re && embedded::is(realPart(a)(i, j));
  Anyval* target = isReference ? embedded::target(realPart(a)(i, j)) : nullptr;
  if (target && isScalar(target)) return scalarAsMatrix(ctx, *as<aComplex>(target));
  heap::Array<double> re, im;
  if (a->re && !(re = oneElement(realPart(a)(i, j)))) return outOfMemoryValue();
  if (a->im && !(im = oneElement(imagPart(a)(i, j)))) return outOfMemoryValue();
  Anyval* result = resultMatrix(ctx, 1, 1, re, im, target ? aMatrix::kNested : 0);
  if (target && isMatrix(target) && isMatrix(result)) countReference(as<aMatrix>(target));
  return result;
}

Anyval* cut(UfnCallContext* ctx, const aMatrix* a, const aComplex* const index[4], double origin) {
  int32_t at[4];
  for (int n = 0; n < 4; ++n) {
    const int32_t extent = n < 2 ? a->rows : a->cols;
    if (Anyval* error = checkIndex(ctx, *index[n], n + 2, extent, origin, at[n])) return error;
  }
  const Range rows{at[0], at[1]}, cols{at[2], at[3]};
  if (index[0]->re == index[1]->re && index[2]->re == index[3]->re) {
    return singleElement(ctx, a, rows.first, cols.first);
  }
  return block(ctx, a, rows, cols);
}

}  // namespace

namespace worksheet {

Anyval* submatrix(UfnCallContext* ctx, Anyval* a, Anyval* ir, Anyval* jr, Anyval* ic, Anyval* jc,
                  Anyval* origin) {
  Anyval* const indices[4] = {ir, jr, ic, jc};
  Require arguments(ctx, a, 1);
  arguments.matrix();
  for (int n = 0; n < 4; ++n) arguments.next(indices[n], n + 2).scalar();
  if (Anyval* error = arguments.error()) return error;
  const aComplex* const index[4] = {as<aComplex>(ir), as<aComplex>(jr), as<aComplex>(ic),
                                    as<aComplex>(jc)};
  return cut(ctx, as<aMatrix>(a), index, as<aComplex>(origin)->re);
}

}  // namespace worksheet
