// The last QZ stage: eigenvectors of the quasi-triangular pencil by back substitution,
// taken back to the original coordinates by Z (contract in eigen/qz.h). Indices count
// from 0.
//
// For the eigenvalue alpha / beta at position en, the vector x of the triangular problem
// solves (beta A - alpha B) x = 0 with x(en) = 1, from row en - 1 up; a 2 x 2 diagonal
// block of A is solved as one. The vectors are built in B's columns (B is no longer
// needed), then Z's columns are replaced by Z times them.
#include <algorithm>
#include <cmath>

#include "eigen/qz.h"
#include "linalg/field.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace eigen {

namespace {

using linalg::Complex;

// The back substitution for the real eigenvalue at position en; its vector goes to column
// en of B.
void realVector(PartView a, PartView b, int32_t en, double alfm, double betm, double epsb) {
  b(en, en) = 1.0;
  int32_t m = en;
  // The lower row of a 2 x 2 block waits for the upper one: its w and r.
  bool pending = false;
  double zz = 0.0, s = 0.0;
  for (int32_t i = en - 1; i >= 0; --i) {
    const double w = betm * a(i, i) - alfm * b(i, i);
    double r = 0.0;
    for (int32_t j = m; j <= en; ++j) r = r + (betm * a(i, j) - alfm * b(i, j)) * b(j, en);
    if (i != 0 && !pending && betm * a(i, i - 1) != 0.0) {
      zz = w, s = r, pending = true;
      continue;
    }
    m = i;
    if (!pending) {
      b(i, en) = -r / (w == 0.0 ? epsb : w);
      continue;
    }
    const double x = betm * a(i, i + 1) - alfm * b(i, i + 1);
    const double y = betm * a(i + 1, i);
    const double q = w * zz - x * y;
    const double t = (x * s - zz * r) / q;
    b(i, en) = t;
    b(i + 1, en) = std::fabs(x) <= std::fabs(zz) ? (-s - y * t) / zz : (-r - w * t) / x;
    pending = false;
  }
}

// The back substitution for the complex pair at positions na = en - 1 and en, for the
// eigenvalue of position na; the vector's real parts go to column na of B, its imaginary
// parts to column en. Its last component is chosen imaginary, so that the vectors stay
// triangular.
void complexVector(PartView a, PartView b, int32_t en, double almr, double almi, double betm,
                   double epsb) {
  const int32_t na = en - 1;
  auto x = [&](int32_t i) { return Complex{b(i, na), b(i, en)}; };
  auto set = [&](int32_t i, Complex v) { b(i, na) = v.re, b(i, en) = v.im; };
  auto divide = [](Complex t, Complex d) { return linalg::SmithDivisor(d).divide(t); };
  {
    const double y = betm * a(en, na);
    b(na, na) = -almi * b(en, en) / y;
    b(na, en) = (almr * b(en, en) - betm * a(en, en)) / y;
    b(en, na) = 0.0;
    b(en, en) = 1.0;
  }
  int32_t m = na;
  bool pending = false;
  double zz = 0.0, z1 = 0.0, r = 0.0, s = 0.0;
  for (int32_t i = na - 1; i >= 0; --i) {
    const double w = betm * a(i, i) - almr * b(i, i);
    const double w1 = -almi * b(i, i);
    double ra = 0.0, sa = 0.0;
    for (int32_t j = m; j <= en; ++j) {
      const double xr = betm * a(i, j) - almr * b(i, j);
      const double xi = -almi * b(i, j);
      ra = ra + xr * b(j, na) - xi * b(j, en);
      sa = sa + xr * b(j, en) + xi * b(j, na);
    }
    if (i != 0 && !pending && betm * a(i, i - 1) != 0.0) {
      zz = w, z1 = w1, r = ra, s = sa, pending = true;
      continue;
    }
    m = i;
    if (!pending) {
      set(i, divide({-ra, -sa}, {w, w1}));
      continue;
    }
    const double xr = betm * a(i, i + 1) - almr * b(i, i + 1);
    const double xi = -almi * b(i, i + 1);
    const double y = betm * a(i + 1, i);
    double dr = w * zz - w1 * z1 - xr * y;
    const double di = w * z1 + w1 * zz - xi * y;
    if (dr == 0.0 && di == 0.0) dr = epsb;
    set(i + 1, divide({y * ra - w * r + w1 * s, y * sa - w * s - w1 * r}, {dr, di}));
    pending = false;
    const Complex below = x(i + 1);
    if (std::fabs(y) > std::fabs(w) + std::fabs(w1)) {
      set(i, {(-r - zz * below.re + z1 * below.im) / y, (-s - zz * below.im - z1 * below.re) / y});
    } else {
      set(i, divide({-ra - xr * below.re + xi * below.im, -sa - xr * below.im - xi * below.re},
                    {w, w1}));
    }
  }
}

// Column j of Z becomes the sum of Z(:, k) B(k, j) over k = 0 .. j, from the last column
// to the first. Each element's sum is formed from 0 in increasing k, as a row of Z times
// a column of B would form it.
const char* transformBack(PartView z, PartView b, int32_t n, const Interrupt& stop) {
  heap::Array<double> sum(n);
  if (!sum) return msg::kOutOfMemory;
  for (int32_t j = n - 1; j >= 0; --j) {
    if (stop.requested()) return msg::kInterrupted;
    std::fill(sum.get(), sum.get() + n, 0.0);
    for (int32_t k = 0; k <= j; ++k) {
      const double* zk = z.column(k);
      const double bkj = b(k, j);
      double* __restrict out = sum.get();
      for (int32_t i = 0; i < n; ++i) out[i] = out[i] + zk[i] * bkj;
    }
    std::copy(sum.get(), sum.get() + n, z.column(j));
  }
  return nullptr;
}

// Scales each vector so that its largest component has modulus 1; the modulus of a
// complex component is formed as (|re| + |im|) sqrt((re / s)^2 + (im / s)^2) with
// s = |re| + |im|.
void normalise(PartView z, int32_t n, const double* alfi) {
  for (int32_t j = 0; j < n; ++j) {
    double* v = z.column(j);
    double d = 0.0;
    if (alfi[j] == 0.0 || j + 1 == n) {
      for (int32_t i = 0; i < n; ++i) d = std::max(d, std::fabs(v[i]));
      for (int32_t i = 0; i < n; ++i) v[i] = v[i] / d;
      continue;
    }
    double* w = z.column(j + 1);
    for (int32_t i = 0; i < n; ++i) {
      double r = std::fabs(v[i]) + std::fabs(w[i]);
      if (r != 0.0) r = r * std::sqrt((v[i] / r) * (v[i] / r) + (w[i] / r) * (w[i] / r));
      if (r > d) d = r;
    }
    for (int32_t i = 0; i < n; ++i) v[i] = v[i] / d, w[i] = w[i] / d;
    ++j;
  }
}

}  // namespace

const char* qz_vectors(PartView a, PartView b, int32_t n, const double* alfr, const double* alfi,
                       const double* beta, PartView z, const Interrupt& stop) {
  const double epsb = n >= 2 ? b(n - 1, 0) : 0.0;
  for (int32_t en = n - 1; en >= 0; --en) {
    if (stop.requested()) return msg::kInterrupted;
    if (alfi[en] == 0.0 || en == 0) {
      realVector(a, b, en, alfr[en], beta[en], epsb);
    } else {
      complexVector(a, b, en, alfr[en - 1], alfi[en - 1], beta[en - 1], epsb);
      --en;
    }
  }
  if (const char* failure = transformBack(z, b, n, stop)) return failure;
  normalise(z, n, alfi);
  return nullptr;
}

}  // namespace eigen
