// Accuracy of the eigenproblem functions against LAPACK as the oracle, with residuals scaled
// as LAPACK's own tests scale them (1-norms, n the order, eps machine epsilon):
//
//   eigenvec   ||M v - z v|| / (||M|| n eps) < 30, for eigenvalues z that zgeev finds
//              well separated from the others; v has length 1 and both parts
//   genvals    each finite eigenvalue of dggev whose condition is at most 10 n is within
//              1e3 n eps max(|lambda|, 1) of one that genvals gives
//   genvecs    ||M v - lambda N v|| / ((||M|| + |lambda| ||N||) ||v|| n eps) < 30 for
//              each vector with the eigenvalue genvals gives in its place
//
// on random real and complex matrices, and random pencils (regular, with N or M singular,
// with eigenvalues in conjugate pairs), of orders 1 to 100.
#include <algorithm>
#include <string>

#include "tests/linalg/linalg_test.h"

extern "C" {
void zgeev_(const char* jobvl, const char* jobvr, const int* n, std::complex<double>* a,
            const int* lda, std::complex<double>* w, std::complex<double>* vl, const int* ldvl,
            std::complex<double>* vr, const int* ldvr, std::complex<double>* work, const int* lwork,
            double* rwork, int* info, size_t jobvlLength, size_t jobvrLength);
void dggev_(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda,
            double* b, const int* ldb, double* alphar, double* alphai, double* beta, double* vl,
            const int* ldvl, double* vr, const int* ldvr, double* work, const int* lwork, int* info,
            size_t jobvlLength, size_t jobvrLength);
}

namespace {

using namespace lintest;

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

// The Frobenius norm (of a vector: the Euclidean length).
double normF(const Dense& x) {
  double s = 0.0;
  for (const Complex& e : x.a) s += std::norm(e);
  return std::sqrt(s);
}

// The generalised eigenvalues of (a, b) by dggev, each with its condition relative to
// max(|lambda|, 1), (||A|| + |lambda| ||B||) ||x|| ||y|| / (|y^H B x| max(|lambda|, 1))
// (Frobenius norms) from the left and right eigenvectors y and x; infinite eigenvalues
// (beta = 0) are left out.
struct Reference {
  std::vector<Complex> values;
  std::vector<double> condition;
};

Reference referenceEigenvalues(const Dense& a, const Dense& b) {
  const int n = a.rows;
  std::vector<double> ra(n * n), rb(n * n), alphar(n), alphai(n), beta(n), vl(n * n), vr(n * n),
      work(16 * n + 16);
  for (int k = 0; k < n * n; ++k) ra[k] = a.a[k].real(), rb[k] = b.a[k].real();
  const int lwork = static_cast<int>(work.size());
  int info = 0;
  dggev_("V", "V", &n, ra.data(), &n, rb.data(), &n, alphar.data(), alphai.data(), beta.data(),
         vl.data(), &n, vr.data(), &n, work.data(), &lwork, &info, 1, 1);
  EXPECT_EQ(info, 0);
  const double normA = normF(a), normB = normF(b);
  Reference reference;
  for (int j = 0; j < n; ++j) {
    if (beta[j] == 0.0) continue;
    // A pair's vectors are columns first and first + 1: v(:, first) +- i v(:, first + 1).
    const int first = alphai[j] < 0.0 ? j - 1 : j;
    const double sign = alphai[j] < 0.0 ? -1.0 : 1.0;
    Dense x(n, 1, true), y(n, 1, true);
    for (int i = 0; i < n; ++i) {
      const double xi = alphai[j] == 0.0 ? 0.0 : sign * vr[i + (first + 1) * n];
      const double yi = alphai[j] == 0.0 ? 0.0 : sign * vl[i + (first + 1) * n];
      x(i, 0) = Complex(vr[i + first * n], xi);
      y(i, 0) = Complex(vl[i + first * n], yi);
    }
    const Complex lambda = Complex(alphar[j], alphai[j]) / beta[j];
    const Dense bx = product(b, x);
    Complex yBx = 0.0;
    for (int i = 0; i < n; ++i) yBx += std::conj(y(i, 0)) * bx(i, 0);
    reference.values.push_back(lambda);
    reference.condition.push_back((normA + std::abs(lambda) * normB) * normF(x) * normF(y) /
                                  (std::abs(yBx) * std::max(std::abs(lambda), 1.0)));
  }
  return reference;
}

struct Pencil {
  std::string name;
  Dense a, b;
};

// Random pencils of order n: regular; with B singular (two equal columns) or A singular
// (a zero column); and (B R, B) with R a block diagonal of plane rotations, whose
// eigenvalues come in conjugate pairs on the unit circle.
std::vector<Pencil> pencils(int n, std::mt19937& rng) {
  std::vector<Pencil> list;
  list.push_back({"regular", randomMatrix(n, n, false, rng), randomMatrix(n, n, false, rng)});
  if (n < 2) return list;
  Pencil singularB{"singular N", randomMatrix(n, n, false, rng), randomMatrix(n, n, false, rng)};
  for (int i = 0; i < n; ++i) singularB.b(i, n - 1) = singularB.b(i, 0);
  list.push_back(singularB);
  Pencil singularA{"singular M", randomMatrix(n, n, false, rng), randomMatrix(n, n, false, rng)};
  for (int i = 0; i < n; ++i) singularA.a(i, 1) = 0.0;
  list.push_back(singularA);
  std::uniform_real_distribution<double> angle(0.1, 3.0);
  Dense r(n, n);
  for (int k = 0; k + 1 < n; k += 2) {
    const double t = angle(rng);
    r(k, k) = r(k + 1, k + 1) = std::cos(t);
    r(k + 1, k) = std::sin(t);
    r(k, k + 1) = -std::sin(t);
  }
  if (n % 2) r(n - 1, n - 1) = 1.0;
  Dense b = randomMatrix(n, n, false, rng);
  for (int i = 0; i < n; ++i) b(i, i) += n;  // well conditioned
  list.push_back({"pairs", product(b, r), b});
  return list;
}

TEST_F(Accuracy, GenvalsMatchLapackAndGenvecsResidualsAreSmall) {
  std::mt19937 rng(17);
  double worstValue = 0.0, worstVector = 0.0;
  for (int n : {1, 2, 3, 5, 10, 30, 100}) {
    for (const Pencil& p : pencils(n, rng)) {
      SCOPED_TRACE(p.name + " " + std::to_string(n));
      Anyval* values = call("genvals", {value(p.a), value(p.b)});
      ASSERT_EQ(values->tag, kTagMatrix) << testsupport::messageOf(values);
      const std::vector<Complex> lambda = elements(values);
      const Reference reference = referenceEigenvalues(p.a, p.b);
      int compared = 0;
      for (size_t k = 0; k < reference.values.size(); ++k) {
        if (reference.condition[k] > 10.0 * n) continue;
        ++compared;
        const Complex expected = reference.values[k];
        double nearest = INFINITY;
        for (const Complex& l : lambda) nearest = std::min(nearest, std::abs(l - expected));
        const double ratio = nearest / (n * kEpsilon * std::max(std::abs(expected), 1.0));
        EXPECT_LT(ratio, 1e3) << "eigenvalue " << expected;
        worstValue = std::max(worstValue, ratio);
      }
      EXPECT_GT(compared, 0);

      Anyval* vectors = call("genvecs", {value(p.a), value(p.b)});
      ASSERT_EQ(vectors->tag, kTagMatrix) << testsupport::messageOf(vectors);
      const Dense v = fromHost(as<aMatrix>(vectors));
      ASSERT_EQ(v.rows, n);
      ASSERT_EQ(v.cols, static_cast<int>(lambda.size()));
      const double normA = norm1(p.a), normB = norm1(p.b);
      for (int c = 0; c < v.cols; ++c) {
        Dense x(n, 1, true);
        for (int i = 0; i < n; ++i) x(i, 0) = v(i, c);
        Dense lbx = product(p.b, x);
        for (Complex& e : lbx.a) e *= lambda[c];
        const double ratio = norm1(product(p.a, x, &lbx)) /
                             ((normA + std::abs(lambda[c]) * normB) * norm1(x) * n * kEpsilon);
        EXPECT_LT(ratio, kThreshold) << "vector " << c << " for " << lambda[c];
        worstVector = std::max(worstVector, ratio);
      }
    }
  }
  std::printf("genvals: worst eigenvalue error %.3g n eps; genvecs: worst residual ratio %.3g\n",
              worstValue, worstVector);
}

}  // namespace
