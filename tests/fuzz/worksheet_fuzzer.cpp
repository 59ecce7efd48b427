// Fuzz target: the bytes are a worksheet, one statement a line, evaluated in process by
// matsheet's parser and evaluator against the pack. Every call the worksheet makes of the
// pack (its inverse included) goes through the checks of tests/support/call_checks.h; a
// broken promise aborts with the statement's call.
//
// So that an input cannot run for long, the worksheet's pack calls take and give at most
// kMostElements elements a value (larger ones are answered with "size too large"), and the
// input has a budget (tests/fuzz/budget.h): no host block larger than kMostBytes for the
// pack, at most kMostApplications applications of worksheet functions. The first
// kMostStatements lines are read.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "host/structured_exceptions.h"
#include "linalg/inverse.h"
#include "pack/errors.h"
#include "pack/exports.h"
#include "sheet/worksheet.h"
#include "tests/fuzz/budget.h"
#include "tests/fuzz/hooked_table.h"
#include "tests/support/call_checks.h"

namespace {

constexpr size_t kMostElements = 256;
constexpr uint32_t kMostBytes = 64 * 1024;
constexpr long kMostApplications = 10000;
constexpr int kMostStatements = 48;

bool tooLarge(const Anyval* value) {
  return value && isMatrix(value) &&
         size_t(as<aMatrix>(value)->rows) * size_t(as<aMatrix>(value)->cols) > kMostElements;
}

sheet::Host* currentHost = nullptr;

// A pack call of the worksheet's, checked; `name` and `call` make it.
template <class Call>
Anyval* checked(const std::string& name, std::span<Anyval* const> arguments,
                const sheet::SystemVariables& system, Call call) {
  for (const Anyval* argument : arguments) {
    if (tooLarge(argument)) return errorValue(&currentHost->context, msg::kSizeTooLarge, 0);
  }
  std::vector<Anyval*> passed(arguments.begin(), arguments.end());
  if (system.tol) passed.push_back(system.tol);
  if (system.origin) passed.push_back(system.origin);
  testsupport::CallSetting setting{passed, static_cast<int>(arguments.size())};
  setting.foreignErrors = true;
  setting.hostCallbacks = true;
  const auto outcome = testsupport::checkedCall(*currentHost, setting, call);
  if (!outcome.ok()) {
    std::fprintf(stderr, "%s with %zu arguments broke its promises:\n%s", name.c_str(),
                 arguments.size(), outcome.report().c_str());
    std::abort();
  }
  if (outcome.fault != 0) throw SE_FPEOverflow_Exception(outcome.fault, 0);
  if (outcome.badAlloc) throw std::bad_alloc();
  if (tooLarge(outcome.result)) return errorValue(&currentHost->context, msg::kSizeTooLarge, 0);
  return outcome.result;
}

Anyval* checkedInverse(UfnCallContext*, Anyval* m) {
  Anyval* const arguments[] = {m};
  return checked("the inverse", arguments, {nullptr, nullptr},
                 [&](UfnCallContext* ctx) { return inv(ctx, m); });
}

// Where statements' outcomes go: nowhere.
class Discard : public sheet::Output {
 public:
  void value(int, const std::string&, const Anyval*) override {}
  void hostError(int, const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzzing::HookedTable table([](const fuzzing::TableCall& call) {
    return checked(table.pack().row(call.row).name, call.arguments, call.system,
                   [&](UfnCallContext* ctx) {
                     fuzzing::TableCall made = call;
                     made.ctx = ctx;
                     return table.call(made);
                   });
  });
  sheet::Host host;
  const fuzzing::Budget budget(host, kMostBytes, kMostApplications);
  currentHost = &host;

  sheet::Worksheet worksheet(table.library(), host, checkedInverse);
  Discard out;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  for (int line = 1; line <= kMostStatements && start < text.size(); ++line) {
    const size_t end = std::min(text.find('\n', start), text.size());
    worksheet.run(text.substr(start, end - start), "fuzz", line, out);
    start = end + 1;
  }
  currentHost = nullptr;
  return 0;
}
