// Error values: message texts and both integers of the position pair, whichever way the
// pack builds them.
#include <cstring>

#include "pack/errors.h"
#include "pack/ownership.h"
#include "tests/support/pack_test.h"

namespace {

using testsupport::PackTest;

class ErrorValues : public PackTest {};

TEST_F(ErrorValues, CarryMessageAndBothPositionIntegers) {
  UfnCallContext* ctx = &host.context;
  aString message{kTagString, "from a string value", 19};
  const struct {
    Anyval* error;
    const char* message;
    int first, position;
  } cases[] = {
      {errorValue(ctx, "must be square", 1), "must be square", 0, 1},
      {errorValue(ctx, "incompatible dimension", 2, 0), "incompatible dimension", 2, 0},
      {mkError(ctx, "overflow", 0, 0), "overflow", 0, 0},
      {mkError(ctx, "illegal context", 1, 0), "illegal context", 1, 0},
      {asValue(patch_error(ctx, "must be array", values.string("x"), 1)), "must be array", 0, 1},
      {asValue(aError::mk(ctx->allocator, &message, 0, 3, nullptr)), "from a string value", 0, 3},
  };
  for (const auto& c : cases) {
    EXPECT_ERROR(c.error, c.message, c.first, c.position);
    EXPECT_EQ(as<aError>(c.error)->message->length, std::strlen(c.message));
  }
}

TEST_F(ErrorValues, AreTheHostsOutOfMemoryValueWhenNoBlockCanBeHad) {
  host.allocator.failNth(1, sheet::Allocator::Failure::kNullBlock);
  EXPECT_EQ(errorValue(&host.context, "must be square", 1), outOfMemoryValue());
  host.allocator.failNth(2, sheet::Allocator::Failure::kNullBlock);
  EXPECT_EQ(errorValue(&host.context, "must be square", 1), outOfMemoryValue());
}

TEST_F(ErrorValues, HostFailureIsThrownAsBadAlloc) {
  host.allocator.failNth(1, sheet::Allocator::Failure::kNegativeResult);
  try {
    errorValue(&host.context, "must be square", 1);
    FAIL() << "no exception";
  } catch (const std::bad_alloc& e) {
    EXPECT_STREQ(e.what(), "gc: memory allocation failed");
  }
}

}  // namespace
