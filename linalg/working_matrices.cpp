#include "linalg/working_matrices.h"

#include <algorithm>

#include "host/part_view.h"

const char* complexCopy(UfnCallContext* ctx, aMatrix* m, aMatrix** out) {
  if (!m->im) return matrix_copy_add_imag(ctx, m, out);
  if (!m->re) return matrix_copy_add_real(ctx, m, out);
  return matrix_copy(ctx, m, out);
}

namespace {

// One part of m into `to` (leading dimension rows); zeros for a part m has not.
void copyPart(const aMatrix* m, PartView from, double* to) {
  const int32_t rows = m->rows;
  if (!from) {
    std::fill_n(to, size_t(rows) * size_t(m->cols), 0.0);
    return;
  }
  if (from.ld() == rows) {
    std::copy_n(from.data(), size_t(rows) * size_t(m->cols), to);
    return;
  }
  for (int32_t j = 0; j < m->cols; ++j) std::copy_n(from.column(j), rows, to + ptrdiff_t{j} * rows);
}

}  // namespace

WorkingCopy::WorkingCopy(UfnCallContext* ctx, aMatrix* m, bool complex) : hosted_(ctx) {
  const size_t count = elementCount(m);
  if (count > kInlineElements) {
    failure_ = complex ? complexCopy(ctx, m, hosted_.out()) : matrix_copy(ctx, m, hosted_.out());
    return;
  }
  const bool withRe = complex || m->re, withIm = complex || m->im;
  inline_ = aMatrix{kTagMatrix,
                    m->rows,
                    partBytes(m->rows, m->cols),
                    0,
                    withRe ? parts_ : nullptr,
                    withIm ? parts_ + kInlineElements : nullptr,
                    m->rows,
                    m->cols,
                    1,
                    m->flags & aMatrix::kNested};
  copyParts(m, &inline_);
}

void copyParts(const aMatrix* m, aMatrix* to) {
  if (to->re) copyPart(m, realPart(m), to->re);
  if (to->im) copyPart(m, imagPart(m), to->im);
}
