// qr at orders 3, 100, 500 and 1000 x 200, and rref at orders 100 and 500:
//
//   qr(M)      dgeqrf then dorgqr, Q formed in full (m x m) as qr gives it
//   rref(M)    dgetrf, the nearest LAPACK job (rref's elimination reaches above the
//              diagonal too, so it does half as much work again)
#include <algorithm>

#include "bench/cases.h"

namespace bench {

namespace {

using Dgeqrf = void(const int* m, const int* n, double* a, const int* lda, double* tau,
                    double* work, const int* lwork, int* info);
using Dorgqr = void(const int* m, const int* n, const int* k, double* a, const int* lda,
                    const double* tau, double* work, const int* lwork, int* info);

void addQr(Cases& cases, int m, int n) {
  UfnCallContext* ctx = host().context();
  const std::vector<double> a = randomMatrix(m, n, m + n);
  Anyval* aValue = asValue(host().matrix(m, n, a.data()));
  const std::string order =
      m == n ? std::to_string(n) : std::to_string(m) + " x " + std::to_string(n);
  auto qr = entry<Unary>("qr");
  cases.push_back({"qr", order, "dgeqrf+dorgqr", [=] { return qr(ctx, aValue); },
                   [=](const Lapack& lapack) {
                     auto dgeqrf = lapack.routine<Dgeqrf>("dgeqrf_");
                     auto dorgqr = lapack.routine<Dorgqr>("dorgqr_");
                     const int k = std::min(m, n);
                     int lwork = -1, info;
                     double factorSize, formSize;
                     dgeqrf(&m, &n, nullptr, &m, nullptr, &factorSize, &lwork, &info);
                     dorgqr(&m, &m, &k, nullptr, &m, nullptr, &formSize, &lwork, &info);
                     lwork = static_cast<int>(std::max(factorSize, formSize));
                     return onCopy(a, [=, q = std::vector<double>(size_t(m) * m),
                                       tau = std::vector<double>(k),
                                       work = std::vector<double>(lwork)](double* w) mutable {
                       int info;
                       dgeqrf(&m, &n, w, &m, tau.data(), work.data(), &lwork, &info);
                       if (info != 0) return info;
                       std::copy(w, w + size_t(m) * k, q.begin());
                       dorgqr(&m, &m, &k, q.data(), &m, tau.data(), work.data(), &lwork, &info);
                       return info;
                     });
                   }});
}

void addRref(Cases& cases, int n) {
  UfnCallContext* ctx = host().context();
  const std::vector<double> a = randomMatrix(n, n, n);
  Anyval* aValue = asValue(host().matrix(n, n, a.data()));
  auto rref = entry<Unary>("rref");
  cases.push_back({"rref", std::to_string(n), "dgetrf", [=] { return rref(ctx, aValue); },
                   [=](const Lapack& lapack) { return luJob(lapack, a, n); }});
}

}  // namespace

void addFactoringCases(Cases& cases) {
  for (int n : {3, 100, 500}) addQr(cases, n, n);
  addQr(cases, 1000, 200);
  for (int n : {100, 500}) addRref(cases, n);
}

}  // namespace bench
