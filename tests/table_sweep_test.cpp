// Nothing a host passes can break the pack: every row of the table that has an entry is
// called with every gallery value in every argument position, and with odd argument counts
// and odd system variables (tests/support/sweep.h); every call must pass the checks of
// tests/support/call_checks.h. A row without an entry is skipped, so each new function is
// swept from the day its row gets one.
//
// At the end the program prints its figure: rows swept, argument kinds, calls made. With
// MATPACK_SWEEP_LIST set in the environment it lists every call and what it gave.
#include <cstdio>
#include <cstdlib>

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

}  // namespace
