#include "pack/checks.h"

#include "pack/errors.h"

void Require::recordFailure(const char* message) {
  message_ = message;
  first_ = blameFirst_;
  faultPosition_ = blamePosition_ >= 0 ? blamePosition_ : position_;
  offending_ = argument_;
  reportPatched_ = patched_;
}

Anyval* Require::error() const {
  if (!failed()) return nullptr;
  if (reportPatched_) {
    return asValue(patch_error(ctx_, message_, const_cast<Anyval*>(offending_), faultPosition_));
  }
  return errorValue(ctx_, message_, first_, faultPosition_);
}
