// cholesky(M): the lower triangular L with positive diagonal and L L^T = M, for a real
// symmetric positive definite matrix M.
//
//   cholesky([4])                 = [2]
//   cholesky([4, 2; 2, 3])        = [2, 0; 1, 1.4142135623730951]
//   cholesky([4, 2; 999, 3])      = the same: the lower triangle is not read
//   cholesky([1, 2; 2, 1])        -> "non-positive definite matrix"
//
// Only M's diagonal and upper triangle are read: M is taken to be symmetric. The result
// is a copy of M factored in place, its strict upper triangle cleared.
#include <cmath>

#include "linalg/kernels.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/interrupt.h"
#include "pack/ownership.h"

namespace {

// Copies the strict upper triangle onto the lower one: a(r, c) = a(c, r) for r > c.
void mirrorUpperTriangle(PartView a, int32_t n) {
  for (int32_t c = 0; c < n; ++c) {
    for (int32_t r = c + 1; r < n; ++r) a(r, c) = a(c, r);
  }
}

// a(i, i) minus the squares of row i's factor entries left of the diagonal, in turn.
double diagonalRemainder(PartView a, int32_t i) {
  double s = a(i, i);
  for (int32_t k = 0; k < i; ++k) s -= a(i, k) * a(i, k);
  return s;
}

// Column i of L below the diagonal: a(j, i) loses a(j, k) a(i, k) for k = 0 .. i-1 in
// turn and is divided by the diagonal entry d.
void factorColumn(PartView a, int32_t i, int32_t n, double d) {
  double* column = a.column(i) + i + 1;
  for (int32_t k = 0; k < i; ++k) {
    linalg::subtractMultiple(column, a.column(k) + i + 1, a(i, k), n - i - 1);
  }
  linalg::divideColumn(column, {d}, n - i - 1);
}

// Puts the diagonal in place and clears the strict upper triangle.
void finishFactor(PartView a, int32_t n, const double* diagonal) {
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = 0; i < j; ++i) a(i, j) = 0.0;
    a(j, j) = diagonal[j];
  }
}

// Factors the symmetric matrix in the lower triangle of `a` (the diagonal and the strict
// lower triangle are read) into L L^T in place: L(i, i) = sqrt(a(i, i) - sum of
// L(i, k)^2), L(j, i) = (a(j, i) - sum of L(j, k) L(i, k)) / L(i, i), sums over k < i
// subtracted in turn. A diagonal remainder that is not positive gives
// "non-positive definite matrix"; no scratch gives "out of memory"; the user's request to
// stop, asked once per column, "interrupted".
const char* cholesky_factor(aMatrix* m, const Interrupt& stop) {
  const int32_t n = m->rows;
  heap::Array<double> diagonal(n);
  if (!diagonal) return msg::kOutOfMemory;
  const PartView a = realPart(m);
  for (int32_t i = 0; i < n; ++i) {
    if (stop.requested()) return msg::kInterrupted;
    const double s = diagonalRemainder(a, i);
    if (!(s > 0.0)) return msg::kNonPositiveDefinite;
    diagonal[i] = std::sqrt(s);
    factorColumn(a, i, n, diagonal[i]);
  }
  finishFactor(a, n, diagonal.get());
  return nullptr;
}

Anyval* factor(UfnCallContext* ctx, aMatrix* m) {
  TempMatrix copy(ctx);
  if (const char* failure = matrix_copy(ctx, m, copy.out())) return errorValue(ctx, failure, 0);
  if (!copy->re) return errorValue(ctx, msg::kNonPositiveDefinite, 0);
  mirrorUpperTriangle(realPart(copy.get()), m->rows);
  if (const char* failure = cholesky_factor(copy.get(), Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }
  return asValue(copy.handOver());
}

}  // namespace

Anyval* worksheet::cholesky(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).matrix().square().real().notNested().error()) {
    return error;
  }
  return factor(ctx, as<aMatrix>(m));
}
