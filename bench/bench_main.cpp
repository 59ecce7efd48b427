// matpack_bench: times lsolve, inv, lu and cholesky called as a host calls them (the
// table's entries, and the exported value-level inv the host's M^-1 uses) next to the
// reference LAPACK routines doing the same job on the same matrices, at orders 3, 100 and
// 500, then prints a table of the median times and the ratio pack / LAPACK.
//
//   lsolve(M, v)    dgesv, one right-hand side
//   inv(M)          dgetrf then dgetri
//   lu(M)           dgetrf
//   cholesky(M)     dpotrf
//
// The pack's functions leave their arguments alone and work on copies, and each pack
// timing includes freeing the result; so each LAPACK timing includes copying its input.
// Freed memory stays with the process for reuse, as it does in a worksheet host's heap:
// without that, the C library hands large blocks back to the system at once and every
// call pays for fresh pages (lu at order 500 then takes about half as long again).
// Google Benchmark's command-line flags apply (--benchmark_filter=lsolve, ...).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/lean_host.h"
#include "linalg/inverse.h"
#include "pack/exports.h"

extern "C" {
void dgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b,
            const int* ldb, int* info);
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgetri_(const int* n, double* a, const int* lda, const int* ipiv, double* work,
             const int* lwork, int* info);
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info,
             size_t uploLength);
}

namespace {

using Unary = Anyval* (*)(UfnCallContext*, Anyval*);
using Binary = Anyval* (*)(UfnCallContext*, Anyval*, Anyval*);

bench::LeanHost host;

// The entry of the table row with this worksheet name.
const void* entry(const char* name) {
  for (int32_t row = 0; row < numFuncs; ++row) {
    if (std::strcmp(theUfn[row].name->text, name) == 0 && theUfn[row].entry) {
      return theUfn[row].entry;
    }
  }
  std::fprintf(stderr, "matpack_bench: no entry for %s in the table\n", name);
  std::exit(1);
}

// Test data of order n: a random matrix, a right-hand side, and a symmetric positive
// definite matrix (B B^T + n I), column-major.
struct Problem {
  int n;
  std::vector<double> a, b, spd;
  Anyval *aValue, *bValue, *spdValue;

  explicit Problem(int n) : n(n), a(n * n), b(n), spd(n * n) {
    std::mt19937 rng(n);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (double& x : a) x = uniform(rng);
    for (double& x : b) x = uniform(rng);
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        double s = i == j ? n : 0.0;
        for (int k = 0; k < n; ++k) s += a[i + k * n] * a[j + k * n];
        spd[i + j * n] = s;
      }
    }
    aValue = asValue(host.matrix(n, n, a.data()));
    bValue = asValue(host.matrix(n, 1, b.data()));
    spdValue = asValue(host.matrix(n, n, spd.data()));
  }
};

// Times one pack call, result freed each time; stops the program if it gives an error.
template <class Call>
void timePack(benchmark::State& state, Call call) {
  Anyval* probe = call();
  if (probe->tag != kTagMatrix) {
    state.SkipWithError("the pack returned an error value");
    return;
  }
  bench::LeanHost::release(probe);
  for (auto _ : state) {
    Anyval* result = call();
    benchmark::DoNotOptimize(result);
    bench::LeanHost::release(result);
  }
}

// Times one LAPACK job, its input copied first each time.
template <class Job>
void timeLapack(benchmark::State& state, const std::vector<double>& input, Job job) {
  std::vector<double> work(input.size());
  for (auto _ : state) {
    std::memcpy(work.data(), input.data(), input.size() * sizeof(double));
    const int info = job(work.data());
    benchmark::DoNotOptimize(work.data());
    if (info != 0) {
      state.SkipWithError("LAPACK reported a failure");
      break;
    }
  }
}

struct Pairing {
  std::string function, routine;
  int n;
  std::string packName() const { return function + "/" + std::to_string(n) + "/pack"; }
  std::string lapackName() const { return function + "/" + std::to_string(n) + "/" + routine; }
};

std::vector<Pairing> registerBenchmarks(std::vector<Problem>& problems) {
  const auto lsolve = reinterpret_cast<Binary>(entry("lsolve"));
  const auto lu = reinterpret_cast<Unary>(entry("lu"));
  const auto cholesky = reinterpret_cast<Unary>(entry("cholesky"));
  const Unary inverse = inv;
  UfnCallContext* ctx = host.context();

  std::vector<Pairing> pairings;
  auto add = [&](Pairing p, auto packBody, auto lapackBody) {
    benchmark::RegisterBenchmark(p.packName().c_str(), packBody);
    benchmark::RegisterBenchmark(p.lapackName().c_str(), lapackBody);
    pairings.push_back(p);
  };
  for (Problem& problem : problems) {
    Problem* q = &problem;
    const int n = q->n;
    add(
        {"lsolve", "dgesv", n},
        [=](benchmark::State& s) {
          timePack(s, [=] { return lsolve(ctx, q->aValue, q->bValue); });
        },
        [=](benchmark::State& s) {
          std::vector<double> ab = q->a;
          ab.insert(ab.end(), q->b.begin(), q->b.end());
          std::vector<int> pivots(n);
          timeLapack(s, ab, [&](double* w) {
            int info, one = 1;
            dgesv_(&n, &one, w, &n, pivots.data(), w + n * n, &n, &info);
            return info;
          });
        });
    add(
        {"inv", "dgetrf+dgetri", n},
        [=](benchmark::State& s) { timePack(s, [=] { return inverse(ctx, q->aValue); }); },
        [=](benchmark::State& s) {
          std::vector<int> pivots(n);
          int lwork = -1, info;
          double size;
          dgetri_(&n, nullptr, &n, nullptr, &size, &lwork, &info);
          lwork = static_cast<int>(size);
          std::vector<double> work(lwork);
          timeLapack(s, q->a, [&](double* w) {
            dgetrf_(&n, &n, w, &n, pivots.data(), &info);
            if (info == 0) dgetri_(&n, w, &n, pivots.data(), work.data(), &lwork, &info);
            return info;
          });
        });
    add(
        {"lu", "dgetrf", n},
        [=](benchmark::State& s) { timePack(s, [=] { return lu(ctx, q->aValue); }); },
        [=](benchmark::State& s) {
          std::vector<int> pivots(n);
          timeLapack(s, q->a, [&](double* w) {
            int info;
            dgetrf_(&n, &n, w, &n, pivots.data(), &info);
            return info;
          });
        });
    add(
        {"cholesky", "dpotrf", n},
        [=](benchmark::State& s) { timePack(s, [=] { return cholesky(ctx, q->spdValue); }); },
        [=](benchmark::State& s) {
          timeLapack(s, q->spd, [&](double* w) {
            int info;
            dpotrf_("L", &n, w, &n, &info, 1);
            return info;
          });
        });
  }
  return pairings;
}

// The console output, plus the median real time of every benchmark in seconds.
class MedianCollector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (!run.error_occurred && (median || single)) {
        seconds[run.run_name.function_name] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
  }
  std::map<std::string, double> seconds;
};

std::string duration(double seconds) {
  char text[32];
  if (seconds < 1e-6) {
    std::snprintf(text, sizeof text, "%.0f ns", seconds * 1e9);
  } else if (seconds < 1e-3) {
    std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
  }
  return text;
}

void printTable(const std::vector<Pairing>& pairings, const std::map<std::string, double>& t) {
  std::printf("\n| function | order | pack | LAPACK | routine | pack / LAPACK |\n");
  std::printf("|---|---:|---:|---:|---|---:|\n");
  for (const Pairing& p : pairings) {
    const auto pack = t.find(p.packName()), lapack = t.find(p.lapackName());
    if (pack == t.end() || lapack == t.end()) continue;
    std::printf("| %s | %d | %s | %s | %s | %.2f |\n", p.function.c_str(), p.n,
                duration(pack->second).c_str(), duration(lapack->second).c_str(), p.routine.c_str(),
                pack->second / lapack->second);
  }
}

}  // namespace

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::vector<Problem> problems;
  problems.reserve(3);
  for (int n : {3, 100, 500}) problems.emplace_back(n);
  const std::vector<Pairing> pairings = registerBenchmarks(problems);
  MedianCollector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printTable(pairings, reporter.seconds);
  benchmark::Shutdown();
  return 0;
}
