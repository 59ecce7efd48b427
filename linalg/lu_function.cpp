// lu(M): the LU factorisation of a square real or complex matrix with row pivoting, as
// one matrix joining the permutation P, the unit lower triangular L and the upper
// triangular U side by side, with P M = L U.
//
//   lu([4])              = [1 | 1 | 4]                        (P | L | U)
//   lu([0, 1; 1, 0])     = [0, 1 | 1, 0 | 1, 0;
//                           1, 0 | 0, 1 | 0, 1]
//   lu([2, 1; 10, 100])  = [1, 0 | 1, 0 | 2, 1;                  row 0 stays: 2 is large
//                           0, 1 | 5, 1 | 0, 95]                 for its row, 10 is not
//   lu([1, 2; 2, 4])     -> "singular matrix"
//   lu([1, 2, 3])        -> "must be square"
//
// The result is n x 3n and always has imaginary parts (all zero for a real M, and always
// zero in P). Pivoting is scaled (see linalg/lu.h); only exactly zero pivots fail.
#include <algorithm>

#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "linalg/working_matrices.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/ownership.h"

namespace {

// Factors the copy: lud for a real M, clud for a complex one; pivots come back 0-based.
const char* factor(aMatrix* copy, bool complex, double* pivots, const Interrupt& stop) {
  double sign;
  if (!complex) return lud(copy, pivots, &sign, false, stop);
  const char* failure = clud(copy, pivots, sign, false, stop);
  if (!failure) {
    for (int32_t k = 0; k < copy->rows; ++k) pivots[k] -= 1.0;
  }
  return failure;
}

// Splits one part of the packed factors into L and U, writing every element of both:
// below the diagonal into L, the diagonal and above into U, zeros elsewhere; L's diagonal
// is `unit` (1 in the real part, 0 in the imaginary part).
void splitPart(PartView factors, PartView l, PartView u, int32_t n, double unit) {
  for (int32_t j = 0; j < n; ++j) {
    const double* f = factors.column(j);
    double* lj = l.column(j);
    double* uj = u.column(j);
    std::fill(lj, lj + j, 0.0);
    lj[j] = unit;
    std::copy(f + j + 1, f + n, lj + j + 1);
    std::copy(f, f + j + 1, uj);
    std::fill(uj + j + 1, uj + n, 0.0);
  }
}

// P = the permutation that takes M's rows to L U's: row i of P M is row order[i] of M,
// `order` being n entries of scratch. P is zero on entry.
void setPermutation(PartView p, const double* pivots, int32_t n, int32_t* order) {
  linalg::rowOrder(pivots, 0, n, order);
  for (int32_t i = 0; i < n; ++i) p(i, order[i]) = 1.0;
}

Anyval* factors(UfnCallContext* ctx, aMatrix* m) {
  const int32_t n = m->rows;

  heap::Array<double> pivots(n, true);
  heap::Array<int32_t> order(n);
  if (!pivots || !order) return outOfMemoryValue();
  // L and U are written in full once the factors are known; their imaginary parts stay
  // zero for a real M. P is all zero but for its ones.
  const bool complex = m->im != nullptr;
  const Fill triangleIm = complex ? Fill::kUndefined : Fill::kZeros;
  TempMatrix l(ctx, newHeapMatrix(ctx, n, n, Fill::kUndefined, triangleIm));
  if (!l) return outOfMemoryValue();
  TempMatrix u(ctx, newHeapMatrix(ctx, n, n, Fill::kUndefined, triangleIm));
  if (!u) return outOfMemoryValue();
  TempMatrix p(ctx, newHeapMatrix(ctx, n, n, Fill::kZeros, Fill::kZeros));
  if (!p) return outOfMemoryValue();

  TempMatrix copy(ctx);
  if (const char* failure = complexCopy(ctx, m, copy.out())) return errorValue(ctx, failure, 0);
  if (const char* failure = factor(copy.get(), complex, pivots.get(), Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }

  splitPart(realPart(copy.get()), realPart(l.get()), realPart(u.get()), n, 1.0);
  if (complex) splitPart(imagPart(copy.get()), imagPart(l.get()), imagPart(u.get()), n, 0.0);
  setPermutation(realPart(p.get()), pivots.get(), n, order.get());

  Anyval* result = nullptr;
  pack_three_c(ctx, p.get(), l.get(), u.get(), &result);
  return result;
}

}  // namespace

Anyval* worksheet::lu(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).blame(0, 0).matrix().square().notNested().error()) {
    return error;
  }
  return factors(ctx, as<aMatrix>(m));
}
