// The steps the real general and the complex eigensolvers share: their scratch, balancing
// before the reduction, and undoing it and scaling the columns once the eigenvectors are
// found.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/part_view.h"
#include "linalg/field.h"
#include "pack/heap.h"

namespace eigen {

// Makes `array` hold `count` doubles from the pack's heap (zeros when `zeroed`); false when
// the heap has none.
inline bool allocate(heap::Array<double>& array, size_t count, bool zeroed = false) {
  array = heap::Array<double>(count, zeroed);
  return bool(array);
}

// The rows and columns low .. high that balancing left coupled; the eigenvalues outside it
// are isolated on the diagonal.
struct Block {
  int32_t low, high;
  bool contains(int32_t i) const { return i >= low && i <= high; }
};

// Balances the n x n matrix `a` in place by permutations and scalings by powers of 2
// (radix 2), a real one or one with both part arrays. First rows whose off-diagonal entries
// in the unfinished part are all zero are moved to the bottom and columns of that kind to
// the left, each isolating an eigenvalue; then each row and column of the remaining block
// is scaled by 2^k until their off-diagonal 1-norms (|re| + |im| for complex entries) are
// close. scale[i] records, for i outside the block, the index exchanged with i, and inside
// it the factor of row i.
Block balance(linalg::RealField::View a, int32_t n, double* scale);
Block balance(linalg::ComplexField::View a, int32_t n, double* scale);

// Undoes the balancing on the rows of one part array of an eigenvector matrix (n x n):
// rows of the block are multiplied by their factors, then the exchanges are reversed.
void unbalanceRows(PartView z, int32_t n, Block block, const double* scale);

// Divides each column of the complex n x n matrix z by its first component of largest
// modulus (Smith's division), which makes that component 1; a zero column stays zero.
void scaleColumnsToUnitPeak(linalg::ComplexField::View z, int32_t n);

}  // namespace eigen
