#include "pack/ownership.h"

#include <limits>

Anyval* scalarValue(UfnCallContext* ctx, double re, double im) {
  Anyval* value = nullptr;
  ctx->allocator->table->newScalar(ctx->allocator, &value);
  aComplex* scalar = as<aComplex>(value);
  scalar->tag = kTagScalar;
  scalar->re = re;
  scalar->im = im;
  return value;
}

double* hostArray(UfnCallContext* ctx, size_t count) {
  if (count > std::numeric_limits<uint32_t>::max()) return nullptr;
  double* array = nullptr;
  const HRESULT result =
      ctx->allocator->table->allocDoubles(ctx->allocator, &array, static_cast<uint32_t>(count));
  if (result < 0) throw HostAllocFailure();
  return array;
}

void giveBackArray(UfnCallContext* ctx, double* array) {
  if (array) ctx->allocator->table->freeDoubles(ctx->allocator, array);
}

void* hostBlock(UfnCallContext* ctx, HostBlock kind, uint64_t bytes) {
  if (bytes > std::numeric_limits<uint32_t>::max()) return nullptr;
  IwsAllocator* allocator = ctx->allocator;
  auto slot =
      kind == HostBlock::kRecord ? allocator->table->allocRecord : allocator->table->allocData;
  void* block = nullptr;
  if (slot(allocator, &block, static_cast<uint32_t>(bytes)) < 0) throw HostAllocFailure();
  return block;
}

void releaseValue(UfnCallContext* ctx, Anyval* value) {
  if (value) ctx->evaluator->table->release(ctx->evaluator, &value);
}

Anyval* applyFunction(UfnCallContext* ctx, Anyval* f, int32_t i, int32_t j) {
  const aComplex row{kTagScalar, 0, static_cast<double>(i), 0.0};
  const aComplex col{kTagScalar, 0, static_cast<double>(j), 0.0};
  const sCons last{&col, nullptr};
  const sCons args{&row, &last};
  IwsEvaluator* evaluator = ctx->evaluator;
  Anyval* result = nullptr;
  evaluator->table->beginApply(evaluator, &result);
  evaluator->table->prepareApply(evaluator, &result);
  evaluator->table->apply(evaluator, f, &args, &result);
  evaluator->table->endApply(evaluator);
  return result;
}

namespace {

heap::Array<double> heapPart(size_t count, Fill fill) {
  if (fill == Fill::kAbsent) return {};
  return heap::Array<double>(count, fill == Fill::kZeros);
}

}  // namespace

aMatrix* newHeapMatrix(UfnCallContext* ctx, int32_t rows, int32_t cols, Fill re, Fill im) {
  const size_t count = size_t(rows) * size_t(cols);
  heap::Array<double> reArray = heapPart(count, re), imArray = heapPart(count, im);
  if ((re != Fill::kAbsent && !reArray) || (im != Fill::kAbsent && !imArray)) return nullptr;
  return newMatrix(ctx, rows, cols, reArray, imArray);
}

static_assert(sizeof(aMatrix) % alignof(double) == 0, "part arrays follow the header");

uint64_t matrixBytes(uint64_t count, int parts) {
  return sizeof(aMatrix) + uint64_t(parts) * count * sizeof(double);
}

aMatrix* layOutMatrix(void* block, uint32_t rows, uint32_t cols, int parts, uint32_t flags) {
  aMatrix* m = static_cast<aMatrix*>(block);
  double* data = reinterpret_cast<double*>(m + 1);
  const size_t count = size_t{rows} * cols;
  *m = aMatrix{kTagMatrix,
               static_cast<int32_t>(rows),
               static_cast<uint32_t>(count * sizeof(double)),
               0,
               data,
               parts > 1 ? data + count : nullptr,
               static_cast<int32_t>(rows),
               static_cast<int32_t>(cols),
               1,
               flags};
  return m;
}

aMatrix* newDataMatrix(UfnCallContext* ctx, uint32_t rows, uint32_t cols, int parts) {
  void* block = hostBlock(ctx, HostBlock::kData, matrixBytes(uint64_t{rows} * cols, parts));
  return block ? layOutMatrix(block, rows, cols, parts, 0) : nullptr;
}

aMatrix* newHostMatrix(UfnCallContext* ctx, int32_t rows, int32_t cols, int parts) {
  const size_t count = size_t(rows) * size_t(cols);
  // A small result takes one allocation instead of up to three, which a small call feels.
  // A large one keeps its arrays where the host aligns them (behind a 40-byte header they
  // would not be 16-byte aligned), and without elements an array behind the header would
  // point past the block's end.
  constexpr size_t kOneBlockElements = 64 * 64;
  if (count > 0 && count <= kOneBlockElements) {
    return newDataMatrix(ctx, uint32_t(rows), uint32_t(cols), parts);
  }
  HostArray re(ctx, count), im;
  if (!re) return nullptr;
  if (parts > 1) {
    im = HostArray(ctx, count);
    if (!im) return nullptr;
  }
  return newMatrix(ctx, rows, cols, re, im);
}
