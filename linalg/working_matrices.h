// Working copies for the complex routines.
#pragma once

#include "host/ufnutils.h"

// A working copy of m with both part arrays (zeros where m has none). Null on success.
const char* complexCopy(UfnCallContext* ctx, aMatrix* m, aMatrix** out);
