// How an entry runs its worker: the policies the function table names for each row.
//
//   Plain               the worker runs as it is, in the caller's floating-point state;
//                       whatever it throws reaches the host
//   Guard<caught>       the worker runs under the floating-point guard (pack/fpguard.h);
//                       the exceptions `caught` names become error values naming no
//                       argument, anything else travels on:
//                         kMessages        a thrown message text -> an error with it
//                         kErrorValues     a thrown aError*      -> that error
//                         kFloatingPoint   an SE_FPE_Exception   -> the units are reset and
//                                          the code's message becomes the error
//   Guarded             Guard<kMessages | kErrorValues | kFloatingPoint>: a guarded entry
//
// A fault still flagged when the worker ends is raised like one trapped inside it, and the
// result the worker built is released, since the error replaces it (workers that may return
// one of their own arguments do no arithmetic, so they never get here). HostAllocFailure (a
// std::bad_alloc) is never caught: it travels on to the host.
//
// Every policy has run(ctx, arguments, body): `arguments` are the entry's argument values
// (system variables included), for policies that blame the argument an exception came with.
#pragma once

#include <initializer_list>

#include "pack/errors.h"
#include "pack/fpguard.h"
#include "pack/ownership.h"

using EntryArguments = std::initializer_list<const Anyval*>;

struct Plain {
  template <class Body>
  static Anyval* run(UfnCallContext*, EntryArguments, Body&& body) {
    return body();
  }
};

enum Caught : unsigned {
  kMessages = 1,
  kErrorValues = 2,
  kFloatingPoint = 4,
};

template <unsigned caught>
struct Guard {
  // The guard hands the caller's floating-point state back, MXCSR included, on every way out.
  static constexpr bool kKeepsCallerState = true;

  template <class Body>
  static Anyval* run(UfnCallContext* ctx, EntryArguments, Body&& body) {
    fpu::Guard guard;
    try {
      Anyval* result = body();
      if (guard.endWithoutFault()) return result;
      releaseValue(ctx, result);
      guard.raisePendingFaults();
      return result;
    } catch (const char* message) {
      if constexpr (!(caught & kMessages)) throw;
      guard.reset();
      return mkError(ctx, message, 0, 0);
    } catch (aError* error) {
      if constexpr (!(caught & kErrorValues)) throw;
      guard.reset();
      return asValue(error);
    } catch (const SE_FPE_Exception& fault) {
      if constexpr (!(caught & kFloatingPoint)) throw;
      guard.reset();
      return mkError(ctx, fpu::messageFor(fault.code()), 0, 0);
    }
  }
};

using Guarded = Guard<kMessages | kErrorValues | kFloatingPoint>;

// Whether a policy hands the caller's floating-point state back itself.
template <class Policy>
inline constexpr bool kKeepsCallerState = requires {
  requires Policy::kKeepsCallerState;
};

// The body run as a guarded entry runs its worker.
template <class Body>
Anyval* guarded(UfnCallContext* ctx, Body&& body) {
  return Guarded::run(ctx, {}, body);
}
