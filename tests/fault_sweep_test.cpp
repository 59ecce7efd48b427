// Every function survives every allocation failing and every interrupt: for a
// representative call of each, fail each host allocation in turn (both ways the host can
// fail), then each scratch allocation of the pack's heap in turn, then answer the user's
// request to stop at each interrupt poll in turn. Each run must give an error value (or let
// the host's allocation failure through as std::bad_alloc), and must leave behind no block
// that only the failed call could have released.
//
// Add one line to kCases for each new function. Exported routines that have no table row
// are called directly through `direct`.
#include <cmath>
#include <functional>

#include "eigen/eigen.h"
#include "linalg/inverse.h"
#include "pack/heap.h"
#include "tests/support/pack_test.h"

namespace {

using testsupport::PackTest;
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

class FaultSweep : public PackTest, public ::testing::WithParamInterface<SweepCase> {
 protected:
  // Runs the case once with `arm` set up just before the call. Returns false once the
  // armed failure is no longer reached.
  struct Outcome {
    Anyval* result = nullptr;
    bool badAlloc = false;
    std::vector<sheet::BlockInfo> garbage;
  };

  Outcome run(const std::function<void()>& arm, const std::function<void()>& disarm) {
    Outcome outcome;
    const SweepCase& c = GetParam();
    std::vector<Anyval*> args = c.arguments(values);
    const int row = c.direct ? -1 : pack.find(c.function);
    const uint64_t before = host.allocator.historyPoint();
    Anyval* tol = values.scalar(0.001);
    Anyval* origin = values.scalar(0);
    arm();
    try {
      outcome.result = c.direct ? c.direct(&host.context, args[0])
                                : pack.call(row, &host.context, args, {tol, origin});
    } catch (const std::bad_alloc&) {
      outcome.badAlloc = true;
    }
    disarm();
    if (outcome.result) host.allocator.adopt(outcome.result);
    std::vector<Anyval*> roots = args;
    roots.insert(roots.end(), {outcome.result, tol, origin});
    outcome.garbage = host.allocator.unreachable(roots, before);
    return outcome;
  }
};

// Garbage a failed call may leave: a string block whose error record could not be had.
// The host's collector reclaims it; there is no slot to give it back.
bool onlyOrphanedStrings(const std::vector<sheet::BlockInfo>& garbage) {
  for (const auto& block : garbage) {
    if (block.origin != sheet::Origin::kData) return false;
  }
  return true;
}

TEST_P(FaultSweep, EveryHostAllocationFailing) {
  using Failure = sheet::Allocator::Failure;
  for (Failure how : {Failure::kNegativeResult, Failure::kNullBlock}) {
    for (long n = 1;; ++n) {
      SCOPED_TRACE("host allocation " + std::to_string(n) +
                   (how == Failure::kNullBlock ? " null" : " negative"));
      Outcome outcome =
          run([&] { host.allocator.failNth(n, how); }, [&] { host.allocator.failNth(0, how); });
      if (!host.allocator.failureHappened()) {
        ASSERT_FALSE(outcome.badAlloc);
        break;
      }
      if (outcome.badAlloc) {
        EXPECT_EQ(how, Failure::kNegativeResult);
      } else {
        ASSERT_NE(outcome.result, nullptr);
        EXPECT_EQ(outcome.result->tag, kTagError);
      }
      EXPECT_TRUE(onlyOrphanedStrings(outcome.garbage)) << sheet::describe(outcome.garbage);
    }
  }
}

TEST_P(FaultSweep, EveryScratchAllocationFailing) {
  for (long n = 1;; ++n) {
    SCOPED_TRACE("scratch allocation " + std::to_string(n));
    bool reached = false;
    Outcome outcome = run([&] { heap::failNth(n); },
                          [&] {
                            reached = heap::allocationsSinceArmed() >= n;
                            heap::failNth(0);
                          });
    ASSERT_FALSE(outcome.badAlloc);
    EXPECT_TRUE(outcome.garbage.empty()) << sheet::describe(outcome.garbage);
    if (!reached) break;
    ASSERT_NE(outcome.result, nullptr);
    EXPECT_EQ(outcome.result->tag, kTagError);
  }
}

TEST_P(FaultSweep, EveryInterrupt) {
  for (long n = 1;; ++n) {
    SCOPED_TRACE("interrupt at poll " + std::to_string(n));
    long polls = 0;
    Outcome outcome = run([&] { host.evaluator.interruptAfter(n); },
                          [&] {
                            polls = host.evaluator.polls();
                            host.evaluator.interruptAfter(0);
                          });
    ASSERT_FALSE(outcome.badAlloc);
    EXPECT_TRUE(outcome.garbage.empty()) << sheet::describe(outcome.garbage);
    if (polls < n) break;
    EXPECT_ERROR(outcome.result, "interrupted", 0, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Functions, FaultSweep, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
