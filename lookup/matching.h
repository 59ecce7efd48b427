// What the lookup functions search for and where they may search: the rule that decides
// whether an element matches the key, and the kind tests on keys, searched matrices and
// index arguments.
//
// A value of the wrong kind is thrown as Ufn::bad_cast carrying that value; each lookup
// function catches it once and reports the kind it expected, naming the argument that
// carried the value (lookup/selector.h).
#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <typeinfo>

#include "host/records.h"

namespace Ufn {

// A value that is not of the kind an operation expects. what() names the kind expected:
// "int", "matrix[value]", "matrix[complex]" or "matrix[string]".
class bad_cast : public std::bad_cast {
 public:
  bad_cast(const char* expected, const Anyval* value) : expected_(expected), value_(value) {}
  const char* what() const noexcept override { return expected_; }
  const Anyval* value() const { return value_; }

 private:
  const char* expected_;
  const Anyval* value_;
};

// The value element (i, j) holds: real and imaginary part, 0 for a part the matrix has no
// array for.
std::complex<double> element_value(const aMatrix* m, int32_t i, int32_t j);
// True when element (i, j) refers to another value (a string or a nested array) instead of
// holding a number.
bool refers_to_value(const aMatrix* m, int32_t i, int32_t j);
// The string element (i, j) refers to; null when it holds a number or another value.
const aString* string_element(const aMatrix* m, int32_t i, int32_t j);

// True when |element - key| <= tol (the bound is inclusive).
bool matches_value(std::complex<double> key, std::complex<double> element, double tol);
// True when `element` is a string with exactly the key's text (byte for byte, no tolerance).
bool matches_string(const aString* key, const aString* element);

// The key of a search: a string, compared by its text, or a complex number, compared
// within the tolerance.
class Key {
 public:
  // The key `z` stands for, with the real part of `tol` as its tolerance; nothing when z is
  // neither a string nor a scalar.
  static std::optional<Key> of(const Anyval* z, const Anyval* tol);

  bool isString() const { return text_ != nullptr; }
  // True when element (i, j) of `m` matches the key.
  bool matches(const aMatrix* m, int32_t i, int32_t j) const;

 private:
  const aString* text_ = nullptr;
  std::complex<double> number_;
  double tol_ = 0.0;
};

// Calls found(i, j) for each element of `m` that matches `key`, column by column from the
// first, top to bottom within a column.
template <class Found>
void for_each_match(const Key& key, const aMatrix* m, Found&& found) {
  for (int32_t j = 0; j < m->cols; ++j) {
    for (int32_t i = 0; i < m->rows; ++i) {
      if (key.matches(m, i, j)) found(i, j);
    }
  }
}

// A complex scalar within 1e-10 of a whole number in the 32-bit range: its imaginary part
// and the fraction its real part leaves when truncated toward zero are both at most 1e-10
// in magnitude. So 3 + 1e-11 passes as 3, while 3 - 1e-11 fails.
bool is_index_value(const Anyval* v);
// A matrix without nested arrays.
bool is_numeric_matrix(const Anyval* v);
// A nested real matrix each of whose elements refers to a string.
bool is_string_matrix(const Anyval* v);

// The whole number an index argument stands for; bad_cast("int") when it is none.
int32_t index_argument(const Anyval* v);
// `v` as a matrix; bad_cast("matrix[value]") when it is none.
const aMatrix* any_matrix(const Anyval* v);
// `v` as a matrix that can be searched in full for `key`: a string matrix for a string key
// (else bad_cast("matrix[string]")), a numeric matrix for a number (else
// bad_cast("matrix[complex]")).
const aMatrix* searched_matrix(const Key& key, const Anyval* v);

}  // namespace Ufn
