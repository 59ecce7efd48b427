// The stand-in host's evaluator: applies worksheet function values (backed here by C++
// callables) for the pack's `matrix`, answers the interrupt poll, and releases the
// temporary values the pack gives back. Unless told not to, it records the slots called,
// in order, so tests can check the protocol. Its slots never throw.
#pragma once

#include <atomic>
#include <functional>
#include <span>
#include <vector>

#include "sheet/allocator.h"

namespace sheet {

class Evaluator {
 public:
  // A worksheet function: takes the argument values, returns a result value built through
  // the allocator (a scalar, any other value, or an error).
  using Function = std::function<Anyval*(std::span<Anyval* const> args)>;

  explicit Evaluator(Allocator& allocator);
  Evaluator(const Evaluator&) = delete;
  Evaluator& operator=(const Evaluator&) = delete;

  IwsEvaluator* com() { return &com_.iface; }

  // A function value (tag kTagFunction or kTagFunction2) that applies `function`.
  Anyval* functionValue(Function function, uint32_t tag = kTagFunction2);

  // The slots called so far, in order, while the record is kept (from the start, until
  // keepCallRecord(false); the record stops short when memory runs out).
  const std::vector<int>& calls() const { return calls_; }
  void clearCalls() { calls_.clear(); }
  void keepCallRecord(bool keep);

  // The interrupt poll answers 1 from the nth poll on (1 = the next); 0 never. A request
  // (from a signal handler, say) makes every poll answer 1 until it is cleared.
  void interruptAfter(long polls);
  void requestInterrupt() { interruptRequested_ = true; }
  void clearInterrupt() { interruptRequested_ = false; }
  long polls() const { return polls_; }
  // True while a request stands: what the host's own long loops look at.
  bool interruptRequested() const { return interruptRequested_; }

  // What the interface slots do.
  void slotApply(Anyval* function, const sCons* args, Anyval** out) noexcept;
  void slotNote(int slot) noexcept;
  int32_t slotPoll() noexcept;
  void slotRelease(Anyval** value) noexcept;

  struct Com {
    IwsEvaluator iface;
    Evaluator* owner;
  };

 private:
  Allocator& allocator_;
  Com com_;
  std::vector<Function> functions_;
  std::vector<int> calls_;
  bool recording_ = true;
  long interruptAt_ = 0;
  long polls_ = 0;
  std::atomic<bool> interruptRequested_{false};
};

}  // namespace sheet
