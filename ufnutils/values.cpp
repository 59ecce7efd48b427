// Value construction: matrix headers, host arrays, strings and error values.
#include <cstring>

#include "ufnutils/host_memory.h"

namespace ufnutils {

namespace {
void* checked(HRESULT result, void* block) {
  if (result < 0) throw HostAllocFailure();
  return block;
}
}  // namespace

double* hostDoubles(IwsAllocator* allocator, uint32_t count) {
  double* array = nullptr;
  HRESULT result = allocator->table->allocDoubles(allocator, &array, count);
  return static_cast<double*>(checked(result, array));
}

void* hostRecord(IwsAllocator* allocator, uint32_t bytes) {
  void* block = nullptr;
  HRESULT result = allocator->table->allocRecord(allocator, &block, bytes);
  return checked(result, block);
}

void* hostData(IwsAllocator* allocator, uint32_t bytes) {
  void* block = nullptr;
  HRESULT result = allocator->table->allocData(allocator, &block, bytes);
  return checked(result, block);
}

void giveBackDoubles(IwsAllocator* allocator, double* array) {
  if (array) allocator->table->freeDoubles(allocator, array);
}

aString* hostString(IwsAllocator* allocator, const char* text) {
  const size_t length = std::strlen(text);
  void* block = hostData(allocator, static_cast<uint32_t>(sizeof(aString) + length + 1));
  if (!block) return nullptr;
  char* copy = static_cast<char*>(block) + sizeof(aString);
  std::memcpy(copy, text, length + 1);
  aString* string = static_cast<aString*>(block);
  *string = aString{kTagString, copy, static_cast<uint32_t>(length)};
  return string;
}

}  // namespace ufnutils

using namespace ufnutils;

aMatrix* aMatrix::mk(IwsAllocator* allocator, int rows, int cols, double* re, double* im,
                     uint32_t bytes) {
  void* block = hostRecord(allocator, sizeof(aMatrix));
  if (!block) return nullptr;
  aMatrix* m = static_cast<aMatrix*>(block);
  *m = aMatrix{kTagMatrix, rows, bytes, 0, re, im, rows, cols, 1, 0};
  return m;
}

double* aMatrix::mkDbl(IwsAllocator* allocator, uint32_t count) {
  return hostDoubles(allocator, count);
}

aError* aError::mk(IwsAllocator* allocator, const char* message, int first, int position,
                   Anyval* /*offending*/, const char* /*detail*/) {
  aString* text = hostString(allocator, message);
  if (!text) return sError_OutOfMemory;
  void* block = hostRecord(allocator, sizeof(aError));
  if (!block) return sError_OutOfMemory;
  aError* error = static_cast<aError*>(block);
  *error =
      aError{kTagError, static_cast<uint32_t>(first), static_cast<uint32_t>(position), text, 0, 0};
  return error;
}

aError* aError::mk(IwsAllocator* allocator, aString* message, int first, int position,
                   Anyval* offending) {
  return mk(allocator, message->text, first, position, offending, nullptr);
}

Anyval* mkError(UfnCallContext* ctx, const char* message, int first, int position) {
  return asValue(aError::mk(ctx->allocator, message, first, position, nullptr, nullptr));
}

aError* patch_error(UfnCallContext* ctx, const char* message, Anyval* offending, int position) {
  return aError::mk(ctx->allocator, message, 0, position, offending, nullptr);
}
