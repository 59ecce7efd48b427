// Real LU factorisation with scaled partial pivoting (lud), substitution with its factors
// (lud_subst), and both in one call (lud_solve). The contracts are in linalg/lu.h.
//
// Step k of the factorisation: choose the pivot row of column k, exchange it into row k,
// turn column k below the diagonal into L's multipliers, and subtract multiplier times
// row k from every row below. The elimination runs column by column (each trailing column
// gets one multiple of the multiplier column), which gives every element the same single
// update per step as the row-by-row formulation.
#include <algorithm>
#include <cmath>

#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace {

using linalg::subtractMultiple;

constexpr double kEpsilon = 2.220446049250313e-16;  // 2^-52

// scale[i] = 1 / (largest |a(i, j)| over the row). False, with scale unfinished, when a
// row is all zero.
bool rowScales(PartView a, int32_t n, double* scale) {
  std::fill(scale, scale + n, 0.0);
  for (int32_t j = 0; j < n; ++j) {
    const double* column = a.column(j);
    for (int32_t i = 0; i < n; ++i) {
      const double magnitude = std::fabs(column[i]);
      if (magnitude > scale[i]) scale[i] = magnitude;
    }
  }
  for (int32_t i = 0; i < n; ++i) {
    if (scale[i] == 0.0) return false;
    scale[i] = 1.0 / scale[i];
  }
  return true;
}

// The row among k .. n-1 whose |a(i, k)| * scale[i] is largest; of equal candidates the
// last one.
int32_t pivotRow(PartView a, int32_t k, int32_t n, const double* scale) {
  const double* column = a.column(k);
  int32_t pivot = k;
  double largest = std::fabs(column[k]) * scale[k];
  for (int32_t i = k + 1; i < n; ++i) {
    const double candidate = std::fabs(column[i]) * scale[i];
    if (candidate >= largest) {
      largest = candidate;
      pivot = i;
    }
  }
  return pivot;
}

// Folds the growth of the finished row r into `growth`: |U(r, j)| * bound for j >= r,
// where bound = max(1, largest |L(i, r)|).
void addRowGrowth(PartView a, int32_t r, int32_t n, double bound, double& growth) {
  for (int32_t j = r; j < n; ++j) {
    const double candidate = std::fabs(a(r, j)) * bound;
    if (candidate > growth) growth = candidate;
  }
}

// True when one of the diagonal entries a(1, 1) .. a(k, k) is below `threshold`.
bool smallPivotUpTo(PartView a, int32_t k, double threshold) {
  for (int32_t i = 1; i <= k; ++i) {
    if (std::fabs(a(i, i)) < threshold) return true;
  }
  return false;
}

// Divides column k below the diagonal by the pivot a(k, k), making it L's multipliers.
// Returns max(1, largest |multiplier|).
double formMultipliers(PartView a, int32_t k, int32_t n) {
  double* column = a.column(k);
  const double pivot = column[k];
  double bound = 1.0;
  for (int32_t i = k + 1; i < n; ++i) {
    column[i] = column[i] / pivot;
    const double magnitude = std::fabs(column[i]);
    if (magnitude > bound) bound = magnitude;
  }
  return bound;
}

// a(i, j) -= a(k, j) * a(i, k) for i, j > k: the trailing matrix loses multiplier times
// pivot row, one column at a time.
void eliminate(PartView a, int32_t k, int32_t n) {
  const double* multipliers = a.column(k) + k + 1;
  for (int32_t j = k + 1; j < n; ++j) {
    subtractMultiple(a.column(j) + k + 1, multipliers, a(k, j), n - k - 1);
  }
}

// Applies the recorded interchanges to x: exchange x(k) and x(pivots[k]), k = 0 .. n-1.
void interchange(double* x, const double* pivots, int32_t n) {
  for (int32_t k = 0; k < n; ++k) std::swap(x[k], x[static_cast<int32_t>(pivots[k])]);
}

// Solves L y = x in place (unit diagonal), starting at the first non-zero x(first): the
// entries above it stay zero, and each entry below loses L(i, j) y(j) for j = first ..
// i-1 in turn.
void forwardSubstitute(PartView lu, double* x, int32_t n) {
  int32_t first = 0;
  while (first < n && x[first] == 0.0) ++first;
  for (int32_t j = first; j < n - 1; ++j) {
    subtractMultiple(x + j + 1, lu.column(j) + j + 1, x[j], n - j - 1);
  }
}

// Solves U x = y in place, from the last row up: x(i) = (y(i) - sum of U(i, j) x(j) over
// j = i+1 .. n-1, subtracted in turn) / U(i, i).
void backSubstitute(PartView lu, double* x, int32_t n) {
  for (int32_t i = n - 1; i >= 0; --i) {
    double s = x[i];
    for (int32_t j = i + 1; j < n; ++j) s -= lu(i, j) * x[j];
    x[i] = s / lu(i, i);
  }
}

}  // namespace

const char* lud(aMatrix* a, double* pivots, double* sign, bool check) {
  *sign = 1.0;
  if (!a->re) return msg::kNullPointer;
  if (a->rows < 1 || a->cols < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  const int32_t n = a->rows;
  // scale[i] starts as row i's scale; once row k is the pivot row it becomes the bound
  // max(1, |L(:, k)|) that weighs row k's growth.
  heap::Array<double> scale(n);
  if (!scale) return msg::kOutOfMemory;

  const PartView lu = realPart(a);
  if (!rowScales(lu, n, scale.get())) return msg::kSingularMatrix;

  double growth = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    const int32_t p = pivotRow(lu, k, n, scale.get());
    if (p != k) {
      linalg::swapRows(lu, k, p, n);
      *sign = -*sign;
      scale[p] = scale[k];
    }
    if (pivots) pivots[k] = p;
    if (lu(k, k) == 0.0 || std::isnan(lu(k, k))) return msg::kSingularMatrix;
    if (k >= 1) {
      addRowGrowth(lu, k - 1, n, scale[k - 1], growth);
      if (check && smallPivotUpTo(lu, k, growth * kEpsilon)) return msg::kSingularMatrix;
    }
    scale[k] = formMultipliers(lu, k, n);
    eliminate(lu, k, n);
  }
  return nullptr;
}

const char* lud_subst(aMatrix* lu, double* pivots, aMatrix* b) {
  if (!lu || !lu->re || !pivots || !b || !b->re) return msg::kUnknownError;
  if (lu->rows < 1 || lu->cols < 1 || b->rows < 1) return msg::kInvalidDimension;
  if (lu->rows != lu->cols) return msg::kMustBeSquare;
  const int32_t n = lu->rows;
  double* x = b->re;
  interchange(x, pivots, n);
  forwardSubstitute(realPart(lu), x, n);
  backSubstitute(realPart(lu), x, n);
  return nullptr;
}

const char* lud_solve(aMatrix* a, aMatrix* b) {
  const int32_t n = a->rows;
  if (n < 1 || a->cols < 1 || b->rows < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  if (b->rows != n) return msg::kArraySizeMismatch;
  heap::Array<double> pivots(n);
  if (!pivots) return msg::kOutOfMemory;
  double sign;
  if (const char* failure = lud(a, pivots.get(), &sign, false)) return failure;
  return lud_subst(a, pivots.get(), b);
}
