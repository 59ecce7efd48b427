// Fuzz target: the bytes decode into one call of a table row with arbitrary host values
// (tests/fuzz/call_codec.h), kinds and shapes matsheet cannot write among them, made under
// a chosen caller state and fault, and held to the checks every call is held to
// (tests/support/call_checks.h). A broken promise aborts with the call's description.
// The call has a budget (tests/fuzz/budget.h).
#include <cstdio>
#include <cstdlib>

#include "pack/exports.h"
#include "pack/heap.h"
#include "sheet/loader.h"
#include "tests/fuzz/budget.h"
#include "tests/fuzz/call_codec.h"

namespace {

// So that no input runs for long: no host block beyond 1 MiB (identity up to order 362),
// and at most so many applications of worksheet functions (matrix up to as many elements).
constexpr uint64_t kMostBytes = 1 << 20;
constexpr long kMostApplications = 20000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const sheet::PackLibrary pack =
      sheet::PackLibrary::linked(theUfn, numFuncs, DllRegisterServer, DllUnregisterServer);
  sheet::Host host;
  const auto call = fuzzing::decodeCall({data, size}, host);
  if (!call) return 0;
  const fuzzing::Budget budget(host, kMostBytes, kMostApplications);

  using fuzzing::Fault;
  using Failure = sheet::Allocator::Failure;
  std::vector<Anyval*> passed = call->arguments;
  passed.insert(passed.end(), {call->tol, call->origin});
  testsupport::CallSetting setting{passed, static_cast<int>(call->arguments.size())};
  setting.caller = call->caller;
  setting.hostFailures = call->fault == Fault::kHostNegative || call->fault == Fault::kHostNull;
  const auto outcome = testsupport::checkedCall(host, setting, [&](UfnCallContext* ctx) {
    switch (call->fault) {
      case Fault::kHostNegative:
        host.allocator.failNth(call->faultAt, Failure::kNegativeResult);
        break;
      case Fault::kHostNull:
        host.allocator.failNth(call->faultAt, Failure::kNullBlock);
        break;
      case Fault::kScratch:
        heap::failNth(call->faultAt);
        break;
      case Fault::kInterrupt:
        host.evaluator.interruptAfter(call->faultAt);
        break;
      case Fault::kNone:
        break;
    }
    struct Disarm {
      sheet::Host& host;
      ~Disarm() {
        host.allocator.failNth(0, Failure::kNullBlock);
        heap::failNth(0);
        host.evaluator.interruptAfter(0);
      }
    } disarm{host};
    return pack.call(call->row, ctx, call->arguments, {call->tol, call->origin});
  });
  if (!outcome.ok()) {
    std::fprintf(stderr, "%s with %zu arguments broke its promises:\n%s",
                 pack.row(call->row).name.c_str(), call->arguments.size(),
                 outcome.report().c_str());
    std::abort();
  }
  return 0;
}
