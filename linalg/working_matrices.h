// Working copies for the routines that factor or solve in place.
#pragma once

#include <cstddef>

#include "host/ufnutils.h"
#include "pack/ownership.h"

// A working copy of m with both part arrays (zeros where m has none). Null on success.
const char* complexCopy(UfnCallContext* ctx, aMatrix* m, aMatrix** out);

// m's part arrays into to's, which has m's shape and leading dimension = rows: each part
// `to` has gets m's numbers, or zeros where m has not that part.
void copyParts(const aMatrix* m, aMatrix* to);

// A working copy of m that lives only during the call: with both part arrays when
// `complex` (zeros where m has none), else with the part arrays m has. A small matrix is
// copied into the object itself, so a small call takes nothing from the host; a larger
// one through the host's copies (complexCopy, matrix_copy), released on destruction.
class WorkingCopy {
 public:
  WorkingCopy(UfnCallContext* ctx, aMatrix* m, bool complex);
  WorkingCopy(const WorkingCopy&) = delete;
  WorkingCopy& operator=(const WorkingCopy&) = delete;

  // The copy's message when it could not be made; null otherwise.
  const char* failure() const { return failure_; }
  aMatrix* get() { return hosted_ ? hosted_.get() : &inline_; }

  // Matrices of up to this many elements are copied into the object.
  static constexpr size_t kInlineElements = 32 * 32;

 private:
  TempMatrix hosted_;
  const char* failure_ = nullptr;
  aMatrix inline_{};
  double parts_[2 * kInlineElements];
};
