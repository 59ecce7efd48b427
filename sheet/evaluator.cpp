#include "sheet/evaluator.h"

#include <cstdio>
#include <cstdlib>
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

void Evaluator::slotApply(Anyval* function, const sCons* args, Anyval** out) {
  std::vector<Anyval*> values;
  for (const sCons* cell = args; cell; cell = cell->cdr) {
    values.push_back(static_cast<Anyval*>(const_cast<void*>(cell->car)));
  }
  const auto* record = reinterpret_cast<const FunctionRecord*>(function);
  const bool known = (function->tag == kTagFunction || function->tag == kTagFunction2) &&
                     allocator_.owns(function) && record->index < functions_.size();
  if (!known) {
    *out = asValue(aError::mk(allocator_.com(), "not a function", 0, 0, nullptr, nullptr));
    return;
  }
  *out = functions_[record->index](values);
}

void Evaluator::interruptAfter(long polls) {
  interruptAt_ = polls;
  polls_ = 0;
}

int32_t Evaluator::slotPoll() {
  ++polls_;
  if (interruptRequested_) return 1;
  return interruptAt_ != 0 && polls_ >= interruptAt_ ? 1 : 0;
}

void Evaluator::slotRelease(Anyval** value) {
  allocator_.release(*value);
  *value = nullptr;
}

}  // namespace sheet
