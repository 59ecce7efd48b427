// The QZ stages run their loops in their own order (kernels over contiguous columns,
// reflections collected and applied later, a state machine instead of jumps). The
// results must nevertheless be bit for bit those of the published routines' plain
// formulation, transcribed below with its labels and 1-based indices, with this pack's
// settings: tolerance 0, at most 50 steps per isolated block with the fixed shift on the
// 11th, and a discriminant below sqrt(n) 2.22e-14 taken as zero.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "eigen/qz.h"
#include "tests/support/pack_test.h"

namespace {

struct Pencil {
  int n;
  std::vector<double> a, b, z, alfr, alfi, beta;
  explicit Pencil(int n) : n(n), a(n * n), b(n * n), z(n * n), alfr(n), alfi(n), beta(n) {}
};

// 1-based element access, as the transcription reads.
struct At {
  std::vector<double>& m;
  int n;
  double& operator()(int i, int j) { return m[(i - 1) + (j - 1) * n]; }
};

double sign(double a, double b) {
  return std::copysign(std::fabs(a), b);
}

// The Householder reflection that zeroes a[1 .. N-1] against a[0], built as the routines
// build it (scaled by the sum of the moduli, which the caller has found nonzero), applied to
// rows p of m across columns first .. last, or to columns p of m down rows first .. last.
template <int N>
struct Reflection {
  double u[N], v[N];
  explicit Reflection(const double (&a)[N]) {
    double s = 0.0, squares = 0.0;
    for (double x : a) s += std::fabs(x);
    for (int q = 0; q < N; ++q) u[q] = a[q] / s, squares += u[q] * u[q];
    const double r = sign(std::sqrt(squares), u[0]);
    v[0] = -(u[0] + r) / r;
    for (int q = 1; q < N; ++q) v[q] = -u[q] / r, u[q] = v[q] / v[0];
  }
  void rows(At m, const int (&p)[N], int first, int last) const {
    for (int j = first; j <= last; ++j) {
      double t = m(p[0], j);
      for (int q = 1; q < N; ++q) t = t + u[q] * m(p[q], j);
      for (int q = 0; q < N; ++q) m(p[q], j) = m(p[q], j) + t * v[q];
    }
  }
  void columns(At m, const int (&p)[N], int first, int last) const {
    for (int i = first; i <= last; ++i) {
      double t = m(i, p[0]);
      for (int q = 1; q < N; ++q) t = t + u[q] * m(i, p[q]);
      for (int q = 0; q < N; ++q) m(i, p[q]) = m(i, p[q]) + t * v[q];
    }
  }
};

void reduce(Pencil& p) {
  const int n = p.n;
  At a{p.a, n}, b{p.b, n}, z{p.z, n};
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= n; ++i) z(i, j) = 0.0;
    z(j, j) = 1.0;
  }
  if (n <= 1) return;
  for (int l = 1; l <= n - 1; ++l) {
    const int l1 = l + 1;
    double s = 0.0;
    for (int i = l1; i <= n; ++i) s += std::fabs(b(i, l));
    if (s == 0.0) continue;
    s += std::fabs(b(l, l));
    double r = 0.0;
    for (int i = l; i <= n; ++i) {
      b(i, l) = b(i, l) / s;
      r += b(i, l) * b(i, l);
    }
    r = sign(std::sqrt(r), b(l, l));
    b(l, l) = b(l, l) + r;
    const double rho = r * b(l, l);
    for (int j = l1; j <= n; ++j) {
      double t = 0.0;
      for (int i = l; i <= n; ++i) t += b(i, l) * b(i, j);
      t = -t / rho;
      for (int i = l; i <= n; ++i) b(i, j) = b(i, j) + t * b(i, l);
    }
    for (int j = 1; j <= n; ++j) {
      double t = 0.0;
      for (int i = l; i <= n; ++i) t += b(i, l) * a(i, j);
      t = -t / rho;
      for (int i = l; i <= n; ++i) a(i, j) = a(i, j) + t * b(i, l);
    }
    b(l, l) = -s * r;
    for (int i = l1; i <= n; ++i) b(i, l) = 0.0;
  }
  for (int k = 1; k <= n - 2; ++k) {
    for (int l = n - 1; l >= k + 1; --l) {
      const int l1 = l + 1;
      if (std::fabs(a(l, k)) + std::fabs(a(l1, k)) == 0.0) continue;
      const Reflection<2> rows({a(l, k), a(l1, k)});
      rows.rows(a, {l, l1}, k, n);
      a(l1, k) = 0.0;
      rows.rows(b, {l, l1}, l, n);
      if (std::fabs(b(l1, l1)) + std::fabs(b(l1, l)) == 0.0) continue;
      const Reflection<2> columns({b(l1, l1), b(l1, l)});
      columns.columns(b, {l1, l}, 1, l1);
      b(l1, l) = 0.0;
      columns.columns(a, {l1, l}, 1, n);
      columns.columns(z, {l1, l}, 1, n);
    }
  }
}

// False when a block needs more than 50 steps.
bool iterate(Pencil& p) {
  const int n = p.n;
  At a{p.a, n}, b{p.b, n}, z{p.z, n};
  double anorm = 0.0, bnorm = 0.0;
  for (int i = 1; i <= n; ++i) {
    double ani = i != 1 ? std::fabs(a(i, i - 1)) : 0.0, bni = 0.0;
    for (int j = i; j <= n; ++j) ani += std::fabs(a(i, j)), bni += std::fabs(b(i, j));
    if (ani > anorm) anorm = ani;
    if (bni > bnorm) bnorm = bni;
  }
  if (anorm == 0.0) anorm = 1.0;
  if (bnorm == 0.0) bnorm = 1.0;
  const double ep = 2.220446049250313e-16, epsa = ep * anorm, epsb = ep * bnorm;
  int lor1 = 1, enorn = n, en = n, its = 0, na = 0, enm2 = 0, ish = 0, l = 0, lm1 = 0, l1 = 0,
      ld = 0;
  double a1 = 0, a2 = 0, a3 = 0, a11 = 0, a21 = 0, sh = 0, b11, s, t, r;
L60:
  if (en <= 2) goto L1001;
  its = 0, na = en - 1, enm2 = na - 1;
L70:
  ish = 2;
  for (int ll = 1; ll <= en; ++ll) {
    lm1 = en - ll, l = lm1 + 1;
    if (l == 1) goto L95;
    if (std::fabs(a(l, lm1)) <= epsa) goto L90;
  }
L90:
  a(l, lm1) = 0.0;
  if (l < na) goto L95;
  en = lm1;
  goto L60;
L95:
  ld = l;
L100:
  l1 = l + 1, b11 = b(l, l);
  if (std::fabs(b11) > epsb) goto L120;
  b(l, l) = 0.0;
  {
    const Reflection<2> h({a(l, l), a(l1, l)});
    h.rows(a, {l, l1}, l, enorn);
    h.rows(b, {l, l1}, l, enorn);
  }
  if (l != 1) a(l, lm1) = -a(l, lm1);
  lm1 = l, l = l1;
  goto L90;
L120:
  a11 = a(l, l) / b11, a21 = a(l1, l) / b11;
  if (ish == 1) goto L140;
  if (its == 50) return false;
  if (its == 10) goto L155;
  {
    double b22 = b(l1, l1), b33 = b(na, na), b44 = b(en, en);
    if (std::fabs(b22) < epsb) b22 = epsb;
    if (std::fabs(b33) < epsb) b33 = epsb;
    if (std::fabs(b44) < epsb) b44 = epsb;
    const double a33 = a(na, na) / b33, a34 = a(na, en) / b44, a43 = a(en, na) / b33,
                 a44 = a(en, en) / b44, b34 = b(na, en) / b44;
    t = 0.5 * (a43 * b34 - a33 - a44);
    r = t * t + a34 * a43 - a33 * a44;
    if (r < 0.0) {
      const double a12 = a(l, l1) / b22, a22 = a(l1, l1) / b22, b12 = b(l, l1) / b22;
      a1 = ((a33 - a11) * (a44 - a11) - a34 * a43 + a43 * b34 * a11) / a21 + a12 - a11 * b12;
      a2 = (a22 - a11) - a21 * b12 - (a33 - a11) - (a44 - a11) + a43 * b34;
      a3 = a(l1 + 1, l1) / b22;
      goto L160;
    }
    ish = 1;
    r = std::sqrt(r);
    sh = -t + r, s = -t - r;
    if (std::fabs(s - a44) < std::fabs(sh - a44)) sh = s;
    for (int ll = ld; ll <= enm2; ++ll) {
      l = enm2 + ld - ll;
      if (l == ld) goto L140;
      lm1 = l - 1, l1 = l + 1;
      t = a(l, l);
      if (std::fabs(b(l, l)) > epsb) t = t - sh * b(l, l);
      if (std::fabs(a(l, lm1)) <= std::fabs(t / a(l1, l)) * epsa) goto L100;
    }
  }
L140:
  a1 = a11 - sh, a2 = a21;
  if (l != ld) a(l, lm1) = -a(l, lm1);
  goto L160;
L155:
  a1 = 0.0, a2 = 1.0, a3 = 1.1605;
L160:
  ++its;
  for (int k = l; k <= na; ++k) {
    const bool notlas = k != na && ish == 2;
    const int k1 = k + 1, k2 = k + 2, km1 = std::max(k - 1, l), ll = std::min(en, k1 + ish);
    if (!notlas) {
      if (k != l) a1 = a(k, km1), a2 = a(k1, km1);
      if (std::fabs(a1) + std::fabs(a2) == 0.0) goto L70;
      const Reflection<2> h({a1, a2});
      h.rows(a, {k, k1}, km1, enorn);
      h.rows(b, {k, k1}, km1, enorn);
      if (k != l) a(k1, km1) = 0.0;
    } else {
      if (k != l) a1 = a(k, km1), a2 = a(k1, km1), a3 = a(k2, km1);
      if (std::fabs(a1) + std::fabs(a2) + std::fabs(a3) == 0.0) continue;
      const Reflection<3> h({a1, a2, a3});
      h.rows(a, {k, k1, k2}, km1, enorn);
      h.rows(b, {k, k1, k2}, km1, enorn);
      if (k != l) a(k1, km1) = 0.0, a(k2, km1) = 0.0;
      if (std::fabs(b(k2, k2)) + std::fabs(b(k2, k1)) + std::fabs(b(k2, k)) != 0.0) {
        const Reflection<3> g({b(k2, k2), b(k2, k1), b(k2, k)});
        g.columns(a, {k2, k1, k}, lor1, ll);
        g.columns(b, {k2, k1, k}, lor1, ll);
        b(k2, k) = 0.0, b(k2, k1) = 0.0;
        g.columns(z, {k2, k1, k}, 1, n);
      }
    }
    if (std::fabs(b(k1, k1)) + std::fabs(b(k1, k)) == 0.0) continue;
    const Reflection<2> h({b(k1, k1), b(k1, k)});
    h.columns(a, {k1, k}, lor1, ll);
    h.columns(b, {k1, k}, lor1, ll);
    b(k1, k) = 0.0;
    h.columns(z, {k1, k}, 1, n);
  }
  goto L70;
L1001:
  if (n > 1) b(n, 1) = epsb;
  return true;
}

void values(Pencil& p) {
  const int n = p.n;
  At a{p.a, n}, b{p.b, n}, z{p.z, n};
  const double epsb = n > 1 ? b(n, 1) : 0.0;
  auto alfr = [&](int j) -> double& { return p.alfr[j - 1]; };
  auto alfi = [&](int j) -> double& { return p.alfi[j - 1]; };
  auto beta = [&](int j) -> double& { return p.beta[j - 1]; };
  int isw = 1;
  for (int en = n; en >= 1; --en) {
    const int na = en - 1;
    double an = 0, bn = 0, e = 0, a11 = 0, a12 = 0, a21 = 0, a22 = 0, b11 = 0, b12 = 0, b22 = 0;
    double a1, a2;
    if (isw == 2) goto L505;
    if (en == 1 || a(en, na) == 0.0) {
      alfr(en) = b(en, en) < 0.0 ? -a(en, en) : a(en, en);
      beta(en) = std::fabs(b(en, en));
      alfi(en) = 0.0;
      continue;
    }
    if (std::fabs(b(na, na)) <= epsb) goto L455;
    if (std::fabs(b(en, en)) > epsb) goto L430;
    a1 = a(en, en), a2 = a(en, na), bn = 0.0;
    goto L435;
  L430:
    an = std::fabs(a(na, na)) + std::fabs(a(na, en)) + std::fabs(a(en, na)) + std::fabs(a(en, en));
    bn = std::fabs(b(na, na)) + std::fabs(b(na, en)) + std::fabs(b(en, en));
    a11 = a(na, na) / an, a12 = a(na, en) / an, a21 = a(en, na) / an, a22 = a(en, en) / an;
    b11 = b(na, na) / bn, b12 = b(na, en) / bn, b22 = b(en, en) / bn;
    {
      e = a11 / b11;
      double ei = a22 / b22;
      const double s = a21 / (b11 * b22);
      double t = (a22 - e * b22) / b22;
      if (std::fabs(e) > std::fabs(ei)) e = ei, t = (a11 - e * b11) / b11;
      const double c = 0.5 * (t - s * b12);
      double d = c * c + s * (a12 - e * b12);
      if (std::fabs(d) < std::sqrt(double(n)) * 2.220446049250313e-14) d = 0.0;
      if (d < 0.0) {
        e = e + c, ei = std::sqrt(-d);
        const double a11r = a11 - e * b11, a11i = ei * b11, a12r = a12 - e * b12, a12i = ei * b12,
                     a22r = a22 - e * b22, a22i = ei * b22;
        double a1i, a2i, cz, szr, szi, cq, sqr, sqi;
        if (std::fabs(a11r) + std::fabs(a11i) + std::fabs(a12r) + std::fabs(a12i) <
            std::fabs(a21) + std::fabs(a22r) + std::fabs(a22i)) {
          a1 = a22r, a1i = a22i, a2 = -a21, a2i = 0.0;
        } else {
          a1 = a12r, a1i = a12i, a2 = -a11r, a2i = -a11i;
        }
        cz = std::sqrt(a1 * a1 + a1i * a1i);
        if (cz == 0.0) {
          szr = 1.0, szi = 0.0;
        } else {
          szr = (a1 * a2 + a1i * a2i) / cz, szi = (a1 * a2i - a1i * a2) / cz;
          const double r = std::sqrt(cz * cz + szr * szr + szi * szi);
          cz = cz / r, szr = szr / r, szi = szi / r;
        }
        if (an < (std::fabs(e) + ei) * bn) {
          a1 = cz * a11 + szr * a12, a1i = szi * a12, a2 = cz * a21 + szr * a22, a2i = szi * a22;
        } else {
          a1 = cz * b11 + szr * b12, a1i = szi * b12, a2 = szr * b22, a2i = szi * b22;
        }
        cq = std::sqrt(a1 * a1 + a1i * a1i);
        if (cq == 0.0) {
          sqr = 1.0, sqi = 0.0;
        } else {
          sqr = (a1 * a2 + a1i * a2i) / cq, sqi = (a1 * a2i - a1i * a2) / cq;
          const double r = std::sqrt(cq * cq + sqr * sqr + sqi * sqi);
          cq = cq / r, sqr = sqr / r, sqi = sqi / r;
        }
        const double ssr = sqr * szr + sqi * szi, ssi = sqr * szi - sqi * szr;
        for (int i = 1; i <= 2; ++i) {
          double tr, ti, dr, di;
          if (i == 1) {
            tr = cq * cz * a11 + cq * szr * a12 + sqr * cz * a21 + ssr * a22;
            ti = cq * szi * a12 - sqi * cz * a21 + ssi * a22;
            dr = cq * cz * b11 + cq * szr * b12 + ssr * b22;
            di = cq * szi * b12 + ssi * b22;
          } else {
            tr = ssr * a11 - sqr * cz * a12 - cq * szr * a21 + cq * cz * a22;
            ti = -ssi * a11 - sqi * cz * a12 + cq * szi * a21;
            dr = ssr * b11 - sqr * cz * b12 + cq * cz * b22;
            di = -ssi * b11 - sqi * cz * b12;
          }
          const double tt = ti * dr - tr * di;
          const int j = tt < 0.0 ? en : na;
          const double r = std::sqrt(dr * dr + di * di);
          beta(j) = bn * r, alfr(j) = an * (tr * dr + ti * di) / r, alfi(j) = an * tt / r;
        }
        goto L505;
      }
      e = e + (c + sign(std::sqrt(d), c));
      a11 = a11 - e * b11, a12 = a12 - e * b12, a22 = a22 - e * b22;
      if (std::fabs(a11) + std::fabs(a12) < std::fabs(a21) + std::fabs(a22)) {
        a1 = a22, a2 = a21;
      } else {
        a1 = a12, a2 = a11;
      }
    }
  L435 : {
    const Reflection<2> h({a1, a2});
    h.columns(a, {en, na}, 1, en);
    h.columns(b, {en, na}, 1, en);
    h.columns(z, {en, na}, 1, n);
  }
    if (bn == 0.0) goto L475;
    if (an < std::fabs(e) * bn) goto L455;
    a1 = b(na, na), a2 = b(en, na);
    goto L460;
  L455:
    a1 = a(na, na), a2 = a(en, na);
  L460:
    if (std::fabs(a1) + std::fabs(a2) == 0.0) goto L475;
    {
      const Reflection<2> h({a1, a2});
      h.rows(a, {na, en}, na, n);
      h.rows(b, {na, en}, na, n);
    }
  L475:
    a(en, na) = 0.0, b(en, na) = 0.0;
    alfr(na) = b(na, na) < 0.0 ? -a(na, na) : a(na, na);
    alfr(en) = b(en, en) < 0.0 ? -a(en, en) : a(en, en);
    beta(na) = std::fabs(b(na, na)), beta(en) = std::fabs(b(en, en));
    alfi(en) = 0.0, alfi(na) = 0.0;
  L505:
    isw = 3 - isw;
  }
  if (n > 1) b(n, 1) = epsb;
}

// The complex quotient (tr + i ti) / (dr + i di).
void divide(double tr, double ti, double dr, double di, double& t1, double& t2) {
  if (std::fabs(di) > std::fabs(dr)) {
    const double rr = dr / di, d = dr * rr + di;
    t1 = (tr * rr + ti) / d, t2 = (ti * rr - tr) / d;
  } else {
    const double rr = di / dr, d = dr + di * rr;
    t1 = (tr + ti * rr) / d, t2 = (ti - tr * rr) / d;
  }
}

void vectors(Pencil& p) {
  const int n = p.n;
  At a{p.a, n}, b{p.b, n}, z{p.z, n};
  const double epsb = n > 1 ? b(n, 1) : 0.0;
  auto alfr = [&](int j) { return p.alfr[j - 1]; };
  auto alfi = [&](int j) { return p.alfi[j - 1]; };
  auto beta = [&](int j) { return p.beta[j - 1]; };
  int isw = 1;
  for (int en = n; en >= 1; --en) {
    const int na = en - 1;
    if (isw == 2) {
      isw = 3 - isw;
      continue;
    }
    if (alfi(en) == 0.0) {
      int m = en;
      b(en, en) = 1.0;
      if (na == 0) continue;
      const double alfm = alfr(m), betm = beta(m);
      double zz = 0, s = 0;
      for (int i = en - 1; i >= 1; --i) {
        const double w = betm * a(i, i) - alfm * b(i, i);
        double r = 0.0;
        for (int j = m; j <= en; ++j) r = r + (betm * a(i, j) - alfm * b(i, j)) * b(j, en);
        if (i != 1 && isw != 2 && betm * a(i, i - 1) != 0.0) {
          zz = w, s = r, isw = 3 - isw;
          continue;
        }
        m = i;
        if (isw != 2) {
          const double t = w == 0.0 ? epsb : w;
          b(i, en) = -r / t;
          continue;
        }
        const double x = betm * a(i, i + 1) - alfm * b(i, i + 1), y = betm * a(i + 1, i);
        const double q = w * zz - x * y, t = (x * s - zz * r) / q;
        b(i, en) = t;
        b(i + 1, en) = std::fabs(x) <= std::fabs(zz) ? (-s - y * t) / zz : (-r - w * t) / x;
        isw = 3 - isw;
      }
      continue;
    }
    int m = na;
    const double almr = alfr(m), almi = alfi(m), betm = beta(m);
    double y = betm * a(en, na);
    b(na, na) = -almi * b(en, en) / y;
    b(na, en) = (almr * b(en, en) - betm * a(en, en)) / y;
    b(en, na) = 0.0, b(en, en) = 1.0;
    double zz = 0, z1 = 0, r = 0, s = 0;
    for (int i = na - 1; i >= 1; --i) {
      const double w = betm * a(i, i) - almr * b(i, i), w1 = -almi * b(i, i);
      double ra = 0.0, sa = 0.0;
      for (int j = m; j <= en; ++j) {
        const double x = betm * a(i, j) - almr * b(i, j), x1 = -almi * b(i, j);
        ra = ra + x * b(j, na) - x1 * b(j, en);
        sa = sa + x * b(j, en) + x1 * b(j, na);
      }
      if (i != 1 && isw != 2 && betm * a(i, i - 1) != 0.0) {
        zz = w, z1 = w1, r = ra, s = sa, isw = 2;
        continue;
      }
      m = i;
      double t1, t2;
      if (isw == 2) {
        const double x = betm * a(i, i + 1) - almr * b(i, i + 1), x1 = -almi * b(i, i + 1);
        y = betm * a(i + 1, i);
        const double tr = y * ra - w * r + w1 * s, ti = y * sa - w * s - w1 * r;
        double dr = w * zz - w1 * z1 - x * y;
        const double di = w * z1 + w1 * zz - x1 * y;
        if (dr == 0.0 && di == 0.0) dr = epsb;
        divide(tr, ti, dr, di, t1, t2);
        b(i + 1, na) = t1, b(i + 1, en) = t2;
        isw = 1;
        if (std::fabs(y) > std::fabs(w) + std::fabs(w1)) {
          t1 = (-r - zz * b(i + 1, na) + z1 * b(i + 1, en)) / y;
          t2 = (-s - zz * b(i + 1, en) - z1 * b(i + 1, na)) / y;
        } else {
          divide(-ra - x * b(i + 1, na) + x1 * b(i + 1, en),
                 -sa - x * b(i + 1, en) - x1 * b(i + 1, na), w, w1, t1, t2);
        }
      } else {
        divide(-ra, -sa, w, w1, t1, t2);
      }
      b(i, na) = t1, b(i, en) = t2;
    }
    isw = 3 - isw;
  }
  for (int j = n; j >= 1; --j) {
    for (int i = 1; i <= n; ++i) {
      double zz = 0.0;
      for (int k = 1; k <= j; ++k) zz = zz + z(i, k) * b(k, j);
      z(i, j) = zz;
    }
  }
  for (int j = 1; j <= n; ++j) {
    double d = 0.0;
    if (isw == 2) {
      for (int i = 1; i <= n; ++i) {
        double r = std::fabs(z(i, j - 1)) + std::fabs(z(i, j));
        if (r != 0.0) {
          r = r * std::sqrt((z(i, j - 1) / r) * (z(i, j - 1) / r) + (z(i, j) / r) * (z(i, j) / r));
        }
        if (r > d) d = r;
      }
      for (int i = 1; i <= n; ++i) z(i, j - 1) = z(i, j - 1) / d, z(i, j) = z(i, j) / d;
    } else if (alfi(j) == 0.0) {
      for (int i = 1; i <= n; ++i) d = std::max(d, std::fabs(z(i, j)));
      for (int i = 1; i <= n; ++i) z(i, j) = z(i, j) / d;
      continue;
    }
    isw = 3 - isw;
  }
}

// The pack's stages on a copy; false when the iteration gives up.
bool packStages(Pencil& p, bool withVectors) {
  const int n = p.n;
  const PartView a(p.a.data(), n), b(p.b.data(), n), z(p.z.data(), n);
  const PartView zz = withVectors ? z : PartView();
  EXPECT_EQ(eigen::qz_hessenberg(a, b, zz, n, Interrupt()), nullptr);
  if (eigen::qz_iterate(a, b, zz, n, Interrupt())) return false;
  eigen::qz_values(a, b, n, p.alfr.data(), p.alfi.data(), p.beta.data(), zz);
  if (withVectors) {
    EXPECT_EQ(
        eigen::qz_vectors(a, b, n, p.alfr.data(), p.alfi.data(), p.beta.data(), z, Interrupt()),
        nullptr);
  }
  return true;
}

// The same bits, or both not a number (which NaN an operation passes on depends on the
// order the compiler gives its operands).
bool same(const std::vector<double>& x, const std::vector<double>& y) {
  for (size_t k = 0; k < x.size(); ++k) {
    if (std::isnan(x[k]) && std::isnan(y[k])) continue;
    if (std::memcmp(&x[k], &y[k], sizeof(double)) != 0) return false;
  }
  return true;
}

// Pencils with real and complex eigenvalues, infinite ones (B singular), zero ones (A
// singular), repeated ones, blocks of zeros that make the iteration split and chase, a
// cycle that needs the fixed shift, and nearly real pairs.
std::vector<Pencil> pencils() {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::uniform_int_distribution<int> small(-1, 1);
  std::vector<Pencil> list;
  const int largest = sizeof(void*) == 8 ? 60 : 16;
  for (int n : {1, 2, 3, 4, 6, 9, 17, largest}) {
    for (int kind = 0; kind < 7; ++kind) {
      Pencil p(n);
      for (int k = 0; k < n * n; ++k) {
        p.a[k] = kind == 4 ? small(rng) : uniform(rng);
        p.b[k] = kind == 4 ? small(rng) : uniform(rng);
      }
      if (kind == 1) {
        for (int i = 0; i < n; ++i) p.b[i + (n - 1) * n] = p.b[i];  // B singular
      }
      if (kind == 2) {
        for (int i = 0; i < n; ++i) p.a[i + (n / 2) * n] = 0.0;  // A singular
      }
      if (kind == 3) {  // B = I, A triangular with one eigenvalue, 2, repeated
        for (int j = 0; j < n; ++j) {
          for (int i = 0; i < n; ++i) {
            p.b[i + j * n] = i == j;
            p.a[i + j * n] = i > j ? 0.0 : i == j ? 2.0 : p.a[i + j * n];
          }
        }
      }
      if (kind >= 5) {
        for (int j = 0; j < n; ++j) {
          for (int i = 0; i < n; ++i) p.a[i + j * n] = 0.0, p.b[i + j * n] = i == j;
        }
      }
      if (kind == 5) {  // a cyclic permutation: the shifts stall without the fixed one
        for (int i = 0; i < n; ++i) p.a[(i + 1) % n + i * n] = 1.0;
      }
      if (kind == 6) {  // 2 x 2 blocks [2 + j, 1; -1e-16, 2 + j]: a double root, barely complex
        for (int j = 0; j + 1 < n; j += 2) {
          p.a[j + j * n] = p.a[j + 1 + (j + 1) * n] = 2.0 + j;
          p.a[j + (j + 1) * n] = 1.0;
          p.a[j + 1 + j * n] = -1e-16;
        }
      }
      list.push_back(p);
    }
  }
  return list;
}

TEST(QzReference, BitForBitThePlainFormulation) {
  int index = 0;
  for (const Pencil& original : pencils()) {
    SCOPED_TRACE("pencil " + std::to_string(index++) + ", order " + std::to_string(original.n));
    for (bool withVectors : {false, true}) {
      Pencil expected = original, actual = original;
      reduce(expected);
      const bool converged = iterate(expected);
      ASSERT_EQ(packStages(actual, withVectors), converged);
      if (!converged) continue;
      values(expected);
      if (withVectors) vectors(expected);
      EXPECT_TRUE(same(actual.alfr, expected.alfr));
      EXPECT_TRUE(same(actual.alfi, expected.alfi));
      EXPECT_TRUE(same(actual.beta, expected.beta));
      if (withVectors) {
        EXPECT_TRUE(same(actual.z, expected.z));
      }
    }
  }
}

}  // namespace
