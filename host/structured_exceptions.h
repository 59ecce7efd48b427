// The host environment's structured exceptions as C++ exceptions: a code in Windows'
// numbering and one extra word. A floating-point fault raised inside a call travels as an
// SE_FPE_Exception (SE_FPEOverflow_Exception for an overflow); guarded entries of the pack
// catch it, and a host catches what escapes the others.
#pragma once

#include <cstdint>

// Structured-exception codes of the floating-point faults.
enum : uint32_t {
  kFltDivideByZero = 0xC000008E,
  kFltInvalidOperation = 0xC0000090,
  kFltOverflow = 0xC0000091,
};

// A structured exception: its code and one extra word.
class SE_Exception {
 public:
  SE_Exception(uint32_t code, uint32_t extra) : code_(code), extra_(extra) {}
  uint32_t code() const { return code_; }
  uint32_t extra() const { return extra_; }

 private:
  uint32_t code_;
  uint32_t extra_;
};

// A floating-point exception. Construction clears the pending floating-point flags and
// keeps the status they had (defined by the pack, which raises them). The predicates tell
// which fault the object stands for.
class SE_FPE_Exception : public SE_Exception {
 public:
  SE_FPE_Exception(const uint32_t& code, uint32_t extra);
  SE_FPE_Exception(const SE_FPE_Exception&) = default;

  virtual bool isOverflow() const { return false; }
  virtual bool isZeroDivide() const { return false; }
  virtual bool isInvalid() const { return false; }
  virtual bool isUnderflow() const { return false; }
  virtual bool isInexact() const { return false; }
  virtual bool isDenormal() const { return false; }
  virtual bool isStackCheck() const { return false; }

  // The status word the flags had, in clearfp's encoding.
  uint32_t status() const { return status_; }

 private:
  uint32_t status_;
};

class SE_FPEOverflow_Exception : public SE_FPE_Exception {
 public:
  using SE_FPE_Exception::SE_FPE_Exception;
  bool isOverflow() const override { return true; }
};

// The Windows name of a structured-exception code ("EXCEPTION_FLT_OVERFLOW");
// "EXCEPTION_UNKNOWN_EXCEPTION" for a code without one.
inline const char* exceptionName(uint32_t code) {
  switch (code) {
    case 0x80000001:
      return "EXCEPTION_GUARD_PAGE";
    case 0x80000002:
      return "EXCEPTION_DATATYPE_MISALIGNMENT";
    case 0x80000003:
      return "EXCEPTION_BREAKPOINT";
    case 0x80000004:
      return "EXCEPTION_SINGLE_STEP";
    case 0xC0000005:
      return "EXCEPTION_ACCESS_VIOLATION";
    case 0xC0000006:
      return "EXCEPTION_IN_PAGE_ERROR";
    case 0xC000001D:
      return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case 0xC0000025:
      return "EXCEPTION_NONCONTINUABLE_EXCEPTION";
    case 0xC0000026:
      return "EXCEPTION_INVALID_DISPOSITION";
    case 0xC000008C:
      return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
    case 0xC000008D:
      return "EXCEPTION_FLT_DENORMAL_OPERAND";
    case kFltDivideByZero:
      return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
    case 0xC000008F:
      return "EXCEPTION_FLT_INEXACT_RESULT";
    case kFltInvalidOperation:
      return "EXCEPTION_FLT_INVALID_OPERATION";
    case kFltOverflow:
      return "EXCEPTION_FLT_OVERFLOW";
    case 0xC0000092:
      return "EXCEPTION_FLT_STACK_CHECK";
    case 0xC0000093:
      return "EXCEPTION_FLT_UNDERFLOW";
    case 0xC0000094:
      return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case 0xC0000095:
      return "EXCEPTION_INT_OVERFLOW";
    case 0xC0000096:
      return "EXCEPTION_PRIV_INSTRUCTION";
    case 0xC00000FD:
      return "EXCEPTION_STACK_OVERFLOW";
    default:
      return "EXCEPTION_UNKNOWN_EXCEPTION";
  }
}
