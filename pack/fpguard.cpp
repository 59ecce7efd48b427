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
  return (x87Status() | mxcsr()) & 0x3F;
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
  loadMxcsr(mxcsr() & ~0x3Fu);
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
    : savedEnvironment_((x87Status() & 0x3F) != 0),
      callerX87Control_(x87Control()),
      callerMxcsr_(mxcsr()) {
  if (savedEnvironment_) {
    asm volatile("fnstenv %0" : "=m"(callerX87_));
    loadComputingState();
    return;
  }
  if (callerX87Control_ != kComputingX87Control) loadX87Control(kComputingX87Control);
  if (callerMxcsr_ != kComputingMxcsr) loadMxcsr(kComputingMxcsr);
}

Guard::~Guard() {
  if (savedEnvironment_) {
    asm volatile("fldenv %0" : : "m"(callerX87_));
  } else {
    // The caller's status word held no flags.
    if (x87Status() & 0x3F) asm volatile("fnclex");
    if (x87Control() != callerX87Control_) loadX87Control(callerX87Control_);
  }
  if (mxcsr() != callerMxcsr_) loadMxcsr(callerMxcsr_);
}

bool Guard::faultPending() const {
  return (pendingFlags() & (kZeroDivideBit | kOverflowBit | kInvalidBit)) != 0;
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
  if (mxcsr() != saved_) loadMxcsr(saved_);
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
