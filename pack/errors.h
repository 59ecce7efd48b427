// Error values: a message from the vocabulary (pack/messages.h) and the position pair, the
// 1-based argument at fault (0: none) and a first integer that is 0 but where a function's
// rules say otherwise.
#pragma once

#include "host/ufnutils.h"
#include "pack/messages.h"

// An error naming the argument at `position`; the first integer is 0.
Anyval* errorValue(UfnCallContext* ctx, const char* message, int position);
// An error with both integers of the position pair given.
Anyval* errorValue(UfnCallContext* ctx, const char* message, int first, int position);
// The host's prebuilt out-of-memory value, returned as is.
Anyval* outOfMemoryValue();

// An error value returned where the caller expects a record of another kind (an exported
// routine that gives a matrix or its error): the caller tests the tag.
template <class Record>
Record* inPlaceOf(Anyval* error) {
  return reinterpret_cast<Record*>(error);
}
