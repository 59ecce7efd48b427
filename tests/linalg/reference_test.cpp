// The factorisations run their loops down columns for speed. That may change the order
// in which elements are visited, never the operations one element goes through, so the
// results must be bit for bit those of the plain row-by-row algorithms: lud and lud_subst
// transcribed below, the inverses column by column through lud_subst and clud_subst, and
// cholesky.
#include <cstring>
#include <string>

#include "linalg/lu.h"
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

struct Factored {
  std::vector<double> a, pivots;
  bool singular = false;
};

Factored rowLud(const Dense& m, bool check) {
  const int n = m.rows;
  Factored f{std::vector<double>(n * n), std::vector<double>(n)};
  for (int k = 0; k < n * n; ++k) f.a[k] = m.a[k].real();
  auto a = [&](int i, int j) -> double& { return f.a[i + j * n]; };
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
      scale[p] = scale[k];
    }
    f.pivots[k] = p;
    if (a(k, k) == 0.0 || std::isnan(a(k, k))) return f.singular = true, f;
    if (k >= 1) {
      for (int j = k - 1; j < n; ++j) g = std::max(g, std::fabs(a(k - 1, j)) * scale[k - 1]);
      for (int i = 1; check && i <= k; ++i) {
        if (std::fabs(a(i, i)) < g * 2.220446049250313e-16) return f.singular = true, f;
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

void rowSubst(const Factored& f, std::vector<double>& b) {
  const int n = static_cast<int>(b.size());
  auto a = [&](int i, int j) { return f.a[i + j * n]; };
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

std::vector<double> rowCholesky(const Dense& m) {
  const int n = m.rows;
  std::vector<double> v(n * n), d(n);
  auto a = [&](int i, int j) -> double& { return v[i + j * n]; };
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) {
      double s = m(i, j).real();
      for (int k = 0; k < i; ++k) s -= a(i, k) * a(j, k);
      if (i == j) d[i] = std::sqrt(s);
      if (i != j) a(j, i) = s / d[i];
    }
  }
  for (int i = 0; i < n; ++i) a(i, i) = d[i];
  return v;
}

bool sameBits(const double* x, const double* y, size_t count) {
  return std::memcmp(x, y, count * sizeof(double)) == 0;
}

// Random, and sparse with small whole numbers (exact zeros, signed zeros from
// cancellation, ties between pivot candidates); beyond order 128 the inverse works in
// several blocks.
std::vector<Dense> matrices(bool complex) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> small(-3, 3);
  std::vector<Dense> list;
  for (int n : {1, 2, 3, 7, 33, 130}) {
    list.push_back(randomMatrix(n, n, complex, rng, n < 100 ? 6.0 : 0.0));
    Dense sparse(n, n, complex);
    for (Complex& x : sparse.a) x = Complex(small(rng) * (small(rng) == 0), complex * small(rng));
    for (int i = 0; i < n; ++i) sparse(i, i) += 7.0;
    list.push_back(sparse);
  }
  return list;
}

class RowByRow : public LinalgTest {};

TEST_F(RowByRow, RealFactorsAndSolutionsAreBitIdentical) {
  std::mt19937 rng(9);
  for (const Dense& m : matrices(false)) {
    const int n = m.rows;
    for (bool check : {false, true}) {
      SCOPED_TRACE("order " + std::to_string(n) + (check ? ", check" : ""));
      const Factored expected = rowLud(m, check);
      aMatrix* a = toHost(host.allocator, m);
      std::vector<double> pivots(n);
      double sign;
      ASSERT_EQ(lud(a, pivots.data(), &sign, check) != nullptr, expected.singular);
      if (expected.singular) continue;
      EXPECT_TRUE(sameBits(a->re, expected.a.data(), n * n));
      EXPECT_EQ(pivots, expected.pivots);

      // A right-hand side with leading zeros once interchanged.
      std::vector<double> x(n);
      for (int i = n / 2; i < n; ++i) x[static_cast<int>(expected.pivots[i])] = i - n / 3;
      aMatrix* b = host.allocator.matrix(n, 1, true, false);
      std::copy(x.begin(), x.end(), b->re);
      ASSERT_STREQ(lud_subst(a, pivots.data(), b), nullptr);
      rowSubst(expected, x);
      EXPECT_TRUE(sameBits(b->re, x.data(), n));
    }
  }
}

// inv and cinv solve for all unit columns at once; column j must be what the
// substitution gives for e_j alone.
TEST_F(RowByRow, InversesAreTheSubstitutionsOfTheUnitColumns) {
  for (bool complex : {false, true}) {
    for (const Dense& m : matrices(complex)) {
      const int n = m.rows;
      SCOPED_TRACE("order " + std::to_string(n) + (complex ? ", complex" : ""));
      aMatrix* inverse = nullptr;
      aMatrix* factors = toHost(host.allocator, m);
      std::vector<double> pivots(n);
      double sign;
      if (complex) {
        ASSERT_STREQ(cinv(&host.context, toHost(host.allocator, m), &inverse, true), nullptr);
        ASSERT_STREQ(clud(factors, pivots.data(), sign, true), nullptr);
      } else {
        ASSERT_STREQ(inv(&host.context, toHost(host.allocator, m), &inverse, true), nullptr);
        ASSERT_STREQ(lud(factors, pivots.data(), &sign, true), nullptr);
      }
      for (int j = 0; j < n; ++j) {
        aMatrix* e = host.allocator.matrix(n, 1, true, complex);
        e->re[j] = 1.0;
        ASSERT_STREQ((complex ? clud_subst : lud_subst)(factors, pivots.data(), e), nullptr);
        EXPECT_TRUE(sameBits(realPart(inverse).column(j), e->re, n)) << "column " << j;
        if (complex) {
          EXPECT_TRUE(sameBits(imagPart(inverse).column(j), e->im, n));
        }
      }
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
    EXPECT_TRUE(sameBits(as<aMatrix>(l)->re, rowCholesky(m).data(), n * n)) << "order " << n;
  }
}

}  // namespace
