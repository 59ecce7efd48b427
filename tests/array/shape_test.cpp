// rows, cols, length and last, called through the table as a host calls them.
#include "tests/support/pack_test.h"

namespace {

using testsupport::PackTest;

class Shape : public PackTest {};

TEST_F(Shape, RowsAndColsOfEveryKindOfArgument) {
  aString* text = host.allocator.string("abc");
  const struct {
    const char* what;
    Anyval* argument;
    double rows, cols;
  } cases[] = {
      {"scalar", values.scalar(5), 0, 0},
      {"3 x 4", values.value({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}), 3, 4},
      {"leading dimension 7", values.value({{1, 2}, {3, 4}, {5, 6}}, {}, 7), 3, 2},
      {"imaginary only", values.value({}, {{1, 2, 3}}), 1, 3},
      {"strings, nested", asValue(values.column({asValue(text), values.value({{1}})})), 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_REAL_SCALAR(call("rows", {c.argument}), c.rows);
    EXPECT_REAL_SCALAR(call("cols", {c.argument}), c.cols);
  }
  for (const char* name : {"rows", "cols"}) {
    EXPECT_ERROR(call(name, {asValue(text)}), "must be array", 0, 1);
  }
}

TEST_F(Shape, LengthAndLastOfColumnVectors) {
  const struct {
    Anyval* v;
    double origin, length, last;
  } cases[] = {
      {values.value({{1}, {2}, {3}, {4}, {5}}), 1, 5, 5},
      {values.value({{1}, {2}, {3}, {4}, {5}}), 0, 5, 4},
      {values.value({{7}}), 0, 1, 0},
      {values.value({{7}}), -3, 1, -3},
      {values.value({{1}, {2}}, {}, 6), 0, 2, 1},
      {values.value({}, {{1}, {2}, {3}}), 1, 3, 3},
  };
  for (const auto& c : cases) {
    setOrigin(c.origin);
    EXPECT_REAL_SCALAR(call("length", {c.v}), c.length);
    EXPECT_REAL_SCALAR(call("last", {c.v}), c.last);
  }
}

TEST_F(Shape, LastIgnoresTheImaginaryPartOfOrigin) {
  setOrigin(0);
  Anyval* v = values.value({{1}, {2}, {3}, {4}, {5}});
  Anyval* result = pack.call(pack.find("last"), &host.context, std::vector<Anyval*>{v},
                             {values.scalar(0.001), values.scalar(2, 3)});
  EXPECT_REAL_SCALAR(result, 6.0);
}

TEST_F(Shape, LengthAndLastRefuseAnythingButAColumn) {
  Anyval* rowVector = values.value({{1, 2, 3}});
  Anyval* wide = values.value({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
  for (Anyval* notColumn : {rowVector, wide}) {
    EXPECT_ERROR(call("length", {notColumn}), "must be vector", 1, 0);
    EXPECT_ERROR(call("last", {notColumn}), "must be vector", 0, 1);
  }
  for (Anyval* notMatrix : {values.scalar(5), values.string("abc")}) {
    EXPECT_ERROR(call("length", {notMatrix}), "must be vector", 0, 1);
    EXPECT_ERROR(call("last", {notMatrix}), "must be vector", 0, 1);
  }
}

}  // namespace
