// Nothing a host passes can break the pack: every row of the table that has an entry is
// called with every gallery value in every argument position, and with odd argument counts
// and odd system variables (tests/support/sweep.h); every call must pass the checks of
// tests/support/call_checks.h. A row without an entry is skipped, so each new function is
// swept from the day its row gets one.
//
// At the end the program prints its figure: rows swept, argument kinds, calls made. With
// MATPACK_SWEEP_LIST set in the environment it lists every call and what it gave.
//
// NonFiniteValues holds what the README says the pack does with NaN and the infinities.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "linalg/inverse.h"
#include "tests/support/pack_test.h"
#include "tests/support/sweep.h"

namespace {

using testsupport::Sweep;

struct Tally {
  int rows = 0;
  long calls = 0;
};
Tally tally;

class Figure : public ::testing::Environment {
 public:
  void TearDown() override {
    std::printf("table sweep: %d rows, %zu argument kinds, %ld calls\n", tally.rows,
                testsupport::gallery().size(), tally.calls);
  }
};
const auto* const figure = ::testing::AddGlobalTestEnvironment(new Figure);

class TableSweep : public ::testing::TestWithParam<int> {
 protected:
  sheet::PackLibrary pack =
      sheet::PackLibrary::linked(theUfn, numFuncs, DllRegisterServer, DllUnregisterServer);
};

TEST_P(TableSweep, EveryArgumentKindInEveryPosition) {
  const int row = GetParam();
  const sheet::RowInfo info = pack.row(row);
  if (!info.available) GTEST_SKIP() << info.name << " has no entry yet";
  Sweep sweep(pack);
  const auto calls = sweep.calls(row);
  const bool list = std::getenv("MATPACK_SWEEP_LIST") != nullptr;
  for (const auto& call : calls) {
    const auto outcome = sweep.run(call);
    EXPECT_TRUE(outcome.ok()) << sweep.describe(call) << ":\n" << outcome.report();
    if (list)
      std::printf("  %s: %s\n", sweep.describe(call).c_str(), Sweep::summary(outcome).c_str());
  }
  ++tally.rows;
  tally.calls += static_cast<long>(calls.size());
  std::printf("%s: %zu calls, usually %s\n", info.name.c_str(), calls.size(),
              sweep.describe(sweep.usualCall(row)).c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, TableSweep, ::testing::Range(0, static_cast<int>(numFuncs)),
                         [](const auto& info) {
                           return std::string(theUfn[info.param].name->text);
                         });

// What the pack does with NaN and the infinities, family by family, as the README tells it:
// a call with gallery values in place of the usual arguments, and what it gives
// (Sweep::summary). Rows without an entry are passed over.
struct NonFinite {
  const char* function;
  std::vector<const char*> arguments;
  const char* gives;
  const char* tol = "0.001";
  const char* origin = "0";
};

const NonFinite kNonFinite[] = {
    {"identity", {"NaN"}, "error \"must be integer\" (0, 1)"},
    {"identity", {"Infinity"}, "error \"size too large\" (0, 1)"},
    {"identity", {"-Infinity"}, "error \"domain error\" (0, 1)"},
    {"last", {"3 x 1 real"}, "scalar, not finite", "0.001", "NaN"},
    {"matrix", {"NaN", "1", "function giving 1"}, "error \"must be positive\" (0, 1)"},
    {"matrix", {"1", "1", "function giving NaN"}, "1 x 1 matrix, not finite"},
    {"transpose", {"3 x 3 holding Infinity"}, "3 x 3 matrix, not finite"},
    {"stack", {"NaN", "Infinity"}, "2 x 1 matrix, not finite"},
    {"stack", {"signalling NaN", "1"}, "error \"floating point error\" (0, 0)"},
    {"submatrix", {"3 x 3 real", "NaN", "1", "1", "1"}, "error \"floating point error\" (0, 0)"},
    {"submatrix", {"3 x 3 real", "Infinity", "1", "1", "1"}, "error \"integer too large\" (0, 2)"},
    {"submatrix", {"3 x 3 real", "-Infinity", "1", "1", "1"}, "error \"invalid dimension\" (0, 2)"},
    {"tr", {"3 x 3 holding NaN"}, "scalar, not finite"},
    {"tr", {"3 x 3 holding Infinity"}, "scalar, not finite"},
    {"tr", {"3 x 3 all 1e308"}, "error \"overflow\" (0, 0)"},
    {"max", {"3 x 3 real", "NaN"}, "error \"floating point error\" (0, 0)"},
    {"max", {"Infinity", "3 x 3 real"}, "scalar, not finite"},
    {"min", {"NaN", "3 x 3 real"}, "scalar, not finite"},
    {"min", {"3 x 3 real", "NaN"}, "scalar"},
    {"lookup", {"NaN", "3 x 3 real", "3 x 3 real"}, "error \"no match\" (0, 0)"},
    {"lookup", {"Infinity", "3 x 3 real", "3 x 3 real"}, "error \"no match\" (0, 0)"},
    {"lookup", {"1", "3 x 3 holding NaN", "3 x 3 real"}, "2 x 1 matrix"},
    {"lookup", {"1", "3 x 3 real", "3 x 3 real"}, "error \"no match\" (0, 0)", "NaN"},
    {"lookup", {"1", "3 x 3 real", "3 x 3 real"}, "9 x 1 matrix", "Infinity"},
    {"lu", {"3 x 3 holding NaN"}, "error \"singular matrix\" (0, 0)"},
    {"lu", {"3 x 3 holding Infinity"}, "3 x 9 matrix, not finite"},
    {"lu", {"3 x 3 complex holding NaN"}, "3 x 9 matrix, not finite"},
    {"lu", {"3 x 3 complex holding Infinity"}, "EXCEPTION_FLT_OVERFLOW"},
    {"lsolve", {"3 x 3 holding NaN", "3 x 1 real"}, "error \"floating point error\" (0, 0)"},
    {"lsolve", {"3 x 3 holding Infinity", "3 x 1 real"}, "error \"floating point error\" (0, 0)"},
    {"lsolve", {"3 x 3 complex holding Infinity", "3 x 1 real"}, "error \"overflow\" (0, 0)"},
    {"cholesky", {"3 x 3 holding NaN"}, "error \"non-positive definite matrix\" (0, 0)"},
    {"cholesky", {"3 x 3 holding -Infinity"}, "error \"non-positive definite matrix\" (0, 0)"},
    {"cholesky", {"3 x 3 holding Infinity"}, "3 x 3 matrix, not finite"},
    {"qr", {"3 x 3 holding Infinity"}, "error \"floating point error\" (0, 0)"},
    {"rref", {"3 x 3 holding NaN"}, "3 x 3 matrix, not finite"},
    {"rref", {"3 x 3 holding a signalling NaN"}, "3 x 3 matrix, not finite"},
    {"rref", {"3 x 3 holding Infinity"}, "3 x 3 matrix"},
    {"norm1", {"3 x 3 holding NaN"}, "scalar"},
    {"norm1", {"3 x 3 holding Infinity"}, "scalar, not finite"},
    {"normi", {"3 x 3 holding NaN"}, "error \"floating point error\" (0, 0)"},
    {"normi", {"3 x 3 holding Infinity"}, "scalar, not finite"},
    {"norme", {"3 x 3 holding NaN"}, "scalar, not finite"},
    {"norme", {"3 x 3 holding a signalling NaN"}, "error \"floating point error\" (0, 0)"},
    {"norm2", {"3 x 3 holding NaN"}, "error \"floating point error\" (0, 0)"},
    {"norm2", {"3 x 3 holding Infinity"}, "error \"floating point error\" (0, 0)"},
    {"cond1", {"3 x 3 holding NaN"}, "error \"singular matrix\" (0, 0)"},
    {"cond1", {"3 x 3 holding Infinity"}, "error \"singular matrix\" (0, 0)"},
    {"cond1", {"3 x 3 complex holding Infinity"}, "EXCEPTION_FLT_OVERFLOW"},
    {"cond2", {"3 x 3 holding NaN"}, "error \"floating point error\" (0, 0)"},
    {"conde", {"3 x 3 holding Infinity"}, "error \"floating point error\" (0, 0)"},
    {"condi", {"3 x 3 complex holding Infinity"}, "error \"overflow\" (0, 0)"},
    {"svd", {"3 x 3 holding NaN"}, "error \"floating point error\" (0, 0)"},
    {"svds", {"3 x 3 holding NaN"}, "error \"too many iterations\" (0, 0)"},
    {"rank", {"3 x 3 holding Infinity"}, "error \"too many iterations\" (0, 0)"},
    {"geninv", {"3 x 3 holding NaN"}, "error \"too many iterations\" (0, 0)"},
    {"eigenvals", {"3 x 3 holding NaN"}, "error \"floating point error\" (0, 0)"},
    {"eigenvals", {"3 x 3 complex holding Infinity"}, "error \"floating point error\" (0, 0)"},
    {"eigenvecs", {"3 x 3 holding Infinity"}, "error \"floating point error\" (0, 0)"},
    {"eigenvec", {"3 x 3 holding NaN", "1"}, "error \"not converging\" (0, 0)"},
    {"eigenvec", {"3 x 3 holding Infinity", "1"}, "error \"not converging\" (0, 0)"},
    {"eigenvec", {"3 x 3 real", "NaN"}, "error \"not converging\" (0, 0)"},
    {"genvals", {"3 x 3 holding NaN", "3 x 3 real"}, "error \"floating point error\" (0, 0)"},
    {"genvecs", {"3 x 3 real", "3 x 3 holding Infinity"}, "error \"floating point error\" (0, 0)"},
};

// The exported inverse a host's M^-1 calls, which has no row.
const NonFinite kNonFiniteInverse[] = {
    {"inverse", {"3 x 3 holding NaN"}, "error \"floating point error\" (0, 0)"},
    {"inverse", {"3 x 3 holding Infinity"}, "error \"floating point error\" (0, 0)"},
    {"inverse", {"3 x 3 complex holding Infinity"}, "error \"overflow\" (0, 0)"},
};

void PrintTo(const NonFinite& c, std::ostream* out) {
  *out << c.function << " of";
  for (const char* argument : c.arguments) *out << " [" << argument << "]";
}

class NonFiniteValues : public ::testing::TestWithParam<NonFinite> {
 protected:
  sheet::PackLibrary pack =
      sheet::PackLibrary::linked(theUfn, numFuncs, DllRegisterServer, DllUnregisterServer);
};

TEST(NonFiniteInverse, GivesWhatTheReadmeSays) {
  for (const NonFinite& c : kNonFiniteInverse) {
    sheet::Host host;
    testsupport::Values values(host.allocator, &host.evaluator);
    Anyval* m =
        testsupport::gallery()[size_t(testsupport::galleryIndex(c.arguments[0]))].build(values);
    const auto outcome = testsupport::checkedCall(host, {std::span(&m, 1), 1},
                                                  [&](UfnCallContext* ctx) { return inv(ctx, m); });
    EXPECT_TRUE(outcome.ok()) << outcome.report();
    EXPECT_EQ(Sweep::summary(outcome), c.gives) << c.arguments[0];
  }
}

TEST_P(NonFiniteValues, GiveWhatTheReadmeSays) {
  const NonFinite& c = GetParam();
  const int row = pack.find(c.function);
  ASSERT_GE(row, 0);
  if (!pack.row(row).available) GTEST_SKIP() << c.function << " has no entry yet";
  testsupport::SweepCall call;
  call.row = row;
  for (const char* name : c.arguments) call.arguments.push_back(testsupport::galleryIndex(name));
  for (size_t t = 0; t < testsupport::tolValues().size(); ++t) {
    if (std::string(testsupport::tolValues()[t].name) == c.tol) call.tol = static_cast<int>(t);
  }
  for (size_t o = 0; o < testsupport::originValues().size(); ++o) {
    if (std::string(testsupport::originValues()[o].name) == c.origin) {
      call.origin = static_cast<int>(o);
    }
  }
  Sweep sweep(pack);
  const auto outcome = sweep.run(call);
  EXPECT_TRUE(outcome.ok()) << outcome.report();
  EXPECT_EQ(Sweep::summary(outcome), c.gives) << sweep.describe(call);
}

INSTANTIATE_TEST_SUITE_P(Families, NonFiniteValues, ::testing::ValuesIn(kNonFinite),
                         [](const auto& info) {
                           return std::string(info.param.function) + "_" +
                                  std::to_string(info.index);
                         });

}  // namespace
