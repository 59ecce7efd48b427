// The pack's factorisations run their loops down columns for speed. That may change the
// order in which elements are visited, never the operations one element goes through, so
// the results must be bit for bit those of the plain row-by-row algorithms transcribed
// below: lud, lud_subst, the inverse column by column, clud, clud_subst, cinv, cholesky.
#include <cstring>
#include <string>

#include "linalg/lu.h"
#include "pack/fpguard.h"
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

constexpr double kEpsilon = 2.220446049250313e-16;

struct Factored {
  std::vector<double> re, im;
  std::vector<double> pivots;
  double sign = 1.0;
  bool singular = false;
};

Factored rowLud(const Dense& m, bool check) {
  const int n = m.rows;
  Factored f{std::vector<double>(n * n), {}, std::vector<double>(n)};
  for (int k = 0; k < n * n; ++k) f.re[k] = m.a[k].real();
  auto a = [&](int i, int j) -> double& { return f.re[i + j * n]; };
  std::vector<double> scale(n);
  for (int i = 0; i < n; ++i) {
    double big = 0.0;
    for (int j = 0; j < n; ++j) big = std::max(big, std::fabs(a(i, j)));
    if (big == 0.0) return f.singular = true, f;
    scale[i] = 1.0 / big;
  }
  double g = 0.0;
  for (int k = 0; k < n; ++k) {
    int p = k;
    double largest = std::fabs(a(k, k)) * scale[k];
    for (int i = k + 1; i < n; ++i) {
      if (std::fabs(a(i, k)) * scale[i] >= largest) largest = std::fabs(a(i, k)) * scale[i], p = i;
    }
    if (p != k) {
      for (int j = 0; j < n; ++j) std::swap(a(p, j), a(k, j));
      f.sign = -f.sign;
      scale[p] = scale[k];
    }
    f.pivots[k] = p;
    if (a(k, k) == 0.0 || std::isnan(a(k, k))) return f.singular = true, f;
    if (k >= 1) {
      for (int j = k - 1; j < n; ++j) g = std::max(g, std::fabs(a(k - 1, j)) * scale[k - 1]);
      for (int i = 1; check && i <= k; ++i) {
        if (std::fabs(a(i, i)) < g * kEpsilon) return f.singular = true, f;
      }
    }
    scale[k] = 1.0;
    for (int i = k + 1; i < n; ++i) {
      a(i, k) = a(i, k) / a(k, k);
      scale[k] = std::max(scale[k], std::fabs(a(i, k)));
      for (int j = k + 1; j < n; ++j) a(i, j) = a(i, j) - a(k, j) * a(i, k);
    }
  }
  return f;
}

void rowSubst(const Factored& f, int n, std::vector<double>& b) {
  auto a = [&](int i, int j) { return f.re[i + j * n]; };
  int first = -1;
  for (int i = 0; i < n; ++i) {
    const int ip = static_cast<int>(f.pivots[i]);
    double s = b[ip];
    b[ip] = b[i];
    if (first >= 0) {
      for (int j = first; j < i; ++j) s -= a(i, j) * b[j];
    } else if (s != 0.0) {
      first = i;
    }
    b[i] = s;
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int j = i + 1; j < n; ++j) s -= a(i, j) * b[j];
    b[i] = s / a(i, i);
  }
}

// Complex numbers as the pack computes with them: products (ar br - ai bi, ai br + ar bi),
// divisions by Smith's method.
struct Pair {
  double re, im;
};
Pair times(Pair a, Pair b) {
  return {a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im};
}
Pair smithDivide(Pair x, Pair d) {
  if (std::fabs(d.re) < std::fabs(d.im)) {
    const double r = d.re / d.im, den = r * d.re + d.im;
    return {(r * x.re + x.im) / den, (r * x.im - x.re) / den};
  }
  const double r = d.im / d.re, den = r * d.im + d.re;
  return {(r * x.im + x.re) / den, (x.im - r * x.re) / den};
}

Factored rowClud(const Dense& m, bool check) {
  const int n = m.rows;
  Factored f{std::vector<double>(n * n), std::vector<double>(n * n), std::vector<double>(n)};
  for (int k = 0; k < n * n; ++k) f.re[k] = m.a[k].real(), f.im[k] = m.a[k].imag();
  auto at = [&](int i, int j) { return Pair{f.re[i + j * n], f.im[i + j * n]}; };
  auto set = [&](int i, int j, Pair v) { f.re[i + j * n] = v.re, f.im[i + j * n] = v.im; };
  auto mod = [&](int i, int j) { return fpu::complexModulus(at(i, j).re, at(i, j).im); };
  std::vector<double> scale(n);
  for (int i = 0; i < n; ++i) {
    double big = 0.0;
    for (int j = 0; j < n; ++j) big = std::max(big, mod(i, j));
    if (big == 0.0) return f.singular = true, f;
    scale[i] = 1.0 / big;
  }
  double g = 0.0;
  for (int k = 0; k < n; ++k) {
    int p = k;
    double largest = -1.0;
    for (int i = k; i < n; ++i) {
      if (mod(i, k) * scale[i] > largest) largest = mod(i, k) * scale[i], p = i;
    }
    if (p != k) {
      for (int j = 0; j < n; ++j) {
        const Pair t = at(p, j);
        set(p, j, at(k, j));
        set(k, j, t);
      }
      f.sign = -f.sign;
      scale[p] = scale[k];
    }
    f.pivots[k] = p + 1;
    if (at(k, k).re == 0.0 && at(k, k).im == 0.0) return f.singular = true, f;
    if (k >= 1) {
      for (int j = k - 1; j < n; ++j) g = std::max(g, mod(k - 1, j) * scale[k - 1]);
      for (int i = 0; check && i <= k; ++i) {
        if (mod(i, i) < g * kEpsilon) return f.singular = true, f;
      }
    }
    scale[k] = 1.0;
    for (int i = k + 1; i < n; ++i) {
      set(i, k, smithDivide(at(i, k), at(k, k)));
      scale[k] = std::max(scale[k], mod(i, k));
      for (int j = k + 1; j < n; ++j) {
        const Pair product = times(at(i, k), at(k, j));
        set(i, j, {at(i, j).re - product.re, at(i, j).im - product.im});
      }
    }
  }
  return f;
}

void rowCludSubst(const Factored& f, int n, std::vector<Pair>& b) {
  auto a = [&](int i, int j) { return Pair{f.re[i + j * n], f.im[i + j * n]}; };
  auto subtract = [](Pair& s, Pair product) { s.re -= product.re, s.im -= product.im; };
  int first = -1;
  for (int i = 0; i < n; ++i) {
    const int ip = static_cast<int>(f.pivots[i]) - 1;
    Pair s = b[ip];
    b[ip] = b[i];
    if (first >= 0) {
      for (int j = first; j < i; ++j) subtract(s, times(a(i, j), b[j]));
    } else if (s.re != 0.0 || s.im != 0.0) {
      first = i;
    }
    b[i] = s;
  }
  for (int i = n - 1; i >= 0; --i) {
    Pair s = b[i];
    for (int j = i + 1; j < n; ++j) subtract(s, times(a(i, j), b[j]));
    b[i] = smithDivide(s, a(i, i));
  }
}

std::vector<double> rowCholesky(const Dense& m) {
  const int n = m.rows;
  std::vector<double> v(n * n), d(n);
  auto a = [&](int i, int j) -> double& { return v[i + j * n]; };
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i <= j; ++i) a(i, j) = a(j, i) = m(i, j).real();
  }
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) {
      double s = a(i, j);
      for (int k = 0; k < i; ++k) s -= a(i, k) * a(j, k);
      if (i == j) {
        d[i] = std::sqrt(s);
      } else {
        a(j, i) = s / d[i];
      }
    }
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) a(i, j) = 0.0;
    a(j, j) = d[j];
  }
  return v;
}

bool sameBits(const double* x, const std::vector<double>& y) {
  return std::memcmp(x, y.data(), y.size() * sizeof(double)) == 0;
}

// Random, sparse with small whole numbers (exact zeros, cancellations to signed zeros,
// ties between pivot candidates), and row-graded matrices (not so large that the product
// of U's diagonal overflows, which cinv reports as singular); orders beyond 128 make the
// inverse work in several blocks.
std::vector<Dense> matrices(bool complex) {
  std::mt19937 rng(3);
  std::vector<Dense> list;
  for (int n : {1, 2, 3, 4, 7, 16, 33, 130}) {
    list.push_back(randomMatrix(n, n, complex, rng));
    Dense sparse(n, n, complex);
    std::uniform_int_distribution<int> small(-3, 3);
    for (Complex& x : sparse.a) {
      x = Complex(small(rng) * (small(rng) == 0), complex ? small(rng) * (small(rng) > 0) : 0);
    }
    for (int i = 0; i < n; ++i) sparse(i, i) += 7.0;
    list.push_back(sparse);
    if (n < 100) list.push_back(gradedRows(n, complex, rng));
  }
  return list;
}

class RowByRow : public LinalgTest {};

TEST_F(RowByRow, RealFactorsSolutionsAndInverseAreBitIdentical) {
  std::mt19937 rng(9);
  for (const Dense& m : matrices(false)) {
    const int n = m.rows;
    SCOPED_TRACE("order " + std::to_string(n));
    for (bool check : {false, true}) {
      const Factored expected = rowLud(m, check);
      aMatrix* a = toHost(host.allocator, m);
      std::vector<double> pivots(n);
      double sign;
      const char* failure = lud(a, pivots.data(), &sign, check);
      ASSERT_EQ(failure != nullptr, expected.singular);
      if (failure) continue;
      EXPECT_TRUE(sameBits(a->re, expected.re));
      EXPECT_EQ(pivots, expected.pivots);
      EXPECT_EQ(sign, expected.sign);

      // A right-hand side with leading zeros after the interchanges, and the unit columns.
      Dense b = randomMatrix(n, 1, false, rng);
      for (int i = 0; i < n / 2; ++i) b(static_cast<int>(expected.pivots[i]), 0) = 0.0;
      std::vector<double> x(n);
      for (int i = 0; i < n; ++i) x[i] = b(i, 0).real();
      aMatrix* column = toHost(host.allocator, b);
      ASSERT_STREQ(lud_subst(a, pivots.data(), column), nullptr);
      rowSubst(expected, n, x);
      EXPECT_TRUE(sameBits(column->re, x));

      aMatrix* inverse = nullptr;
      ASSERT_STREQ(inv(&host.context, toHost(host.allocator, m), &inverse, check), nullptr);
      std::vector<double> columns(n * n);
      for (int j = 0; j < n; ++j) {
        std::vector<double> e(n);
        e[j] = 1.0;
        rowSubst(expected, n, e);
        std::copy(e.begin(), e.end(), columns.begin() + j * n);
      }
      EXPECT_TRUE(sameBits(inverse->re, columns));
    }
  }
}

TEST_F(RowByRow, ComplexFactorsSolutionsAndInverseAreBitIdentical) {
  std::mt19937 rng(10);
  for (const Dense& m : matrices(true)) {
    const int n = m.rows;
    SCOPED_TRACE("order " + std::to_string(n));
    for (bool check : {false, true}) {
      const Factored expected = rowClud(m, check);
      aMatrix* a = toHost(host.allocator, m);
      std::vector<double> pivots(n);
      double sign;
      const char* failure = clud(a, pivots.data(), sign, check);
      ASSERT_EQ(failure != nullptr, expected.singular);
      if (failure) continue;
      EXPECT_TRUE(sameBits(a->re, expected.re));
      EXPECT_TRUE(sameBits(a->im, expected.im));
      EXPECT_EQ(pivots, expected.pivots);
      EXPECT_EQ(sign, expected.sign);

      Dense b = randomMatrix(n, 1, true, rng);
      for (int i = 0; i < n / 2; ++i) b(static_cast<int>(expected.pivots[i]) - 1, 0) = 0.0;
      std::vector<Pair> x(n);
      for (int i = 0; i < n; ++i) x[i] = {b(i, 0).real(), b(i, 0).imag()};
      aMatrix* column = toHost(host.allocator, b);
      ASSERT_STREQ(clud_subst(a, pivots.data(), column), nullptr);
      rowCludSubst(expected, n, x);
      for (int i = 0; i < n; ++i) {
        EXPECT_EQ(std::memcmp(&column->re[i], &x[i].re, sizeof(double)), 0);
        EXPECT_EQ(std::memcmp(&column->im[i], &x[i].im, sizeof(double)), 0);
      }

      aMatrix* inverse = nullptr;
      ASSERT_STREQ(cinv(&host.context, toHost(host.allocator, m), &inverse, check), nullptr);
      std::vector<double> re(n * n), im(n * n);
      for (int j = 0; j < n; ++j) {
        std::vector<Pair> e(n, Pair{0.0, 0.0});
        e[j].re = 1.0;
        rowCludSubst(expected, n, e);
        for (int i = 0; i < n; ++i) re[i + j * n] = e[i].re, im[i + j * n] = e[i].im;
      }
      EXPECT_TRUE(sameBits(inverse->re, re));
      EXPECT_TRUE(sameBits(inverse->im, im));
      host.allocator.release(asValue(inverse));
    }
  }
}

TEST_F(RowByRow, CholeskyFactorIsBitIdentical) {
  std::mt19937 rng(12);
  for (int n : {1, 2, 5, 16, 70}) {
    const Dense b = randomMatrix(n, n, false, rng);
    Dense m = product(b, transpose(b));
    for (int i = 0; i < n; ++i) m(i, i) += 1.0;
    Anyval* l = call("cholesky", {value(m)});
    ASSERT_EQ(l->tag, kTagMatrix);
    EXPECT_TRUE(sameBits(as<aMatrix>(l)->re, rowCholesky(m))) << "order " << n;
  }
}

}  // namespace
