// Condition numbers of square matrices: ||M|| ||M^-1|| in one of the norms.
//
//   cond1([2, 0; 0, 4])    = 2          the 1-norm
//   condi([2, 0; 0, 4])    = 2          the infinity norm
//   conde([2, 0; 0, 4])    = 2.5        the Frobenius norm: sqrt(20) sqrt(0.3125)
//   cond2([2, 0; 0, 4])    = 2          the 2-norm
//   cond1([1, 2; 2, 4])    -> "singular matrix"
//
// The inverse is the LU inverse with its near-singularity test on, so a nearly singular
// matrix is refused. cond2 of a real matrix is instead the ratio of its largest to its
// smallest singular value, and only an exactly zero smallest value makes it "singular
// matrix"; an ill-conditioned matrix gives a large number.
#include <cmath>

#include "host/part_view.h"
#include "linalg/inverse.h"
#include "linalg/norms.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"
#include "svd/svd.h"

namespace {

using Norm = const char* (*)(const aMatrix*, double*);

// ||m|| ||m^-1|| with `norm` (the real or the complex form, as m is).
template <class NormOf>
const char* byInverse(UfnCallContext* ctx, aMatrix* m, double* out, NormOf norm) {
  *out = 0.0;
  aMatrix* inverse = nullptr;
  const char* failure = m->im ? cinv(ctx, m, &inverse, true) : inv(ctx, m, &inverse, true);
  const TempMatrix held(ctx, inverse);
  if (failure) return failure;
  double a, b;
  if ((failure = norm(m, &a)) || (failure = norm(inverse, &b))) return failure;
  *out = a * b;
  return nullptr;
}

// The real matrix's largest singular value over its smallest; `copy` is destroyed.
const char* singularValueRatio(aMatrix* copy, double* out, const Interrupt& stop) {
  *out = 0.0;
  if (copy->cols < 1) return msg::kInvalidDimension;
  if (const char* failure = svd_values(copy, stop)) return failure;
  const PartView values = realPart(copy);
  const int32_t last = copy->cols - 1;
  if (values(last, last) == 0.0) return msg::kSingularMatrix;
  *out = std::fabs(values(0, 0) / values(last, last));
  return nullptr;
}

// A condition-number worker after its checks: the number as a real scalar.
Anyval* conditionValue(UfnCallContext* ctx, const char* failure, double value) {
  if (failure) return errorValue(ctx, failure, 0);
  return scalarValue(ctx, value);
}

// ||m|| ||m^-1|| with the norm's real or complex form, as m is.
Anyval* conditionByInverse(UfnCallContext* ctx, aMatrix* m, Norm real, Norm complex) {
  double value;
  const char* failure = byInverse(ctx, m, &value, m->im ? complex : real);
  return conditionValue(ctx, failure, value);
}

}  // namespace

namespace worksheet {

Anyval* cond1(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error =
          Require(ctx, m, 1).blame(0, 0).matrix().blame(1, 0).square().notNested().error()) {
    return error;
  }
  return conditionByInverse(ctx, as<aMatrix>(m), ::norm1, ::cnorm1);
}

Anyval* conde(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).blame(0, 0).matrix().square().notNested().error()) {
    return error;
  }
  return conditionByInverse(ctx, as<aMatrix>(m), ::norme, ::cnorme);
}

Anyval* condi(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).blame(0, 0).matrix().square().notNested().error()) {
    return error;
  }
  return conditionByInverse(ctx, as<aMatrix>(m), ::normi, ::cnormi);
}

Anyval* cond2(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).blame(0, 0).matrix().square().notNested().error()) {
    return error;
  }
  aMatrix* a = as<aMatrix>(m);
  TempMatrix copy(ctx);
  const char* failure =
      a->im ? matrix_copy(ctx, a, copy.out()) : matrix_copy_add_real(ctx, a, copy.out());
  if (failure) return errorValue(ctx, failure, 0);
  double value = 0.0;
  if (a->im) {
    failure = byInverse(ctx, copy.get(), &value,
                        [ctx](const aMatrix* x, double* out) { return cnorm2(ctx, x, out); });
  } else {
    failure = singularValueRatio(copy.get(), &value, Interrupt(ctx));
  }
  return conditionValue(ctx, failure, value);
}

}  // namespace worksheet
