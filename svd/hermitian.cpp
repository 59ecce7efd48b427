// herm_eigvals: Householder reduction of a Hermitian matrix to real symmetric tridiagonal
// form, then the rational QL iteration for the eigenvalues of that form. The contract is
// in svd/hermitian.h.
//
// Reduction, row i from the last up to 1: the row's elements left of the diagonal, u,
// scaled by the sum of their |re| + |im|, define a reflection; p = A u / h is formed over
// the leading i x i block (its lower triangle), then the block loses the rank-two update
// built from u and p, and the diagonal and subdiagonal of the tridiagonal form (d, e and
// e2 = e^2) and the phase of the row (tau) are left behind.
//
// Loop order. The lower triangle is walked column by column, its columns being
// contiguous. p(j) is a sum over the block's row j (the elements left of and on the
// diagonal, in turn) continued down its column j (the elements below the diagonal): column
// k adds its terms to every row sum j >= k at once, and completes sum k by running down
// the column; four columns go together, their column sums side by side. Each sum gets its
// terms in the order of the row-by-row formulation, and each element of the update goes
// through the same operations, so the results are bit for bit the same.
#include "svd/hermitian.h"

#include <algorithm>
#include <cmath>

#include "host/part_view.h"
#include "linalg/pair.h"
#include "linalg/rotations.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace {

constexpr double kEpsilon = 2.220446049250313e-16;  // 2^-52
constexpr int kMaxSteps = 30;

using linalg::Pair;

// The tridiagonal form and the scratch of the reduction, n entries each: the phases
// (tauRe, tauIm; tauIm also carries p's imaginary parts while a row is reduced), the
// reduced row's u in contiguous form, and u(j) arranged for p's column parts.
struct Reduction {
  PartView ar, ai;
  double *d, *e, *e2, *tauRe, *tauIm, *uRe, *uIm;
  Pair *uConjugate, *uSwapped;  // (Re u, -Im u), (Im u, Re u)
};

// Column k's elements (j, k) for j = from .. to-1 as the k-th terms of the row sums
// g(j) (real parts) and gi(j) (imaginary parts).
void addRowTerms(const Reduction& r, int32_t k, int32_t from, int32_t to) {
  const double* ar = r.ar.column(k);
  const double* ai = r.ai.column(k);
  const double ur = r.uRe[k], ui = r.uIm[k];
  double* g = r.e;
  double* gi = r.tauIm;
  for (int32_t j = from; j < to; ++j) {
    g[j] = g[j] + ar[j] * ur + ai[j] * ui;
    gi[j] = gi[j] - ar[j] * ui + ai[j] * ur;
  }
}

// Column k's elements (j, k) for j = from .. to-1 as terms of sum k's column part, the
// sum's real and imaginary parts side by side: (s, si) gains Re a (Re u, -Im u), then
// loses Im a (Im u, Re u), which is s + Re a Re u - Im a Im u and
// si - Re a Im u - Im a Re u.
Pair addColumnTerms(const Reduction& r, int32_t k, int32_t from, int32_t to, Pair sum) {
  const double* ar = r.ar.column(k);
  const double* ai = r.ai.column(k);
  for (int32_t j = from; j < to; ++j) sum = sum + ar[j] * r.uConjugate[j] - ai[j] * r.uSwapped[j];
  return sum;
}

// Columns k .. k+3's elements (j, k + c) for j = from .. to-1 as the terms of the row sums,
// column by column for each row; two rows side by side.
void addRowTerms4(const Reduction& r, int32_t k, int32_t from, int32_t to) {
  const double* ar[4] = {r.ar.column(k), r.ar.column(k + 1), r.ar.column(k + 2),
                         r.ar.column(k + 3)};
  const double* ai[4] = {r.ai.column(k), r.ai.column(k + 1), r.ai.column(k + 2),
                         r.ai.column(k + 3)};
  const double *ur = r.uRe + k, *ui = r.uIm + k;
  double* g = r.e;
  double* gi = r.tauIm;
  auto pair = [](const double* x) { return *reinterpret_cast<const Pair*>(x); };
  int32_t j = from;
  for (; j + 2 <= to; j += 2) {
    Pair s = pair(g + j), si = pair(gi + j);
    for (int c = 0; c < 4; ++c) {
      const Pair x = pair(ar[c] + j), y = pair(ai[c] + j);
      s = s + x * ur[c] + y * ui[c];
      si = si - x * ui[c] + y * ur[c];
    }
    *reinterpret_cast<Pair*>(g + j) = s;
    *reinterpret_cast<Pair*>(gi + j) = si;
  }
  for (; j < to; ++j) {
    for (int c = 0; c < 4; ++c) {
      g[j] = g[j] + ar[c][j] * ur[c] + ai[c][j] * ui[c];
      gi[j] = gi[j] - ar[c][j] * ui[c] + ai[c][j] * ur[c];
    }
  }
}

// The column parts of four sums k .. k+3 over the rows from .. to-1, side by side.
void addColumnTerms4(const Reduction& r, int32_t k, int32_t from, int32_t to, Pair* sums) {
  const double *ar0 = r.ar.column(k), *ar1 = r.ar.column(k + 1), *ar2 = r.ar.column(k + 2),
               *ar3 = r.ar.column(k + 3);
  const double *ai0 = r.ai.column(k), *ai1 = r.ai.column(k + 1), *ai2 = r.ai.column(k + 2),
               *ai3 = r.ai.column(k + 3);
  Pair s0 = sums[0], s1 = sums[1], s2 = sums[2], s3 = sums[3];
  for (int32_t j = from; j < to; ++j) {
    const Pair u = r.uConjugate[j], v = r.uSwapped[j];
    s0 = s0 + ar0[j] * u - ai0[j] * v;
    s1 = s1 + ar1[j] * u - ai1[j] * v;
    s2 = s2 + ar2[j] * u - ai2[j] * v;
    s3 = s3 + ar3[j] * u - ai3[j] * v;
  }
  sums[0] = s0, sums[1] = s1, sums[2] = s2, sums[3] = s3;
}

// p = A u / h over the block 0 .. l, into e (real parts) and tauIm (imaginary parts); the
// conjugate-symmetric elements above the diagonal are read as the conjugates of those
// below it. Four columns at a time: their square of rows first, column by column, then
// the rows below it, where their row terms go in column order and their four column
// sums run side by side.
void formP(const Reduction& r, int32_t l, double h) {
  constexpr int32_t kColumns = 4;
  double* g = r.e;
  double* gi = r.tauIm;
  for (int32_t j = 0; j <= l; ++j) {
    g[j] = gi[j] = 0.0;
    r.uConjugate[j] = Pair{r.uRe[j], -r.uIm[j]};
    r.uSwapped[j] = Pair{r.uIm[j], r.uRe[j]};
  }
  for (int32_t k0 = 0; k0 <= l; k0 += kColumns) {
    const int32_t end = std::min(k0 + kColumns, l + 1);
    Pair sums[kColumns];
    for (int32_t k = k0; k < end; ++k) {
      addRowTerms(r, k, k, end);
      sums[k - k0] = addColumnTerms(r, k, k + 1, end, Pair{g[k], gi[k]});
    }
    if (end - k0 == kColumns) {
      addRowTerms4(r, k0, end, l + 1);
      addColumnTerms4(r, k0, end, l + 1, sums);
    } else {
      for (int32_t k = k0; k < end; ++k) {
        addRowTerms(r, k, end, l + 1);
        sums[k - k0] = addColumnTerms(r, k, end, l + 1, sums[k - k0]);
      }
    }
    for (int32_t k = k0; k < end; ++k) g[k] = sums[k - k0][0], gi[k] = sums[k - k0][1];
  }
  for (int32_t j = 0; j <= l; ++j) {
    g[j] = g[j] / h;
    gi[j] = gi[j] / h;
  }
}

// A(j, k) -= the rank-two update from u and q = p - hh u, for k <= j <= l: with
// f = Re u(j), fi = -Im u(j) and q's parts g = e(j), gi = -tauIm(j) per row,
//   Re A(j, k) = Re A(j, k) - f e(k) - g Re u(k) + fi tauIm(k) + gi Im u(k)
//   Im A(j, k) = Im A(j, k) - f tauIm(k) - g Im u(k) - fi e(k) - gi Re u(k)
// Adding (-x) y is subtracting x y, bit for bit, so the negated factors are not formed.
void updateBlock(const Reduction& r, int32_t l) {
  const double *uRe = r.uRe, *uIm = r.uIm, *e = r.e, *t = r.tauIm;
  for (int32_t k = 0; k <= l; ++k) {
    double* ar = r.ar.column(k);
    double* ai = r.ai.column(k);
    const double ek = e[k], tk = t[k], urk = uRe[k], uik = uIm[k];
    for (int32_t j = k; j <= l; ++j) {
      ar[j] = ar[j] - uRe[j] * ek - e[j] * urk - uIm[j] * tk - t[j] * uik;
      ai[j] = ai[j] - uRe[j] * tk - e[j] * uik + uIm[j] * ek + t[j] * urk;
    }
  }
}

// Reduces row i >= 1 (elements (i, 0 .. l), l = i - 1) and the block above it. Returns
// the scale and the row's sum of squares h.
void reduceRow(const Reduction& r, int32_t i, double& scale, double& h) {
  const int32_t l = i - 1;
  const PartView ar = r.ar, ai = r.ai;
  scale = 0.0;
  h = 0.0;
  for (int32_t k = 0; k <= l; ++k) scale = scale + std::fabs(ar(i, k)) + std::fabs(ai(i, k));
  if (scale == 0.0) {
    r.tauRe[l] = 1.0;
    r.tauIm[l] = 0.0;
    r.e[i] = r.e2[i] = 0.0;
    return;
  }
  for (int32_t k = 0; k <= l; ++k) {
    ar(i, k) /= scale;
    ai(i, k) /= scale;
    h = h + ar(i, k) * ar(i, k) + ai(i, k) * ai(i, k);
  }
  r.e2[i] = scale * scale * h;
  double g = std::sqrt(h);
  r.e[i] = scale * g;
  const double f = linalg::modulusByRatio(ar(i, l), ai(i, l));
  double si;
  bool updateBlockAbove = true;
  if (f != 0.0) {
    r.tauRe[l] = (ai(i, l) * r.tauIm[i] - ar(i, l) * r.tauRe[i]) / f;
    si = (ar(i, l) * r.tauIm[i] + ai(i, l) * r.tauRe[i]) / f;
    h = h + f * g;
    g = 1.0 + g / f;
    ar(i, l) = g * ar(i, l);
    ai(i, l) = g * ai(i, l);
    updateBlockAbove = l != 0;
  } else {
    r.tauRe[l] = -r.tauRe[i];
    si = r.tauIm[i];
    ar(i, l) = g;
  }
  if (updateBlockAbove) {
    for (int32_t k = 0; k <= l; ++k) r.uRe[k] = ar(i, k), r.uIm[k] = ai(i, k);
    formP(r, l, h);
    double sum = 0.0;
    for (int32_t j = 0; j <= l; ++j) sum = sum + r.e[j] * r.uRe[j] - r.tauIm[j] * r.uIm[j];
    const double hh = sum / (h + h);
    // q = p - hh u, kept as Re q in e and -Im q in tauIm (fi = Im of conj(u)).
    for (int32_t j = 0; j <= l; ++j) {
      const double fi = -r.uIm[j];
      r.e[j] = r.e[j] - hh * r.uRe[j];
      r.tauIm[j] = -(r.tauIm[j] - hh * fi);
    }
    updateBlock(r, l);
  }
  for (int32_t k = 0; k <= l; ++k) {
    ar(i, k) = scale * ar(i, k);
    ai(i, k) = scale * ai(i, k);
  }
  r.tauIm[l] = -si;
}

// The tridiagonal form of the Hermitian n x n matrix: d and e2 (e2[0] = 0).
const char* tridiagonalise(const Reduction& r, int32_t n, const Interrupt& stop) {
  r.tauRe[n - 1] = 1.0;
  r.tauIm[n - 1] = 0.0;
  for (int32_t i = 0; i < n; ++i) r.d[i] = r.ar(i, i);
  for (int32_t i = n - 1; i >= 0; --i) {
    if (stop.requested()) return msg::kInterrupted;
    double scale = 0.0, h = 0.0;
    if (i >= 1) {
      reduceRow(r, i, scale, h);
    } else {
      r.e[i] = r.e2[i] = 0.0;
    }
    const double held = r.d[i];
    r.d[i] = r.ar(i, i);
    r.ar(i, i) = held;
    r.ai(i, i) = scale * std::sqrt(h);
  }
  return nullptr;
}

// Inserts p into the ascending d[0 .. l-1], giving d[0 .. l]; an entry equal to p stays
// below it.
void insertAscending(double* d, int32_t l, double p) {
  int32_t i = l;
  for (; i > 0 && p < d[i - 1]; --i) d[i] = d[i - 1];
  d[i] = p;
}

// The eigenvalues of the symmetric tridiagonal matrix with diagonal d and squared
// subdiagonal e2 (e2[i] joins d[i-1] and d[i]), ascending into d, by the rational QL
// iteration with implicit shifts; e2 is destroyed.
const char* rationalQl(double* d, double* e2, int32_t n) {
  for (int32_t i = 1; i < n; ++i) e2[i - 1] = e2[i];
  e2[n - 1] = 0.0;
  double f = 0.0, b = 0.0, c = 0.0;
  for (int32_t l = 0; l < n; ++l) {
    const double t = kEpsilon * (std::fabs(d[l]) + std::sqrt(e2[l]));
    if (t >= b) {
      b = t;
      c = b * b;
    }
    // The first negligible squared subdiagonal element at or after l (e2[n-1] is 0).
    int32_t m = l;
    while (m < n - 1 && e2[m] > c) ++m;
    for (int steps = 0; m != l; ++steps) {
      if (steps == kMaxSteps) return msg::kTooManyIterations;
      double s = std::sqrt(e2[l]);
      double g = d[l];
      double p = (d[l + 1] - g) / (2.0 * s);
      double r = std::sqrt(p * p + 1.0);
      d[l] = p >= 0.0 ? s / (p + r) : s / (p - r);
      double h = g - d[l];
      for (int32_t i = l + 1; i < n; ++i) d[i] -= h;
      f += h;
      // The rational QL sweep from m up to l.
      g = d[m];
      if (g == 0.0) g = b;
      h = g;
      s = 0.0;
      for (int32_t i = m - 1; i >= l; --i) {
        p = g * h;
        r = p + e2[i];
        e2[i + 1] = s * r;
        s = e2[i] / r;
        d[i + 1] = h + s * (h + d[i]);
        g = d[i] - e2[i] / g;
        if (g == 0.0) g = b;
        h = g * p / r;
      }
      e2[l] = s * g;
      d[l] = h;
      if (h == 0.0 || std::fabs(e2[l]) <= std::fabs(c / h)) break;
      e2[l] = h * e2[l];
      if (e2[l] == 0.0) break;
    }
    insertAscending(d, l, d[l] + f);
  }
  return nullptr;
}

}  // namespace

const char* herm_eigvals(aMatrix* h, double* d, const Interrupt& stop) {
  if (h->rows < 1 || h->cols < 1) return msg::kInvalidDimension;
  if (h->rows != h->cols) return msg::kMustBeSquare;
  const int32_t n = h->rows;
  heap::Array<double> e(n), e2(n), scratch(8 * size_t(n));
  if (!e || !e2 || !scratch) return msg::kOutOfMemory;
  double* s = scratch.get();
  Pair* pairs = reinterpret_cast<Pair*>(s + 4 * n);
  const Reduction r{realPart(h), imagPart(h), d,         e.get(), e2.get(), s,
                    s + n,       s + 2 * n,   s + 3 * n, pairs,   pairs + n};
  if (const char* failure = tridiagonalise(r, n, stop)) return failure;
  return rationalQl(d, e2.get(), n);
}
