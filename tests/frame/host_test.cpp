// The stand-in host: what it reclaims, what it adopts, and how it fails on request.
#include "pack/heap.h"
#include "tests/support/pack_test.h"

namespace {

using testsupport::PackTest;

class StandInHost : public PackTest {};

TEST_F(StandInHost, CollectsWhatNoRootReachesAndAdoptsPackHeapArrays) {
  aMatrix* kept = values.matrix({{1, 2}});
  aString* text = host.allocator.string("held by the matrix");
  kept->re[1] = embedded::make(asValue(text));
  values.matrix({{3}});  // garbage
  double* array = heap::allocateArray<double>(4);
  aMatrix* adopted = aMatrix::mk(host.context.allocator, 2, 2, array, nullptr, 32);

  std::vector<Anyval*> roots{asValue(kept), asValue(adopted)};
  EXPECT_EQ(host.allocator.collect(roots), 4u) << "the 1 x 1 matrix and its array, TOL and ORIGIN";
  EXPECT_TRUE(host.allocator.unreachable(roots).empty());
  host.allocator.release(asValue(adopted));  // frees the adopted array too
  EXPECT_EQ(host.allocator.collect({}), 3u) << "kept, its array and its string";
  EXPECT_EQ(host.allocator.outstanding(), 0u);
}

TEST_F(StandInHost, FailsTheRequestedAllocationOnly) {
  host.allocator.failNth(2, sheet::Allocator::Failure::kNullBlock);
  EXPECT_NE(aMatrix::mkDbl(host.context.allocator, 3), nullptr);
  EXPECT_EQ(aMatrix::mkDbl(host.context.allocator, 3), nullptr);
  EXPECT_NE(aMatrix::mkDbl(host.context.allocator, 3), nullptr);
  EXPECT_TRUE(host.allocator.failureHappened());
  EXPECT_EQ(host.allocator.requestsSinceArmed(), 3);
}

TEST_F(StandInHost, EvaluatorAppliesFunctionsAndRecordsItsSlots) {
  Anyval* f = host.evaluator.functionValue([&](std::span<Anyval* const> args) {
    return values.scalar(as<aComplex>(args[0])->re + as<aComplex>(args[1])->re);
  });
  aComplex i{kTagScalar, 0, 2, 0}, j{kTagScalar, 0, 3, 0};
  sCons second{&j, nullptr}, first{&i, &second};
  Anyval* result = nullptr;
  host.context.evaluator->table->apply(host.context.evaluator, f, &first, &result);
  EXPECT_REAL_SCALAR(result, 5.0);
  host.evaluator.interruptAfter(2);
  EXPECT_EQ(host.context.evaluator->table->pollInterrupt(host.context.evaluator, 1), 0);
  EXPECT_EQ(host.context.evaluator->table->pollInterrupt(host.context.evaluator, 1), 1);
  host.context.evaluator->table->release(host.context.evaluator, &result);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(host.evaluator.calls(), (std::vector<int>{3, 10, 10, 11}));
}

}  // namespace
