#include "sheet/evaluator.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

#include "host/ufnutils.h"
#include "sheet/missing_slots.h"

namespace sheet {

namespace {

// A function value: its tag and the index of its callable.
struct FunctionRecord {
  uint32_t tag;
  uint32_t index;
};

Evaluator& owner(IwsEvaluator* self) {
  return *reinterpret_cast<Evaluator::Com*>(self)->owner;
}

void WS_STDCALL apply(IwsEvaluator* self, Anyval* function, const sCons* args, Anyval** out) {
  owner(self).slotNote(3);
  owner(self).slotApply(function, args, out);
}
void WS_STDCALL beginApply(IwsEvaluator* self, Anyval**) {
  owner(self).slotNote(4);
}
void WS_STDCALL prepareApply(IwsEvaluator* self, Anyval**) {
  owner(self).slotNote(5);
}
void WS_STDCALL endApply(IwsEvaluator* self) {
  owner(self).slotNote(7);
}
int32_t WS_STDCALL pollInterrupt(IwsEvaluator* self, int32_t) {
  owner(self).slotNote(10);
  return owner(self).slotPoll();
}
void WS_STDCALL release(IwsEvaluator* self, Anyval** value) {
  owner(self).slotNote(11);
  owner(self).slotRelease(value);
}

constexpr char kHostName[] = "matsheet";

constexpr IwsEvaluatorTable makeTable() {
  IwsEvaluatorTable table = evaluatorTableOfMissingSlots<kHostName>();
  table.apply = &apply;
  table.beginApply = &beginApply;
  table.prepareApply = &prepareApply;
  table.endApply = &endApply;
  table.pollInterrupt = &pollInterrupt;
  table.release = &release;
  return table;
}

const IwsEvaluatorTable kTable = makeTable();

}  // namespace

Evaluator::Evaluator(Allocator& allocator) : allocator_(allocator), com_{{&kTable}, this} {}

Anyval* Evaluator::functionValue(Function function, uint32_t tag) {
  auto* record = static_cast<FunctionRecord*>(allocator_.hostRecord(sizeof(FunctionRecord)));
  *record = FunctionRecord{tag, static_cast<uint32_t>(functions_.size())};
  functions_.push_back(std::move(function));
  return reinterpret_cast<Anyval*>(record);
}

// A function the evaluator cannot apply, or one that throws, gives an error value: the
// pack waits for a value and must not meet an exception.
void Evaluator::slotApply(Anyval* function, const sCons* args, Anyval** out) noexcept {
  *out = asValue(sError_OutOfMemory);
  try {
    std::vector<Anyval*> values;
    for (const sCons* cell = args; cell; cell = cell->cdr) {
      values.push_back(static_cast<Anyval*>(const_cast<void*>(cell->car)));
    }
    const auto* record = reinterpret_cast<const FunctionRecord*>(function);
    const bool known = (function->tag == kTagFunction || function->tag == kTagFunction2) &&
                       allocator_.owns(function) && record->index < functions_.size();
    *out = known ? functions_[record->index](values)
                 : asValue(aError::mk(allocator_.com(), "not a function", 0, 0, nullptr, nullptr));
  } catch (...) {
    // The out-of-memory value stands.
  }
}

void Evaluator::slotNote(int slot) noexcept {
  if (!recording_) return;
  try {
    calls_.push_back(slot);
  } catch (const std::bad_alloc&) {
    recording_ = false;
  }
}

void Evaluator::keepCallRecord(bool keep) {
  recording_ = keep;
  if (!keep) std::vector<int>().swap(calls_);
}

void Evaluator::interruptAfter(long polls) {
  interruptAt_ = polls;
  polls_ = 0;
}

int32_t Evaluator::slotPoll() noexcept {
  ++polls_;
  if (interruptRequested_) return 1;
  return interruptAt_ != 0 && polls_ >= interruptAt_ ? 1 : 0;
}

void Evaluator::slotRelease(Anyval** value) noexcept {
  allocator_.release(*value);
  *value = nullptr;
}

}  // namespace sheet
