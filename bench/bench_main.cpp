// matpack_bench: times the pack's functions called as a host calls them (the table's
// entries through a lean host, and the exported inverse the host's M^-1 uses) next to the
// LAPACK routines doing the same job on the same data, in two libraries side by side: the
// reference LAPACK and OpenBLAS on one thread (bench/lapack.h). It prints Google Benchmark's
// report, the libraries it loaded, the routine each function is compared with, and one
// Markdown table of median times and ratios.
//
// The pack's functions leave their arguments alone and work on copies, and each pack
// timing includes freeing the result; so each LAPACK timing includes copying its input.
// Freed memory stays with the process for reuse, as it does in a worksheet host's heap:
// without that, the C library hands large blocks back to the system at once and every
// call pays for fresh pages.
// Google Benchmark's command-line flags apply (--benchmark_filter=lsolve, ...).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "bench/cases.h"
#include "pack/exports.h"

namespace bench {

LeanHost& host() {
  static LeanHost lean;
  return lean;
}

const void* tableEntry(const char* name) {
  for (int32_t row = 0; row < numFuncs; ++row) {
    if (std::strcmp(theUfn[row].name->text, name) == 0 && theUfn[row].entry) {
      return theUfn[row].entry;
    }
  }
  std::fprintf(stderr, "matpack_bench: no entry for %s in the table\n", name);
  std::exit(1);
}

std::vector<double> randomMatrix(int rows, int cols, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> a(size_t(rows) * size_t(cols));
  for (double& x : a) x = uniform(rng);
  return a;
}

std::vector<double> definiteMatrix(int n, unsigned seed) {
  const std::vector<double> b = randomMatrix(n, n, seed);
  std::vector<double> spd(size_t(n) * size_t(n));
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      double s = i == j ? n : 0.0;
      for (int k = 0; k < n; ++k) s += b[i + k * n] * b[j + k * n];
      spd[i + size_t(j) * n] = s;
    }
  }
  return spd;
}

std::function<int()> onCopy(std::vector<double> input, std::function<int(double*)> run) {
  std::vector<double> work(input.size());
  return [input = std::move(input), run = std::move(run), work = std::move(work)]() mutable {
    std::memcpy(work.data(), input.data(), input.size() * sizeof(double));
    return run(work.data());
  };
}

}  // namespace bench

namespace {

using bench::Case;
using bench::Lapack;

// The families whose cases are timed.
void (*const kFamilies[])(bench::Cases&) = {
    bench::addLinearSystemCases, bench::addSingularValueCases, bench::addFactoringCases,
    bench::addEigenvalueCases,   bench::addEigenCases,
};

std::string benchmarkName(const Case& c, const std::string& column) {
  return c.function + "/" + c.order + "/" + column;
}

// Times one pack call, its result freed each time; skipped when it gives an error.
void timePack(benchmark::State& state, const Case& c) {
  Anyval* probe = c.pack();
  const bool failed = probe->tag == kTagError;
  bench::LeanHost::release(probe);
  if (failed) {
    state.SkipWithError("the pack returned an error value");
    return;
  }
  for (auto _ : state) {
    Anyval* result = c.pack();
    benchmark::DoNotOptimize(result);
    bench::LeanHost::release(result);
  }
}

void timeLapack(benchmark::State& state, const std::function<int()>& job) {
  for (auto _ : state) {
    if (job() != 0) {
      state.SkipWithError("LAPACK reported a failure");
      break;
    }
  }
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

void printTable(const bench::Cases& cases, const Lapack& reference, const Lapack& openblas,
                const std::map<std::string, double>& t) {
  std::printf("\n%s: %s\n%s: %s\n", reference.heading().c_str(), reference.description().c_str(),
              openblas.heading().c_str(), openblas.description().c_str());
  std::printf("\nCompared with:");
  std::map<std::string, std::string> routines;
  for (const Case& c : cases) {
    if (routines.emplace(c.function, c.routine).second) {
      std::printf("%s %s: %s", routines.size() > 1 ? ";" : "", c.function.c_str(),
                  c.routine.c_str());
    }
  }
  std::printf("\n\n| function | order | pack | %s | %s | pack / reference | pack / OpenBLAS |\n",
              reference.heading().c_str(), openblas.heading().c_str());
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  for (const Case& c : cases) {
    const auto pack = t.find(benchmarkName(c, "pack"));
    const auto ref = t.find(benchmarkName(c, "reference"));
    const auto open = t.find(benchmarkName(c, "openblas"));
    if (pack == t.end() || ref == t.end() || open == t.end()) continue;
    std::printf("| %s | %s | %s | %s | %s | %.2f | %.2f |\n", c.function.c_str(), c.order.c_str(),
                duration(pack->second).c_str(), duration(ref->second).c_str(),
                duration(open->second).c_str(), pack->second / ref->second,
                pack->second / open->second);
  }
}

}  // namespace

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  // OpenBLAS reads this when it loads; it is also told so once loaded.
  setenv("OPENBLAS_NUM_THREADS", "1", 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const Lapack reference = Lapack::reference();
  const Lapack openblas = Lapack::openblas();
  bench::Cases cases;
  for (auto add : kFamilies) add(cases);
  // Each LAPACK job is set up once, before the timing starts.
  std::vector<std::function<int()>> jobs;
  jobs.reserve(2 * cases.size());
  for (const Case& c : cases) {
    benchmark::RegisterBenchmark(benchmarkName(c, "pack").c_str(),
                                 [&c](benchmark::State& s) { timePack(s, c); });
    for (const Lapack* lapack : {&reference, &openblas}) {
      const std::function<int()>& job = jobs.emplace_back(c.lapack(*lapack));
      const std::string column = lapack == &reference ? "reference" : "openblas";
      benchmark::RegisterBenchmark(benchmarkName(c, column).c_str(),
                                   [&job](benchmark::State& s) { timeLapack(s, job); });
    }
  }
  MedianCollector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printTable(cases, reference, openblas, reporter.seconds);
  benchmark::Shutdown();
  return 0;
}
