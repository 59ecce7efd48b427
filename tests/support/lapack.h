// The LAPACK routines the oracle tests compare the pack with (64-bit builds only), and
// small wrappers that call them on column-major copies.
#pragma once

#include <algorithm>
#include <complex>
#include <cstddef>
#include <vector>

extern "C" {
void dgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b,
            const int* ldb, int* info);
void dgecon_(const char* norm, const int* n, const double* a, const int* lda, const double* anorm,
             double* rcond, double* work, int* iwork, int* info, size_t normLength);
void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a,
             const int* lda, double* s, double* u, const int* ldu, double* vt, const int* ldvt,
             double* work, const int* lwork, int* info, size_t jobuLength, size_t jobvtLength);
void zgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n,
             std::complex<double>* a, const int* lda, double* s, std::complex<double>* u,
             const int* ldu, std::complex<double>* vt, const int* ldvt, std::complex<double>* work,
             const int* lwork, double* rwork, int* info, size_t jobuLength, size_t jobvtLength);
void zheev_(const char* jobz, const char* uplo, const int* n, std::complex<double>* a,
            const int* lda, double* w, std::complex<double>* work, const int* lwork, double* rwork,
            int* info, size_t jobzLength, size_t uploLength);
double zlange_(const char* norm, const int* m, const int* n, const std::complex<double>* a,
               const int* lda, double* work, size_t normLength);
void zgetrf_(const int* m, const int* n, std::complex<double>* a, const int* lda, int* ipiv,
             int* info);
void zgetri_(const int* n, std::complex<double>* a, const int* lda, const int* ipiv,
             std::complex<double>* work, const int* lwork, int* info);
}

namespace lapack {

// The singular values of the m x n column-major `a` (either field), descending.
inline std::vector<double> singularValues(int m, int n, std::vector<std::complex<double>> a,
                                          bool complex) {
  std::vector<double> s(std::min(m, n));
  int info = 0, lwork = -1;
  const int one = 1;
  if (complex) {
    std::vector<double> rwork(5 * std::min(m, n) + 1);
    std::complex<double> query;
    zgesvd_("N", "N", &m, &n, a.data(), &m, s.data(), nullptr, &one, nullptr, &one, &query, &lwork,
            rwork.data(), &info, 1, 1);
    lwork = static_cast<int>(query.real());
    std::vector<std::complex<double>> work(lwork);
    zgesvd_("N", "N", &m, &n, a.data(), &m, s.data(), nullptr, &one, nullptr, &one, work.data(),
            &lwork, rwork.data(), &info, 1, 1);
  } else {
    std::vector<double> real(a.size());
    for (size_t k = 0; k < a.size(); ++k) real[k] = a[k].real();
    double query;
    dgesvd_("N", "N", &m, &n, real.data(), &m, s.data(), nullptr, &one, nullptr, &one, &query,
            &lwork, &info, 1, 1);
    lwork = static_cast<int>(query);
    std::vector<double> work(lwork);
    dgesvd_("N", "N", &m, &n, real.data(), &m, s.data(), nullptr, &one, nullptr, &one, work.data(),
            &lwork, &info, 1, 1);
  }
  return info == 0 ? s : std::vector<double>{};
}

// Y with A Y = B for the real n x n `a` and n x nrhs `b` by dgesv, and A's 1-norm
// condition number estimated by dgecon; no values when A is singular.
struct Solution {
  std::vector<double> y;
  double condition = 0.0;
};
inline Solution solve(int n, int nrhs, std::vector<double> a, std::vector<double> b) {
  double anorm = 0.0;
  for (int j = 0; j < n; ++j) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += std::abs(a[i + size_t(j) * n]);
    anorm = std::max(anorm, sum);
  }
  std::vector<int> pivots(n), iwork(n);
  std::vector<double> work(4 * size_t(n));
  int info = 0;
  dgesv_(&n, &nrhs, a.data(), &n, pivots.data(), b.data(), &n, &info);
  if (info != 0) return {};
  double rcond;
  dgecon_("1", &n, a.data(), &n, &anorm, &rcond, work.data(), iwork.data(), &info, 1);
  return {b, 1.0 / rcond};
}

// The thin decomposition of the real m x n `a` (m >= n): U (m x n), s, V^T (n x n).
struct Decomposition {
  std::vector<double> u, s, vt;
};
inline Decomposition thinSvd(int m, int n, std::vector<double> a) {
  Decomposition d{std::vector<double>(size_t(m) * n), std::vector<double>(n),
                  std::vector<double>(size_t(n) * n)};
  int info = 0, lwork = -1;
  double query;
  dgesvd_("S", "S", &m, &n, a.data(), &m, d.s.data(), d.u.data(), &m, d.vt.data(), &n, &query,
          &lwork, &info, 1, 1);
  lwork = static_cast<int>(query);
  std::vector<double> work(lwork);
  dgesvd_("S", "S", &m, &n, a.data(), &m, d.s.data(), d.u.data(), &m, d.vt.data(), &n, work.data(),
          &lwork, &info, 1, 1);
  if (info != 0) d.s.clear();
  return d;
}

// The eigenvalues of the Hermitian n x n `a` (its lower triangle), ascending.
inline std::vector<double> hermitianEigenvalues(int n, std::vector<std::complex<double>> a) {
  std::vector<double> w(n), rwork(3 * n);
  int info = 0, lwork = -1;
  std::complex<double> query;
  zheev_("N", "L", &n, a.data(), &n, w.data(), &query, &lwork, rwork.data(), &info, 1, 1);
  lwork = static_cast<int>(query.real());
  std::vector<std::complex<double>> work(lwork);
  zheev_("N", "L", &n, a.data(), &n, w.data(), work.data(), &lwork, rwork.data(), &info, 1, 1);
  return info == 0 ? w : std::vector<double>{};
}

// The inverse of the n x n `a` by zgetrf and zgetri; empty when a is singular.
inline std::vector<std::complex<double>> inverse(int n, std::vector<std::complex<double>> a) {
  std::vector<int> pivots(n);
  int info = 0, lwork = -1;
  zgetrf_(&n, &n, a.data(), &n, pivots.data(), &info);
  if (info != 0) return {};
  std::complex<double> query;
  zgetri_(&n, a.data(), &n, pivots.data(), &query, &lwork, &info);
  lwork = static_cast<int>(query.real());
  std::vector<std::complex<double>> work(lwork);
  zgetri_(&n, a.data(), &n, pivots.data(), work.data(), &lwork, &info);
  return info == 0 ? a : std::vector<std::complex<double>>{};
}

// The norm of the m x n `a` named by `which` ('1', 'I', 'F') by zlange.
inline double norm(char which, int m, int n, const std::vector<std::complex<double>>& a) {
  std::vector<double> work(m);
  return zlange_(&which, &m, &n, a.data(), &m, work.data(), 1);
}

}  // namespace lapack
