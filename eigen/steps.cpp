// The steps the general and complex eigensolvers share (eigen/steps.h): balancing, one
// algorithm over real and complex matrices, and the back transformations.
//
//   [2, 0; 0, 3]       both rows isolate an eigenvalue: the block is empty, no scaling
//   [1, 1e4; 1e-4, 1]  the off-diagonal norms are equalised: row 0 scaled by 2^-7
//
// Scaling by powers of 2 changes no significant bit, so balancing costs no accuracy, and
// QR converges on the balanced matrix to eigenvalues with smaller error bounds.
#include "eigen/steps.h"

#include <cmath>
#include <utility>

namespace eigen {
namespace {

using linalg::ComplexField;
using linalg::RealField;

// Element operations of the two kinds of view.
bool isZero(const RealField::View& a, int32_t i, int32_t j) {
  return a.re(i, j) == 0.0;
}
bool isZero(const ComplexField::View& a, int32_t i, int32_t j) {
  return a.re(i, j) == 0.0 && a.im(i, j) == 0.0;
}
// sum + |a(i, j)|, the parts of a complex entry added in turn.
double addMagnitude(double sum, const RealField::View& a, int32_t i, int32_t j) {
  return sum + std::fabs(a.re(i, j));
}
double addMagnitude(double sum, const ComplexField::View& a, int32_t i, int32_t j) {
  return sum + std::fabs(a.re(i, j)) + std::fabs(a.im(i, j));
}
void scale(const RealField::View& a, int32_t i, int32_t j, double f) {
  a.re(i, j) *= f;
}
void scale(const ComplexField::View& a, int32_t i, int32_t j, double f) {
  a.re(i, j) *= f;
  a.im(i, j) *= f;
}
void exchange(const RealField::View& a, int32_t i, int32_t j, int32_t r, int32_t s) {
  std::swap(a.re(i, j), a.re(r, s));
}
void exchange(const ComplexField::View& a, int32_t i, int32_t j, int32_t r, int32_t s) {
  std::swap(a.re(i, j), a.re(r, s));
  std::swap(a.im(i, j), a.im(r, s));
}

// Row j's entries a(j, i), i = 0 .. last, i != j, are all zero.
template <class View>
bool rowIsolates(const View& a, int32_t j, int32_t last) {
  for (int32_t i = 0; i <= last; ++i) {
    if (i != j && !isZero(a, j, i)) return false;
  }
  return true;
}

// Column j's entries a(i, j), i = first .. last, i != j, are all zero.
template <class View>
bool columnIsolates(const View& a, int32_t j, int32_t first, int32_t last) {
  for (int32_t i = first; i <= last; ++i) {
    if (i != j && !isZero(a, i, j)) return false;
  }
  return true;
}

// Moves row and column j to position m (recorded in scale[m]): columns exchanged over rows
// 0 .. last, rows over columns first .. n-1.
template <class View>
void moveTo(const View& a, int32_t n, double* scale, int32_t j, int32_t m, int32_t first,
            int32_t last) {
  scale[m] = j;
  if (j == m) return;
  for (int32_t i = 0; i <= last; ++i) exchange(a, i, j, i, m);
  for (int32_t i = first; i < n; ++i) exchange(a, j, i, m, i);
}

// One pass of scaling over the block; true when some row and column were scaled.
template <class View>
bool scalingPass(const View& a, int32_t n, Block block, double* factors) {
  bool changed = false;
  for (int32_t i = block.low; i <= block.high; ++i) {
    double c = 0.0, r = 0.0;
    for (int32_t j = block.low; j <= block.high; ++j) {
      if (j == i) continue;
      c = addMagnitude(c, a, j, i);
      r = addMagnitude(r, a, i, j);
    }
    // An infinite norm, given or overflowed on the way (the floating-point guard reports
    // an overflow), would never settle on a power of 2.
    if (c == 0.0 || r == 0.0 || !std::isfinite(c) || !std::isfinite(r)) continue;
    double g = r * 0.5;
    double f = 1.0;
    const double s = c + r;
    while (c < g) {
      f += f;
      c *= 4.0;
    }
    if (!std::isfinite(c)) continue;  // overflowed
    g = r + r;
    while (c >= g) {
      f *= 0.5;
      c *= 0.25;
    }
    if ((c + r) / f < 0.95 * s) {
      const double inverse = 1.0 / f;
      factors[i] *= f;
      changed = true;
      for (int32_t j = block.low; j < n; ++j) eigen::scale(a, i, j, inverse);
      for (int32_t j = 0; j <= block.high; ++j) eigen::scale(a, j, i, f);
    }
  }
  return changed;
}

template <class View>
Block balanceMatrix(const View& a, int32_t n, double* scale) {
  int32_t low = 0, high = n - 1;
  // Rows isolating an eigenvalue go to the bottom of the block, one at a time.
  for (bool found = true; found;) {
    found = false;
    for (int32_t j = high; j >= 0; --j) {
      if (!rowIsolates(a, j, high)) continue;
      moveTo(a, n, scale, j, high, low, high);
      if (high == 0) return {low, high};
      --high;
      found = true;
      break;
    }
  }
  // Columns isolating an eigenvalue go to the left.
  for (bool found = true; found;) {
    found = false;
    for (int32_t j = low; j <= high; ++j) {
      if (!columnIsolates(a, j, low, high)) continue;
      moveTo(a, n, scale, j, low, low, high);
      ++low;
      found = true;
      break;
    }
  }
  const Block block{low, high};
  for (int32_t i = low; i <= high; ++i) scale[i] = 1.0;
  while (scalingPass(a, n, block, scale)) {
  }
  return block;
}

}  // namespace

Block balance(RealField::View a, int32_t n, double* scale) {
  return balanceMatrix(a, n, scale);
}

Block balance(ComplexField::View a, int32_t n, double* scale) {
  return balanceMatrix(a, n, scale);
}

void unbalanceRows(PartView z, int32_t n, Block block, const double* scale) {
  if (block.high != block.low) {
    for (int32_t j = 0; j < n; ++j) {
      double* column = z.column(j);
      for (int32_t i = block.low; i <= block.high; ++i) column[i] *= scale[i];
    }
  }
  // Rows above the block in the reverse of the order they were moved, then those below.
  for (int32_t t = 0; t < n; ++t) {
    if (block.contains(t)) continue;
    const int32_t i = t < block.low ? block.low - 1 - t : t;
    const auto k = static_cast<int32_t>(scale[i]);
    if (k == i) continue;
    for (int32_t j = 0; j < n; ++j) std::swap(z(i, j), z(k, j));
  }
}

void scaleColumnsToUnitPeak(linalg::ComplexField::View z, int32_t n) {
  for (int32_t j = 0; j < n; ++j) {
    const linalg::SplitColumn column = z.column(j);
    auto squaredModulus = [&](int32_t i) {
      return column.re[i] * column.re[i] + column.im[i] * column.im[i];
    };
    int32_t peak = 0;
    double largest = squaredModulus(0);
    for (int32_t i = 1; i < n; ++i) {
      const double square = squaredModulus(i);
      if (square > largest) largest = square, peak = i;
    }
    if (!(largest > 0.0)) continue;
    const linalg::SmithDivisor divisor(linalg::load(column, peak));
    for (int32_t i = 0; i < n; ++i) store(column, i, divisor.divide(load(column, i)));
  }
}

}  // namespace eigen
