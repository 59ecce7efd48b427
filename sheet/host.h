// The stand-in host's per-session objects: allocator, evaluator and the call context that
// points at both.
#pragma once

#include "sheet/allocator.h"
#include "sheet/evaluator.h"

namespace sheet {

struct Host {
  Allocator allocator;
  Evaluator evaluator{allocator};
  UfnCallContext context{allocator.com(), evaluator.com()};

  Host() = default;
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
};

}  // namespace sheet
