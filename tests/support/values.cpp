#include "tests/support/values.h"

#include <cstring>
#include <limits>

namespace testsupport {

aMatrix* Values::blank(int rows, int cols, bool withRe, bool withIm, int ld) {
  aMatrix* m = allocator_.matrix(rows, cols, withRe, withIm, ld);
  for (PartView part : {realPart(m), imagPart(m)}) {
    if (!part) continue;
    for (int j = 0; j < cols; ++j) {
      for (int i = rows; i < m->ld; ++i) part(i, j) = std::numeric_limits<double>::quiet_NaN();
    }
  }
  return m;
}

aMatrix* Values::matrix(Rows re, Rows im, int ld) {
  const Rows& shape = re.size() ? re : im;
  const int rows = static_cast<int>(shape.size());
  const int cols = rows ? static_cast<int>(shape.begin()->size()) : 0;
  aMatrix* m = blank(rows, cols, re.size() > 0, im.size() > 0, ld);
  auto fill = [&](PartView part, Rows values) {
    if (!part) return;
    int i = 0;
    for (auto row : values) {
      int j = 0;
      for (double x : row) part(i, j++) = x;
      ++i;
    }
  };
  fill(realPart(m), re);
  fill(imagPart(m), im);
  return m;
}

Anyval* Values::value(int rows, int cols, const std::function<double(int, int)>& element) {
  aMatrix* m = allocator_.matrix(rows, cols, true, false);
  for (int j = 0; j < cols; ++j) {
    for (int i = 0; i < rows; ++i) realPart(m)(i, j) = element(i, j);
  }
  return asValue(m);
}

aMatrix* Values::column(std::initializer_list<Anyval*> elements) {
  aMatrix* m = allocator_.matrix(static_cast<int>(elements.size()), 1, true, false);
  int i = 0;
  for (Anyval* element : elements) {
    m->re[i++] = embedded::make(element);
    if (isMatrix(element)) m->flags |= aMatrix::kNested;
  }
  return m;
}

Anyval* Values::record(uint32_t tag, size_t bytes) {
  void* block = allocator_.hostRecord(bytes);
  std::memset(block, 0, bytes);
  Anyval* value = static_cast<Anyval*>(block);
  value->tag = tag;
  return value;
}

Anyval* Values::error(const char* message, int position) {
  return asValue(aError::mk(allocator_.com(), message, 0, position, nullptr, nullptr));
}

std::string messageOf(const Anyval* value) {
  if (value->tag != kTagError) return "(not an error)";
  const aString* message = as<aError>(value)->message;
  return message ? message->text : "(no message)";
}

int firstOf(const Anyval* value) {
  return static_cast<int>(as<aError>(value)->first);
}

int positionOf(const Anyval* value) {
  return static_cast<int>(as<aError>(value)->position);
}

double re(const Anyval* m, int i, int j) {
  const aMatrix* matrix = as<aMatrix>(m);
  return matrix->re ? realPart(matrix)(i, j) : 0.0;
}

double im(const Anyval* m, int i, int j) {
  const aMatrix* matrix = as<aMatrix>(m);
  return matrix->im ? imagPart(matrix)(i, j) : 0.0;
}

}  // namespace testsupport
