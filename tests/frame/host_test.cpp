// The stand-in host: what it reclaims, what it adopts, what it holds, and how it fails.
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
  const size_t blocks = host.allocator.outstanding();
  EXPECT_EQ(host.allocator.unreachable(roots).size(), 4u);
  EXPECT_EQ(host.allocator.outstanding(), blocks) << "a query takes nothing in";
  host.allocator.adopt(asValue(adopted));
  EXPECT_EQ(host.allocator.outstanding(), blocks + 1) << "the pack's array";
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

// Values held by the session live until their last reference goes, whatever they share;
// collection looks only at the temporaries made since the given point.
TEST_F(StandInHost, HoldsValuesUntilTheLastReferenceGoes) {
  sheet::Allocator& allocator = host.allocator;
  const size_t start = allocator.outstanding();
  Anyval* text = values.string("shared");
  Anyval* numbers = values.value({{1, 2}}, {{3, 4}});
  aMatrix* outer = values.column({text, numbers, text});
  double* array = heap::allocateArray<double>(2);
  Anyval* fromPack = asValue(aMatrix::mk(host.context.allocator, 2, 1, array, nullptr, 16));
  allocator.adopt(fromPack);
  const uint64_t point = allocator.historyPoint();
  values.value({{5}});  // a temporary made after the point

  allocator.hold(asValue(outer));
  allocator.hold(numbers);  // held twice: by outer and by the session
  allocator.hold(fromPack);
  EXPECT_TRUE(allocator.held(text));
  EXPECT_EQ(allocator.collect({}, point), 2u) << "the temporary and its array";
  allocator.letGo(asValue(outer));
  EXPECT_FALSE(allocator.held(text));
  EXPECT_TRUE(allocator.held(numbers));
  EXPECT_EQ(allocator.outstanding(), start + 5) << "numbers with its arrays, fromPack with its";
  allocator.release(numbers);
  EXPECT_EQ(allocator.outstanding(), start + 5) << "release leaves held values alone";
  allocator.letGo(numbers);
  allocator.letGo(fromPack);
  EXPECT_EQ(allocator.outstanding(), start);
}

TEST_F(StandInHost, WalksValuesNestedToAnyDepth) {
  sheet::Allocator& allocator = host.allocator;
  const size_t start = allocator.outstanding();
  const uint64_t point = allocator.historyPoint();
  Anyval* value = values.scalar(1);
  for (int level = 0; level < 100000; ++level) value = asValue(values.column({value}));
  EXPECT_TRUE(allocator.unreachable(std::vector{value}, point).empty());
  allocator.adopt(value);
  allocator.hold(value);
  EXPECT_EQ(allocator.collect({}, point), 0u);
  allocator.letGo(value);
  EXPECT_EQ(allocator.outstanding(), start);
}

// The slots answer failure with the host's out-of-memory result or value, never an exception.
TEST_F(StandInHost, SlotsNeverThrow) {
  Anyval* throws = host.evaluator.functionValue(
      [](std::span<Anyval* const>) -> Anyval* { throw std::bad_alloc(); });
  aComplex i{kTagScalar, 0, 2, 0};
  sCons args{&i, nullptr};
  Anyval* result = nullptr;
  host.context.evaluator->table->apply(host.context.evaluator, throws, &args, &result);
  EXPECT_EQ(result, asValue(sError_OutOfMemory));
#if !defined(__SANITIZE_ADDRESS__)  // which reports an impossible size instead of failing it
  double* array = nullptr;
  EXPECT_LT(host.context.allocator->table->allocDoubles(host.context.allocator, &array, UINT32_MAX),
            0);
  EXPECT_EQ(array, nullptr);
#endif
}

}  // namespace
