// max and min beyond what a worksheet shows: a leading dimension larger than the rows, and
// which string value is returned (the value itself, the first of equals, in the order
// elements are met).
#include "tests/array/matrix_checks.h"

namespace {

class Extremes : public testsupport::PackTest {
 protected:
  Anyval* z(double re, double im = 0) { return values.scalar(re, im); }
};

// tests/sheets/arrays_extremes.sheet has the ordinary numbers; here a matrix with a gap
// below its columns.
TEST_F(Extremes, NumbersThroughTheLeadingDimension) {
  const struct {
    std::vector<Anyval*> args;
    double maxRe, maxIm, minRe, minIm;
  } cases[] = {
      {{values.value({{1}, {6}}, {{-2}, {2}}, 4), z(2)}, 6, 2, 1, -2},
  };
  for (const auto& c : cases) {
    for (auto [name, re, im] : {std::tuple{"max", c.maxRe, c.maxIm}, {"min", c.minRe, c.minIm}}) {
      const Anyval* best = call(name, c.args);
      ASSERT_EQ(best->tag, kTagScalar) << testsupport::messageOf(best);
      EXPECT_EQ(as<aComplex>(best)->re, re) << name;
      EXPECT_EQ(as<aComplex>(best)->im, im) << name;
    }
  }
}

TEST_F(Extremes, StringsGiveTheStringValueItself) {
  Anyval* apple = values.string("apple");
  Anyval* ab = values.string("ab");
  Anyval* high = values.string("\xe9");
  EXPECT_EQ(call("max", {apple, high}), high) << "bytes compare as unsigned values";
  EXPECT_EQ(call("min", {apple, ab, values.string("abc")}), ab);
  Anyval* twin = values.string("apple");
  EXPECT_EQ(call("max", {apple, twin}), apple) << "the first of equals is kept";

  // The first value is read row by row, the others column by column.
  Anyval* right = values.string("z");
  Anyval* below = values.string("z");
  aMatrix* table = host.allocator.matrix(2, 2, true, false);
  for (auto [i, j, s] : {std::tuple{0, 0, apple}, {0, 1, right}, {1, 0, below}, {1, 1, ab}}) {
    realPart(table)(i, j) = embedded::make(s);
  }
  EXPECT_EQ(call("max", {asValue(table)}), right);
  EXPECT_EQ(call("max", {apple, asValue(table)}), below);
}

}  // namespace
