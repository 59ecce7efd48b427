// identity and diag beyond what a worksheet shows: the exported identity overloads, a
// leading dimension larger than the rows, and strings placed by reference.
#include "array/array.h"
#include "tests/array/matrix_checks.h"

namespace {

using testsupport::isMatrix;
using testsupport::targetAt;

class IdentityDiag : public testsupport::PackTest {};

// The table row's results and messages are in tests/sheets/arrays.sheet.
TEST_F(IdentityDiag, ExportedIdentity) {
  EXPECT_TRUE(isMatrix(asValue(identity(&host.context, 2)), {{1, 0}, {0, 1}}));
  EXPECT_ERROR(asValue(identity(&host.context, host.allocator.scalar(-1))), "domain error", 0, 1);
}

TEST_F(IdentityDiag, Diag) {
  EXPECT_TRUE(isMatrix(call("diag", {values.value({{1}, {2}}, {{3}, {4}}, 3)}), {{1, 0}, {0, 2}},
                       {{3, 0}, {0, 4}}));

  Anyval* text = values.string("x");
  aMatrix* strings = values.column({text, text});
  const Anyval* d = call("diag", {asValue(strings)});
  ASSERT_EQ(d->tag, kTagMatrix);
  EXPECT_EQ(targetAt(d, 1, 1), text);
  EXPECT_EQ(testsupport::re(d, 1, 0), 0.0);
  EXPECT_FALSE(as<aMatrix>(d)->nested());
}

}  // namespace
