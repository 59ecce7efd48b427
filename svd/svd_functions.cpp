// The worksheet functions of the singular value decomposition.
//
//   svds(A)      the singular values of a real m x n matrix (m >= n), a descending column
//                  svds([3, 0; 0, -4])          = [4; 3]
//   svd(A)       U over V: the (m + n) x n stack of the factors of A = U diag(svds(A)) V^T
//                  svd([5])                     = [-1; -1]
//   rank(A)      the number of singular values above max(m, n) * svds(A)[0] * 2^-52;
//                a wide matrix is transposed first
//                  rank([1, 2; 2, 4])           = 1
//   geninv(A)    the generalised inverse V diag(1 / w) U^T, singular values w <= TOL
//                dropped
//                  geninv([2, 0; 0, 0.001])     = [0.5, 0; 0, 0]   (TOL = 0.001: dropped)
//
// All of them refuse complex and nested matrices; a matrix with fewer rows than columns
// gives "number of rows less than number of columns" (rank excepted).
#include <algorithm>
#include <cmath>

#include "array/array.h"
#include "host/part_view.h"
#include "linalg/reflections.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"
#include "svd/svd.h"

namespace {

constexpr double kEpsilon = 2.220446049250313e-16;  // 2^-52

// Copies the real part of `from` (zeros when it has none) into the heap matrix `to` of
// the same shape.
void copyRealPart(const aMatrix* from, aMatrix* to) {
  const PartView source = realPart(from), target = realPart(to);
  for (int32_t j = 0; j < from->cols; ++j) {
    double* column = target.column(j);
    if (source) {
      std::copy(source.column(j), source.column(j) + from->rows, column);
    } else {
      std::fill(column, column + from->rows, 0.0);
    }
  }
}

// X = V U^T with V's columns already divided by their singular values (or cleared): X's
// column j gains V's column k times U(j, k) for k = 0 .. n-1 in turn, which forms each
// X(i, j) as the running sum over k from 0.
const char* multiplyOut(PartView v, PartView u, int32_t m, int32_t n, PartView x,
                        const Interrupt& stop) {
  for (int32_t j = 0; j < m; ++j) {
    if (stop.requested()) return msg::kInterrupted;
    double* column = x.column(j);
    std::fill(column, column + n, 0.0);
    for (int32_t k = 0; k < n; ++k) linalg::addMultiple(column, v.column(k), u(j, k), n);
  }
  return nullptr;
}

}  // namespace

const char* pseudo_inverse(UfnCallContext* ctx, aMatrix* a, double tol, aMatrix** result,
                           const Interrupt& stop) {
  *result = nullptr;
  const int32_t m = a->rows, n = a->cols;
  TempMatrix x(ctx, newHeapMatrix(ctx, n, m, Fill::kUndefined, Fill::kAbsent));
  if (!x) return msg::kOutOfMemory;
  TempMatrix v(ctx, newHeapMatrix(ctx, n, n, Fill::kUndefined, Fill::kAbsent));
  if (!v) return msg::kOutOfMemory;
  TempMatrix w(ctx, newHeapMatrix(ctx, n, 1, Fill::kUndefined, Fill::kAbsent));
  if (!w) return msg::kOutOfMemory;
  if (const char* failure = svd_core(a, v.get(), w.get(), stop)) return failure;

  const PartView vv = realPart(v.get());
  for (int32_t i = 0; i < n; ++i) {
    double* column = vv.column(i);
    const double value = w->re[i];
    for (int32_t k = 0; k < n; ++k) column[k] = value <= tol ? 0.0 : column[k] / value;
  }
  if (const char* failure = multiplyOut(vv, realPart(a), m, n, realPart(x.get()), stop)) {
    return failure;
  }
  *result = x.handOver();
  return nullptr;
}

Anyval* rank(UfnCallContext* ctx, aMatrix* a) {
  if (Anyval* error = Require(ctx, a, 1).real().notNested().error()) return error;
  const int32_t m = a->rows, n = a->cols;
  TempMatrix working(ctx);
  if (m < n) {
    Anyval* transposed = transpose(ctx, a);
    if (!isMatrix(transposed)) return transposed;
    *working.out() = as<aMatrix>(transposed);
  } else if (const char* failure = matrix_copy_add_real(ctx, a, working.out())) {
    return errorValue(ctx, failure, 0);
  }
  // Transposed from a matrix without parts: all zeros.
  if (!working->re) return scalarValue(ctx, 0.0);
  if (const char* failure = svd_values(working.get(), Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }
  const PartView values = realPart(working.get());
  int32_t count = 0;
  const double largest = working->cols > 0 ? values(0, 0) : 0.0;
  if (largest != 0.0) {
    const double tol = std::max(m, n) * largest * kEpsilon;
    for (int32_t i = 0; i < working->cols; ++i) {
      if (std::fabs(values(i, i)) > tol) ++count;
    }
  }
  return scalarValue(ctx, count);
}

namespace worksheet {

Anyval* svds(UfnCallContext* ctx, Anyval* a) {
  if (Anyval* error = Require(ctx, a, 1).matrix().real().notNested().error()) return error;
  aMatrix* m = as<aMatrix>(a);
  TempMatrix copy(ctx);
  if (const char* failure = matrix_copy_add_real(ctx, m, copy.out())) {
    return errorValue(ctx, failure, 0);
  }
  if (const char* failure = svd_values(copy.get(), Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }
  const int32_t n = m->cols;
  HostArray values(ctx, size_t(n)), none;
  if (!values) return outOfMemoryValue();
  const PartView diagonal = realPart(copy.get());
  for (int32_t i = 0; i < n; ++i) values.get()[i] = diagonal(i, i);
  return resultMatrix(ctx, n, 1, values, none);
}

Anyval* svd(UfnCallContext* ctx, Anyval* a) {
  if (Anyval* error = Require(ctx, a, 1).matrix().real().notNested().error()) return error;
  const aMatrix* m = as<aMatrix>(a);
  const int32_t rows = m->rows, n = m->cols;
  TempMatrix u(ctx, newHeapMatrix(ctx, rows, n, Fill::kUndefined, Fill::kAbsent));
  if (!u) return outOfMemoryValue();
  TempMatrix v(ctx, newHeapMatrix(ctx, n, n, Fill::kUndefined, Fill::kAbsent));
  if (!v) return outOfMemoryValue();
  TempMatrix w(ctx, newHeapMatrix(ctx, n, 1, Fill::kUndefined, Fill::kAbsent));
  if (!w) return outOfMemoryValue();
  copyRealPart(m, u.get());
  if (const char* failure = svd_core(u.get(), v.get(), w.get(), Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }
  Anyval* result = nullptr;
  pack_two_rr(ctx, u.get(), v.get(), &result);
  return result;
}

Anyval* rank(UfnCallContext* ctx, Anyval* a) {
  if (Anyval* error = Require(ctx, a, 1).matrix().error()) return error;
  return ::rank(ctx, as<aMatrix>(a));
}

Anyval* geninv(UfnCallContext* ctx, Anyval* a, Anyval* tol) {
  if (Anyval* error = Require(ctx, a, 1).blame(0, 0).matrix().real().notNested().error()) {
    return error;
  }
  TempMatrix copy(ctx);
  if (const char* failure = matrix_copy_add_real(ctx, as<aMatrix>(a), copy.out())) {
    return errorValue(ctx, failure, 0);
  }
  aMatrix* inverse = nullptr;
  if (const char* failure =
          pseudo_inverse(ctx, copy.get(), as<aComplex>(tol)->re, &inverse, Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }
  return asValue(inverse);
}

}  // namespace worksheet
