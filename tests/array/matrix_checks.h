// Checks of result matrices shared by the array tests.
#pragma once

#include "tests/support/pack_test.h"

namespace testsupport {

// Succeeds when `value` is a matrix with leading dimension = rows holding these real and
// imaginary parts; an empty `re` (`im`) asks for no real-part (imaginary-part) array.
inline ::testing::AssertionResult isMatrix(const Anyval* value, Rows re, Rows im = {}) {
  if (value->tag != kTagMatrix) return ::testing::AssertionFailure() << messageOf(value);
  const aMatrix* m = as<aMatrix>(value);
  const Rows& shape = re.size() ? re : im;
  const int rows = int(shape.size()), cols = rows ? int(shape.begin()->size()) : 0;
  if (m->rows != rows || m->cols != cols || m->ld != rows) {
    return ::testing::AssertionFailure() << m->rows << " x " << m->cols << ", ld " << m->ld;
  }
  for (auto [part, expected] : {std::pair{realPart(m), re}, std::pair{imagPart(m), im}}) {
    if (bool(part) != (expected.size() > 0)) return ::testing::AssertionFailure() << "parts";
    int i = 0;
    for (auto row : expected) {
      int j = 0;
      for (double x : row) {
        if (part(i, j) != x) return ::testing::AssertionFailure() << "at " << i << ", " << j;
        ++j;
      }
      ++i;
    }
  }
  return ::testing::AssertionSuccess();
}

// The value element (i, j) of a matrix refers to, or null when it holds a number.
inline Anyval* targetAt(const Anyval* m, int i, int j) {
  const aMatrix* matrix = as<aMatrix>(m);
  if (!matrix->re || !embedded::is(realPart(matrix)(i, j))) return nullptr;
  return embedded::target(realPart(matrix)(i, j));
}

}  // namespace testsupport
