// Accuracy in the manner of LAPACK's own tests: residuals scaled by the order, the norms
// involved and machine epsilon. For a backward-stable computation these ratios stay small
// (here: below 30) however badly conditioned the matrix is.
//
//   lu        ||P A - L U|| / (n ||A|| eps)
//   lsolve    ||A x - b|| / (n ||A|| ||x|| eps)
//   inv       ||A inv(A) - I|| / (n ||A|| ||inv(A)|| eps)
//   cholesky  ||L L^T - A|| / (n ||A|| eps)
//
// on random, row-graded, Hilbert and complex matrices of orders 1 to 200 (1-norms).
#include <string>

#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

constexpr double kEpsilon = 2.220446049250313e-16;
constexpr double kThreshold = 30.0;

struct Case {
  std::string name;
  Dense a;
};

std::vector<Case> squareMatrices() {
  std::mt19937 rng(20240605);
  std::vector<Case> cases;
  for (int n : {1, 2, 3, 5, 10, 50, 200}) {
    cases.push_back({"random " + std::to_string(n), randomMatrix(n, n, false, rng)});
    cases.push_back({"complex " + std::to_string(n), randomMatrix(n, n, true, rng)});
  }
  for (int n : {2, 5, 10, 50}) {
    cases.push_back({"graded " + std::to_string(n), gradedRows(n, false, rng)});
  }
  cases.push_back({"graded complex 10", gradedRows(10, true, rng)});
  for (int n : {2, 3, 5, 8, 10}) cases.push_back({"Hilbert " + std::to_string(n), hilbert(n)});
  return cases;
}

// Symmetric positive definite: B B^T + n I, the same graded two-sided by powers of ten,
// and Hilbert matrices.
std::vector<Case> positiveDefiniteMatrices() {
  std::mt19937 rng(7);
  std::vector<Case> cases;
  for (int n : {1, 2, 3, 5, 10, 50, 200}) {
    const Dense b = randomMatrix(n, n, false, rng);
    Dense a = product(b, transpose(b));
    for (int i = 0; i < n; ++i) a(i, i) += n;
    cases.push_back({"B B^T + n I " + std::to_string(n), a});
    if (n > 1 && n <= 50) {
      for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) a(i, j) *= std::pow(10.0, 6.0 * (i + j) / (n - 1));
      }
      cases.push_back({"graded SPD " + std::to_string(n), a});
    }
  }
  for (int n : {2, 5, 10}) cases.push_back({"Hilbert " + std::to_string(n), hilbert(n)});
  return cases;
}

class Accuracy : public LinalgTest {};

TEST_F(Accuracy, LuFactorsReproduceTheRowPermutedMatrix) {
  for (const Case& c : squareMatrices()) {
    SCOPED_TRACE(c.name);
    const int n = c.a.rows;
    Anyval* result = call("lu", {value(c.a)});
    ASSERT_EQ(result->tag, kTagMatrix);
    const Dense packed = fromHost(as<aMatrix>(result));
    ASSERT_EQ(packed.cols, 3 * n);
    const Dense p = columns(packed, 0, n), l = columns(packed, n, n), u = columns(packed, 2 * n, n);
    for (int j = 0; j < n; ++j) {
      int ones = 0;
      for (int i = 0; i < n; ++i) {
        ones += p(i, j) == 1.0;
        if (i < j) {
          EXPECT_EQ(l(i, j), 0.0);
        } else if (i == j) {
          EXPECT_EQ(l(i, j), 1.0);
        } else {
          EXPECT_EQ(u(i, j), 0.0);
        }
      }
      EXPECT_EQ(ones, 1) << "column " << j << " of P";
    }
    // P A with P^T's ones: P(i, k) = 1 makes row i of P A row k of A.
    const Dense pa = product(transpose(c.a), transpose(p));
    const double ratio =
        norm1(difference(transpose(pa), product(l, u))) / (n * norm1(c.a) * kEpsilon);
    EXPECT_LT(ratio, kThreshold);
  }
}

TEST_F(Accuracy, LsolveResidualIsSmall) {
  std::mt19937 rng(11);
  for (const Case& c : squareMatrices()) {
    SCOPED_TRACE(c.name);
    const int n = c.a.rows;
    // A real matrix also gets a complex right-hand side: the mixed case.
    for (bool complexRhs : {false, true}) {
      if (c.a.complex && !complexRhs) continue;
      const Dense b = product(c.a, randomMatrix(n, 1, complexRhs, rng));
      Anyval* x = call("lsolve", {value(c.a), value(b)});
      ASSERT_EQ(x->tag, kTagMatrix);
      const Dense solution = fromHost(as<aMatrix>(x));
      const double ratio = norm1(difference(product(c.a, solution), b)) /
                           (n * norm1(c.a) * norm1(solution) * kEpsilon);
      EXPECT_LT(ratio, kThreshold);
    }
  }
}

TEST_F(Accuracy, InverseTimesMatrixIsNearlyTheIdentity) {
  for (const Case& c : squareMatrices()) {
    SCOPED_TRACE(c.name);
    const int n = c.a.rows;
    Anyval* result = inverse(value(c.a));
    ASSERT_EQ(result->tag, kTagMatrix);
    const Dense ainv = fromHost(as<aMatrix>(result));
    EXPECT_EQ(ainv.complex, c.a.complex);
    const double ratio = norm1(difference(product(c.a, ainv), identityMatrix(n))) /
                         (n * norm1(c.a) * norm1(ainv) * kEpsilon);
    EXPECT_LT(ratio, kThreshold);
  }
}

TEST_F(Accuracy, CholeskyFactorReproducesTheMatrix) {
  for (const Case& c : positiveDefiniteMatrices()) {
    SCOPED_TRACE(c.name);
    const int n = c.a.rows;
    Anyval* result = call("cholesky", {value(c.a)});
    ASSERT_EQ(result->tag, kTagMatrix);
    const Dense l = fromHost(as<aMatrix>(result));
    for (int j = 0; j < n; ++j) {
      EXPECT_GT(l(j, j).real(), 0.0);
      for (int i = 0; i < j; ++i) EXPECT_EQ(l(i, j), 0.0);
    }
    const double ratio =
        norm1(difference(product(l, transpose(l)), c.a)) / (n * norm1(c.a) * kEpsilon);
    EXPECT_LT(ratio, kThreshold);
  }
}

}  // namespace
