// identity and diag, through the table and through the exported identity overloads.
#include "array/array.h"
#include "tests/array/matrix_checks.h"

namespace {

using testsupport::isMatrix;
using testsupport::targetAt;

class IdentityDiag : public testsupport::PackTest {};

TEST_F(IdentityDiag, Identity) {
  EXPECT_TRUE(isMatrix(call("identity", {values.scalar(3)}), {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
  const Anyval* largest = call("identity", {values.scalar(4096)});
  ASSERT_EQ(largest->tag, kTagMatrix);
  EXPECT_EQ(realPart(as<aMatrix>(largest))(4095, 4095), 1.0);

  const std::pair<Anyval*, const char*> refused[] = {
      {values.scalar(4097), "size too large"},  {values.scalar(0), "domain error"},
      {values.scalar(-3), "domain error"},      {values.scalar(2.5), "must be integer"},
      {values.scalar(2, 1), "must be integer"}, {values.value({{3}}), "non-scalar value"},
  };
  for (auto [n, message] : refused) EXPECT_ERROR(call("identity", {n}), message, 0, 1);

  EXPECT_TRUE(isMatrix(asValue(identity(&host.context, 2)), {{1, 0}, {0, 1}}));
  EXPECT_ERROR(asValue(identity(&host.context, host.allocator.scalar(-1))), "domain error", 0, 1);
}

TEST_F(IdentityDiag, Diag) {
  EXPECT_TRUE(isMatrix(call("diag", {values.value({{1}, {2}}, {{3}, {4}}, 3)}), {{1, 0}, {0, 2}},
                       {{3, 0}, {0, 4}}));
  EXPECT_TRUE(isMatrix(call("diag", {values.value({}, {{5}, {6}})}), {}, {{5, 0}, {0, 6}}));
  for (Anyval* v : {values.value({{1, 2}}), values.scalar(1)}) {
    EXPECT_ERROR(call("diag", {v}), "must be vector", 0, 1);
  }

  Anyval* text = values.string("x");
  aMatrix* strings = values.column({text, text});
  const Anyval* d = call("diag", {asValue(strings)});
  ASSERT_EQ(d->tag, kTagMatrix);
  EXPECT_EQ(targetAt(d, 1, 1), text);
  EXPECT_EQ(testsupport::re(d, 1, 0), 0.0);
  EXPECT_FALSE(as<aMatrix>(d)->nested());
}

}  // namespace
