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

#include "array/support.h"
#include "host/part_view.h"
#include "pack/entries.h"
#include "pack/messages.h"

namespace {

constexpr double kLargestSize = 8000000;
constexpr double kWholeTolerance = 1e-10;

// f applied to the real scalars i and j through the host's evaluator: slots 4 and 5 with
// the (still null) result word, slot 3 to apply, slot 7 after it. The result is f's value.
Anyval* apply(UfnCallContext* ctx, Anyval* f, int32_t i, int32_t j) {
  const aComplex row{kTagScalar, 0, static_cast<double>(i), 0.0};
  const aComplex col{kTagScalar, 0, static_cast<double>(j), 0.0};
  const sCons last{&col, nullptr};
  const sCons args{&row, &last};
  IwsEvaluator* evaluator = ctx->evaluator;
  Anyval* result = nullptr;
  evaluator->table->beginApply(evaluator, &result);
  evaluator->table->prepareApply(evaluator, &result);
  evaluator->table->apply(evaluator, f, &args, &result);
  evaluator->table->endApply(evaluator);
  return result;
}

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
  if (m.im != 0.0) return errorValue(ctx, msg::kMustBeReal, 1);
  if (n.im != 0.0) return errorValue(ctx, msg::kMustBeReal, 2);
  if (!(m.re > 0.0)) return errorValue(ctx, msg::kMustBePositive, 1);
  if (!(n.re >= 1.0)) return errorValue(ctx, msg::kIncorrectColumnDimensions, 2);
  if (!nearlyWhole(m.re)) return errorValue(ctx, msg::kMustBeInteger, 1);
  if (m.re > kLargestSize) return errorValue(ctx, msg::kSizeTooLarge, 1);
  if (!nearlyWhole(n.re)) return errorValue(ctx, msg::kMustBeInteger, 2);
  if (n.re > kLargestSize) return errorValue(ctx, msg::kSizeTooLarge, 2);
  if (m.re * n.re > kLargestSize) return errorValue(ctx, msg::kSizeTooLarge, 0);
  return nullptr;
}

// f at (0, 0), before anything is allocated: an error value when f does not give a scalar.
Anyval* trialError(UfnCallContext* ctx, Anyval* f) {
  Anyval* value = apply(ctx, f, 0, 0);
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
      Anyval* value = apply(ctx, f, i, j);
      if (!givesScalar(value)) {
        return givesError(value) ? value : errorValue(ctx, msg::kNonScalarValue, 3);
      }
      const aComplex* z = as<aComplex>(value);
      reView(i, j) = z->re;
      imView(i, j) = z->im;
      complex = complex || z->im != 0.0;
    }
  }
  if (!complex) im = heap::Array<double>();
  return resultMatrix(ctx, rows, cols, re, im);
}

}  // namespace

Anyval* matrix(UfnCallContext* ctx, Anyval* m, Anyval* n, Anyval* f) {
  if (!isScalar(m)) return errorValue(ctx, msg::kNonScalarValue, 1);
  if (!isScalar(n)) return errorValue(ctx, msg::kNonScalarValue, 2);
  if (f->tag != kTagFunction2 && f->tag != kTagFunction) {
    return errorValue(ctx, msg::kMustBeFunction, 3);
  }
  return tabulate(ctx, *as<aComplex>(m), *as<aComplex>(n), f);
}
