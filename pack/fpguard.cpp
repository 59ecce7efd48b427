#include "pack/fpguard.h"

#include <cfloat>
#include <cmath>

#include "pack/messages.h"

#if !(defined(__i386__) || defined(__x86_64__))
#error "the floating-point guard drives the x87 and SSE units directly"
#endif

namespace fpu {

namespace {

// Round to nearest, 64-bit mantissa, every x87 exception masked.
constexpr uint16_t kComputingX87Control = 0x037F;
// Round to nearest, every SSE exception masked, no flush-to-zero, flags clear.
constexpr uint32_t kComputingMxcsr = 0x1F80;

// Exception flag bits, the same positions in the x87 status word and in MXCSR.
constexpr uint32_t kInvalidBit = 0x01, kDenormalBit = 0x02, kZeroDivideBit = 0x04,
                   kOverflowBit = 0x08, kUnderflowBit = 0x10, kPrecisionBit = 0x20;
constexpr uint32_t kFlagBits = 0x3F;
// The flags a guarded call reports as faults.
constexpr uint32_t kFaultBits = kZeroDivideBit | kOverflowBit | kInvalidBit;

// Whether a caller's MXCSR is fit to compute in as it is: the computing control bits, and
// no fault flag that would read as the call's own. Stale inexact, underflow or denormal
// flags may stay, since nothing reads them during the call, and most callers carry the
// inexact flag.
bool computesAsIs(uint32_t mxcsr) {
  return (mxcsr & ~kFlagBits) == kComputingMxcsr && (mxcsr & kFaultBits) == 0;
}

uint16_t x87Control() {
  uint16_t control;
  asm volatile("fnstcw %0" : "=m"(control));
  return control;
}

uint16_t x87Status() {
  uint16_t status;
  asm volatile("fnstsw %0" : "=am"(status) : : "memory");
  return status;
}

uint32_t mxcsr() {
  uint32_t value;
  asm volatile("stmxcsr %0" : "=m"(value) : : "memory");
  return value;
}

void loadMxcsr(uint32_t value) {
  asm volatile("ldmxcsr %0" : : "m"(value) : "memory");
}

void loadX87Control(uint16_t control) {
  asm volatile("fldcw %0" : : "m"(control));
}

// Flag bits pending in either unit.
uint32_t pendingFlags() {
  return (x87Status() | mxcsr()) & kFlagBits;
}

void loadComputingState() {
  asm volatile("fninit");
  loadX87Control(kComputingX87Control);
  loadMxcsr(kComputingMxcsr);
}

}  // namespace

uint32_t clearfp() {
  const uint32_t flags = pendingFlags();
  asm volatile("fnclex");
  loadMxcsr(mxcsr() & ~kFlagBits);
  uint32_t status = 0;
  if (flags & kPrecisionBit) status |= kStatusInexact;
  if (flags & kUnderflowBit) status |= kStatusUnderflow;
  if (flags & kOverflowBit) status |= kStatusOverflow;
  if (flags & kZeroDivideBit) status |= kStatusZeroDivide;
  if (flags & kInvalidBit) status |= kStatusInvalid;
  if (flags & kDenormalBit) status |= kStatusDenormal;
  return status;
}

Guard::Guard()
    : savedEnvironment_((x87Status() & kFlagBits) != 0),
      callerX87Control_(x87Control()),
      callerMxcsr_(mxcsr()) {
  if (savedEnvironment_) {
    asm volatile("fnstenv %0" : "=m"(callerX87_));
    loadComputingState();
    return;
  }
  if (callerX87Control_ != kComputingX87Control) loadX87Control(kComputingX87Control);
  if (!computesAsIs(callerMxcsr_)) loadMxcsr(kComputingMxcsr);
}

Guard::~Guard() {
  if (!ended_) restore(x87Status(), mxcsr());
}

void Guard::restore(uint16_t x87StatusNow, uint32_t mxcsrNow) {
  if (savedEnvironment_) {
    asm volatile("fldenv %0" : : "m"(callerX87_));
  } else {
    // The caller's status word held no flags.
    if (x87StatusNow & kFlagBits) asm volatile("fnclex");
    if (x87Control() != callerX87Control_) loadX87Control(callerX87Control_);
  }
  if (mxcsrNow != callerMxcsr_) loadMxcsr(callerMxcsr_);
}

bool Guard::endWithoutFault() {
  // One reading of each unit's flags serves both the test and the restore: the reads cost
  // more than the rest of a small call's bookkeeping.
  const uint16_t x87StatusNow = x87Status();
  const uint32_t mxcsrNow = mxcsr();
  if ((x87StatusNow | mxcsrNow) & kFaultBits) return false;
  restore(x87StatusNow, mxcsrNow);
  ended_ = true;
  return true;
}

void Guard::raisePendingFaults() {
  const uint32_t flags = pendingFlags();
  if (flags & kZeroDivideBit) throw SE_FPE_Exception(kFltDivideByZero, 0);
  if (flags & kOverflowBit) throw SE_FPEOverflow_Exception(kFltOverflow, 0);
  if (flags & kInvalidBit) throw SE_FPE_Exception(kFltInvalidOperation, 0);
}

void Guard::reset() {
  loadComputingState();
}

CallerMxcsr::CallerMxcsr() : saved_(mxcsr()) {}

CallerMxcsr::~CallerMxcsr() {
  // Loading MXCSR costs a fraction of reading it: the caller's value goes back unread.
  loadMxcsr(saved_);
}

const char* messageFor(uint32_t code) {
  switch (code) {
    case kFltDivideByZero:
      return msg::kSingularity;
    case kFltInvalidOperation:
      return msg::kFloatingPointError;
    case kFltOverflow:
      return msg::kOverflow;
    default:
      return exceptionName(code);
  }
}

double complexModulus(double re, double im) {
  if (re == 0.0) return std::fabs(im);
  if (im == 0.0) return std::fabs(re);
  const long double x = re, y = im;
  const long double r = std::sqrt(x * x + y * y);
  if (r > static_cast<long double>(DBL_MAX)) throw SE_FPEOverflow_Exception(kFltOverflow, 0);
  return static_cast<double>(r);
}

}  // namespace fpu

SE_FPE_Exception::SE_FPE_Exception(const uint32_t& code, uint32_t extra)
    : SE_Exception(code, extra), status_(fpu::clearfp()) {}
