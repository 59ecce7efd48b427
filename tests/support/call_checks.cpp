#include "tests/support/call_checks.h"

#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string_view>

#include "host/embedded.h"
#include "host/part_view.h"
#include "host/structured_exceptions.h"
#include "pack/heap.h"
#include "tests/support/interposers.h"

namespace testsupport {

namespace {

// Every text pack/messages.h defines, gathered when the build is configured.
constexpr const char* kVocabulary[] = {
#include "tests/support/vocabulary.inc"
};

std::string hex(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

// The values a value refers to: an error's message, a matrix's embedded elements.
template <class Visit>
void forEachReferred(const Anyval* value, Visit visit) {
  if (value->tag == kTagError) {
    if (const aString* message = as<aError>(value)->message) visit(asValue(message), "message");
  } else if (value->tag == kTagMatrix) {
    const aMatrix* m = as<aMatrix>(value);
    if (!m->re || m->rows <= 0 || m->cols <= 0) return;
    const PartView re = realPart(m);
    for (int32_t j = 0; j < m->cols; ++j) {
      for (int32_t i = 0; i < m->rows; ++i) {
        if (embedded::is(re(i, j))) {
          visit(embedded::target(re(i, j)),
                "(" + std::to_string(i) + ", " + std::to_string(j) + ")");
        }
      }
    }
  }
}

// Doubles a part array of m spans: every column's rows, through the leading dimension.
size_t partSpan(const aMatrix* m) {
  if (m->rows <= 0 || m->cols <= 0) return 0;
  return size_t(m->ld) * size_t(m->cols - 1) + size_t(m->rows);
}

// The bytes of every value the arguments reach, as they were before the call.
class Snapshot {
 public:
  explicit Snapshot(std::span<Anyval* const> values) {
    for (size_t k = 0; k < values.size(); ++k) take(values[k], "argument " + std::to_string(k + 1));
  }

  bool reaches(const Anyval* value) const { return seen_.count(value) != 0; }

  // What changed; `referencedBy` counts the references the result holds to each value.
  void compare(const std::map<const Anyval*, int>& referencedBy,
               std::vector<std::string>& problems) const {
    for (const Region& region : regions_) {
      if (std::memcmp(region.address, region.bytes.data(), region.bytes.size()) == 0) continue;
      if (region.matrixHeader && onlyNewReferences(region, referencedBy)) continue;
      problems.push_back(region.what + " changed");
    }
  }

 private:
  struct Region {
    const void* address;
    std::vector<unsigned char> bytes;
    std::string what;
    bool matrixHeader = false;
  };

  void region(const void* address, size_t size, std::string what, bool matrixHeader = false) {
    if (!address || size == 0) return;
    const auto* bytes = static_cast<const unsigned char*>(address);
    regions_.push_back({address, {bytes, bytes + size}, std::move(what), matrixHeader});
  }

  void take(const Anyval* value, const std::string& what) {
    if (!value || !seen_.insert(value).second) return;
    switch (value->tag) {
      case kTagError:
        region(value, sizeof(aError), what);
        break;
      case kTagScalar:
        region(value, sizeof(aComplex), what);
        break;
      case kTagString: {
        const aString* s = as<aString>(value);
        region(value, sizeof(aString), what);
        if (s->text) region(s->text, std::strlen(s->text) + 1, what + " text");
        break;
      }
      case kTagMatrix: {
        const aMatrix* m = as<aMatrix>(value);
        region(value, sizeof(aMatrix), what + " header", true);
        region(m->re, partSpan(m) * sizeof(double), what + " real part");
        if (m->im != m->re) region(m->im, partSpan(m) * sizeof(double), what + " imaginary part");
        break;
      }
      case kTagIdentifier:
        region(value, sizeof(sIdentifier), what);
        break;
      default:
        region(value, sizeof(uint32_t), what);
        break;
    }
    forEachReferred(value, [&](const Anyval* target, const std::string& where) {
      take(target, what + " " + where);
    });
  }

  // A matrix header that differs only by the references the result added: its count up
  // by as many, its referenced flag set.
  static bool onlyNewReferences(const Region& region,
                                const std::map<const Anyval*, int>& referencedBy) {
    aMatrix before;
    std::memcpy(&before, region.bytes.data(), sizeof before);
    const auto* now = static_cast<const aMatrix*>(region.address);
    aMatrix masked = *now;
    masked.refs = before.refs;
    masked.flags = before.flags;
    if (std::memcmp(&masked, &before, sizeof before) != 0) return false;
    const auto it = referencedBy.find(asValue(now));
    const int added = static_cast<int>(now->refs - before.refs);
    return it != referencedBy.end() && added > 0 && added <= it->second &&
           now->flags == (before.flags | aMatrix::kReferenced);
  }

  std::vector<Region> regions_;
  std::set<const Anyval*> seen_;
};

// The evaluator the pack is handed: the host's, with the values the pack releases looked at
// first. Part arrays the allocator does not know are the pack's heap blocks, handed over
// to the value and now freed by the host. A value the pack was given is reported and kept.
class WatchedEvaluator : public EvaluatorInterposer {
 public:
  WatchedEvaluator(IwsEvaluator* host, const sheet::Allocator& allocator, const Snapshot& arguments)
      : EvaluatorInterposer(host), allocator_(allocator), arguments_(arguments) {}

  void apply(Anyval* f, const sCons* args, Anyval** out) override {
    ++applications;
    EvaluatorInterposer::apply(f, args, out);
  }

  void release(Anyval** value) override {
    const Anyval* released = *value;
    if (released && arguments_.reaches(released)) {
      problems.push_back("released a value it was given, at " + hex(released));
      return;
    }
    if (released && allocator_.owns(released) && isMatrix(released)) {
      const aMatrix* m = as<aMatrix>(released);
      if (m->re && !allocator_.owns(m->re)) ++heapBlocksFreed;
      if (m->im && m->im != m->re && !allocator_.owns(m->im)) ++heapBlocksFreed;
    }
    EvaluatorInterposer::release(value);
  }

  long heapBlocksFreed = 0;
  long applications = 0;
  std::vector<std::string> problems;

 private:
  const sheet::Allocator& allocator_;
  const Snapshot& arguments_;
};

std::vector<sheet::BlockInfo> inAddressOrder(std::vector<sheet::BlockInfo> blocks) {
  std::sort(blocks.begin(), blocks.end(), [](const sheet::BlockInfo& a, const sheet::BlockInfo& b) {
    return a.address < b.address;
  });
  return blocks;
}

// Checks a result and the values it refers to.
class ResultCheck {
 public:
  ResultCheck(sheet::Allocator& allocator, const CallSetting& setting, const Snapshot& arguments,
              std::vector<std::string>& problems)
      : allocator_(allocator),
        arguments_(arguments),
        blocks_(inAddressOrder(allocator.outstandingBlocks())),
        setting_(setting),
        problems_(problems) {}

  void check(const Anyval* result) {
    if (!result) {
      problems_.push_back("no result");
      return;
    }
    if (result->tag == kTagError) {
      checkError(result);
    } else {
      checkValue(result, "result");
    }
  }

  // Pack heap blocks the result holds: part arrays the allocator does not know.
  long heapBlocks() const { return static_cast<long>(heapArrays_.size()); }
  const std::map<const Anyval*, int>& referenced() const { return referenced_; }

 private:
  void checkError(const Anyval* value) {
    const aError* error = as<aError>(value);
    const aString* message = error->message;
    if (!message || message->tag != kTagString || !message->text) {
      problems_.push_back("an error without a message");
      return;
    }
    if (!setting_.foreignErrors && !inVocabulary(message->text)) {
      problems_.push_back(std::string("the message \"") + message->text + "\" is not the pack's");
    }
    const auto inRange = [&](uint32_t n) {
      return n <= static_cast<uint32_t>(std::max(setting_.worksheetArguments, 0));
    };
    if (!inRange(error->first) || !inRange(error->position)) {
      problems_.push_back("\"" + std::string(message->text) + "\" with the position pair (" +
                          std::to_string(error->first) + ", " + std::to_string(error->position) +
                          ") for " + std::to_string(setting_.worksheetArguments) + " arguments");
    }
  }

  // A value of the arguments is the host's, taken as it is.
  void checkValue(const Anyval* value, const std::string& what) {
    if (arguments_.reaches(value) || !visited_.insert(value).second) return;
    switch (value->tag) {
      case kTagScalar:
        return;
      case kTagString: {
        const aString* s = as<aString>(value);
        if (!s->text || std::strlen(s->text) != s->length) {
          problems_.push_back(what + ": a string whose length is not its text's");
        }
        return;
      }
      case kTagMatrix:
        checkMatrix(as<aMatrix>(value), what);
        return;
      case kTagError:
        if (what != "result") problems_.push_back(what + ": an error value inside a value");
        return;
      default:
        problems_.push_back(what + ": a value of tag " + std::to_string(value->tag));
        return;
    }
  }

  void checkMatrix(const aMatrix* m, const std::string& what) {
    if (m->rows < 0 || m->cols < 0 || m->ld < m->rows || m->refs < 1) {
      problems_.push_back(what + ": " + std::to_string(m->rows) + " x " + std::to_string(m->cols) +
                          " with leading dimension " + std::to_string(m->ld) + ", " +
                          std::to_string(m->refs) + " references");
      return;
    }
    const uint64_t packed = uint64_t(m->rows) * uint64_t(m->cols) * sizeof(double);
    const uint64_t spread = uint64_t(m->ld) * uint64_t(m->cols) * sizeof(double);
    if (m->bytes != packed && m->bytes != spread) {
      problems_.push_back(what + ": " + std::to_string(m->bytes) + " bytes a part for " +
                          std::to_string(m->rows) + " x " + std::to_string(m->cols));
    }
    const size_t bytes = partSpan(m) * sizeof(double);
    checkPart(m->re, bytes, what + " real part");
    if (m->im != m->re) checkPart(m->im, bytes, what + " imaginary part");
    forEachReferred(asValue(m), [&](const Anyval* target, const std::string& where) {
      if (!allocator_.owns(target)) {
        problems_.push_back(what + " " + where + " refers to " + hex(target) +
                            ", no value of the host's");
        return;
      }
      ++referenced_[target];
      checkValue(target, what + " " + where);
    });
  }

  // The array must hold `bytes`: inside one host block, or a heap block at least as large.
  void checkPart(const double* array, size_t bytes, const std::string& what) {
    if (!array) return;
    const auto address = reinterpret_cast<uintptr_t>(array);
    if (allocator_.owns(array)) {
      auto block =
          std::upper_bound(blocks_.begin(), blocks_.end(), address,
                           [](uintptr_t a, const sheet::BlockInfo& b) { return a < b.address; });
      --block;
      if (address + bytes > block->address + std::max<size_t>(block->bytes, 1) && bytes > 0) {
        problems_.push_back(what + ": " + std::to_string(bytes) + " bytes past a block of " +
                            std::to_string(block->bytes));
      }
      return;
    }
    heapArrays_.insert(array);
    const size_t usable = malloc_usable_size(const_cast<double*>(array));
    if (usable < bytes) {
      problems_.push_back(what + ": " + std::to_string(bytes) + " bytes in a heap block of " +
                          std::to_string(usable));
    }
  }

  sheet::Allocator& allocator_;
  const Snapshot& arguments_;
  const std::vector<sheet::BlockInfo> blocks_;  // in address order
  const CallSetting& setting_;
  std::vector<std::string>& problems_;
  std::set<const Anyval*> visited_;
  std::set<const double*> heapArrays_;
  std::map<const Anyval*, int> referenced_;
};

}  // namespace

FpState currentFpState() {
  FpState state;
  asm volatile("fnstcw %0" : "=m"(state.x87Control));
  asm volatile("stmxcsr %0" : "=m"(state.mxcsr));
  return state;
}

void loadFpState(const FpState& state) {
  asm volatile("fnclex");
  asm volatile("fldcw %0" : : "m"(state.x87Control));
  asm volatile("ldmxcsr %0" : : "m"(state.mxcsr));
}

bool inVocabulary(const char* message) {
  for (const char* known : kVocabulary) {
    if (std::strcmp(known, message) == 0) return true;
  }
  return false;
}

std::string CallOutcome::report() const {
  std::string text;
  for (const std::string& problem : problems) text += "  " + problem + "\n";
  return text;
}

namespace {

// The exceptions a host expects, and the caller's floating-point state.
void checkWayOut(const CallSetting& setting, const CallOutcome& outcome, const FpState& after,
                 std::vector<std::string>& problems) {
  if (after.x87Control != setting.caller.x87Control || after.mxcsr != setting.caller.mxcsr) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "floating-point state %04x/%08x after the call, %04x/%08x before",
                  after.x87Control, after.mxcsr, setting.caller.x87Control, setting.caller.mxcsr);
    problems.push_back(text);
  }
  if (outcome.badAlloc && !setting.hostFailures) problems.push_back("std::bad_alloc came out");
  if (outcome.fault != 0 && outcome.fault != kFltOverflow) {
    problems.push_back(std::string(exceptionName(outcome.fault)) + " came out");
  }
}

// Host blocks made since `since` that neither the arguments nor the result reach; the
// result is adopted first, as a host takes it in.
void checkLeftBehind(sheet::Allocator& allocator, const CallSetting& setting, Anyval* result,
                     uint64_t since, bool hostsBusiness, std::vector<std::string>& problems) {
  if (result) allocator.adopt(result);
  std::vector<Anyval*> roots(setting.values.begin(), setting.values.end());
  roots.push_back(result);
  for (const sheet::BlockInfo& block : allocator.unreachable(roots, since)) {
    if (hostsBusiness || (setting.hostFailures && block.origin == sheet::Origin::kData)) continue;
    const std::string described = sheet::describe({block});  // "  N bytes from X\n"
    problems.push_back("left behind" + described.substr(1, described.size() - 2));
  }
}

}  // namespace

CallOutcome checkedCall(sheet::Host& host, const CallSetting& setting,
                        const std::function<Anyval*(UfnCallContext*)>& call) {
  CallOutcome outcome;
  std::vector<std::string>& problems = outcome.problems;
  sheet::Allocator& allocator = host.allocator;
  const Snapshot arguments(setting.values);
  WatchedEvaluator evaluator(host.context.evaluator, allocator, arguments);
  UfnCallContext context{host.context.allocator, evaluator.com()};
  const uint64_t since = allocator.historyPoint();
  const long heapBefore = heap::liveBlocks();
  const FpState own = currentFpState();

  loadFpState(setting.caller);
  try {
    outcome.result = call(&context);
  } catch (const std::bad_alloc&) {
    outcome.badAlloc = true;
  } catch (const SE_FPE_Exception& fault) {
    outcome.fault = fault.code();
  } catch (...) {
    problems.push_back("an exception came out");
  }
  const FpState after = currentFpState();
  loadFpState(own);

  checkWayOut(setting, outcome, after, problems);
  problems.insert(problems.end(), evaluator.problems.begin(), evaluator.problems.end());
  ResultCheck result(allocator, setting, arguments, problems);
  if (!outcome.badAlloc && outcome.fault == 0) result.check(outcome.result);
  arguments.compare(result.referenced(), problems);

  const bool hostsBusiness = setting.hostCallbacks && evaluator.applications > 0;
  const long heapGrowth = heap::liveBlocks() - heapBefore;
  const long handedOver = result.heapBlocks() + evaluator.heapBlocksFreed;
  if (heapGrowth != handedOver && !hostsBusiness) {
    problems.push_back("the pack's heap grew by " + std::to_string(heapGrowth) + " blocks, " +
                       std::to_string(handedOver) + " of them handed over to host values");
  }
  checkLeftBehind(allocator, setting, outcome.result, since, hostsBusiness, problems);
  return outcome;
}

}  // namespace testsupport
