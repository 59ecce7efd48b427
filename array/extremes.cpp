// The largest and the smallest of values.
//
//   max(A, B, ...)   the largest of the values and of the elements of matrix values
//   min(A, B, ...)   the smallest
//
//     max(3, [7, -2]) = 7                min([-5, -3]) = -5
//     max(1 + 5i, 3 + 2i) = 3 + 5i       real and imaginary parts are compared separately
//     max("apple", "pear") = "pear"      strings compare byte by byte, as unsigned values
//
// Numbers and strings are both accepted, but not together. The first element of the first
// value seeds the search (the first value is read row by row, the others column by column);
// comparisons are strict, so among equal candidates the first met is kept. A string result
// is the string value itself, the argument or the element that held it. An element that
// refers to anything but a string is refused.
#include <cstring>

#include "host/embedded.h"
#include "host/part_view.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace {

enum class Extreme { kLargest, kSmallest };

// Calls visit(i, j) for every element of m, row by row or column by column, until it
// returns an error value; returns that error, or null.
template <class Visit>
Anyval* forEachElement(const aMatrix& m, bool rowByRow, Visit visit) {
  const int32_t outer = rowByRow ? m.rows : m.cols, inner = rowByRow ? m.cols : m.rows;
  for (int32_t a = 0; a < outer; ++a) {
    for (int32_t b = 0; b < inner; ++b) {
      if (Anyval* error = rowByRow ? visit(a, b) : visit(b, a)) return error;
    }
  }
  return nullptr;
}

// The running extremes: the real and imaginary parts separately, or the string.
class Search {
 public:
  Search(UfnCallContext* ctx, Extreme extreme)
      : ctx_(ctx), largest_(extreme == Extreme::kLargest) {}

  // Takes in the value at argument `position`; an error value when it cannot take part.
  Anyval* visit(Anyval* value, int position) {
    const bool seeds = position == 1;
    switch (value->tag) {
      case kTagScalar: {
        const aComplex* z = as<aComplex>(value);
        if (Anyval* error = offerNumber(z->re, seeds)) return error;
        offerImag(z->im, seeds);
        return nullptr;
      }
      case kTagString:
        return offerString(value, seeds);
      case kTagMatrix:
        return visitMatrix(*as<aMatrix>(value), seeds);
      default:
        return errorValue(ctx_, msg::kStringScalarOrArray, position);
    }
  }

  Anyval* result() const { return strings_ ? bestString_ : scalarValue(ctx_, bestRe_, bestIm_); }

 private:
  // A matrix: its element (0, 0) seeds the search when the matrix is the first value.
  Anyval* visitMatrix(const aMatrix& m, bool first) {
    const PartView re = realPart(&m), im = imagPart(&m);
    if (!re) {
      // Purely imaginary: only the imaginary extreme moves.
      if (strings_) return mixError();
      if (!im) return nullptr;
      return forEachElement(m, first, [&](int32_t i, int32_t j) -> Anyval* {
        offerImag(im(i, j), first && i == 0 && j == 0);
        return nullptr;
      });
    }
    return forEachElement(m, first, [&](int32_t i, int32_t j) -> Anyval* {
      const bool seeds = first && i == 0 && j == 0;
      if (embedded::is(re(i, j))) {
        Anyval* element = embedded::target(re(i, j));
        if (!isString(element)) return errorValue(ctx_, msg::kMayNotBeNestedMinMax, 1);
        return offerString(element, seeds);
      }
      if (Anyval* error = offerNumber(re(i, j), seeds)) return error;
      if (im) offerImag(im(i, j), seeds);
      return nullptr;
    });
  }

  Anyval* offerNumber(double x, bool seeds) {
    if (strings_) return mixError();
    if (seeds || better(x, bestRe_)) bestRe_ = x;
    return nullptr;
  }

  void offerImag(double y, bool seeds) {
    if (seeds || better(y, bestIm_)) bestIm_ = y;
  }

  Anyval* offerString(Anyval* text, bool seeds) {
    if (seeds) {
      strings_ = true;
    } else if (!strings_) {
      return mixError();
    } else if (!better(as<aString>(text), as<aString>(bestString_))) {
      return nullptr;
    }
    bestString_ = text;
    return nullptr;
  }

  bool better(double x, double best) const { return largest_ ? x > best : x < best; }
  // strcmp compares the bytes as unsigned values, up to the first difference or the end of
  // the shorter text.
  bool better(const aString* text, const aString* best) const {
    const int order = std::strcmp(text->text, best->text);
    return largest_ ? order > 0 : order < 0;
  }

  Anyval* mixError() const { return errorValue(ctx_, msg::kCannotMixScalarAndString, 0); }

  UfnCallContext* ctx_;
  const bool largest_;
  double bestRe_ = 0.0, bestIm_ = 0.0;
  Anyval* bestString_ = nullptr;
  bool strings_ = false;
};

Anyval* extremeOf(UfnCallContext* ctx, Counted values, Extreme extreme) {
  if (!values.values) return errorValue(ctx, msg::kOutOfMemory, 0);
  Search search(ctx, extreme);
  for (int k = 0; k < values.count; ++k) {
    if (Anyval* error = search.visit(values.values[k], k + 1)) return error;
  }
  return search.result();
}

}  // namespace

namespace worksheet {

Anyval* max(UfnCallContext* ctx, Counted values) {
  return extremeOf(ctx, values, Extreme::kLargest);
}

Anyval* min(UfnCallContext* ctx, Counted values) {
  return extremeOf(ctx, values, Extreme::kSmallest);
}

}  // namespace worksheet
