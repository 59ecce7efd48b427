// Accuracy in the manner of LAPACK's own tests: residuals scaled by the order, the norms
// involved and machine epsilon (1-norms), which a backward-stable computation keeps small
// (here: below 30) however badly conditioned the matrix:
//
//   lu        ||P A - L U|| / (n ||A|| eps)
//   lsolve    ||A x - b|| / (n ||A|| ||x|| eps)
//   inv       ||A inv(A) - I|| / (n ||A|| ||inv(A)|| eps)
//   cholesky  ||L L^T - A|| / (n ||A|| eps)
//
// on random, row-graded, Hilbert and complex matrices of orders 1 to 200.
#include <algorithm>
#include <string>

#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

// H(i, j) = 1 / (i + j + 1): symmetric positive definite, and badly conditioned.
Dense hilbert(int n) {
  Dense m(n, n);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) m(i, j) = 1.0 / (i + j + 1);
  }
  return m;
}

struct Case {
  std::string name;
  Dense a;
};

// General matrices; with `positiveDefinite` symmetric positive definite ones instead:
// B B^T + n I of random, and of row-graded B, and Hilbert matrices.
std::vector<Case> matrices(bool positiveDefinite) {
  std::mt19937 rng(2024);
  std::vector<Case> cases;
  auto add = [&](std::string name, int n, const Dense& a) {
    if (!positiveDefinite) return cases.push_back({name + " " + std::to_string(n), a});
    Dense spd = product(a, transpose(a));
    for (int i = 0; i < n; ++i) spd(i, i) += n;
    cases.push_back({name + " B B^T " + std::to_string(n), spd});
  };
  for (int n : {1, 2, 3, 5, 10, 50, 200}) {
    add("random", n, randomMatrix(n, n, false, rng));
    if (!positiveDefinite) add("complex", n, randomMatrix(n, n, true, rng));
    if (n > 1 && n <= 50) add("graded", n, randomMatrix(n, n, false, rng, 12.0));
  }
  if (!positiveDefinite) add("graded complex", 10, randomMatrix(10, 10, true, rng, 12.0));
  for (int n : {2, 3, 5, 8, 10}) cases.push_back({"Hilbert " + std::to_string(n), hilbert(n)});
  return cases;
}

class Accuracy : public LinalgTest {};

TEST_F(Accuracy, LuLsolveAndInvResidualsAreSmall) {
  std::mt19937 rng(11);
  for (const Case& c : matrices(false)) {
    SCOPED_TRACE(c.name);
    const int n = c.a.rows;
    const double scale = n * norm1(c.a) * kEpsilon;

    Anyval* factors = call("lu", {value(c.a)});
    ASSERT_EQ(factors->tag, kTagMatrix);
    const Dense plu = fromHost(as<aMatrix>(factors));
    Dense p(n, n), l(n, n, c.a.complex), u(n, n, c.a.complex);
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        p(i, j) = plu(i, j), l(i, j) = plu(i, n + j), u(i, j) = plu(i, 2 * n + j);
        EXPECT_TRUE(i < j ? l(i, j) == 0.0 : i == j ? l(i, j) == 1.0 : u(i, j) == 0.0);
      }
    }
    // P has one 1 in every column and zeros elsewhere; P A = (A^T P^T)^T.
    EXPECT_EQ(std::count(p.a.begin(), p.a.end(), Complex(1.0)), n);
    EXPECT_EQ(norm1(p), 1.0);
    const Dense pa = transpose(product(transpose(c.a), transpose(p)));
    EXPECT_LT(norm1(product(l, u, &pa)) / scale, kThreshold) << "lu";

    // A real matrix also gets a complex right-hand side.
    for (bool complexRhs : {c.a.complex, true}) {
      const Dense b = product(c.a, randomMatrix(n, 1, complexRhs, rng));
      Anyval* x = call("lsolve", {value(c.a), value(b)});
      ASSERT_EQ(x->tag, kTagMatrix);
      const Dense solution = fromHost(as<aMatrix>(x));
      EXPECT_LT(norm1(product(c.a, solution, &b)) / (scale * norm1(solution)), kThreshold)
          << "lsolve";
    }

    Anyval* inverse = this->inverse(value(c.a));
    ASSERT_EQ(inverse->tag, kTagMatrix);
    const Dense ainv = fromHost(as<aMatrix>(inverse));
    EXPECT_EQ(ainv.complex, c.a.complex);
    const Dense identity = identityMatrix(n);
    EXPECT_LT(norm1(product(c.a, ainv, &identity)) / (scale * norm1(ainv)), kThreshold) << "inv";
  }
}

TEST_F(Accuracy, CholeskyResidualIsSmall) {
  for (const Case& c : matrices(true)) {
    SCOPED_TRACE(c.name);
    const int n = c.a.rows;
    Anyval* result = call("cholesky", {value(c.a)});
    ASSERT_EQ(result->tag, kTagMatrix);
    const Dense l = fromHost(as<aMatrix>(result));
    for (int j = 0; j < n; ++j) {
      EXPECT_GT(l(j, j).real(), 0.0);
      for (int i = 0; i < j; ++i) EXPECT_EQ(l(i, j), 0.0);
    }
    EXPECT_LT(norm1(product(l, transpose(l), &c.a)) / (n * norm1(c.a) * kEpsilon), kThreshold);
  }
}

}  // namespace
