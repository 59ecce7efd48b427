// The checks every call is held to catch each broken promise: stand-in calls that break one
// each, next to calls that keep them all in the ways the pack legitimately does.
#include <cctype>
#include <cstring>
#include <utility>

#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/ownership.h"
#include "tests/support/pack_test.h"

namespace {

using testsupport::CallSetting;
using testsupport::checkedCall;
using testsupport::PackTest;

volatile double one = 1.0, three = 3.0;
// Scratch a call keeps, given back after the checks.
void* kept = nullptr;

struct Case {
  const char* name;
  // The call, given the context and the argument: a 2 x 2 real matrix whose element (1, 0)
  // refers to a string and whose element (1, 1) refers to a 1 x 1 matrix.
  Anyval* (*call)(UfnCallContext* ctx, Anyval* argument);
  // A problem the checks must report, or null when there must be none.
  const char* problem;
  bool hostFailures = false;
};

aMatrix* embeddedMatrix(Anyval* argument) {
  return as<aMatrix>(embedded::target(as<aMatrix>(argument)->re[3]));
}

const Case kCases[] = {
    {"a scalar", [](UfnCallContext* ctx, Anyval*) { return scalarValue(ctx, 1.0); }, nullptr},
    {"a matrix over heap arrays",
     [](UfnCallContext* ctx, Anyval*) {
       return asValue(newHeapMatrix(ctx, 2, 3, Fill::kZeros, Fill::kZeros));
     },
     nullptr},
    {"a heap matrix released through the evaluator",
     [](UfnCallContext* ctx, Anyval*) {
       releaseValue(ctx, asValue(newHeapMatrix(ctx, 2, 3, Fill::kZeros, Fill::kAbsent)));
       return scalarValue(ctx, 1.0);
     },
     nullptr},
    {"the argument itself", [](UfnCallContext*, Anyval* argument) { return argument; }, nullptr},
    {"a counted reference to an embedded matrix",
     [](UfnCallContext* ctx, Anyval* argument) {
       heap::Array<double> re(1), im;
       re[0] = embedded::make(asValue(embeddedMatrix(argument)));
       embeddedMatrix(argument)->refs += 1;
       embeddedMatrix(argument)->flags |= aMatrix::kReferenced;
       return resultMatrix(ctx, 1, 1, re, im, aMatrix::kNested);
     },
     nullptr},
    {"a reference counted without a reference",
     [](UfnCallContext* ctx, Anyval* argument) {
       embeddedMatrix(argument)->refs += 1;
       return scalarValue(ctx, 1.0);
     },
     "argument 1 (1, 1) header changed"},
    {"an inexact flag raised",
     [](UfnCallContext* ctx, Anyval*) {
       volatile double third = one / three;
       return scalarValue(ctx, third);
     },
     "floating-point state"},
    {"the x87 precision changed",
     [](UfnCallContext* ctx, Anyval*) {
       const uint16_t control = 0x027F;
       asm volatile("fldcw %0" : : "m"(control));
       return scalarValue(ctx, 1.0);
     },
     "floating-point state"},
    {"an element written",
     [](UfnCallContext* ctx, Anyval* argument) {
       as<aMatrix>(argument)->re[0] = 7.0;
       return scalarValue(ctx, 1.0);
     },
     "argument 1 real part changed"},
    {"an embedded string written",
     [](UfnCallContext* ctx, Anyval* argument) {
       auto* text = as<aString>(embedded::target(as<aMatrix>(argument)->re[1]));
       const_cast<char*>(text->text)[0] = 'X';
       return scalarValue(ctx, 1.0);
     },
     "argument 1 (1, 0) text changed"},
    {"scratch kept",
     [](UfnCallContext* ctx, Anyval*) {
       kept = heap::allocate(16);
       return scalarValue(ctx, 1.0);
     },
     "the pack's heap grew by 1 blocks, 0 of them handed over"},
    {"a host array kept",
     [](UfnCallContext* ctx, Anyval*) {
       hostArray(ctx, 4);
       return scalarValue(ctx, 1.0);
     },
     "left behind 32 bytes from slot 60"},
    {"the argument released",
     [](UfnCallContext* ctx, Anyval* argument) {
       ctx->evaluator->table->release(ctx->evaluator, &argument);
       return scalarValue(ctx, 1.0);
     },
     "released a value it was given"},
    {"a message of its own",
     [](UfnCallContext* ctx, Anyval*) { return errorValue(ctx, "no such message", 0); },
     "is not the pack's"},
    {"a position beyond the arguments",
     [](UfnCallContext* ctx, Anyval*) { return errorValue(ctx, msg::kMustBeSquare, 2); },
     "with the position pair (0, 2) for 1 arguments"},
    {"a leading dimension below the rows",
     [](UfnCallContext* ctx, Anyval*) {
       aMatrix* m = newHostMatrix(ctx, 2, 2);
       m->ld = 1;
       return asValue(m);
     },
     "with leading dimension 1"},
    {"a host allocation failure, not asked for",
     [](UfnCallContext*, Anyval*) -> Anyval* { throw HostAllocFailure(); },
     "std::bad_alloc came out"},
    {"a host allocation failure, asked for",
     [](UfnCallContext*, Anyval*) -> Anyval* { throw HostAllocFailure(); }, nullptr, true},
    {"a message thrown", [](UfnCallContext*, Anyval*) -> Anyval* { throw msg::kOutOfMemory; },
     "an exception came out"},
};

class CallChecks : public PackTest, public ::testing::WithParamInterface<Case> {};

TEST_P(CallChecks, ReportWhatACallBroke) {
  const Case& c = GetParam();
  aMatrix* m = values.matrix({{1, 2}, {3, 4}});
  m->re[1] = embedded::make(values.string("text"));
  m->re[3] = embedded::make(values.value({{5}}));
  m->flags |= aMatrix::kNested;
  Anyval* argument = asValue(m);
  CallSetting setting{std::span(&argument, 1), 1};
  setting.hostFailures = c.hostFailures;
  const auto outcome =
      checkedCall(host, setting, [&](UfnCallContext* ctx) { return c.call(ctx, argument); });
  heap::release(std::exchange(kept, nullptr));
  if (!c.problem) {
    EXPECT_TRUE(outcome.ok()) << outcome.report();
  } else {
    EXPECT_NE(outcome.report().find(c.problem), std::string::npos) << outcome.report();
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, CallChecks, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
});

}  // namespace
