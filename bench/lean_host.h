// A lean stand-in for the worksheet host, for timing calls: the allocator slots the timed
// functions use (8, 60, 61, 62, 63) and the evaluator's interrupt poll (10, never set) and
// release slot (11), each one plain heap allocation or release with no bookkeeping, so that
// a call's time is the pack's own.
// Every other slot stops the program.
#pragma once

#include "host/records.h"

namespace bench {

class LeanHost {
 public:
  LeanHost();
  LeanHost(const LeanHost&) = delete;
  LeanHost& operator=(const LeanHost&) = delete;

  UfnCallContext* context() { return &context_; }

  // A host matrix holding a copy of the column-major rows x cols data; `im` null for a
  // real matrix.
  aMatrix* matrix(int rows, int cols, const double* re, const double* im = nullptr);

  // Frees a value: what the host does with a result once the worksheet is done with it,
  // and what the release slot does with a temporary.
  static void release(Anyval* value);

 private:
  IwsAllocator allocator_;
  IwsEvaluator evaluator_;
  UfnCallContext context_;
};

}  // namespace bench
