// The eigensolvers' stages that run their loops down columns give bit for bit what the
// textbook loops give: the loops below are those, row by row as published, and each stage
// must reproduce them exactly on random matrices and on sparse ones with small whole numbers
// (exact zeros, ties between pivots, skipped rows).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "eigen/complex.h"
#include "eigen/general.h"
#include "eigen/symmetric.h"
#include "linalg/field.h"
#include "linalg/vector_units.h"

namespace {

using eigen::Block;
using linalg::Complex;
using linalg::SmithDivisor;

// A column-major n x n matrix of doubles.
struct Square {
  int n;
  std::vector<double> a;
  explicit Square(int n) : n(n), a(size_t(n) * n) {}
  double& operator()(int i, int j) { return a[i + size_t(j) * n]; }
  PartView view() { return {a.data(), n}; }
};

// Bit for bit, except that any NaN equals any other: which operand's NaN an operation passes
// on is the processor's choice, not the loop order's.
bool sameBits(double x, double y) {
  return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof(double)) == 0;
}
bool sameBits(const std::vector<double>& x, const std::vector<double>& y) {
  if (x.size() != y.size()) return false;
  for (size_t k = 0; k < x.size(); ++k) {
    if (!sameBits(x[k], y[k])) return false;
  }
  return true;
}

// Random entries, or small whole numbers with many zeros.
Square sample(int n, bool sparse, std::mt19937& rng) {
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::uniform_int_distribution<int> small(-2, 2);
  Square m(n);
  for (double& x : m.a) x = sparse ? small(rng) * (small(rng) != 0) : uniform(rng);
  return m;
}

const int kOrders[] = {1, 2, 3, 5, 8, 17, 40};

// Householder tridiagonalisation as published, row by row.
void textbookTridiagonal(Square& a, int n, std::vector<double>& d, std::vector<double>& e,
                         bool vectors) {
  for (int i = n - 1; i >= 1; --i) {
    const int l = i - 1;
    double h = 0.0;
    if (l > 0) {
      double scale = 0.0;
      for (int k = 0; k <= l; ++k) scale += std::fabs(a(i, k));
      if (scale == 0.0) {
        e[i] = a(i, l);
      } else {
        for (int k = 0; k <= l; ++k) {
          a(i, k) /= scale;
          h += a(i, k) * a(i, k);
        }
        double f = a(i, l);
        double g = f > 0.0 ? -std::sqrt(h) : std::sqrt(h);
        e[i] = scale * g;
        h -= f * g;
        a(i, l) = f - g;
        f = 0.0;
        for (int j = 0; j <= l; ++j) {
          if (vectors) a(j, i) = a(i, j) / h;
          g = 0.0;
          for (int k = 0; k <= j; ++k) g += a(j, k) * a(i, k);
          for (int k = j + 1; k <= l; ++k) g += a(k, j) * a(i, k);
          e[j] = g / h;
          f += e[j] * a(i, j);
        }
        const double hh = f / (h + h);
        for (int j = 0; j <= l; ++j) {
          f = a(i, j);
          e[j] = g = e[j] - hh * f;
          for (int k = 0; k <= j; ++k) a(j, k) -= (f * e[k] + g * a(i, k));
        }
      }
    } else {
      e[i] = a(i, l);
    }
    d[i] = h;
  }
  d[0] = e[0] = 0.0;
  for (int i = 0; i < n; ++i) {
    if (!vectors) {
      d[i] = a(i, i);
      continue;
    }
    const int l = i - 1;
    if (d[i] != 0.0) {
      for (int j = 0; j <= l; ++j) {
        double g = 0.0;
        for (int k = 0; k <= l; ++k) g += a(i, k) * a(k, j);
        for (int k = 0; k <= l; ++k) a(k, j) -= g * a(k, i);
      }
    }
    d[i] = a(i, i);
    a(i, i) = 1.0;
    for (int j = 0; j <= l; ++j) a(j, i) = a(i, j) = 0.0;
  }
}

TEST(EigensolverReference, TridiagonalReduction) {
  std::mt19937 rng(5);
  for (int n : kOrders) {
    for (bool sparse : {false, true}) {
      for (bool vectors : {false, true}) {
        SCOPED_TRACE(std::to_string(n) + (sparse ? " sparse" : "") + (vectors ? " vectors" : ""));
        Square expected = sample(n, sparse, rng), actual = expected;
        std::vector<double> d1(n), e1(n), d2(n), e2(n);
        textbookTridiagonal(expected, n, d1, e1, vectors);
        ASSERT_EQ(tridiag_reduce(actual.view(), n, d2.data(), e2.data(), vectors), nullptr);
        EXPECT_TRUE(sameBits(expected.a, actual.a));
        EXPECT_TRUE(sameBits(d1, d2));
        EXPECT_TRUE(sameBits(e1, e2));
      }
    }
  }
}

// Elimination to Hessenberg form as published: row operation, then column operation, per
// row i.
void textbookElimination(Square& a, int n, Block b, std::vector<double>& pivots) {
  for (int m = b.low + 1; m < b.high; ++m) {
    double x = 0.0;
    int i = m;
    for (int j = m; j <= b.high; ++j) {
      if (std::fabs(a(j, m - 1)) > std::fabs(x)) x = a(j, m - 1), i = j;
    }
    pivots[m] = i;
    if (i != m) {
      for (int j = m - 1; j < n; ++j) std::swap(a(i, j), a(m, j));
      for (int j = 0; j <= b.high; ++j) std::swap(a(j, i), a(j, m));
    }
    if (x == 0.0) continue;
    for (i = m + 1; i <= b.high; ++i) {
      double y = a(i, m - 1);
      if (y == 0.0) continue;
      y /= x;
      a(i, m - 1) = y;
      for (int j = m; j < n; ++j) a(i, j) -= y * a(m, j);
      for (int j = 0; j <= b.high; ++j) a(j, m) += y * a(j, i);
    }
  }
}

TEST(EigensolverReference, EliminationToHessenberg) {
  std::mt19937 rng(6);
  for (int n : kOrders) {
    for (bool sparse : {false, true}) {
      // The whole matrix, and a block inside it (the rest as balancing would leave it).
      for (Block b : {Block{0, n - 1}, Block{n / 4, n - 1 - n / 5}}) {
        SCOPED_TRACE(std::to_string(n) + (sparse ? " sparse" : "") + " block " +
                     std::to_string(b.low) + ".." + std::to_string(b.high));
        Square expected = sample(n, sparse, rng);
        // A multiplier that underflows to zero must still be applied.
        if (n >= 3) expected(b.high, b.low) = 1e-300, expected(b.low + 1, b.low) = 1e300;
        Square actual = expected;
        std::vector<double> p1(n + 1, -1.0), p2(n + 1, -1.0), flags(n);
        textbookElimination(expected, n, b, p1);
        ASSERT_EQ(eigen::eliminateToHessenberg(actual.view(), n, b, p2.data(), flags.data()),
                  nullptr);
        EXPECT_TRUE(sameBits(expected.a, actual.a));
        EXPECT_TRUE(sameBits(p1, p2));
      }
    }
  }
}

// The double-shift QR iteration as published (hqr2 with Z, hqr without), row operations
// across each step's rows.
const char* textbookRealSchur(Square& h, Square* z, int n, Block b, std::vector<double>& wr,
                              std::vector<double>& wi) {
  const double eps = 2.220446049250313e-16;
  double norm = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int j = std::max(i - 1, 0); j < n; ++j) norm += std::fabs(h(i, j));
    if (i < b.low || i > b.high) wr[i] = h(i, i), wi[i] = 0.0;
  }
  int en = b.high, its = 0;
  double t = 0.0;
  while (en >= b.low) {
    int l = en;
    for (; l > b.low; --l) {
      double s = std::fabs(h(l - 1, l - 1)) + std::fabs(h(l, l));
      if (s == 0.0) s = norm;
      if (std::fabs(h(l, l - 1)) <= eps * s) break;
    }
    double x = h(en, en);
    if (l == en) {
      h(en, en) = x + t;
      wr[en] = h(en, en), wi[en] = 0.0, en -= 1, its = 0;
      continue;
    }
    const int na = en - 1;
    double y = h(na, na), w = h(en, na) * h(na, en), p, q, r, s, zz;
    if (l == na) {
      p = (y - x) / 2.0, q = p * p + w, zz = std::sqrt(std::fabs(q));
      h(en, en) = x + t, x = h(en, en), h(na, na) = y + t;
      if (q < 0.0) {
        wr[na] = wr[en] = x + p, wi[na] = zz, wi[en] = -zz;
      } else {
        zz = p >= 0.0 ? p + zz : p - zz;
        wr[na] = x + zz, wr[en] = wr[na];
        if (zz != 0.0) wr[en] = x - w / zz;
        wi[na] = wi[en] = 0.0;
        if (z) {
          x = h(en, na), s = std::fabs(x) + std::fabs(zz), p = x / s, q = zz / s;
          r = std::sqrt(p * p + q * q), p /= r, q /= r;
          for (int j = na; j < n; ++j) {
            zz = h(na, j), h(na, j) = q * zz + p * h(en, j), h(en, j) = q * h(en, j) - p * zz;
          }
          for (int i = 0; i <= en; ++i) {
            zz = h(i, na), h(i, na) = q * zz + p * h(i, en), h(i, en) = q * h(i, en) - p * zz;
          }
          for (int i = b.low; i <= b.high; ++i) {
            zz = (*z)(i, na), (*z)(i, na) = q * zz + p * (*z)(i, en);
            (*z)(i, en) = q * (*z)(i, en) - p * zz;
          }
        }
      }
      en -= 2, its = 0;
      continue;
    }
    if (its == 40) return "too many iterations";
    if (its == 10 || its == 20 || its == 30) {
      t += x;
      for (int i = b.low; i <= en; ++i) h(i, i) -= x;
      s = std::fabs(h(en, na)) + std::fabs(h(na, en - 2)), x = y = 0.75 * s, w = -0.4375 * s * s;
    }
    ++its;
    int m = en - 2;
    for (;; --m) {
      zz = h(m, m), r = x - zz, s = y - zz;
      p = (r * s - w) / h(m + 1, m) + h(m, m + 1), q = h(m + 1, m + 1) - zz - r - s;
      r = h(m + 2, m + 1), s = std::fabs(p) + std::fabs(q) + std::fabs(r);
      p /= s, q /= s, r /= s;
      if (m == l ||
          std::fabs(h(m, m - 1)) * (std::fabs(q) + std::fabs(r)) <=
              eps * std::fabs(p) *
                  (std::fabs(h(m - 1, m - 1)) + std::fabs(zz) + std::fabs(h(m + 1, m + 1)))) {
        break;
      }
    }
    for (int i = m + 2; i <= en; ++i) {
      h(i, i - 2) = 0.0;
      if (i != m + 2) h(i, i - 3) = 0.0;
    }
    for (int k = m; k <= na; ++k) {
      const bool notLast = k != na;
      if (k != m) {
        p = h(k, k - 1), q = h(k + 1, k - 1), r = notLast ? h(k + 2, k - 1) : 0.0;
        x = std::fabs(p) + std::fabs(q) + std::fabs(r);
        if (x == 0.0) continue;
        p /= x, q /= x, r /= x;
      }
      s = std::sqrt(p * p + q * q + r * r);
      if (p < 0.0) s = -s;
      if (k != m) {
        h(k, k - 1) = -s * x;
      } else if (l != m) {
        h(k, k - 1) = -h(k, k - 1);
      }
      p += s, x = p / s, y = q / s, zz = r / s, q /= p, r /= p;
      for (int j = k; j <= (z ? n - 1 : en); ++j) {
        p = h(k, j) + q * h(k + 1, j);
        if (notLast) p = p + r * h(k + 2, j), h(k + 2, j) -= p * zz;
        h(k + 1, j) -= p * y, h(k, j) -= p * x;
      }
      auto columns = [&](Square& a, int first, int last) {
        for (int i = first; i <= last; ++i) {
          p = x * a(i, k) + y * a(i, k + 1);
          if (notLast) p = p + zz * a(i, k + 2), a(i, k + 2) -= p * r;
          a(i, k + 1) -= p * q, a(i, k) -= p;
        }
      };
      columns(h, z ? 0 : l, std::min(en, k + 3));
      if (z) columns(*z, b.low, b.high);
    }
  }
  return nullptr;
}

// Hessenberg test matrices: random ones, and sparse ones with small whole numbers (exact
// deflations, ties), the part outside the block triangular as balancing leaves it.
Square hessenberg(int n, bool sparse, Block b, std::mt19937& rng) {
  Square h = sample(n, sparse, rng);
  for (int j = 0; j < n; ++j) {
    for (int i = j + 2; i < n; ++i) h(i, j) = 0.0;
    for (int i = j + 1; i < n; ++i) {
      if (!(b.low <= j && i <= b.high)) h(i, j) = 0.0;
    }
  }
  return h;
}

// Beyond order 40 a sweep takes more steps than the QR iteration batches.
const int kSchurOrders[] = {1, 2, 3, 5, 8, 17, 40, 70};

// Runs check(n, sparse, vectors, block) on Hessenberg matrices of the orders above, random
// and sparse, with and without vectors, with the sweeps' kernels as built for this
// processor and with the SSE2 ones.
template <class Check>
void forEachSchurCase(Check check) {
  for (bool baseline : {false, true}) {
    linalg::useBaselineKernels(baseline);
    for (int n : kSchurOrders) {
      for (bool sparse : {false, true}) {
        for (bool vectors : {false, true}) {
          SCOPED_TRACE(std::to_string(n) + (sparse ? " sparse" : "") + (vectors ? " vectors" : "") +
                       (baseline ? " SSE2" : ""));
          check(n, sparse, vectors, Block{n / 5, n - 1 - n / 6});
        }
      }
    }
  }
  linalg::useBaselineKernels(false);
}

TEST(EigensolverReference, RealSchur) {
  std::mt19937 rng(10);
  forEachSchurCase([&](int n, bool sparse, bool vectors, Block b) {
    Square expected = hessenberg(n, sparse, b, rng), actual = expected;
    Square z1 = sample(n, false, rng), z2 = z1;
    std::vector<double> wr1(n), wi1(n), wr2(n), wi2(n);
    double norm;
    const char* message = textbookRealSchur(expected, vectors ? &z1 : nullptr, n, b, wr1, wi1);
    EXPECT_EQ(eigen::realSchur(actual.view(), vectors ? z2.view() : PartView(), n, b, wr2.data(),
                               wi2.data(), norm),
              message);
    EXPECT_TRUE(sameBits(expected.a, actual.a));
    EXPECT_TRUE(sameBits(z1.a, z2.a));
    EXPECT_TRUE(sameBits(wr1, wr2));
    EXPECT_TRUE(sameBits(wi1, wi2));
  });
}

// A quasi-triangular matrix and its "eigenvalues": the diagonal, with some 2 x 2 blocks
// whose two values are a conjugate pair (positive imaginary part first).
struct QuasiTriangular {
  Square h;
  std::vector<double> wr, wi;
};

QuasiTriangular quasiTriangular(int n, bool sparse, std::mt19937& rng) {
  QuasiTriangular q{sample(n, sparse, rng), std::vector<double>(n), std::vector<double>(n)};
  for (int j = 0; j < n; ++j) {
    for (int i = j + 1; i < n; ++i) q.h(i, j) = 0.0;
    q.wr[j] = q.h(j, j);
  }
  for (int j = 0; j + 1 < n; j += 3) {
    q.h(j + 1, j) = sparse ? 1.0 : 0.5;
    q.wi[j] = 0.75, q.wi[j + 1] = -0.75;
  }
  return q;
}

// hqr2's back-substitution as published, rows summed along H's rows.
void textbookBackSubstitution(Square& h, int n, const std::vector<double>& wr,
                              const std::vector<double>& wi, double norm) {
  const double eps = 2.220446049250313e-16;
  for (int en = n - 1; en >= 0; --en) {
    const double p = wr[en];
    double q = wi[en];
    double w, x, y, zz = 0.0, r = 0.0, s = 0.0, t;
    if (q > 0.0) continue;
    if (q == 0.0) {
      int m = en;
      h(en, en) = 1.0;
      for (int i = en - 1; i >= 0; --i) {
        w = h(i, i) - p;
        r = h(i, en);
        for (int j = m; j <= en - 1; ++j) r += h(i, j) * h(j, en);
        if (wi[i] < 0.0) {
          zz = w, s = r;
          continue;
        }
        m = i;
        if (wi[i] == 0.0) {
          t = w == 0.0 ? eps * norm : w;
          h(i, en) = -r / t;
          continue;
        }
        x = h(i, i + 1), y = h(i + 1, i);
        q = (wr[i] - p) * (wr[i] - p) + wi[i] * wi[i];
        t = (x * s - zz * r) / q;
        h(i, en) = t;
        h(i + 1, en) = std::fabs(x) > std::fabs(zz) ? (-r - w * t) / x : (-s - y * t) / zz;
      }
      continue;
    }
    const int na = en - 1;
    int m = na;
    if (std::fabs(h(en, na)) > std::fabs(h(na, en))) {
      h(na, na) = q / h(en, na);
      h(na, en) = -(h(en, en) - p) / h(en, na);
    } else {
      const Complex c = SmithDivisor({h(na, na) - p, q}).divide({0.0, -h(na, en)});
      h(na, na) = c.re, h(na, en) = c.im;
    }
    h(en, na) = 0.0, h(en, en) = 1.0;
    for (int i = na - 1; i >= 0; --i) {
      w = h(i, i) - p;
      double ra = 0.0, sa = h(i, en);
      for (int j = m; j <= na; ++j) {
        ra += h(i, j) * h(j, na);
        sa += h(i, j) * h(j, en);
      }
      if (wi[i] < 0.0) {
        zz = w, r = ra, s = sa;
        continue;
      }
      m = i;
      if (wi[i] == 0.0) {
        const Complex c = SmithDivisor({w, q}).divide({-ra, -sa});
        h(i, na) = c.re, h(i, en) = c.im;
        continue;
      }
      x = h(i, i + 1), y = h(i + 1, i);
      double vr = (wr[i] - p) * (wr[i] - p) + wi[i] * wi[i] - q * q;
      const double vi = (wr[i] - p) * 2.0 * q;
      if (vr == 0.0 && vi == 0.0) {
        vr = eps * norm *
             (std::fabs(w) + std::fabs(q) + std::fabs(x) + std::fabs(y) + std::fabs(zz));
      }
      const Complex c =
          SmithDivisor({vr, vi}).divide({x * r - zz * ra + q * sa, x * s - zz * sa - q * ra});
      h(i, na) = c.re, h(i, en) = c.im;
      if (std::fabs(x) > std::fabs(zz) + std::fabs(q)) {
        h(i + 1, na) = (-ra - w * h(i, na) + q * h(i, en)) / x;
        h(i + 1, en) = (-sa - w * h(i, en) - q * h(i, na)) / x;
      } else {
        const Complex d = SmithDivisor({zz, q}).divide({-r - y * h(i, na), -s - y * h(i, en)});
        h(i + 1, na) = d.re, h(i + 1, en) = d.im;
      }
    }
  }
}

TEST(EigensolverReference, RealBackSubstitutionAndMultiplication) {
  std::mt19937 rng(7);
  for (int n : kOrders) {
    for (bool sparse : {false, true}) {
      SCOPED_TRACE(std::to_string(n) + (sparse ? " sparse" : ""));
      QuasiTriangular q = quasiTriangular(n, sparse, rng);
      Square expected = q.h, actual = q.h, scratch(n);
      textbookBackSubstitution(expected, n, q.wr, q.wi, 7.0);
      ASSERT_EQ(
          eigen::backSubstitute(actual.view(), n, q.wr.data(), q.wi.data(), 7.0, scratch.view()),
          nullptr);
      EXPECT_TRUE(sameBits(expected.a, actual.a));

      // z(i, j) = sum of z(i, k) h(k, j), k = low .. min(j, high), as published.
      const Block b{n / 4, n - 1 - n / 5};
      Square z = sample(n, sparse, rng), zExpected = z;
      for (int j = n - 1; j >= b.low; --j) {
        for (int i = b.low; i <= b.high; ++i) {
          double sum = 0.0;
          for (int k = b.low; k <= std::min(j, b.high); ++k)
            sum += zExpected(i, k) * expected(k, j);
          zExpected(i, j) = sum;
        }
      }
      std::vector<double> sums(n);
      ASSERT_EQ(eigen::multiplyBack(actual.view(), z.view(), n, b, sums.data()), nullptr);
      EXPECT_TRUE(sameBits(zExpected.a, z.a));
    }
  }
}

// The complex stages: a matrix as two part arrays.
struct ComplexSquare {
  Square re, im;
  linalg::ComplexField::View view() { return {re.view(), im.view()}; }
};

ComplexSquare complexSample(int n, bool sparse, std::mt19937& rng) {
  return {sample(n, sparse, rng), sample(n, sparse, rng)};
}

// corth as published, the right-hand reflection row by row.
void textbookUnitaryReduction(ComplexSquare& a, int n, Block b, std::vector<double>& ortr,
                              std::vector<double>& orti) {
  Square &ar = a.re, &ai = a.im;
  for (int m = b.low + 1; m < b.high; ++m) {
    double h = 0.0, scale = 0.0;
    ortr[m] = orti[m] = 0.0;
    for (int i = m; i <= b.high; ++i)
      scale = scale + std::fabs(ar(i, m - 1)) + std::fabs(ai(i, m - 1));
    if (scale == 0.0) continue;
    for (int i = b.high; i >= m; --i) {
      ortr[i] = ar(i, m - 1) / scale;
      orti[i] = ai(i, m - 1) / scale;
      h = h + ortr[i] * ortr[i] + orti[i] * orti[i];
    }
    double g = std::sqrt(h);
    double f = 0.0;
    if (ortr[m] != 0.0 || orti[m] != 0.0) {
      const double big = std::max(std::fabs(ortr[m]), std::fabs(orti[m]));
      const double ratio = std::min(std::fabs(ortr[m]), std::fabs(orti[m])) / big;
      f = big * std::sqrt(1.0 + ratio * ratio);
    }
    if (f == 0.0) {
      ortr[m] = g;
      ar(m, m - 1) = scale;
    } else {
      h += f * g;
      g /= f;
      ortr[m] = (1.0 + g) * ortr[m];
      orti[m] = (1.0 + g) * orti[m];
    }
    for (int j = m; j < n; ++j) {
      double fr = 0.0, fi = 0.0;
      for (int i = b.high; i >= m; --i) {
        fr = fr + ortr[i] * ar(i, j) + orti[i] * ai(i, j);
        fi = fi + ortr[i] * ai(i, j) - orti[i] * ar(i, j);
      }
      fr /= h, fi /= h;
      for (int i = m; i <= b.high; ++i) {
        ar(i, j) = ar(i, j) - fr * ortr[i] + fi * orti[i];
        ai(i, j) = ai(i, j) - fr * orti[i] - fi * ortr[i];
      }
    }
    for (int i = 0; i <= b.high; ++i) {
      double fr = 0.0, fi = 0.0;
      for (int j = b.high; j >= m; --j) {
        fr = fr + ortr[j] * ar(i, j) - orti[j] * ai(i, j);
        fi = fi + ortr[j] * ai(i, j) + orti[j] * ar(i, j);
      }
      fr /= h, fi /= h;
      for (int j = m; j <= b.high; ++j) {
        ar(i, j) = ar(i, j) - fr * ortr[j] - fi * orti[j];
        ai(i, j) = ai(i, j) + fr * orti[j] - fi * ortr[j];
      }
    }
    ortr[m] *= scale, orti[m] *= scale;
    ar(m, m - 1) *= -g, ai(m, m - 1) *= -g;
  }
}

TEST(EigensolverReference, UnitaryReduction) {
  std::mt19937 rng(8);
  for (int n : kOrders) {
    for (bool sparse : {false, true}) {
      for (Block b : {Block{0, n - 1}, Block{n / 4, n - 1 - n / 5}}) {
        SCOPED_TRACE(std::to_string(n) + (sparse ? " sparse" : ""));
        ComplexSquare expected = complexSample(n, sparse, rng), actual = expected;
        std::vector<double> r1(n + 1), i1(n + 1), r2(n + 1), i2(n + 1), sr(n), si(n);
        textbookUnitaryReduction(expected, n, b, r1, i1);
        ASSERT_EQ(
            eigen::reduceUnitary(actual.view(), n, b, r2.data(), i2.data(), {sr.data(), si.data()}),
            nullptr);
        EXPECT_TRUE(sameBits(expected.re.a, actual.re.a));
        EXPECT_TRUE(sameBits(expected.im.a, actual.im.a));
        EXPECT_TRUE(sameBits(r1, r2));
        EXPECT_TRUE(sameBits(i1, i2));
      }
    }
  }
}

// The complex QR iteration as published (comqr2 with Z, comqr without), each step's
// rotations applied row by row, then column by column.
const char* textbookComplexSchur(ComplexSquare& h, ComplexSquare* z, int n, Block b,
                                 std::vector<double>& wr, std::vector<double>& wi, int allowed) {
  const double eps = 2.220446049250313e-16;
  Square &hr = h.re, &hi = h.im;
  auto modulus = [](double x, double y) {
    const double big = std::max(std::fabs(x), std::fabs(y));
    const double ratio = std::min(std::fabs(x), std::fabs(y)) / big;
    return big * std::sqrt(1.0 + ratio * ratio);
  };
  // (x, y) times (yr, yi), or times its conjugate.
  auto scaleBy = [](double& x, double& y, double yr, double yi, bool conjugate) {
    const double r = x, i = y;
    x = conjugate ? yr * r + yi * i : yr * r - yi * i;
    y = conjugate ? yr * i - yi * r : yr * i + yi * r;
  };
  const int last = z ? n - 1 : -1;  // -1: the block's own end
  for (int i = b.low + 1; i <= b.high; ++i) {
    if (hi(i, i - 1) == 0.0) continue;
    const double norm = modulus(hr(i, i - 1), hi(i, i - 1));
    const double yr = hr(i, i - 1) / norm, yi = hi(i, i - 1) / norm;
    hr(i, i - 1) = norm, hi(i, i - 1) = 0.0;
    for (int j = i; j <= (z ? last : b.high); ++j) scaleBy(hr(i, j), hi(i, j), yr, yi, true);
    for (int j = z ? 0 : b.low; j <= std::min(i + 1, b.high); ++j) {
      scaleBy(hr(j, i), hi(j, i), yr, yi, false);
    }
    for (int j = b.low; z && j <= b.high; ++j) scaleBy(z->re(j, i), z->im(j, i), yr, yi, false);
  }
  for (int i = 0; i < n; ++i) {
    if (i < b.low || i > b.high) wr[i] = hr(i, i), wi[i] = hi(i, i);
  }
  double tr = 0.0, ti = 0.0;
  for (int en = b.high, its = 0; en >= b.low;) {
    int l = en;
    for (; l > b.low; --l) {
      if (std::fabs(hr(l, l - 1)) <=
          eps * (std::fabs(hr(l - 1, l - 1)) + std::fabs(hi(l - 1, l - 1)) + std::fabs(hr(l, l)) +
                 std::fabs(hi(l, l)))) {
        break;
      }
    }
    if (l == en) {
      hr(en, en) += tr, hi(en, en) += ti, wr[en] = hr(en, en), wi[en] = hi(en, en);
      en -= 1, its = 0;
      continue;
    }
    if (its == allowed) return "too many iterations";
    double sr, si;
    if (its == 10 || its == 20) {
      sr = std::fabs(hr(en, en - 1)) + (en >= 2 ? std::fabs(hr(en - 1, en - 2)) : 0.0), si = 0.0;
    } else {
      sr = hr(en, en), si = hi(en, en);
      const double xr = hr(en - 1, en) * hr(en, en - 1), xi = hi(en - 1, en) * hr(en, en - 1);
      if (xr != 0.0 || xi != 0.0) {
        const double yr = (hr(en - 1, en - 1) - sr) / 2.0, yi = (hi(en - 1, en - 1) - si) / 2.0;
        const double qr = yr * yr - yi * yi + xr, qi = 2.0 * yr * yi + xi;
        double zr = 0.0, zi = 0.0;
        if (qr != 0.0 || qi != 0.0) {
          const double a = std::fabs(qr), c = std::fabs(qi);
          const double root =
              a >= c ? std::sqrt(a) * std::sqrt((std::sqrt(1.0 + (c / a) * (c / a)) + 1.0) / 2.0)
                     : std::sqrt(c) * std::sqrt((std::sqrt(1.0 + (a / c) * (a / c)) + a / c) / 2.0);
          if (qr >= 0.0) {
            zr = root, zi = qi / (2.0 * root);
          } else {
            zi = qi < 0.0 ? -root : root, zr = qi / (2.0 * zi);
          }
        }
        if (yr * zr + yi * zi < 0.0) zr = -zr, zi = -zi;
        const Complex d = SmithDivisor({yr + zr, yi + zi}).divide({xr, xi});
        sr -= d.re, si -= d.im;
      }
    }
    for (int i = b.low; i <= en; ++i) hr(i, i) -= sr, hi(i, i) -= si;
    tr += sr, ti += si, ++its;
    for (int i = l + 1; i <= en; ++i) {
      const double s = hr(i, i - 1);
      hr(i, i - 1) = 0.0;
      const double norm = std::sqrt(hr(i - 1, i - 1) * hr(i - 1, i - 1) +
                                    hi(i - 1, i - 1) * hi(i - 1, i - 1) + s * s);
      const double xr = hr(i - 1, i - 1) / norm, xi = hi(i - 1, i - 1) / norm;
      wr[i - 1] = xr, wi[i - 1] = xi, hr(i - 1, i - 1) = norm, hi(i - 1, i - 1) = 0.0;
      const double c = hi(i, i - 1) = s / norm;
      for (int j = i; j <= (z ? last : en); ++j) {
        const double yr = hr(i - 1, j), yi = hi(i - 1, j), vr = hr(i, j), vi = hi(i, j);
        hr(i - 1, j) = xr * yr + xi * yi + c * vr, hi(i - 1, j) = xr * yi - xi * yr + c * vi;
        hr(i, j) = xr * vr - xi * vi - c * yr, hi(i, j) = xr * vi + xi * vr - c * yi;
      }
    }
    double ur = 0.0, ui = hi(en, en);
    if (ui != 0.0) {
      const double norm = modulus(hr(en, en), ui);
      ur = hr(en, en) / norm, ui /= norm, hr(en, en) = norm, hi(en, en) = 0.0;
      for (int j = en + 1; z && j < n; ++j) scaleBy(hr(en, j), hi(en, j), ur, ui, true);
    }
    for (int j = l + 1; j <= en; ++j) {
      const double xr = wr[j - 1], xi = wi[j - 1], c = hi(j, j - 1);
      for (int i = z ? 0 : l; i <= j; ++i) {
        const double yr = hr(i, j - 1), yi = i == j ? 0.0 : hi(i, j - 1), vr = hr(i, j),
                     vi = hi(i, j);
        if (i != j) hi(i, j - 1) = xr * yi + xi * yr + c * vi;
        hr(i, j - 1) = xr * yr - xi * yi + c * vr;
        hr(i, j) = xr * vr + xi * vi - c * yr, hi(i, j) = xr * vi - xi * vr - c * yi;
      }
      for (int i = b.low; z && i <= b.high; ++i) {
        const double yr = z->re(i, j - 1), yi = z->im(i, j - 1), vr = z->re(i, j), vi = z->im(i, j);
        z->re(i, j - 1) = xr * yr - xi * yi + c * vr, z->im(i, j - 1) = xr * yi + xi * yr + c * vi;
        z->re(i, j) = xr * vr + xi * vi - c * yr, z->im(i, j) = xr * vi - xi * vr - c * yi;
      }
    }
    if (ui != 0.0) {
      for (int i = z ? 0 : l; i <= en; ++i) scaleBy(hr(i, en), hi(i, en), ur, ui, false);
      for (int i = b.low; z && i <= b.high; ++i) scaleBy(z->re(i, en), z->im(i, en), ur, ui, false);
    }
  }
  return nullptr;
}

TEST(EigensolverReference, ComplexSchur) {
  std::mt19937 rng(11);
  forEachSchurCase([&](int n, bool sparse, bool vectors, Block b) {
    ComplexSquare expected{hessenberg(n, sparse, b, rng), hessenberg(n, sparse, b, rng)};
    ComplexSquare actual = expected;
    ComplexSquare z1 = complexSample(n, false, rng), z2 = z1;
    std::vector<double> wr1(n), wi1(n), wr2(n), wi2(n);
    const int allowed = vectors ? 30 : 31;
    const char* message =
        textbookComplexSchur(expected, vectors ? &z1 : nullptr, n, b, wr1, wi1, allowed);
    EXPECT_EQ(eigen::complexSchur(actual.view(), vectors ? z2.view() : linalg::ComplexField::View{},
                                  n, b, {wr2.data(), wi2.data()}, allowed),
              message);
    EXPECT_TRUE(sameBits(expected.re.a, actual.re.a));
    EXPECT_TRUE(sameBits(expected.im.a, actual.im.a));
    EXPECT_TRUE(sameBits(z1.re.a, z2.re.a));
    EXPECT_TRUE(sameBits(z1.im.a, z2.im.a));
    EXPECT_TRUE(sameBits(wr1, wr2));
    EXPECT_TRUE(sameBits(wi1, wi2));
  });
}

TEST(EigensolverReference, ComplexBackSubstitutionAndMultiplication) {
  std::mt19937 rng(9);
  for (int n : kOrders) {
    for (bool sparse : {false, true}) {
      SCOPED_TRACE(std::to_string(n) + (sparse ? " sparse" : ""));
      ComplexSquare h = complexSample(n, sparse, rng);
      std::vector<double> wr(n), wi(n);
      for (int i = 0; i < n; ++i) wr[i] = h.re(i, i), wi[i] = h.im(i, i);
      ComplexSquare expected = h;
      // comqr2's back-substitution as published, along H's rows.
      for (int en = n - 1; en >= 1; --en) {
        for (int i = en - 1; i >= 0; --i) {
          double zr = expected.re(i, en), zi = expected.im(i, en);
          for (int j = i + 1; j < en; ++j) {
            zr = zr + expected.re(i, j) * expected.re(j, en) -
                 expected.im(i, j) * expected.im(j, en);
            zi = zi + expected.re(i, j) * expected.im(j, en) +
                 expected.im(i, j) * expected.re(j, en);
          }
          double yr = wr[en] - wr[i];
          const double yi = wi[en] - wi[i];
          if (yr == 0.0 && yi == 0.0) yr = 2.220446049250313e-16 * 5.0;
          const Complex v = SmithDivisor({yr, yi}).divide({zr, zi});
          expected.re(i, en) = v.re, expected.im(i, en) = v.im;
        }
      }
      ComplexSquare actual = h;
      ASSERT_EQ(eigen::backSubstituteTriangle(actual.view(), n, {wr.data(), wi.data()}, 5.0),
                nullptr);
      for (int j = 0; j < n; ++j) {
        for (int i = 0; i <= j; ++i) {
          EXPECT_TRUE(sameBits(expected.re(i, j), actual.re(i, j)));
          EXPECT_TRUE(sameBits(expected.im(i, j), actual.im(i, j)));
        }
      }

      const Block b{n / 4, n - 1 - n / 5};
      ComplexSquare z = complexSample(n, sparse, rng), zExpected = z;
      for (int j = n - 1; j > b.low; --j) {
        for (int i = b.low; i <= b.high; ++i) {
          double zr = zExpected.re(i, j), zi = zExpected.im(i, j);
          for (int k = b.low; k <= std::min(j - 1, b.high); ++k) {
            zr = zr + zExpected.re(i, k) * actual.re(k, j) - zExpected.im(i, k) * actual.im(k, j);
            zi = zi + zExpected.re(i, k) * actual.im(k, j) + zExpected.im(i, k) * actual.re(k, j);
          }
          zExpected.re(i, j) = zr, zExpected.im(i, j) = zi;
        }
      }
      ASSERT_EQ(eigen::multiplyBackComplex(actual.view(), z.view(), n, b), nullptr);
      EXPECT_TRUE(sameBits(zExpected.re.a, z.re.a));
      EXPECT_TRUE(sameBits(zExpected.im.a, z.im.a));
    }
  }
}

}  // namespace
