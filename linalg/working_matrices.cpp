#include "linalg/working_matrices.h"

#include "pack/heap.h"

const char* complexCopy(UfnCallContext* ctx, aMatrix* m, aMatrix** out) {
  if (!m->im) return matrix_copy_add_imag(ctx, m, out);
  if (!m->re) return matrix_copy_add_real(ctx, m, out);
  return matrix_copy(ctx, m, out);
}

aMatrix* newComplexSquare(UfnCallContext* ctx, int32_t n, bool zeroRe, bool zeroIm) {
  const size_t count = size_t(n) * size_t(n);
  heap::Array<double> re(count, zeroRe), im(count, zeroIm);
  if (!re || !im) return nullptr;
  aMatrix* m =
      aMatrix::mk(ctx->allocator, n, n, re.get(), im.get(), uint32_t(count * sizeof(double)));
  if (m) {
    re.handOver();
    im.handOver();
  }
  return m;
}
