// Accuracy of qr (and rref), with LAPACK as the oracle where one is needed. Residuals are
// scaled in the manner of LAPACK's own tests and must stay below 30:
//
//   qr     ||M - Q R|| / (max(m, n) ||M|| eps)     ||Q^T Q - I|| / (m eps)     (1-norms)
//   rref   ||X - Y|| / (max(m, n) cond(B) ||Y|| eps), X the non-pivot columns of rref(M)
//          in the pivot rows, Y the solution of B Y = (the same columns of M's first r
//          rows) by dgesv, B the pivot block (the first r rows of M's pivot columns)
//
// R must be a staircase with exact zeros below it, with a non-zero row for each of M's
// singular values above max(m, n) sigma_1 eps (dgesvd, the rank k); its rows from k on may
// hold rounding errors, at most ||R(k:m, :)|| / (max(m, n) ||M|| eps) < 30.
//
// Random, row-graded and rank-deficient matrices from 1 x 1 to 150 x 150, square, tall and
// wide. rref of a square matrix of full rank must be exactly the identity; of a square
// matrix of rank r it must have r pivot rows, each with its pivot exactly 1 and exact zeros
// above and below it (of other shapes at least r).
#include <algorithm>
#include <string>

#include "tests/linalg/linalg_test.h"
#include "tests/support/lapack.h"

namespace {

using namespace lintest;

// The number of singular values of m above max(m, n) sigma_1 eps.
int lapackRank(const Dense& m) {
  const std::vector<double> s = lapack::singularValues(m.rows, m.cols, m.a, false);
  EXPECT_FALSE(s.empty());
  const double tol = std::max(m.rows, m.cols) * s[0] * kEpsilon;
  return static_cast<int>(std::count_if(s.begin(), s.end(), [&](double x) { return x > tol; }));
}

// The number of non-zero rows of r when they form a staircase: each starts (with its first
// non-zero entry) further right than the row above, and every row after them is exactly
// zero. -1 when r is no staircase.
int staircaseRows(const Dense& r) {
  int rows = 0, lastLead = -1;
  for (int i = 0; i < r.rows; ++i) {
    int lead = 0;
    while (lead < r.cols && r(i, lead) == 0.0) ++lead;
    if (lead == r.cols) continue;
    if (rows != i || lead <= lastLead) return -1;
    ++rows;
    lastLead = lead;
  }
  return rows;
}

struct Case {
  std::string name;
  Dense m;
};

std::vector<Case> matrices() {
  std::mt19937 rng(17);
  const std::pair<int, int> shapes[] = {{1, 1},    {2, 2},    {3, 3},    {5, 3},
                                        {3, 5},    {10, 10},  {40, 25},  {25, 40},
                                        {150, 60}, {60, 150}, {150, 150}};
  std::vector<Case> cases;
  for (auto [m, n] : shapes) {
    const std::string shape = " " + std::to_string(m) + "x" + std::to_string(n);
    cases.push_back({"random" + shape, randomMatrix(m, n, false, rng)});
    cases.push_back({"graded" + shape, randomMatrix(m, n, false, rng, 10.0)});
    for (int k : {1, std::min(m, n) / 2}) {
      if (k < 1 || k >= std::min(m, n)) continue;
      cases.push_back({"rank " + std::to_string(k) + shape,
                       product(randomMatrix(m, k, false, rng), randomMatrix(k, n, false, rng))});
    }
  }
  return cases;
}

class FactoringAccuracy : public LinalgTest {};

TEST_F(FactoringAccuracy, QrResidualsStaircaseAndRank) {
  double worstResidual = 0.0, worstOrthogonality = 0.0, worstRounding = 0.0;
  int extraRows = 0;
  for (const Case& c : matrices()) {
    SCOPED_TRACE(c.name);
    const int m = c.m.rows, n = c.m.cols;
    Anyval* result = call("qr", {value(c.m)});
    ASSERT_EQ(result->tag, kTagMatrix) << testsupport::messageOf(result);
    const Dense qr = fromHost(as<aMatrix>(result));
    Dense q(m, m), r(m, n);
    for (int i = 0; i < m; ++i) {
      for (int j = 0; j < m; ++j) q(i, j) = qr(i, j);
      for (int j = 0; j < n; ++j) r(i, j) = qr(i, m + j);
    }
    const double residual = norm1(product(q, r, &c.m)) / (std::max(m, n) * norm1(c.m) * kEpsilon);
    const Dense identity = identityMatrix(m);
    const double orthogonality = norm1(product(transpose(q), q, &identity)) / (m * kEpsilon);
    EXPECT_LT(residual, kThreshold);
    EXPECT_LT(orthogonality, kThreshold);
    // The staircase has a row for every singular value above the rank tolerance. Where
    // rounding leaves a dependent column entries just above qr's tolerance it has a few
    // more, holding nothing but rounding errors.
    const int rank = lapackRank(c.m), stairs = staircaseRows(r);
    EXPECT_GE(stairs, rank);
    Dense beyondRank(m - rank, n);
    for (int i = rank; i < m; ++i) {
      for (int j = 0; j < n; ++j) beyondRank(i - rank, j) = r(i, j);
    }
    const double rounding = norm1(beyondRank) / (std::max(m, n) * norm1(c.m) * kEpsilon);
    EXPECT_LT(rounding, kThreshold);
    worstResidual = std::max(worstResidual, residual);
    worstOrthogonality = std::max(worstOrthogonality, orthogonality);
    worstRounding = std::max(worstRounding, rounding);
    extraRows += stairs - rank;
  }
  RecordProperty("worst_qr_residual", std::to_string(worstResidual));
  RecordProperty("worst_qr_orthogonality", std::to_string(worstOrthogonality));
  RecordProperty("worst_qr_rows_beyond_rank", std::to_string(worstRounding));
  RecordProperty("qr_staircase_rows_beyond_rank", extraRows);
}

// The pivot columns of r: column c is the pivot of pivot row k when it is exactly e_k, k
// counting the pivots found so far from the left.
std::vector<int> pivotColumns(const Dense& r) {
  std::vector<int> pivots;
  for (int c = 0; c < r.cols && int(pivots.size()) < r.rows; ++c) {
    const int k = static_cast<int>(pivots.size());
    bool unit = true;
    for (int i = 0; i < r.rows; ++i) unit = unit && r(i, c) == (i == k ? 1.0 : 0.0);
    if (unit) pivots.push_back(c);
  }
  return pivots;
}

TEST_F(FactoringAccuracy, RrefPivotsAndSolutions) {
  std::mt19937 rng(23);
  // m x n matrices of rank r: products of random m x r and r x n factors, scaled to
  // entries of about 1, and for full rank also row-graded ones.
  const struct {
    int m, n, r;
  } shapes[] = {{1, 1, 1},     {3, 3, 3},     {10, 10, 10}, {150, 150, 150}, {10, 10, 5},
                {40, 25, 12},  {25, 40, 12},  {25, 40, 25}, {150, 150, 75},  {150, 60, 30},
                {60, 150, 60}, {60, 150, 30}, {150, 60, 60}};
  double worst = 0.0;
  int extraPivots = 0;
  for (const auto& shape : shapes) {
    const int m = shape.m, n = shape.n, r = shape.r;
    for (bool graded : {false, true}) {
      if (graded && r < std::min(m, n)) continue;
      SCOPED_TRACE(std::to_string(m) + "x" + std::to_string(n) + " rank " + std::to_string(r) +
                   (graded ? " graded" : ""));
      Dense a = graded ? randomMatrix(m, n, false, rng, 8.0)
                       : product(randomMatrix(m, r, false, rng), randomMatrix(r, n, false, rng));
      if (!graded) {
        for (Complex& x : a.a) x /= std::sqrt(double(r));
      }
      ASSERT_EQ(lapackRank(a), r);
      Anyval* result = call("rref", {value(a)});
      ASSERT_EQ(result->tag, kTagMatrix) << testsupport::messageOf(result);
      const Dense reduced = fromHost(as<aMatrix>(result));

      // The first r columns are independent, so they are the pivot columns. The tolerance
      // of a matrix that is not square is max(m, n) eps, not scaled by M's size: rounding
      // left in a dependent column may exceed it and give that column a pivot too.
      const std::vector<int> pivots = pivotColumns(reduced);
      if (m == n) {
        EXPECT_EQ(int(pivots.size()), r);
      }
      EXPECT_GE(int(pivots.size()), r);
      extraPivots += static_cast<int>(pivots.size()) - r;
      if (int(pivots.size()) != r) continue;
      for (int k = 0; k < r; ++k) EXPECT_EQ(pivots[k], k);
      // Below the pivot rows only what the tolerance let pass: at most 1e-10.
      for (int j = r; j < n; ++j) {
        for (int i = r; i < m; ++i) EXPECT_LE(std::abs(reduced(i, j)), 1e-10);
      }
      if (r == n) continue;

      std::vector<double> block(size_t(r) * r), rest(size_t(r) * (n - r));
      Dense difference(r, n - r), y(r, n - r);
      for (int i = 0; i < r; ++i) {
        for (int j = 0; j < r; ++j) block[i + size_t(j) * r] = a(i, j).real();
        for (int j = r; j < n; ++j) rest[i + size_t(j - r) * r] = a(i, j).real();
      }
      const lapack::Solution solution = lapack::solve(r, n - r, block, rest);
      ASSERT_FALSE(solution.y.empty());
      for (int i = 0; i < r; ++i) {
        for (int j = r; j < n; ++j) {
          y(i, j - r) = solution.y[i + size_t(j - r) * r];
          difference(i, j - r) = reduced(i, j) - y(i, j - r);
        }
      }
      const double error =
          norm1(difference) / (std::max(m, n) * solution.condition * norm1(y) * kEpsilon);
      EXPECT_LT(error, kThreshold);
      worst = std::max(worst, error);
    }
  }
  RecordProperty("worst_rref_error", std::to_string(worst));
  RecordProperty("rref_pivots_beyond_rank", extraPivots);
}

}  // namespace
