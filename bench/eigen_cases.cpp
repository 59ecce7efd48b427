// The generalised eigenproblem at orders 3, 100 and 500, and one eigenvector by inverse
// iteration at orders 100 and 500:
//
//   genvals(M, N)   dggev, no vectors
//   genvecs(M, N)   dggev with right vectors
//   eigenvec(M, z)  zgetrf and two zgetrs on M - z I: the factorisation and solves that
//                   are the core of the job (eigenvec does about a dozen solves)
#include <complex>

#include "bench/cases.h"

namespace bench {

namespace {

using Dggev = void(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda,
                   double* b, const int* ldb, double* alphar, double* alphai, double* beta,
                   double* vl, const int* ldvl, double* vr, const int* ldvr, double* work,
                   const int* lwork, int* info, size_t jobvlLength, size_t jobvrLength);
using Zgetrf = void(const int* m, const int* n, std::complex<double>* a, const int* lda, int* ipiv,
                    int* info);
using Zgetrs = void(const char* trans, const int* n, const int* nrhs, const std::complex<double>* a,
                    const int* lda, const int* ipiv, std::complex<double>* b, const int* ldb,
                    int* info, size_t transLength);

void addPencil(Cases& cases, int n) {
  UfnCallContext* ctx = host().context();
  const std::vector<double> a = randomMatrix(n, n, 2 * n), b = randomMatrix(n, n, 2 * n + 1);
  Anyval* aValue = asValue(host().matrix(n, n, a.data()));
  Anyval* bValue = asValue(host().matrix(n, n, b.data()));
  std::vector<double> ab = a;
  ab.insert(ab.end(), b.begin(), b.end());
  const std::string order = std::to_string(n);

  for (bool vectors : {false, true}) {
    auto function = entry<Binary>(vectors ? "genvecs" : "genvals");
    cases.push_back({vectors ? "genvecs" : "genvals", order,
                     vectors ? "dggev with vectors" : "dggev",
                     [=] { return function(ctx, aValue, bValue); },
                     [=](const Lapack& lapack) {
                       auto dggev = lapack.routine<Dggev>("dggev_");
                       const char* job = vectors ? "V" : "N";
                       const int lwork = 16 * n + 64, one = 1;
                       return onCopy(ab, [=, alpha = std::vector<double>(3 * n),
                                          v = std::vector<double>(vectors ? n * n : 1),
                                          work = std::vector<double>(lwork)](double* w) mutable {
                         int info;
                         const int ldv = vectors ? n : one;
                         dggev("N", job, &n, w, &n, w + n * n, &n, alpha.data(), alpha.data() + n,
                               alpha.data() + 2 * n, nullptr, &one, v.data(), &ldv, work.data(),
                               &lwork, &info, 1, 1);
                         return info;
                       });
                     }});
  }
}

// A random matrix with the eigenvalue M(0, 0): its first column is zero below the diagonal.
void addEigenvector(Cases& cases, int n) {
  UfnCallContext* ctx = host().context();
  std::vector<double> m = randomMatrix(n, n, 3 * n);
  for (int i = 1; i < n; ++i) m[i] = 0.0;
  const double z = m[0];
  Anyval* mValue = asValue(host().matrix(n, n, m.data()));
  // The eigenvalue, a scalar that lives as long as the program.
  Anyval* zValue = asValue(new aComplex{kTagScalar, 0, z, 0.0});
  // M - z I as LAPACK's interleaved complex numbers, then a right-hand side of ones.
  std::vector<double> shifted(2 * size_t(n) * n + 2 * n, 0.0);
  for (int k = 0; k < n * n; ++k) shifted[2 * k] = m[k];
  for (int i = 0; i < n; ++i) shifted[2 * (i + size_t(i) * n)] += -z + 1e-12;
  for (int i = 0; i < n; ++i) shifted[2 * size_t(n) * n + 2 * i] = 1.0;

  auto eigenvec = entry<Binary>("eigenvec");
  cases.push_back({"eigenvec", std::to_string(n), "zgetrf+2 zgetrs",
                   [=] { return eigenvec(ctx, mValue, zValue); },
                   [=](const Lapack& lapack) {
                     auto zgetrf = lapack.routine<Zgetrf>("zgetrf_");
                     auto zgetrs = lapack.routine<Zgetrs>("zgetrs_");
                     return onCopy(shifted, [=, pivots = std::vector<int>(n)](double* w) mutable {
                       auto* a = reinterpret_cast<std::complex<double>*>(w);
                       std::complex<double>* x = a + size_t(n) * n;
                       int info, one = 1;
                       zgetrf(&n, &n, a, &n, pivots.data(), &info);
                       for (int solve = 0; solve < 2 && info == 0; ++solve) {
                         zgetrs("N", &n, &one, a, &n, pivots.data(), x, &n, &info, 1);
                       }
                       return info;
                     });
                   }});
}

}  // namespace

void addEigenCases(Cases& cases) {
  for (int n : {3, 100, 500}) addPencil(cases, n);
  for (int n : {100, 500}) addEigenvector(cases, n);
}

}  // namespace bench
