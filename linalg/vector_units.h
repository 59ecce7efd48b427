// Which vector instructions the kernels with a separate AVX2 build use: SSE2 on every target
// and, on x86-64 processors that have it, AVX2 without fused multiply-adds (each lane
// multiplies, then adds or subtracts, as the SSE2 code does, so the results are the same).
#pragma once

namespace linalg {

// True where the AVX2 builds are to be used: an x86-64 processor with AVX2, and no test
// asking for the SSE2 ones.
bool useAvx2Kernels();

// Test seam: the SSE2 kernels only, also where AVX2 is available.
void useBaselineKernels(bool only);

}  // namespace linalg
