// The table sweep: every argument position of a row, driven by the table itself, with every
// value of the gallery (tests/support/gallery.h) while the other positions hold usual
// values; for counted rows also each value with itself and odd argument counts; and odd
// values of the system variables the row appends. Each call is made on a fresh host through
// checkedCall.
//
// A row's usual values are found by trying the usual candidates position by position, the
// first position slowest, until a call gives no error; failing that, the first call whose
// error names no argument (its kinds passed), failing that the first call. So a row that
// gets an entry is swept the day it does, with nothing to add here.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sheet/loader.h"
#include "tests/support/call_checks.h"
#include "tests/support/gallery.h"

namespace testsupport {

// One call of a row: gallery values in each position, and the values of the system
// variables (indices into tolValues() and originValues()).
struct SweepCall {
  int row = 0;
  std::vector<int> arguments;
  int tol = 0;
  int origin = 0;
};

class Sweep {
 public:
  // Something done to the host right before the call and right after it.
  using Step = std::function<void(sheet::Host&)>;

  explicit Sweep(const sheet::PackLibrary& pack) : pack_(pack) {}

  // The usual values of the row's arguments.
  SweepCall usualCall(int row);
  // Every call the sweep makes of the row.
  std::vector<SweepCall> calls(int row);

  // Makes the call on a fresh host, `arm` run right before it and `disarm` right after it.
  // The outcome's result lives until the next run.
  CallOutcome run(const SweepCall& call, const Step& arm = {}, const Step& disarm = {},
                  bool hostFailures = false);
  // The host of the last run.
  sheet::Host& host() { return *host_; }

  // How the call reads: lu(3 x 3 real), with TOL and ORIGIN when they are not the first.
  std::string describe(const SweepCall& call) const;
  // What the call gave: "error \"singular matrix\" (0, 0)", "3 x 9 matrix, not finite",
  // "scalar", "EXCEPTION_FLT_OVERFLOW", ...
  static std::string summary(const CallOutcome& outcome);

 private:
  const sheet::PackLibrary& pack_;
  std::unique_ptr<sheet::Host> host_;
  long runs_ = 0;
};

}  // namespace testsupport
