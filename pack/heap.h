// The pack's own heap: every scratch array of every worker comes from here. A failed
// allocation gives null (never throws), so each caller decides between the message
// "out of memory" and the host's out-of-memory value. Arrays handed over to a host value
// belong to that value; the host frees them with ::operator delete.
#pragma once

#include <cstddef>
#include <cstring>
#include <limits>

namespace heap {

// `bytes` bytes, or null.
void* allocate(size_t bytes) noexcept;
void release(void* block) noexcept;

// An uninitialised array of `count` elements, or null (also when the size overflows).
template <class T>
T* allocateArray(size_t count) noexcept {
  if (count > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
  return static_cast<T*>(allocate(count * sizeof(T)));
}

// A zero-filled array of `count` elements, or null.
template <class T>
T* zeroedArray(size_t count) noexcept {
  T* array = allocateArray<T>(count);
  if (array) std::memset(static_cast<void*>(array), 0, count * sizeof(T));
  return array;
}

// A scratch array that is freed when it goes out of scope unless handed over.
template <class T>
class Array {
 public:
  Array() = default;
  explicit Array(size_t count) : data_(allocateArray<T>(count)) {}
  Array(size_t count, bool zeroed)
      : data_(zeroed ? zeroedArray<T>(count) : allocateArray<T>(count)) {}
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;
  Array(Array&& other) noexcept : data_(other.handOver()) {}
  Array& operator=(Array&& other) noexcept {
    if (this != &other) {
      release(data_);
      data_ = other.handOver();
    }
    return *this;
  }
  ~Array() { release(data_); }

  T* get() const { return data_; }
  T& operator[](size_t i) const { return data_[i]; }
  explicit operator bool() const { return data_ != nullptr; }
  // Gives up ownership, typically to a host value.
  T* handOver() {
    T* data = data_;
    data_ = nullptr;
    return data;
  }

 private:
  T* data_ = nullptr;
};

// Scratch of `count` elements: in the object itself when at most kInline of them, so that
// small calls take none from the heap; from the heap otherwise (then possibly empty).
template <class T, size_t kInline>
class Scratch {
 public:
  explicit Scratch(size_t count) : onHeap_(count > kInline) {
    if (onHeap_) heap_ = Array<T>(count);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  T* get() { return onHeap_ ? heap_.get() : inline_; }
  T& operator[](size_t i) { return get()[i]; }
  explicit operator bool() const { return !onHeap_ || static_cast<bool>(heap_); }

 private:
  bool onHeap_;
  T inline_[kInline];
  Array<T> heap_;
};

// Test seam: make the nth allocation from now fail (1 = the next one); 0 turns it off.
void failNth(long n) noexcept;
// Allocations attempted since the last failNth call.
long allocationsSinceArmed() noexcept;
// Test seam: blocks allocated and not given back through release(). A block handed over to
// a host value stays counted, since its new owner frees it with ::operator delete; a call
// is balanced when the count grows by exactly the blocks it handed over.
long liveBlocks() noexcept;

}  // namespace heap
