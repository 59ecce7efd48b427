// qr and rref with what a worksheet cannot write: leading dimensions larger than the row
// count, matrices without part arrays, and empty ones. The golden sheets cover results
// and messages of ordinary arguments.
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

class FactoringFunctions : public LinalgTest {};

TEST_F(FactoringFunctions, LeadingDimensionBeyondTheRows) {
  const testsupport::Rows rows = {{0, 1, 2}, {3, 4, 5}};
  for (const char* name : {"qr", "rref"}) {
    SCOPED_TRACE(name);
    Anyval* packed = call(name, {values.value(rows)});
    Anyval* gapped = call(name, {values.value(rows, {}, 5)});
    ASSERT_EQ(packed->tag, kTagMatrix);
    EXPECT_EQ(elements(gapped), elements(packed));
  }
}

TEST_F(FactoringFunctions, MatricesWithoutNumbers) {
  // Without part arrays: rref gives the matrix back, qr factors it as zeros.
  aMatrix* none = host.allocator.matrix(2, 3, false, false);
  EXPECT_EQ(call("rref", {asValue(none)}), asValue(none));
  Anyval* qr = call("qr", {asValue(none)});
  ASSERT_EQ(qr->tag, kTagMatrix);
  EXPECT_EQ(elements(qr), fromHost(values.matrix({{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}})).a);

  // Empty ones.
  for (auto [rows, cols] : {std::pair{0, 0}, {0, 2}, {2, 0}}) {
    SCOPED_TRACE(std::to_string(rows) + " x " + std::to_string(cols));
    for (const char* name : {"qr", "rref"}) {
      Anyval* result = call(name, {asValue(host.allocator.matrix(rows, cols, true, false))});
      ASSERT_EQ(result->tag, kTagMatrix) << name;
      EXPECT_EQ(as<aMatrix>(result)->rows, rows) << name;
      EXPECT_EQ(as<aMatrix>(result)->cols, name[0] == 'q' ? rows + cols : cols) << name;
    }
  }
}

}  // namespace
