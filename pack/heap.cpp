#include "pack/heap.h"

#include <new>

namespace heap {

namespace {
long failAt = 0;
long attempts = 0;
}  // namespace

void* allocate(size_t bytes) noexcept {
  ++attempts;
  if (failAt != 0 && attempts == failAt) return nullptr;
  return ::operator new(bytes, std::nothrow);
}

void release(void* block) noexcept {
  ::operator delete(block);
}

void failNth(long n) noexcept {
  failAt = n;
  attempts = 0;
}

long allocationsSinceArmed() noexcept {
  return attempts;
}

}  // namespace heap
