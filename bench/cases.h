// What the benchmark times: cases, each one job done three ways on the same data, the
// pack's function called as a host calls it (through its table entry, or the exported
// routine another host component calls) and the LAPACK routines for the same job in each
// library of bench/lapack.h.
//
// A family adds its cases in its own file (bench/<family>_cases.cpp) and one line to the
// list in bench_main.cpp.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bench/lapack.h"
#include "bench/lean_host.h"

namespace bench {

struct Case {
  std::string function;  // the worksheet function ("lsolve"), or "inv" for the exported inverse
  std::string order;     // "3", "500", "1000 x 200"
  std::string routine;   // the LAPACK job it is compared with ("dgetrf+dgetri")
  // One call of the pack; its result is freed after it.
  std::function<Anyval*()> pack;
  // The LAPACK job for one library, set up once: each run copies the job's input into its
  // work space (the pack works on copies too), calls the routines, and gives LAPACK's info.
  std::function<std::function<int()>(const Lapack&)> lapack;
};

using Cases = std::vector<Case>;

// The host the pack is called through.
LeanHost& host();
// The entry of the table row with this worksheet name; the program stops when there is none.
const void* tableEntry(const char* name);
// The same, as the function type F.
template <class F>
F* entry(const char* name) {
  return reinterpret_cast<F*>(tableEntry(name));
}

using Unary = Anyval*(UfnCallContext*, Anyval*);
using Binary = Anyval*(UfnCallContext*, Anyval*, Anyval*);

// Test data, column-major: uniform in [-1, 1], and symmetric positive definite (B B^T + n I).
std::vector<double> randomMatrix(int rows, int cols, unsigned seed);
std::vector<double> definiteMatrix(int n, unsigned seed);

// A job's input copied into its work space before each run; `run` gets the work space.
std::function<int()> onCopy(std::vector<double> input, std::function<int(double*)> run);

// dgetrf on a copy of the n x n `a`: lu's job, and the nearest one for rref.
std::function<int()> luJob(const Lapack& lapack, std::vector<double> a, int n);

// The families.
void addLinearSystemCases(Cases& cases);
void addSingularValueCases(Cases& cases);
void addFactoringCases(Cases& cases);
void addEigenvalueCases(Cases& cases);
void addEigenCases(Cases& cases);

}  // namespace bench
