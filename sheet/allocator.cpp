#include "sheet/allocator.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "sheet/missing_slots.h"

namespace sheet {

namespace {

// E_OUTOFMEMORY
constexpr HRESULT kOutOfMemoryResult = static_cast<HRESULT>(0x8007000Eu);

Allocator& owner(IwsAllocator* self) {
  return *reinterpret_cast<Allocator::Com*>(self)->owner;
}

void WS_STDCALL newScalar(IwsAllocator* self, Anyval** out) {
  *out = owner(self).slotNewScalar();
}

HRESULT WS_STDCALL allocDoubles(IwsAllocator* self, double** out, uint32_t count) {
  *out = nullptr;
  if (count > SIZE_MAX / sizeof(double)) return kOutOfMemoryResult;  // a 32-bit size overflows
  void* block = nullptr;
  HRESULT result =
      owner(self).slotAllocate(Origin::kDoubles, &block, sizeof(double) * size_t{count});
  *out = static_cast<double*>(block);
  return result;
}

HRESULT WS_STDCALL allocRecord(IwsAllocator* self, void** out, uint32_t bytes) {
  return owner(self).slotAllocate(Origin::kRecord, out, bytes);
}

HRESULT WS_STDCALL allocData(IwsAllocator* self, void** out, uint32_t bytes) {
  return owner(self).slotAllocate(Origin::kData, out, bytes);
}

void WS_STDCALL freeDoubles(IwsAllocator* self, double* array) {
  owner(self).slotFreeDoubles(array);
}

constexpr char kHostName[] = "matsheet";

constexpr IwsAllocatorTable makeTable() {
  IwsAllocatorTable table = allocatorTableOfMissingSlots<kHostName>();
  table.newScalar = &newScalar;
  table.allocDoubles = &allocDoubles;
  table.allocRecord = &allocRecord;
  table.allocData = &allocData;
  table.freeDoubles = &freeDoubles;
  return table;
}

const IwsAllocatorTable kTable = makeTable();

// Scalars slot 8 can still hand out when memory has run out.
constexpr size_t kReserve = 16;

}  // namespace

Allocator::Allocator() : com_{{&kTable}, this} {
  reserveScalars_.reserve(kReserve);
  reserveRecords_.reserve(kReserve);
  refillReserve();
}

Allocator::~Allocator() {
  while (newest_) drop(*newest_);
  for (void* block : reserveScalars_) ::operator delete(block);
}

Allocator::Block& Allocator::record(uintptr_t address, size_t bytes, Origin origin) {
  return enter(blocks_.try_emplace(address, Block{address, bytes, origin}).first->second);
}

Allocator::Block& Allocator::enter(Block& block) noexcept {
  block.serial = serial_++;
  block.older = newest_;
  if (newest_) newest_->newer = &block;
  newest_ = &block;
  return block;
}

void* Allocator::take(size_t bytes, Origin origin) {
  void* p = ::operator new(bytes == 0 ? 1 : bytes);
  try {
    record(reinterpret_cast<uintptr_t>(p), bytes, origin);
  } catch (...) {
    ::operator delete(p);
    throw;
  }
  return p;
}

void Allocator::drop(Block& block) noexcept {
  if (block.older) block.older->newer = block.newer;
  if (block.newer) {
    block.newer->older = block.older;
  } else {
    newest_ = block.older;
  }
  const uintptr_t address = block.address;
  blocks_.erase(address);
  ::operator delete(reinterpret_cast<void*>(address));
}

void Allocator::refillReserve() noexcept {
  try {
    while (reserveScalars_.size() < kReserve) {
      reserveScalars_.push_back(::operator new(sizeof(aComplex)));
    }
    while (reserveRecords_.size() < kReserve) {
      // A map node made and taken out again, to be filled in later without allocating.
      const uintptr_t key = ~uintptr_t{0} - reserveRecords_.size();
      reserveRecords_.push_back(blocks_.extract(blocks_.try_emplace(key).first));
    }
  } catch (const std::bad_alloc&) {
    // Refilled on a later statement.
  }
}

Anyval* Allocator::slotNewScalar() noexcept {
  try {
    return static_cast<Anyval*>(take(sizeof(aComplex), Origin::kScalar));
  } catch (const std::bad_alloc&) {
  }
  if (reserveScalars_.empty() || reserveRecords_.empty()) return nullptr;
  void* block = reserveScalars_.back();
  reserveScalars_.pop_back();
  Blocks::node_type node = std::move(reserveRecords_.back());
  reserveRecords_.pop_back();
  const auto address = reinterpret_cast<uintptr_t>(block);
  node.key() = address;
  node.mapped() = Block{address, sizeof(aComplex), Origin::kScalar};
  enter(blocks_.insert(std::move(node)).position->second);
  return static_cast<Anyval*>(block);
}

HRESULT Allocator::slotAllocate(Origin origin, void** out, size_t bytes) noexcept {
  *out = nullptr;
  ++requests_;
  if (failAt_ != 0 && requests_ == failAt_) {
    failed_ = true;
    return failHow_ == Failure::kNegativeResult ? kOutOfMemoryResult : kHrOk;
  }
  try {
    *out = take(bytes, origin);
  } catch (const std::bad_alloc&) {
    return kOutOfMemoryResult;
  }
  return kHrOk;
}

void Allocator::slotFreeDoubles(double* array) noexcept {
  Block* block = valueBlock(array);
  if (!block || block->origin != Origin::kDoubles) {
    std::fprintf(stderr, "matsheet: slot 63 was given an array that slot 60 did not hand out\n");
    std::abort();
  }
  drop(*block);
}

void Allocator::failNth(long n, Failure how) {
  failAt_ = n;
  failHow_ = how;
  requests_ = 0;
  if (n != 0) failed_ = false;  // disarming keeps the record of what happened
}

aComplex* Allocator::scalar(double re, double im) {
  auto* s = static_cast<aComplex*>(take(sizeof(aComplex), Origin::kHost));
  *s = aComplex{kTagScalar, 0, re, im};
  return s;
}

aString* Allocator::string(std::string_view text) {
  char* block = static_cast<char*>(take(sizeof(aString) + text.size() + 1, Origin::kHost));
  char* copy = block + sizeof(aString);
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  auto* s = reinterpret_cast<aString*>(block);
  *s = aString{kTagString, copy, static_cast<uint32_t>(text.size())};
  return s;
}

aMatrix* Allocator::matrix(int rows, int cols, bool withRe, bool withIm, int ld) {
  if (ld < rows) ld = rows;
  const size_t count = size_t(ld) * size_t(cols);
  auto part = [&](bool wanted) -> double* {
    if (!wanted) return nullptr;
    auto* array = static_cast<double*>(take(count * sizeof(double), Origin::kHost));
    std::fill(array, array + count, 0.0);
    return array;
  };
  auto* m = static_cast<aMatrix*>(take(sizeof(aMatrix), Origin::kHost));
  *m = aMatrix{kTagMatrix, ld,           static_cast<uint32_t>(count * sizeof(double)),
               0,          part(withRe), part(withIm),
               rows,       cols,         1,
               0};
  return m;
}

void* Allocator::hostRecord(size_t bytes) {
  return take(bytes, Origin::kHost);
}

Allocator::Block* Allocator::containing(const void* p) const {
  const auto address = reinterpret_cast<uintptr_t>(p);
  auto it = blocks_.upper_bound(address);
  if (it == blocks_.begin()) return nullptr;
  --it;
  const Block& block = it->second;
  const bool inside =
      address < block.address + block.bytes || (block.bytes == 0 && address == block.address);
  // The map is this allocator's own; a query only touches a walk's marks.
  return inside ? const_cast<Block*>(&block) : nullptr;
}

Allocator::Block* Allocator::valueBlock(const void* value) const {
  Block* block = containing(value);
  return block && block->address == reinterpret_cast<uintptr_t>(value) ? block : nullptr;
}

bool Allocator::owns(const void* p) const {
  return containing(p) != nullptr;
}

bool Allocator::held(const Anyval* value) const {
  const Block* block = valueBlock(value);
  return block && block->holds > 0;
}

void Allocator::releaseArray(const Block& owner, const double* array) noexcept {
  if (!array) return;
  Block* block = containing(array);
  if (!block) {
    ::operator delete(const_cast<double*>(array));  // from the pack's heap, never adopted
  } else if (block != &owner && block->address == reinterpret_cast<uintptr_t>(array) &&
             block->holds == 0) {
    drop(*block);
  }
  // Otherwise the array lies inside the value's own block and goes with it.
}

void Allocator::release(Anyval* value) noexcept {
  Block* block = valueBlock(value);
  if (!block || block->holds > 0) return;
  switch (value->tag) {
    case kTagMatrix: {
      auto* m = as<aMatrix>(value);
      releaseArray(*block, m->re);
      if (m->im != m->re) releaseArray(*block, m->im);
      break;
    }
    case kTagError: {
      Block* message = valueBlock(as<aError>(value)->message);
      if (message && message != block && message->holds == 0) drop(*message);
      break;
    }
    default:
      break;
  }
  drop(*block);
}

std::vector<BlockInfo> Allocator::outstandingBlocks() const {
  std::vector<BlockInfo> result;
  for (const auto& [address, block] : blocks_)
    result.push_back({address, block.bytes, block.origin});
  return result;
}

std::string describe(const std::vector<BlockInfo>& blocks) {
  std::string text;
  for (const BlockInfo& block : blocks) {
    char line[96];
    std::snprintf(line, sizeof line, "  %zu bytes from %s\n", block.bytes,
                  block.origin == Origin::kHost       ? "the host"
                  : block.origin == Origin::kPackHeap ? "the pack's heap"
                  : block.origin == Origin::kScalar   ? "slot 8"
                  : block.origin == Origin::kDoubles  ? "slot 60"
                  : block.origin == Origin::kRecord   ? "slot 61"
                                                      : "slot 62");
    text += line;
  }
  return text;
}

}  // namespace sheet
