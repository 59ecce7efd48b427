// Square matrices built from a size or from a diagonal.
//
//   identity(n)    the n x n identity matrix, n a whole number from 1 to 4096
//                  identity(2) = [1, 0; 0, 1]
//   diag(v)        the square matrix with the column vector v on its diagonal, zeros
//                  elsewhere; real or complex as v is
//                  diag([1; 2i]) = [1, 0; 0, 2i]
//
// diag copies the diagonal slots as they are, so a string held in v lands on the diagonal.
#include <algorithm>

#include "array/array.h"
#include "host/part_view.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace {

constexpr double kLargestIdentity = 4096;

// An n x n part array: zeros, with v's part (given as a view) down the diagonal.
heap::Array<double> diagonalOf(PartView v, int32_t n) {
  heap::Array<double> part(static_cast<size_t>(n) * static_cast<size_t>(n), true);
  if (!part) return part;
  const PartView square(part.get(), n);
  for (int32_t k = 0; k < n; ++k) square(k, k) = v(k, 0);
  return part;
}

Anyval* diagonalMatrix(UfnCallContext* ctx, const aMatrix* v) {
  const int32_t n = v->rows;
  heap::Array<double> re, im;
  if (v->re && !(re = diagonalOf(realPart(v), n))) return outOfMemoryValue();
  if (v->im && !(im = diagonalOf(imagPart(v), n))) return outOfMemoryValue();
  return resultMatrix(ctx, n, n, re, im);
}

}  // namespace

aRealMatrix* identity(UfnCallContext* ctx, int n) {
  const size_t count = static_cast<size_t>(n) * static_cast<size_t>(n);
  HostArray ones(ctx, count);
  if (!ones) return inPlaceOf<aRealMatrix>(outOfMemoryValue());
  std::fill(ones.get(), ones.get() + count, 0.0);
  for (size_t k = 0; k < count; k += static_cast<size_t>(n) + 1) ones.get()[k] = 1.0;
  HostArray none;
  return inPlaceOf<aRealMatrix>(resultMatrix(ctx, n, n, ones, none));
}

aRealMatrix* identity(UfnCallContext* ctx, aComplex* n) {
  if (Anyval* error = Require(ctx, asValue(n), 1)
                          .that([&] { return n->im == 0.0; }, msg::kMustBeInteger)
                          .that([&] { return nonint(ctx, n) != 1; }, msg::kMustBeInteger)
                          .that([&] { return n->re > 0.0; }, msg::kDomainError)
                          .that([&] { return n->re <= kLargestIdentity; }, msg::kSizeTooLarge)
                          .error()) {
    return inPlaceOf<aRealMatrix>(error);
  }
  return identity(ctx, static_cast<int>(n->re));
}

namespace worksheet {

Anyval* identity(UfnCallContext* ctx, Anyval* n) {
  if (Anyval* error = Require(ctx, n, 1).scalar().error()) return error;
  return asValue(::identity(ctx, as<aComplex>(n)));
}

Anyval* diag(UfnCallContext* ctx, Anyval* v) {
  if (Anyval* error = Require(ctx, v, 1).matrix(msg::kMustBeVector).vector().error()) return error;
  return diagonalMatrix(ctx, as<aMatrix>(v));
}

}  // namespace worksheet
