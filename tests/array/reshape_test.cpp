// submatrix, reverse, transpose and tr: reversed ranges, ORIGIN, parts and leading
// dimensions, embedded elements and the nested flag.
#include "array/array.h"
#include "tests/array/matrix_checks.h"

namespace {

using testsupport::isMatrix;
using testsupport::Rows;
using testsupport::targetAt;

class Reshape : public testsupport::PackTest {
 protected:
  Anyval* submatrix(Anyval* a, double ir, double jr, double ic, double jc) {
    return call("submatrix", {a, z(ir), z(jr), z(ic), z(jc)});
  }
  Anyval* z(double re, double im = 0) { return values.scalar(re, im); }

  Anyval* nine = values.value({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {}, 5);
};

TEST_F(Reshape, SubmatrixBlocks) {
  const struct {
    double ir, jr, ic, jc;
    Rows expected;
  } cases[] = {
      {0, 1, 1, 2, {{2, 3}, {5, 6}}},
      {2, 0, 2, 1, {{9, 8}, {6, 5}, {3, 2}}},
      {1, 1, 0, 0, {{4}}},
      {2.9, 2, 1.5, 1, {{8}}},
  };
  for (double origin : {0.0, 1.0}) {
    setOrigin(origin);
    for (const auto& c : cases) {
      EXPECT_TRUE(isMatrix(
          submatrix(nine, c.ir + origin, c.jr + origin, c.ic + origin, c.jc + origin), c.expected));
    }
  }
  setOrigin(0);
  Anyval* complex = values.value({{1, 2}, {3, 4}}, {{5, 6}, {7, 8}}, 3);
  EXPECT_TRUE(isMatrix(submatrix(complex, 1, 0, 1, 1), {{4}, {2}}, {{8}, {6}}));
  EXPECT_TRUE(isMatrix(submatrix(values.value({}, {{5, 6}}), 0, 0, 1, 1), {}, {{6}}));
}

TEST_F(Reshape, SubmatrixOfEmbeddedElements) {
  Anyval* inner = values.value({{1, 2}});
  Anyval* text = values.string("s");
  Anyval* table = asValue(values.column({inner, text, z(2, 3)}));

  const Anyval* array = submatrix(table, 0, 0, 0, 0);
  ASSERT_EQ(array->tag, kTagMatrix);
  EXPECT_EQ(targetAt(array, 0, 0), inner);
  EXPECT_TRUE(as<aMatrix>(array)->nested());
  EXPECT_EQ(as<aMatrix>(inner)->refs, 2u);
  EXPECT_EQ(as<aMatrix>(inner)->flags, aMatrix::kReferenced);
  EXPECT_TRUE(isMatrix(submatrix(table, 2, 2, 0, 0), {{2}}, {{3}}));

  const Anyval* block = submatrix(table, 1, 0, 0, 0);
  ASSERT_EQ(block->tag, kTagMatrix);
  EXPECT_EQ(targetAt(block, 0, 0), text);
  EXPECT_TRUE(as<aMatrix>(block)->nested());
  EXPECT_EQ(as<aMatrix>(inner)->refs, 2u) << "a block counts no reference";

  table = values.value({{7}, {8}});
  as<aMatrix>(table)->flags |= aMatrix::kNested;
  EXPECT_FALSE(as<aMatrix>(submatrix(table, 0, 1, 0, 0))->nested());
}

TEST_F(Reshape, ReverseAndTranspose) {
  EXPECT_TRUE(isMatrix(
      call("reverse", {values.value({{1, 2}, {3, 4}, {5, 6}}, {{7, 8}, {9, 0}, {1, 2}}, 4)}),
      {{5, 6}, {3, 4}, {1, 2}}, {{1, 2}, {9, 0}, {7, 8}}));
  Anyval* row = values.value({{1, 2, 3}});
  EXPECT_EQ(call("reverse", {row}), row);
  Anyval* empty = asValue(host.allocator.matrix(2, 2, false, false));
  EXPECT_EQ(call("reverse", {empty}), empty);

  EXPECT_TRUE(isMatrix(call("transpose", {values.value({{1, 2, 3}}, {{4, 5, 6}}, 2)}),
                       {{1}, {2}, {3}}, {{4}, {5}, {6}}));
  EXPECT_TRUE(isMatrix(call("transpose", {values.value({}, {{1, 2}})}), {}, {{1}, {2}}));

  Anyval* inner = values.value({{1}});
  aMatrix* nested = values.column({inner, values.string("s")});
  const Anyval* reversed = call("reverse", {asValue(nested)});
  EXPECT_EQ(targetAt(reversed, 1, 0), inner);
  EXPECT_FALSE(as<aMatrix>(reversed)->nested());
  const Anyval* transposed = transpose(&host.context, nested);
  EXPECT_EQ(targetAt(transposed, 0, 0), inner);
  EXPECT_TRUE(as<aMatrix>(transposed)->nested());

  for (const char* name : {"reverse", "transpose"}) {
    EXPECT_ERROR(call(name, {z(1)}), "must be array", 0, 1);
  }
}

TEST_F(Reshape, Trace) {
  const struct {
    Anyval* a;
    double re, im;
  } sums[] = {
      {nine, 15, 0},
      {values.value({{1, 2}, {3, 4}}, {{5, 6}, {7, 8}}), 5, 13},
      {values.value({}, {{5, 6}, {7, 8}}), 0, 13},
      {asValue(host.allocator.matrix(2, 2, false, false)), 0, 0},
  };
  for (const auto& c : sums) {
    const Anyval* t = call("tr", {c.a});
    ASSERT_EQ(t->tag, kTagScalar);
    EXPECT_EQ(as<aComplex>(t)->re, c.re);
    EXPECT_EQ(as<aComplex>(t)->im, c.im);
  }
  EXPECT_ERROR(call("tr", {values.value({{1, 2}})}), "must be square", 0, 1);
  EXPECT_ERROR(call("tr", {asValue(values.column({nine}))}), "may not be nested", 0, 1);
  EXPECT_ERROR(call("tr", {values.string("s")}), "must be array", 0, 1);
}

}  // namespace
