// The floating-point guard: the caller's state comes back on every way out, faults become
// their worksheet messages, and the complex modulus keeps its extended range.
#include <cfloat>
#include <cmath>
#include <string>

#include "pack/fpguard.h"
#include "pack/guard.h"
#include "pack/messages.h"
#include "tests/support/pack_test.h"

namespace {

using testsupport::PackTest;

struct FpState {
  uint16_t x87Control;
  uint16_t x87Status;
  uint32_t mxcsr;
  bool operator==(const FpState&) const = default;
};

FpState currentState() {
  FpState s;
  asm volatile("fnstcw %0" : "=m"(s.x87Control));
  asm volatile("fnstsw %0" : "=am"(s.x87Status));
  asm volatile("stmxcsr %0" : "=m"(s.mxcsr));
  s.x87Status &= 0x3F;  // the exception flags
  return s;
}

// The callers a guard meets.
enum class Caller {
  kUnusual,          // round toward zero, 53-bit x87 precision, a stale inexact flag in MXCSR
  kUnusualX87Flags,  // the same, and a stale zero-divide flag in the x87 status word
  kStaleFlags,       // the computing state, with stale inexact, underflow and zero-divide
                     // flags in MXCSR
  kStaleInexact,     // the computing state, with a stale inexact flag in MXCSR, as most are
};
constexpr Caller kCallers[] = {Caller::kUnusual, Caller::kUnusualX87Flags, Caller::kStaleFlags,
                               Caller::kStaleInexact};

void loadCallerState(Caller caller) {
  const bool unusual = caller == Caller::kUnusual || caller == Caller::kUnusualX87Flags;
  const uint16_t control = unusual ? 0x0E7F : 0x037F;
  const uint32_t mxcsr = unusual ? 0x7FA0 : caller == Caller::kStaleFlags ? 0x1FB4 : 0x1FA0;
  const bool x87Flags = caller == Caller::kUnusualX87Flags;
  asm volatile("fninit");
  if (x87Flags) {
    volatile long double zero = 0.0L;
    volatile long double quotient = 1.0L / zero;
    (void)quotient;
  }
  asm volatile("fldcw %0" : : "m"(control));
  asm volatile("ldmxcsr %0" : : "m"(mxcsr));
}

void loadDefaultState() {
  const uint32_t mxcsr = 0x1F80;
  asm volatile("fninit");
  asm volatile("ldmxcsr %0" : : "m"(mxcsr));
}

// What a guarded call gave: its error message, or "a value".
std::string outcome(const Anyval* value) {
  return value->tag == kTagError ? std::string(testsupport::messageOf(value)) : "a value";
}

volatile double zero = 0.0, one = 1.0, big = 1e300, minusOne = -1.0;

class Guard : public PackTest {
 protected:
  void TearDown() override { loadDefaultState(); }

  // Runs `body` guarded from each caller; checks that the caller's state is back each time
  // and that every caller gets the same result. The result is the last run's; `results`
  // keeps all.
  template <class Body>
  Anyval* runGuarded(Body body) {
    const size_t first = results.size();
    for (Caller caller : kCallers) {
      loadCallerState(caller);
      const FpState before = currentState();
      results.push_back(guarded(&host.context, body));
      EXPECT_EQ(currentState(), before) << "caller " << int(caller);
      EXPECT_EQ(outcome(results.back()), outcome(results[first])) << "caller " << int(caller);
    }
    return results.back();
  }

  std::vector<Anyval*> results;
};

TEST_F(Guard, ComputesRoundingToNearestWithExtendedPrecision) {
  FpState inside{};
  runGuarded([&] {
    inside = currentState();
    return scalarValue(&host.context, 0.0);
  });
  EXPECT_EQ(inside.x87Control & 0x0F00, 0x0300) << "64-bit mantissa, round to nearest";
  EXPECT_EQ(inside.mxcsr & 0x6000, 0u) << "SSE rounds to nearest";
  EXPECT_EQ(inside.mxcsr & 0x8040, 0u) << "no flush to zero";
}

TEST_F(Guard, TurnsEachFaultIntoItsMessage) {
  const struct {
    const char* name;
    double (*compute)();
    const char* message;
  } cases[] = {
      {"zero divide", [] { return one / zero; }, "singularity"},
      {"overflow", [] { return big * big; }, "overflow"},
      {"invalid", [] { return std::sqrt(minusOne); }, "floating point error"},
      {"zero divide before invalid", [] { return zero / zero + one / zero; }, "singularity"},
      {"overflow before invalid", [] { return (big * big) - (big * big); }, "overflow"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Anyval* result = runGuarded([&] {
      volatile double x = c.compute();
      return scalarValue(&host.context, x);
    });
    EXPECT_ERROR(result, c.message, 0, 0);
  }
}

TEST_F(Guard, CatchesThrownMessagesErrorsAndExceptions) {
  EXPECT_ERROR(runGuarded([]() -> Anyval* { throw msg::kOutOfMemory; }), "out of memory", 0, 0);
  Anyval* thrown = errorValue(&host.context, "must be square", 2);
  EXPECT_EQ(runGuarded([&]() -> Anyval* { throw as<aError>(thrown); }), thrown);
  const struct {
    uint32_t code;
    const char* message;
  } codes[] = {
      {0xC000008E, "singularity"},
      {0xC0000090, "floating point error"},
      {0xC0000091, "overflow"},
      {0xC0000005, "EXCEPTION_ACCESS_VIOLATION"},
      {0xC0000093, "EXCEPTION_FLT_UNDERFLOW"},
      {0x80000003, "EXCEPTION_BREAKPOINT"},
      {0, "EXCEPTION_UNKNOWN_EXCEPTION"},
      {0xDEADBEEF, "EXCEPTION_UNKNOWN_EXCEPTION"},
  };
  for (const auto& c : codes) {
    Anyval* result = runGuarded([&]() -> Anyval* { throw SE_FPE_Exception(c.code, 0); });
    EXPECT_ERROR(result, c.message, 0, 0);
  }
}

TEST_F(Guard, LetsHostAllocationFailurePassWithTheStateRestored) {
  for (Caller caller : kCallers) {
    loadCallerState(caller);
    const FpState before = currentState();
    EXPECT_THROW(guarded(&host.context, []() -> Anyval* { throw HostAllocFailure(); }),
                 std::bad_alloc);
    EXPECT_EQ(currentState(), before);
  }
}

TEST_F(Guard, ReleasesTheResultAFaultReplaces) {
  const uint64_t before = host.allocator.historyPoint();
  Anyval* result = runGuarded([&] {
    aMatrix* m = host.allocator.matrix(2, 2, true, false);
    volatile double x = one / zero;
    m->re[0] = x;
    return asValue(m);
  });
  EXPECT_ERROR(result, "singularity", 0, 0);
  EXPECT_TRUE(host.allocator.unreachable(results, before).empty());
}

TEST(FpeException, RecordsAndClearsThePendingFlags) {
  loadDefaultState();
  volatile double x = one / zero;
  (void)x;
  SE_FPE_Exception e(kFltDivideByZero, 7);
  EXPECT_EQ(e.code(), kFltDivideByZero);
  EXPECT_EQ(e.extra(), 7u);
  EXPECT_TRUE(e.status() & fpu::kStatusZeroDivide);
  EXPECT_EQ(fpu::clearfp(), 0u) << "construction cleared the flags";
  EXPECT_FALSE(e.isOverflow());
  EXPECT_TRUE(SE_FPEOverflow_Exception(kFltOverflow, 0).isOverflow());
  if (sizeof(void*) == 4) {
    EXPECT_EQ(sizeof(SE_FPE_Exception), 16u);
  }
}

TEST(ComplexModulus, ExactOnTheAxesAndExtendedInBetween) {
  const struct {
    double re, im, modulus;
  } cases[] = {
      {0, -3, 3},
      {-4, 0, 4},
      {3, 4, 5},
      {0, 0, 0},
      {1e200, 1e200, 1.4142135623730951e200},
      {1e-200, 1e-200, 1.4142135623730951e-200},
      {DBL_MAX, 0, DBL_MAX},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(fpu::complexModulus(c.re, c.im), c.modulus) << c.re << ", " << c.im;
  }
  EXPECT_THROW(fpu::complexModulus(1.5e308, 1.5e308), SE_FPEOverflow_Exception);
  try {
    fpu::complexModulus(-1.5e308, 1.5e308);
  } catch (const SE_FPE_Exception& e) {
    EXPECT_STREQ(fpu::messageFor(e.code()), "overflow");
  }
}

}  // namespace
