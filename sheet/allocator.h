// The stand-in host's allocator: hands out every block the pack and ufnutils ask for
// (slots 8, 60, 61, 62, 63), keeps track of each, and reclaims them the way a worksheet
// host does: a value is released explicitly (evaluator slot 11, or by its owner), and
// whatever no root reaches any more is collected.
//
// Part arrays that the pack allocated on its own heap and handed to a host value are
// adopted when the host first meets them, and freed with ::operator delete.
//
// For tests it fails an allocation on request and reports what is still outstanding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/records.h"

namespace sheet {

// Where a block came from.
enum class Origin : int {
  kHost = 0,       // built by the host itself
  kScalar = 8,     // allocator slot 8
  kDoubles = 60,   // allocator slot 60
  kRecord = 61,    // allocator slot 61
  kData = 62,      // allocator slot 62
  kPackHeap = -1,  // the pack's own heap, adopted through a value
};

struct BlockInfo {
  uintptr_t address;
  size_t bytes;
  Origin origin;
};

class Allocator {
 public:
  Allocator();
  ~Allocator();
  Allocator(const Allocator&) = delete;
  Allocator& operator=(const Allocator&) = delete;

  // The interface handed to the pack in the call context.
  IwsAllocator* com() { return &com_.iface; }

  // Values the host builds itself. Matrices get zeroed part arrays where asked for, and a
  // leading dimension of `ld` (rows when 0).
  aComplex* scalar(double re, double im = 0.0);
  aString* string(std::string_view text);
  aMatrix* matrix(int rows, int cols, bool withRe, bool withIm, int ld = 0);
  // A block for a host record of the given size (function values and the like).
  void* hostRecord(size_t bytes);

  // Frees the value's own blocks (record, message, part arrays), not what its embedded
  // elements refer to. Values the host did not hand out (static ones) are left alone.
  void release(Anyval* value);
  // Blocks handed out from `since` on (see historyPoint()) that no root reaches, without freeing
  // them.
  std::vector<BlockInfo> unreachable(std::span<Anyval* const> roots, uint64_t since = 0);
  // A point in the allocation history, for unreachable().
  uint64_t historyPoint() const { return serial_; }
  // Takes in the part arrays from the pack's heap that `value` and the values it embeds
  // hold, so they are freed with their value even when no root reaches it.
  void adopt(Anyval* value);
  // Frees the blocks handed out from `since` on that no root reaches; returns how many.
  size_t collect(std::span<Anyval* const> roots, uint64_t since = 0);
  // Blocks handed out and not yet freed.
  size_t outstanding() const { return blocks_.size(); }
  std::vector<BlockInfo> outstandingBlocks() const;
  // True when `p` lies inside a block this allocator handed out.
  bool owns(const void* p) const;

  // Fault injection: the nth request to slots 60, 61 or 62 from now fails (1 = the next),
  // with a negative HRESULT or with success and a null block. 0 turns it off and keeps
  // failureHappened() as it was.
  enum class Failure { kNegativeResult, kNullBlock };
  void failNth(long n, Failure how);
  long requestsSinceArmed() const { return requests_; }
  bool failureHappened() const { return failed_; }

  // What the interface slots do.
  Anyval* slotNewScalar();
  HRESULT slotAllocate(Origin origin, void** out, size_t bytes);
  void slotFreeDoubles(double* array);

 public:
  // The interface object; the slots find the allocator through `owner`.
  struct Com {
    IwsAllocator iface;
    Allocator* owner;
  };

 private:
  struct Block {
    size_t bytes;
    Origin origin;
    bool marked;
    uint64_t serial;
  };
  void* take(size_t bytes, Origin origin);
  void drop(uintptr_t address);
  std::map<uintptr_t, Block>::iterator containing(const void* p);
  void releaseArray(const double* array);
  void mark(const Anyval* value);
  void markArray(const aMatrix* m, double* array);
  void markFrom(std::span<Anyval* const> roots);

  Com com_;
  std::map<uintptr_t, Block> blocks_;
  long failAt_ = 0;
  Failure failHow_ = Failure::kNegativeResult;
  long requests_ = 0;
  bool failed_ = false;
  uint64_t serial_ = 0;
};

std::string describe(const std::vector<BlockInfo>& blocks);

}  // namespace sheet
