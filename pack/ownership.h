// Who owns what during a call, and the only code in the pack that touches the host's
// allocator and evaluator slots.
//
// The rule:
//   scratch          the pack's heap (pack/heap.h), held by heap::Array and freed on every
//                    path; a heap array may instead be handed over to a result matrix,
//                    which then owns it
//   result arrays    allocator slot 60 (HostArray), given back through slot 63 when the
//                    result is not built after all
//   result records   matrix headers and error records through ufnutils (aMatrix::mk,
//                    aError::mk); the lookup functions' own records and strings through
//                    slot 61 (records that point at other values) and slot 62 (plain data),
//                    with hostBlock; a matrix of plain numbers may come whole, header and
//                    part arrays in one slot-62 block (newDataMatrix)
//   scalars          slot 8 (scalarValue)
//   host temporaries the copies ufnutils makes (matrix_copy, ...), held by TempMatrix and
//                    released through evaluator slot 11 unless handed over as the result
//
// Nothing outlives a call but its result. A negative HRESULT from slots 60 to 62 is thrown as
// HostAllocFailure (a std::bad_alloc that travels to the host); a null block with success
// comes back as null, and the caller answers with the host's out-of-memory value or a
// message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/ufnutils.h"
#include "pack/heap.h"

// A fresh scalar from the host (slot 8).
Anyval* scalarValue(UfnCallContext* ctx, double re, double im = 0.0);

// `count` doubles from the host for a result (slot 60): null when the host has none.
double* hostArray(UfnCallContext* ctx, size_t count);
// Gives back an unused array from hostArray (slot 63); null is ignored.
void giveBackArray(UfnCallContext* ctx, double* array);

// The two slots the lookup functions build their own values from.
enum class HostBlock { kRecord, kData };  // slot 61, slot 62
// `bytes` from the slot; null when the host has none or the size does not fit the slot's
// 32-bit byte count.
void* hostBlock(UfnCallContext* ctx, HostBlock kind, uint64_t bytes);

// Releases a temporary host value (evaluator slot 11); null is ignored.
void releaseValue(UfnCallContext* ctx, Anyval* value);

// f(i, j) through the host's evaluator (slots 4 and 5 with the still-null result word,
// slot 3 to apply, slot 7 after it), i and j as real scalars. The result is f's value.
Anyval* applyFunction(UfnCallContext* ctx, Anyval* f, int32_t i, int32_t j);

// A part array from the host (slot 60) for a result under construction: given back
// (slot 63) when it goes out of scope, unless it became part of the result.
class HostArray {
 public:
  HostArray() = default;
  // `count` doubles from the host; empty when the host has none.
  HostArray(UfnCallContext* ctx, size_t count) : ctx_(ctx), data_(hostArray(ctx, count)) {}
  HostArray(const HostArray&) = delete;
  HostArray& operator=(const HostArray&) = delete;
  HostArray(HostArray&& other) noexcept : ctx_(other.ctx_), data_(other.handOver()) {}
  HostArray& operator=(HostArray&& other) noexcept {
    if (this != &other) {
      giveBackArray(ctx_, data_);
      ctx_ = other.ctx_;
      data_ = other.handOver();
    }
    return *this;
  }
  ~HostArray() { giveBackArray(ctx_, data_); }

  double* get() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }
  double* handOver() {
    double* data = data_;
    data_ = nullptr;
    return data;
  }

 private:
  UfnCallContext* ctx_ = nullptr;
  double* data_ = nullptr;
};

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

// Size in bytes of one part array of a rows x cols matrix.
inline uint32_t partBytes(int32_t rows, int32_t cols) {
  return static_cast<uint32_t>(sizeof(double) * static_cast<size_t>(rows) *
                               static_cast<size_t>(cols));
}

// The one builder of result matrices: a rows x cols matrix (leading dimension = rows) over
// the two part arrays, either of which may be empty; they belong to the matrix from then
// on, and `flags` are set in its flag word. Null when the host has no header to give: the
// arrays then stay with their holders, which free them. Array is heap::Array<double> or
// HostArray.
template <class Array>
aMatrix* newMatrix(UfnCallContext* ctx, int32_t rows, int32_t cols, Array& re, Array& im,
                   uint32_t flags = 0) {
  aMatrix* m = aMatrix::mk(ctx->allocator, rows, cols, re.get(), im.get(), partBytes(rows, cols));
  if (!m) return nullptr;
  re.handOver();
  im.handOver();
  m->flags |= flags;
  return m;
}

// newMatrix as a function's result: the host's out-of-memory value when it cannot be built.
template <class Array>
Anyval* resultMatrix(UfnCallContext* ctx, int32_t rows, int32_t cols, Array& re, Array& im,
                     uint32_t flags = 0) {
  aMatrix* m = newMatrix(ctx, rows, cols, re, im, flags);
  return m ? asValue(m) : asValue(sError_OutOfMemory);
}

// How newHeapMatrix makes one part array.
enum class Fill { kAbsent, kUndefined, kZeros };
// A new rows x cols matrix over part arrays from the pack's heap; null when there is no
// memory.
aMatrix* newHeapMatrix(UfnCallContext* ctx, int32_t rows, int32_t cols, Fill re, Fill im);

// Size of a block holding a matrix header and `parts` part arrays of `count` doubles.
uint64_t matrixBytes(uint64_t count, int parts);
// Lays out a rows x cols header at the start of `block` with `parts` part arrays (the real
// one, then the imaginary one) right behind it.
aMatrix* layOutMatrix(void* block, uint32_t rows, uint32_t cols, int parts, uint32_t flags);
// A matrix of plain numbers whose header and `parts` part arrays share one host block
// (slot 62), contents undefined: one allocation where newMatrix takes one per array and one
// for the header. Null when the host has no memory or the block would exceed the slot's
// 32-bit byte count.
aMatrix* newDataMatrix(UfnCallContext* ctx, uint32_t rows, uint32_t cols, int parts);
// A new rows x cols matrix held by the host with `parts` part arrays (the real one, then the
// imaginary one), contents undefined: a small one in one block (newDataMatrix), a large or
// empty one as arrays from slot 60 under a header. Null when the host has no memory.
aMatrix* newHostMatrix(UfnCallContext* ctx, int32_t rows, int32_t cols, int parts = 1);
