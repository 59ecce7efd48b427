// rows, cols, length and last on what a worksheet cannot write: matrices whose leading
// dimension exceeds their rows, and an ORIGIN with an imaginary part. The golden sheet
// tests/sheets/shapes.sheet covers the ordinary arguments and the errors.
#include "tests/support/pack_test.h"

namespace {

using testsupport::PackTest;

class Shape : public PackTest {};

TEST_F(Shape, ReadTheHeaderNotTheLeadingDimension) {
  Anyval* wide = values.value({{1, 2}, {3, 4}, {5, 6}}, {}, 7);
  EXPECT_REAL_SCALAR(call("rows", {wide}), 3);
  EXPECT_REAL_SCALAR(call("cols", {wide}), 2);
  Anyval* column = values.value({{1}, {2}}, {}, 6);
  EXPECT_REAL_SCALAR(call("length", {column}), 2);
  setOrigin(0);
  EXPECT_REAL_SCALAR(call("last", {column}), 1);
}

TEST_F(Shape, LastIgnoresTheImaginaryPartOfOrigin) {
  setOrigin(0);
  Anyval* v = values.value({{1}, {2}, {3}, {4}, {5}});
  Anyval* result = pack.call(pack.find("last"), &host.context, std::vector<Anyval*>{v},
                             {values.scalar(0.001), values.scalar(2, 3)});
  EXPECT_REAL_SCALAR(result, 6.0);
}

}  // namespace
