#include "tests/support/gallery.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace testsupport {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kDenormal = std::numeric_limits<double>::denorm_min();
// NaNs with payloads a host may pass: quieting the signalling one, or negating the other,
// gives the bits of an embedded element.
const double kSignallingNaN = std::bit_cast<double>(0xFFF7FFFFFFFFFFFFull);
const double kFullNaN = std::bit_cast<double>(0x7FFFFFFFFFFFFFFFull);

using Element = double (*)(int i, int j);

// A rows x cols matrix with the parts given (null: no such part array) and leading
// dimension ld.
Anyval* filled(Values& v, int rows, int cols, Element re, Element im = nullptr, int ld = 0) {
  aMatrix* m = v.blank(rows, cols, re != nullptr, im != nullptr, ld);
  for (int j = 0; j < cols; ++j) {
    for (int i = 0; i < rows; ++i) {
      if (re) realPart(m)(i, j) = re(i, j);
      if (im) imagPart(m)(i, j) = im(i, j);
    }
  }
  return asValue(m);
}

// Symmetric, diagonally dominant, positive definite; holds the numbers 1, 2 and 4.
double definite(int i, int j) {
  return i == j ? 4.0 + i : (i + j) % 3 == 1 ? 1.0 : 0.5;
}
double skew(int i, int j) {
  return (i - j) * 0.5 + (i == j ? 1.0 : 0.0);
}
double ramp(int i, int j) {
  return 1.0 + i + 3.0 * j;
}
// definite() with one special entry at (1, 1) (the leading block stays regular).
template <int kind>
double withSpecial(int i, int j) {
  if (i != 1 || j != 1) return definite(i, j);
  const double special[] = {kNaN, kInfinity, -kInfinity, 1e308, kSignallingNaN, kFullNaN};
  return special[kind];
}

// A column whose elements refer to the given values, with the nested flag as asked.
Anyval* column(Values& v, std::initializer_list<Anyval*> elements, bool nested) {
  aMatrix* m = v.column(elements);
  m->flags = nested ? aMatrix::kNested : 0;
  return asValue(m);
}

// A function value whose every application gives `result`, made beforehand.
Anyval* constantFunction(Values& v, Anyval* result, uint32_t tag = kTagFunction2) {
  return v.function([result](std::span<Anyval* const>) { return result; }, tag);
}

Anyval* identifier(Values& v) {
  static sString name{kTagString, "X", 2};
  Anyval* value = v.record(kTagIdentifier, sizeof(sIdentifier));
  *as<sIdentifier>(value) = sIdentifier{kTagIdentifier, 0, &name, 2};
  return value;
}

#define VALUE(name, ...)                                   \
  GalleryValue {                                           \
    name, [](Values& v) -> Anyval* { return __VA_ARGS__; } \
  }

const GalleryValue kGallery[] = {
    // The usual arguments first.
    VALUE("3 x 3 real", filled(v, 3, 3, definite)),
    VALUE("3 x 1 real", filled(v, 3, 1, ramp)),
    VALUE("1", v.scalar(1)),
    VALUE("0", v.scalar(0)),
    VALUE("function giving 1", constantFunction(v, v.scalar(1))),
    // Scalars.
    VALUE("-1", v.scalar(-1)),
    VALUE("-0", v.scalar(-0.0)),
    VALUE("2.5", v.scalar(2.5)),
    VALUE("3", v.scalar(3)),
    VALUE("1 + 1e-11", v.scalar(1 + 1e-11)),
    VALUE("4096", v.scalar(4096)),
    VALUE("4097", v.scalar(4097)),
    VALUE("2^31", v.scalar(2147483648.0)),
    VALUE("-2^31 - 1", v.scalar(-2147483649.0)),
    VALUE("1e10", v.scalar(1e10)),
    VALUE("1e308", v.scalar(1e308)),
    VALUE("-1e308", v.scalar(-1e308)),
    VALUE("denormal", v.scalar(kDenormal)),
    VALUE("NaN", v.scalar(kNaN)),
    VALUE("Infinity", v.scalar(kInfinity)),
    VALUE("-Infinity", v.scalar(-kInfinity)),
    VALUE("1 + 2i", v.scalar(1, 2)),
    VALUE("2i", v.scalar(0, 2)),
    VALUE("NaN + NaNi", v.scalar(kNaN, kNaN)),
    VALUE("signalling NaN", v.scalar(kSignallingNaN)),
    VALUE("-NaN with a full payload", v.scalar(-kFullNaN)),
    // Strings.
    VALUE("\"\"", v.string("")),
    VALUE("\"a\"", v.string("a")),
    VALUE("\"b\"", v.string("b")),
    // Kinds the pack only refuses.
    VALUE("function giving 2i", constantFunction(v, v.scalar(0, 2))),
    VALUE("function of the first kind", constantFunction(v, v.scalar(1), kTagFunction)),
    VALUE("function giving a string", constantFunction(v, v.string("s"))),
    VALUE("function giving an error", constantFunction(v, v.error("must be real", 0))),
    VALUE("function giving NaN", constantFunction(v, v.scalar(kNaN))),
    VALUE("function giving a signalling NaN", constantFunction(v, v.scalar(kSignallingNaN))),
    VALUE("function giving -NaN with a full payload", constantFunction(v, v.scalar(-kFullNaN))),
    VALUE("identifier", identifier(v)),
    VALUE("opaque value", v.record(kTagOpaque, 16)),
    VALUE("error value", v.error("singular matrix", 0)),
    // Matrices: parts and shapes.
    VALUE("3 x 3 complex", filled(v, 3, 3, definite, skew)),
    VALUE("3 x 3 imaginary", filled(v, 3, 3, nullptr, definite)),
    VALUE("3 x 3 without parts", filled(v, 3, 3, nullptr)),
    VALUE("1 x 1 real", v.value({{2}})),
    VALUE("1 x 1 complex", v.value({{2}}, {{-1}})),
    VALUE("1 x 4 real", filled(v, 1, 4, ramp)),
    VALUE("4 x 1 real", filled(v, 4, 1, ramp)),
    VALUE("4 x 1 complex", filled(v, 4, 1, ramp, skew)),
    VALUE("4 x 3 real", filled(v, 4, 3, ramp)),
    VALUE("3 x 4 real", filled(v, 3, 4, definite)),
    VALUE("0 x 0", filled(v, 0, 0, ramp)),
    VALUE("0 x 3", filled(v, 0, 3, ramp)),
    VALUE("3 x 0", filled(v, 3, 0, ramp)),
    VALUE("0 x 1 complex", filled(v, 0, 1, ramp, ramp)),
    VALUE("3 x 3 real, leading dimension 5", filled(v, 3, 3, definite, nullptr, 5)),
    VALUE("3 x 1 complex, leading dimension 4", filled(v, 3, 1, ramp, skew, 4)),
    VALUE("4 x 4 imaginary, leading dimension 7", filled(v, 4, 4, nullptr, skew, 7)),
    // Matrices: contents.
    VALUE("3 x 3 holding NaN", filled(v, 3, 3, withSpecial<0>)),
    VALUE("3 x 3 holding Infinity", filled(v, 3, 3, withSpecial<1>)),
    VALUE("3 x 3 holding -Infinity", filled(v, 3, 3, withSpecial<2>)),
    VALUE("3 x 3 holding 1e308", filled(v, 3, 3, withSpecial<3>)),
    VALUE("3 x 3 holding a signalling NaN", filled(v, 3, 3, withSpecial<4>)),
    VALUE("3 x 3 holding a NaN with a full payload", filled(v, 3, 3, withSpecial<5>)),
    VALUE("3 x 3 complex holding a signalling NaN", filled(v, 3, 3, definite, withSpecial<4>)),
    VALUE("3 x 3 complex holding NaN", filled(v, 3, 3, definite, withSpecial<0>)),
    VALUE("3 x 3 complex holding Infinity", filled(v, 3, 3, withSpecial<1>, definite)),
    VALUE("3 x 3 all 1e308", filled(v, 3, 3, [](int, int) { return 1e308; })),
    VALUE("3 x 3 complex all 1e308",
          filled(
              v, 3, 3, [](int, int) { return 1e308; }, [](int, int) { return 1e308; })),
    VALUE("3 x 3 denormal",
          filled(v, 3, 3, [](int i, int j) { return definite(i, j) * kDenormal; })),
    VALUE("3 x 3 zeros", filled(v, 3, 3, [](int, int) { return 0.0; })),
    VALUE("3 x 3 singular", filled(v, 3, 3, [](int i, int j) { return (i + 1.0) * (j + 1.0); })),
    VALUE("3 x 3 nearly singular",
          filled(v, 3, 3, [](int i, int j) { return (i + 1.0) * (j + 1.0) + (i == j) * 1e-17; })),
    VALUE("3 x 3 symmetric indefinite",
          filled(v, 3, 3, [](int i, int j) { return i == j ? -1.0 : 2.0; })),
    VALUE("3 x 3 skew", filled(v, 3, 3, skew)),
    // Matrices holding other values.
    VALUE("2 x 1 strings", column(v, {v.string("a"), v.string("b")}, false)),
    VALUE("2 x 1 strings, nested flag", column(v, {v.string("a"), v.string("b")}, true)),
    VALUE("2 x 1 string and scalar", column(v, {v.string("a"), v.scalar(1)}, false)),
    VALUE("2 x 2 scalars embedded",
          [&] {
            aMatrix* m = v.blank(2, 2, true, false);
            Anyval* const elements[] = {v.scalar(1), v.scalar(2, 1), v.scalar(kNaN),
                                        v.scalar(-kFullNaN)};
            for (int k = 0; k < 4; ++k) m->re[k] = embedded::make(elements[k]);
            return asValue(m);
          }()),
    VALUE("2 x 1 matrices embedded", column(v, {v.value({{1}, {2}}), v.value({{3, 4}})}, true)),
    VALUE("2 x 1 matrix and string", column(v, {filled(v, 3, 3, definite), v.string("a")}, true)),
    VALUE("2 x 2 strings",
          [&] {
            aMatrix* m = v.blank(2, 2, true, false);
            const char* texts[] = {"a", "c", "b", "d"};
            for (int k = 0; k < 4; ++k) m->re[k] = embedded::make(v.string(texts[k]));
            m->flags = aMatrix::kNested;
            return asValue(m);
          }()),
#if UINTPTR_MAX > 0xFFFFFFFFu
    // Past the sizes kept in small scratch and past one panel of the factorisations.
    VALUE("40 x 40 real", filled(v, 40, 40, definite)),
    VALUE("40 x 40 complex", filled(v, 40, 40, definite, skew)),
    VALUE("70 x 70 real, leading dimension 71", filled(v, 70, 70, definite, nullptr, 71)),
    VALUE("70 x 1 real", filled(v, 70, 1, ramp)),
#endif
};

const GalleryValue kTols[] = {
    VALUE("0.001", v.scalar(0.001)), VALUE("0", v.scalar(0)),
    VALUE("-1", v.scalar(-1)),       VALUE("0.5", v.scalar(0.5)),
    VALUE("1e308", v.scalar(1e308)), VALUE("Infinity", v.scalar(kInfinity)),
    VALUE("NaN", v.scalar(kNaN)),    VALUE("denormal", v.scalar(kDenormal)),
    VALUE("1 + 1i", v.scalar(1, 1)),
};

const GalleryValue kOrigins[] = {
    VALUE("0", v.scalar(0)),
    VALUE("1", v.scalar(1)),
    VALUE("-1", v.scalar(-1)),
    VALUE("0.5", v.scalar(0.5)),
    VALUE("-0.5", v.scalar(-0.5)),
    VALUE("1e10", v.scalar(1e10)),
    VALUE("-1e10", v.scalar(-1e10)),
    VALUE("2^31 - 1", v.scalar(2147483647.0)),
    VALUE("-2^31", v.scalar(-2147483648.0)),
    VALUE("1e308", v.scalar(1e308)),
    VALUE("NaN", v.scalar(kNaN)),
    VALUE("Infinity", v.scalar(kInfinity)),
    VALUE("-Infinity", v.scalar(-kInfinity)),
    VALUE("2i", v.scalar(0, 2)),
};

#undef VALUE

}  // namespace

std::span<const GalleryValue> gallery() {
  return kGallery;
}

int galleryIndex(const char* name) {
  for (size_t k = 0; k < std::size(kGallery); ++k) {
    if (std::strcmp(kGallery[k].name, name) == 0) return static_cast<int>(k);
  }
  std::fprintf(stderr, "no gallery value \"%s\"\n", name);
  std::abort();
}

std::span<const int> usualCandidates() {
  static const int candidates[] = {0, 1, 2, 3, 4};  // the first five values of the gallery
  return candidates;
}

std::span<const GalleryValue> tolValues() {
  return kTols;
}

std::span<const GalleryValue> originValues() {
  return kOrigins;
}

}  // namespace testsupport
