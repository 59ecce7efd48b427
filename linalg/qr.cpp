// qr(M): the factorisation M = Q R of a real m x n matrix by plane rotations, as one
// m x (m + n) matrix [Q | R] with Q orthogonal and R in row-echelon (staircase) form.
//
//   qr([5])            = [1 | 5]
//   qr([-5])           = [1 | -5]            R keeps its signs
//   qr([0; 3])         = [0, -1 | 3;
//                         1,  0 | 0]
//   qr([1, 2; 2, 4])   R's second row is exactly zero (rank 1)
//   qr([1i])           -> "must be real"
//
// The rotations are gathered in G, which starts as the identity and ends as Q^T. The
// result carries an imaginary part (all zero), which the accumulator has from the start.
//
// Speed: a step's rotations are all fixed by its own column, so R and G need not get them
// one by one across all their columns. The steps run in blocks: each step first brings
// its own column up to date with the block's earlier rotations, then reduces it; when the
// block is complete, every other column of R and every column of G gets the block's
// rotations, one column after another, down contiguous memory. Each element goes through
// the same rotations in the same order as when every rotation sweeps all columns at once.
#include "linalg/qr.h"

#include <cmath>

#include "array/array.h"
#include "host/part_view.h"
#include "linalg/givens.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/interrupt.h"
#include "pack/ownership.h"

namespace {

using linalg::RotationBlock;

constexpr double kEpsilon = 2.220446049250313e-16;  // 2^-52
// The steps whose rotations the rest of R and G get together.
constexpr int32_t kBlockSteps = 16;

// The Euclidean norm of x(0 .. n-1), relative to its largest magnitude so that no square
// overflows or vanishes.
double euclideanNorm(const double* x, int32_t n) {
  double largest = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    if (std::fabs(x[i]) > largest) largest = std::fabs(x[i]);
  }
  if (largest == 0.0) return 0.0;
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double y = x[i] / largest;
    sum += y * y;
  }
  return largest * std::sqrt(sum);
}

// Rotates the pairs of rows (p, p + 1) of the column x, p from m-2 down to r, each pair
// whose lower entry reaches tol in magnitude, and appends the rotations to the block's
// newest sequence. True when some pair was rotated.
bool reduceColumn(double* x, int32_t m, int32_t r, double tol, RotationBlock& block) {
  bool rotated = false;
  for (int32_t p = m - 2; p >= r; --p) {
    if (!(std::fabs(x[p + 1]) >= tol)) continue;
    double c, s;
    givens(x[p], x[p + 1], &c, &s);
    rotatePair(c, s, x[p], x[p + 1]);
    block.add(p, c, s);
    rotated = true;
  }
  return rotated;
}

// Reduces R column by column into the staircase, rotating G along with it. `work` is the
// m x 1 column each step's tolerance is taken from.
const char* triangularise(UfnCallContext* ctx, aMatrix* R, aMatrix* G, aMatrix* work) {
  const int32_t m = R->rows, n = R->cols;
  RotationBlock block(kBlockSteps, m);
  // The columns that get a whole block's rotations at once.
  heap::Array<double*> columns(size_t(n) + size_t(m));
  if (!block || !columns) return msg::kOutOfMemory;
  const PartView r = realPart(R), g = realPart(G);
  const Interrupt stop(ctx);
  int32_t staircase = 0;  // the rows already in the staircase
  int32_t j = 0;
  while (j < n && staircase < m) {
    // The block's step t reduces column first + t and leaves sequence t (empty for a zero
    // column).
    const int32_t first = j;
    block.clear();
    for (; j < n && staircase < m && block.size() < kBlockSteps; ++j) {
      if (stop.requested()) return msg::kInterrupted;
      double* x = r.column(j);
      block.apply(0, block.size(), &x, 1);
      block.begin();
      if (const char* failure = MtoVcol(R, j, work)) return failure;
      const double norm = euclideanNorm(work->re, m);
      if (norm == 0.0) continue;
      const double tol = norm * kEpsilon * (j + 1) / std::sqrt(double(m - staircase));
      const bool leading = std::fabs(work->re[staircase]) >= tol;
      if (reduceColumn(x, m, staircase, tol, block) || leading) ++staircase;
      zero_col(j, staircase, R);
    }

    const int32_t steps = block.size();
    for (int32_t t = 0; t + 1 < steps; ++t) {
      double* x = r.column(first + t);
      block.apply(t + 1, steps, &x, 1);
    }
    int32_t count = 0;
    for (int32_t k = 0; k < n; ++k) {
      if (k < first || k >= j) columns[count++] = r.column(k);
    }
    for (int32_t k = 0; k < m; ++k) columns[count++] = g.column(k);
    block.apply(0, steps, columns.get(), count);
  }
  return nullptr;
}

}  // namespace

const char* qr_factor(UfnCallContext* ctx, aMatrix* m, aMatrix** q, aMatrix** r) {
  const int32_t rows = m->rows;
  TempMatrix R(ctx);
  if (const char* failure = matrix_copy(ctx, m, R.out())) return failure;
  TempMatrix G(ctx, newHeapMatrix(ctx, rows, rows, Fill::kZeros, Fill::kZeros));
  if (!G) return msg::kOutOfMemory;
  for (int32_t i = 0; i < rows; ++i) realPart(G.get())(i, i) = 1.0;
  {
    TempMatrix work(ctx, newHeapMatrix(ctx, rows, 1, Fill::kUndefined, Fill::kAbsent));
    if (!work) return msg::kOutOfMemory;
    // Without a real part every column is zero: there is nothing to rotate.
    if (R->re) {
      if (const char* failure = triangularise(ctx, R.get(), G.get(), work.get())) return failure;
    }
  }
  Anyval* transposed = transpose(ctx, G.get());
  if (transposed->tag != kTagMatrix) return as<aError>(transposed)->message->text;
  *q = as<aMatrix>(transposed);
  *r = R.handOver();
  return nullptr;
}

Anyval* worksheet::qr(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).patched().matrix().real().notNested().error()) {
    return error;
  }
  TempMatrix q(ctx), r(ctx);
  if (const char* failure = qr_factor(ctx, as<aMatrix>(m), q.out(), r.out())) {
    return errorValue(ctx, failure, 0);
  }
  Anyval* result = nullptr;
  pack_two_r(ctx, q.get(), r.get(), &result);
  return result;
}
