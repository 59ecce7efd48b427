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

#include <cmath>

#include "host/part_view.h"
#include "linalg/lu.h"
#include "linalg/working_matrices.h"
#include "pack/fpguard.h"
#include "pack/guarded.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace {

// An error value where the matrix-level inv's caller expects the matrix.
aMatrix* inPlaceOfMatrix(aError* error) {
  return reinterpret_cast<aMatrix*>(error);
}

// A new real n x n host matrix over an array from the host allocator (contents
// undefined), or null when the host has no memory.
aMatrix* newRealMatrix(UfnCallContext* ctx, int32_t n) {
  const size_t count = size_t(n) * size_t(n);
  double* array = hostArray(ctx, count);
  if (!array) return nullptr;
  aMatrix* m = nullptr;
  try {
    m = aMatrix::mk(ctx->allocator, n, n, array, nullptr, uint32_t(count * sizeof(double)));
  } catch (...) {
    giveBackArray(ctx, array);
    throw;
  }
  if (!m) giveBackArray(ctx, array);
  return m;
}

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
  auto error = [&](const char* message) {
    return inPlaceOfMatrix(aError::mk(ctx->allocator, message, 0, 0, nullptr, nullptr));
  };
  if (m->nested()) return error(msg::kMayNotBeNested);
  if (m->rows != m->cols) return error(msg::kMustBeSquare);
  aMatrix* inverse = nullptr;
  const char* failure = m->im ? cinv(ctx, m, &inverse, true) : inv(ctx, m, &inverse, true);
  if (failure) return error(failure);
  return inverse;
}

const char* inv(UfnCallContext* ctx, aMatrix* m, aMatrix** out, bool check) {
  *out = nullptr;
  if (!m->re) return msg::kUnknownError;
  if (m->rows < 1 || m->cols < 1) return msg::kInvalidDimension;
  if (m->rows != m->cols) return msg::kMustBeSquare;
  const int32_t n = m->rows;

  TempMatrix inverse(ctx, newRealMatrix(ctx, n));
  if (!inverse) return msg::kOutOfMemory;
  heap::Array<double> pivots(n);
  if (!pivots) return msg::kOutOfMemory;
  TempMatrix copy(ctx);
  if (const char* failure = matrix_copy(ctx, m, copy.out())) return failure;

  double sign;
  if (const char* failure = lud(copy.get(), pivots.get(), &sign, check)) return failure;
  if (const char* failure = lud_inverse(copy.get(), pivots.get(), inverse->re)) return failure;
  *out = inverse.handOver();
  return nullptr;
}

const char* cinv(UfnCallContext* ctx, aMatrix* m, aMatrix** out, bool check) {
  *out = nullptr;
  if (m->rows < 1 || m->cols < 1) return msg::kInvalidDimension;
  if (m->rows != m->cols) return msg::kMustBeSquare;
  const int32_t n = m->rows;

  TempMatrix inverse(ctx, newComplexSquare(ctx, n));
  if (!inverse) return msg::kOutOfMemory;
  heap::Array<double> pivots(n, true);
  if (!pivots) return msg::kOutOfMemory;
  TempMatrix copy(ctx);
  if (const char* failure = complexCopy(ctx, m, copy.out())) return failure;

  double sign;
  if (const char* failure = clud(copy.get(), pivots.get(), sign, check)) return failure;
  const double determinant = determinantModulus(copy.get());
  if (determinant == 0.0 || std::isnan(determinant)) return msg::kSingularMatrix;
  if (const char* failure = clud_inverse(copy.get(), pivots.get(), inverse->re, inverse->im)) {
    return failure;
  }
  *out = inverse.handOver();
  return nullptr;
}
