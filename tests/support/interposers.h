// Interfaces that stand between the pack and the host's own: every slot is passed on to the
// host's, except where a test looks first or answers instead (override the virtual ones).
#pragma once

#include <cstdint>

#include "host/records.h"

namespace testsupport {

class EvaluatorInterposer {
 public:
  explicit EvaluatorInterposer(IwsEvaluator* host) : com_{{&kTable}, this}, host_(host) {}
  virtual ~EvaluatorInterposer() = default;
  EvaluatorInterposer(const EvaluatorInterposer&) = delete;
  EvaluatorInterposer& operator=(const EvaluatorInterposer&) = delete;

  // The interface to hand the pack.
  IwsEvaluator* com() { return &com_.iface; }
  IwsEvaluator* host() const { return host_; }

  // Slots 3 (apply), 10 (poll) and 11 (release).
  virtual void apply(Anyval* f, const sCons* args, Anyval** out);
  virtual int32_t poll(int32_t one);
  virtual void release(Anyval** value);

  struct Com {
    IwsEvaluator iface;
    EvaluatorInterposer* owner;
  };

 private:
  static const IwsEvaluatorTable kTable;
  Com com_;
  IwsEvaluator* host_;
};

class AllocatorInterposer {
 public:
  explicit AllocatorInterposer(IwsAllocator* host) : com_{{&kTable}, this}, host_(host) {}
  virtual ~AllocatorInterposer() = default;
  AllocatorInterposer(const AllocatorInterposer&) = delete;
  AllocatorInterposer& operator=(const AllocatorInterposer&) = delete;

  IwsAllocator* com() { return &com_.iface; }
  IwsAllocator* host() const { return host_; }

  // Slots 60, 61 and 62: `bytes` asked of the slot.
  virtual HRESULT allocate(int slot, void** out, uint64_t bytes);

  struct Com {
    IwsAllocator iface;
    AllocatorInterposer* owner;
  };

 private:
  static const IwsAllocatorTable kTable;
  Com com_;
  IwsAllocator* host_;
};

}  // namespace testsupport
