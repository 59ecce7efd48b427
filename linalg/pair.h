// Two doubles side by side, computed on lane by lane with SSE2: each lane goes through
// exactly the operations it would as a double of its own, so kernels may carry two
// independent sums, or the two parts of a complex sum, in one register.
#pragma once

namespace linalg {

// Aligned like a double, so a Pair may sit anywhere in an array of doubles.
typedef double Pair __attribute__((vector_size(16), aligned(8)));

}  // namespace linalg
