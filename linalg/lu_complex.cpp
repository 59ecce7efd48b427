// Complex LU factorisation with scaled partial pivoting (clud), substitution with its
// factors (clud_subst), and both in one call (clud_solve). The contracts are in
// linalg/lu.h.
//
// The steps are those of the real factorisation, with complex moduli for every magnitude,
// Smith's division for the multipliers and 1-based pivot entries. Of equal pivot
// candidates the first is kept.
#include <algorithm>

#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "pack/fpguard.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace {

using linalg::SmithDivisor;
using linalg::subtractComplexMultiple;

constexpr double kEpsilon = 2.220446049250313e-16;  // 2^-52

// A complex matrix as its two part arrays.
struct ComplexView {
  PartView re, im;
  double modulus(int32_t i, int32_t j) const { return fpu::complexModulus(re(i, j), im(i, j)); }
};

// scale[i] = 1 / (largest modulus in row i). False, with scale unfinished, when a row is
// all zero.
bool rowScales(const ComplexView& a, int32_t n, double* scale) {
  std::fill(scale, scale + n, 0.0);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = 0; i < n; ++i) {
      const double magnitude = a.modulus(i, j);
      if (magnitude > scale[i]) scale[i] = magnitude;
    }
  }
  for (int32_t i = 0; i < n; ++i) {
    if (scale[i] == 0.0) return false;
    scale[i] = 1.0 / scale[i];
  }
  return true;
}

// The row among k .. n-1 whose modulus of a(i, k) times scale[i] is largest; of equal
// candidates the first one.
int32_t pivotRow(const ComplexView& a, int32_t k, int32_t n, const double* scale) {
  int32_t pivot = k;
  double largest = -1.0;
  for (int32_t i = k; i < n; ++i) {
    const double candidate = a.modulus(i, k) * scale[i];
    if (candidate > largest) {
      largest = candidate;
      pivot = i;
    }
  }
  return pivot;
}

// Folds the growth of the finished row r into `growth`: |U(r, j)| * bound for j >= r.
void addRowGrowth(const ComplexView& a, int32_t r, int32_t n, double bound, double& growth) {
  for (int32_t j = r; j < n; ++j) {
    const double candidate = a.modulus(r, j) * bound;
    if (candidate > growth) growth = candidate;
  }
}

// True when one of the diagonal entries a(0, 0) .. a(k, k) has a modulus below `threshold`.
bool smallPivotUpTo(const ComplexView& a, int32_t k, double threshold) {
  for (int32_t i = 0; i <= k; ++i) {
    if (a.modulus(i, i) < threshold) return true;
  }
  return false;
}

// Divides column k below the diagonal by the pivot a(k, k) (Smith's division), making it
// L's multipliers. Returns max(1, largest modulus of a multiplier).
double formMultipliers(const ComplexView& a, int32_t k, int32_t n) {
  double* re = a.re.column(k);
  double* im = a.im.column(k);
  const SmithDivisor pivot(re[k], im[k]);
  double bound = 1.0;
  for (int32_t i = k + 1; i < n; ++i) {
    pivot.divide(re[i], im[i]);
    const double magnitude = fpu::complexModulus(re[i], im[i]);
    if (magnitude > bound) bound = magnitude;
  }
  return bound;
}

// a(i, j) -= a(i, k) * a(k, j) for i, j > k, one column at a time.
void eliminate(const ComplexView& a, int32_t k, int32_t n) {
  const double* lRe = a.re.column(k) + k + 1;
  const double* lIm = a.im.column(k) + k + 1;
  for (int32_t j = k + 1; j < n; ++j) {
    subtractComplexMultiple(a.re.column(j) + k + 1, a.im.column(j) + k + 1, lRe, lIm, a.re(k, j),
                            a.im(k, j), n - k - 1);
  }
}

// The factors as clud_subst reads them: an absent part array reads as zeros.
struct Factors {
  PartView re, im;
  double realAt(int32_t i, int32_t j) const { return re ? re(i, j) : 0.0; }
  double imagAt(int32_t i, int32_t j) const { return im ? im(i, j) : 0.0; }
};

// Applies the recorded interchanges (1-based entries) to the complex vector x.
void interchange(double* xRe, double* xIm, const double* pivots, int32_t n) {
  for (int32_t k = 0; k < n; ++k) {
    const int32_t p = static_cast<int32_t>(pivots[k]) - 1;
    std::swap(xRe[k], xRe[p]);
    std::swap(xIm[k], xIm[p]);
  }
}

// Solves L y = x in place (unit diagonal) from the first entry with a non-zero part on;
// each entry below loses L(i, j) y(j) for j = first .. i-1 in turn.
void forwardSubstitute(const Factors& lu, double* xRe, double* xIm, int32_t n) {
  int32_t first = 0;
  while (first < n && xRe[first] == 0.0 && xIm[first] == 0.0) ++first;
  for (int32_t j = first; j < n - 1; ++j) {
    const double yRe = xRe[j], yIm = xIm[j];
    for (int32_t i = j + 1; i < n; ++i) {
      const double lRe = lu.realAt(i, j), lIm = lu.imagAt(i, j);
      const double productRe = lRe * yRe - lIm * yIm;
      const double productIm = lIm * yRe + lRe * yIm;
      xRe[i] -= productRe;
      xIm[i] -= productIm;
    }
  }
}

// Solves U x = y in place from the last row up; false at a zero diagonal entry.
bool backSubstitute(const Factors& lu, double* xRe, double* xIm, int32_t n) {
  for (int32_t i = n - 1; i >= 0; --i) {
    double sRe = xRe[i], sIm = xIm[i];
    for (int32_t j = i + 1; j < n; ++j) {
      const double uRe = lu.realAt(i, j), uIm = lu.imagAt(i, j);
      sRe -= uRe * xRe[j] - uIm * xIm[j];
      sIm -= uIm * xRe[j] + uRe * xIm[j];
    }
    const double dRe = lu.realAt(i, i), dIm = lu.imagAt(i, i);
    if (dRe == 0.0 && dIm == 0.0) return false;
    SmithDivisor(dRe, dIm).divide(sRe, sIm);
    xRe[i] = sRe;
    xIm[i] = sIm;
  }
  return true;
}

}  // namespace

const char* clud(aMatrix* a, double* pivots, double& sign, bool check) {
  sign = 1.0;
  if (a->rows < 1 || a->cols < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  // Both parts are read; a caller that could pass a half matrix gets a message instead
  // of a crash.
  if (!a->re || !a->im) return msg::kUnknownError;
  const int32_t n = a->rows;
  heap::Array<double> scale(n);
  if (!scale) return msg::kOutOfMemory;

  const ComplexView lu{realPart(a), imagPart(a)};
  if (!rowScales(lu, n, scale.get())) return msg::kSingularMatrix;

  double growth = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    const int32_t p = pivotRow(lu, k, n, scale.get());
    if (p != k) {
      linalg::swapRows(lu.re, k, p, n);
      linalg::swapRows(lu.im, k, p, n);
      sign = -sign;
      scale[p] = scale[k];
    }
    if (pivots) pivots[k] = p + 1;
    if (lu.re(k, k) == 0.0 && lu.im(k, k) == 0.0) return msg::kSingularMatrix;
    if (k >= 1) {
      addRowGrowth(lu, k - 1, n, scale[k - 1], growth);
      if (check && smallPivotUpTo(lu, k, growth * kEpsilon)) return msg::kSingularMatrix;
    }
    scale[k] = formMultipliers(lu, k, n);
    eliminate(lu, k, n);
  }
  return nullptr;
}

const char* clud_subst(aMatrix* lu, double* pivots, aMatrix* b) {
  if (lu->rows < 1 || lu->cols < 1 || b->rows < 1) return msg::kInvalidDimension;
  if (lu->rows != lu->cols) return msg::kMustBeSquare;
  if (b->rows != lu->rows) return msg::kArraySizeMismatch;
  if (!pivots || !b->re || !b->im) return msg::kUnknownError;
  const int32_t n = lu->rows;
  const Factors factors{realPart(lu), imagPart(lu)};
  interchange(b->re, b->im, pivots, n);
  forwardSubstitute(factors, b->re, b->im, n);
  if (!backSubstitute(factors, b->re, b->im, n)) return msg::kSingularMatrix;
  return nullptr;
}

const char* clud_solve(aMatrix* a, aMatrix* b) {
  const int32_t n = a->rows;
  if (n < 1 || a->cols < 1 || b->rows < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  heap::Array<double> pivots(n);
  if (!pivots) return msg::kOutOfMemory;
  double sign;
  if (const char* failure = clud(a, pivots.get(), sign, false)) return failure;
  return clud_subst(a, pivots.get(), b);
}
