// One call into the pack, made as a host makes it and then held to everything a host relies
// on. Every test harness calls the pack through checkedCall:
//
//   floating point  the caller's x87 control word and MXCSR, flags included, are exactly as
//                   they were before the call, whatever the entry's policy
//   arguments       every argument, and every value it refers to, is bit for bit as before;
//                   only a new reference the result holds to an embedded matrix may raise
//                   that matrix's reference count and set its referenced flag
//   the pack's heap balanced: each scratch block was given back, or handed over to a host
//                   value: the result, or a temporary the pack released through the evaluator
//   host memory     no block made during the call is unreachable from the arguments and the
//                   result; the pack released through the evaluator nothing it was given
//   the result      an error value with a message of the pack's vocabulary and a position
//                   pair inside the call's argument count, or a well-formed value: a
//                   scalar, a string whose length is its text's, or a matrix whose header
//                   is consistent (leading dimension at least the rows, byte count of one
//                   part), whose part arrays are as large as the header says, and whose
//                   embedded elements are well-formed values
//
// An exception may end a call instead of a result only where a host expects one: the host's
// own allocation failure (std::bad_alloc) when the caller made host allocations fail, and
// the overflow fault of the complex modulus that a plain entry lets through.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "sheet/host.h"

namespace testsupport {

// The caller's side of the floating-point state.
struct FpState {
  uint16_t x87Control;
  uint32_t mxcsr;
  bool operator==(const FpState&) const = default;
};
FpState currentFpState();
// Loads the state with the x87 status flags clear.
void loadFpState(const FpState& state);

// What a test process starts with: round to nearest, every exception masked, no flags.
inline constexpr FpState kDefaultFpState{0x037F, 0x1F80};

struct CallSetting {
  // Every value the call passes, worksheet arguments first, then the system variables.
  std::span<Anyval* const> values;
  // How many of them are worksheet arguments: the positions an error may name.
  int worksheetArguments = 0;
  // The caller's floating-point state during the call.
  FpState caller = kDefaultFpState;
  // Host allocations were made to fail: std::bad_alloc may come out, and a string block
  // whose error record could not be had may stay behind (the host's collector takes it).
  bool hostFailures = false;
  // A worksheet function passed in may give errors of its own, which the pack passes on.
  bool foreignErrors = false;
  // Worksheet functions passed in are the host's own: they build values of their own and
  // may call the pack in turn. When the pack applied one, what is left unreachable and what
  // the pack's heap holds are the host's business, and go unchecked.
  bool hostCallbacks = false;
};

struct CallOutcome {
  Anyval* result = nullptr;  // null when an exception ended the call
  bool badAlloc = false;
  uint32_t fault = 0;  // the code of a floating-point exception that came out; 0: none
  std::vector<std::string> problems;

  bool ok() const { return problems.empty(); }
  // The problems, one a line.
  std::string report() const;
};

// Calls `call` with a call context on `host` and checks the call as above. The result is
// then the host's: adopted by its allocator.
CallOutcome checkedCall(sheet::Host& host, const CallSetting& setting,
                        const std::function<Anyval*(UfnCallContext*)>& call);

// The messages the pack may report.
bool inVocabulary(const char* message);

}  // namespace testsupport
