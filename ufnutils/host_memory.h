// ufnutils' access to the host allocator. A negative HRESULT throws HostAllocFailure;
// a null block with a non-negative result comes back as null.
#pragma once

#include <cstdint>

#include "host/ufnutils.h"

namespace ufnutils {

// Slot 60: an array of `count` doubles.
double* hostDoubles(IwsAllocator* allocator, uint32_t count);
// Slot 61: a block for a record holding pointers (matrix headers, error records).
void* hostRecord(IwsAllocator* allocator, uint32_t bytes);
// Slot 62: a block of plain data (strings with their text).
void* hostData(IwsAllocator* allocator, uint32_t bytes);
// Slot 63: gives back an unused array from slot 60 (null is ignored).
void giveBackDoubles(IwsAllocator* allocator, double* array);
// A string value with its text in the same slot-62 block, or null.
aString* hostString(IwsAllocator* allocator, const char* text);

}  // namespace ufnutils
