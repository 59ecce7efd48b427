// LU factorisation with scaled partial pivoting (lud, clud), substitution with its factors
// (lud_subst, clud_subst), and both in one call (lud_solve, clud_solve): one algorithm over
// the two fields of linalg/field.h. The contracts are in linalg/lu.h.
//
// Step k of the factorisation: choose the pivot row of column k, exchange it into row k,
// turn column k below the diagonal into L's multipliers, and subtract multiplier times
// row k from every row below. The elimination runs column by column (each trailing column
// gets one multiple of the multiplier column), which gives every element the same single
// update per step as the row-by-row formulation.
#include <algorithm>

#include "linalg/field.h"
#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace {

using namespace linalg;

// The row among k .. n-1 whose magnitude of a(i, k) times scale[i] is largest; of equal
// candidates the last or the first, as the field says.
template <class Field>
int32_t pivotRow(typename Field::View a, int32_t k, int32_t n, const double* scale) {
  auto candidate = [&](int32_t i) { return Field::magnitude(a(i, k)) * scale[i]; };
  int32_t pivot = k;
  if constexpr (Field::kTiesGoToLastRow) {
    double largest = candidate(k);
    for (int32_t i = k + 1; i < n; ++i) {
      const double c = candidate(i);
      if (c >= largest) largest = c, pivot = i;
    }
  } else {
    double largest = -1.0;
    for (int32_t i = k; i < n; ++i) {
      const double c = candidate(i);
      if (c > largest) largest = c, pivot = i;
    }
  }
  return pivot;
}

// Folds the growth of the finished row r into `growth`: |U(r, j)| * bound for j >= r,
// where bound = max(1, largest |L(i, r)|).
template <class Field>
void addRowGrowth(typename Field::View a, int32_t r, int32_t n, double bound, double& growth) {
  for (int32_t j = r; j < n; ++j) {
    const double candidate = Field::magnitude(a(r, j)) * bound;
    if (candidate > growth) growth = candidate;
  }
}

// True when one of the tested diagonal entries up to a(k, k) is below `threshold`.
template <class Field>
bool smallPivotUpTo(typename Field::View a, int32_t k, double threshold) {
  for (int32_t i = Field::kFirstTestedPivot; i <= k; ++i) {
    if (Field::magnitude(a(i, i)) < threshold) return true;
  }
  return false;
}

// Divides column k below the diagonal by the pivot a(k, k), making it L's multipliers.
// Returns max(1, largest magnitude of a multiplier).
template <class Field>
double formMultipliers(typename Field::View a, int32_t k, int32_t n) {
  const typename Field::Column column = a.column(k);
  const typename Field::Divisor pivot{a(k, k)};
  double bound = 1.0;
  for (int32_t i = k + 1; i < n; ++i) {
    const auto multiplier = pivot.divide(load(column, i));
    store(column, i, multiplier);
    const double magnitude = Field::magnitude(multiplier);
    if (magnitude > bound) bound = magnitude;
  }
  return bound;
}

// a(i, j) -= a(i, k) * a(k, j) for i, j > k: the trailing matrix loses multiplier times
// pivot row, one column at a time.
template <class Field>
void eliminate(typename Field::View a, int32_t k, int32_t n) {
  const typename Field::Column multipliers = a.column(k) + (k + 1);
  for (int32_t j = k + 1; j < n; ++j) {
    subtractMultiple(a.column(j) + (k + 1), multipliers, a(k, j), n - k - 1);
  }
}

// The factorisation of the n x n matrix behind `a`, whose shape the caller has checked.
template <class Field>
const char* factor(typename Field::View a, int32_t n, double* pivots, double& sign, bool check,
                   const Interrupt& stop) {
  // scale[i] starts as row i's scale; once row k is the pivot row it becomes the bound
  // max(1, |L(:, k)|) that weighs row k's growth.
  heap::Array<double> scale(n);
  if (!scale) return msg::kOutOfMemory;
  auto magnitude = [&](int32_t i, int32_t j) { return Field::magnitude(a(i, j)); };
  if (!rowScales(n, scale.get(), magnitude)) return msg::kSingularMatrix;

  double growth = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    if (stop.requested()) return msg::kInterrupted;
    const int32_t p = pivotRow<Field>(a, k, n, scale.get());
    if (p != k) {
      a.swapRows(k, p, n);
      sign = -sign;
      scale[p] = scale[k];
    }
    if (pivots) pivots[k] = p + Field::kPivotBase;
    if (Field::isZeroPivot(a(k, k))) return msg::kSingularMatrix;
    if (k >= 1) {
      addRowGrowth<Field>(a, k - 1, n, scale[k - 1], growth);
      if (check && smallPivotUpTo<Field>(a, k, growth * kEpsilon)) return msg::kSingularMatrix;
    }
    scale[k] = formMultipliers<Field>(a, k, n);
    eliminate<Field>(a, k, n);
  }
  return nullptr;
}

// Applies the recorded interchanges to x: exchange x(k) and x(pivots[k]), k = 0 .. n-1.
template <class Field>
void interchange(typename Field::Column x, const double* pivots, int32_t n) {
  for (int32_t k = 0; k < n; ++k) {
    const int32_t p = static_cast<int32_t>(pivots[k]) - Field::kPivotBase;
    const auto held = load(x, k);
    store(x, k, load(x, p));
    store(x, p, held);
  }
}

// Solves L y = x in place (unit diagonal), starting at the first non-zero x(first): the
// entries above it stay zero, and each entry below loses L(i, j) y(j) for j = first ..
// i-1 in turn.
template <class Field>
void forwardSubstitute(typename Field::View lu, typename Field::Column x, int32_t n) {
  int32_t first = 0;
  while (first < n && isZero(load(x, first))) ++first;
  for (int32_t j = first; j < n - 1; ++j) {
    const auto y = load(x, j);
    for (int32_t i = j + 1; i < n; ++i) store(x, i, load(x, i) - lu(i, j) * y);
  }
}

// Solves U x = y in place, from the last row up: x(i) = (y(i) - sum of U(i, j) x(j) over
// j = i+1 .. n-1, subtracted in turn) / U(i, i). False at a zero on U's diagonal when the
// field counts that as singular.
template <class Field>
bool backSubstitute(typename Field::View lu, typename Field::Column x, int32_t n) {
  for (int32_t i = n - 1; i >= 0; --i) {
    auto s = load(x, i);
    for (int32_t j = i + 1; j < n; ++j) s = s - lu(i, j) * load(x, j);
    if (Field::kZeroDiagonalIsSingular && isZero(lu(i, i))) return false;
    store(x, i, typename Field::Divisor{lu(i, i)}.divide(s));
  }
  return true;
}

template <class Field>
const char* substitute(const aMatrix* lu, const double* pivots, aMatrix* b) {
  const auto factors = Field::View::of(lu);
  const auto x = Field::View::of(b).column(0);
  const int32_t n = lu->rows;
  interchange<Field>(x, pivots, n);
  forwardSubstitute<Field>(factors, x, n);
  if (!backSubstitute<Field>(factors, x, n)) return msg::kSingularMatrix;
  return nullptr;
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
  heap::Array<double> pivots(n);
  if (!pivots) return msg::kOutOfMemory;
  double sign;
  if (const char* failure = lud(a, pivots.get(), &sign, false, stop)) return failure;
  return lud_subst(a, pivots.get(), b);
}

const char* clud_solve(aMatrix* a, aMatrix* b, const Interrupt& stop) {
  const int32_t n = a->rows;
  if (n < 1 || a->cols < 1 || b->rows < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  heap::Array<double> pivots(n);
  if (!pivots) return msg::kOutOfMemory;
  double sign;
  if (const char* failure = clud(a, pivots.get(), sign, false, stop)) return failure;
  return clud_subst(a, pivots.get(), b);
}
