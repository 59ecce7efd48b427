// Accuracy of the eigenproblem functions against LAPACK as the oracle, with residuals scaled
// as LAPACK's own tests scale them (1-norms, n the order, eps machine epsilon):
//
//   eigenvec   ||M v - z v|| / (||M|| n eps) < 30, for eigenvalues z that zgeev finds
//              well separated from the others; v has length 1 and both parts
//
// on random real and complex matrices of orders 1 to 100.
#include <algorithm>
#include <string>

#include "tests/linalg/linalg_test.h"

extern "C" {
void zgeev_(const char* jobvl, const char* jobvr, const int* n, std::complex<double>* a,
            const int* lda, std::complex<double>* w, std::complex<double>* vl, const int* ldvl,
            std::complex<double>* vr, const int* ldvr, std::complex<double>* work, const int* lwork,
            double* rwork, int* info, size_t jobvlLength, size_t jobvrLength);
}

namespace {

using namespace lintest;

constexpr double kEpsilon = 2.220446049250313e-16;
constexpr double kThreshold = 30.0;

// The eigenvalues of a square matrix, by zgeev.
std::vector<Complex> eigenvalues(const Dense& m) {
  const int n = m.rows;
  std::vector<Complex> a = m.a, w(n), work(4 * n);
  std::vector<double> rwork(2 * n);
  const int lwork = 4 * n, one = 1;
  int info = 0;
  zgeev_("N", "N", &n, a.data(), &n, w.data(), nullptr, &one, nullptr, &one, work.data(), &lwork,
         rwork.data(), &info, 1, 1);
  EXPECT_EQ(info, 0);
  return w;
}

// The distance from w[k] to the nearest other eigenvalue (infinite for order 1).
double separation(const std::vector<Complex>& w, size_t k) {
  double nearest = INFINITY;
  for (size_t j = 0; j < w.size(); ++j) {
    if (j != k) nearest = std::min(nearest, std::abs(w[j] - w[k]));
  }
  return nearest;
}

class Accuracy : public LinalgTest {};

TEST_F(Accuracy, EigenvecResidualIsSmall) {
  std::mt19937 rng(5);
  double worst = 0.0;
  for (int n : {1, 2, 3, 5, 10, 30, 100}) {
    for (bool complex : {false, true}) {
      const Dense m = randomMatrix(n, n, complex, rng);
      const double norm = norm1(m);
      const std::vector<Complex> w = eigenvalues(m);
      int tried = 0;
      for (size_t k = 0; k < w.size() && tried < 6; ++k) {
        if (separation(w, k) < 1e-3 * norm) continue;
        ++tried;
        SCOPED_TRACE("order " + std::to_string(n) + (complex ? " complex" : " real") +
                     ", eigenvalue " + std::to_string(k));
        Anyval* result = call("eigenvec", {value(m), values.scalar(w[k].real(), w[k].imag())});
        ASSERT_EQ(result->tag, kTagMatrix) << testsupport::messageOf(result);
        ASSERT_NE(as<aMatrix>(result)->re, nullptr);
        ASSERT_NE(as<aMatrix>(result)->im, nullptr);
        Dense v = fromHost(as<aMatrix>(result));
        double length = 0.0;
        for (const Complex& x : v.a) length += std::norm(x);
        EXPECT_NEAR(length, 1.0, 4 * n * kEpsilon);
        Dense zv = v;
        for (Complex& x : zv.a) x *= w[k];
        const double ratio = norm1(product(m, v, &zv)) / (norm * n * kEpsilon);
        EXPECT_LT(ratio, kThreshold);
        worst = std::max(worst, ratio);
      }
      EXPECT_GT(tried, 0);
    }
  }
  std::printf("eigenvec: worst residual ratio %.3g\n", worst);
}

}  // namespace
