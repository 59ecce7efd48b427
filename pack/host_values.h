// The pack's side of the host contract: error values, scalar results, host arrays, and
// temporaries handed back through the evaluator.
#pragma once

#include <cstddef>

#include "host/ufnutils.h"

// An error naming the argument at 1-based `position` (0: none); the first integer is 0.
Anyval* errorValue(UfnCallContext* ctx, const char* message, int position);
// An error with both integers of the position pair given.
Anyval* errorValue(UfnCallContext* ctx, const char* message, int first, int position);
// The host's prebuilt out-of-memory value, returned as is.
Anyval* outOfMemoryValue();

// A fresh scalar from the host (allocator slot 8).
Anyval* scalarValue(UfnCallContext* ctx, double re, double im = 0.0);

// `count` doubles from the host for a result (slot 60): null when the host has none,
// HostAllocFailure when it reports failure.
double* hostArray(UfnCallContext* ctx, size_t count);
// Gives back an unused array from hostArray (slot 63); null is ignored.
void giveBackArray(UfnCallContext* ctx, double* array);

// Releases a temporary host value (evaluator slot 11); null is ignored.
void releaseValue(UfnCallContext* ctx, Anyval* value);

// A host matrix the pack holds only during the call, such as a working copy: released
// through the evaluator when it goes out of scope, unless handed over as the result.
class TempMatrix {
 public:
  explicit TempMatrix(UfnCallContext* ctx, aMatrix* m = nullptr) : ctx_(ctx), m_(m) {}
  TempMatrix(const TempMatrix&) = delete;
  TempMatrix& operator=(const TempMatrix&) = delete;
  ~TempMatrix() { releaseValue(ctx_, asValue(m_)); }

  // The slot a ufnutils call writes the new matrix into.
  aMatrix** out() { return &m_; }
  aMatrix* get() const { return m_; }
  aMatrix* operator->() const { return m_; }
  explicit operator bool() const { return m_ != nullptr; }
  // Gives up ownership; the matrix becomes (part of) the result.
  aMatrix* handOver() {
    aMatrix* m = m_;
    m_ = nullptr;
    return m;
  }

 private:
  UfnCallContext* ctx_;
  aMatrix* m_;
};
