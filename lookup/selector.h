// The results and errors of the lookup functions, which they build themselves from two
// host allocator slots: 61 for records that point at other values (error records, a column
// of nested vectors), 62 for plain data (a matrix header with its numbers, a string with
// its text). A negative HRESULT from either slot is thrown as HostAllocFailure; a builder
// that gets a null block returns null, which the function answers with the host's
// out-of-memory value.
//
//   FoundList, Found        the positions a search found, in the order found, and the
//                           Selector that takes the result's elements from them
//   select_elements         a matrix of source elements picked by a Selector
//   found_result            the column of found elements, or "no match"
//   index_column, position_vector, nested_column
//                           match's results: plain indices, or nested [row; column] vectors
//   lookup_error            an error record naming the argument at fault
//   LookupHandlers          the entries' policy: what a function body throws becomes an error
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <span>

#include "host/records.h"
#include "lookup/matching.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace Ufn {

// A source element's place: row and column, from 0.
struct Position {
  uint32_t row;
  uint32_t col;
};

// Says which source element goes to each place of a result.
class Selector {
 public:
  // The source position of result element (i, j).
  virtual Position operator()(uint32_t i, uint32_t j) const = 0;

 protected:
  ~Selector() = default;
};

// Positions in the order a search finds them. Room for every element the search visits is
// reserved before it starts, so appending never runs out.
template <class Entry>
class FoundList {
 public:
  // False when the pack's heap has no room for `capacity` entries.
  bool reserve(size_t capacity) {
    if (capacity == 0) return true;
    entries_ = heap::Array<Entry>(capacity);
    return static_cast<bool>(entries_);
  }
  void append(Entry entry) { entries_[size_++] = entry; }

  bool empty() const { return size_ == 0; }
  std::span<const Entry> entries() const { return {entries_.get(), size_}; }

 private:
  heap::Array<Entry> entries_;
  size_t size_ = 0;
};

// Result element (i, j) comes from the ith found position.
class Found final : public Selector {
 public:
  Found(const Position* begin, const Position* end) : begin_(begin), end_(end) {}
  Position operator()(uint32_t i, uint32_t /*j*/) const override { return begin_[i]; }
  size_t size() const { return static_cast<size_t>(end_ - begin_); }

 private:
  const Position* begin_;
  const Position* end_;
};

// A rows x cols matrix whose element (i, j) is the source element at selector(i, j), both
// parts (0 where the source has no array), in one slot-62 block. It carries the source's
// nested flag, so elements that refer to strings or arrays stay what they are. Null when
// the host has no memory.
aMatrix* select_elements(UfnCallContext* ctx, const aMatrix* source, const Selector& selector,
                         uint32_t rows, uint32_t cols);
// The found elements of `source` as one column, in the order found; "no match" when the
// search found nothing.
Anyval* found_result(UfnCallContext* ctx, const aMatrix* source, const FoundList<Position>& found);

// A real column of the indices, each shifted by `origin`.
aMatrix* index_column(UfnCallContext* ctx, std::span<const uint32_t> indices, double origin);
// The real 2 x 1 vector [row; column].
aMatrix* position_vector(UfnCallContext* ctx, double row, double column);
// A nested column whose elements refer to the given vectors (one slot-61 block).
aMatrix* nested_column(UfnCallContext* ctx, std::span<aMatrix* const> vectors);

// `m` as the result, or the host's out-of-memory value when it could not be built.
Anyval* result_or_out_of_memory(aMatrix* m);

// The argument index of an error that names no argument.
inline constexpr int kNoArgument = -1;

// An error with the message, naming the argument at 0-based `index` (kNoArgument: none). The host's
// out-of-memory value when a block comes back null.
Anyval* lookup_error(UfnCallContext* ctx, const char* message, int index);
// lookup_error for a caught exception: never throws, gives the host's out-of-memory value
// when even the error cannot be built.
Anyval* caught_error(UfnCallContext* ctx, const char* message, int index) noexcept;
// The 0-based place of `value` among a function's arguments; 1 (the searched matrix) when
// it is none of them.
int argument_index(std::initializer_list<const Anyval*> arguments, const Anyval* value);

// The policy the lookup functions' entries run under (pack/guard.h): `arguments` are the
// entry's (system variables included). A value of the wrong kind becomes an error naming the
// argument that carried it; any other exception an error with its text (so a failed host
// allocation reads "gc: memory allocation failed"), naming no argument.
struct LookupHandlers {
  template <class Body>
  static Anyval* run(UfnCallContext* ctx, std::initializer_list<const Anyval*> arguments,
                     Body&& body) {
    try {
      return body();
    } catch (const bad_cast& e) {
      return caught_error(ctx, e.what(), argument_index(arguments, e.value()));
    } catch (const std::exception& e) {
      return caught_error(ctx, e.what(), kNoArgument);
    } catch (...) {
      return caught_error(ctx, msg::kUnknownError, kNoArgument);
    }
  }
};

}  // namespace Ufn
