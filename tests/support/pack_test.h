// A test fixture that plays the host: builds argument values through the stand-in
// allocator, calls table rows through the loader on the linked-in pack, and checks after
// every call that the pack left no temporary behind.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "host/embedded.h"
#include "host/part_view.h"
#include "pack/exports.h"
#include "sheet/host.h"
#include "sheet/loader.h"

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
  // An n x 1 column of values given as embedded elements, with the nested flag when any
  // of them is a matrix.
  aMatrix* column(std::initializer_list<Anyval*> elements);
  // A worksheet function value that the evaluator applies by calling `f`.
  Anyval* function(sheet::Evaluator::Function f, uint32_t tag = kTagFunction2) {
    return evaluator_->functionValue(std::move(f), tag);
  }

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

class PackTest : public ::testing::Test {
 protected:
  PackTest();

  // Calls the worksheet function `name` with TOL and ORIGIN as set below, and checks that
  // every block the call allocated is reachable from its arguments or its result.
  Anyval* call(const char* name, std::vector<Anyval*> args);

  void setTol(double tol) { tol_ = values.scalar(tol); }
  void setOrigin(double origin) { origin_ = values.scalar(origin); }

  sheet::Host host;
  Values values{host.allocator, &host.evaluator};
  sheet::PackLibrary pack;

 private:
  Anyval* tol_;
  Anyval* origin_;
};

// Expects an error value with this message and position pair.
#define EXPECT_ERROR(value, message, first, position)   \
  do {                                                  \
    const Anyval* v_ = (value);                         \
    ASSERT_EQ(v_->tag, kTagError);                      \
    EXPECT_EQ(::testsupport::messageOf(v_), message);   \
    EXPECT_EQ(::testsupport::firstOf(v_), first);       \
    EXPECT_EQ(::testsupport::positionOf(v_), position); \
  } while (0)

// Expects a real scalar with this value.
#define EXPECT_REAL_SCALAR(value, expected)    \
  do {                                         \
    const Anyval* v_ = (value);                \
    ASSERT_EQ(v_->tag, kTagScalar);            \
    EXPECT_EQ(as<aComplex>(v_)->re, expected); \
    EXPECT_EQ(as<aComplex>(v_)->im, 0.0);      \
  } while (0)

}  // namespace testsupport
