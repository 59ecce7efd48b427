// Host matrices the complex routines work on: copies with both part arrays, and square
// matrices over arrays from the pack's heap.
#pragma once

#include <cstdint>

#include "host/ufnutils.h"

// A working copy of m with both part arrays (zeros where m has none). Null on success.
const char* complexCopy(UfnCallContext* ctx, aMatrix* m, aMatrix** out);

// A new n x n host matrix over a real and an imaginary array from the pack's heap, each
// zeroed when asked; null when there is no memory.
aMatrix* newComplexSquare(UfnCallContext* ctx, int32_t n, bool zeroRe = false, bool zeroIm = false);
