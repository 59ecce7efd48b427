// Inverses from LU factors: the solutions for all the unit right-hand sides at once
// (lud_inverse, clud_inverse; contracts in linalg/lu.h), one algorithm over both fields.
//
// Solving L U x = P e_c one c at a time walks U along its rows in the back substitution:
// x(i) loses U(i, j) x(j) for j = i+1 .. n-1 in turn, and rows are strided in column-major
// storage. Here a block of right-hand sides is solved together with the solutions stored
// transposed: column i of the block holds entry i of every solution in it. "x(i) loses
// U(i, j) x(j)" becomes one contiguous column operation for the whole block, and every
// entry still receives its operations in the order the one-column substitution gives.
//
// Solution t is the one whose right-hand side, after the interchanges, is the unit vector
// e_t: its entries above t are leading zeros the forward substitution skips, it starts
// with 1 at entry t, and it is column order[t] of the inverse.
//
// The smallest orders skip the blocks: each solution is found in its own column of the
// inverse by the one-column substitutions, with the loops unrolled.
#include <algorithm>
#include <cstddef>

#include "linalg/field.h"
#include "linalg/fixed_matrix.h"
#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "linalg/substitution.h"
#include "linalg/update.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace {

using namespace linalg;

// Orders up to this take their scratch from the stack.
constexpr int32_t kSmallOrder = 32;
constexpr size_t kSmallCount = kSmallOrder * kSmallOrder;

// How many solutions go into one block: all of them up to order 112, else 32. A block's
// back substitution streams its found entries once per entry it finds; 32 solutions make
// each entry 256 contiguous bytes, the stream one sequential run, and the block (32 n
// numbers) stays in the second-level cache up to order 1000 and beyond. The smaller orders
// save the calls that more blocks take. 32 is a multiple of every tile's height, so that
// each entry of a full block is whole tiles, each starting where the one before ended.
int32_t blockSize(int32_t n) {
  return n <= 112 ? n : 32;
}

// The solutions first .. first+size-1, transposed: entry(i)[t - first] is entry i of
// solution t.
template <class Field>
struct Block {
  typename Field::Column data;
  int32_t first, size;
  typename Field::Column entry(int32_t i) const { return data + ptrdiff_t{i} * size; }
};

// Every solution t of the block set to e_t.
template <class Field>
void startAtUnitVectors(const Block<Field>& x, int32_t n) {
  zeroColumn(x.data, x.size * n);
  for (int32_t t = 0; t < x.size; ++t) store(x.entry(x.first + t), t, Field::kOne);
}

// The factors' rows, each contiguous: L(i, j) and U(i, j) at row(i) + j. The forward
// substitution reads L's rows and the back substitution U's as streams instead of across
// the factors' columns.
template <class Field>
struct FactorRows {
  typename Field::Column data;
  int32_t n;

  static size_t count(int32_t n) { return size_t(n) * size_t(n); }
  typename Field::Column row(int32_t i) const { return data + ptrdiff_t{i} * n; }
  // Copied in bands of rows, so that the rows being written stay in the nearest cache
  // while the columns are read down.
  void copyFrom(typename Field::View lu) const {
    constexpr int32_t kBand = 64;
    for (int32_t top = 0; top < n; top += kBand) {
      const int32_t bottom = std::min(top + kBand, n);
      for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = top; i < bottom; ++i) store(row(i), j, lu(i, j));
      }
    }
  }
};

// Solutions per group in the forward substitution: a group's solutions start within this
// many entries of each other.
constexpr int32_t kGroup = 16;
// Entries per step of the forward substitution.
constexpr int32_t kEntries = 16;

// The forward substitution's view of one group of solutions: entry i of the group loses
// L(i, j) y(j) for j from the group's first solution on, in turn.
template <class Field>
struct ForwardGroup {
  const Block<Field>& x;
  const FactorRows<Field>& rows;
  int32_t g, members;  // the solutions x.first + g .. + members - 1
  int32_t all;         // the entry from which on every solution of the group has started

  // Entry i's terms j = from .. to-1 while some of the group have not started: the started
  // solutions only, element by element.
  void startingTerms(int32_t i, int32_t from, int32_t to) const {
    const typename Field::Column target = x.entry(i);
    for (int32_t j = from; j < to; ++j) {
      const auto l = load(rows.row(i), j);
      const typename Field::Column y = x.entry(j);
      for (int32_t t = g; t <= j - x.first; ++t) store(target, t, load(target, t) - load(y, t) * l);
    }
  }

  // Entries i .. i+count-1 take the terms j = from .. to-1 (every solution started), each
  // entry's sums held in registers meanwhile.
  void startedTerms(int32_t i, int32_t count, int32_t from, int32_t to) const {
    if (to <= from) return;
    subtractProduct(x.entry(i) + g, x.size, x.entry(from) + g, x.size, rows.row(i) + from, rows.n,
                    members, count, to - from);
  }
};

// L y = e_t for the block: entry i of solution t loses L(i, j) y(j) for j = t .. i-1, in
// turn. The entries go kEntries at a time, [top, end). For a group of solutions that all
// started before `top`, the terms up to top-1 are taken by all the entries together, in
// register tiles (linalg/update.h), between the terms from before the group had started and
// the terms from within [top, end), which go entry by entry; otherwise every entry goes on
// its own.
template <class Field>
void forwardSubstitute(const Block<Field>& x, const FactorRows<Field>& rows, int32_t n) {
  for (int32_t top = x.first + 1; top < n; top += kEntries) {
    const int32_t end = std::min(top + kEntries, n);
    for (int32_t g = 0; g < x.size && x.first + g < end - 1; g += kGroup) {
      const int32_t members = std::min(kGroup, x.size - g);
      const ForwardGroup<Field> group{x, rows, g, members, x.first + g + members - 1};
      if (group.all < top) {
        for (int32_t i = top; i < end; ++i) group.startingTerms(i, x.first + g, group.all);
        group.startedTerms(top, end - top, group.all, top);
        for (int32_t i = top; i < end; ++i) group.startedTerms(i, 1, top, i);
      } else {
        for (int32_t i = std::max(top, x.first + g + 1); i < end; ++i) {
          group.startingTerms(i, x.first + g, std::min(group.all, i));
          group.startedTerms(i, 1, group.all, i);
        }
      }
    }
  }
}

// U x = y for the block: entry i loses U(i, j) x(j) for j = i+1 .. n-1, in turn, held in
// registers meanwhile, then is divided by U(i, i). False at a zero on U's diagonal when the
// field counts that as singular.
template <class Field>
bool backSubstitute(typename Field::View lu, const Block<Field>& x, int32_t n,
                    const FactorRows<Field>& rows) {
  for (int32_t i = n - 1; i >= 0; --i) {
    subtractProduct(x.entry(i), x.size, x.entry(i + 1), x.size, rows.row(i) + (i + 1), n, x.size, 1,
                    n - i - 1);
    if (Field::kZeroDiagonalIsSingular && isZero(lu(i, i))) return false;
    divideColumn(x.entry(i), typename Field::Divisor{lu(i, i)}, x.size);
  }
  return true;
}

// Column order[t] of the inverse is solution t. Eight solutions at a time, so that each
// entry's eight numbers are read from one cache line and the eight columns written down.
template <class Field>
void storeSolutions(const Block<Field>& x, const int32_t* order, int32_t n,
                    typename Field::Column inverse) {
  constexpr int32_t kColumns = 8;
  typename Field::Column columns[kColumns];
  for (int32_t t0 = 0; t0 < x.size; t0 += kColumns) {
    const int32_t width = std::min(kColumns, x.size - t0);
    for (int32_t c = 0; c < width; ++c) {
      columns[c] = inverse + ptrdiff_t{order[x.first + t0 + c]} * n;
    }
    for (int32_t i = 0; i < n; ++i) {
      const typename Field::Column entry = x.entry(i) + t0;
      for (int32_t c = 0; c < width; ++c) store(columns[c], i, load(entry, c));
    }
  }
}

// The inverse of a small matrix, one solution at a time, then into its column: the factors
// as a FixedMatrix and each solution as a local array, so that they stay in registers.
template <class Field, int32_t N>
const char* invertByColumns(const aMatrix* lu, const double* pivots, typename Field::Column inverse,
                            const Interrupt& stop) {
  int32_t order[N];
  rowOrder(pivots, Field::kPivotBase, N, order);
  if (stop.requested()) return msg::kInterrupted;
  FixedMatrix<Field, N> factors;
  factors.copyFrom(Field::View::of(lu));
#pragma GCC unroll 8
  for (int32_t t = 0; t < N; ++t) {
    typename Field::Value solution[N] = {};
    solution[t] = Field::kOne;
    const bool solved = solveTriangles<Field>(factors, solution, N);
    const typename Field::Column x = inverse + ptrdiff_t{order[t]} * N;
#pragma GCC unroll 8
    for (int32_t i = 0; i < N; ++i) store(x, i, solution[i]);
    if (!solved) return msg::kSingularMatrix;
  }
  return nullptr;
}

template <class Field>
const char* invertByBlocks(const aMatrix* lu, const double* pivots, typename Field::Column inverse,
                           const Interrupt& stop) {
  const int32_t n = lu->rows;
  const int32_t size = blockSize(n);
  const size_t count = size_t(size) * size_t(n);
  heap::Scratch<double, 2 * kSmallCount> work(size_t(Field::kParts) * count);
  const size_t rowsCount = FactorRows<Field>::count(n);
  heap::Scratch<double, 2 * kSmallCount> rowsScratch(size_t(Field::kParts) * rowsCount);
  heap::Scratch<int32_t, kSmallOrder> order(n);
  if (!work || !rowsScratch || !order) return msg::kOutOfMemory;
  rowOrder(pivots, Field::kPivotBase, n, order.get());

  const auto factors = Field::View::of(lu);
  const FactorRows<Field> rows{columnOver(Field(), rowsScratch.get(), rowsCount), n};
  rows.copyFrom(factors);
  for (int32_t first = 0; first < n; first += size) {
    const Block<Field> x{columnOver(Field(), work.get(), count), first, std::min(size, n - first)};
    startAtUnitVectors(x, n);
    if (stop.requested()) return msg::kInterrupted;
    forwardSubstitute<Field>(x, rows, n);
    if (stop.requested()) return msg::kInterrupted;
    if (!backSubstitute<Field>(factors, x, n, rows)) return msg::kSingularMatrix;
    storeSolutions(x, order.get(), n, inverse);
  }
  return nullptr;
}

template <class Field>
const char* invert(const aMatrix* lu, const double* pivots, typename Field::Column inverse,
                   const Interrupt& stop) {
  return withOrder(lu->rows, [&](auto n) {
    if constexpr (kIsFixedOrder<decltype(n)>) {
      return invertByColumns<Field, n>(lu, pivots, inverse, stop);
    } else {
      return invertByBlocks<Field>(lu, pivots, inverse, stop);
    }
  });
}

}  // namespace

const char* lud_inverse(aMatrix* lu, double* pivots, double* inverse, const Interrupt& stop) {
  return invert<RealField>(lu, pivots, inverse, stop);
}

const char* clud_inverse(aMatrix* lu, double* pivots, double* inverseRe, double* inverseIm,
                         const Interrupt& stop) {
  return invert<ComplexField>(lu, pivots, SplitColumn{inverseRe, inverseIm}, stop);
}
