// The norms and condition numbers against their definitions computed by LAPACK, on random
// and row-graded (rows scaled from 1 to 1e6) real and complex matrices of orders 1 to 150:
//
//   norm1, normi, norme   zlange's '1', 'I', 'F'                within 30 n eps, relative
//   norm2                 the largest singular value (zgesvd)   within 30 n eps, relative
//   cond1, condi, conde   those norms of A and of zgetri's inverse
//   cond2                 the ratio of extreme singular values  within 30 n eps kappa
#include <string>

#include "tests/linalg/linalg_test.h"
#include "tests/support/lapack.h"

namespace {

using namespace lintest;

constexpr double kEpsilon = 2.220446049250313e-16;
constexpr double kThreshold = 30.0;

struct Case {
  std::string name;
  Dense a;
};

std::vector<Case> matrices() {
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
  for (const Case& c : matrices()) {
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
  for (const Case& c : matrices()) {
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
