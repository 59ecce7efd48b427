// What the array functions share: the argument list of a counted entry, part arrays taken
// from the host for a result, and the result matrix over part arrays.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "pack/heap.h"
#include "pack/host_values.h"

// The argument pointers of a counted entry, copied from its variable argument list into a
// scratch array; empty when the heap has no room.
heap::Array<Anyval*> argumentArray(int count, std::va_list list);

// A part array from the host (allocator slot 60) for a result under construction: given
// back (slot 63) when it goes out of scope, unless it became part of the result.
class HostArray {
 public:
  HostArray() = default;
  HostArray(UfnCallContext* ctx, double* data) : ctx_(ctx), data_(data) {}
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

// Size in bytes of one part array of a rows x cols result.
inline uint32_t partBytes(int32_t rows, int32_t cols) {
  return static_cast<uint32_t>(sizeof(double) * static_cast<size_t>(rows) *
                               static_cast<size_t>(cols));
}

// The rows x cols result matrix (leading dimension = rows) over the two part arrays, either
// of which may be empty; they belong to the result from then on. `flags` are set in its flag
// word. When the host has no header to give, the arrays stay with their holders and the
// result is the host's out-of-memory value. Array is heap::Array<double> or HostArray.
template <class Array>
Anyval* resultMatrix(UfnCallContext* ctx, int32_t rows, int32_t cols, Array& re, Array& im,
                     uint32_t flags = 0) {
  aMatrix* m = aMatrix::mk(ctx->allocator, rows, cols, re.get(), im.get(), partBytes(rows, cols));
  if (!m) return outOfMemoryValue();
  re.handOver();
  im.handOver();
  m->flags |= flags;
  return asValue(m);
}
