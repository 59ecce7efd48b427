// lu(M): the LU factorisation of a square real or complex matrix with row pivoting, as
// one matrix joining the permutation P, the unit lower triangular L and the upper
// triangular U side by side, with P M = L U.
//
//   lu([[4]])                = [1 | 1 | 4]
//   lu([[0, 1], [1, 0]])     = [0, 1 | 1, 0 | 1, 0]
//                              [1, 0 | 0, 1 | 0, 1]
//   lu([[1, 2], [2, 4]])     -> "singular matrix"
//   lu([[1, 2, 3]])          -> "must be square"
//
// The result is n x 3n and always has imaginary parts (all zero for a real M, and always
// zero in P). Pivoting is scaled (see linalg/lu.h); only exactly zero pivots fail.
#include <algorithm>

#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "pack/entries.h"
#include "pack/heap.h"
#include "pack/host_values.h"
#include "pack/messages.h"

namespace {

// A new n x n host matrix with zeroed real and imaginary arrays from the pack's heap, or
// null when there is no memory.
aMatrix* zeroMatrix(UfnCallContext* ctx, int32_t n) {
  const size_t count = size_t(n) * size_t(n);
  heap::Array<double> re(count, true), im(count, true);
  if (!re || !im) return nullptr;
  aMatrix* m =
      aMatrix::mk(ctx->allocator, n, n, re.get(), im.get(), uint32_t(count * sizeof(double)));
  if (m) {
    re.handOver();
    im.handOver();
  }
  return m;
}

// A working copy of m with both part arrays.
const char* complexCopy(UfnCallContext* ctx, aMatrix* m, aMatrix** out) {
  if (m->re && m->im) return matrix_copy(ctx, m, out);
  if (m->im) return matrix_copy_add_real(ctx, m, out);
  return matrix_copy_add_imag(ctx, m, out);
}

// Factors the copy: lud for a real M, clud for a complex one; pivots come back 0-based.
const char* factor(aMatrix* copy, bool complex, double* pivots) {
  double sign;
  if (!complex) return lud(copy, pivots, &sign, false);
  const char* failure = clud(copy, pivots, sign, false);
  if (!failure) {
    for (int32_t k = 0; k < copy->rows; ++k) pivots[k] -= 1.0;
  }
  return failure;
}

// Splits one part of the packed factors: below the diagonal into L, the diagonal and
// above into U. L and U are zero on entry.
void splitPart(PartView factors, PartView l, PartView u, int32_t n) {
  for (int32_t j = 0; j < n; ++j) {
    std::copy(factors.column(j), factors.column(j) + j + 1, u.column(j));
    std::copy(factors.column(j) + j + 1, factors.column(j) + n, l.column(j) + j + 1);
  }
}

void setUnitDiagonal(PartView l, int32_t n) {
  for (int32_t j = 0; j < n; ++j) l(j, j) = 1.0;
}

// P = the permutation that takes M's rows to L U's: row i of P M is row order[i] of M,
// `order` being n entries of scratch. P is zero on entry.
void setPermutation(PartView p, const double* pivots, int32_t n, int32_t* order) {
  linalg::rowOrder(pivots, 0, n, order);
  for (int32_t i = 0; i < n; ++i) p(i, order[i]) = 1.0;
}

Anyval* lu(UfnCallContext* ctx, aMatrix* m) {
  if (m->rows != m->cols) return errorValue(ctx, msg::kMustBeSquare, 1);
  if (m->nested()) return errorValue(ctx, msg::kMayNotBeNested, 1);
  const int32_t n = m->rows;

  heap::Array<double> pivots(n, true);
  heap::Array<int32_t> order(n);
  if (!pivots || !order) return outOfMemoryValue();
  TempMatrix l(ctx, zeroMatrix(ctx, n));
  if (!l) return outOfMemoryValue();
  TempMatrix u(ctx, zeroMatrix(ctx, n));
  if (!u) return outOfMemoryValue();
  TempMatrix p(ctx, zeroMatrix(ctx, n));
  if (!p) return outOfMemoryValue();

  TempMatrix copy(ctx);
  if (const char* failure = complexCopy(ctx, m, copy.out())) return errorValue(ctx, failure, 0);
  const bool complex = m->im != nullptr;
  if (const char* failure = factor(copy.get(), complex, pivots.get())) {
    return errorValue(ctx, failure, 0);
  }

  splitPart(realPart(copy.get()), realPart(l.get()), realPart(u.get()), n);
  if (complex) splitPart(imagPart(copy.get()), imagPart(l.get()), imagPart(u.get()), n);
  setUnitDiagonal(realPart(l.get()), n);
  setPermutation(realPart(p.get()), pivots.get(), n, order.get());

  Anyval* result = nullptr;
  pack_three_c(ctx, p.get(), l.get(), u.get(), &result);
  return result;
}

}  // namespace

Anyval* lu(UfnCallContext* ctx, Anyval* m) {
  if (!isMatrix(m)) return errorValue(ctx, msg::kMustBeArray, 0);
  return lu(ctx, as<aMatrix>(m));
}
