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

TEST(EigenReference, TridiagonalReduction) {
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

TEST(EigenReference, EliminationToHessenberg) {
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

TEST(EigenReference, RealBackSubstitutionAndMultiplication) {
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

TEST(EigenReference, UnitaryReduction) {
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

TEST(EigenReference, ComplexBackSubstitutionAndMultiplication) {
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
