// Accuracy of qr (and rref), with LAPACK as the oracle where one is needed. Residuals are
// scaled in the manner of LAPACK's own tests and must stay below 30:
//
//   qr   ||M - Q R|| / (max(m, n) ||M|| eps)     ||Q^T Q - I|| / (m eps)       (1-norms)
//
// R must be a staircase with exact zeros below it, with a non-zero row for each of M's
// singular values above max(m, n) sigma_1 eps (dgesvd, the rank k); its rows from k on may
// hold rounding errors, at most ||R(k:m, :)|| / (max(m, n) ||M|| eps) < 30.
//
// Random, row-graded and rank-deficient matrices from 1 x 1 to 150 x 150, square, tall and
// wide.
#include <algorithm>
#include <string>

#include "tests/linalg/linalg_test.h"

extern "C" {
void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a,
             const int* lda, double* s, double* u, const int* ldu, double* vt, const int* ldvt,
             double* work, const int* lwork, int* info, size_t jobuLength, size_t jobvtLength);
}

namespace {

using namespace lintest;

constexpr double kEpsilon = 2.220446049250313e-16;
constexpr double kThreshold = 30.0;

// The number of singular values of the real part of m above max(m, n) sigma_1 eps.
int lapackRank(const Dense& m) {
  std::vector<double> a(m.a.size());
  for (size_t k = 0; k < a.size(); ++k) a[k] = m.a[k].real();
  std::vector<double> s(std::min(m.rows, m.cols));
  int lwork = -1, info, one = 1;
  double size;
  dgesvd_("N", "N", &m.rows, &m.cols, a.data(), &m.rows, s.data(), nullptr, &one, nullptr, &one,
          &size, &lwork, &info, 1, 1);
  lwork = static_cast<int>(size);
  std::vector<double> work(lwork);
  dgesvd_("N", "N", &m.rows, &m.cols, a.data(), &m.rows, s.data(), nullptr, &one, nullptr, &one,
          work.data(), &lwork, &info, 1, 1);
  EXPECT_EQ(info, 0);
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
    Dense identity(m, m);
    for (int i = 0; i < m; ++i) identity(i, i) = 1.0;
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

}  // namespace
