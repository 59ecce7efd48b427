#include "pack/host_values.h"

Anyval* errorValue(UfnCallContext* ctx, const char* message, int position) {
  return errorValue(ctx, message, 0, position);
}

Anyval* errorValue(UfnCallContext* ctx, const char* message, int first, int position) {
  return asValue(aError::mk(ctx->allocator, message, first, position, nullptr, nullptr));
}

Anyval* outOfMemoryValue() {
  return asValue(sError_OutOfMemory);
}

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
  double* array = nullptr;
  const HRESULT result =
      ctx->allocator->table->allocDoubles(ctx->allocator, &array, static_cast<uint32_t>(count));
  if (result < 0) throw HostAllocFailure();
  return array;
}

void giveBackArray(UfnCallContext* ctx, double* array) {
  if (array) ctx->allocator->table->freeDoubles(ctx->allocator, array);
}

void releaseValue(UfnCallContext* ctx, Anyval* value) {
  if (value) ctx->evaluator->table->release(ctx->evaluator, &value);
}
