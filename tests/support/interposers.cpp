#include "tests/support/interposers.h"

#include "sheet/missing_slots.h"

namespace testsupport {

namespace {

EvaluatorInterposer& owner(IwsEvaluator* self) {
  return *reinterpret_cast<EvaluatorInterposer::Com*>(self)->owner;
}
IwsEvaluator* hostOf(IwsEvaluator* self) {
  return owner(self).host();
}

void WS_STDCALL apply(IwsEvaluator* self, Anyval* f, const sCons* args, Anyval** out) {
  owner(self).apply(f, args, out);
}
void WS_STDCALL beginApply(IwsEvaluator* self, Anyval** out) {
  hostOf(self)->table->beginApply(hostOf(self), out);
}
void WS_STDCALL prepareApply(IwsEvaluator* self, Anyval** out) {
  hostOf(self)->table->prepareApply(hostOf(self), out);
}
void WS_STDCALL endApply(IwsEvaluator* self) {
  hostOf(self)->table->endApply(hostOf(self));
}
int32_t WS_STDCALL pollInterrupt(IwsEvaluator* self, int32_t one) {
  return owner(self).poll(one);
}
void WS_STDCALL release(IwsEvaluator* self, Anyval** value) {
  owner(self).release(value);
}

AllocatorInterposer& owner(IwsAllocator* self) {
  return *reinterpret_cast<AllocatorInterposer::Com*>(self)->owner;
}
IwsAllocator* hostOf(IwsAllocator* self) {
  return owner(self).host();
}

void WS_STDCALL newScalar(IwsAllocator* self, Anyval** out) {
  hostOf(self)->table->newScalar(hostOf(self), out);
}
HRESULT WS_STDCALL allocDoubles(IwsAllocator* self, double** out, uint32_t count) {
  void* block = nullptr;
  const HRESULT result = owner(self).allocate(60, &block, uint64_t{count} * sizeof(double));
  *out = static_cast<double*>(block);
  return result;
}
HRESULT WS_STDCALL allocRecord(IwsAllocator* self, void** out, uint32_t bytes) {
  return owner(self).allocate(61, out, bytes);
}
HRESULT WS_STDCALL allocData(IwsAllocator* self, void** out, uint32_t bytes) {
  return owner(self).allocate(62, out, bytes);
}
void WS_STDCALL freeDoubles(IwsAllocator* self, double* array) {
  hostOf(self)->table->freeDoubles(hostOf(self), array);
}

constexpr char kName[] = "interposer";

constexpr IwsEvaluatorTable makeEvaluatorTable() {
  IwsEvaluatorTable table = sheet::evaluatorTableOfMissingSlots<kName>();
  table.apply = &apply;
  table.beginApply = &beginApply;
  table.prepareApply = &prepareApply;
  table.endApply = &endApply;
  table.pollInterrupt = &pollInterrupt;
  table.release = &release;
  return table;
}

constexpr IwsAllocatorTable makeAllocatorTable() {
  IwsAllocatorTable table = sheet::allocatorTableOfMissingSlots<kName>();
  table.newScalar = &newScalar;
  table.allocDoubles = &allocDoubles;
  table.allocRecord = &allocRecord;
  table.allocData = &allocData;
  table.freeDoubles = &freeDoubles;
  return table;
}

}  // namespace

const IwsEvaluatorTable EvaluatorInterposer::kTable = makeEvaluatorTable();
const IwsAllocatorTable AllocatorInterposer::kTable = makeAllocatorTable();

void EvaluatorInterposer::apply(Anyval* f, const sCons* args, Anyval** out) {
  host_->table->apply(host_, f, args, out);
}

int32_t EvaluatorInterposer::poll(int32_t one) {
  return host_->table->pollInterrupt(host_, one);
}

void EvaluatorInterposer::release(Anyval** value) {
  host_->table->release(host_, value);
}

HRESULT AllocatorInterposer::allocate(int slot, void** out, uint64_t bytes) {
  IwsAllocator* host = host_;
  switch (slot) {
    case 60: {
      double* array = nullptr;
      const auto count = static_cast<uint32_t>(bytes / sizeof(double));
      const HRESULT result = host->table->allocDoubles(host, &array, count);
      *out = array;
      return result;
    }
    case 61:
      return host->table->allocRecord(host, out, static_cast<uint32_t>(bytes));
    default:
      return host->table->allocData(host, out, static_cast<uint32_t>(bytes));
  }
}

}  // namespace testsupport
