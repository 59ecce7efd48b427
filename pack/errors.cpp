#include "pack/errors.h"

Anyval* errorValue(UfnCallContext* ctx, const char* message, int position) {
  return errorValue(ctx, message, 0, position);
}

Anyval* errorValue(UfnCallContext* ctx, const char* message, int first, int position) {
  return asValue(aError::mk(ctx->allocator, message, first, position, nullptr, nullptr));
}

Anyval* outOfMemoryValue() {
  return asValue(sError_OutOfMemory);
}
