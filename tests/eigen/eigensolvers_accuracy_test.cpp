// eigenvals and eigenvecs against LAPACK (dsyev, dgeevx, zgeevx), in the manner of LAPACK's
// own tests. For every matrix:
//
//   values     each eigenvalue within 30 n eps ||A|| / s of LAPACK's, matched as multisets,
//              s LAPACK's reciprocal condition number of that eigenvalue (1 for symmetric
//              and Hermitian matrices)
//   residual   ||A V - V diag(values)|| / (n ||A|| ||V|| eps) below 30, with the values of
//              eigenvals and the vectors of eigenvecs: a small residual also shows the two
//              list the eigenvalues in the same order
//   symmetric  ||Z^T Z - I|| / (n eps) below 30
//
// 1-norms throughout. The matrices: random symmetric, general, complex and Hermitian ones,
// triangular ones, ones with repeated and clustered eigenvalues, graded and badly scaled
// ones (which balancing repairs), of orders 1 to 150; defective ones are checked against a
// looser bound on their values only (their eigenvectors are not a basis).
#include <algorithm>
#include <cstdio>
#include <list>
#include <map>
#include <string>

#include "tests/linalg/linalg_test.h"

extern "C" {
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info, size_t, size_t);
void dgeevx_(const char* balanc, const char* jobvl, const char* jobvr, const char* sense,
             const int* n, double* a, const int* lda, double* wr, double* wi, double* vl,
             const int* ldvl, double* vr, const int* ldvr, int* ilo, int* ihi, double* scale,
             double* abnrm, double* rconde, double* rcondv, double* work, const int* lwork,
             int* iwork, int* info, size_t, size_t, size_t, size_t);
void zgeevx_(const char* balanc, const char* jobvl, const char* jobvr, const char* sense,
             const int* n, std::complex<double>* a, const int* lda, std::complex<double>* w,
             std::complex<double>* vl, const int* ldvl, std::complex<double>* vr, const int* ldvr,
             int* ilo, int* ihi, double* scale, double* abnrm, double* rconde, double* rcondv,
             std::complex<double>* work, const int* lwork, double* rwork, int* info, size_t, size_t,
             size_t, size_t);
}

namespace {

using namespace lintest;

// LAPACK's eigenvalues with their reciprocal condition numbers.
struct Reference {
  std::vector<Complex> values;
  std::vector<double> conditions;
};

Reference symmetricReference(const Dense& a) {
  const int n = a.rows;
  std::vector<double> copy(size_t(n) * n), w(n), work(std::max(1, 3 * n));
  for (size_t k = 0; k < copy.size(); ++k) copy[k] = a.a[k].real();
  const int lwork = static_cast<int>(work.size());
  int info = 0;
  dsyev_("N", "L", &n, copy.data(), &n, w.data(), work.data(), &lwork, &info, 1, 1);
  EXPECT_EQ(info, 0);
  return {std::vector<Complex>(w.begin(), w.end()), std::vector<double>(n, 1.0)};
}

Reference generalReference(const Dense& a) {
  const int n = a.rows;
  std::vector<double> copy(size_t(n) * n), wr(n), wi(n), vl(size_t(n) * n), vr(size_t(n) * n);
  for (size_t k = 0; k < copy.size(); ++k) copy[k] = a.a[k].real();
  std::vector<double> scale(n), rconde(n), rcondv(n), work(size_t(n) * (n + 6) + 16);
  std::vector<int> iwork(2 * n);
  int ilo, ihi, info = 0;
  double abnrm;
  const int lwork = static_cast<int>(work.size());
  dgeevx_("B", "V", "V", "E", &n, copy.data(), &n, wr.data(), wi.data(), vl.data(), &n, vr.data(),
          &n, &ilo, &ihi, scale.data(), &abnrm, rconde.data(), rcondv.data(), work.data(), &lwork,
          iwork.data(), &info, 1, 1, 1, 1);
  EXPECT_EQ(info, 0);
  Reference r{{}, rconde};
  for (int i = 0; i < n; ++i) r.values.emplace_back(wr[i], wi[i]);
  return r;
}

Reference complexReference(const Dense& a) {
  const int n = a.rows;
  std::vector<Complex> copy = a.a, w(n), vl(size_t(n) * n), vr(size_t(n) * n);
  std::vector<Complex> work(size_t(n) * (n + 2) + 16);
  std::vector<double> scale(n), rconde(n), rcondv(n), rwork(2 * n);
  int ilo, ihi, info = 0;
  double abnrm;
  const int lwork = static_cast<int>(work.size());
  zgeevx_("B", "V", "V", "E", &n, copy.data(), &n, w.data(), vl.data(), &n, vr.data(), &n, &ilo,
          &ihi, scale.data(), &abnrm, rconde.data(), rcondv.data(), work.data(), &lwork,
          rwork.data(), &info, 1, 1, 1, 1);
  EXPECT_EQ(info, 0);
  return {w, rconde};
}

bool isSymmetric(const Dense& a) {
  if (a.complex) return false;
  for (int j = 0; j < a.cols; ++j) {
    for (int i = 0; i < a.rows; ++i) {
      if (a(i, j) != a(j, i)) return false;
    }
  }
  return true;
}

// kMultiple: diagonalisable with repeated eigenvalues. The values-only complex QR (eigenvals'
// comeval) updates only the active block; when a later deflation point lies higher up, the
// rows above were left behind, and a repeated eigenvalue may come out with an error near
// sqrt(eps) times its neighbours' coupling. Such values get the looser bound of defective
// ones, and the residual takes each vector's own Rayleigh quotient.
enum class Kind { kDiagonalisable, kMultiple, kDefective };

struct Case {
  std::string family;
  Dense a;
  Kind kind = Kind::kDiagonalisable;
  // For a matrix D B D^-1 scaled by powers of 2, B: the values are measured against B's,
  // as accurate as balancing can make them.
  const Dense* unscaled = nullptr;
};

// S M S^-1 with S = I + B / (4 n), B random: diagonally dominant, so well conditioned.
// S^-1 by Gauss-Jordan elimination without pivoting.
Dense disguised(const Dense& m, std::mt19937& rng) {
  const int n = m.rows;
  Dense s = randomMatrix(n, n, m.complex, rng);
  for (Complex& x : s.a) x /= 4.0 * n;
  for (int i = 0; i < n; ++i) s(i, i) += 1.0;
  Dense work = s, inverse = identityMatrix(n);
  for (int k = 0; k < n; ++k) {
    const Complex pivot = work(k, k);
    for (int j = 0; j < n; ++j) work(k, j) /= pivot, inverse(k, j) /= pivot;
    for (int i = 0; i < n; ++i) {
      if (i == k) continue;
      const Complex f = work(i, k);
      for (int j = 0; j < n; ++j) work(i, j) -= f * work(k, j), inverse(i, j) -= f * inverse(k, j);
    }
  }
  inverse.complex = m.complex;
  return product(product(s, m), inverse);
}

Dense diagonal(const std::vector<double>& d, bool complex) {
  const int n = static_cast<int>(d.size());
  Dense m(n, n, complex);
  for (int i = 0; i < n; ++i) m(i, i) = d[i];
  return m;
}

// The unscaled matrices the cases point at.
std::list<Dense> kept;

std::vector<Case> matrices() {
  std::mt19937 rng(12);
  std::vector<Case> cases;
  for (int n : {1, 2, 3, 4, 5, 8, 13, 30, 64, 150}) {
    const Dense b = randomMatrix(n, n, false, rng);
    const Dense c = randomMatrix(n, n, true, rng);
    Dense symmetric(n, n), hermitian(n, n, true), upper = b, complexUpper = c;
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        symmetric(i, j) = b(i, j) + b(j, i);
        hermitian(i, j) = c(i, j) + std::conj(c(j, i));
        if (i > j) upper(i, j) = 0.0, complexUpper(i, j) = 0.0;
      }
    }
    cases.push_back({"symmetric", symmetric});
    cases.push_back({"general", b});
    cases.push_back({"complex", c});
    cases.push_back({"hermitian", hermitian});
    cases.push_back({"triangular", upper});
    cases.push_back({"complex triangular", complexUpper});
    if (n < 2) continue;
    // D B D^-1 with D = diag(2^e_i) spreads the entries over many orders of magnitude,
    // graded (e_i growing with i) or at random; balancing undoes it.
    Dense graded = b, scaled = b;
    std::vector<int> exponents(n);
    for (int& e : exponents) e = static_cast<int>(rng() % 61) - 30;
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        graded(i, j) *= std::ldexp(1.0, 60 * i / n - 60 * j / n);
        scaled(i, j) *= std::ldexp(1.0, exponents[i] - exponents[j]);
      }
    }
    kept.push_back(b);
    cases.push_back({"graded", graded, Kind::kDiagonalisable, &kept.back()});
    cases.push_back({"badly scaled", scaled, Kind::kDiagonalisable, &kept.back()});
    std::vector<double> repeated(n), clustered(n);
    for (int i = 0; i < n; ++i) {
      repeated[i] = 1.0 + (i % 3);
      clustered[i] = 1.0 + 1e-6 * i;
    }
    cases.push_back({"repeated", disguised(diagonal(repeated, false), rng)});
    cases.push_back({"clustered", disguised(diagonal(clustered, false), rng)});
    cases.push_back(
        {"complex repeated", disguised(diagonal(repeated, true), rng), Kind::kMultiple});
    // A Jordan block (of order 4 and up QR may need more than its 40 steps per eigenvalue).
    if (n <= 3) {
      Dense jordan = diagonal(std::vector<double>(n, 2.0), false);
      for (int i = 0; i + 1 < n; ++i) jordan(i, i + 1) = 1.0;
      cases.push_back({"defective", disguised(jordan, rng), Kind::kDefective});
    }
  }
  cases.push_back({"zero", Dense(5, 5)});
  cases.push_back({"identity", identityMatrix(5)});
  return cases;
}

// The worst ratio seen in each family, printed at the end for the record.
std::map<std::string, double> worst;

void record(const std::string& what, double ratio) {
  double& w = worst[what];
  w = std::max(w, ratio);
}

class EigensolverAccuracy : public LinalgTest {
 protected:
  static void TearDownTestSuite() {
    for (const auto& [what, ratio] : worst) std::printf("worst %-34s %.3g\n", what.c_str(), ratio);
  }
};

TEST_F(EigensolverAccuracy, ValuesResidualsAndOrthogonality) {
  for (const Case& c : matrices()) {
    const int n = c.a.rows;
    SCOPED_TRACE(c.family + " " + std::to_string(n));
    const bool symmetric = isSymmetric(c.a);
    const double normA = norm1(c.a);

    Anyval* valuesValue = call("eigenvals", {value(c.a)});
    Anyval* vectorsValue = call("eigenvecs", {value(c.a)});
    ASSERT_EQ(valuesValue->tag, kTagMatrix) << testsupport::messageOf(valuesValue);
    ASSERT_EQ(vectorsValue->tag, kTagMatrix) << testsupport::messageOf(vectorsValue);
    const Dense values = fromHost(as<aMatrix>(valuesValue));
    const Dense vectors = fromHost(as<aMatrix>(vectorsValue));
    ASSERT_EQ(values.rows, n);
    ASSERT_EQ(vectors.cols, n);
    EXPECT_EQ(values.complex, !symmetric);
    EXPECT_EQ(vectors.complex, !symmetric);

    // Values: each of LAPACK's matched with the nearest of ours not yet taken.
    const Dense& measured = c.unscaled ? *c.unscaled : c.a;
    const double normMeasured = norm1(measured);
    const Reference ref = symmetric     ? symmetricReference(c.a)
                          : c.a.complex ? complexReference(c.a)
                                        : generalReference(measured);
    std::vector<bool> taken(n, false);
    for (int k = 0; k < n; ++k) {
      int nearest = -1;
      for (int i = 0; i < n; ++i) {
        if (!taken[i] && (nearest < 0 || std::abs(values.a[i] - ref.values[k]) <
                                             std::abs(values.a[nearest] - ref.values[k]))) {
          nearest = i;
        }
      }
      taken[nearest] = true;
      const double error = std::abs(values.a[nearest] - ref.values[k]);
      if (c.kind != Kind::kDiagonalisable) {
        // An eigenvalue of a Jordan block of order m moves by about (eps ||A||)^(1/m).
        const int m = c.kind == Kind::kDefective ? n : 2;
        EXPECT_LT(error, 10.0 * std::pow(kEpsilon, 1.0 / m) * normA) << "value " << k;
        continue;
      }
      const double ratio =
          normA == 0.0 ? error : error * ref.conditions[k] / (n * normMeasured * kEpsilon);
      record(c.family + " values", ratio);
      EXPECT_LT(ratio, kThreshold) << "value " << k;
    }
    if (c.kind == Kind::kDefective) continue;

    // Residual, with the values of eigenvals and the vectors of eigenvecs.
    Dense scaled = vectors;
    for (int j = 0; j < n; ++j) {
      Complex lambda = values.a[j];
      if (c.kind == Kind::kMultiple) {
        Complex rayleigh = 0.0;
        for (int i = 0; i < n; ++i) {
          for (int k = 0; k < n; ++k)
            rayleigh += std::conj(vectors(i, j)) * c.a(i, k) * vectors(k, j);
        }
        lambda = rayleigh;  // the columns have unit length
      }
      for (int i = 0; i < n; ++i) scaled(i, j) *= lambda;
    }
    const double residual = norm1(product(c.a, vectors, &scaled));
    const double scale = n * std::max(normA, 1e-300) * norm1(vectors) * kEpsilon;
    record(c.family + " residual", residual / scale);
    EXPECT_LT(residual / scale, kThreshold) << "residual";

    if (symmetric) {
      const Dense eye = identityMatrix(n);
      const double orthogonality = norm1(product(transpose(vectors), vectors, &eye));
      record(c.family + " orthogonality", orthogonality / (n * kEpsilon));
      EXPECT_LT(orthogonality / (n * kEpsilon), kThreshold) << "orthogonality";
    }
  }
}

}  // namespace
