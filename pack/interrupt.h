// The user's request to stop a long calculation, as the host's evaluator reports it
// (slot 10, always asked with 1).
//
// Routines whose work grows as n^3 ask once per outer step and stop with "interrupted",
// releasing everything they hold. Routines also callable without a call context (the
// exported factorisations) take an Interrupt that never fires.
#pragma once

#include "host/records.h"

class Interrupt {
 public:
  // Never fires.
  Interrupt() = default;
  // Asks the host whose call context this is.
  explicit Interrupt(UfnCallContext* ctx) : evaluator_(ctx->evaluator) {}

  // True when the user asked to stop.
  bool requested() const {
    return evaluator_ && evaluator_->table->pollInterrupt(evaluator_, 1) != 0;
  }

 private:
  IwsEvaluator* evaluator_ = nullptr;
};
