// Host values for tests, built through the stand-in allocator the way a host builds its own,
// and readers for the values the pack returns. Nothing here needs GoogleTest, so the fuzz
// targets use it too.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>

#include "host/embedded.h"
#include "host/part_view.h"
#include "sheet/host.h"

namespace testsupport {

using Rows = std::initializer_list<std::initializer_list<double>>;

// Builds host values in the given allocator; function values need the evaluator too.
class Values {
 public:
  explicit Values(sheet::Allocator& allocator, sheet::Evaluator* evaluator = nullptr)
      : allocator_(allocator), evaluator_(evaluator) {}

  Anyval* scalar(double re, double im = 0.0) { return asValue(allocator_.scalar(re, im)); }
  Anyval* string(const char* text) { return asValue(allocator_.string(text)); }
  // A matrix from its rows; `im` empty for a real matrix, `re` empty for an imaginary-only
  // one. `ld` > rows leaves a gap of NaNs below each column.
  aMatrix* matrix(Rows re, Rows im = {}, int ld = 0);
  Anyval* value(Rows re, Rows im = {}, int ld = 0) { return asValue(matrix(re, im, ld)); }
  // A rows x cols real matrix with element (i, j) = element(i, j).
  Anyval* value(int rows, int cols, const std::function<double(int, int)>& element);
  // A rows x cols matrix with the part arrays asked for, zero-filled, leading dimension `ld`
  // (rows when smaller) with NaNs in the gap.
  aMatrix* blank(int rows, int cols, bool withRe, bool withIm, int ld = 0);
  // An n x 1 column of values given as embedded elements, with the nested flag when any
  // of them is a matrix.
  aMatrix* column(std::initializer_list<Anyval*> elements);
  // A worksheet function value that the evaluator applies by calling `f`.
  Anyval* function(sheet::Evaluator::Function f, uint32_t tag = kTagFunction2) {
    return evaluator_->functionValue(std::move(f), tag);
  }
  // A host record of another kind: the tag, then `bytes` - 4 zero bytes.
  Anyval* record(uint32_t tag, size_t bytes);
  // An error value as the host's utility library builds it.
  Anyval* error(const char* message, int position);

 private:
  sheet::Allocator& allocator_;
  sheet::Evaluator* evaluator_;
};

// The error's message, and the two integers of its position pair.
std::string messageOf(const Anyval* value);
int firstOf(const Anyval* value);
int positionOf(const Anyval* value);

// Element (i, j) of a result matrix, real and imaginary part (0 when the part is absent).
double re(const Anyval* m, int i, int j);
double im(const Anyval* m, int i, int j);

}  // namespace testsupport
