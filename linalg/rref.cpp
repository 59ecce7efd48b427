// rref(M): the reduced row-echelon form of a real m x n matrix, by Gauss-Jordan
// elimination with partial pivoting.
//
//   rref([2, 4; 1, 3])          = [1, 0; 0, 1]
//   rref([1, 2; 2, 4])          = [1, 2; 0, 0]         the pivot 2 is the larger entry
//   rref([1, 2, 3; 4, 5, 6])    = [1, 0, -1; 0, 1, 2]
//   rref([1e-17, 1; 0, 1])      = [1e-17, 1; 0, 0]     column 0 has no usable pivot
//   rref([1i])                  -> "must be real"
//
// Columns are examined from left to right. A column's pivot is its entry of largest
// magnitude among the rows not yet pivot rows (the topmost of equal ones); a column whose
// entries there are all at most the tolerance
//   tol = max(m, n) eps, times M's largest row sum of magnitudes (normi) when M is
//         square, and at most 1e-10
// is passed over, its entries left as they are. Otherwise the pivot's row is exchanged into
// the next pivot row i, divided by the pivot (multiplied by its reciprocal) and subtracted
// from every other row so that the pivot becomes exactly 1 and the rest of its column
// exactly 0; the other columns change only to the right of the pivot column.
//
// Speed: a step changes a column to the right of its pivot column by the column's own
// entry in the pivot row and the pivot column's entries, so the columns not yet examined
// need the steps only when they are. The steps run in blocks: a column gets the block's
// steps so far just before it is examined, and once the block is complete the rest of the
// columns get all of them, one column after another, each staying in the cache while it
// does. Every element goes through the same operations in the same order as when each
// step sweeps the whole matrix.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "host/embedded.h"
#include "host/part_view.h"
#include "linalg/kernels.h"
#include "linalg/norms.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/interrupt.h"
#include "pack/ownership.h"

namespace {

constexpr double kEpsilon = 2.220446049250313e-16;  // 2^-52
constexpr double kLargestTolerance = 1e-10;
// The steps a block holds.
constexpr int32_t kBlockSteps = 32;

// The work table: M's real part as n columns of m doubles, and room for the pivot columns
// of one block of steps.
struct Table {
  int32_t m, n;
  heap::Array<double> block;
  heap::Array<double*> columns;

  Table(int32_t m, int32_t n)
      : m(m), n(n), block((size_t(n) + kBlockSteps) * size_t(m)), columns(size_t(n) + kBlockSteps) {
    if (!*this) return;
    for (int32_t c = 0; c < n + kBlockSteps; ++c) columns[c] = block.get() + ptrdiff_t{c} * m;
  }
  explicit operator bool() const { return block && columns; }
  double* column(int32_t c) const { return columns[c]; }
  // The copy of pivot column k of the current block, taken when step k was made.
  double* multipliers(int32_t k) const { return columns[n + k]; }
};

// One elimination step as the columns right of its pivot column get it: exchange rows p
// and i, multiply row i by the pivot's reciprocal, subtract multiplier times row i from
// every other row.
struct Step {
  int32_t i, p;
  double reciprocal;
  const double* multipliers;  // the pivot column after the exchange

  void applyTo(double* x, int32_t m) const {
    std::swap(x[p], x[i]);
    const double y = x[i] * reciprocal;
    x[i] = y;
    linalg::subtractMultiple(x, multipliers, y, i);
    linalg::subtractMultiple(x + i + 1, multipliers + i + 1, y, m - i - 1);
  }
};

// Step s and the step t after it (t.i = s.i + 1) in one pass over most of x. Rows t.i and
// t.p, which t exchanges, and row s.i, t's first to take s's pivot row, are done on their
// own; every other row loses s's multiple and then t's.
void applyPair(const Step& s, const Step& t, double* x, int32_t m) {
  std::swap(x[s.p], x[s.i]);
  const double ys = x[s.i] * s.reciprocal;
  x[s.i] = ys;
  x[t.i] -= s.multipliers[t.i] * ys;
  if (t.p != t.i) x[t.p] -= s.multipliers[t.p] * ys;
  std::swap(x[t.p], x[t.i]);
  const double yt = x[t.i] * t.reciprocal;
  x[t.i] = yt;
  x[s.i] -= t.multipliers[s.i] * yt;
  if (t.p != t.i) x[t.p] -= t.multipliers[t.p] * yt;
  auto both = [&](int32_t from, int32_t to) {
    if (to > from) {
      linalg::subtractTwoMultiples(x + from, s.multipliers + from, ys, t.multipliers + from, yt,
                                   to - from);
    }
  };
  both(0, s.i);
  both(t.i + 1, t.p);  // empty when t exchanges nothing (t.p = t.i)
  both(t.p + 1, m);
}

// Steps 0 .. count-1, in order, two at a time.
void applySteps(const Step* steps, int32_t count, double* x, int32_t m) {
  int32_t k = 0;
  for (; k + 1 < count; k += 2) applyPair(steps[k], steps[k + 1], x, m);
  if (k < count) steps[k].applyTo(x, m);
}

// Reduces the table in place with tolerance tol. Returns "interrupted" when the user asked
// to stop (asked before each column is examined), else null.
const char* rref_reduce(const Table& t, double tol, const Interrupt& stop) {
  const int32_t m = t.m, n = t.n;
  if (m < 1) return nullptr;
  Step steps[kBlockSteps];
  int32_t i = 0;  // the next pivot row
  int32_t j = 0;  // the columns examined so far; those from j on may lack the block's steps
  bool finished = false;
  while (!finished) {
    int32_t taken = 0;
    while (!finished && taken < kBlockSteps) {
      // Pivot search: the first column, from j on, with an entry above tol in rows i on.
      double big = 0.0;
      int32_t p = i, pivotColumn = -1;
      while (j < n && pivotColumn < 0) {
        if (stop.requested()) return msg::kInterrupted;
        double* x = t.column(j);
        applySteps(steps, taken, x, m);
        for (int32_t r = i; r < m; ++r) {
          if (std::fabs(x[r]) > big) big = std::fabs(x[r]), p = r;
        }
        if (big > tol) pivotColumn = j;
        ++j;
      }
      if (pivotColumn < 0) {
        finished = true;
        break;
      }
      // The examined columns take the exchange now; the others with the rest of the step.
      if (p != i) {
        for (int32_t c = 0; c < j; ++c) std::swap(t.column(c)[p], t.column(c)[i]);
      }
      double* pivot = t.column(pivotColumn);
      double* multipliers = t.multipliers(taken);
      std::memcpy(multipliers, pivot, sizeof(double) * size_t(m));
      steps[taken++] = {i, p, 1.0 / pivot[i], multipliers};
      std::fill(pivot, pivot + m, 0.0);
      pivot[i] = 1.0;
      if (i == m - 1) finished = true;
      ++i;
    }
    for (int32_t c = j; c < n; ++c) applySteps(steps, taken, t.column(c), m);
  }
  return nullptr;
}

// max(m, n) eps, times M's largest row sum of magnitudes when M is square; at most 1e-10.
double tolerance(const aMatrix* m) {
  double tol = std::max(m->rows, m->cols) * kEpsilon;
  if (m->rows == m->cols) {
    double norm;
    normi(m, &norm);
    tol *= norm;
  }
  if (tol > kLargestTolerance) tol = kLargestTolerance;
  return tol;
}

Anyval* reduce(UfnCallContext* ctx, aMatrix* m) {
  const int32_t rows = m->rows, cols = m->cols;
  const Interrupt stop(ctx);
  const Table table(rows, cols);
  if (!table) return errorValue(ctx, msg::kOutOfMemory, 0);
  const PartView re = realPart(m);
  for (int32_t c = 0; c < cols; ++c) {
    if (stop.requested()) return errorValue(ctx, msg::kInterrupted, 0);
    std::copy(re.column(c), re.column(c) + rows, table.column(c));
  }
  if (const char* failure = rref_reduce(table, tolerance(m), stop)) {
    return errorValue(ctx, failure, 0);
  }
  heap::Array<double> result(size_t(rows) * size_t(cols)), none;
  if (!result) return outOfMemoryValue();
  for (int32_t c = 0; c < cols; ++c) {
    std::copy(table.column(c), table.column(c) + rows, result.get() + ptrdiff_t{c} * rows);
  }
  embedded::keepNumbers(result.get(), size_t(rows) * size_t(cols));
  return resultMatrix(ctx, rows, cols, result, none);
}

}  // namespace

Anyval* worksheet::rref(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).matrix().error()) return error;
  aMatrix* a = as<aMatrix>(m);
  // Nothing to reduce.
  if (!a->re && !a->im) return m;
  if (Anyval* error = Require(ctx, m, 1).real().notNested().error()) return error;
  return reduce(ctx, a);
}
