// The real symmetric eigensolver: sym_eigvals and sym_eigvecs (eigen/eigen.h), built from
// tridiag_reduce and tridiag_ql (eigen/symmetric.h).
//
//   [2, 1; 1, 2]                          values (1, 3), in that order
//   [4, 1, 2; 1, 3, 0.5; 2, 0.5, 1]       values (2.5, 5.5, 0): the iteration's order
//   diag(3, 1, 2)                         values (3, 1, 2), Z = I: no step runs
//
// The reduction sweeps from the last row up: step i turns row i's part left of the
// sub-diagonal to zero with one reflection I - u u^T / h built from that row, applied to
// the leading i x i block from both sides. Its loops are arranged to run down columns: the
// products with the block are summed column by column into all entries at once, each entry
// still adding its terms in the order of the row-by-row formulation, and the rank-two update
// touches each element once. The QL stage rotates pairs of Z's columns, which are
// contiguous already.
#include "eigen/symmetric.h"

#include <algorithm>
#include <cmath>

#include "eigen/eigen.h"
#include "linalg/rotations.h"
#include "pack/heap.h"
#include "pack/messages.h"
#include "pack/ownership.h"

namespace {

// One reflection of the reduction, for row i with l = i - 1 > 0 and the row already divided
// by its scale: u = a(i, 0..l) with a(i, l) shifted, h = |u|^2 / 2. `u` is a contiguous copy
// of the row. On return e[0..l] holds the reflected off-diagonal part and the block
// a(0..l, 0..l) its update A - u q^T - q u^T.
void reflectBlock(PartView a, int32_t i, double h, const double* u, double* e, bool vectors) {
  const int32_t l = i - 1;
  // e[j] = (sum of a(j, k) u[k] over k <= j, then of a(k, j) u[k] over k > j) / h: the
  // block is symmetric and only its lower triangle is read.
  for (int32_t j = 0; j <= l; ++j) e[j] = 0.0;
  for (int32_t k = 0; k <= l; ++k) {
    const double* column = a.column(k);
    for (int32_t j = k; j <= l; ++j) e[j] += column[j] * u[k];
  }
  // The sums below the diagonal, four columns at a time: each column's chain of additions
  // runs beside the others'.
  for (int32_t j = 0; j <= l; j += 4) {
    const int32_t width = std::min(4, l - j + 1);
    double g[4];
    const double* column[4];
    for (int32_t c = 0; c < width; ++c) g[c] = e[j + c], column[c] = a.column(j + c);
    for (int32_t k = j + 1; k <= std::min(j + 3, l); ++k) {
      for (int32_t c = 0; c < k - j; ++c) g[c] += column[c][k] * u[k];
    }
    for (int32_t k = j + 4; k <= l; ++k) {
      g[0] += column[0][k] * u[k];
      g[1] += column[1][k] * u[k];
      g[2] += column[2][k] * u[k];
      g[3] += column[3][k] * u[k];
    }
    for (int32_t c = 0; c < width; ++c) e[j + c] = g[c] / h;
  }
  double f = 0.0;
  for (int32_t j = 0; j <= l; ++j) {
    if (vectors) a(j, i) = u[j] / h;
    f += e[j] * u[j];
  }
  const double hh = f / (h + h);
  for (int32_t j = 0; j <= l; ++j) e[j] -= hh * u[j];
  for (int32_t k = 0; k <= l; ++k) {
    double* column = a.column(k);
    for (int32_t j = k; j <= l; ++j) column[j] -= u[j] * e[k] + e[j] * u[k];
  }
}

// Multiplies out the reflections stored by the reduction into Q, in place, and collects the
// diagonal into d.
void accumulateReflections(PartView a, int32_t n, double* d) {
  for (int32_t i = 0; i < n; ++i) {
    const int32_t l = i - 1;
    if (d[i] != 0.0) {
      const double* reflected = a.column(i);
      // Row i's products with four columns at a time, each sum on its own chain.
      for (int32_t j = 0; j <= l; j += 4) {
        const int32_t width = std::min(4, l - j + 1);
        double g[4] = {0.0, 0.0, 0.0, 0.0};
        double* column[4];
        for (int32_t c = 0; c < width; ++c) column[c] = a.column(j + c);
        for (int32_t k = 0; k <= l; ++k) {
          const double x = a(i, k);
          for (int32_t c = 0; c < width; ++c) g[c] += x * column[c][k];
        }
        for (int32_t c = 0; c < width; ++c) {
          for (int32_t k = 0; k <= l; ++k) column[c][k] -= g[c] * reflected[k];
        }
      }
    }
    d[i] = a(i, i);
    a(i, i) = 1.0;
    for (int32_t j = 0; j <= l; ++j) a(j, i) = a(i, j) = 0.0;
  }
}

// The first m >= l whose sub-diagonal entry e[m] is negligible next to its two diagonal
// neighbours, or n - 1. The sum is compared in extended precision: |e[m]| + dd rounded to
// double could equal dd when the extended sum does not.
int32_t splitPoint(const double* d, const double* e, int32_t l, int32_t n) {
  for (int32_t m = l; m < n - 1; ++m) {
    const double dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
    const long double sum = static_cast<long double>(std::fabs(e[m])) + dd;
    if (sum == dd) return m;
  }
  return n - 1;
}

// One QL step with implicit shift on the block l .. m, rotating Z's columns along when
// there is a Z.
void qlStep(double* d, double* e, int32_t l, int32_t m, int32_t n, PartView z) {
  double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
  double r = std::sqrt(g * g + 1.0);
  g = d[m] - d[l] + e[l] / (g >= 0.0 ? g + r : g - r);
  double s = 1.0, c = 1.0, p = 0.0;
  for (int32_t i = m - 1; i >= l; --i) {
    const double f = s * e[i];
    const double b = c * e[i];
    if (std::fabs(f) >= std::fabs(g)) {
      c = g / f;
      r = std::sqrt(c * c + 1.0);
      e[i + 1] = f * r;
      s = 1.0 / r;
      c *= s;
    } else {
      s = f / g;
      r = std::sqrt(s * s + 1.0);
      e[i + 1] = g * r;
      c = 1.0 / r;
      s *= c;
    }
    g = d[i + 1] - p;
    r = (d[i] - g) * s + 2.0 * c * b;
    p = s * r;
    d[i + 1] = g + p;
    g = c * r - b;
    // Z's columns i, i+1 become c z_i - s z_i+1, s z_i + c z_i+1.
    if (z) linalg::rotateColumns(z.column(i), z.column(i + 1), c, -s, n);
  }
  d[l] -= p;
  e[l] = g;
  e[m] = 0.0;
}

// The checks both solvers start with; d and e are allocated in that order.
const char* prepare(aMatrix* a, heap::Array<double>& d, heap::Array<double>& e) {
  if (!a || !a->re) return msg::kNullMatrixOrVector;
  if (a->rows < 1 || a->cols < 1) return msg::kInvalidDimension;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  d = heap::Array<double>(a->rows);
  if (!d) return msg::kOutOfMemory;
  e = heap::Array<double>(a->rows);
  if (!e) return msg::kOutOfMemory;
  return nullptr;
}

}  // namespace

const char* tridiag_reduce(PartView a, int32_t n, double* d, double* e, bool vectors,
                           const Interrupt& stop) {
  for (int32_t i = n - 1; i >= 1; --i) {
    if (stop.requested()) return msg::kInterrupted;
    const int32_t l = i - 1;
    double h = 0.0;
    if (l > 0) {
      double scale = 0.0;
      for (int32_t k = 0; k <= l; ++k) scale += std::fabs(a(i, k));
      if (scale == 0.0) {
        e[i] = a(i, l);
      } else {
        for (int32_t k = 0; k <= l; ++k) {
          a(i, k) /= scale;
          h += a(i, k) * a(i, k);
        }
        const double f = a(i, l);
        const double g = f > 0.0 ? -std::sqrt(h) : std::sqrt(h);
        e[i] = scale * g;
        h -= f * g;
        a(i, l) = f - g;
        // d[0..l] is free until later steps fill it: it holds the row contiguously.
        for (int32_t k = 0; k <= l; ++k) d[k] = a(i, k);
        reflectBlock(a, i, h, d, e, vectors);
      }
    } else {
      e[i] = a(i, l);
    }
    d[i] = h;
  }
  d[0] = 0.0;
  e[0] = 0.0;
  if (vectors) {
    accumulateReflections(a, n, d);
  } else {
    for (int32_t i = 0; i < n; ++i) d[i] = a(i, i);
  }
  return nullptr;
}

const char* tridiag_ql(double* d, double* e, int32_t n, PartView z, const Interrupt& stop) {
  for (int32_t i = 1; i < n; ++i) e[i - 1] = e[i];
  e[n - 1] = 0.0;
  constexpr int kStepsPerValue = 30;
  for (int32_t l = 0; l < n; ++l) {
    if (stop.requested()) return msg::kInterrupted;
    for (int steps = 0;; ++steps) {
      const int32_t m = splitPoint(d, e, l, n);
      if (m == l) break;
      if (steps == kStepsPerValue) return msg::kTooManyIterations;
      qlStep(d, e, l, m, n, z);
    }
  }
  return nullptr;
}

const char* sym_eigvals(UfnCallContext* ctx, aMatrix* a, aMatrix** values) {
  heap::Array<double> d, e;
  if (const char* failure = prepare(a, d, e)) return failure;
  const int32_t n = a->rows;
  const Interrupt stop(ctx);
  if (const char* failure = tridiag_reduce(realPart(a), n, d.get(), e.get(), false, stop)) {
    return failure;
  }
  if (const char* failure = tridiag_ql(d.get(), e.get(), n, PartView(), stop)) return failure;
  heap::Array<double> noImaginaryPart;
  *values = newMatrix(ctx, n, 1, d, noImaginaryPart);
  return *values ? nullptr : msg::kOutOfMemory;
}

const char* sym_eigvecs(UfnCallContext* ctx, aMatrix* a) {
  heap::Array<double> d, e;
  if (const char* failure = prepare(a, d, e)) return failure;
  const int32_t n = a->rows;
  const Interrupt stop(ctx);
  if (const char* failure = tridiag_reduce(realPart(a), n, d.get(), e.get(), true, stop)) {
    return failure;
  }
  return tridiag_ql(d.get(), e.get(), n, realPart(a), stop);
}
