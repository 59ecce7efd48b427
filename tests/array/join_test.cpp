// augment and stack: how blocks join, which parts the result gets, strings and nesting,
// and the exported stack overloads.
#include "array/array.h"
#include "tests/array/matrix_checks.h"

namespace {

using testsupport::isMatrix;
using testsupport::Rows;
using testsupport::targetAt;

class Join : public testsupport::PackTest {
 protected:
  // A result of a direct call, handed to the host as call() does.
  Anyval* received(Anyval* result) {
    host.allocator.adopt(result);
    return result;
  }
  Anyval* z(double re, double im = 0) { return values.scalar(re, im); }
};

// Blocks read through their leading dimension; tests/sheets/arrays_join.sheet has the
// ordinary joins and their parts.
TEST_F(Join, BlocksWithGapsBelowTheirColumns) {
  const struct {
    const char* function;
    std::vector<Anyval*> args;
    Rows re, im;  // empty: no such part
  } cases[] = {
      {"augment",
       {values.value({{1, 2}, {3, 4}}, {}, 3), values.value({{5}, {6}})},
       {{1, 2, 5}, {3, 4, 6}},
       {}},
      {"stack",
       {values.value({{1, 2}}, {{3, 4}}), values.value({{5, 6}}, {}, 4)},
       {{1, 2}, {5, 6}},
       {{3, 4}, {0, 0}}},
  };
  for (const auto& c : cases) EXPECT_TRUE(isMatrix(call(c.function, c.args), c.re, c.im));
}

TEST_F(Join, StringsAndNestedArrays) {
  Anyval* text = values.string("a");
  const Anyval* strings = call("stack", {z(1), text});
  ASSERT_EQ(strings->tag, kTagMatrix);
  EXPECT_EQ(testsupport::re(strings, 0, 0), 1.0);
  EXPECT_EQ(targetAt(strings, 1, 0), text);
  EXPECT_FALSE(as<aMatrix>(strings)->nested());

  Anyval* inner = values.value({{1}});
  const Anyval* nested = call("augment", {text, asValue(values.column({inner}))});
  ASSERT_EQ(nested->tag, kTagMatrix);
  EXPECT_EQ(targetAt(nested, 0, 1), inner);
  EXPECT_TRUE(as<aMatrix>(nested)->nested());
}

TEST_F(Join, ExportedStackTakesAnyCount) {
  Anyval* one[] = {z(5)};
  EXPECT_TRUE(isMatrix(received(stack(&host.context, one, 1)), {{5}}));
  EXPECT_ERROR(received(stack(&host.context, 1, z(5))), "too few arguments", 0, 0);
  EXPECT_TRUE(isMatrix(received(stack(&host.context, 2, z(5), z(6))), {{5}, {6}}));
}

}  // namespace
