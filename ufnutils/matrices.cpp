// Matrix copies, packing several matrices into one value, and in-place column edits.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/part_view.h"
#include "ufnutils/host_memory.h"

namespace {

using namespace ufnutils;

constexpr const char* kOutOfMemory = "out of memory";

// Copies the rows x cols block of `from` into `to` at (row0, col0); an absent source
// part reads as zeros.
void copyBlock(PartView from, int rows, int cols, PartView to, int row0, int col0) {
  if (from && row0 == 0 && from.ld() == rows && to.ld() == rows) {
    // Both without gaps between columns: one run.
    std::memcpy(to.column(col0), from.data(),
                sizeof(double) * static_cast<size_t>(rows) * static_cast<size_t>(cols));
    return;
  }
  for (int j = 0; j < cols; ++j) {
    double* target = to.column(col0 + j) + row0;
    if (from) {
      std::memcpy(target, from.column(j), sizeof(double) * static_cast<size_t>(rows));
    } else {
      std::fill(target, target + rows, 0.0);
    }
  }
}

// Host arrays for a new rows x cols matrix; a part is made when `want` says so. On a null
// array everything taken is given back and false returned.
bool takeParts(IwsAllocator* allocator, size_t count, bool wantRe, bool wantIm, double** re,
               double** im) {
  *re = *im = nullptr;
  try {
    if (wantRe && !(*re = hostDoubles(allocator, static_cast<uint32_t>(count)))) return false;
    if (wantIm && !(*im = hostDoubles(allocator, static_cast<uint32_t>(count)))) {
      giveBackDoubles(allocator, *re);
      *re = nullptr;
      return false;
    }
  } catch (...) {
    giveBackDoubles(allocator, *re);
    throw;
  }
  return true;
}

// A new host matrix over the given arrays; gives them back when the header cannot be had.
aMatrix* wrap(IwsAllocator* allocator, int rows, int cols, double* re, double* im) {
  const uint32_t bytes = static_cast<uint32_t>(sizeof(double) * size_t(rows) * size_t(cols));
  aMatrix* m = nullptr;
  try {
    m = aMatrix::mk(allocator, rows, cols, re, im, bytes);
  } catch (...) {
    giveBackDoubles(allocator, re);
    giveBackDoubles(allocator, im);
    throw;
  }
  if (!m) {
    giveBackDoubles(allocator, re);
    giveBackDoubles(allocator, im);
  }
  return m;
}

const char* copyWith(UfnCallContext* ctx, aMatrix* source, aMatrix** out, bool forceRe,
                     bool forceIm) {
  *out = nullptr;
  const size_t count = elementCount(source);
  double *re, *im;
  if (!takeParts(ctx->allocator, count, source->re || forceRe, source->im || forceIm, &re, &im)) {
    return kOutOfMemory;
  }
  if (re) copyBlock(realPart(source), source->rows, source->cols, {re, source->rows}, 0, 0);
  if (im) copyBlock(imagPart(source), source->rows, source->cols, {im, source->rows}, 0, 0);
  aMatrix* copy = wrap(ctx->allocator, source->rows, source->cols, re, im);
  if (!copy) return kOutOfMemory;
  copy->flags = source->flags & aMatrix::kNested;
  *out = copy;
  return nullptr;
}

// Joins the matrices into one: side by side (`sideBySide`) or top to bottom.
bool join(UfnCallContext* ctx, std::initializer_list<aMatrix*> parts, bool sideBySide,
          Anyval** out) {
  int rows = 0, cols = 0;
  bool anyRe = false, anyIm = false;
  for (aMatrix* m : parts) {
    if (sideBySide) {
      rows = std::max(rows, m->rows);
      cols += m->cols;
    } else {
      rows += m->rows;
      cols = std::max(cols, m->cols);
    }
    anyRe |= m->re != nullptr;
    anyIm |= m->im != nullptr;
  }
  const size_t count = size_t(rows) * size_t(cols);
  double *re, *im;
  if (!takeParts(ctx->allocator, count, anyRe, anyIm, &re, &im)) {
    *out = asValue(sError_OutOfMemory);
    return false;
  }
  if (re) std::fill(re, re + count, 0.0);
  if (im) std::fill(im, im + count, 0.0);
  int offset = 0;
  for (aMatrix* m : parts) {
    const int row0 = sideBySide ? 0 : offset, col0 = sideBySide ? offset : 0;
    if (re) copyBlock(realPart(m), m->rows, m->cols, {re, rows}, row0, col0);
    if (im) copyBlock(imagPart(m), m->rows, m->cols, {im, rows}, row0, col0);
    offset += sideBySide ? m->cols : m->rows;
  }
  aMatrix* joined = wrap(ctx->allocator, rows, cols, re, im);
  *out = joined ? asValue(joined) : asValue(sError_OutOfMemory);
  return joined != nullptr;
}

}  // namespace

const char* matrix_copy(UfnCallContext* ctx, aMatrix* source, aMatrix** out) {
  return copyWith(ctx, source, out, false, false);
}

const char* matrix_copy_add_real(UfnCallContext* ctx, aMatrix* source, aMatrix** out) {
  return copyWith(ctx, source, out, true, false);
}

const char* matrix_copy_add_imag(UfnCallContext* ctx, aMatrix* source, aMatrix** out) {
  return copyWith(ctx, source, out, false, true);
}

bool pack_two_r(UfnCallContext* ctx, aMatrix* a, aMatrix* b, Anyval** out) {
  return join(ctx, {a, b}, true, out);
}

bool pack_two_rr(UfnCallContext* ctx, aMatrix* a, aMatrix* b, Anyval** out) {
  return join(ctx, {a, b}, false, out);
}

bool pack_three_c(UfnCallContext* ctx, aMatrix* a, aMatrix* b, aMatrix* c, Anyval** out) {
  return join(ctx, {a, b, c}, true, out);
}

const char* MtoVcol(aMatrix* m, int column, aVector* v) {
  if (column < 0 || column >= m->cols) return "invalid dimension";
  if (v->rows < m->rows) return "array size mismatch";
  if (v->re)
    copyBlock(PartView(m->re ? realPart(m).column(column) : nullptr, m->ld), m->rows, 1,
              realPart(v), 0, 0);
  if (v->im)
    copyBlock(PartView(m->im ? imagPart(m).column(column) : nullptr, m->ld), m->rows, 1,
              imagPart(v), 0, 0);
  return nullptr;
}

void zero_col(int column, int fromRow, aMatrix* m) {
  for (PartView part : {realPart(m), imagPart(m)}) {
    if (!part) continue;
    for (int i = std::max(fromRow, 0); i < m->rows; ++i) part(i, column) = 0.0;
  }
}

void renormalize_matrix_cols(aMatrix* m) {
  const PartView re = realPart(m), im = imagPart(m);
  for (int j = 0; j < m->cols; ++j) {
    double sum = 0.0;
    for (int i = 0; i < m->rows; ++i) {
      if (re) sum += re(i, j) * re(i, j);
      if (im) sum += im(i, j) * im(i, j);
    }
    if (sum == 0.0) continue;
    const double length = std::sqrt(sum);
    for (int i = 0; i < m->rows; ++i) {
      if (re) re(i, j) /= length;
      if (im) im(i, j) /= length;
    }
  }
}

bool symmetry(aMatrix* m) {
  if (m->rows != m->cols) return false;
  for (PartView part : {realPart(m), imagPart(m)}) {
    if (!part) continue;
    for (int j = 0; j < m->cols; ++j) {
      for (int i = j + 1; i < m->rows; ++i) {
        if (part(i, j) != part(j, i)) return false;
      }
    }
  }
  return true;
}

int nonint(UfnCallContext* /*ctx*/, aComplex* value) {
  return value->re == std::floor(value->re) ? 0 : 1;
}
