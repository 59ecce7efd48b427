// The stand-in host's allocator: hands out every block the pack and ufnutils ask for
// (slots 8, 60, 61, 62, 63), keeps track of each, and reclaims them the way a worksheet
// host does.
//
// A value the session keeps (a variable's value, a function value) is held: hold() counts
// one reference to it, and a held matrix counts one to each part array and embedded value
// it refers to, so letting go of a value frees exactly what nothing else holds. Everything
// else is a temporary of the statement that made it: release() frees one at once (slot
// 11), and collect() frees those that no given root reaches among the blocks handed out
// since a point in the allocation history. A value is complete before anything made later
// sees it and never changes after, so no block from before a statement (or a call back
// into the worksheet) refers to one made during it: collection walks and sweeps only the
// newer blocks, and its work is proportional to what the statement made, not to what the
// session keeps.
//
// Part arrays that the pack allocated on its own heap and handed to a host value are taken
// in by adopt(), and freed with ::operator delete.
//
// The slots never throw: a block the allocator cannot get is reported as out of memory.
// The walks over values allocate nothing (their work lists run through the blocks' own
// records), so no value is too deep for them, and holding, letting go and collecting
// cannot fail.
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
  // leading dimension of `ld` (rows when 0). These throw std::bad_alloc.
  aComplex* scalar(double re, double im = 0.0);
  aString* string(std::string_view text);
  aMatrix* matrix(int rows, int cols, bool withRe, bool withIm, int ld = 0);
  // A block for a host record of the given size (function values and the like).
  void* hostRecord(size_t bytes);

  // Frees a temporary value's own blocks (record, message, part arrays), not what its
  // embedded elements refer to. Held values, and values the host did not hand out (static
  // ones), are left alone.
  void release(Anyval* value) noexcept;

  // Takes in the part arrays from the pack's heap that `value` and the temporaries it
  // embeds hold, so they are freed with their value. A value from the pack is adopted
  // before it is held. Throws std::bad_alloc, having freed those arrays and cleared the
  // pointers to them, when the allocator cannot record them.
  void adopt(Anyval* value);
  // Counts one more reference to `value` from something the session keeps.
  void hold(Anyval* value) noexcept;
  // Counts one reference fewer; what is then held by nothing is freed.
  void letGo(Anyval* value) noexcept;
  bool held(const Anyval* value) const;

  // A point in the allocation history, for unreachable() and collect().
  uint64_t historyPoint() const { return serial_; }
  // The temporaries handed out (or adopted) from `since` on that no root reaches. A part
  // array from the pack's heap that a root reaches is fine, and stays the pack's. A query:
  // nothing is freed or adopted.
  std::vector<BlockInfo> unreachable(std::span<Anyval* const> roots, uint64_t since = 0) const;
  // Frees those blocks; returns how many.
  size_t collect(std::span<Anyval* const> roots, uint64_t since = 0) noexcept;

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
  Anyval* slotNewScalar() noexcept;
  HRESULT slotAllocate(Origin origin, void** out, size_t bytes) noexcept;
  void slotFreeDoubles(double* array) noexcept;

 public:
  // The interface object; the slots find the allocator through `owner`.
  struct Com {
    IwsAllocator iface;
    Allocator* owner;
  };

 private:
  struct Block {
    uintptr_t address;
    size_t bytes;
    Origin origin;
    uint64_t serial = 0;
    Block* older = nullptr;  // the allocation history, newest last
    Block* newer = nullptr;
    size_t holds = 0;      // references from held values and from the session
    bool embeds = false;   // a held value whose elements refer to other values
    bool adopted = false;  // adopt() has been through the value that starts here
    // The walk in progress: its work list, its marks, and how it reached the block.
    mutable Block* next = nullptr;
    mutable bool marked = false;
    mutable bool isValue = false;
  };
  using Blocks = std::map<uintptr_t, Block>;

  class WorkList;
  class Walk;
  // Calls reach(block, isValue) for each block the value in `block` refers to, once per
  // reference, itself excepted, and unknown(array) for each part array that is no block.
  // With `elements` false a matrix's embedded elements are left out.
  template <class Reach, class Unknown>
  void forEachReference(const Block& block, bool elements, Reach reach, Unknown unknown) const;
  // The block that starts at `value`, or null.
  Block* valueBlock(const void* value) const;
  Block* containing(const void* p) const;

  void* take(size_t bytes, Origin origin);
  // Records a block; throws std::bad_alloc when the record cannot be had.
  Block& record(uintptr_t address, size_t bytes, Origin origin);
  // Gives a recorded block its place in the history, as the newest.
  Block& enter(Block& block) noexcept;
  void drop(Block& block) noexcept;
  void releaseArray(const Block& owner, const double* array) noexcept;
  void refillReserve() noexcept;
  // Marks what the roots reach among the temporaries from `since` on.
  void markFrom(Walk& walk, std::span<Anyval* const> roots, uint64_t since) const;

  Com com_;
  Blocks blocks_;
  Block* newest_ = nullptr;
  // Slot 8 has no way to report failure: when memory runs out it is served from here.
  std::vector<void*> reserveScalars_;
  std::vector<Blocks::node_type> reserveRecords_;
  long failAt_ = 0;
  Failure failHow_ = Failure::kNegativeResult;
  long requests_ = 0;
  bool failed_ = false;
  uint64_t serial_ = 0;
};

std::string describe(const std::vector<BlockInfo>& blocks);

}  // namespace sheet
