// Fuzz target: the bytes are a worksheet, one statement a line, evaluated in process by
// matsheet's parser and evaluator against the pack. Every call the worksheet makes of the
// pack (its inverse included) goes through the checks of tests/support/call_checks.h; a
// broken promise aborts with the statement's call.
//
// So that an input cannot run for long, the worksheet's pack calls take and give at most
// kMostElements elements a value (larger ones are answered with "size too large"), the
// host's allocator has no block larger than kMostBytes for the pack (as if out of memory),
// and worksheet functions are applied at most kMostApplications times an input (later
// applications give "interrupted"). The first kMostStatements lines are read.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "host/structured_exceptions.h"
#include "linalg/inverse.h"
#include "pack/errors.h"
#include "pack/exports.h"
#include "sheet/missing_slots.h"
#include "sheet/worksheet.h"
#include "tests/fuzz/hooked_table.h"
#include "tests/support/call_checks.h"

namespace {

constexpr char kBudgetName[] = "worksheet fuzz target";
constexpr size_t kMostElements = 256;
constexpr uint32_t kMostBytes = 64 * 1024;
constexpr long kMostApplications = 10000;
constexpr int kMostStatements = 48;

// The host's evaluator, which stops applying worksheet functions once the budget is spent.
struct BudgetEvaluator {
  IwsEvaluator iface;
  IwsEvaluator* host;
  long applications = 0;

  static BudgetEvaluator& of(IwsEvaluator* self) {
    return *reinterpret_cast<BudgetEvaluator*>(self);
  }
  static IwsEvaluator* inner(IwsEvaluator* self) { return of(self).host; }
};

UfnCallContext* budgetContext = nullptr;

// The host's allocator, with no block larger than kMostBytes to give.
struct BudgetAllocator {
  IwsAllocator iface;
  IwsAllocator* host;

  static IwsAllocator* inner(IwsAllocator* self) {
    return reinterpret_cast<BudgetAllocator*>(self)->host;
  }
};

void WS_STDCALL budgetScalar(IwsAllocator* self, Anyval** out) {
  BudgetAllocator::inner(self)->table->newScalar(BudgetAllocator::inner(self), out);
}
HRESULT WS_STDCALL budgetDoubles(IwsAllocator* self, double** out, uint32_t count) {
  *out = nullptr;
  if (count > kMostBytes / sizeof(double)) return kHrOk;
  return BudgetAllocator::inner(self)->table->allocDoubles(BudgetAllocator::inner(self), out,
                                                           count);
}
HRESULT WS_STDCALL budgetRecord(IwsAllocator* self, void** out, uint32_t bytes) {
  *out = nullptr;
  if (bytes > kMostBytes) return kHrOk;
  return BudgetAllocator::inner(self)->table->allocRecord(BudgetAllocator::inner(self), out, bytes);
}
HRESULT WS_STDCALL budgetData(IwsAllocator* self, void** out, uint32_t bytes) {
  *out = nullptr;
  if (bytes > kMostBytes) return kHrOk;
  return BudgetAllocator::inner(self)->table->allocData(BudgetAllocator::inner(self), out, bytes);
}
void WS_STDCALL budgetFree(IwsAllocator* self, double* array) {
  BudgetAllocator::inner(self)->table->freeDoubles(BudgetAllocator::inner(self), array);
}

constexpr IwsAllocatorTable makeBudgetAllocatorTable() {
  IwsAllocatorTable table = sheet::allocatorTableOfMissingSlots<kBudgetName>();
  table.newScalar = &budgetScalar;
  table.allocDoubles = &budgetDoubles;
  table.allocRecord = &budgetRecord;
  table.allocData = &budgetData;
  table.freeDoubles = &budgetFree;
  return table;
}

void WS_STDCALL budgetApply(IwsEvaluator* self, Anyval* f, const sCons* args, Anyval** out) {
  if (++BudgetEvaluator::of(self).applications > kMostApplications) {
    *out = asValue(aError::mk(budgetContext->allocator, msg::kInterrupted, 0, 0, nullptr, nullptr));
    return;
  }
  BudgetEvaluator::inner(self)->table->apply(BudgetEvaluator::inner(self), f, args, out);
}
void WS_STDCALL budgetBegin(IwsEvaluator* self, Anyval** out) {
  BudgetEvaluator::inner(self)->table->beginApply(BudgetEvaluator::inner(self), out);
}
void WS_STDCALL budgetPrepare(IwsEvaluator* self, Anyval** out) {
  BudgetEvaluator::inner(self)->table->prepareApply(BudgetEvaluator::inner(self), out);
}
void WS_STDCALL budgetEnd(IwsEvaluator* self) {
  BudgetEvaluator::inner(self)->table->endApply(BudgetEvaluator::inner(self));
}
int32_t WS_STDCALL budgetPoll(IwsEvaluator* self, int32_t one) {
  return BudgetEvaluator::inner(self)->table->pollInterrupt(BudgetEvaluator::inner(self), one);
}
void WS_STDCALL budgetRelease(IwsEvaluator* self, Anyval** value) {
  BudgetEvaluator::inner(self)->table->release(BudgetEvaluator::inner(self), value);
}

constexpr IwsEvaluatorTable makeBudgetTable() {
  IwsEvaluatorTable table = sheet::evaluatorTableOfMissingSlots<kBudgetName>();
  table.apply = &budgetApply;
  table.beginApply = &budgetBegin;
  table.prepareApply = &budgetPrepare;
  table.endApply = &budgetEnd;
  table.pollInterrupt = &budgetPoll;
  table.release = &budgetRelease;
  return table;
}
const IwsEvaluatorTable kBudgetTable = makeBudgetTable();
const IwsAllocatorTable kBudgetAllocatorTable = makeBudgetAllocatorTable();

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
    if (tooLarge(argument)) return errorValue(budgetContext, msg::kSizeTooLarge, 0);
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
  if (tooLarge(outcome.result)) return errorValue(budgetContext, msg::kSizeTooLarge, 0);
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
  BudgetEvaluator budget{{&kBudgetTable}, host.context.evaluator};
  BudgetAllocator memory{{&kBudgetAllocatorTable}, host.context.allocator};
  host.context.evaluator = &budget.iface;
  host.context.allocator = &memory.iface;
  currentHost = &host;
  budgetContext = &host.context;

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
  budgetContext = nullptr;
  return 0;
}
