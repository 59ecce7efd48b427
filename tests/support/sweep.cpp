#include "tests/support/sweep.h"

#include <algorithm>
#include <optional>

#include "host/structured_exceptions.h"

namespace testsupport {

namespace {

// The argument counts a counted row is also called with, besides its usual two.
constexpr int kOddCounts[] = {0, 1, 3, 6};

// The caller's state alternates between an unusual x87 precision with no flags, and stale
// flags of every kind in MXCSR.
constexpr FpState kCallerStates[] = {{0x027F, 0x1F80}, {0x037F, 0x1FBF}};

bool appends(const sheet::RowInfo& info, const char* name) {
  return std::find(info.appended.begin(), info.appended.end(), name) != info.appended.end();
}

}  // namespace

SweepCall Sweep::usualCall(int row) {
  const sheet::RowInfo info = pack_.row(row);
  const size_t count = info.arguments == sheet::RowInfo::kVariadic ? 2 : size_t(info.arguments);
  const std::span<const int> candidates = usualCandidates();
  SweepCall call{row, std::vector<int>(count, candidates[0])};
  std::optional<SweepCall> first, kindsPassed;
  // An odometer over the candidates, the last position fastest.
  std::vector<size_t> digits(count, 0);
  for (;;) {
    for (size_t p = 0; p < count; ++p) call.arguments[p] = candidates[digits[p]];
    const CallOutcome outcome = run(call);
    const Anyval* result = outcome.result;
    if (result && result->tag != kTagError) return call;
    if (!first) first = call;
    if (!kindsPassed && result && positionOf(result) == 0) kindsPassed = call;
    size_t p = count;
    while (p > 0 && ++digits[p - 1] == candidates.size()) digits[--p] = 0;
    if (p == 0) break;
  }
  return kindsPassed ? *kindsPassed : *first;
}

std::vector<SweepCall> Sweep::calls(int row) {
  const sheet::RowInfo info = pack_.row(row);
  const SweepCall usual = usualCall(row);
  std::vector<SweepCall> calls;
  const int origins = appends(info, "ORIGIN") ? 2 : 1;
  for (int origin = 0; origin < origins; ++origin) {
    for (size_t p = 0; p < usual.arguments.size(); ++p) {
      for (size_t g = 0; g < gallery().size(); ++g) {
        SweepCall call = usual;
        call.arguments[p] = static_cast<int>(g);
        call.origin = origin;
        calls.push_back(call);
      }
    }
  }
  if (info.arguments == sheet::RowInfo::kVariadic) {
    // Each value with itself, so that values that fit only their own kind meet.
    for (size_t g = 0; g < gallery().size(); ++g) {
      calls.push_back({row, {static_cast<int>(g), static_cast<int>(g)}});
    }
    for (int count : kOddCounts) {
      SweepCall call = usual;
      call.arguments.assign(size_t(count), usual.arguments[0]);
      calls.push_back(call);
    }
  }
  if (appends(info, "TOL")) {
    for (size_t t = 1; t < tolValues().size(); ++t) {
      SweepCall call = usual;
      call.tol = static_cast<int>(t);
      calls.push_back(call);
    }
  }
  if (appends(info, "ORIGIN")) {
    for (size_t o = 2; o < originValues().size(); ++o) {
      SweepCall call = usual;
      call.origin = static_cast<int>(o);
      calls.push_back(call);
    }
  }
  return calls;
}

CallOutcome Sweep::run(const SweepCall& call, const Step& arm, const Step& disarm,
                       bool hostFailures) {
  host_ = std::make_unique<sheet::Host>();
  sheet::Host& host = *host_;
  Values values(host.allocator, &host.evaluator);
  std::vector<Anyval*> passed;
  for (int g : call.arguments) passed.push_back(gallery()[size_t(g)].build(values));
  const size_t worksheetArguments = passed.size();
  const sheet::SystemVariables system{tolValues()[size_t(call.tol)].build(values),
                                      originValues()[size_t(call.origin)].build(values)};
  passed.insert(passed.end(), {system.tol, system.origin});

  CallSetting setting{passed, static_cast<int>(worksheetArguments)};
  setting.caller = kCallerStates[runs_++ % std::size(kCallerStates)];
  setting.hostFailures = hostFailures;
  const std::span<Anyval* const> args(passed.data(), worksheetArguments);
  return checkedCall(host, setting, [&](UfnCallContext* ctx) {
    if (arm) arm(host);
    struct Disarm {
      const Step& disarm;
      sheet::Host& host;
      ~Disarm() {
        if (disarm) disarm(host);
      }
    } after{disarm, host};
    return pack_.call(call.row, ctx, args, system);
  });
}

namespace {

bool finite(double x) {
  return x - x == 0.0;
}

// True when every number of the value is finite (embedded elements are not numbers).
bool allFinite(const Anyval* value) {
  if (isScalar(value)) return finite(as<aComplex>(value)->re) && finite(as<aComplex>(value)->im);
  if (!isMatrix(value)) return true;
  const aMatrix* m = as<aMatrix>(value);
  for (int32_t j = 0; j < m->cols; ++j) {
    for (int32_t i = 0; i < m->rows; ++i) {
      const double re = m->re ? realPart(m)(i, j) : 0.0;
      if (m->re && embedded::is(re)) continue;
      if (!finite(re) || (m->im && !finite(imagPart(m)(i, j)))) return false;
    }
  }
  return true;
}

}  // namespace

std::string Sweep::summary(const CallOutcome& outcome) {
  if (outcome.badAlloc) return "std::bad_alloc";
  if (outcome.fault != 0) return exceptionName(outcome.fault);
  const Anyval* result = outcome.result;
  if (!result) return "nothing";
  const std::string finiteness = allFinite(result) ? "" : ", not finite";
  switch (result->tag) {
    case kTagError:
      return "error \"" + messageOf(result) + "\" (" + std::to_string(firstOf(result)) + ", " +
             std::to_string(positionOf(result)) + ")";
    case kTagScalar:
      return "scalar" + finiteness;
    case kTagString:
      return "string";
    case kTagMatrix:
      return std::to_string(as<aMatrix>(result)->rows) + " x " +
             std::to_string(as<aMatrix>(result)->cols) + " matrix" + finiteness;
    default:
      return "tag " + std::to_string(result->tag);
  }
}

std::string Sweep::describe(const SweepCall& call) const {
  std::string text = pack_.row(call.row).name + "(";
  for (size_t p = 0; p < call.arguments.size(); ++p) {
    text += (p ? ", " : "") + std::string(gallery()[size_t(call.arguments[p])].name);
  }
  text += ")";
  if (call.tol != 0) text += std::string(" with TOL ") + tolValues()[size_t(call.tol)].name;
  if (call.origin != 0) {
    text += std::string(" with ORIGIN ") + originValues()[size_t(call.origin)].name;
  }
  return text;
}

}  // namespace testsupport
