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
// A guard only writes a control register whose value must change, so a call from a caller
// already in the computing state (stale inexact, underflow or denormal flags allowed) costs
// a few reads.
#pragma once

#include <cstdint>

#include "host/structured_exceptions.h"

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

// The worksheet message for a structured-exception code: the three faults the guard looks
// for read "singularity", "floating point error" and "overflow", every other code its name.
const char* messageFor(uint32_t code);

// |re + i im|. Without scaling: the squares and their sum are held in the x87's extended
// exponent range, so they never overflow for finite parts; a modulus above the largest
// double throws SE_FPEOverflow_Exception (kFltOverflow).
double complexModulus(double re, double im);

// Marks x as read, so that the operations computing it stay even where nothing else reads
// it: their faults are flagged, and the guard reports them, whatever the optimiser can
// prove about the value.
inline void keepComputed(double x) {
  asm volatile("" : : "x"(x));
}

// The caller's floating-point state, saved on construction and restored on destruction.
class Guard {
 public:
  Guard();
  ~Guard();
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

  // When none of the three faults is flagged: puts the caller's state back at once, leaves
  // nothing for the destructor, and returns true. Otherwise false, the guard still on.
  bool endWithoutFault();
  // Throws for a fault flagged since the guard started: zero divide first, then
  // overflow, then invalid operation.
  void raisePendingFaults();
  // Reinitialises the units to the computing state (after a caught exception).
  void reset();

 private:
  // Whether the caller's whole x87 environment was saved: only when its status word held
  // flags, which nothing cheaper than the environment's save and load keeps.
  bool savedEnvironment_;
  bool ended_ = false;
  uint16_t callerX87Control_;
  alignas(4) unsigned char callerX87_[28];
  uint32_t callerMxcsr_;

  // The caller's state back, given the flags the units hold now.
  void restore(uint16_t x87StatusNow, uint32_t mxcsrNow);
};

// The caller's MXCSR, flags included, put back when the scope ends however it ends. Every
// entry holds one: a plain entry computes in the caller's state, and the flags its
// arithmetic raises are no business of the caller's.
class CallerMxcsr {
 public:
  CallerMxcsr();
  ~CallerMxcsr();
  CallerMxcsr(const CallerMxcsr&) = delete;
  CallerMxcsr& operator=(const CallerMxcsr&) = delete;

 private:
  uint32_t saved_;
};

}  // namespace fpu
