// A matrix tabulated from a worksheet function.
//
//   matrix(m, n, f)   the m x n matrix whose element (i, j) is f(i, j), with i and j
//                     counted from 0 whatever ORIGIN is
//
//     with f(i, j) := i + j:   matrix(2, 3, f) = [0, 1, 2; 1, 2, 3]
//
// m and n are whole numbers (within 1e-10) and m·n is at most 8000000. f must give a scalar
// at every element; the result is complex only when some value of f has a non-zero
// imaginary part. f is tried once at (0, 0) before any memory is taken, so a function that
// fails costs nothing: an error f gives there is reported against argument 3 with f's own
// message, an error it gives at a later element is returned as f gave it. f is called
// m·n + 1 times in all, rows outer, columns inner.
#include <cmath>

#include "host/embedded.h"
#include "host/part_view.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace {

constexpr double kLargestSize = 8000000;
constexpr double kWholeTolerance = 1e-10;

bool givesScalar(const Anyval* value) {
  return value && isScalar(value);
}

bool givesError(const Anyval* value) {
  return value && value->tag == kTagError;
}

bool nearlyWhole(double x) {
  return !(std::fabs(x - std::floor(x + 0.1)) > kWholeTolerance);
}

// The first size check m and n fail, in order, or null.
Anyval* sizeError(UfnCallContext* ctx, const aComplex& m, const aComplex& n) {
  return Require(ctx, asValue(&m), 1)
      .that([&] { return m.im == 0.0; }, msg::kMustBeReal)
      .next(asValue(&n), 2)
      .that([&] { return n.im == 0.0; }, msg::kMustBeReal)
      .next(asValue(&m), 1)
      .that([&] { return m.re > 0.0; }, msg::kMustBePositive)
      .next(asValue(&n), 2)
      .that([&] { return n.re >= 1.0; }, msg::kIncorrectColumnDimensions)
      .next(asValue(&m), 1)
      .that([&] { return nearlyWhole(m.re); }, msg::kMustBeInteger)
      .that([&] { return !(m.re > kLargestSize); }, msg::kSizeTooLarge)
      .next(asValue(&n), 2)
      .that([&] { return nearlyWhole(n.re); }, msg::kMustBeInteger)
      .that([&] { return !(n.re > kLargestSize); }, msg::kSizeTooLarge)
      .blame(0, 0)
      .that([&] { return !(m.re * n.re > kLargestSize); }, msg::kSizeTooLarge)
      .error();
}

// f at (0, 0), before anything is allocated: an error value when f does not give a scalar.
Anyval* trialError(UfnCallContext* ctx, Anyval* f) {
  Anyval* value = applyFunction(ctx, f, 0, 0);
  if (givesScalar(value)) return nullptr;
  if (givesError(value)) {
    return asValue(aError::mk(ctx->allocator, as<aError>(value)->message, 0, 3, nullptr));
  }
  return errorValue(ctx, msg::kNonScalarValue, 3);
}

Anyval* tabulate(UfnCallContext* ctx, const aComplex& m, const aComplex& n, Anyval* f) {
  if (Anyval* error = sizeError(ctx, m, n)) return error;
  if (Anyval* error = trialError(ctx, f)) return error;
  const auto rows = static_cast<int32_t>(std::floor(m.re));
  const auto cols = static_cast<int32_t>(std::floor(n.re));
  const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(cols);
  heap::Array<double> re(count);
  if (!re) return outOfMemoryValue();
  heap::Array<double> im(count);
  if (!im) return outOfMemoryValue();
  const PartView reView(re.get(), rows), imView(im.get(), rows);
  bool complex = false;
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < cols; ++j) {
      Anyval* value = applyFunction(ctx, f, i, j);
      if (!givesScalar(value)) {
        return givesError(value) ? value : errorValue(ctx, msg::kNonScalarValue, 3);
      }
      const aComplex* z = as<aComplex>(value);
      reView(i, j) = embedded::asNumber(z->re);
      imView(i, j) = z->im;
      complex = complex || z->im != 0.0;
    }
  }
  if (!complex) im = heap::Array<double>();
  return resultMatrix(ctx, rows, cols, re, im);
}

}  // namespace

namespace worksheet {

Anyval* matrix(UfnCallContext* ctx, Anyval* m, Anyval* n, Anyval* f) {
  if (Anyval* error =
          Require(ctx, m, 1).scalar().next(n, 2).scalar().next(f, 3).function().error()) {
    return error;
  }
  return tabulate(ctx, *as<aComplex>(m), *as<aComplex>(n), f);
}

}  // namespace worksheet
