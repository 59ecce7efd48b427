// Inverses from LU factors: the solutions for all the unit right-hand sides at once
// (lud_inverse, clud_inverse; contracts in linalg/lu.h).
//
// Solving L U x = P e_c one c at a time walks U along its rows in the back substitution:
// x(i) loses U(i, j) x(j) for j = i+1 .. n-1 in turn, and rows are strided in column-major
// storage. Here a block of right-hand sides is solved together with the solutions stored
// transposed: column i of the block holds entry i of every solution in it. "x(i) loses
// U(i, j) x(j)" becomes one contiguous column operation for the whole block, and every
// entry still receives its operations in the order the one-column substitution gives.
//
// Solution t is the one whose right-hand side, after the interchanges, is the unit vector
// e_t: its entries above t are leading zeros the forward substitution skips, it starts
// with 1 at entry t, and it is column order[t] of the inverse.
#include <algorithm>
#include <cstddef>

#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace {

using linalg::subtractComplexMultiple;
using linalg::subtractMultiple;

// How many solutions go into one block: at most 128, in blocks of nearly equal size.
int32_t blockSize(int32_t n) {
  const int32_t blocks = (n + 127) / 128;
  return (n + blocks - 1) / blocks;
}

// The solutions first .. first+size-1, transposed: entry(i)[t - first] is entry i of
// solution t.
struct Block {
  double* data;
  int32_t first, size;
  double* entry(int32_t i) const { return data + ptrdiff_t{i} * size; }
  // Of this block, the number of solutions that have started by entry j (those t <= j).
  int32_t startedBy(int32_t j) const { return std::min(j - first + 1, size); }
};

// Every solution t of the block set to e_t.
void startAtUnitVectors(const Block& x, int32_t n) {
  std::fill(x.data, x.data + ptrdiff_t{x.size} * n, 0.0);
  for (int32_t t = 0; t < x.size; ++t) x.entry(x.first + t)[t] = 1.0;
}

// L y = e_t for the block: entry i of solution t loses L(i, j) y(j) for j = t .. i-1.
void forwardSubstitute(PartView lu, const Block& x, int32_t n) {
  for (int32_t i = x.first + 1; i < n; ++i) {
    for (int32_t j = x.first; j < i; ++j) {
      subtractMultiple(x.entry(i), x.entry(j), lu(i, j), x.startedBy(j));
    }
  }
}

// U x = y for the block: entry i loses U(i, j) x(j) for j = i+1 .. n-1, then is divided
// by U(i, i).
void backSubstitute(PartView lu, const Block& x, int32_t n) {
  for (int32_t i = n - 1; i >= 0; --i) {
    for (int32_t j = i + 1; j < n; ++j) subtractMultiple(x.entry(i), x.entry(j), lu(i, j), x.size);
    linalg::divideBy(x.entry(i), lu(i, i), x.size);
  }
}

// Column order[t] of the inverse is solution t.
void storeSolutions(const Block& x, const int32_t* order, int32_t n, double* inverse) {
  for (int32_t t = 0; t < x.size; ++t) {
    double* column = inverse + ptrdiff_t{order[x.first + t]} * n;
    for (int32_t i = 0; i < n; ++i) column[i] = x.entry(i)[t];
  }
}

// The complex block: its real and imaginary parts laid out alike.
struct ComplexBlock {
  Block re, im;
};

void startAtUnitVectors(const ComplexBlock& x, int32_t n) {
  startAtUnitVectors(x.re, n);
  std::fill(x.im.data, x.im.data + ptrdiff_t{x.im.size} * n, 0.0);
}

void forwardSubstitute(PartView luRe, PartView luIm, const ComplexBlock& x, int32_t n) {
  for (int32_t i = x.re.first + 1; i < n; ++i) {
    for (int32_t j = x.re.first; j < i; ++j) {
      subtractComplexMultiple(x.re.entry(i), x.im.entry(i), x.re.entry(j), x.im.entry(j),
                              luRe(i, j), luIm(i, j), x.re.startedBy(j));
    }
  }
}

// False at a zero diagonal entry of U.
bool backSubstitute(PartView luRe, PartView luIm, const ComplexBlock& x, int32_t n) {
  for (int32_t i = n - 1; i >= 0; --i) {
    for (int32_t j = i + 1; j < n; ++j) {
      subtractComplexMultiple(x.re.entry(i), x.im.entry(i), x.re.entry(j), x.im.entry(j),
                              luRe(i, j), luIm(i, j), x.re.size);
    }
    if (luRe(i, i) == 0.0 && luIm(i, i) == 0.0) return false;
    linalg::SmithDivisor(luRe(i, i), luIm(i, i))
        .divideColumn(x.re.entry(i), x.im.entry(i), x.re.size);
  }
  return true;
}

}  // namespace

const char* lud_inverse(aMatrix* lu, double* pivots, double* inverse) {
  const int32_t n = lu->rows;
  const int32_t size = blockSize(n);
  heap::Array<double> work(size_t(size) * size_t(n));
  heap::Array<int32_t> order(n);
  if (!work || !order) return msg::kOutOfMemory;
  linalg::rowOrder(pivots, 0, n, order.get());

  const PartView factors = realPart(lu);
  for (int32_t first = 0; first < n; first += size) {
    const Block x{work.get(), first, std::min(size, n - first)};
    startAtUnitVectors(x, n);
    forwardSubstitute(factors, x, n);
    backSubstitute(factors, x, n);
    storeSolutions(x, order.get(), n, inverse);
  }
  return nullptr;
}

const char* clud_inverse(aMatrix* lu, double* pivots, double* inverseRe, double* inverseIm) {
  const int32_t n = lu->rows;
  const int32_t size = blockSize(n);
  heap::Array<double> workRe(size_t(size) * size_t(n));
  heap::Array<double> workIm(size_t(size) * size_t(n));
  heap::Array<int32_t> order(n);
  if (!workRe || !workIm || !order) return msg::kOutOfMemory;
  linalg::rowOrder(pivots, 1, n, order.get());

  for (int32_t first = 0; first < n; first += size) {
    const int32_t count = std::min(size, n - first);
    const ComplexBlock x{{workRe.get(), first, count}, {workIm.get(), first, count}};
    startAtUnitVectors(x, n);
    forwardSubstitute(realPart(lu), imagPart(lu), x, n);
    if (!backSubstitute(realPart(lu), imagPart(lu), x, n)) return msg::kSingularMatrix;
    storeSolutions(x.re, order.get(), n, inverseRe);
    storeSolutions(x.im, order.get(), n, inverseIm);
  }
  return nullptr;
}
