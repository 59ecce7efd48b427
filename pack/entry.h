// The entries the function table points at, made from a worker and a policy (pack/guard.h):
//
//   entry<Guarded, lsolve>   Anyval* (UfnCallContext*, Anyval* m, Anyval* v), running
//                            lsolve(ctx, m, v) under the policy
//
// A worker with the arguments (UfnCallContext*, Counted) makes a counted entry,
// Anyval* (UfnCallContext*, int count, ...): the values are gathered from the variable
// argument list into scratch first.
//
// Whatever the policy, an entry hands the caller's MXCSR back as it found it, flags
// included: the guard does it itself, for the other policies fpu::CallerMxcsr does.
#pragma once

#include <cstdarg>
#include <span>
#include <type_traits>

#include "pack/fpguard.h"
#include "pack/guard.h"
#include "pack/heap.h"

// The values of a counted call: `count` as the host passed it, and the values themselves,
// null when the pack's heap had no room for them (each worker decides what that means).
struct Counted {
  int count;
  Anyval* const* values;
};

// What an entry keeps of the caller's state besides what its policy keeps.
struct NothingToKeep {};
template <class Policy>
using CallerMxcsrKeeper =
    std::conditional_t<kKeepsCallerState<Policy>, NothingToKeep, fpu::CallerMxcsr>;

// The values of a variable argument list in scratch; empty when the heap has no room.
heap::Array<Anyval*> gatherArguments(int count, std::va_list list);

// A counted call run under `Policy`: gathers the list, then runs the worker.
template <class Policy, class Worker>
Anyval* runCounted(UfnCallContext* ctx, int count, std::va_list list, Worker worker) {
  [[maybe_unused]] const CallerMxcsrKeeper<Policy> keep{};
  const heap::Array<Anyval*> values = gatherArguments(count, list);
  return Policy::run(ctx, {}, [&] { return worker(ctx, Counted{count, values.get()}); });
}

template <class Policy, auto Worker>
struct Entry;

template <class Policy, class... Arguments, Anyval* (*Worker)(UfnCallContext*, Arguments...)>
requires(!std::is_same_v<void(Arguments...), void(Counted)>) struct Entry<Policy, Worker> {
  static Anyval* call(UfnCallContext* ctx, Arguments... arguments) {
    [[maybe_unused]] const CallerMxcsrKeeper<Policy> keep{};
    return Policy::run(ctx, {arguments...}, [&] { return Worker(ctx, arguments...); });
  }
};

template <class Policy, Anyval* (*Worker)(UfnCallContext*, Counted)>
struct Entry<Policy, Worker> {
  static Anyval* call(UfnCallContext* ctx, int count, ...) {
    std::va_list list;
    va_start(list, count);
    Anyval* result = runCounted<Policy>(ctx, count, list, Worker);
    va_end(list);
    return result;
  }
};

template <class Policy, auto Worker>
inline constexpr auto entry = &Entry<Policy, Worker>::call;
