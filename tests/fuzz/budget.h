// A fuzz input's budget, so that none runs for long: the host's interfaces with no block
// larger than a limit for the pack (as if the host were out of memory), and a limit on how
// often worksheet functions are applied (later applications give "interrupted"). Install
// puts them in the host's call context for as long as the budget lives.
#pragma once

#include "pack/errors.h"
#include "sheet/host.h"
#include "tests/support/interposers.h"

namespace fuzzing {

class Budget {
 public:
  Budget(sheet::Host& host, uint64_t mostBytes, long mostApplications)
      : host_(host),
        saved_(host.context),
        memory_(host.context.allocator, mostBytes),
        applications_(host.context.evaluator, host.context.allocator, mostApplications) {
    host.context = UfnCallContext{memory_.com(), applications_.com()};
  }
  ~Budget() { host_.context = saved_; }
  Budget(const Budget&) = delete;
  Budget& operator=(const Budget&) = delete;

 private:
  class Memory : public testsupport::AllocatorInterposer {
   public:
    Memory(IwsAllocator* host, uint64_t most) : AllocatorInterposer(host), most_(most) {}
    HRESULT allocate(int slot, void** out, uint64_t bytes) override {
      *out = nullptr;
      return bytes > most_ ? kHrOk : AllocatorInterposer::allocate(slot, out, bytes);
    }

   private:
    uint64_t most_;
  };

  class Applications : public testsupport::EvaluatorInterposer {
   public:
    Applications(IwsEvaluator* host, IwsAllocator* allocator, long most)
        : EvaluatorInterposer(host), allocator_(allocator), left_(most) {}
    void apply(Anyval* f, const sCons* args, Anyval** out) override {
      if (--left_ < 0) {
        *out = asValue(aError::mk(allocator_, msg::kInterrupted, 0, 0, nullptr, nullptr));
        return;
      }
      EvaluatorInterposer::apply(f, args, out);
    }

   private:
    IwsAllocator* allocator_;
    long left_;
  };

  sheet::Host& host_;
  const UfnCallContext saved_;
  Memory memory_;
  Applications applications_;
};

}  // namespace fuzzing
