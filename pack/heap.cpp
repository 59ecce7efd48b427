#include "pack/heap.h"

#include <new>

namespace heap {

namespace {
long failAt = 0;
long attempts = 0;
long live = 0;
}  // namespace

void* allocate(size_t bytes) noexcept {
  ++attempts;
  if (failAt != 0 && attempts == failAt) return nullptr;
  void* block = ::operator new(bytes, std::nothrow);
  if (block) ++live;
  return block;
}

void release(void* block) noexcept {
  if (block) --live;
  ::operator delete(block);
}

void failNth(long n) noexcept {
  failAt = n;
  attempts = 0;
}

long allocationsSinceArmed() noexcept {
  return attempts;
}

long liveBlocks() noexcept {
  return live;
}

}  // namespace heap
