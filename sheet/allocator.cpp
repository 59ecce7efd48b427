#include "sheet/allocator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "host/embedded.h"
#include "host/part_view.h"
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

}  // namespace

Allocator::Allocator() : com_{{&kTable}, this} {}

Allocator::~Allocator() {
  while (!blocks_.empty()) drop(blocks_.begin()->first);
}

void* Allocator::take(size_t bytes, Origin origin) {
  void* p = ::operator new(bytes == 0 ? 1 : bytes);
  blocks_[reinterpret_cast<uintptr_t>(p)] = Block{bytes, origin, false, serial_++};
  return p;
}

void Allocator::drop(uintptr_t address) {
  blocks_.erase(address);
  ::operator delete(reinterpret_cast<void*>(address));
}

Anyval* Allocator::slotNewScalar() {
  return static_cast<Anyval*>(take(sizeof(aComplex), Origin::kScalar));
}

HRESULT Allocator::slotAllocate(Origin origin, void** out, size_t bytes) {
  *out = nullptr;
  ++requests_;
  if (failAt_ != 0 && requests_ == failAt_) {
    failed_ = true;
    return failHow_ == Failure::kNegativeResult ? kOutOfMemoryResult : kHrOk;
  }
  *out = take(bytes, origin);
  return kHrOk;
}

void Allocator::slotFreeDoubles(double* array) {
  auto it = blocks_.find(reinterpret_cast<uintptr_t>(array));
  if (it == blocks_.end() || it->second.origin != Origin::kDoubles) {
    std::fprintf(stderr, "matsheet: slot 63 was given an array that slot 60 did not hand out\n");
    std::abort();
  }
  drop(it->first);
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

std::map<uintptr_t, Allocator::Block>::iterator Allocator::containing(const void* p) {
  const auto address = reinterpret_cast<uintptr_t>(p);
  auto it = blocks_.upper_bound(address);
  if (it == blocks_.begin()) return blocks_.end();
  --it;
  const bool inside =
      address < it->first + it->second.bytes || (it->second.bytes == 0 && address == it->first);
  return inside ? it : blocks_.end();
}

bool Allocator::owns(const void* p) const {
  return const_cast<Allocator*>(this)->containing(p) != blocks_.end();
}

void Allocator::releaseArray(const double* array) {
  if (!array) return;
  auto it = containing(array);
  if (it == blocks_.end()) {
    ::operator delete(const_cast<double*>(array));  // from the pack's heap, never adopted
  } else if (it->first == reinterpret_cast<uintptr_t>(array)) {
    drop(it->first);
  }
  // Otherwise the array lies inside the value's own block and goes with it.
}

void Allocator::release(Anyval* value) {
  if (!value || !blocks_.count(reinterpret_cast<uintptr_t>(value))) return;
  switch (value->tag) {
    case kTagMatrix: {
      auto* m = as<aMatrix>(value);
      double* re = m->re;
      double* im = m->im;
      if (im == re) im = nullptr;
      releaseArray(re);
      releaseArray(im);
      break;
    }
    case kTagError: {
      aString* message = as<aError>(value)->message;
      if (message && blocks_.count(reinterpret_cast<uintptr_t>(message)) &&
          reinterpret_cast<void*>(message) != value) {
        drop(reinterpret_cast<uintptr_t>(message));
      }
      break;
    }
    default:
      break;
  }
  drop(reinterpret_cast<uintptr_t>(value));
}

void Allocator::markArray(const aMatrix* m, double* array) {
  if (!array) return;
  auto it = containing(array);
  if (it == blocks_.end()) {
    // A part array from the pack's heap that now belongs to this value.
    const size_t bytes = size_t(m->ld) * size_t(m->cols) * sizeof(double);
    it = blocks_
             .emplace(reinterpret_cast<uintptr_t>(array),
                      Block{bytes, Origin::kPackHeap, false, serial_++})
             .first;
  }
  it->second.marked = true;
}

void Allocator::mark(const Anyval* value) {
  if (!value) return;
  auto it = containing(value);
  if (it == blocks_.end()) return;  // a static value
  if (it->second.marked && it->first == reinterpret_cast<uintptr_t>(value)) return;
  it->second.marked = true;
  switch (value->tag) {
    case kTagError:
      mark(asValue(as<aError>(value)->message));
      break;
    case kTagString: {
      auto text = containing(as<aString>(value)->text);
      if (text != blocks_.end()) text->second.marked = true;
      break;
    }
    case kTagMatrix: {
      const aMatrix* m = as<aMatrix>(value);
      markArray(m, m->re);
      markArray(m, m->im);
      if (!m->re) break;
      const PartView re = realPart(m);
      for (int j = 0; j < m->cols; ++j) {
        for (int i = 0; i < m->rows; ++i) {
          if (embedded::is(re(i, j))) mark(embedded::target(re(i, j)));
        }
      }
      break;
    }
    default:
      break;
  }
}

void Allocator::markFrom(std::span<Anyval* const> roots) {
  for (auto& [address, block] : blocks_) block.marked = false;
  for (Anyval* root : roots) mark(root);
}

std::vector<BlockInfo> Allocator::unreachable(std::span<Anyval* const> roots, uint64_t since) {
  markFrom(roots);
  std::vector<BlockInfo> result;
  for (const auto& [address, block] : blocks_) {
    if (!block.marked && block.serial >= since)
      result.push_back({address, block.bytes, block.origin});
  }
  return result;
}

void Allocator::adopt(Anyval* value) {
  markFrom(std::span(&value, 1));
}

size_t Allocator::collect(std::span<Anyval* const> roots, uint64_t since) {
  const std::vector<BlockInfo> garbage = unreachable(roots, since);
  for (const BlockInfo& block : garbage) drop(block.address);
  return garbage.size();
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
