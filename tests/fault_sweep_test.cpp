// Every function survives every allocation failing and every interrupt: for a
// representative call of each, fail each host allocation in turn (both ways the host can
// fail), then each scratch allocation of the pack's heap in turn, then answer the user's
// request to stop at each interrupt poll in turn. Each run must give an error value (or let
// the host's allocation failure through as std::bad_alloc), and must pass the checks every
// call is held to (tests/support/call_checks.h): a failed host allocation may leave behind
// only the string of an error record that could not be had.
//
// Add one line to kCases for each new function. Exported routines that have no table row
// are called directly through `direct`. The error paths of every row come from the table
// sweep on their own (ErrorPaths, at the end).
#include <cmath>
#include <functional>
#include <map>

#include "eigen/eigen.h"
#include "linalg/inverse.h"
#include "pack/heap.h"
#include "tests/support/pack_test.h"
#include "tests/support/sweep.h"

namespace {

using testsupport::CallOutcome;
using testsupport::CallSetting;
using testsupport::checkedCall;
using testsupport::PackTest;
using testsupport::Sweep;
using testsupport::SweepCall;
using testsupport::Values;
using Arguments = std::function<std::vector<Anyval*>(Values&)>;

struct SweepCase {
  const char* label;
  const char* function;
  Arguments arguments;
  Anyval* (*direct)(UfnCallContext*, Anyval*) = nullptr;
};

Anyval* (*const valueInv)(UfnCallContext*, Anyval*) = inv;
Anyval* (*const valueEigenvecs)(UfnCallContext*, Anyval*) = eigenvecs;

// The arguments of a case, built fresh for each run.
#define ARGUMENTS(...) [](Values& v) { return std::vector<Anyval*>{__VA_ARGS__}; }

// An order at which the LU family polls for interrupts many times; smaller on the 32-bit
// build, whose tests run under an emulator.
constexpr int kLargeOrder = sizeof(void*) == 8 ? 200 : 24;

// Well-conditioned matrices of that order: diagonally dominant, and symmetric positive
// definite.
Anyval* dominant(Values& v) {
  return v.value(kLargeOrder, kLargeOrder,
                 [](int i, int j) { return i == j ? kLargeOrder : 1.0 / (1 + i + 2 * j); });
}
Anyval* definite(Values& v) {
  return v.value(kLargeOrder, kLargeOrder,
                 [](int i, int j) { return i == j ? kLargeOrder : 1.0 / (1 + i + j); });
}
// A pencil for the QZ functions, which poll in every stage: small enough to be swept at
// every poll.
constexpr int kPencilOrder = 30;
Anyval* pencilA(Values& v) {
  return v.value(kPencilOrder, kPencilOrder, [](int i, int j) { return std::sin(1.0 + i * j); });
}
Anyval* pencilB(Values& v) {
  return v.value(kPencilOrder, kPencilOrder,
                 [](int i, int j) { return i == j ? kPencilOrder : std::cos(i + 2.0 * j); });
}
Anyval* ones(Values& v) {
  return v.value(kLargeOrder, 1, [](int, int) { return 1.0; });
}
// Matrices for the singular value family, which polls up to four times per column.
Anyval* waves(Values& v, int rows, int cols) {
  return v.value(rows, cols, [](int i, int j) { return std::sin(1.0 + i + 3.0 * j); });
}

// A non-symmetric matrix with real eigenvalues and complex pairs, for the eigensolvers: small
// enough that a run per interrupt poll stays quick, large enough for many polls.
constexpr int kEigenOrder = 9;
Anyval* nonsymmetric(Values& v) {
  return v.value(kEigenOrder, kEigenOrder,
                 [](int i, int j) { return ((i * 7 + j * 3) % 5) - 2.0; });
}
Anyval* symmetric(Values& v) {
  return v.value(kEigenOrder, kEigenOrder, [](int i, int j) { return ((i + j) % 4) - 1.5; });
}

const SweepCase kCases[] = {
    {"rows", "rows", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"rows_of_string", "rows", ARGUMENTS(v.string("x"))},
    {"cols", "cols", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"length", "length", ARGUMENTS(v.value({{1}, {2}}))},
    {"length_of_row", "length", ARGUMENTS(v.value({{1, 2}}))},
    {"last", "last", ARGUMENTS(v.value({{1}, {2}}))},
    {"lookup", "lookup",
     ARGUMENTS(v.scalar(2), v.value({{2, 1}, {3, 2}}), v.value({{1, 2}, {3, 4}}))},
    {"hlookup", "hlookup", ARGUMENTS(v.scalar(1), v.value({{1, 2, 1}, {4, 5, 6}}), v.scalar(1))},
    {"vlookup", "vlookup", ARGUMENTS(v.scalar(1), v.value({{1, 4}, {2, 5}, {1, 6}}), v.scalar(1))},
    {"match", "match", ARGUMENTS(v.scalar(2), v.value({{1, 2}, {2, 4}}))},
    {"identity", "identity", ARGUMENTS(v.scalar(3))},
    {"diag", "diag", ARGUMENTS(v.value({{1}, {2}}, {{3}, {4}}))},
    {"augment", "augment", ARGUMENTS(v.scalar(0, 1), v.value({{2, 3}}), v.string("s"))},
    {"stack", "stack", ARGUMENTS(v.scalar(0, 1), v.scalar(2), v.value({{3}}, {{4}}))},
    {"submatrix", "submatrix",
     ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{5, 6}, {7, 8}}), v.scalar(1), v.scalar(0), v.scalar(0),
               v.scalar(1))},
    {"submatrix_element", "submatrix",
     ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{5, 6}, {7, 8}}), v.scalar(1), v.scalar(1), v.scalar(0),
               v.scalar(0))},
    {"reverse", "reverse", ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{5, 6}, {7, 8}}))},
    {"transpose", "transpose", ARGUMENTS(v.value({{1, 2, 3}}, {{4, 5, 6}}))},
    {"tr", "tr", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"max", "max", ARGUMENTS(v.scalar(1), v.value({{2, 3}}))},
    {"min", "min", ARGUMENTS(v.scalar(1), v.value({{2, 3}}))},
    {"matrix", "matrix",
     [](Values& v) {
       // f's values are made beforehand: what f gives belongs to the host, not to the call.
       Anyval* real = v.scalar(1);
       Anyval* complex = v.scalar(2, 3);
       Anyval* f = v.function([=](std::span<Anyval* const> args) {
         return as<aComplex>(args[1])->re == 0 ? real : complex;
       });
       return std::vector{v.scalar(2), v.scalar(2), f};
     }},
    {"lu", "lu", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"lu_complex", "lu", ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{1, 0}, {0, 1}}))},
    {"lu_singular", "lu", ARGUMENTS(v.value({{1, 2}, {2, 4}}))},
    {"lsolve", "lsolve", ARGUMENTS(v.value({{1, 2}, {3, 4}}), v.value({{1}, {2}}))},
    {"lsolve_complex", "lsolve", ARGUMENTS(v.value({{1, 2}, {3, 4}}), v.value({}, {{1}, {2}}))},
    {"cholesky", "cholesky", ARGUMENTS(v.value({{4, 2}, {2, 3}}))},
    {"inv", "inv", ARGUMENTS(v.value({{1, 2}, {3, 4}})), valueInv},
    {"cinv", "inv", ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{1, 0}, {0, 1}})), valueInv},
    {"lu_large", "lu", ARGUMENTS(dominant(v))},
    {"lsolve_large", "lsolve", ARGUMENTS(dominant(v), ones(v))},
    {"cholesky_large", "cholesky", ARGUMENTS(definite(v))},
    {"inv_large", "inv", ARGUMENTS(dominant(v)), valueInv},
    {"qr", "qr", ARGUMENTS(v.value({{1, 2}, {3, 4}, {5, 6}}))},
    {"qr_large", "qr", ARGUMENTS(dominant(v))},
    {"rref", "rref", ARGUMENTS(v.value({{1, 2, 3}, {4, 5, 6}}))},
    {"rref_large", "rref", ARGUMENTS(dominant(v))},
    {"svds", "svds", ARGUMENTS(v.value({{1, 2}, {3, 4}, {5, 6}}))},
    {"svd", "svd", ARGUMENTS(v.value({{1, 2}, {3, 4}, {5, 6}}))},
    {"rank", "rank", ARGUMENTS(v.value({{1, 2}, {3, 4}, {5, 6}}))},
    {"rank_wide", "rank", ARGUMENTS(v.value({{1, 2, 3}, {4, 5, 6}}))},
    {"geninv", "geninv", ARGUMENTS(v.value({{1, 2}, {3, 4}, {5, 6}}))},
    {"norm1", "norm1", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"norm1_complex", "norm1", ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{1, 0}, {0, 1}}))},
    {"norm2", "norm2", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"norm2_complex", "norm2", ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{1, 0}, {0, 1}}))},
    {"norm2_imaginary", "norm2", ARGUMENTS(v.value({}, {{1, 2}, {3, 4}}))},
    {"norme", "norme", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"normi_complex", "normi", ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{1, 0}, {0, 1}}))},
    {"cond1", "cond1", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"cond2", "cond2", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"cond2_complex", "cond2", ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{1, 0}, {0, 1}}))},
    {"conde_complex", "conde", ARGUMENTS(v.value({{1, 2}, {3, 4}}, {{1, 0}, {0, 1}}))},
    {"condi", "condi", ARGUMENTS(v.value({{1, 2}, {3, 4}}))},
    {"svd_large", "svd", ARGUMENTS(waves(v, 48, 40))},
    {"geninv_large", "geninv", ARGUMENTS(waves(v, 48, 40))},
    {"cond2_large", "cond2", ARGUMENTS(waves(v, 40, 40))},
    {"eigenvec", "eigenvec", ARGUMENTS(v.value({{2, 0}, {0, 3}}), v.scalar(2))},
    {"eigenvec_complex", "eigenvec", ARGUMENTS(v.value({{0, 1}, {0, 0}}, {{1, 0}, {0, 1}}), v.scalar(0, 1))},
    {"eigenvec_large", "eigenvec", ARGUMENTS(dominant(v), v.scalar(kLargeOrder))},
    {"genvals_1x1", "genvals", ARGUMENTS(v.value({{2}}), v.value({{4}}))},
    {"genvecs_1x1", "genvecs", ARGUMENTS(v.value({{2}}), v.value({{4}}))},
    {"genvals", "genvals", ARGUMENTS(pencilA(v), pencilB(v))},
    {"genvecs", "genvecs", ARGUMENTS(pencilA(v), pencilB(v))},
    {"genvecs_swapped", "genvecs", ARGUMENTS(v.value({{1, 2}, {3, 4}}), v.value({{1, 0}, {0, 0}}))},
    {"eigenvals_symmetric", "eigenvals", ARGUMENTS(symmetric(v))},
    {"eigenvals_general", "eigenvals", ARGUMENTS(nonsymmetric(v))},
    {"eigenvals_complex", "eigenvals",
     ARGUMENTS(v.value({{1, 2, 0}, {3, 4, 1}, {0, 1, 2}}, {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}))},
    {"eigenvals_imaginary", "eigenvals", ARGUMENTS(v.value({}, {{1, 2}, {3, 4}}))},
    {"eigenvals_string", "eigenvals", ARGUMENTS(v.string("x"))},
    {"eigenvecs_symmetric", "eigenvecs", ARGUMENTS(symmetric(v))},
    {"eigenvecs_general", "eigenvecs", ARGUMENTS(nonsymmetric(v))},
    {"eigenvecs_complex", "eigenvecs",
     ARGUMENTS(v.value({{1, 2, 0}, {3, 4, 1}, {0, 1, 2}}, {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}))},
    {"eigenvecs_exported", "eigenvecs", ARGUMENTS(nonsymmetric(v)), valueEigenvecs},
};

void PrintTo(const SweepCase& c, std::ostream* out) {
  *out << c.label;
}

// One run of a call, with `arm` done to the host right before it and `disarm` right after.
using Step = std::function<void(sheet::Host&)>;
using RunOnce = std::function<CallOutcome(const Step& arm, const Step& disarm, bool hostFailures)>;

// Each host allocation fails in turn, both ways the host can fail.
void everyHostAllocationFailing(const RunOnce& run) {
  using Failure = sheet::Allocator::Failure;
  for (Failure how : {Failure::kNegativeResult, Failure::kNullBlock}) {
    for (long n = 1;; ++n) {
      SCOPED_TRACE("host allocation " + std::to_string(n) +
                   (how == Failure::kNullBlock ? " null" : " negative"));
      bool failed = false;
      const CallOutcome outcome = run([&](sheet::Host& host) { host.allocator.failNth(n, how); },
                                      [&](sheet::Host& host) {
                                        failed = host.allocator.failureHappened();
                                        host.allocator.failNth(0, how);
                                      },
                                      true);
      EXPECT_TRUE(outcome.ok()) << outcome.report();
      if (!failed) {
        ASSERT_FALSE(outcome.badAlloc);
        break;
      }
      if (outcome.badAlloc) {
        EXPECT_EQ(how, Failure::kNegativeResult);
      } else {
        ASSERT_NE(outcome.result, nullptr);
        EXPECT_EQ(outcome.result->tag, kTagError);
      }
    }
  }
}

// Each scratch allocation fails in turn.
void everyScratchAllocationFailing(const RunOnce& run) {
  for (long n = 1;; ++n) {
    SCOPED_TRACE("scratch allocation " + std::to_string(n));
    bool reached = false;
    const CallOutcome outcome = run([&](sheet::Host&) { heap::failNth(n); },
                                    [&](sheet::Host&) {
                                      reached = heap::allocationsSinceArmed() >= n;
                                      heap::failNth(0);
                                    },
                                    false);
    EXPECT_TRUE(outcome.ok()) << outcome.report();
    if (!reached) break;
    ASSERT_NE(outcome.result, nullptr);
    EXPECT_EQ(outcome.result->tag, kTagError);
  }
}

// The user asks to stop at each interrupt poll in turn. The call stops with "interrupted",
// or, when it gives an error anyway (`ownError`, its summary), possibly with that error: a
// floating-point fault raised before the poll outranks the interruption.
void everyInterrupt(const RunOnce& run, const std::string& ownError = "") {
  for (long n = 1;; ++n) {
    SCOPED_TRACE("interrupt at poll " + std::to_string(n));
    long polls = 0;
    const CallOutcome outcome = run([&](sheet::Host& host) { host.evaluator.interruptAfter(n); },
                                    [&](sheet::Host& host) {
                                      polls = host.evaluator.polls();
                                      host.evaluator.interruptAfter(0);
                                    },
                                    false);
    EXPECT_TRUE(outcome.ok()) << outcome.report();
    if (polls < n) break;
    const std::string summary = Sweep::summary(outcome);
    if (ownError.empty() || summary != ownError) EXPECT_ERROR(outcome.result, "interrupted", 0, 0);
  }
}

class FaultSweep : public PackTest, public ::testing::WithParamInterface<SweepCase> {
 protected:
  // Runs the case once on the fixture's host, with fresh arguments.
  CallOutcome run(const Step& arm, const Step& disarm, bool hostFailures) {
    const SweepCase& c = GetParam();
    std::vector<Anyval*> args = c.arguments(values);
    const int row = c.direct ? -1 : pack.find(c.function);
    Anyval* tol = values.scalar(0.001);
    Anyval* origin = values.scalar(0);
    std::vector<Anyval*> passed = args;
    passed.insert(passed.end(), {tol, origin});
    CallSetting setting{passed, static_cast<int>(args.size())};
    setting.hostFailures = hostFailures;
    return checkedCall(host, setting, [&](UfnCallContext* ctx) {
      arm(host);
      struct Disarm {
        const Step& disarm;
        sheet::Host& host;
        ~Disarm() { disarm(host); }
      } after{disarm, host};
      return c.direct ? c.direct(ctx, args[0]) : pack.call(row, ctx, args, {tol, origin});
    });
  }
  RunOnce runner() {
    return [this](const Step& arm, const Step& disarm, bool hostFailures) {
      return run(arm, disarm, hostFailures);
    };
  }
};

TEST_P(FaultSweep, EveryHostAllocationFailing) {
  everyHostAllocationFailing(runner());
}

TEST_P(FaultSweep, EveryScratchAllocationFailing) {
  everyScratchAllocationFailing(runner());
}

TEST_P(FaultSweep, EveryInterrupt) {
  everyInterrupt(runner());
}

INSTANTIATE_TEST_SUITE_P(Functions, FaultSweep, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The error paths: for each row with an entry, each error (message and position pair) the
// table sweep (tests/support/sweep.h) meets, under every fault, so that allocation fails
// while an error value is being built too. Rows without an entry are skipped.
class ErrorPaths : public ::testing::TestWithParam<int> {
 protected:
  sheet::PackLibrary pack =
      sheet::PackLibrary::linked(theUfn, numFuncs, DllRegisterServer, DllUnregisterServer);
};

TEST_P(ErrorPaths, EachErrorUnderEveryFault) {
  const sheet::RowInfo info = pack.row(GetParam());
  if (!info.available) GTEST_SKIP() << info.name << " has no entry yet";
  Sweep sweep(pack);
  std::map<std::string, SweepCall> errors;  // by the summary of the error
  for (const SweepCall& call : sweep.calls(GetParam())) {
    const CallOutcome outcome = sweep.run(call);
    if (outcome.result && outcome.result->tag == kTagError) {
      errors.try_emplace(Sweep::summary(outcome), call);
    }
  }
  for (const auto& [error, call] : errors) {
    SCOPED_TRACE(sweep.describe(call) + " -> " + error);
    const RunOnce run = [&](const Step& arm, const Step& disarm, bool hostFailures) {
      return sweep.run(call, arm, disarm, hostFailures);
    };
    everyHostAllocationFailing(run);
    everyScratchAllocationFailing(run);
    everyInterrupt(run, error);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ErrorPaths, ::testing::Range(0, static_cast<int>(numFuncs)),
                         [](const auto& info) {
                           return std::string(theUfn[info.param].name->text);
                         });

}  // namespace
