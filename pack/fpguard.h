// Floating-point faults inside a guarded call.
//
// While a guarded function runs, the caller's x87 control word and MXCSR (flags included)
// are saved and a computing state is loaded: round to nearest, 64-bit x87 precision, all
// exceptions masked. When the body ends, the sticky status flags of both units tell
// whether a division by zero, an overflow or an invalid operation happened; such a fault
// is raised as an SE_FPE_Exception with the Windows structured-exception code of its name,
// and the catch site turns the code into the worksheet message ("singularity", "overflow",
// "floating point error"). Testing flags instead of trapping keeps the process free of
// signal handlers and gives the same messages. On every way out the caller's state is back.
#pragma once

#include <cstdint>

// Structured-exception codes the pack raises or names.
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
// keeps the status they had. The predicates tell which fault the object stands for.
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

namespace fpu {

// Status bits as clearfp reports them.
enum : uint32_t {
  kStatusInexact = 0x1,
  kStatusUnderflow = 0x2,
  kStatusOverflow = 0x4,
  kStatusZeroDivide = 0x8,
  kStatusInvalid = 0x10,
  kStatusDenormal = 0x80000,
};

// Clears the pending floating-point flags of the x87 unit and of SSE, and returns the
// status they had.
uint32_t clearfp();

// The worksheet message for a structured-exception code.
const char* messageFor(uint32_t code);

// |re + i im|. Without scaling: the squares and their sum are held in the x87's extended
// exponent range, so they never overflow for finite parts; a modulus above the largest
// double throws SE_FPEOverflow_Exception (kFltOverflow).
double complexModulus(double re, double im);

// The caller's floating-point state, saved on construction and restored on destruction.
class Guard {
 public:
  Guard();
  ~Guard();
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

  // Throws for a fault flagged since the guard started: zero divide first, then
  // overflow, then invalid operation.
  void raisePendingFaults();
  // True when one of the three faults is flagged.
  bool faultPending() const;
  // Reinitialises the units to the computing state (after a caught exception).
  void reset();

 private:
  alignas(4) unsigned char callerX87_[28];
  uint32_t callerMxcsr_;
};

}  // namespace fpu
