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
// zero in P). Pivoting is scaled (see linalg/lu.h); only exactly zero pivots fail. M is
// copied into the result's U block, factored there, and split into L and U in place.
#include <algorithm>
#include <cstring>

#include "host/embedded.h"
#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/ownership.h"

namespace {

// Orders up to this take their scratch from the stack.
constexpr size_t kSmallOrder = 32;

// The result's three n x n blocks side by side, each part array n rows high.
struct Blocks {
  int32_t n;
  double* re;
  double* im;
  PartView part(double* array, int block) const { return {array + ptrdiff_t{block} * n * n, n}; }
};
enum Block { kP = 0, kL = 1, kU = 2 };

// M into block U, both parts (zeros for a part M has not): the copy the factorisation works
// on, in place.
void copyIntoU(const aMatrix* m, const Blocks& result) {
  const int32_t n = result.n;
  for (auto [from, to] : {std::pair{realPart(m), result.part(result.re, kU)},
                          std::pair{imagPart(m), result.part(result.im, kU)}}) {
    for (int32_t j = 0; j < n; ++j) {
      double* column = to.column(j);
      if (from) {
        std::memcpy(column, from.column(j), sizeof(double) * size_t(n));
      } else {
        std::fill(column, column + n, 0.0);
      }
    }
  }
}

// Factors block U: lud for a real M (its real part only), clud for a complex one; pivots
// come back 0-based.
const char* factor(const Blocks& result, bool complex, double* pivots, const Interrupt& stop) {
  const int32_t n = result.n;
  const PartView re = result.part(result.re, kU), im = result.part(result.im, kU);
  aMatrix packed{kTagMatrix, n, partBytes(n, n), 0, re.data(), complex ? im.data() : nullptr, n, n,
                 1,          0};
  double sign;
  if (!complex) return lud(&packed, pivots, &sign, false, stop);
  const char* failure = clud(&packed, pivots, sign, false, stop);
  if (!failure) {
    for (int32_t k = 0; k < n; ++k) pivots[k] -= 1.0;
  }
  return failure;
}

// Moves one part of the packed factors in block U apart: below the diagonal into L, the
// diagonal and above staying in U with zeros below; L's diagonal is `unit` (1 in the real
// part, 0 in the imaginary part) and zeros above it.
void splitPart(PartView u, PartView l, int32_t n, double unit) {
  for (int32_t j = 0; j < n; ++j) {
    double* lj = l.column(j);
    double* uj = u.column(j);
    std::fill(lj, lj + j, 0.0);
    lj[j] = unit;
    std::copy(uj + j + 1, uj + n, lj + j + 1);
    std::fill(uj + j + 1, uj + n, 0.0);
  }
}

// P = the permutation that takes M's rows to L U's: row i of P M is row order[i] of M,
// `order` being n entries of scratch. Block P, both parts, is zero but for the ones.
void setPermutation(const Blocks& result, const double* pivots, int32_t* order) {
  const int32_t n = result.n;
  const PartView re = result.part(result.re, kP), im = result.part(result.im, kP);
  std::fill(re.data(), re.data() + ptrdiff_t{n} * n, 0.0);
  std::fill(im.data(), im.data() + ptrdiff_t{n} * n, 0.0);
  linalg::rowOrder(pivots, 0, n, order);
  for (int32_t i = 0; i < n; ++i) re(i, order[i]) = 1.0;
}

// The factors built straight into the joined result's arrays.
Anyval* factors(UfnCallContext* ctx, aMatrix* m) {
  const int32_t n = m->rows;
  heap::Scratch<double, kSmallOrder> pivots(n);
  heap::Scratch<int32_t, kSmallOrder> order(n);
  if (!pivots || !order) return outOfMemoryValue();
  std::fill(pivots.get(), pivots.get() + n, 0.0);
  TempMatrix joined(ctx, newHostMatrix(ctx, n, 3 * n, 2));
  if (!joined) return outOfMemoryValue();

  const Blocks result{n, joined->re, joined->im};
  copyIntoU(m, result);
  const bool complex = m->im != nullptr;
  if (const char* failure = factor(result, complex, pivots.get(), Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }
  splitPart(result.part(result.re, kU), result.part(result.re, kL), n, 1.0);
  splitPart(result.part(result.im, kU), result.part(result.im, kL), n, 0.0);
  setPermutation(result, pivots.get(), order.get());
  embedded::keepNumbers(joined->re, elementCount(joined.get()));
  return asValue(joined.handOver());
}

}  // namespace

Anyval* worksheet::lu(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).blame(0, 0).matrix().square().notNested().error()) {
    return error;
  }
  return factors(ctx, as<aMatrix>(m));
}
