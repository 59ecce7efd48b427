// qr and rref reorder their loops for speed: the rotations or elimination steps reach the
// other columns one column at a time, in blocks of steps (linalg/qr.cpp, linalg/rref.cpp).
// Every element must still go through the same operations in the same order, so the
// results must be bit for bit those of the algorithms as their steps are written: for qr
// every rotation sweeping all columns at once with rotate_rows, for rref every step
// sweeping the whole matrix.
#include <cstring>
#include <string>

#include "host/ufnutils.h"
#include "linalg/givens.h"
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

bool sameBits(double x, double y) {
  return std::memcmp(&x, &y, sizeof x) == 0;
}

// The Euclidean norm as qr takes it, relative to the largest magnitude.
double columnNorm(const std::vector<double>& x) {
  double largest = 0.0;
  for (double v : x) {
    if (std::fabs(v) > largest) largest = std::fabs(v);
  }
  if (largest == 0.0) return 0.0;
  double sum = 0.0;
  for (double v : x) sum += (v / largest) * (v / largest);
  return largest * std::sqrt(sum);
}

// The factorisation as written, on R (M's copy) and the accumulator G (the identity at
// first; Q is its transpose), with 1-based j and rows.
void straightforwardQr(aMatrix* R, aMatrix* G) {
  const int m = R->rows, n = R->cols;
  const PartView a = realPart(R);
  int r = 0;
  for (int j = 1; j <= n && r < m; ++j) {
    std::vector<double> w(a.column(j - 1), a.column(j - 1) + m);
    const double nrm = columnNorm(w);
    if (nrm == 0.0) continue;
    const double tol = nrm * kEpsilon * j / std::sqrt(double(m - r));
    bool significant = std::fabs(w[r]) >= tol;
    for (int i = m; i >= r + 2; --i) {
      const double b = a(i - 1, j - 1);
      if (!(std::fabs(b) >= tol)) continue;
      significant = true;
      double c, s;
      givens(a(i - 2, j - 1), b, &c, &s);
      ASSERT_EQ(rotate_rows(c, s, i - 1, i, R), nullptr);
      ASSERT_EQ(rotate_rows(c, s, i - 1, i, G), nullptr);
    }
    if (significant) ++r;
    zero_col(j - 1, r, R);
  }
}

// rref as written, on the real part of m (column-major), with 0-based rows and columns.
std::vector<double> straightforwardRref(const Dense& dense) {
  const int m = dense.rows, n = dense.cols;
  std::vector<double> t(dense.a.size());
  for (size_t k = 0; k < t.size(); ++k) t[k] = dense.a[k].real();
  auto T = [&](int r, int c) -> double& { return t[r + size_t(c) * m]; };
  double tol = std::max(m, n) * kEpsilon;
  if (m == n) {
    double largestRowSum = 0.0;
    for (int r = 0; r < m; ++r) {
      double sum = 0.0;
      for (int c = 0; c < n; ++c) sum += std::fabs(T(r, c));
      if (sum > largestRowSum) largestRowSum = sum;
    }
    tol *= largestRowSum;
  }
  if (tol > 1e-10) tol = 1e-10;
  if (m < 1) return t;
  int i = 0, j = 0;
  for (;;) {
    double big = 0.0;
    int p = i, pivot = -1;
    while (j < n && pivot < 0) {
      for (int r = i; r < m; ++r) {
        if (std::fabs(T(r, j)) > big) big = std::fabs(T(r, j)), p = r;
      }
      if (big > tol) pivot = j;
      ++j;
    }
    if (pivot < 0) return t;
    for (int c = 0; c < n; ++c) std::swap(T(p, c), T(i, c));
    const double piv = T(i, pivot);
    T(i, pivot) = 1.0;
    for (int c = pivot + 1; c < n; ++c) T(i, c) *= 1.0 / piv;
    for (int r = 0; r < m; ++r) {
      if (r == i) continue;
      const double f = T(r, pivot);
      T(r, pivot) = 0.0;
      for (int c = pivot + 1; c < n; ++c) T(r, c) = T(r, c) - f * T(i, c);
    }
    if (i == m - 1) return t;
    ++i;
  }
}

struct Case {
  std::string name;
  Dense m;
};

// Random and graded matrices, rank-deficient products, and sparse ones of small whole
// numbers (skipped pairs, zero columns, equal magnitudes, columns passed over), square,
// tall and wide, small and beyond several blocks of steps.
std::vector<Case> matrices() {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> small(-2, 2);
  const int large = sizeof(void*) == 8 ? 130 : 24;
  const std::pair<int, int> shapes[] = {{1, 1},   {1, 4},         {4, 1},      {3, 3},
                                        {5, 2},   {2, 5},         {17, 17},    {40, 33},
                                        {33, 40}, {large, large}, {large, 20}, {20, large}};
  std::vector<Case> cases;
  for (auto [m, n] : shapes) {
    const std::string shape = std::to_string(m) + "x" + std::to_string(n);
    cases.push_back({"random " + shape, randomMatrix(m, n, false, rng)});
    cases.push_back({"graded " + shape, randomMatrix(m, n, false, rng, 8.0)});
    const int k = std::max(1, std::min(m, n) / 3);
    cases.push_back({"rank " + std::to_string(k) + " " + shape,
                     product(randomMatrix(m, k, false, rng), randomMatrix(k, n, false, rng))});
    Dense sparse(m, n);
    for (Complex& x : sparse.a) x = small(rng) * (small(rng) == 0);
    cases.push_back({"sparse " + shape, sparse});
  }
  return cases;
}

class AsWritten : public LinalgTest {};

TEST_F(AsWritten, QrIsTheFactorisationAsWritten) {
  for (const Case& c : matrices()) {
    SCOPED_TRACE(c.name);
    const int m = c.m.rows, n = c.m.cols;
    aMatrix* R = toHost(host.allocator, c.m);
    aMatrix* G = toHost(host.allocator, identityMatrix(m));
    straightforwardQr(R, G);

    Anyval* result = call("qr", {value(c.m)});
    ASSERT_EQ(result->tag, kTagMatrix) << testsupport::messageOf(result);
    const aMatrix* qr = as<aMatrix>(result);
    ASSERT_EQ(qr->cols, m + n);
    int differences = 0;
    for (int j = 0; j < m + n; ++j) {
      for (int i = 0; i < m; ++i) {
        const double expected = j < m ? realPart(G)(j, i) : realPart(R)(i, j - m);
        differences += !sameBits(realPart(qr)(i, j), expected);
        EXPECT_EQ(imagPart(qr)(i, j), 0.0);
      }
    }
    EXPECT_EQ(differences, 0);
  }
}

TEST_F(AsWritten, RrefIsTheEliminationAsWritten) {
  for (const Case& c : matrices()) {
    SCOPED_TRACE(c.name);
    const std::vector<double> expected = straightforwardRref(c.m);
    Anyval* result = call("rref", {value(c.m)});
    ASSERT_EQ(result->tag, kTagMatrix) << testsupport::messageOf(result);
    EXPECT_EQ(
        std::memcmp(as<aMatrix>(result)->re, expected.data(), expected.size() * sizeof(double)), 0);
  }
}

// Rows outside the matrix; the arithmetic of rows inside is the factorisation's, above.
TEST_F(AsWritten, RotateRowsRefusesRowsOutsideTheMatrix) {
  aMatrix* x = values.matrix({{1, 2}, {3, 4}, {5, 6}});
  for (auto [p, q] : {std::pair{0, 1}, {1, 0}, {4, 1}, {1, 4}, {-1, 2}}) {
    EXPECT_STREQ(rotate_rows(0.6, 0.8, p, q, x), "ERR_QRFAC_5") << p << ", " << q;
  }
  EXPECT_EQ(elements(asValue(x)), fromHost(values.matrix({{1, 2}, {3, 4}, {5, 6}})).a);
}

}  // namespace
