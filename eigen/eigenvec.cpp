// eigenvec(M, z): an eigenvector of the square matrix M for its eigenvalue z (typically one
// of eigenvals(M)), by inverse iteration in complex arithmetic.
//
//   eigenvec([2, 0; 0, 3], 2)      = [1; 0]          (to rounding; always complex)
//   eigenvec(identity(2), 100)     -> "not converging"   (100 is no eigenvalue)
//   eigenvec([0], 1e-12)           -> "singularity"      (M - z I + 1e-12 I has a zero row)
//
// The vector has Euclidean length 1 and is otherwise as the iteration leaves it; the start
// vectors are pseudo-random from a fixed seed, so the same arguments always give the same
// vector. M is copied into scratch; when memory runs out the result is the host's
// out-of-memory value.
#include <algorithm>

#include "eigen/inverse_iteration.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/ownership.h"

namespace {

// Copies one part of m (n x n) into a contiguous array; an absent part gives zeros.
void copyPart(PartView from, int32_t n, double* to) {
  for (int32_t j = 0; j < n; ++j) {
    double* target = to + ptrdiff_t{j} * n;
    if (from) {
      std::copy(from.column(j), from.column(j) + n, target);
    } else {
      std::fill(target, target + n, 0.0);
    }
  }
}

Anyval* eigenvector(UfnCallContext* ctx, const aMatrix* m, linalg::Complex z) {
  const int32_t n = m->cols;
  const size_t count = size_t(n) * size_t(n);
  heap::Array<double> re(count), im(count), xRe(n), xIm(n);
  if (!re || !im || !xRe || !xIm) return outOfMemoryValue();
  copyPart(realPart(m), n, re.get());
  copyPart(imagPart(m), n, im.get());
  if (const char* failure = eigen::inverse_iteration({re.get(), im.get()}, n, z,
                                                     {xRe.get(), xIm.get()}, Interrupt(ctx))) {
    if (failure == msg::kOutOfMemory) return outOfMemoryValue();
    return errorValue(ctx, failure, 0);
  }
  return resultMatrix(ctx, n, 1, xRe, xIm);
}

}  // namespace

Anyval* worksheet::eigenvec(UfnCallContext* ctx, Anyval* m, Anyval* z) {
  if (Anyval* error =
          Require(ctx, m, 1).matrix().next(z, 2).scalar().next(m, 1).notNested().square().error()) {
    return error;
  }
  const aComplex* eigenvalue = as<aComplex>(z);
  return eigenvector(ctx, as<aMatrix>(m), {eigenvalue->re, eigenvalue->im});
}
