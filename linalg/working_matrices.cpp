#include "linalg/working_matrices.h"

const char* complexCopy(UfnCallContext* ctx, aMatrix* m, aMatrix** out) {
  if (!m->im) return matrix_copy_add_imag(ctx, m, out);
  if (!m->re) return matrix_copy_add_real(ctx, m, out);
  return matrix_copy(ctx, m, out);
}
