// Accuracy of the singular value family with LAPACK as the oracle, in the manner of
// LAPACK's own tests (1-norms; below 30 passes):
//
//   svd, svds   ||A - U diag(w) V^T|| / (max(m, n) ||A|| eps), ||U^T U - I|| / (m eps),
//               ||V^T V - I|| / (n eps); every w(i) within 30 max(m, n) eps ||A||_2 of
//               dgesvd's
//   geninv      within 30 max(m, n) eps kappa ||X|| of V diag(1 / s) U^T from dgesvd, kappa
//               the ratio of the largest kept singular value to the smallest
//   rank        the count of dgesvd's values above the same tolerance
//   herm_eigvals  within 30 n eps ||H||_2 of zheev's
//
// on random, row-graded, rank-deficient, tiny (1e-300) and huge (1e150) matrices, square
// and tall, of orders 1 to 150; and the norms and condition numbers against their
// definitions computed by LAPACK, on random and row-graded real and complex matrices:
//
//   norm1, normi, norme   zlange's '1', 'I', 'F'                within 30 n eps, relative
//   norm2                 the largest singular value (zgesvd)   within 30 n eps, relative
//   cond1, condi, conde   those norms of A and of zgetri's inverse
//   cond2                 the ratio of extreme singular values  within 30 n eps kappa
#include <algorithm>
#include <string>

#include "svd/hermitian.h"
#include "tests/linalg/linalg_test.h"
#include "tests/support/lapack.h"

namespace {

using namespace lintest;

struct Case {
  std::string name;
  Dense a;
};

std::vector<Case> matrices() {
  std::mt19937 rng(10);
  std::vector<Case> cases;
  for (int n : {1, 2, 3, 5, 10, 40, 150}) {
    for (int m : {n, n + n / 2 + 3}) {
      const std::string shape = " " + std::to_string(m) + "x" + std::to_string(n);
      cases.push_back({"random" + shape, randomMatrix(m, n, false, rng)});
      if (m > 1) cases.push_back({"graded" + shape, randomMatrix(m, n, false, rng, 12.0)});
      if (n > 1) {
        const int r = n / 2;
        cases.push_back({"rank " + std::to_string(r) + shape,
                         product(randomMatrix(m, r, false, rng), randomMatrix(r, n, false, rng))});
      }
      for (double scale : {1e-300, 1e150}) {
        Dense a = randomMatrix(m, n, false, rng);
        for (Complex& x : a.a) x *= scale;
        cases.push_back({(scale < 1 ? "tiny" : "huge") + shape, a});
      }
    }
  }
  return cases;
}

// A tolerance between the singular values that clearly stand apart from the rest: the
// geometric middle of the first gap of more than 10^6, or 0 when there is none.
double separatingTolerance(const std::vector<double>& s) {
  for (size_t i = 0; i + 1 < s.size(); ++i) {
    if (s[i + 1] <= 1e-6 * s[i]) return s[i + 1] > 0 ? std::sqrt(s[i] * s[i + 1]) : 1e-3 * s[i];
  }
  return 0.0;
}

class SvdAccuracy : public LinalgTest {
 protected:
  Dense call1(const char* name, const Dense& a) {
    Anyval* result = call(name, {value(a)});
    EXPECT_EQ(result->tag, kTagMatrix) << name << ": " << testsupport::messageOf(result);
    return result->tag == kTagMatrix ? fromHost(as<aMatrix>(result)) : Dense(0, 0);
  }
};

TEST_F(SvdAccuracy, FactorsReproduceTheMatrixAndAreOrthogonal) {
  double worst[3] = {};
  for (const Case& c : matrices()) {
    SCOPED_TRACE(c.name);
    const int m = c.a.rows, n = c.a.cols;
    const Dense packed = call1("svd", c.a), w = call1("svds", c.a);
    ASSERT_EQ(packed.rows, m + n);
    Dense u(m, n), v(n, n), uw(m, n);
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < m; ++i) u(i, j) = packed(i, j), uw(i, j) = packed(i, j) * w(j, 0);
      for (int i = 0; i < n; ++i) v(i, j) = packed(m + i, j);
    }
    const Dense e = identityMatrix(n);
    const double ratios[3] = {
        norm1(product(uw, transpose(v), &c.a)) / (std::max(m, n) * norm1(c.a) * kEpsilon),
        norm1(product(transpose(u), u, &e)) / (m * kEpsilon),
        norm1(product(transpose(v), v, &e)) / (n * kEpsilon)};
    for (int k = 0; k < 3; ++k) {
      EXPECT_LT(ratios[k], kThreshold) << "ratio " << k;
      worst[k] = std::max(worst[k], ratios[k]);
    }
  }
  std::printf("worst ratios: residual %.3g, U orthogonality %.3g, V orthogonality %.3g\n", worst[0],
              worst[1], worst[2]);
}

// The values within 30 max(m, n) eps ||A||_2 of dgesvd's; the rank the count of dgesvd's
// values above the rank's tolerance, unless one of them is too close to it to tell.
TEST_F(SvdAccuracy, ValuesAndRankAgreeWithDgesvd) {
  double worst = 0.0;
  int ranksCompared = 0;
  for (const Case& c : matrices()) {
    SCOPED_TRACE(c.name);
    const int m = c.a.rows, n = c.a.cols;
    const std::vector<double> s = lapack::singularValues(m, n, c.a.a, false);
    ASSERT_EQ(int(s.size()), n);
    const Dense w = call1("svds", c.a);
    ASSERT_EQ(w.rows, n);
    for (int i = 0; i < n; ++i) {
      const double ratio = std::abs(w(i, 0) - s[i]) / (std::max(m, n) * kEpsilon * s[0]);
      EXPECT_LE(ratio, kThreshold) << "value " << i;
      worst = std::max(worst, ratio);
      if (i > 0) {
        EXPECT_LE(w(i, 0).real(), w(i - 1, 0).real());
      }
    }

    const double tol = std::max(m, n) * s[0] * kEpsilon;
    if (std::any_of(s.begin(), s.end(), [&](double x) { return x > tol / 4 && x < 4 * tol; })) {
      continue;
    }
    const auto expected = std::count_if(s.begin(), s.end(), [&](double x) { return x > tol; });
    EXPECT_REAL_SCALAR(call("rank", {value(c.a)}), double(expected));
    // The transpose has the same rank.
    EXPECT_REAL_SCALAR(call("rank", {value(transpose(c.a))}), double(expected));
    ++ranksCompared;
  }
  EXPECT_GT(ranksCompared, 60);
  std::printf("worst value difference / (max(m, n) eps ||A||): %.3g\n", worst);
}

TEST_F(SvdAccuracy, GeninvAgreesWithThePseudoInverseFromDgesvd) {
  double worst = 0.0;
  for (const Case& c : matrices()) {
    SCOPED_TRACE(c.name);
    const int m = c.a.rows, n = c.a.cols;
    std::vector<double> real(c.a.a.size());
    for (size_t k = 0; k < real.size(); ++k) real[k] = c.a.a[k].real();
    const lapack::Decomposition d = lapack::thinSvd(m, n, real);
    ASSERT_EQ(int(d.s.size()), n);
    const double tol = separatingTolerance(d.s);
    // X = V diag(1 / s) U^T over the kept values.
    Dense x(n, m);
    double smallestKept = 0.0;
    for (int k = 0; k < n; ++k) {
      if (d.s[k] <= tol) continue;
      smallestKept = d.s[k];
      for (int j = 0; j < m; ++j) {
        for (int i = 0; i < n; ++i)
          x(i, j) += d.vt[k + size_t(i) * n] * d.u[j + size_t(k) * m] / d.s[k];
      }
    }
    setTol(tol);
    const Dense result = call1("geninv", c.a);
    ASSERT_EQ(result.rows, n);
    ASSERT_EQ(result.cols, m);
    const double xNorm = norm1(x);
    Dense difference(n, m);
    for (size_t k = 0; k < x.a.size(); ++k) difference.a[k] = result.a[k] - x.a[k];
    if (xNorm == 0.0) {
      EXPECT_EQ(norm1(difference), 0.0);
      continue;
    }
    const double kappa = d.s[0] / smallestKept;
    const double ratio = norm1(difference) / (std::max(m, n) * kEpsilon * kappa * xNorm);
    EXPECT_LT(ratio, kThreshold);
    worst = std::max(worst, ratio);
  }
  std::printf("worst geninv difference / (max(m, n) eps kappa ||X||): %.3g\n", worst);
}

TEST_F(SvdAccuracy, HermitianEigenvaluesAgreeWithZheev) {
  std::mt19937 rng(46);
  double worst = 0.0;
  for (int n : {1, 2, 3, 5, 10, 40, 150}) {
    for (bool gram : {true, false}) {
      SCOPED_TRACE(std::to_string(n) + (gram ? " A^H A" : " Hermitian"));
      // A^H A of a random complex A, or (B + B^H) / 2, graded for variety.
      const Dense b = randomMatrix(n, n, true, rng, gram ? 0.0 : 4.0);
      Dense h(n, n, true);
      for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
          if (gram) {
            for (int k = 0; k < n; ++k) h(i, j) += std::conj(b(k, i)) * b(k, j);
          } else {
            h(i, j) = 0.5 * (b(i, j) + std::conj(b(j, i)));
          }
        }
      }
      const std::vector<double> expected = lapack::hermitianEigenvalues(n, h.a);
      ASSERT_EQ(int(expected.size()), n);
      std::vector<double> values(n);
      ASSERT_STREQ(herm_eigvals(toHost(host.allocator, h), values.data()), nullptr);
      const double scale =
          n * kEpsilon * std::max(std::abs(expected[0]), std::abs(expected.back()));
      for (int i = 0; i < n; ++i) {
        const double ratio = std::abs(values[i] - expected[i]) / scale;
        EXPECT_LT(ratio, kThreshold) << "value " << i;
        worst = std::max(worst, ratio);
        if (i > 0) {
          EXPECT_GE(values[i], values[i - 1]);
        }
      }
    }
  }
  std::printf("worst eigenvalue difference / (n eps ||H||): %.3g\n", worst);
}

// Random and row-graded (rows scaled from 1 to 1e6) real and complex square matrices.
std::vector<Case> squareMatrices() {
  std::mt19937 rng(38);
  std::vector<Case> cases;
  for (int n : {1, 2, 3, 5, 10, 40, 150}) {
    for (bool complex : {false, true}) {
      const std::string kind = complex ? " complex " : " real ";
      cases.push_back({"random" + kind + std::to_string(n), randomMatrix(n, n, complex, rng)});
      // A complex inverse wants the product of U's diagonal to stay finite, so the graded
      // complex matrices stop at order 40.
      if (n > 1 && !(complex && n > 40)) {
        cases.push_back(
            {"graded" + kind + std::to_string(n), randomMatrix(n, n, complex, rng, 6.0)});
      }
    }
  }
  return cases;
}

class NormAccuracy : public LinalgTest {
 protected:
  double scalar(const char* name, const Dense& a) {
    const Anyval* result = call(name, {value(a)});
    EXPECT_EQ(result->tag, kTagScalar) << name << ": " << testsupport::messageOf(result);
    return result->tag == kTagScalar ? as<aComplex>(result)->re : 0.0;
  }
  // |computed - expected| / (n eps tolerance expected), recorded as the worst so far.
  void expectClose(const char* name, double computed, double expected, double tolerance) {
    const double ratio = std::abs(computed - expected) / (n_ * kEpsilon * tolerance * expected);
    EXPECT_LT(ratio, kThreshold) << name;
    worst_ = std::max(worst_, ratio);
  }
  int n_ = 1;
  double worst_ = 0.0;
};

TEST_F(NormAccuracy, NormsAgreeWithLapack) {
  for (const Case& c : squareMatrices()) {
    SCOPED_TRACE(c.name);
    n_ = c.a.rows;
    expectClose("norm1", scalar("norm1", c.a), lapack::norm('1', n_, n_, c.a.a), 1.0);
    expectClose("normi", scalar("normi", c.a), lapack::norm('I', n_, n_, c.a.a), 1.0);
    expectClose("norme", scalar("norme", c.a), lapack::norm('F', n_, n_, c.a.a), 1.0);
    const std::vector<double> s = lapack::singularValues(n_, n_, c.a.a, c.a.complex);
    expectClose("norm2", scalar("norm2", c.a), s[0], 1.0);
  }
  std::printf("worst norm difference / (n eps norm): %.3g\n", worst_);
}

TEST_F(NormAccuracy, ConditionNumbersAgreeWithLapack) {
  for (const Case& c : squareMatrices()) {
    SCOPED_TRACE(c.name);
    n_ = c.a.rows;
    const std::vector<Complex> inverse = lapack::inverse(n_, c.a.a);
    ASSERT_FALSE(inverse.empty());
    const std::vector<double> s = lapack::singularValues(n_, n_, c.a.a, c.a.complex);
    const double kappa = s[0] / s.back();
    for (auto [name, which] : {std::pair{"cond1", '1'}, {"condi", 'I'}, {"conde", 'F'}}) {
      const double expected =
          lapack::norm(which, n_, n_, c.a.a) * lapack::norm(which, n_, n_, inverse);
      expectClose(name, scalar(name, c.a), expected, kappa);
    }
    expectClose("cond2", scalar("cond2", c.a), kappa, kappa);
  }
  std::printf("worst condition number difference / (n eps kappa cond): %.3g\n", worst_);
}

}  // namespace
