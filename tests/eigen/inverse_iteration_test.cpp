// eigenvec's inverse iteration factors by right-looking elimination, column by column.
// Its results must be bit for bit those of the textbook formulation transcribed below:
// Crout's inner products with an explicit pivot search, row-by-row substitutions, and
// Smith's division choosing the imaginary branch on ties with every quotient made safe.
// The matrices include ties in the pivot search and complex pivots whose two parts have
// equal magnitude.
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "eigen/inverse_iteration.h"
#include "tests/support/pack_test.h"

namespace {

using linalg::Complex;

struct Matrix {
  int n;
  std::vector<Complex> a;
  Complex& operator()(int i, int j) { return a[i + j * n]; }
};

double safeQuotient(double a, double b) {
  uint64_t ba, bb;
  std::memcpy(&ba, &a, 8);
  std::memcpy(&bb, &b, 8);
  if ((ba >> 32) == 0xFFFFFFFFu || (bb >> 32) == 0xFFFFFFFFu) return 0.0;
  if (a == 0.0 || a != a) return 0.0;
  return a / b;
}

Complex divide(Complex x, Complex d) {
  if (std::fabs(d.im) >= std::fabs(d.re)) {
    const double r = safeQuotient(d.re, d.im), den = r * d.re + d.im;
    return {safeQuotient(r * x.re + x.im, den), safeQuotient(r * x.im - x.re, den)};
  }
  const double r = safeQuotient(d.im, d.re), den = r * d.im + d.re;
  return {safeQuotient(r * x.im + x.re, den), safeQuotient(x.im - r * x.re, den)};
}

double modulus(Complex z) {
  return std::sqrt(z.re * z.re + z.im * z.im);
}

// Crout's method with implicit scaling; false on a zero row.
bool croutFactor(Matrix& a, std::vector<int>& perm) {
  const int n = a.n;
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) {
    double big = 0.0;
    for (int j = 0; j < n; ++j) big = std::max(big, modulus(a(i, j)));
    if (big == 0.0) return false;
    v[i] = 1.0 / big;
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      Complex s = a(i, j);
      for (int k = 0; k < i; ++k) s = s - a(i, k) * a(k, j);
      a(i, j) = s;
    }
    double big = 0.0;
    int imax = j;
    for (int i = j; i < n; ++i) {
      Complex s = a(i, j);
      for (int k = 0; k < j; ++k) s = s - a(i, k) * a(k, j);
      a(i, j) = s;
      if (v[i] * modulus(s) >= big) big = v[i] * modulus(s), imax = i;
    }
    if (imax != j) {
      for (int k = 0; k < n; ++k) std::swap(a(imax, k), a(j, k));
      v[imax] = v[j];
    }
    perm[j] = imax;
    if (a(j, j).re == 0.0 && a(j, j).im == 0.0) a(j, j).re = 1e-20;
    if (j < n - 1) {
      const Complex r = divide({1.0, 0.0}, a(j, j));
      for (int i = j + 1; i < n; ++i) a(i, j) = a(i, j) * r;
    }
  }
  return true;
}

bool croutSolve(Matrix& a, const std::vector<int>& perm, std::vector<Complex>& b) {
  const int n = a.n;
  int first = -1;
  for (int i = 0; i < n; ++i) {
    Complex s = b[perm[i]];
    b[perm[i]] = b[i];
    if (first >= 0) {
      for (int j = first; j < i; ++j) s = s - a(i, j) * b[j];
    } else if (s.re != 0.0 || s.im != 0.0) {
      first = i;
    }
    b[i] = s;
  }
  for (int i = n - 1; i >= 0; --i) {
    Complex s = b[i];
    for (int j = i + 1; j < n; ++j) s = s - a(i, j) * b[j];
    if (a(i, i).re == 0.0 && a(i, i).im == 0.0) return false;
    b[i] = divide(s, a(i, i));
  }
  return true;
}

uint32_t lcg(uint32_t& state) {
  state = state * 214013u + 2531011u;
  return (state >> 16) & 0x7FFF;
}

double random01(uint32_t& state) {
  const uint32_t a = lcg(state), b = lcg(state);
  return static_cast<int32_t>((a * 32768 + b) * 2) * 4.656612873077393e-10;
}

double squares(const std::vector<Complex>& x) {
  double s = 0.0;
  for (const Complex& c : x) s += c.re * c.re + c.im * c.im;
  return s;
}

// The whole iteration as written out step by step; empty on a failure.
std::vector<Complex> textbookIteration(Matrix a, Complex z) {
  const int n = a.n;
  for (int i = 0; i < n; ++i) {
    a(i, i).re = (a(i, i).re - z.re) + 1e-12;
    a(i, i).im = a(i, i).im - z.im;
  }
  std::vector<int> perm(n);
  if (!croutFactor(a, perm)) return {};
  uint32_t state = 1;
  std::vector<Complex> x(n);
  double growth = 0.0;
  for (int attempt = 0; attempt < 5 && growth < 100.0; ++attempt) {
    double s = 0.0;
    for (Complex& c : x) c = {random01(state), 0.0}, s += c.re * c.re;
    for (Complex& c : x) c.re = c.re / std::sqrt(s);
    if (!croutSolve(a, perm, x)) return {};
    growth = std::sqrt(squares(x));
  }
  if (growth < 100.0) return {};
  for (Complex& c : x) c = {c.re / growth, c.im / growth};
  for (int its = 1;; ++its) {
    const std::vector<Complex> p = x;
    if (!croutSolve(a, perm, x)) return {};
    const double s = squares(x);
    const double f = s == 0.0 ? 1.0 : 1.0 / std::sqrt(s);
    double d = 0.0;
    for (int i = 0; i < n; ++i) {
      const Complex e = p[i] - x[i];
      d += e.re * e.re + e.im * e.im;
    }
    for (Complex& c : x) c = {c.re * f, c.im * f};
    if (its >= 10 || d <= 1e-30) return x;
  }
}

std::vector<Complex> packIteration(const Matrix& a, Complex z) {
  const int n = a.n;
  std::vector<double> re(n * n), im(n * n), xRe(n), xIm(n);
  for (int k = 0; k < n * n; ++k) re[k] = a.a[k].re, im[k] = a.a[k].im;
  if (eigen::inverse_iteration({re.data(), im.data()}, n, z, {xRe.data(), xIm.data()},
                               Interrupt())) {
    return {};
  }
  std::vector<Complex> x(n);
  for (int i = 0; i < n; ++i) x[i] = {xRe[i], xIm[i]};
  return x;
}

bool sameBits(const std::vector<Complex>& x, const std::vector<Complex>& y) {
  if (x.size() != y.size()) return false;
  return x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(Complex)) == 0;
}

TEST(InverseIteration, BitForBitTheTextbookFormulation) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  // Entries from a few values make equal pivot candidates and |re| = |im| pivots common.
  std::uniform_int_distribution<int> small(-2, 2);
  const int largest = sizeof(void*) == 8 ? 60 : 12;
  for (int n : {1, 2, 3, 4, 7, 16, largest}) {
    for (int kind = 0; kind < 4; ++kind) {
      SCOPED_TRACE("order " + std::to_string(n) + " kind " + std::to_string(kind));
      Matrix a{n, std::vector<Complex>(n * n)};
      for (Complex& c : a.a) {
        if (kind < 2) {
          c = {uniform(rng), kind == 1 ? uniform(rng) : 0.0};
        } else {
          c = {double(small(rng)), kind == 3 ? double(small(rng)) : 0.0};
        }
      }
      // a(0, 0) is an eigenvalue: column 0 is zero below it. The shifts are that
      // eigenvalue, a point near it, and points that may be far from every eigenvalue.
      for (int i = 1; i < n; ++i) a(i, 0) = {};
      const Complex eigenvalue = a(0, 0);
      int converged = 0;
      for (Complex z : {eigenvalue, Complex{eigenvalue.re + 1e-3, eigenvalue.im - 1e-3},
                        Complex{0.5, 0.25}, Complex{1.0, 1.0}}) {
        const std::vector<Complex> expected = textbookIteration(a, z);
        const std::vector<Complex> actual = packIteration(a, z);
        EXPECT_TRUE(sameBits(actual, expected));
        converged += !actual.empty();
      }
      EXPECT_GE(converged, 1);
    }
  }
}

TEST(InverseIteration, StartVectorsComeFromTheGenerator) {
  uint32_t mine = 1, theirs = 1;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(eigen::uniform_random(mine), random01(theirs));
}

TEST(InverseIteration, SafeQuotients) {
  const double reference = std::bit_cast<double>(uint64_t{0xFFFFFFFF12345678});
  const double nan = std::nan("");
  const struct {
    double a, b, quotient;
  } cases[] = {{6, 3, 2},        {0, 0, 0},         {-0.0, 3, 0},     {nan, 2, 0},
               {1, 0, INFINITY}, {reference, 2, 0}, {2, reference, 0}};
  for (const auto& c : cases) {
    const double q = eigen::safe_divide(c.a, c.b);
    EXPECT_EQ(std::bit_cast<uint64_t>(q), std::bit_cast<uint64_t>(c.quotient))
        << c.a << " / " << c.b;
  }
}

}  // namespace
