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
#include <algorithm>
#include <cmath>
#include <type_traits>

#include "host/embedded.h"
#include "linalg/fixed_matrix.h"
#include "linalg/kernels.h"
#include "linalg/update.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/interrupt.h"
#include "pack/ownership.h"

namespace {

// The symmetric matrix whose upper triangle M holds, as a full matrix in `to`:
// to(r, c) = m(r, c) on and above the diagonal, m(c, r) below it (zeros for a matrix
// without a real part array).
void copySymmetric(const aMatrix* m, PartView to, int32_t n) {
  if (!m->re) {
    std::fill_n(to.data(), size_t(n) * size_t(n), 0.0);
    return;
  }
  const PartView from = realPart(m);
  for (int32_t c = 0; c < n; ++c) {
    // A column's first few numbers one by one: a library copy costs more than it moves.
    if (c < 8) {
      for (int32_t r = 0; r <= c; ++r) to(r, c) = from(r, c);
    } else {
      std::copy(from.column(c), from.column(c) + c + 1, to.column(c));
    }
    for (int32_t r = c + 1; r < n; ++r) to(r, c) = from(c, r);
  }
}

// Columns per block: the block's columns first take every earlier block's columns
// together, in register tiles; then, in strips of kStrip, each strip takes the block's
// earlier strips the same way, and its own columns one by one.
constexpr int32_t kBlock = 64;
constexpr int32_t kStrip = 8;

// The smallest orders are factored as a FixedMatrix (linalg/fixed_matrix.h), the rest in
// place through a PartView; the loops below unroll for the first.
template <int32_t N>
using SmallMatrix = linalg::FixedMatrix<linalg::RealField, N>;

// a(i, i) minus the squares of row i's factor entries in columns from .. i-1, in turn.
template <class View>
[[gnu::always_inline]] inline double diagonalRemainder(View& a, int32_t i, int32_t from) {
  double s = a(i, i);
  if constexpr (std::is_same_v<std::remove_const_t<View>, PartView>) {
    for (int32_t k = from; k < i; ++k) s -= a(i, k) * a(i, k);
  } else {
#pragma GCC unroll 8
    for (int32_t k = from; k < i; ++k) s -= a(i, k) * a(i, k);
  }
  return s;
}

// Column i of L below the diagonal: a(j, i) loses a(j, k) a(i, k) for k = from .. i-1 in
// turn and is divided by the diagonal entry d.
template <class View>
[[gnu::always_inline]] inline void factorColumn(View& a, int32_t i, int32_t from, int32_t n,
                                                double d) {
  double* column = a.column(i) + i + 1;
  if constexpr (std::is_same_v<std::remove_const_t<View>, PartView>) {
    for (int32_t k = from; k < i; ++k) {
      linalg::subtractMultiple(column, a.column(k) + i + 1, a(i, k), n - i - 1);
    }
    linalg::divideColumn(column, {d}, n - i - 1);
  } else {
    // The kernels' operations, in loops that unroll.
#pragma GCC unroll 8
    for (int32_t k = from; k < i; ++k) {
      const double* multipliers = a.column(k) + i + 1;
#pragma GCC unroll 8
      for (int32_t j = 0; j < n - i - 1; ++j) column[j] -= multipliers[j] * a(i, k);
    }
#pragma GCC unroll 8
    for (int32_t j = 0; j < n - i - 1; ++j) column[j] = column[j] / d;
  }
}

// The columns first .. last-1, from their diagonal down, lose a(j, k) a(i, k) for the
// columns k = from .. first-1, in turn: their sums (the diagonal's partial remainders
// included) carried that far. The columns' rows of L are laid out transposed in `rows`
// first, so that the tiles read them down columns. More than kStrip columns go as the rows
// below them, in one product, and their own rows kStrip columns at a time, each group from
// its first column's diagonal down: of the entries above the diagonal only the groups'
// corners change (to the values their mirror images below get; the factor clears them).
void takeColumns(PartView a, int32_t from, int32_t first, int32_t last, int32_t n, double* rows) {
  const int32_t depth = first - from;
  if (depth == 0) return;
  for (int32_t k = from; k < first; ++k) {
    for (int32_t i = first; i < last; ++i) rows[k - from + ptrdiff_t{i - first} * depth] = a(i, k);
  }
  const int32_t ld = a.ld();
  auto take = [&](int32_t c, int32_t top, int32_t bottom, int32_t columns) {
    linalg::subtractProduct(a.column(c) + top, ld, a.column(from) + top, ld,
                            rows + ptrdiff_t{c - first} * depth, depth, bottom - top, columns,
                            depth);
  };
  if (last - first <= kStrip) return take(first, first, n, last - first);
  take(first, last, n, last - first);
  for (int32_t c = first; c < last; c += kStrip) take(c, c, last, std::min(kStrip, last - c));
}

// Puts the diagonal in place and clears the strict upper triangle.
void finishFactor(PartView a, int32_t n, const double* diagonal) {
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = 0; i < j; ++i) a(i, j) = 0.0;
    a(j, j) = diagonal[j];
  }
}

// Columns f .. l-1, each in turn: the diagonal entry from the remainder of its sum, then
// the column below it, the terms from column `f` on still to take.
[[gnu::always_inline]] inline const char* factorColumns(PartView a, int32_t f, int32_t l, int32_t n,
                                                        double* diagonal, const Interrupt& stop) {
  for (int32_t i = f; i < l; ++i) {
    if (stop.requested()) return msg::kInterrupted;
    const double s = diagonalRemainder(a, i, f);
    if (!(s > 0.0)) return msg::kNonPositiveDefinite;
    diagonal[i] = std::sqrt(s);
    factorColumn(a, i, f, n, diagonal[i]);
  }
  return nullptr;
}

// Columns go in blocks and strips (kBlock, kStrip): every entry still loses its terms one at
// a time with k ascending, the earlier blocks' first, then the block's earlier strips', then
// the strip's own.
const char* factorBlocked(PartView a, int32_t n, double* diagonal, const Interrupt& stop) {
  // Room for a block's rows of every earlier column, or (one block) a strip's rows of the
  // block's earlier columns.
  heap::Scratch<double, kBlock * kStrip> rows(size_t(kBlock) * size_t(n > kBlock ? n : kStrip));
  if (!rows) return msg::kOutOfMemory;
  for (int32_t first = 0; first < n; first += kBlock) {
    const int32_t last = std::min(first + kBlock, n);
    takeColumns(a, 0, first, last, n, rows.get());
    for (int32_t f = first; f < last; f += kStrip) {
      const int32_t l = std::min(f + kStrip, last);
      takeColumns(a, first, f, l, n, rows.get());
      if (const char* failure = factorColumns(a, f, l, n, diagonal, stop)) return failure;
    }
  }
  return nullptr;
}

// The order-N matrix m factored as a FixedMatrix, every loop unrolled; m gets its entries
// back however the factorisation ends.
template <int32_t N>
const char* factorSmall(PartView m) {
  SmallMatrix<N> a;
  a.copyFrom(linalg::RealField::View{m});
  double diagonal[N];
  const char* failure = nullptr;
  // factorColumns' steps, in a loop that unrolls.
#pragma GCC unroll 8
  for (int32_t i = 0; i < N && !failure; ++i) {
    const double s = diagonalRemainder(a, i, 0);
    if (!(s > 0.0)) {
      failure = msg::kNonPositiveDefinite;
    } else {
      diagonal[i] = std::sqrt(s);
      factorColumn(a, i, 0, N, diagonal[i]);
    }
  }
  if (!failure) {
#pragma GCC unroll 8
    for (int32_t j = 0; j < N; ++j) {
      double* column = a.column(j);
#pragma GCC unroll 8
      for (int32_t i = 0; i < j; ++i) column[i] = 0.0;
      column[j] = diagonal[j];
    }
  }
  a.copyInto(linalg::RealField::View{m});
  return failure;
}

// Factors the symmetric matrix in the lower triangle of `a` (the diagonal and the strict
// lower triangle are read) into L L^T in place: L(i, i) = sqrt(a(i, i) - sum of
// L(i, k)^2), L(j, i) = (a(j, i) - sum of L(j, k) L(i, k)) / L(i, i), sums over k < i
// subtracted in turn. A diagonal remainder that is not positive gives
// "non-positive definite matrix"; no scratch gives "out of memory"; the user's request to
// stop, asked once per column, "interrupted". The smallest orders are factored as a
// FixedMatrix (factorSmall), the rest in blocks (factorBlocked).
const char* cholesky_factor(aMatrix* m, const Interrupt& stop) {
  const PartView a = realPart(m);
  const int32_t n = m->rows;
  bool small = false;
  const char* smallFailure = linalg::withOrder(n, [&](auto order) -> const char* {
    if constexpr (linalg::kIsFixedOrder<decltype(order)>) {
      small = true;
      // A fraction of a microsecond: the user's request to stop is asked once, before it.
      if (stop.requested()) return msg::kInterrupted;
      return factorSmall<order>(a);
    } else {
      return nullptr;
    }
  });
  if (small) return smallFailure;
  heap::Scratch<double, kBlock> diagonal(n);
  if (!diagonal) return msg::kOutOfMemory;
  if (const char* failure = factorBlocked(a, n, diagonal.get(), stop)) return failure;
  finishFactor(a, n, diagonal.get());
  return nullptr;
}

Anyval* factor(UfnCallContext* ctx, aMatrix* m) {
  TempMatrix copy(ctx, newHostMatrix(ctx, m->rows, m->cols));
  if (!copy) return errorValue(ctx, msg::kOutOfMemory, 0);
  copySymmetric(m, realPart(copy.get()), m->rows);
  if (const char* failure = cholesky_factor(copy.get(), Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }
  embedded::keepNumbers(copy->re, elementCount(copy.get()));
  return asValue(copy.handOver());
}

}  // namespace

Anyval* worksheet::cholesky(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).matrix().square().real().notNested().error()) {
    return error;
  }
  return factor(ctx, as<aMatrix>(m));
}
