// The LU family and Cholesky at orders 3, 100, 500 and 1000:
//
//   lsolve(M, v)    dgesv, one right-hand side
//   inv(M)          dgetrf then dgetri (the exported inverse the host's M^-1 calls)
//   lu(M)           dgetrf
//   cholesky(M)     dpotrf
#include <utility>

#include "bench/cases.h"
#include "linalg/inverse.h"

namespace bench {

namespace {

using Dgesv = void(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b,
                   const int* ldb, int* info);
using Dgetrf = void(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
using Dgetri = void(const int* n, double* a, const int* lda, const int* ipiv, double* work,
                    const int* lwork, int* info);
using Dpotrf = void(const char* uplo, const int* n, double* a, const int* lda, int* info,
                    size_t uploLength);

void addOrder(Cases& cases, int n) {
  UfnCallContext* ctx = host().context();
  const std::vector<double> a = randomMatrix(n, n, n), b = randomMatrix(n, 1, n + 1);
  const std::vector<double> spd = definiteMatrix(n, n);
  Anyval* aValue = asValue(host().matrix(n, n, a.data()));
  Anyval* bValue = asValue(host().matrix(n, 1, b.data()));
  Anyval* spdValue = asValue(host().matrix(n, n, spd.data()));
  const std::string order = std::to_string(n);

  auto lsolve = entry<Binary>("lsolve");
  std::vector<double> ab = a;
  ab.insert(ab.end(), b.begin(), b.end());
  cases.push_back({"lsolve", order, "dgesv", [=] { return lsolve(ctx, aValue, bValue); },
                   [=](const Lapack& lapack) {
                     auto dgesv = lapack.routine<Dgesv>("dgesv_");
                     return onCopy(ab, [=, pivots = std::vector<int>(n)](double* w) mutable {
                       int info, one = 1;
                       dgesv(&n, &one, w, &n, pivots.data(), w + n * n, &n, &info);
                       return info;
                     });
                   }});

  Unary* inverse = inv;
  cases.push_back({"inv", order, "dgetrf+dgetri", [=] { return inverse(ctx, aValue); },
                   [=](const Lapack& lapack) {
                     auto dgetrf = lapack.routine<Dgetrf>("dgetrf_");
                     auto dgetri = lapack.routine<Dgetri>("dgetri_");
                     int lwork = -1, info;
                     double size;
                     dgetri(&n, nullptr, &n, nullptr, &size, &lwork, &info);
                     lwork = static_cast<int>(size);
                     return onCopy(a, [=, pivots = std::vector<int>(n),
                                       work = std::vector<double>(lwork)](double* w) mutable {
                       int info;
                       dgetrf(&n, &n, w, &n, pivots.data(), &info);
                       if (info == 0) dgetri(&n, w, &n, pivots.data(), work.data(), &lwork, &info);
                       return info;
                     });
                   }});

  auto lu = entry<Unary>("lu");
  cases.push_back({"lu", order, "dgetrf", [=] { return lu(ctx, aValue); },
                   [=](const Lapack& lapack) { return luJob(lapack, a, n); }});

  auto cholesky = entry<Unary>("cholesky");
  cases.push_back({"cholesky", order, "dpotrf", [=] { return cholesky(ctx, spdValue); },
                   [=](const Lapack& lapack) {
                     auto dpotrf = lapack.routine<Dpotrf>("dpotrf_");
                     return onCopy(spd, [=](double* w) {
                       int info;
                       dpotrf("L", &n, w, &n, &info, 1);
                       return info;
                     });
                   }});
}

}  // namespace

std::function<int()> luJob(const Lapack& lapack, std::vector<double> a, int n) {
  auto dgetrf = lapack.routine<Dgetrf>("dgetrf_");
  return onCopy(std::move(a), [=, pivots = std::vector<int>(n)](double* w) mutable {
    int info;
    dgetrf(&n, &n, w, &n, pivots.data(), &info);
    return info;
  });
}

void addLinearSystemCases(Cases& cases) {
  for (int n : {3, 100, 500, 1000}) addOrder(cases, n);
}

}  // namespace bench
