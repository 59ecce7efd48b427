#include "lookup/matching.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "host/embedded.h"
#include "host/part_view.h"
#include "pack/messages.h"

namespace Ufn {

namespace {

// How far an index argument may lie from a whole number, in its real and imaginary part.
constexpr double kIndexSlack = 1e-10;

}  // namespace

std::complex<double> element_value(const aMatrix* m, int32_t i, int32_t j) {
  const double re = m->re ? realPart(m)(i, j) : 0.0;
  const double im = m->im ? imagPart(m)(i, j) : 0.0;
  return {re, im};
}

bool refers_to_value(const aMatrix* m, int32_t i, int32_t j) {
  return m->re && embedded::is(realPart(m)(i, j));
}

const aString* string_element(const aMatrix* m, int32_t i, int32_t j) {
  if (!refers_to_value(m, i, j)) return nullptr;
  const Anyval* target = embedded::target(realPart(m)(i, j));
  return isString(target) ? as<aString>(target) : nullptr;
}

bool matches_value(std::complex<double> key, std::complex<double> element, double tol) {
  return std::abs(element - key) <= tol;
}

bool matches_string(const aString* key, const aString* element) {
  return element && std::strcmp(key->text, element->text) == 0;
}

std::optional<Key> Key::of(const Anyval* z, const Anyval* tol) {
  Key key;
  if (::isString(z)) {
    key.text_ = as<aString>(z);
  } else if (isScalar(z)) {
    key.number_ = {as<aComplex>(z)->re, as<aComplex>(z)->im};
    key.tol_ = as<aComplex>(tol)->re;
  } else {
    return std::nullopt;
  }
  return key;
}

bool Key::matches(const aMatrix* m, int32_t i, int32_t j) const {
  if (text_) return matches_string(text_, string_element(m, i, j));
  return matches_value(number_, element_value(m, i, j), tol_);
}

bool is_index_value(const Anyval* v) {
  if (!isScalar(v)) return false;
  const aComplex* scalar = as<aComplex>(v);
  if (!(std::abs(scalar->im) <= kIndexSlack)) return false;
  double whole = 0.0;
  const double fraction = std::modf(scalar->re, &whole);
  return std::abs(fraction) <= kIndexSlack && whole >= std::numeric_limits<int32_t>::min() &&
         whole <= std::numeric_limits<int32_t>::max();
}

bool is_numeric_matrix(const Anyval* v) {
  return isMatrix(v) && !as<aMatrix>(v)->nested();
}

bool is_string_matrix(const Anyval* v) {
  if (!isMatrix(v)) return false;
  const aMatrix* m = as<aMatrix>(v);
  if (!m->nested() || m->im || !m->re) return false;
  for (int32_t j = 0; j < m->cols; ++j) {
    for (int32_t i = 0; i < m->rows; ++i) {
      if (!string_element(m, i, j)) return false;
    }
  }
  return true;
}

int32_t index_argument(const Anyval* v) {
  if (!is_index_value(v)) throw bad_cast(msg::kExpectedInt, v);
  return static_cast<int32_t>(std::trunc(as<aComplex>(v)->re));
}

const aMatrix* any_matrix(const Anyval* v) {
  if (!isMatrix(v)) throw bad_cast(msg::kExpectedMatrix, v);
  return as<aMatrix>(v);
}

const aMatrix* searched_matrix(const Key& key, const Anyval* v) {
  if (key.isString()) {
    if (!is_string_matrix(v)) throw bad_cast(msg::kExpectedStringMatrix, v);
  } else {
    if (!is_numeric_matrix(v)) throw bad_cast(msg::kExpectedNumericMatrix, v);
  }
  return as<aMatrix>(v);
}

}  // namespace Ufn
