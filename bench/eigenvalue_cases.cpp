// The eigenproblems at orders 3, 100 and 500, each kind of matrix with its LAPACK driver,
// without and with eigenvectors:
//
//   eigenvals, eigenvecs (symmetric)   dsyev  (jobz N, V)
//   eigenvals, eigenvecs (general)     dgeev  (jobvr N, V)
//   eigenvals, eigenvecs (complex)     zgeev  (jobvr N, V)
//
// The symmetric matrix is B + B^T, the general one B, the complex one B + iC, with B and C
// uniform in [-1, 1].
#include <complex>

#include "bench/cases.h"

namespace bench {

namespace {

using Dsyev = void(const char* jobz, const char* uplo, const int* n, double* a, const int* lda,
                   double* w, double* work, const int* lwork, int* info, size_t, size_t);
using Dgeev = void(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda,
                   double* wr, double* wi, double* vl, const int* ldvl, double* vr, const int* ldvr,
                   double* work, const int* lwork, int* info, size_t, size_t);
using Zgeev = void(const char* jobvl, const char* jobvr, const int* n, std::complex<double>* a,
                   const int* lda, std::complex<double>* w, std::complex<double>* vl,
                   const int* ldvl, std::complex<double>* vr, const int* ldvr,
                   std::complex<double>* work, const int* lwork, double* rwork, int* info, size_t,
                   size_t);
using Ternary = Anyval*(UfnCallContext*, Anyval*, Anyval*);

// The TOL eigenvals receives (and does not use).
aComplex tol{kTagScalar, 0, 0.001, 0.0};

// dsyev with jobz "N" or "V", its work space asked for first.
std::function<int()> dsyevJob(const Lapack& lapack, std::vector<double> a, int n,
                              const char* jobz) {
  auto dsyev = lapack.routine<Dsyev>("dsyev_");
  int lwork = -1, info;
  double size;
  dsyev(jobz, "L", &n, nullptr, &n, nullptr, &size, &lwork, &info, 1, 1);
  lwork = static_cast<int>(size);
  return onCopy(std::move(a), [=, w = std::vector<double>(n),
                               work = std::vector<double>(lwork)](double* copy) mutable {
    int info;
    dsyev(jobz, "L", &n, copy, &n, w.data(), work.data(), &lwork, &info, 1, 1);
    return info;
  });
}

// dgeev with right eigenvectors or none.
std::function<int()> dgeevJob(const Lapack& lapack, std::vector<double> a, int n,
                              const char* jobvr) {
  auto dgeev = lapack.routine<Dgeev>("dgeev_");
  int lwork = -1, info, one = 1;
  double size;
  dgeev("N", jobvr, &n, nullptr, &n, nullptr, nullptr, nullptr, &one, nullptr, &n, &size, &lwork,
        &info, 1, 1);
  lwork = static_cast<int>(size);
  return onCopy(std::move(a), [=, wr = std::vector<double>(n), wi = std::vector<double>(n),
                               vr = std::vector<double>(size_t(n) * n),
                               work = std::vector<double>(lwork)](double* copy) mutable {
    int info, one = 1;
    dgeev("N", jobvr, &n, copy, &n, wr.data(), wi.data(), nullptr, &one, vr.data(), &n, work.data(),
          &lwork, &info, 1, 1);
    return info;
  });
}

// zgeev with right eigenvectors or none; `a` holds the complex entries as (re, im) pairs.
std::function<int()> zgeevJob(const Lapack& lapack, std::vector<double> a, int n,
                              const char* jobvr) {
  using Complex = std::complex<double>;
  auto zgeev = lapack.routine<Zgeev>("zgeev_");
  // The query looks at the arrays too: it is given real ones.
  std::vector<Complex> probe(size_t(n) * n + n);
  std::vector<double> realProbe(2 * n);
  int lwork = -1, info, one = 1;
  Complex size;
  zgeev("N", jobvr, &n, probe.data(), &n, probe.data(), probe.data(), &one, probe.data(), &n, &size,
        &lwork, realProbe.data(), &info, 1, 1);
  lwork = static_cast<int>(size.real());
  return onCopy(std::move(a),
                [=, w = std::vector<Complex>(n), vr = std::vector<Complex>(size_t(n) * n),
                 work = std::vector<Complex>(lwork),
                 rwork = std::vector<double>(2 * n)](double* copy) mutable {
                  int info, one = 1;
                  zgeev("N", jobvr, &n, reinterpret_cast<Complex*>(copy), &n, w.data(), nullptr,
                        &one, vr.data(), &n, work.data(), &lwork, rwork.data(), &info, 1, 1);
                  return info;
                });
}

void addOrder(Cases& cases, int n) {
  UfnCallContext* ctx = host().context();
  const std::vector<double> b = randomMatrix(n, n, n + 10), c = randomMatrix(n, n, n + 11);
  std::vector<double> symmetric(b.size()), interleaved(2 * b.size());
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i)
      symmetric[i + size_t(j) * n] = b[i + size_t(j) * n] + b[j + size_t(i) * n];
  }
  for (size_t k = 0; k < b.size(); ++k) interleaved[2 * k] = b[k], interleaved[2 * k + 1] = c[k];
  Anyval* symmetricValue = asValue(host().matrix(n, n, symmetric.data()));
  Anyval* generalValue = asValue(host().matrix(n, n, b.data()));
  Anyval* complexValue = asValue(host().matrix(n, n, b.data(), c.data()));
  const std::string order = std::to_string(n);

  auto eigenvals = entry<Ternary>("eigenvals");
  auto eigenvecs = entry<Unary>("eigenvecs");
  Anyval* tolValue = asValue(&tol);
  const struct {
    const char* kind;
    Anyval* value;
    const char* routine;
    std::function<std::function<int()>(const Lapack&, const char* job)> job;
  } kinds[] = {
      {"symmetric", symmetricValue, "dsyev",
       [=](const Lapack& l, const char* job) { return dsyevJob(l, symmetric, n, job); }},
      {"general", generalValue, "dgeev",
       [=](const Lapack& l, const char* job) { return dgeevJob(l, b, n, job); }},
      {"complex", complexValue, "zgeev",
       [=](const Lapack& l, const char* job) { return zgeevJob(l, interleaved, n, job); }},
  };
  for (const auto& k : kinds) {
    Anyval* m = k.value;
    const std::string kind = std::string(" (") + k.kind + ")";
    const auto job = k.job;
    cases.push_back({"eigenvals" + kind, order, std::string(k.routine) + " without vectors",
                     [=] { return eigenvals(ctx, m, tolValue); },
                     [=](const Lapack& lapack) { return job(lapack, "N"); }});
    cases.push_back({"eigenvecs" + kind, order, std::string(k.routine) + " with vectors",
                     [=] { return eigenvecs(ctx, m); },
                     [=](const Lapack& lapack) { return job(lapack, "V"); }});
  }
}

}  // namespace

void addEigenvalueCases(Cases& cases) {
  for (int n : {3, 100, 500}) addOrder(cases, n);
}

}  // namespace bench
