// One part array of a matrix (its real or its imaginary parts) seen through the leading
// dimension: element (i, j), both from 0, is data[i + j * ld]. Matrices the host passes
// may have ld > rows; the rows in the gap are never touched.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/records.h"

class PartView {
 public:
  PartView() = default;
  PartView(double* data, int32_t ld) : data_(data), ld_(ld) {}

  double& operator()(int32_t i, int32_t j) const { return data_[i + ptrdiff_t{j} * ld_]; }
  double* column(int32_t j) const { return data_ + ptrdiff_t{j} * ld_; }
  double* data() const { return data_; }
  int32_t ld() const { return ld_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  double* data_ = nullptr;
  int32_t ld_ = 0;
};

inline PartView realPart(const aMatrix* m) {
  return {m->re, m->ld};
}
inline PartView imagPart(const aMatrix* m) {
  return {m->im, m->ld};
}

// Number of elements of a rows x cols matrix, as the size of a part array.
inline size_t elementCount(const aMatrix* m) {
  return static_cast<size_t>(m->rows) * static_cast<size_t>(m->cols);
}
