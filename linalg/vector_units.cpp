#include "linalg/vector_units.h"

namespace linalg {

namespace {
bool baselineOnly = false;
}  // namespace

bool useAvx2Kernels() {
#if defined(__x86_64__)
  static const bool available = __builtin_cpu_supports("avx2");
  return available && !baselineOnly;
#else
  return false;
#endif
}

void useBaselineKernels(bool only) {
  baselineOnly = only;
}

}  // namespace linalg
