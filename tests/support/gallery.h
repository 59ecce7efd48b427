// The host values the table sweep passes in every argument position: every kind of value a
// host hands the pack, shapes and contents a worksheet cannot always write, and the odd
// values of the system variables.
#pragma once

#include <span>

#include "tests/support/values.h"

namespace testsupport {

// One value of the gallery: its name and how it is built (fresh for every call).
struct GalleryValue {
  const char* name;
  Anyval* (*build)(Values& values);
};

// Scalars, strings, matrices of every shape and content, and the kinds the pack only
// refuses. The 32-bit build, whose tests run under an emulator, leaves out the largest
// matrices.
std::span<const GalleryValue> gallery();
// The gallery value with this name; aborts when there is none.
int galleryIndex(const char* name);

// The values a row's usual arguments are searched among: a square and a column matrix, two
// scalars and a function value.
std::span<const int> usualCandidates();

// Values of TOL and of ORIGIN, the first of each the one a worksheet starts with.
std::span<const GalleryValue> tolValues();
std::span<const GalleryValue> originValues();

}  // namespace testsupport
