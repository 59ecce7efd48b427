// Plane (Givens) rotations: the coefficients that zero one entry of a pair, one rotation of
// two rows of a host matrix, and sequences of rotations of neighbouring rows applied to many
// columns at once.
//
// A rotation (c, s) of the pair (x, y) gives
//   x' = c x + s y
//   y' = -s x + c y
// and every routine here forms exactly these two expressions, in this order, for every
// element it rotates, so a column gets the same bits whichever routine rotates it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "host/records.h"
#include "pack/heap.h"

// The rotation that turns (a, b) into (+-sqrt(a^2 + b^2), 0): c a + s b keeps the length,
// -s a + c b vanishes (up to rounding). Neither t^2 below exceeds 1, so nothing overflows:
//   b = 0          c = 1, s = 0
//   |b| <= |a|     t = b / a, c = 1 / sqrt(t^2 + 1), s = c t
//   |b| >  |a|     t = a / b, s = 1 / sqrt(t^2 + 1), c = s t
// The surviving entry has the sign of the larger of a and b (of a when they are equal).
inline void givens(double a, double b, double* c, double* s) {
  if (b == 0.0) {
    *c = 1.0;
    *s = 0.0;
  } else if (std::fabs(b) <= std::fabs(a)) {
    const double t = b / a;
    *c = 1.0 / std::sqrt(t * t + 1.0);
    *s = *c * t;
  } else {
    const double t = a / b;
    *s = 1.0 / std::sqrt(t * t + 1.0);
    *c = *s * t;
  }
}

// (x, y) = (c x + s y, -s x + c y).
inline void rotatePair(double c, double s, double& x, double& y) {
  const double u = x, v = y;
  x = c * u + s * v;
  y = -s * u + c * v;
}

// Rotates rows p and q (1-based) of x's real part by (c, s) across all its columns: row p
// takes the part of x', row q that of y'. A row outside the matrix gives "ERR_QRFAC_5".
const char* rotate_rows(double c, double s, int p, int q, aMatrix* x);

namespace linalg {

// One sequence of a RotationBlock: rotation p is (c[p], s[p]); the rotated pairs come in
// `runCount` runs of neighbours, runs[2 k] down to runs[2 k + 1] being run k's pairs from
// the top of its highest pair down to its lowest, and the runs from the bottom of the
// column up.
struct RotationSequence {
  const double* c;
  const double* s;
  const int32_t* runs;
  int32_t runCount;
};

// The rotations of a block of elimination steps, as each step leaves them: rotations of
// neighbouring rows (p, p + 1), taken from the bottom pair up, some pairs skipped. A column
// gets one sequence whole, in order, before it gets the next.
//
// Inside a run the upper row of one rotation is the lower row of the next, so a column
// carries that row along in a register from one rotation to the next instead of storing
// and reloading it; and each column goes through every sequence while it is in the cache.
class RotationBlock {
 public:
  // Room for `capacity` sequences over columns of `rows` rows; empty when the pack's heap
  // has no room.
  RotationBlock(int32_t capacity, int32_t rows);
  explicit operator bool() const { return coefficients_ && runs_; }

  // The number of sequences held.
  int32_t size() const { return size_; }
  // Drops every sequence.
  void clear() { size_ = 0; }
  // Starts a new sequence, with no rotations yet.
  void begin();
  // Appends to the newest sequence the rotation (c, s) of rows (p, p + 1); p must be below
  // the pair appended before.
  void add(int32_t p, double c, double s);

  // Applies sequences first .. last-1, in order, to each of the `count` columns (rows
  // 0 .. rows-1 of each).
  void apply(int32_t first, int32_t last, double* const* columns, int32_t count) const;

 private:
  // Sequence t: c at coefficients_[2 t rows + p], s at coefficients_[(2 t + 1) rows + p];
  // at runs_[t (rows + 1)] the number of runs, then the runs.
  RotationSequence sequence(int32_t t) const;
  int32_t* runsOf(int32_t t) const { return runs_.get() + ptrdiff_t{t} * (rows_ + 1); }

  int32_t rows_;
  int32_t size_ = 0;
  heap::Array<double> coefficients_;
  heap::Array<int32_t> runs_;
};

}  // namespace linalg
