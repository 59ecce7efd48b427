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
// copied into the result's U block, factored there, and its multipliers moved to L.
#include <algorithm>

#include "host/embedded.h"
#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "linalg/working_matrices.h"
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

// Block U holds M's parts (zeros for a part M has not), blocks P and L zeros: the copy the
// factorisation works on, in place, and the blocks the factors are then moved to.
void startBlocks(const aMatrix* m, const Blocks& result) {
  const int32_t n = result.n;
  aMatrix u{kTagMatrix,
            n,
            partBytes(n, n),
            0,
            result.part(result.re, kU).data(),
            result.part(result.im, kU).data(),
            n,
            n,
            1,
            0};
  copyParts(m, &u);
  std::fill_n(result.re, 2 * ptrdiff_t{n} * n, 0.0);
  std::fill_n(result.im, 2 * ptrdiff_t{n} * n, 0.0);
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

// Moves L's multipliers from below the diagonal of block U into block L, leaving zeros, and
// puts L's unit diagonal in; the imaginary parts only for a complex M (a real one's are all
// zero already).
void splitFactors(const Blocks& result, bool complex) {
  const int32_t n = result.n;
  auto moveMultipliers = [&](double* part) {
    const PartView u = result.part(part, kU), l = result.part(part, kL);
    for (int32_t j = 0; j < n; ++j) {
      for (int32_t i = j + 1; i < n; ++i) {
        l(i, j) = u(i, j);
        u(i, j) = 0.0;
      }
    }
  };
  moveMultipliers(result.re);
  if (complex) moveMultipliers(result.im);
  const PartView l = result.part(result.re, kL);
  for (int32_t j = 0; j < n; ++j) l(j, j) = 1.0;
}

// The ones of P, the permutation that takes M's rows to L U's: row i of P M is row
// order[i] of M, `order` being n entries of scratch.
void setPermutation(const Blocks& result, const double* pivots, int32_t* order) {
  const int32_t n = result.n;
  const PartView p = result.part(result.re, kP);
  linalg::rowOrder(pivots, 0, n, order);
  for (int32_t i = 0; i < n; ++i) p(i, order[i]) = 1.0;
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
  startBlocks(m, result);
  const bool complex = m->im != nullptr;
  if (const char* failure = factor(result, complex, pivots.get(), Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }
  splitFactors(result, complex);
  setPermutation(result, pivots.get(), order.get());
  // P holds only zeros and ones.
  embedded::keepNumbers(result.part(result.re, kL).data(), 2 * size_t(n) * size_t(n));
  return asValue(joined.handOver());
}

}  // namespace

Anyval* worksheet::lu(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).blame(0, 0).matrix().square().notNested().error()) {
    return error;
  }
  return factors(ctx, as<aMatrix>(m));
}
