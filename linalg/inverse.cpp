// The exported inverses. They are no worksheet functions of the table: the host calls
// them directly.
//
//   inv(M)    the host's M^-1: the inverse of a square real or complex matrix value
//               [2]^-1             = [0.5]
//               [0, 1; 1, 0]^-1    = [0, 1; 1, 0]
//               [1, 2; 2, 4]^-1    -> "singular matrix"
//               "abc"^-1           -> "must be array"
//   cinv(M)   the complex inverse
//               cinv([2i])         = [-0.5i]
//
// Both factor a copy of M with the near-singularity test on (when the host asks), then
// solve for every unit column at once.
#include "linalg/inverse.h"

#include <algorithm>
#include <cmath>

#include "host/embedded.h"
#include "host/part_view.h"
#include "linalg/lu.h"
#include "linalg/working_matrices.h"
#include "pack/checks.h"
#include "pack/errors.h"
#include "pack/fpguard.h"
#include "pack/guard.h"
#include "pack/heap.h"
#include "pack/messages.h"
#include "pack/ownership.h"

namespace {

// Orders up to this take their pivot records from the stack.
constexpr size_t kSmallOrder = 32;

// The modulus of the product of U's diagonal, multiplied up from (0, 0) in complex double
// arithmetic.
double determinantModulus(const aMatrix* lu) {
  const PartView re = realPart(lu), im = imagPart(lu);
  double productRe = re(0, 0), productIm = im(0, 0);
  for (int32_t k = 1; k < lu->rows; ++k) {
    const double nextRe = productRe * re(k, k) - productIm * im(k, k);
    const double nextIm = productRe * im(k, k) + productIm * re(k, k);
    productRe = nextRe;
    productIm = nextIm;
  }
  return fpu::complexModulus(productRe, productIm);
}

}  // namespace

Anyval* inv(UfnCallContext* ctx, Anyval* v) {
  return guarded(ctx, [&]() -> Anyval* {
    switch (v->tag) {
      case kTagMatrix:
        return asValue(inv(ctx, as<aMatrix>(v)));
      case kTagFunction:
      case kTagFunction2:
      case kTagOpaque:
        return mkError(ctx, msg::kIllegalContext, 1, 0);
      default:
        return mkError(ctx, msg::kMustBeArray, 1, 0);
    }
  });
}

aMatrix* inv(UfnCallContext* ctx, aMatrix* m) {
  if (Anyval* error = Require(ctx, m, 0).notNested().square().error()) {
    return inPlaceOf<aMatrix>(error);
  }
  aMatrix* inverse = nullptr;
  const char* failure = m->im ? cinv(ctx, m, &inverse, true) : inv(ctx, m, &inverse, true);
  if (failure) return inPlaceOf<aMatrix>(errorValue(ctx, failure, 0));
  return inverse;
}

const char* inv(UfnCallContext* ctx, aMatrix* m, aMatrix** out, bool check) {
  *out = nullptr;
  if (!m->re) return msg::kUnknownError;
  if (m->rows < 1 || m->cols < 1) return msg::kInvalidDimension;
  if (m->rows != m->cols) return msg::kMustBeSquare;
  const int32_t n = m->rows;

  TempMatrix inverse(ctx, newHostMatrix(ctx, n, n));
  if (!inverse) return msg::kOutOfMemory;
  heap::Scratch<double, kSmallOrder> pivots(n);
  if (!pivots) return msg::kOutOfMemory;
  WorkingCopy copy(ctx, m, false);
  if (copy.failure()) return copy.failure();

  double sign;
  const Interrupt stop(ctx);
  if (const char* failure = lud(copy.get(), pivots.get(), &sign, check, stop)) return failure;
  if (const char* failure = lud_inverse(copy.get(), pivots.get(), inverse->re, stop)) {
    return failure;
  }
  embedded::keepNumbers(inverse->re, elementCount(inverse.get()));
  *out = inverse.handOver();
  return nullptr;
}

const char* cinv(UfnCallContext* ctx, aMatrix* m, aMatrix** out, bool check) {
  *out = nullptr;
  if (m->rows < 1 || m->cols < 1) return msg::kInvalidDimension;
  if (m->rows != m->cols) return msg::kMustBeSquare;
  const int32_t n = m->rows;

  TempMatrix inverse(ctx, newHeapMatrix(ctx, n, n, Fill::kUndefined, Fill::kUndefined));
  if (!inverse) return msg::kOutOfMemory;
  heap::Scratch<double, kSmallOrder> pivots(n);
  if (!pivots) return msg::kOutOfMemory;
  std::fill(pivots.get(), pivots.get() + n, 0.0);
  WorkingCopy copy(ctx, m, true);
  if (copy.failure()) return copy.failure();

  double sign;
  const Interrupt stop(ctx);
  if (const char* failure = clud(copy.get(), pivots.get(), sign, check, stop)) return failure;
  const double determinant = determinantModulus(copy.get());
  if (determinant == 0.0 || std::isnan(determinant)) return msg::kSingularMatrix;
  if (const char* failure =
          clud_inverse(copy.get(), pivots.get(), inverse->re, inverse->im, stop)) {
    return failure;
  }
  embedded::keepNumbers(inverse->re, elementCount(inverse.get()));
  *out = inverse.handOver();
  return nullptr;
}
