// A worker's argument checks, written as one chain in the order its rules give; the first
// check that fails is the one reported.
//
//   if (Anyval* error = Require(ctx, m, 1).square().real().notNested()
//                           .next(v, 2).vector()
//                           .blame(2, 0).that([&] { return m->rows == v->rows; },
//                                             msg::kIncompatibleDimension)
//                           .error())
//     return error;
//
// Every check is about the current argument (set by the constructor and by next()) and
// reports its message with the position pair (0, that argument's position), unless blame()
// or patched() said otherwise for it. Once a check has failed the rest are skipped, so a
// check may read what an earlier one vouched for (the rows of a value found to be a
// matrix), and that() runs its test only while every check so far has passed.
#pragma once

#include "host/ufnutils.h"
#include "pack/messages.h"

class Require {
 public:
  Require(UfnCallContext* ctx, const Anyval* argument, int position)
      : ctx_(ctx), argument_(argument), position_(position) {}
  Require(UfnCallContext* ctx, const aMatrix* argument, int position)
      : Require(ctx, asValue(argument), position) {}

  // The checks that follow are about this argument.
  Require& next(const Anyval* argument, int position) {
    argument_ = argument;
    position_ = position;
    return *this;
  }
  Require& next(const aMatrix* argument, int position) { return next(asValue(argument), position); }

  // Kinds of value.
  Require& matrix(const char* message = msg::kMustBeArray) {
    return check(isMatrix(argument_), message);
  }
  Require& scalar(const char* message = msg::kNonScalarValue) {
    return check(isScalar(argument_), message);
  }
  Require& function(const char* message = msg::kMustBeFunction) {
    return check(argument_->tag == kTagFunction || argument_->tag == kTagFunction2, message);
  }

  // Of a matrix: shape, realness (no imaginary-part array), nesting.
  Require& square(const char* message = msg::kMustBeSquare) {
    return check(!failed() && matrixArgument()->rows == matrixArgument()->cols, message);
  }
  // Exactly one column.
  Require& vector(const char* message = msg::kMustBeVector) {
    return check(!failed() && matrixArgument()->cols == 1, message);
  }
  Require& real(const char* message = msg::kMustBeReal) {
    return check(!failed() && !matrixArgument()->im, message);
  }
  Require& notNested(const char* message = msg::kMayNotBeNested) {
    return check(!failed() && !matrixArgument()->nested(), message);
  }

  // Any condition; `holds()` is called only while every check so far has passed.
  template <class Test>
  Require& that(Test holds, const char* message) {
    return check(!failed() && holds(), message);
  }

  // The next check that fails is reported with this position pair.
  Require& blame(int first, int position) {
    blameFirst_ = first;
    blamePosition_ = position;
    return *this;
  }
  // The next check that fails is reported through patch_error, naming the argument's value.
  Require& patched() {
    patched_ = true;
    return *this;
  }

  bool failed() const { return message_ != nullptr; }
  // The error value of the failed check; null when every check passed.
  Anyval* error() const;

 private:
  const aMatrix* matrixArgument() const { return as<aMatrix>(argument_); }
  // Inline, so that a chain of passing checks costs a few compares.
  Require& check(bool holds, const char* message) {
    if (!holds && !failed()) recordFailure(message);
    blameFirst_ = 0;
    blamePosition_ = -1;
    patched_ = false;
    return *this;
  }
  void recordFailure(const char* message);

  UfnCallContext* ctx_;
  const Anyval* argument_;
  int position_;
  // The pending blame of the next check; position -1: the argument's own.
  int blameFirst_ = 0, blamePosition_ = -1;
  bool patched_ = false;
  // The first failure.
  const char* message_ = nullptr;
  int first_ = 0, faultPosition_ = 0;
  const Anyval* offending_ = nullptr;
  bool reportPatched_ = false;
};
