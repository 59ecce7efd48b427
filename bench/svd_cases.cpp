// The singular value family, norm2 and cond2 at orders 3, 100 and 500, and the
// decompositions of a tall 1000 x 200 matrix:
//
//   svds(A), rank(A)        dgesvd without vectors
//   svd(A)                  dgesvd with thin U and V^T
//   geninv(A)               dgesvd with thin U and V^T, then V diag(1 / s) U^T by dgemm
//   norm2(A), cond2(A)      dgesvd without vectors (square A)
//   norm2(A), complex A     zherk forming A^H A, then zheev without vectors
#include <complex>

#include "bench/cases.h"

namespace bench {

namespace {

using Complex = std::complex<double>;
using Dgesvd = void(const char* jobu, const char* jobvt, const int* m, const int* n, double* a,
                    const int* lda, double* s, double* u, const int* ldu, double* vt,
                    const int* ldvt, double* work, const int* lwork, int* info, size_t jobuLength,
                    size_t jobvtLength);
using Dgemm = void(const char* transa, const char* transb, const int* m, const int* n, const int* k,
                   const double* alpha, const double* a, const int* lda, const double* b,
                   const int* ldb, const double* beta, double* c, const int* ldc,
                   size_t transaLength, size_t transbLength);
using Zherk = void(const char* uplo, const char* trans, const int* n, const int* k,
                   const double* alpha, const Complex* a, const int* lda, const double* beta,
                   Complex* c, const int* ldc, size_t uploLength, size_t transLength);
using Zheev = void(const char* jobz, const char* uplo, const int* n, Complex* a, const int* lda,
                   double* w, Complex* work, const int* lwork, double* rwork, int* info,
                   size_t jobzLength, size_t uploLength);

// dgesvd on a copy of the m x n `a`: without vectors, or with thin U and V^T. With
// `pseudoInverse` it goes on to X = V diag(1 / s) U^T over the values above TOL (0.001).
std::function<std::function<int()>(const Lapack&)> dgesvdJob(int m, int n, std::vector<double> a,
                                                             bool vectors, bool pseudoInverse) {
  return [=](const Lapack& lapack) {
    auto dgesvd = lapack.routine<Dgesvd>("dgesvd_");
    auto dgemm = lapack.routine<Dgemm>("dgemm_");
    const char* job = vectors ? "S" : "N";
    const int ldu = vectors ? m : 1, ldvt = vectors ? n : 1;
    int lwork = -1, info;
    double size;
    dgesvd(job, job, &m, &n, nullptr, &m, nullptr, nullptr, &ldu, nullptr, &ldvt, &size, &lwork,
           &info, 1, 1);
    lwork = static_cast<int>(size);
    return onCopy(a, [=, s = std::vector<double>(n), u = std::vector<double>(vectors ? m * n : 1),
                      vt = std::vector<double>(vectors ? n * n : 1),
                      x = std::vector<double>(pseudoInverse ? n * m : 1),
                      work = std::vector<double>(lwork)](double* w) mutable {
      int info;
      dgesvd(job, job, &m, &n, w, &m, s.data(), u.data(), &ldu, vt.data(), &ldvt, work.data(),
             &lwork, &info, 1, 1);
      if (info != 0 || !pseudoInverse) return info;
      for (int k = 0; k < n; ++k) {
        const double scale = s[k] > 0.001 ? 1.0 / s[k] : 0.0;
        for (int j = 0; j < n; ++j) vt[k + j * n] *= scale;
      }
      const double one = 1.0, zero = 0.0;
      dgemm("T", "T", &n, &m, &n, &one, vt.data(), &n, u.data(), &m, &zero, x.data(), &n, 1, 1);
      return 0;
    });
  };
}

void addShape(Cases& cases, int m, int n) {
  UfnCallContext* ctx = host().context();
  const std::vector<double> a = randomMatrix(m, n, m + 7 * n);
  Anyval* aValue = asValue(host().matrix(m, n, a.data()));
  // TOL as the host appends it to geninv's arguments; the pack only reads it.
  static aComplex tolValue{kTagScalar, 0, 0.001, 0.0};
  Anyval* tol = asValue(&tolValue);
  const std::string order =
      m == n ? std::to_string(n) : std::to_string(m) + " x " + std::to_string(n);

  auto svds = entry<Unary>("svds");
  cases.push_back({"svds", order, "dgesvd N", [=] { return svds(ctx, aValue); },
                   dgesvdJob(m, n, a, false, false)});
  auto rank = entry<Unary>("rank");
  cases.push_back({"rank", order, "dgesvd N", [=] { return rank(ctx, aValue); },
                   dgesvdJob(m, n, a, false, false)});
  auto svd = entry<Unary>("svd");
  cases.push_back({"svd", order, "dgesvd S", [=] { return svd(ctx, aValue); },
                   dgesvdJob(m, n, a, true, false)});
  auto geninv = entry<Binary>("geninv");
  cases.push_back({"geninv", order, "dgesvd S+dgemm", [=] { return geninv(ctx, aValue, tol); },
                   dgesvdJob(m, n, a, true, true)});
  if (m != n) return;

  auto norm2 = entry<Unary>("norm2");
  cases.push_back({"norm2", order, "dgesvd N", [=] { return norm2(ctx, aValue); },
                   dgesvdJob(n, n, a, false, false)});
  auto cond2 = entry<Unary>("cond2");
  cases.push_back({"cond2", order, "dgesvd N", [=] { return cond2(ctx, aValue); },
                   dgesvdJob(n, n, a, false, false)});

  // The complex norm2 against the same job in LAPACK: A^H A by zherk, then its eigenvalues.
  const std::vector<double> im = randomMatrix(n, n, 3 * n + 1);
  Anyval* complexValue = asValue(host().matrix(n, n, a.data(), im.data()));
  std::vector<double> interleaved(2 * size_t(n) * n);
  for (size_t k = 0; k < a.size(); ++k) interleaved[2 * k] = a[k], interleaved[2 * k + 1] = im[k];
  cases.push_back(
      {"norm2 complex", order, "zherk+zheev N", [=] { return norm2(ctx, complexValue); },
       [=](const Lapack& lapack) {
         auto zherk = lapack.routine<Zherk>("zherk_");
         auto zheev = lapack.routine<Zheev>("zheev_");
         int lwork = -1, info;
         Complex size;
         std::vector<double> w(n), rwork(3 * n);
         zheev("N", "L", &n, nullptr, &n, w.data(), &size, &lwork, rwork.data(), &info, 1, 1);
         lwork = static_cast<int>(size.real());
         return onCopy(interleaved, [=, h = std::vector<Complex>(size_t(n) * n),
                                     work = std::vector<Complex>(lwork)](double* x) mutable {
           const double one = 1.0, zero = 0.0;
           int info;
           zherk("L", "C", &n, &n, &one, reinterpret_cast<Complex*>(x), &n, &zero, h.data(), &n, 1,
                 1);
           zheev("N", "L", &n, h.data(), &n, w.data(), work.data(), &lwork, rwork.data(), &info, 1,
                 1);
           return info;
         });
       }});
}

}  // namespace

void addSingularValueCases(Cases& cases) {
  for (int n : {3, 100, 500}) addShape(cases, n, n);
  addShape(cases, 1000, 200);
}

}  // namespace bench
