// The Golub-Reinsch singular value decomposition (svd_core) and its values-only twin
// (svd_values); the contracts are in svd/svd.h.
//
// Four stages, each a function below:
//   bidiagonalise   Householder reflections from the left (column i below the diagonal)
//                   and from the right (row i beyond the superdiagonal), alternately,
//                   leave the diagonal w and the superdiagonal e
//   accumulateRight / accumulateLeft
//                   multiply the reflections out into V, and into U in place of the
//                   reflection vectors (svd_core only)
//   diagonalise     QR sweeps on the bidiagonal form until every e(i) is negligible,
//                   applying each rotation to U and V (svd_core only)
//   sort            descending, by exchanges of strictly smaller values
//
// Loop order. Every reflection is applied column by column, the columns being contiguous:
// a reflection from the left forms one dot product per column (four columns' sums side by
// side) and then updates the column; one from the right forms its n-term sums for all
// rows at once, by adding one column's multiple per term, then updates column by column.
// Each element still goes through the operations of the row-by-row formulation in the
// same order, so the results are bit for bit the same.
#include <algorithm>
#include <cmath>
#include <utility>

#include "host/embedded.h"
#include "host/part_view.h"
#include "linalg/reflections.h"
#include "linalg/rotations.h"
#include "pack/heap.h"
#include "pack/messages.h"
#include "svd/svd.h"

namespace {

using namespace linalg;

constexpr double kEpsilon = 2.220446049250313e-16;  // 2^-52
constexpr int kMaxSweeps = 100;

// -sqrt(s) when f >= 0, +sqrt(s) when f < 0: the root that makes f - root add magnitudes.
double opposedRoot(double s, double f) {
  const double root = std::sqrt(s);
  return f >= 0.0 ? -root : root;
}

// The bidiagonal form: diagonal w, superdiagonal e (e(i) joins w(i-1) and w(i); e(0) is
// always 0), and the largest |w(i)| + |e(i)|, which the negligibility test is relative to.
struct Bidiagonal {
  double* w;
  double* e;
  double norm = 0.0;
};

// The reflection from the left at step i: column i from row i down becomes
// (f - g, the rest) * scale with w(i) = scale * g, and is applied to the columns right of
// it. An embedded element met while summing the scale gives "may not be nested" when
// `refuseEmbedded` is set.
const char* reflectColumn(PartView a, int32_t m, int32_t n, int32_t i, bool refuseEmbedded,
                          double* w) {
  double* x = a.column(i) + i;
  const int32_t length = m - i;
  double scale = 0.0;
  for (int32_t k = 0; k < length; ++k) {
    if (refuseEmbedded && embedded::is(x[k])) return msg::kMayNotBeNested;
    scale += std::fabs(x[k]);
  }
  double g = 0.0;
  if (scale != 0.0) {
    double s = 0.0;
    for (int32_t k = 0; k < length; ++k) {
      x[k] /= scale;
      s += x[k] * x[k];
    }
    const double f = x[0];
    g = opposedRoot(s, f);
    const double h = f * g - s;
    x[0] = f - g;
    if (i != n - 1) {
      reflectColumns(a, i + 1, n, x, i, length, x, i, length, [h](double t) { return t / h; });
    }
    scaleColumn(x, scale, length);
  }
  w[i] = scale * g;
  return nullptr;
}

// The reflection from the right at step i: row i from column l = i + 1 on becomes
// (f - g, the rest) * scale, e(l .. n-1) receive the row divided by h (the vector the
// rows below are updated with), and the reflection is applied to rows l .. m-1. Returns
// e(l) = scale * g for the next step; `sums` is m doubles of scratch.
double reflectRow(PartView a, int32_t m, int32_t n, int32_t i, double* e, double* sums) {
  const int32_t l = i + 1;
  double scale = 0.0;
  for (int32_t k = l; k < n; ++k) scale += std::fabs(a(i, k));
  if (scale == 0.0) return 0.0;
  double s = 0.0;
  for (int32_t k = l; k < n; ++k) {
    a(i, k) /= scale;
    s += a(i, k) * a(i, k);
  }
  const double f = a(i, l);
  const double g = opposedRoot(s, f);
  const double h = f * g - s;
  a(i, l) = f - g;
  for (int32_t k = l; k < n; ++k) e[k] = a(i, k) / h;
  if (i != m - 1) {
    // Row j's sum over k of a(j, k) a(i, k), for every row j at once, term by term.
    double* t = sums + l;
    const int32_t rows = m - l;
    std::fill(t, t + rows, 0.0);
    for (int32_t k = l; k < n; ++k) addMultiple(t, a.column(k) + l, a(i, k), rows);
    for (int32_t k = l; k < n; ++k) addMultiple(a.column(k) + l, t, e[k], rows);
  }
  for (int32_t k = l; k < n; ++k) a(i, k) *= scale;
  return scale * g;
}

// Stage 1: the bidiagonal form of the m x n `a` (m >= n), reflection vectors left in a.
const char* bidiagonalise(PartView a, int32_t m, int32_t n, bool refuseEmbedded, Bidiagonal& b,
                          double* sums, const Interrupt& stop) {
  double nextE = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    if (stop.requested()) return msg::kInterrupted;
    b.e[i] = nextE;
    if (const char* failure = reflectColumn(a, m, n, i, refuseEmbedded, b.w)) return failure;
    nextE = i != n - 1 ? reflectRow(a, m, n, i, b.e, sums) : 0.0;
    const double size = std::fabs(b.w[i]) + std::fabs(b.e[i]);
    if (size > b.norm) b.norm = size;
  }
  return nullptr;
}

// Stage 2a: V, the product of the reflections from the right, built from the last one
// back. `row` is n doubles of scratch.
const char* accumulateRight(PartView a, PartView v, int32_t n, const double* e, double* row,
                            const Interrupt& stop) {
  for (int32_t i = n - 1; i >= 0; --i) {
    if (stop.requested()) return msg::kInterrupted;
    const int32_t l = i + 1;
    if (i < n - 1) {
      const double g = e[l];
      if (g != 0.0) {
        for (int32_t j = l; j < n; ++j) v(j, i) = (a(i, j) / a(i, l)) / g;
        for (int32_t k = l; k < n; ++k) row[k] = a(i, k);
        reflectColumns(v, l, n, row + l, l, n - l, v.column(i) + l, l, n - l,
                       [](double t) { return t; });
      }
      for (int32_t j = l; j < n; ++j) v(i, j) = v(j, i) = 0.0;
    }
    v(i, i) = 1.0;
  }
  return nullptr;
}

// Stage 2b: U, the product of the reflections from the left, built in a from the last one
// back over the reflection vectors.
const char* accumulateLeft(PartView a, int32_t m, int32_t n, const double* w,
                           const Interrupt& stop) {
  for (int32_t i = n - 1; i >= 0; --i) {
    if (stop.requested()) return msg::kInterrupted;
    const int32_t l = i + 1;
    const double g = w[i];
    for (int32_t j = l; j < n; ++j) a(i, j) = 0.0;
    double* column = a.column(i);
    if (g != 0.0) {
      const double pivot = a(i, i);
      reflectColumns(a, l, n, column + l, l, m - l, column + i, i, m - i,
                     [pivot, g](double t) { return (t / pivot) / g; });
      for (int32_t j = i; j < m; ++j) column[j] /= g;
    } else {
      for (int32_t j = i; j < m; ++j) column[j] = 0.0;
    }
    column[i] += 1.0;
  }
  return nullptr;
}

// Where the rotations of the QR sweeps go: into U (m rows) and V (n rows), or nowhere.
struct SingularVectors {
  PartView u, v;
  int32_t m, n;
  static constexpr bool kPolls = true;  // the sweeps cost as much as the reduction
  void rotateU(int32_t p, int32_t q, double c, double s) const {
    rotateColumns(u.column(p), u.column(q), c, s, m);
  }
  void rotateV(int32_t p, int32_t q, double c, double s) const {
    rotateColumns(v.column(p), v.column(q), c, s, n);
  }
  void negateV(int32_t k) const {
    double* x = v.column(k);
    for (int32_t r = 0; r < n; ++r) x[r] = -x[r];
  }
};

struct NoVectors {
  static constexpr bool kPolls = false;
  void rotateU(int32_t, int32_t, double, double) const {}
  void rotateV(int32_t, int32_t, double, double) const {}
  void negateV(int32_t) const {}
};

// Zeroes e(l) when w(l-1) is negligible: rotations of rows l-1 and i = l .. k chase it
// along the superdiagonal until it is negligible itself.
template <class Vectors>
const char* cancel(Bidiagonal& b, int32_t l, int32_t k, double eps, const Vectors& vectors) {
  double c = 0.0, s = 1.0;
  for (int32_t i = l; i <= k; ++i) {
    const double f = s * b.e[i];
    b.e[i] = c * b.e[i];
    if (std::fabs(f) <= eps) break;
    const double g = b.w[i];
    if (squareOverflows(f) || squareOverflows(g)) return msg::kOverflow;
    const double h = hypotenuse(g, f);
    b.w[i] = h;
    c = g / h;
    s = -f / h;
    vectors.rotateU(l - 1, i, c, s);
  }
  return nullptr;
}

// The shift of one sweep over w(l .. k), from the trailing 2 x 2 minor, as the first
// element of the shifted column: each formula in long double (the squares of entries
// beyond 1e154 stay finite), each result rounded to double.
double sweepStart(const Bidiagonal& b, int32_t l, int32_t k) {
  const long double x = b.w[l], y = b.w[k - 1], z = b.w[k];
  const long double g = b.e[k - 1], h = b.e[k];
  const double f = static_cast<double>(((y - z) * (y + z) + (g - h) * (g + h)) / (2.0L * h * y));
  const long double fl = f;
  double root = static_cast<double>(std::sqrt(fl * fl + 1.0L));
  if (f < 0.0) root = -root;
  return static_cast<double>(((x - z) * (x + z) + h * (y / (fl + root) - h)) / x);
}

// One implicitly shifted QR sweep over w(l .. k): a rotation from the right and one from
// the left for each j = l .. k-1 chase the bulge down the bidiagonal.
template <class Vectors>
const char* sweep(Bidiagonal& b, int32_t l, int32_t k, const Vectors& vectors) {
  double f = sweepStart(b, l, k);
  double x = b.w[l];
  double c = 1.0, s = 1.0;
  for (int32_t j = l; j < k; ++j) {
    const int32_t i = j + 1;
    double g = b.e[i];
    double y = b.w[i];
    double h = s * g;
    g = c * g;
    if (squareOverflows(f) || squareOverflows(h)) return msg::kOverflow;
    double z = hypotenuse(f, h);
    b.e[j] = z;
    c = f / z;
    s = h / z;
    f = x * c + g * s;
    g = g * c - x * s;
    h = y * s;
    y = y * c;
    vectors.rotateV(j, i, c, s);
    if (squareOverflows(f) || squareOverflows(h)) return msg::kOverflow;
    z = hypotenuse(f, h);
    b.w[j] = z;
    if (z != 0.0) {
      c = f / z;
      s = h / z;
    }
    f = c * g + s * y;
    x = c * y - s * g;
    vectors.rotateU(j, i, c, s);
  }
  b.e[l] = 0.0;
  b.e[k] = f;
  b.w[k] = x;
  return nullptr;
}

// Stage 3: sweeps until the bidiagonal form is diagonal, the values made non-negative.
template <class Vectors>
const char* diagonalise(Bidiagonal& b, int32_t n, const Vectors& vectors, const Interrupt& stop) {
  const double eps = b.norm * kEpsilon;
  for (int32_t k = n - 1; k >= 0; --k) {
    if (Vectors::kPolls && stop.requested()) return msg::kInterrupted;
    for (int sweeps = 0;; ++sweeps) {
      // The longest unreduced block ending at k starts at l: e(l) is negligible (e(0)
      // always is), or w(l-1) is, and e(l) is cancelled first.
      int32_t l = k;
      for (; l > 0; --l) {
        if (std::fabs(b.e[l]) <= eps) break;
        if (std::fabs(b.w[l - 1]) <= eps) {
          if (const char* failure = cancel(b, l, k, eps, vectors)) return failure;
          break;
        }
      }
      if (l == k) {
        if (b.w[k] < 0.0) {
          b.w[k] = -b.w[k];
          vectors.negateV(k);
        }
        break;
      }
      if (sweeps == kMaxSweeps) return msg::kTooManyIterations;
      if (const char* failure = sweep(b, l, k, vectors)) return failure;
    }
  }
  return nullptr;
}

// Stage 4: w in descending order by exchanges (for i < j, when w(i) < w(j)), equal values
// never exchanged; unless null, order[i] becomes the original index of the value now at i.
void sortDescending(double* w, int32_t n, int32_t* order) {
  if (order) {
    for (int32_t i = 0; i < n; ++i) order[i] = i;
  }
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i + 1; j < n; ++j) {
      if (w[i] < w[j]) {
        std::swap(w[i], w[j]);
        if (order) std::swap(order[i], order[j]);
      }
    }
  }
}

// Column i of `to` = column order[i] of `from`, `rows` rows each.
void permuteColumns(PartView from, PartView to, int32_t rows, int32_t n, const int32_t* order) {
  for (int32_t i = 0; i < n; ++i) {
    const double* source = from.column(order[i]);
    std::copy(source, source + rows, to.column(i));
  }
}

}  // namespace

const char* svd_core(aMatrix* a, aMatrix* v, aMatrix* w, const Interrupt& stop) {
  const int32_t m = a->rows, n = a->cols;
  if (m < n) return msg::kRowsLessThanColumns;
  heap::Array<double> e(n), work(size_t(m) * size_t(n)), sums(m);
  heap::Array<int32_t> order(n);
  if (!e || !work || !sums || !order) return msg::kOutOfMemory;

  const PartView u(work.get(), m), vv = realPart(v), input = realPart(a);
  for (int32_t j = 0; j < n; ++j) std::copy(input.column(j), input.column(j) + m, u.column(j));
  Bidiagonal b{w->re, e.get()};
  if (const char* failure = bidiagonalise(u, m, n, false, b, sums.get(), stop)) return failure;
  if (const char* failure = accumulateRight(u, vv, n, b.e, sums.get(), stop)) return failure;
  if (const char* failure = accumulateLeft(u, m, n, b.w, stop)) return failure;
  if (const char* failure = diagonalise(b, n, SingularVectors{u, vv, m, n}, stop)) return failure;

  sortDescending(b.w, n, order.get());
  permuteColumns(u, input, m, n, order.get());
  // The top n rows of the working matrix are free now: V's columns are staged there.
  permuteColumns(vv, u, n, n, order.get());
  for (int32_t j = 0; j < n; ++j) std::copy(u.column(j), u.column(j) + n, vv.column(j));
  return nullptr;
}

const char* svd_values(aMatrix* a, const Interrupt& stop) {
  const int32_t m = a->rows, n = a->cols;
  if (m < n) return msg::kRowsLessThanColumns;
  heap::Array<double> e(n), w(n), sums(m);
  if (!e || !w || !sums) return msg::kOutOfMemory;

  const PartView matrix = realPart(a);
  Bidiagonal b{w.get(), e.get()};
  if (const char* failure = bidiagonalise(matrix, m, n, true, b, sums.get(), stop)) {
    return failure;
  }
  if (const char* failure = diagonalise(b, n, NoVectors{}, stop)) return failure;
  sortDescending(b.w, n, nullptr);
  for (int32_t i = 0; i < n; ++i) matrix(i, i) = b.w[i];
  return nullptr;
}
