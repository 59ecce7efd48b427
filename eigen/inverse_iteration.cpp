// Inverse iteration with its own complex LU factorisation (contracts in
// eigen/inverse_iteration.h).
//
// The factorisation is Crout's method written as right-looking elimination: at step k the
// columns right of k each lose one multiple of the multiplier column. Every element goes
// through the same subtractions, in the same order, as in Crout's inner products, so the
// factors are bit for bit Crout's (tests/eigen/inverse_iteration_test.cpp checks this).
#include "eigen/inverse_iteration.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "linalg/kernels.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace eigen {

using linalg::Complex;
using linalg::SplitColumn;

namespace {

// A pivot that is exactly zero becomes this, so the factorisation goes on.
constexpr double kZeroPivotStandIn = 1e-20;
// Added to the shifted diagonal.
constexpr double kShiftOffset = 1e-12;
constexpr int kStartAttempts = 5;
// A start vector is accepted when one solve makes it at least this long.
constexpr double kAcceptedGrowth = 100.0;
constexpr int kSteps = 10;
// The iteration stops early when a solution differs from its start by at most this.
constexpr double kSettled = 1e-30;

bool isElementReference(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits >> 32) == 0xFFFFFFFFu;
}

double modulus(Complex z) {
  return std::sqrt(z.re * z.re + z.im * z.im);
}

// Column j of the n x n matrix a.
SplitColumn column(SplitColumn a, int32_t n, int32_t j) {
  return a + ptrdiff_t{j} * n;
}

// The row among k .. n-1 with the largest scale[i] |a(i, k)|, the last one on ties.
int32_t pivotRow(SplitColumn ak, int32_t k, int32_t n, const double* scale) {
  int32_t pivot = k;
  double largest = 0.0;
  for (int32_t i = k; i < n; ++i) {
    const double candidate = scale[i] * modulus(load(ak, i));
    if (candidate >= largest) largest = candidate, pivot = i;
  }
  return pivot;
}

void swapRows(SplitColumn a, int32_t n, int32_t r, int32_t s) {
  for (int32_t j = 0; j < n; ++j) {
    const SplitColumn aj = column(a, n, j);
    std::swap(aj.re[r], aj.re[s]);
    std::swap(aj.im[r], aj.im[s]);
  }
}

// x(i) = x(i) / length for i = 0 .. n-1.
void divideBy(SplitColumn x, int32_t n, double length) {
  for (int32_t i = 0; i < n; ++i) x.re[i] /= length, x.im[i] /= length;
}

// The sum of |x(i)|^2, i = 0 .. n-1 in turn.
double squaredLength(SplitColumn x, int32_t n) {
  double s = 0.0;
  for (int32_t i = 0; i < n; ++i) s += x.re[i] * x.re[i] + x.im[i] * x.im[i];
  return s;
}

// The sum of |p(i) - x(i)|^2, i = 0 .. n-1 in turn.
double squaredDistance(SplitColumn p, SplitColumn x, int32_t n) {
  double d = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double re = p.re[i] - x.re[i], im = p.im[i] - x.im[i];
    d += re * re + im * im;
  }
  return d;
}

// x = the next start vector scaled to length 1: real, with elements from uniform_random.
// False when it is zero.
bool startVector(SplitColumn x, int32_t n, uint32_t& state) {
  double s = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    x.im[i] = 0.0;
    x.re[i] = uniform_random(state);
    s += x.re[i] * x.re[i];
  }
  if (s == 0.0) return false;
  const double length = std::sqrt(s);
  for (int32_t i = 0; i < n; ++i) x.re[i] /= length;
  return true;
}

// Finds a start vector that one solve with the factors makes grow to length 100 or more,
// and leaves x = that solution scaled to length 1.
const char* acceptedStart(SplitColumn lu, int32_t n, const int32_t* pivots, SplitColumn x) {
  uint32_t state = 1;
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    if (!startVector(x, n, state)) return msg::kSingularity;
    if (!complex_lu_solve(lu, n, pivots, x)) return msg::kNotConverging;
    const double growth = std::sqrt(squaredLength(x, n));
    if (growth >= kAcceptedGrowth) {
      divideBy(x, n, growth);
      return nullptr;
    }
  }
  return msg::kNotConverging;
}

// The fixed sequence of solves from the accepted start x, each result scaled to length 1;
// p holds the previous iterate.
const char* iterate(SplitColumn lu, int32_t n, const int32_t* pivots, SplitColumn x,
                    SplitColumn p) {
  for (int step = 1;; ++step) {
    std::memcpy(p.re, x.re, sizeof(double) * n);
    std::memcpy(p.im, x.im, sizeof(double) * n);
    if (!complex_lu_solve(lu, n, pivots, x)) return msg::kNotConverging;
    const double s = squaredLength(x, n);
    const double f = s == 0.0 ? 1.0 : 1.0 / std::sqrt(s);
    const double d = squaredDistance(p, x, n);
    for (int32_t i = 0; i < n; ++i) x.re[i] *= f, x.im[i] *= f;
    if (step >= kSteps || d <= kSettled) return nullptr;
  }
}

}  // namespace

double safe_divide(double a, double b) {
  if (isElementReference(a) || isElementReference(b)) return 0.0;
  if (a == 0.0 || std::isnan(a)) return 0.0;
  return a / b;
}

double uniform_random(uint32_t& state) {
  auto next15 = [&state] {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFFu;
  };
  const uint32_t a = next15();
  const uint32_t b = next15();
  return static_cast<double>(((a << 15) + b) * 2) * 0x1p-31;
}

const char* complex_lu_decompose(SplitColumn a, int32_t n, int32_t* pivots, const Interrupt& stop) {
  heap::Array<double> scale(n);
  if (!scale) return msg::kOutOfMemory;
  auto magnitude = [&](int32_t i, int32_t j) { return modulus(load(column(a, n, j), i)); };
  if (!linalg::rowScales(n, scale.get(), magnitude)) return msg::kSingularity;
  for (int32_t k = 0; k < n; ++k) {
    if (stop.requested()) return msg::kInterrupted;
    const SplitColumn ak = column(a, n, k);
    const int32_t p = pivotRow(ak, k, n, scale.get());
    if (p != k) {
      swapRows(a, n, k, p);
      scale[p] = scale[k];
    }
    pivots[k] = p;
    if (isZero(load(ak, k))) ak.re[k] = kZeroPivotStandIn;
    if (k == n - 1) break;
    multiplyColumn(ak + (k + 1), complex_divide({1.0, 0.0}, load(ak, k)), n - k - 1);
    for (int32_t j = k + 1; j < n; ++j) {
      const SplitColumn aj = column(a, n, j);
      subtractMultiple(aj + (k + 1), ak + (k + 1), load(aj, k), n - k - 1);
    }
  }
  return nullptr;
}

bool complex_lu_solve(SplitColumn lu, int32_t n, const int32_t* pivots, SplitColumn b) {
  for (int32_t k = 0; k < n; ++k) {
    const Complex held = load(b, k);
    store(b, k, load(b, pivots[k]));
    store(b, pivots[k], held);
  }
  // L y = P b, from the first non-zero entry on, a column of L at a time.
  int32_t first = 0;
  while (first < n && isZero(load(b, first))) ++first;
  for (int32_t j = first; j < n - 1; ++j) {
    subtractMultiple(b + (j + 1), column(lu, n, j) + (j + 1), load(b, j), n - j - 1);
  }
  // U x = y from the last row up, each row's products subtracted left to right.
  for (int32_t i = n - 1; i >= 0; --i) {
    Complex s = load(b, i);
    for (int32_t j = i + 1; j < n; ++j) s = s - load(column(lu, n, j), i) * load(b, j);
    const Complex diagonal = load(column(lu, n, i), i);
    if (isZero(diagonal)) return false;
    store(b, i, complex_divide(s, diagonal));
  }
  return true;
}

const char* inverse_iteration(SplitColumn a, int32_t n, Complex z, SplitColumn x,
                              const Interrupt& stop) {
  if (n < 1) return msg::kSingularity;
  heap::Array<double> pRe(n), pIm(n);
  heap::Array<int32_t> pivots(n);
  if (!pRe || !pIm || !pivots) return msg::kOutOfMemory;
  for (int32_t i = 0; i < n; ++i) {
    const SplitColumn ai = column(a, n, i);
    ai.re[i] = (ai.re[i] - z.re) + kShiftOffset;
    ai.im[i] = ai.im[i] - z.im;
  }
  if (const char* failure = complex_lu_decompose(a, n, pivots.get(), stop)) return failure;
  if (const char* failure = acceptedStart(a, n, pivots.get(), x)) return failure;
  return iterate(a, n, pivots.get(), x, {pRe.get(), pIm.get()});
}

}  // namespace eigen
