// The guarded entry: a worksheet function body run under the floating-point guard and
// inside the three handlers every guarded entry shares.
//
//   a thrown message text      -> an error with that message, no argument blamed
//   a thrown aError*           -> that error is the result
//   an SE_FPE_Exception        -> the units are reinitialised and the exception's name
//                                 becomes an error, no argument blamed
//
// Nothing else is caught: HostAllocFailure (a std::bad_alloc) travels on to the host. A
// fault flagged when the body ends is raised like one trapped inside it; the result the
// body built is then released, since the error replaces it (bodies that may return one of
// their own arguments do no arithmetic, so they never get here).
#pragma once

#include "pack/fpguard.h"
#include "pack/host_values.h"

template <class Body>
Anyval* guarded(UfnCallContext* ctx, Body&& body) {
  fpu::Guard guard;
  try {
    Anyval* result = body();
    if (guard.faultPending()) {
      releaseValue(ctx, result);
      guard.raisePendingFaults();
    }
    return result;
  } catch (const char* message) {
    guard.reset();
    return mkError(ctx, message, 0, 0);
  } catch (aError* error) {
    guard.reset();
    return asValue(error);
  } catch (const SE_FPE_Exception& fault) {
    guard.reset();
    return mkError(ctx, fpu::messageFor(fault.code()), 0, 0);
  }
}
