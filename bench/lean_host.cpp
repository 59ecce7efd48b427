#include "bench/lean_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "host/ufnutils.h"
#include "sheet/missing_slots.h"

namespace bench {

namespace {

void* take(size_t bytes) {
  return ::operator new(bytes == 0 ? 1 : bytes);
}

void WS_STDCALL newScalar(IwsAllocator*, Anyval** out) {
  *out = static_cast<Anyval*>(take(sizeof(aComplex)));
}

HRESULT WS_STDCALL allocDoubles(IwsAllocator*, double** out, uint32_t count) {
  *out = static_cast<double*>(take(sizeof(double) * size_t{count}));
  return kHrOk;
}

HRESULT WS_STDCALL allocBlock(IwsAllocator*, void** out, uint32_t bytes) {
  *out = take(bytes);
  return kHrOk;
}

void WS_STDCALL freeDoubles(IwsAllocator*, double* array) {
  ::operator delete(array);
}

// Nobody asks to stop a timed call.
int32_t WS_STDCALL pollSlot(IwsEvaluator*, int32_t) {
  return 0;
}

void WS_STDCALL releaseSlot(IwsEvaluator*, Anyval** value) {
  LeanHost::release(*value);
  *value = nullptr;
}

constexpr char kHostName[] = "bench";

constexpr IwsAllocatorTable makeAllocatorTable() {
  IwsAllocatorTable table = sheet::allocatorTableOfMissingSlots<kHostName>();
  table.newScalar = &newScalar;
  table.allocDoubles = &allocDoubles;
  table.allocRecord = &allocBlock;
  table.allocData = &allocBlock;
  table.freeDoubles = &freeDoubles;
  return table;
}

constexpr IwsEvaluatorTable makeEvaluatorTable() {
  // The functions timed here use the evaluator to ask whether to stop and to release
  // their temporaries.
  IwsEvaluatorTable table = sheet::evaluatorTableOfMissingSlots<kHostName>();
  table.pollInterrupt = &pollSlot;
  table.release = &releaseSlot;
  return table;
}

const IwsAllocatorTable kAllocatorTable = makeAllocatorTable();
const IwsEvaluatorTable kEvaluatorTable = makeEvaluatorTable();

// A part array that is a block of its own, not one of the arrays behind a header that came
// with it from slot 62 (the real one first, then the imaginary one).
void releasePart(const aMatrix* m, double* part) {
  const double* inside = reinterpret_cast<const double*>(m + 1);
  const size_t count = size_t(m->rows) * size_t(m->cols);
  if (part && part != inside && part != inside + count) ::operator delete(part);
}

}  // namespace

LeanHost::LeanHost()
    : allocator_{&kAllocatorTable},
      evaluator_{&kEvaluatorTable},
      context_{&allocator_, &evaluator_} {}

aMatrix* LeanHost::matrix(int rows, int cols, const double* re, const double* im) {
  const size_t count = size_t(rows) * size_t(cols);
  auto part = [&](const double* source) -> double* {
    if (!source) return nullptr;
    auto* array = static_cast<double*>(take(count * sizeof(double)));
    std::memcpy(array, source, count * sizeof(double));
    return array;
  };
  return aMatrix::mk(&allocator_, rows, cols, part(re), part(im),
                     static_cast<uint32_t>(count * sizeof(double)));
}

void LeanHost::release(Anyval* value) {
  if (!value || value == asValue(sError_OutOfMemory)) return;
  if (value->tag == kTagMatrix) {
    aMatrix* m = as<aMatrix>(value);
    releasePart(m, m->re);
    if (m->im != m->re) releasePart(m, m->im);
  } else if (value->tag == kTagError) {
    ::operator delete(as<aError>(value)->message);
  }
  ::operator delete(value);
}

}  // namespace bench
