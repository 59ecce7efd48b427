// The singular value routines, herm_eigvals and the complex 2-norm run their loops down
// columns for speed.
// That changes the order in which elements are visited, never the operations one element
// goes through, so the results must be bit for bit those of the plain formulations
// transcribed below: the Golub-Reinsch decomposition with its row transformations row by
// row and its sums one at a time, and the Householder reduction of a Hermitian matrix
// row by row followed by the rational QL iteration.
#include <cfloat>
#include <cstring>
#include <string>

#include "svd/hermitian.h"
#include "svd/svd.h"
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

// Column-major m x n real matrix.
struct Real {
  int rows, cols;
  std::vector<double> a;
  Real(int rows, int cols) : rows(rows), cols(cols), a(size_t(rows) * cols) {}
  double& operator()(int i, int j) { return a[i + size_t(j) * rows]; }
};

long double sq(long double x) {
  return x * x;
}

// The decomposition of `a` (m >= n) as the row-by-row formulation has it: a becomes U.
struct Plain {
  Real u, v;
  std::vector<double> w;
  bool ok = true;
};

Plain plainSvd(Real a, bool vectors) {
  const int m = a.rows, n = a.cols;
  Plain p{a, Real(n, n), std::vector<double>(n)};
  Real& u = p.u;
  Real& v = p.v;
  std::vector<double>& w = p.w;
  std::vector<double> rv1(n);
  double g = 0, scale = 0, anorm = 0;
  int l = 0;
  for (int i = 0; i < n; ++i) {
    l = i + 1;
    rv1[i] = scale * g;
    g = scale = 0;
    double s = 0;
    for (int k = i; k < m; ++k) scale += std::fabs(u(k, i));
    if (scale != 0) {
      for (int k = i; k < m; ++k) u(k, i) /= scale, s += u(k, i) * u(k, i);
      double f = u(i, i);
      g = f >= 0 ? -std::sqrt(s) : std::sqrt(s);
      double h = f * g - s;
      u(i, i) = f - g;
      for (int j = l; j < n && i != n - 1; ++j) {
        double t = 0;
        for (int k = i; k < m; ++k) t += u(k, i) * u(k, j);
        f = t / h;
        for (int k = i; k < m; ++k) u(k, j) += f * u(k, i);
      }
      for (int k = i; k < m; ++k) u(k, i) *= scale;
    }
    w[i] = scale * g;
    g = s = scale = 0;
    if (i != n - 1) {
      for (int k = l; k < n; ++k) scale += std::fabs(u(i, k));
      if (scale != 0) {
        for (int k = l; k < n; ++k) u(i, k) /= scale, s += u(i, k) * u(i, k);
        double f = u(i, l);
        g = f >= 0 ? -std::sqrt(s) : std::sqrt(s);
        double h = f * g - s;
        u(i, l) = f - g;
        for (int k = l; k < n; ++k) rv1[k] = u(i, k) / h;
        for (int j = l; j < m && i != m - 1; ++j) {
          double t = 0;
          for (int k = l; k < n; ++k) t += u(j, k) * u(i, k);
          for (int k = l; k < n; ++k) u(j, k) += t * rv1[k];
        }
        for (int k = l; k < n; ++k) u(i, k) *= scale;
      }
    }
    anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
  }
  for (int i = n - 1; i >= 0 && vectors; --i) {
    if (i < n - 1) {
      if (g != 0) {
        for (int j = l; j < n; ++j) v(j, i) = (u(i, j) / u(i, l)) / g;
        for (int j = l; j < n; ++j) {
          double t = 0;
          for (int k = l; k < n; ++k) t += u(i, k) * v(k, j);
          for (int k = l; k < n; ++k) v(k, j) += t * v(k, i);
        }
      }
      for (int j = l; j < n; ++j) v(i, j) = v(j, i) = 0;
    }
    v(i, i) = 1;
    g = rv1[i];
    l = i;
  }
  for (int i = n - 1; i >= 0 && vectors; --i) {
    l = i + 1;
    g = w[i];
    for (int j = l; j < n; ++j) u(i, j) = 0;
    if (g != 0) {
      for (int j = l; j < n; ++j) {
        double t = 0;
        for (int k = l; k < m; ++k) t += u(k, i) * u(k, j);
        const double f = (t / u(i, i)) / g;
        for (int k = i; k < m; ++k) u(k, j) += f * u(k, i);
      }
      for (int j = i; j < m; ++j) u(j, i) /= g;
    } else {
      for (int j = i; j < m; ++j) u(j, i) = 0;
    }
    u(i, i) += 1;
  }
  auto rotate = [&](Real& x, int p, int q, double c, double s) {
    if (!vectors) return;
    for (int r = 0; r < x.rows; ++r) {
      const double y = x(r, p), z = x(r, q);
      x(r, p) = y * c + z * s;
      x(r, q) = z * c - y * s;
    }
  };
  const double eps = anorm * 2.220446049250313e-16;
  for (int k = n - 1; k >= 0; --k) {
    for (int its = 0;; ++its) {
      bool cancel = false;
      for (l = k; l > 0; --l) {
        if (std::fabs(rv1[l]) <= eps) break;
        if (std::fabs(w[l - 1]) <= eps) {
          cancel = true;
          break;
        }
      }
      if (cancel) {
        double c = 0, s = 1;
        for (int i = l; i <= k; ++i) {
          const double f = s * rv1[i];
          rv1[i] = c * rv1[i];
          if (std::fabs(f) <= eps) break;
          const double gg = w[i];
          if (sq(f) > DBL_MAX || sq(gg) > DBL_MAX) return p.ok = false, p;
          const double h = static_cast<double>(std::sqrt(sq(gg) + sq(f)));
          w[i] = h;
          c = gg / h;
          s = -f / h;
          rotate(u, l - 1, i, c, s);
        }
      }
      const double z = w[k];
      if (l == k) {
        if (z < 0) {
          w[k] = -z;
          for (int r = 0; r < n && vectors; ++r) v(r, k) = -v(r, k);
        }
        break;
      }
      if (its == 100) return p.ok = false, p;
      const long double x0 = w[l], y0 = w[k - 1], g0 = rv1[k - 1], h0 = rv1[k], z0 = z;
      double f =
          static_cast<double>(((y0 - z0) * (y0 + z0) + (g0 - h0) * (g0 + h0)) / (2.0L * h0 * y0));
      double root = static_cast<double>(std::sqrt(sq(f) + 1.0L));
      if (f < 0) root = -root;
      f = static_cast<double>(((x0 - z0) * (x0 + z0) + h0 * (y0 / ((long double)f + root) - h0)) /
                              x0);
      double c = 1, s = 1, x = w[l];
      for (int j = l; j < k; ++j) {
        const int i = j + 1;
        double gg = rv1[i], y = w[i], h = s * gg;
        gg = c * gg;
        if (sq(f) > DBL_MAX || sq(h) > DBL_MAX) return p.ok = false, p;
        double zz = static_cast<double>(std::sqrt(sq(f) + sq(h)));
        rv1[j] = zz;
        c = f / zz;
        s = h / zz;
        f = x * c + gg * s;
        gg = gg * c - x * s;
        h = y * s;
        y = y * c;
        rotate(v, j, i, c, s);
        if (sq(f) > DBL_MAX || sq(h) > DBL_MAX) return p.ok = false, p;
        zz = static_cast<double>(std::sqrt(sq(f) + sq(h)));
        w[j] = zz;
        if (zz != 0) c = f / zz, s = h / zz;
        f = c * gg + s * y;
        x = c * y - s * gg;
        rotate(u, j, i, c, s);
      }
      rv1[l] = 0;
      rv1[k] = f;
      w[k] = x;
    }
  }
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i) order[i] = i;
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      if (w[i] < w[j]) std::swap(w[i], w[j]), std::swap(order[i], order[j]);
    }
  }
  const Real u0 = u, v0 = v;
  for (int j = 0; j < n && vectors; ++j) {
    for (int r = 0; r < m; ++r) u(r, j) = u0.a[r + size_t(order[j]) * m];
    for (int r = 0; r < n; ++r) v(r, j) = v0.a[r + size_t(order[j]) * n];
  }
  return p;
}

bool sameBits(const double* x, const double* y, size_t count) {
  return std::memcmp(x, y, count * sizeof(double)) == 0;
}

// Random, graded, rank-deficient and sparse with small whole numbers (exact zeros and
// ties), square and tall.
std::vector<Real> matrices() {
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::uniform_int_distribution<int> small(-2, 2);
  std::vector<Real> list;
  for (int n : {1, 2, 3, 6, 17, 40}) {
    for (int m : {n, 2 * n + 1}) {
      Real random(m, n), graded(m, n), sparse(m, n), deficient(m, n);
      for (int j = 0; j < n; ++j) {
        for (int i = 0; i < m; ++i) {
          random(i, j) = uniform(rng);
          graded(i, j) = uniform(rng) * std::pow(10.0, 8.0 * i / m);
          sparse(i, j) = small(rng) * (small(rng) == 0);
          deficient(i, j) = (i % 3 + 1) * (j % 2 + 1);
        }
      }
      list.insert(list.end(), {random, graded, sparse, deficient});
    }
  }
  return list;
}

class RowByRow : public LinalgTest {
 protected:
  aMatrix* hostMatrix(const Real& x) {
    aMatrix* m = host.allocator.matrix(x.rows, x.cols, true, false);
    std::copy(x.a.begin(), x.a.end(), m->re);
    return m;
  }
};

TEST_F(RowByRow, DecompositionIsBitIdentical) {
  for (const Real& a : matrices()) {
    const int m = a.rows, n = a.cols;
    SCOPED_TRACE(std::to_string(m) + " x " + std::to_string(n));
    const Plain expected = plainSvd(a, true);
    aMatrix* u = hostMatrix(a);
    aMatrix* v = host.allocator.matrix(n, n, true, false);
    aMatrix* w = host.allocator.matrix(n, 1, true, false);
    ASSERT_EQ(svd_core(u, v, w) == nullptr, expected.ok);
    if (!expected.ok) continue;
    EXPECT_TRUE(sameBits(w->re, expected.w.data(), n));
    EXPECT_TRUE(sameBits(u->re, expected.u.a.data(), size_t(m) * n));
    EXPECT_TRUE(sameBits(v->re, expected.v.a.data(), size_t(n) * n));

    const Plain values = plainSvd(a, false);
    aMatrix* b = hostMatrix(a);
    ASSERT_STREQ(svd_values(b), nullptr);
    for (int i = 0; i < n; ++i) EXPECT_TRUE(sameBits(&realPart(b)(i, i), &values.w[i], 1)) << i;
  }
}

// The Householder reduction and the rational QL iteration as the row-by-row formulation
// has them; `ar`, `ai` are destroyed.
std::vector<double> plainHermitianEigenvalues(Real ar, Real ai) {
  const int n = ar.rows;
  std::vector<double> d(n), e(n), e2(n), tr(n), ti(n);
  tr[n - 1] = 1, ti[n - 1] = 0;
  for (int i = 0; i < n; ++i) d[i] = ar(i, i);
  for (int i = n - 1; i >= 0; --i) {
    const int l = i - 1;
    double h = 0, scale = 0;
    if (l >= 0) {
      for (int k = 0; k <= l; ++k) scale = scale + std::fabs(ar(i, k)) + std::fabs(ai(i, k));
    }
    if (l < 0 || scale == 0) {
      if (l >= 0) tr[l] = 1, ti[l] = 0;
      e[i] = e2[i] = 0;
    } else {
      for (int k = 0; k <= l; ++k) {
        ar(i, k) /= scale, ai(i, k) /= scale;
        h = h + ar(i, k) * ar(i, k) + ai(i, k) * ai(i, k);
      }
      e2[i] = scale * scale * h;
      double g = std::sqrt(h);
      e[i] = scale * g;
      const double big = std::max(std::fabs(ar(i, l)), std::fabs(ai(i, l)));
      const double f =
          big == 0
              ? 0.0
              : big *
                    std::sqrt(
                        1 + std::pow(std::min(std::fabs(ar(i, l)), std::fabs(ai(i, l))) / big, 2));
      double si;
      bool update = true;
      if (f != 0) {
        tr[l] = (ai(i, l) * ti[i] - ar(i, l) * tr[i]) / f;
        si = (ar(i, l) * ti[i] + ai(i, l) * tr[i]) / f;
        h = h + f * g;
        g = 1 + g / f;
        ar(i, l) = g * ar(i, l), ai(i, l) = g * ai(i, l);
        update = l != 0;
      } else {
        tr[l] = -tr[i], si = ti[i], ar(i, l) = g;
      }
      if (update) {
        double ff = 0;
        for (int j = 0; j <= l; ++j) {
          double gg = 0, gi = 0;
          for (int k = 0; k <= j; ++k) {
            gg = gg + ar(j, k) * ar(i, k) + ai(j, k) * ai(i, k);
            gi = gi - ar(j, k) * ai(i, k) + ai(j, k) * ar(i, k);
          }
          for (int k = j + 1; k <= l; ++k) {
            gg = gg + ar(k, j) * ar(i, k) - ai(k, j) * ai(i, k);
            gi = gi - ar(k, j) * ai(i, k) - ai(k, j) * ar(i, k);
          }
          e[j] = gg / h, ti[j] = gi / h;
          ff = ff + e[j] * ar(i, j) - ti[j] * ai(i, j);
        }
        const double hh = ff / (h + h);
        for (int j = 0; j <= l; ++j) {
          const double fr = ar(i, j), gr = e[j] - hh * fr, fi = -ai(i, j), gi = ti[j] - hh * fi;
          e[j] = gr, ti[j] = -gi;
          for (int k = 0; k <= j; ++k) {
            ar(j, k) = ar(j, k) - fr * e[k] - gr * ar(i, k) + fi * ti[k] + gi * ai(i, k);
            ai(j, k) = ai(j, k) - fr * ti[k] - gr * ai(i, k) - fi * e[k] - gi * ar(i, k);
          }
        }
      }
      for (int k = 0; k <= l; ++k) ar(i, k) = scale * ar(i, k), ai(i, k) = scale * ai(i, k);
      ti[l] = -si;
    }
    const double held = d[i];
    d[i] = ar(i, i), ar(i, i) = held, ai(i, i) = scale * std::sqrt(h);
  }
  for (int i = 1; i < n; ++i) e2[i - 1] = e2[i];
  e2[n - 1] = 0;
  double f = 0, b = 0, c = 0;
  for (int l = 0; l < n; ++l) {
    const double t = 2.220446049250313e-16 * (std::fabs(d[l]) + std::sqrt(e2[l]));
    if (t >= b) b = t, c = b * b;
    int m = l;
    while (e2[m] > c) ++m;
    for (int j = 0; m != l; ++j) {
      if (j == 30) return {};
      double s = std::sqrt(e2[l]), g = d[l], p = (d[l + 1] - g) / (2 * s), r = std::sqrt(p * p + 1);
      d[l] = p >= 0 ? s / (p + r) : s / (p - r);
      double h = g - d[l];
      for (int i = l + 1; i < n; ++i) d[i] -= h;
      f += h;
      g = d[m] == 0 ? b : d[m];
      h = g, s = 0;
      for (int i = m - 1; i >= l; --i) {
        p = g * h, r = p + e2[i], e2[i + 1] = s * r, s = e2[i] / r;
        d[i + 1] = h + s * (h + d[i]);
        g = d[i] - e2[i] / g;
        if (g == 0) g = b;
        h = g * p / r;
      }
      e2[l] = s * g, d[l] = h;
      if (h == 0 || std::fabs(e2[l]) <= std::fabs(c / h)) break;
      e2[l] = h * e2[l];
      if (e2[l] == 0) break;
    }
    const double p = d[l] + f;
    int i = l;
    for (; i > 0 && p < d[i - 1]; --i) d[i] = d[i - 1];
    d[i] = p;
  }
  return d;
}

TEST_F(RowByRow, HermitianEigenvaluesAreBitIdentical) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  for (int n : {1, 2, 3, 4, 9, 33, 70}) {
    SCOPED_TRACE("order " + std::to_string(n));
    Real ar(n, n), ai(n, n);
    for (double& x : ar.a) x = uniform(rng);
    for (double& x : ai.a) x = uniform(rng);
    // A row with nothing left of the diagonal but a zero, and one whose last element is 0.
    if (n > 3) {
      for (int k = 0; k < 2; ++k) ar(2, k) = ai(2, k) = 0;
      ar(3, 2) = ai(3, 2) = 0;
    }
    const std::vector<double> expected = plainHermitianEigenvalues(ar, ai);
    aMatrix* h = host.allocator.matrix(n, n, true, true);
    std::copy(ar.a.begin(), ar.a.end(), h->re);
    std::copy(ai.a.begin(), ai.a.end(), h->im);
    std::vector<double> values(n);
    ASSERT_STREQ(herm_eigvals(h, values.data()), nullptr);
    ASSERT_EQ(expected.size(), size_t(n));
    EXPECT_TRUE(sameBits(values.data(), expected.data(), n));
  }
}

// The complex 2-norm: A^H A formed entry by entry, each entry's sum in increasing k, then
// the eigenvalues as above.
TEST_F(RowByRow, ComplexNorm2IsBitIdentical) {
  std::mt19937 rng(19);
  for (int n : {1, 2, 5, 9, 17, 40}) {
    SCOPED_TRACE("order " + std::to_string(n));
    const Dense a = randomMatrix(n, n, true, rng);
    Real hr(n, n), hi(n, n);
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i <= j; ++i) {
        double re = 0, im = 0;
        for (int k = 0; k < n; ++k) {
          const double xr = a(k, i).real(), xi = a(k, i).imag();
          const double yr = a(k, j).real(), yi = a(k, j).imag();
          re = re + (xr * yr + xi * yi);
          im = im + (xr * yi - xi * yr);
        }
        hr(i, j) = hr(j, i) = re;
        hi(i, j) = hi(j, i) = im;
      }
    }
    const std::vector<double> d = plainHermitianEigenvalues(hr, hi);
    double largest = d[0];
    for (int i = 1; i < n; ++i) largest = std::max(largest, std::fabs(d[i]));
    const double expected = std::sqrt(largest);
    const Anyval* norm = call("norm2", {value(a)});
    ASSERT_EQ(norm->tag, kTagScalar);
    EXPECT_TRUE(sameBits(&as<aComplex>(norm)->re, &expected, 1));
  }
}

}  // namespace
