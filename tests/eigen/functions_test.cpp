// eigenvec, genvals and genvecs called through the table with what a worksheet cannot
// write: leading dimensions larger than the row count, matrices without a real-part
// array, empty matrices. The golden sheets cover ordinary results and messages.
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

class EigenFunctions : public LinalgTest {
 protected:
  Anyval* empty() { return asValue(host.allocator.matrix(0, 0, true, false)); }
  // A real matrix whose real-part array is absent: all zeros.
  Anyval* zeros(int n) { return asValue(host.allocator.matrix(n, n, false, false)); }
};

TEST_F(EigenFunctions, ResultsReadArgumentsThroughTheirLayout) {
  const struct {
    const char* what;
    Anyval* result;
    Anyval* expected;
  } cases[] = {
      // The gap rows (NaN) are never read.
      {"eigenvec, ld 4",
       call("eigenvec", {values.value({{2, 0}, {0, 3}}, {}, 4), values.scalar(2)}),
       call("eigenvec", {values.value({{2, 0}, {0, 3}}), values.scalar(2)})},
      {"eigenvec, imaginary only",
       call("eigenvec", {values.value({}, {{2, 0}, {0, 3}}), values.scalar(0, 2)}),
       call("eigenvec", {values.value({{0, 0}, {0, 0}}, {{2, 0}, {0, 3}}), values.scalar(0, 2)})},
      {"genvals, ld 3",
       call("genvals",
            {values.value({{1, 2}, {3, 4}}, {}, 3), values.value({{2, 0}, {1, 1}}, {}, 5)}),
       call("genvals", {values.value({{1, 2}, {3, 4}}), values.value({{2, 0}, {1, 1}})})},
      {"genvecs, ld 3",
       call("genvecs",
            {values.value({{1, 2}, {3, 4}}, {}, 3), values.value({{2, 0}, {1, 1}}, {}, 5)}),
       call("genvecs", {values.value({{1, 2}, {3, 4}}), values.value({{2, 0}, {1, 1}})})},
      // No real-part array: zeros.
      {"genvals, M without parts", call("genvals", {zeros(2), values.value({{1, 0}, {0, 1}})}),
       call("genvals", {values.value({{0, 0}, {0, 0}}), values.value({{1, 0}, {0, 1}})})},
      {"genvals, 1 x 1 M without parts", call("genvals", {zeros(1), values.value({{5}})}),
       values.value({{0}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.result->tag, kTagMatrix) << testsupport::messageOf(c.result);
    ASSERT_EQ(c.expected->tag, kTagMatrix);
    EXPECT_EQ(elements(c.result), elements(c.expected));
  }
}

TEST_F(EigenFunctions, EmptyMatrices) {
  EXPECT_ERROR(call("eigenvec", {empty(), values.scalar(1)}), "singularity", 0, 0);
  EXPECT_ERROR(call("genvals", {empty(), empty()}), "invalid dimension", 0, 0);
  EXPECT_ERROR(call("genvecs", {empty(), empty()}), "invalid dimension", 0, 0);
}

}  // namespace
