// Joining values into one matrix.
//
//   augment(A, B, ...)   side by side, left to right      augment(1, [2, 3]) = [1, 2, 3]
//   stack(A, B, ...)     one below the other, top to bottom
//                                                         stack([1, 2], [3, 4]) = [1, 2; 3, 4]
//
// Each value is a scalar, a string or a matrix; scalars and strings are 1 x 1 blocks. All
// blocks of a stack share one column count, all blocks of an augment one row count. Real
// and complex values mix: the result has an imaginary part when some value has one, and a
// real part unless every value so far was purely imaginary. A string becomes an embedded
// element of the result (the nested flag stays clear); a nested matrix makes the result
// nested.
#include <cstring>

#include "array/array.h"
#include "host/embedded.h"
#include "host/part_view.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace {

enum class Direction { kDown, kAcross };

// A part array grown from an oldRows x oldCols block to rows x cols: zeros, with the old
// block (if any) in the top-left corner. Throws "out of memory" when the heap has no room.
heap::Array<double> grown(const heap::Array<double>& old, int32_t oldRows, int32_t oldCols,
                          int32_t rows, int32_t cols) {
  heap::Array<double> part(static_cast<size_t>(rows) * static_cast<size_t>(cols), true);
  if (!part) throw msg::kOutOfMemory;
  if (old) {
    const PartView from(old.get(), oldRows), to(part.get(), rows);
    for (int32_t j = 0; j < oldCols; ++j) {
      std::memcpy(to.column(j), from.column(j), sizeof(double) * static_cast<size_t>(oldRows));
    }
  }
  return part;
}

// The matrix being joined: one growing array per part, column-major with leading dimension
// = rows, both of the current shape once they exist; an absent array stands for zeros.
// Blocks are added in the joining direction: `filled` counts the rows (down) or columns
// (across) so far, `width` is the column count (down) or row count (across) every block must
// share, 0 until the first matrix or element fixes it.
class Join {
 public:
  explicit Join(Direction direction) : down_(direction == Direction::kDown) {}

  // Adds the value at argument `position`; an error value when it does not fit, else null.
  Anyval* add(UfnCallContext* ctx, Anyval* value, int position) {
    switch (value->tag) {
      case kTagScalar:
        return addNumber(ctx, *as<aComplex>(value), position);
      case kTagString:
        return addString(ctx, value, position);
      case kTagMatrix:
        return addMatrix(ctx, *as<aMatrix>(value), position);
      default:
        return errorValue(ctx, msg::kStringScalarOrArray, position);
    }
  }

  Anyval* result(UfnCallContext* ctx) {
    return resultMatrix(ctx, rows_, cols_, re_, im_, nested_ ? aMatrix::kNested : 0);
  }

 private:
  Anyval* addNumber(UfnCallContext* ctx, const aComplex& z, int position) {
    if (Anyval* error = takeElement(ctx, position)) return error;
    extend(1, z.re != 0.0 || z.im == 0.0, z.im != 0.0);
    if (z.re != 0.0) resultRe()(nextRow(), nextCol()) = embedded::asNumber(z.re);
    if (z.im != 0.0) resultIm()(nextRow(), nextCol()) = z.im;
    filled_ += 1;
    return nullptr;
  }

  Anyval* addString(UfnCallContext* ctx, const Anyval* text, int position) {
    if (Anyval* error = takeElement(ctx, position)) return error;
    extend(1, true, false);
    resultRe()(nextRow(), nextCol()) = embedded::make(text);
    filled_ += 1;
    return nullptr;
  }

  Anyval* addMatrix(UfnCallContext* ctx, const aMatrix& m, int position) {
    if (m.nested()) nested_ = true;
    const int32_t length = down_ ? m.rows : m.cols;
    const int32_t width = down_ ? m.cols : m.rows;
    if (width_ == 0) {
      width_ = width;
    } else if (width_ != width) {
      return errorValue(ctx, msg::kArraySizeMismatch, position);
    }
    extend(length, m.re != nullptr, m.im != nullptr);
    if (m.re) copyBlock(realPart(&m), m, resultRe());
    if (m.im) copyBlock(imagPart(&m), m, resultIm());
    filled_ += length;
    return nullptr;
  }

  // A scalar or string is a 1 x 1 block: it fits only while the width is at most 1.
  Anyval* takeElement(UfnCallContext* ctx, int position) {
    if (width_ > 1) return errorValue(ctx, msg::kArgumentDimensionMismatch, position);
    width_ = 1;
    return nullptr;
  }

  // Makes room for `length` more rows (down) or columns (across) at the current width.
  // Every existing part array grows; an absent one is created (zeros) when needed.
  void extend(int32_t length, bool needRe, bool needIm) {
    const int32_t rows = down_ ? filled_ + length : width_;
    const int32_t cols = down_ ? width_ : filled_ + length;
    if (re_ || needRe) re_ = grown(re_, rows_, cols_, rows, cols);
    if (im_ || needIm) im_ = grown(im_, rows_, cols_, rows, cols);
    rows_ = rows;
    cols_ = cols;
  }

  // Copies one part of `m` into the new block, which starts at the next free row or column.
  void copyBlock(PartView from, const aMatrix& m, PartView to) const {
    for (int32_t j = 0; j < m.cols; ++j) {
      for (int32_t i = 0; i < m.rows; ++i) to(nextRow() + i, nextCol() + j) = from(i, j);
    }
  }

  int32_t nextRow() const { return down_ ? filled_ : 0; }
  int32_t nextCol() const { return down_ ? 0 : filled_; }
  PartView resultRe() const { return {re_.get(), rows_}; }
  PartView resultIm() const { return {im_.get(), rows_}; }

  const bool down_;
  int32_t filled_ = 0;
  int32_t width_ = 0;
  heap::Array<double> re_, im_;
  int32_t rows_ = 0, cols_ = 0;
  bool nested_ = false;
};

Anyval* join(UfnCallContext* ctx, Anyval* const* values, int count, Direction direction) {
  Join joined(direction);
  for (int k = 0; k < count; ++k) {
    if (Anyval* error = joined.add(ctx, values[k], k + 1)) return error;
  }
  return joined.result(ctx);
}

// The worksheet's augment and stack: at least two values.
Anyval* joinValues(UfnCallContext* ctx, Counted values, Direction direction) {
  if (values.count < 2) return errorValue(ctx, msg::kTooFewArguments, 0);
  if (!values.values) throw msg::kOutOfMemory;
  return join(ctx, values.values, values.count, direction);
}

}  // namespace

Anyval* stack(UfnCallContext* ctx, Anyval** values, int count) {
  return join(ctx, values, count, Direction::kDown);
}

Anyval* stack(UfnCallContext* ctx, int count, ...) {
  std::va_list list;
  va_start(list, count);
  Anyval* result = runCounted<Guarded>(ctx, count, list, worksheet::stack);
  va_end(list);
  return result;
}

namespace worksheet {

Anyval* stack(UfnCallContext* ctx, Counted values) {
  return joinValues(ctx, values, Direction::kDown);
}

Anyval* augment(UfnCallContext* ctx, Counted values) {
  return joinValues(ctx, values, Direction::kAcross);
}

}  // namespace worksheet
