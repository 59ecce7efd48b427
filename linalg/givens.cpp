// Givens rotations: one rotation of two rows of a host matrix, and blocks of rotation
// sequences applied column by column. The contracts are in linalg/givens.h.
#include "linalg/givens.h"

#include "host/part_view.h"
#include "pack/messages.h"

const char* rotate_rows(double c, double s, int p, int q, aMatrix* x) {
  if (q < 1 || p < 1 || q > x->rows || p > x->rows) return msg::kQrRotation;
  const PartView a = realPart(x);
  for (int32_t k = 0; k < x->cols; ++k) rotatePair(c, s, a(p - 1, k), a(q - 1, k));
  return nullptr;
}

namespace linalg {

namespace {

// Two columns side by side in one SSE2 register. A run is a chain down each column (every
// rotation needs the row the one before it produced), so the work that can be done at once
// lies across columns: both halves of the register go through the same operations.
using Pair = double __attribute__((vector_size(16)));

struct OneColumn {
  using Value = double;
  double* x;
  double load(int32_t i) const { return x[i]; }
  void store(int32_t i, double v) const { x[i] = v; }
  static double splat(double v) { return v; }
};

struct TwoColumns {
  using Value = Pair;
  double* x;
  double* y;
  Pair load(int32_t i) const { return Pair{x[i], y[i]}; }
  void store(int32_t i, Pair v) const {
    x[i] = v[0];
    y[i] = v[1];
  }
  static Pair splat(double v) { return Pair{v, v}; }
};

// Rotates the lanes by one sequence. Several lanes at once keep several independent chains
// in flight, which hides the latency of each.
template <class Lane, int kLanes>
void rotate(const RotationSequence& sequence, const Lane* lanes) {
  using Value = typename Lane::Value;
  for (int32_t k = 0; k < sequence.runCount; ++k) {
    const int32_t high = sequence.runs[2 * k], low = sequence.runs[2 * k + 1];
    // carry: the current value of row p + 1, the lower row of rotation p.
    Value carry[kLanes];
#pragma GCC unroll 4
    for (int q = 0; q < kLanes; ++q) carry[q] = lanes[q].load(high + 1);
    for (int32_t p = high; p >= low; --p) {
      const Value c = Lane::splat(sequence.c[p]);
      const Value s = Lane::splat(sequence.s[p]);
      const Value minusS = Lane::splat(-sequence.s[p]);
#pragma GCC unroll 4
      for (int q = 0; q < kLanes; ++q) {
        const Value x = lanes[q].load(p);
        lanes[q].store(p + 1, minusS * x + c * carry[q]);
        carry[q] = c * x + s * carry[q];
      }
    }
#pragma GCC unroll 4
    for (int q = 0; q < kLanes; ++q) lanes[q].store(low, carry[q]);
  }
}

}  // namespace

RotationBlock::RotationBlock(int32_t capacity, int32_t rows)
    : rows_(rows),
      coefficients_(2 * size_t(capacity) * size_t(rows)),
      runs_(size_t(capacity) * (size_t(rows) + 1)) {}

void RotationBlock::begin() {
  runsOf(size_)[0] = 0;
  ++size_;
}

void RotationBlock::add(int32_t p, double c, double s) {
  const int32_t t = size_ - 1;
  coefficients_[2 * size_t(t) * size_t(rows_) + size_t(p)] = c;
  coefficients_[(2 * size_t(t) + 1) * size_t(rows_) + size_t(p)] = s;
  int32_t* runs = runsOf(t);
  int32_t& count = runs[0];
  if (count > 0 && runs[2 * count] == p + 1) {
    runs[2 * count] = p;  // the newest run's lowest pair
  } else {
    runs[1 + 2 * count] = runs[2 + 2 * count] = p;
    ++count;
  }
}

RotationSequence RotationBlock::sequence(int32_t t) const {
  const double* c = coefficients_.get() + 2 * ptrdiff_t{t} * rows_;
  const int32_t* runs = runsOf(t);
  return {c, c + rows_, runs + 1, runs[0]};
}

void RotationBlock::apply(int32_t first, int32_t last, double* const* columns,
                          int32_t count) const {
  int32_t j = 0;
  for (; j + 8 <= count; j += 8) {
    const TwoColumns lanes[4] = {{columns[j], columns[j + 1]},
                                 {columns[j + 2], columns[j + 3]},
                                 {columns[j + 4], columns[j + 5]},
                                 {columns[j + 6], columns[j + 7]}};
    for (int32_t t = first; t < last; ++t) rotate<TwoColumns, 4>(sequence(t), lanes);
  }
  for (; j + 2 <= count; j += 2) {
    const TwoColumns lanes[1] = {{columns[j], columns[j + 1]}};
    for (int32_t t = first; t < last; ++t) rotate<TwoColumns, 1>(sequence(t), lanes);
  }
  if (j < count) {
    const OneColumn lanes[1] = {{columns[j]}};
    for (int32_t t = first; t < last; ++t) rotate<OneColumn, 1>(sequence(t), lanes);
  }
}

}  // namespace linalg
