// LU factorisation with scaled partial pivoting (lud, clud), substitution with its factors
// (lud_subst, clud_subst), and both in one call (lud_solve, clud_solve): one algorithm over
// the two fields of linalg/field.h. The contracts are in linalg/lu.h.
//
// Step k of the factorisation: choose the pivot row of column k, exchange it into row k,
// turn column k below the diagonal into L's multipliers, and subtract multiplier times
// row k from every row below.
//
// The steps are taken in panels of kPanel columns. Within a panel each step updates the
// panel's columns and the panel's own rows across the whole width at once; the block below
// the panel and right of it takes the panel's steps later, all together, in register tiles
// (linalg/update.h). Every element still receives its updates one step at a time in
// ascending order, so the factors are bit for bit those of the step-by-step algorithm. What
// a step reads is always up to date: its pivot column lies in the panel, and the row whose
// growth it measures is a panel row or the last row before it. When a step ends the
// factorisation early (a zero or tiny pivot, an interrupt, an exception), the block below
// and right of the panel first takes the steps already done, so that everything the
// step-by-step algorithm would have computed by then, and every floating-point flag it
// would have raised, is there.
#include <algorithm>
#include <type_traits>

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

// Columns per panel: the panel's multipliers for the tiles' rows stay in cache. Within a
// panel, the steps go in strips of kStrip columns, so that each step sweeps few columns.
// Narrower panels mean more passes of the trailing update over the matrix, wider ones more
// work in each panel row's completion; 40 to 56 measure alike, 64 slower.
constexpr int32_t kPanel = 48;
constexpr int32_t kStrip = 8;

// Orders up to this take their scratch from the stack.
constexpr size_t kSmallOrder = 32;

// The row among k .. n-1 whose magnitude of a(i, k) times scale[i] is largest; of equal
// candidates the last or the first, as the field says.
template <class Field, class View>
[[gnu::always_inline]] inline int32_t pivotRow(View&& a, int32_t k, int32_t n,
                                               const double* scale) {
  auto candidate = [&](int32_t i) { return Field::magnitude(a(i, k)) * scale[i]; };
  int32_t pivot = k;
  if constexpr (Field::kTiesGoToLastRow) {
    double largest = candidate(k);
#pragma GCC unroll 8
    for (int32_t i = k + 1; i < n; ++i) {
      const double c = candidate(i);
      if (c >= largest) largest = c, pivot = i;
    }
    // The last step's one candidate is computed like every other.
    fpu::keepComputed(largest);
  } else {
    double largest = -1.0;
#pragma GCC unroll 8
    for (int32_t i = k; i < n; ++i) {
      const double c = candidate(i);
      if (c > largest) largest = c, pivot = i;
    }
    fpu::keepComputed(largest);
  }
  return pivot;
}

// `growth` with part of a finished row of U folded in: the largest of it and
// |a(i, j)| * bound for from <= j < to, where bound = max(1, largest |L(:, r)|) for the
// row r that row i holds there.
template <class Field, class View>
[[gnu::always_inline]] inline double withRowGrowth(View&& a, int32_t i, int32_t from, int32_t to,
                                                   double bound, double growth) {
#pragma GCC unroll 8
  for (int32_t j = from; j < to; ++j) {
    const double candidate = Field::magnitude(a(i, j)) * bound;
    if (candidate > growth) growth = candidate;
  }
  return growth;
}

// True when one of the tested diagonal entries up to a(k, k) is below `threshold`.
template <class Field, class View>
[[gnu::always_inline]] inline bool smallPivotUpTo(View&& a, int32_t k, double threshold) {
#pragma GCC unroll 8
  for (int32_t i = Field::kFirstTestedPivot; i <= k; ++i) {
    if (Field::magnitude(a(i, i)) < threshold) return true;
  }
  return false;
}

// Divides column k below the diagonal by the pivot a(k, k), making it L's multipliers.
// Returns max(1, largest magnitude of a multiplier).
template <class Field, class View>
[[gnu::always_inline]] inline double formMultipliers(View&& a, int32_t k, int32_t n) {
  if constexpr (std::is_same_v<std::remove_cvref_t<View>, RealField::View>) {
    return divideColumnWithBound(a.column(k) + (k + 1), a(k, k), n - k - 1);
  } else {
    const auto column = a.column(k);
    const typename Field::Divisor pivot{a(k, k)};
    double bound = 1.0;
#pragma GCC unroll 8
    for (int32_t i = k + 1; i < n; ++i) {
      const auto multiplier = pivot.divide(load(column, i));
      store(column, i, multiplier);
      const double magnitude = Field::magnitude(multiplier);
      if (magnitude > bound) bound = magnitude;
    }
    return bound;
  }
}

// a(i, j) -= a(i, k) * a(k, j) for i > k and k < j < last: the panel's columns lose
// multiplier times pivot row, one column at a time.
template <class Field, class View>
void eliminate(View&& a, int32_t k, int32_t n, int32_t last) {
  const auto multipliers = a.column(k) + (k + 1);
  if constexpr (std::is_same_v<std::remove_cvref_t<View>, typename Field::View>) {
    for (int32_t j = k + 1; j < last; ++j) {
      subtractMultiple(a.column(j) + (k + 1), multipliers, a(k, j), n - k - 1);
    }
  } else {
    // subtractMultiple's operations, in loops that unroll.
#pragma GCC unroll 8
    for (int32_t j = k + 1; j < last; ++j) {
      const auto column = a.column(j) + (k + 1);
#pragma GCC unroll 8
      for (int32_t i = 0; i < n - k - 1; ++i) {
        store(column, i, load(column, i) - load(multipliers, i) * a(k, j));
      }
    }
  }
}

// One elimination step at a time, with what the steps carry from one to the next: the
// row scales (scale[k] becomes the bound max(1, |L(:, k)|) once row k is the pivot row),
// the determinant's sign and the largest growth seen so far.
//
// Row interchanges reach every column at once, or, with `panel` set, only the panel's
// columns: the columns outside take a panel's interchanges later, all together, and
// meanwhile the entries of row r (r >= the panel's first) right of the panel lie in row
// panel->place[r].
//
// The steps work on the field's View or, at the smallest orders, on a FixedMatrix they hold.
template <class Field, class View = typename Field::View>
struct Elimination {
  struct Panel {
    int32_t first, last;
    int32_t* place;      // place[r] for the rows first .. n-1
    int32_t* pivotRows;  // pivotRows[k]: the row step k exchanged with row k
  };

  View a;
  int32_t n;
  double* pivots;
  double& sign;
  bool check;
  const Interrupt& stop;
  double* scale;
  const Panel* panel = nullptr;
  double growth = 0.0;

  static constexpr bool kFixed = requires { View::kOrder; };

  // The matrix's order and panel as a step sees them (in locals named n and panel): for a
  // FixedMatrix, its own order and no panel, known when compiling, so that every loop of its
  // steps has constant bounds.
  int32_t order() const {
    if constexpr (kFixed) {
      return View::kOrder;
    } else {
      return n;
    }
  }
  const Panel* activePanel() const {
    if constexpr (kFixed) {
      return nullptr;
    } else {
      return panel;
    }
  }

  // What the step's helpers work on: a copy of the field's View, a handle whose fields then
  // stay in registers while the matrix is written; a FixedMatrix itself.
  decltype(auto) working() {
    if constexpr (kFixed) {
      return (a);
    } else {
      return View(a);
    }
  }

  // The row holding row r's entries right of the panel.
  int32_t rowRightOfPanel(int32_t r) const {
    const Panel* panel = activePanel();
    return panel && r >= panel->first ? panel->place[r] : r;
  }

  // Row k exchanges its place with row p.
  [[gnu::always_inline]] void exchange(int32_t k, int32_t p) {
    if (const Panel* panel = activePanel()) {
      a.swapRows(k, p, panel->first, panel->last);
      std::swap(panel->place[k], panel->place[p]);
    } else {
      a.swapRows(k, p, 0, order());
    }
    scale[p] = scale[k];
  }

  // Step k, eliminating below the pivot in the columns up to `l`. Inlined, so that at a
  // fixed small order its loops unroll.
  [[gnu::always_inline]] const char* step(int32_t k, int32_t l) {
    if (stop.requested()) return msg::kInterrupted;
    const int32_t n = order();
    const Panel* panel = activePanel();
    const int32_t p = pivotRow<Field>(working(), k, n, scale);
    if (p != k) {
      if constexpr (kFixed) {
        // Row p reached as the constant row it equals.
#pragma GCC unroll 8
        for (int32_t row = k + 1; row < View::kOrder; ++row) {
          if (row == p) exchange(k, row);
        }
      } else {
        exchange(k, p);
      }
      sign = -sign;
    }
    if (panel) panel->pivotRows[k] = p;
    if (pivots) pivots[k] = p + Field::kPivotBase;
    if (Field::isZeroPivot(a(k, k))) return msg::kSingularMatrix;
    if (k >= 1) {
      const int32_t r = k - 1, split = panel ? panel->last : n;
      growth = withRowGrowth<Field>(working(), r, r, split, scale[r], growth);
      growth = withRowGrowth<Field>(working(), rowRightOfPanel(r), split, n, scale[r], growth);
      // Computed for the near-singularity test, and for its faults when there is none.
      fpu::keepComputed(growth);
      if (check && smallPivotUpTo<Field>(working(), k, growth * kEpsilon))
        return msg::kSingularMatrix;
    }
    scale[k] = formMultipliers<Field>(working(), k, n);
    eliminate<Field>(working(), k, n, l);
    return nullptr;
  }
};

// The row scales of the n x n matrix behind `a`; false when a row is all zero. `a` is a copy:
// a View's fields then stay in registers while the scales are written.
template <class Field, class View>
bool scaleRows(View a, int32_t n, double* scale) {
  return rowScales(n, scale, [&](int32_t i, int32_t j) { return Field::magnitude(a(i, j)); });
}

// Scratch for up to kPanel rows of n numbers and kPanel more: the panel's rows of U right of
// the panel, one after another (so a row is contiguous), and one row of L's multipliers.
template <class Field>
struct PanelRows {
  heap::Array<double> storage;
  int32_t n;

  // None needed when the matrix is one panel.
  explicit PanelRows(int32_t n) : n(n) {
    if (n > kPanel) storage = heap::Array<double>(size_t(Field::kParts) * count(n));
  }
  static size_t count(int32_t n) { return size_t(kPanel) * size_t(n) + kPanel; }
  explicit operator bool() const { return n <= kPanel || static_cast<bool>(storage); }
  typename Field::Column start() const { return columnOver(Field(), storage.get(), count(n)); }
  // Row r of rows `width` long.
  typename Field::Column row(int32_t r, int32_t width) const {
    return start() + ptrdiff_t{r} * width;
  }
  typename Field::Column multipliers() const { return start() + ptrdiff_t{kPanel} * n; }
};

// The factorisation of the n x n matrix behind `a`, whose shape the caller has checked.
template <class Field>
class Factorisation {
 public:
  using Column = typename Field::Column;

  Factorisation(typename Field::View a, int32_t n, double* pivots, double& sign, bool check,
                const Interrupt& stop)
      : a_(a), n_(n), scale_(n), rowNumbers_(2 * size_t(n)), rows_(n), steps_{a,           n,
                                                                              pivots,      sign,
                                                                              check,       stop,
                                                                              scale_.get()} {}

  const char* run() {
    if (!scale_ || !rowNumbers_ || !rows_) return msg::kOutOfMemory;
    if (!scaleRows<Field>(a_, n_, scale_.get())) return msg::kSingularMatrix;
    for (int32_t panel = 0; panel < n_; panel += kPanel) {
      if (const char* failure = factorPanel(panel, std::min(panel + kPanel, n_))) return failure;
    }
    return nullptr;
  }

 private:
  // Steps first .. last-1, in strips of kStrip; then the columns outside the panel take
  // its interchanges, and the rows below the panel, right of it, its steps.
  const char* factorPanel(int32_t first, int32_t last) {
    panel_ = {first, last, rowNumbers_.get(), rowNumbers_.get() + n_};
    for (int32_t r = first; r < n_; ++r) panel_.place[r] = r;
    for (int32_t k = first; k < last; ++k) panel_.pivotRows[k] = k;
    steps_.panel = &panel_;
    for (int32_t strip = first; strip < last; strip += kStrip) {
      const int32_t end = std::min(strip + kStrip, last);
      if (const char* failure = factorStrip(first, strip, end, last)) return failure;
    }
    interchangeOutside(first, last, last);
    takeSteps(last, first, last, last, n_);
    return nullptr;
  }

  // The columns left and right of the panel first .. last-1 take the interchanges of its
  // steps first .. end-1, in order, one column at a time. Row r's entries right of the
  // panel are then in row r again.
  void interchangeOutside(int32_t first, int32_t end, int32_t last) {
    const int32_t* pivotRows = panel_.pivotRows;
    auto interchange = [&](int32_t from, int32_t to) {
      for (int32_t j = from; j < to; ++j) {
        const Column column = a_.column(j);
        for (int32_t k = first; k < end; ++k) {
          const int32_t p = pivotRows[k];
          const auto held = load(column, k);
          store(column, k, load(column, p));
          store(column, p, held);
        }
      }
    };
    interchange(0, first);
    interchange(last, n_);
  }

  // Steps f .. l-1 of the panel first .. last-1. The strip's columns take each step at once;
  // the panel's columns right of the strip take the strip's steps when it is done (the
  // strip's own rows at each step). On an early end, the rows not yet up to date take the
  // steps done so far, across the panel and right of it.
  const char* factorStrip(int32_t first, int32_t f, int32_t l, int32_t last) {
    int32_t k = f;
    try {
      for (; k < l; ++k) {
        if (const char* failure = steps_.step(k, l)) {
          catchUp(first, f, k, l, last);
          return failure;
        }
        completeRow(k, first, f, l, last);
      }
    } catch (...) {
      catchUp(first, f, k, l, last);
      throw;
    }
    takeSteps(l, f, l, l, last);
    return nullptr;
  }

  // Rows k .. n-1 right of the strip take the steps done before step k, and the columns
  // outside the panel the interchanges up to step k's (if it made one).
  void catchUp(int32_t first, int32_t f, int32_t k, int32_t l, int32_t last) {
    takeSteps(k, f, k, l, last);
    interchangeOutside(first, std::min(k + 1, last), last);
    takeSteps(k, first, k, last, n_);
  }

  // Row k right of the strip takes the steps it still lacks: the strip's steps f .. k-1 in
  // the panel's other columns, the panel's steps first .. k-1 right of the panel. It is then
  // U's row, by the time the next step measures its growth. Right of the panel it is worked
  // on as a contiguous copy, which the panel's later rows read.
  void completeRow(int32_t k, int32_t first, int32_t f, int32_t l, int32_t last) {
    takeSteps(k, f, k, l, last, 1);
    const int32_t width = n_ - last;
    if (width == 0) return;
    const Column row = rows_.row(k - first, width), multipliers = rows_.multipliers();
    const int32_t home = steps_.rowRightOfPanel(k);
    for (int32_t j = 0; j < width; ++j) store(row, j, a_(home, last + j));
    for (int32_t s = first; s < k; ++s) store(multipliers, s - first, a_(k, s));
    // row^T -= (rows first .. k-1)^T (multipliers)^T, the steps in ascending order.
    subtractProduct(row, width, rows_.row(0, width), width, multipliers, kPanel, width, 1,
                    k - first);
    for (int32_t j = 0; j < width; ++j) store(a_.column(last + j), home, load(row, j));
  }

  // Rows from .. n-1 (only `rows` of them when given) of the columns left .. right-1 take
  // the steps first .. to-1.
  void takeSteps(int32_t from, int32_t first, int32_t to, int32_t left, int32_t right,
                 int32_t rows = -1) {
    if (right <= left || to <= first) return;
    const int32_t ld = a_.ld();
    subtractProduct(a_.column(left) + from, ld, a_.column(first) + from, ld,
                    a_.column(left) + first, ld, rows < 0 ? n_ - from : rows, right - left,
                    to - first);
  }

  typename Field::View a_;
  int32_t n_;
  heap::Scratch<double, kSmallOrder> scale_;
  // The panel being factored; its place and pivotRows, n of each, in rowNumbers_.
  heap::Scratch<int32_t, 2 * kSmallOrder> rowNumbers_;
  typename Elimination<Field>::Panel panel_{};
  PanelRows<Field> rows_;
  Elimination<Field> steps_;
};

// Orders up to kStrip are one strip of one panel: each step updates the whole matrix at
// once, and nothing is left for later. With the order N known when compiling, the matrix
// is factored as a FixedMatrix, the steps' loops unroll, and a 3 x 3 call spends its time on
// its arithmetic. The matrix gets its entries back however the factorisation ends.
template <class Field, int32_t N>
const char* factorSmall(typename Field::View a, double* pivots, double& sign, bool check,
                        const Interrupt& stop) {
  static_assert(N <= kStrip);
  // The whole factorisation takes a fraction of a microsecond: the user's request to stop
  // is asked once, before it.
  if (stop.requested()) return msg::kInterrupted;
  double scale[N];
  const Interrupt unasked;
  Elimination<Field, FixedMatrix<Field, N>> steps{{}, N, pivots, sign, check, unasked, scale};
  steps.a.copyFrom(a);
  if (!scaleRows<Field>(steps.a, N, scale)) return msg::kSingularMatrix;
  const char* failure = nullptr;
  try {
#pragma GCC unroll 8
    for (int32_t k = 0; k < N && !failure; ++k) failure = steps.step(k, N);
  } catch (...) {
    steps.a.copyInto(a);
    throw;
  }
  steps.a.copyInto(a);
  return failure;
}

template <class Field>
const char* factor(typename Field::View a, int32_t n, double* pivots, double& sign, bool check,
                   const Interrupt& stop) {
  return withOrder(n, [&](auto order) -> const char* {
    if constexpr (kIsFixedOrder<decltype(order)>) {
      return factorSmall<Field, order>(a, pivots, sign, check, stop);
    } else {
      return Factorisation<Field>(a, order, pivots, sign, check, stop).run();
    }
  });
}

template <class Field>
const char* substitute(const aMatrix* lu, const double* pivots, aMatrix* b) {
  const auto factors = Field::View::of(lu);
  const auto x = Field::View::of(b).column(0);
  const bool solved =
      withOrder(lu->rows, [&](auto n) { return solveWithFactors<Field>(factors, pivots, x, n); });
  return solved ? nullptr : msg::kSingularMatrix;
}

}  // namespace

const char* lud(aMatrix* a, double* pivots, double* sign, bool check, const Interrupt& stop) {
  *sign = 1.0;
  if (!a->re) return msg::kNullPointer;
  if (a->rows < 1 || a->cols < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  return factor<RealField>(RealField::View::of(a), a->rows, pivots, *sign, check, stop);
}

const char* clud(aMatrix* a, double* pivots, double& sign, bool check, const Interrupt& stop) {
  sign = 1.0;
  if (a->rows < 1 || a->cols < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  // Both parts are read; a caller that could pass a half matrix gets a message instead
  // of a crash.
  if (!a->re || !a->im) return msg::kUnknownError;
  return factor<ComplexField>(ComplexField::View::of(a), a->rows, pivots, sign, check, stop);
}

const char* clud(aMatrix* a, double* pivots, double& sign, bool check) {
  return clud(a, pivots, sign, check, Interrupt());
}

const char* lud_subst(aMatrix* lu, double* pivots, aMatrix* b) {
  if (!lu || !lu->re || !pivots || !b || !b->re) return msg::kUnknownError;
  if (lu->rows < 1 || lu->cols < 1 || b->rows < 1) return msg::kInvalidDimension;
  if (lu->rows != lu->cols) return msg::kMustBeSquare;
  return substitute<RealField>(lu, pivots, b);
}

const char* clud_subst(aMatrix* lu, double* pivots, aMatrix* b) {
  if (lu->rows < 1 || lu->cols < 1 || b->rows < 1) return msg::kInvalidDimension;
  if (lu->rows != lu->cols) return msg::kMustBeSquare;
  if (b->rows != lu->rows) return msg::kArraySizeMismatch;
  if (!pivots || !b->re || !b->im) return msg::kUnknownError;
  return substitute<ComplexField>(lu, pivots, b);
}

const char* lud_solve(aMatrix* a, aMatrix* b, const Interrupt& stop) {
  const int32_t n = a->rows;
  if (n < 1 || a->cols < 1 || b->rows < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  if (b->rows != n) return msg::kArraySizeMismatch;
  heap::Scratch<double, kSmallOrder> pivots(n);
  if (!pivots) return msg::kOutOfMemory;
  double sign;
  if (const char* failure = lud(a, pivots.get(), &sign, false, stop)) return failure;
  return lud_subst(a, pivots.get(), b);
}

const char* clud_solve(aMatrix* a, aMatrix* b, const Interrupt& stop) {
  const int32_t n = a->rows;
  if (n < 1 || a->cols < 1 || b->rows < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  heap::Scratch<double, kSmallOrder> pivots(n);
  if (!pivots) return msg::kOutOfMemory;
  double sign;
  if (const char* failure = clud(a, pivots.get(), sign, false, stop)) return failure;
  return clud_subst(a, pivots.get(), b);
}
