// Table lookup: find every element equal to a key and return, as one column in the order
// found, the values at the matching places.
//
//   lookup(z, A, B)    searches all of A, column by column; the elements of B at the
//                      matching places
//                        lookup(2, [1, 2; 3, 2], [10, 20; 30, 40]) = [20; 40]
//   hlookup(z, A, r)   searches the first row of A; row r of each matching column, left
//                      to right
//                        hlookup(3, [1, 3, 3; 10, 30, 31], 1) = [30; 31]       (ORIGIN 0)
//                        hlookup("b", ["a", "b"; "x", "y"], 1) = ["y"]         (ORIGIN 0)
//   vlookup(z, A, c)   searches the first column of A; column c of each matching row, top
//                      to bottom
//                        vlookup(3, [1, 10; 3, 30; 3, 31], 1) = [30; 31]       (ORIGIN 0)
//                        vlookup(3, [1, 10; 3, 30; 3, 31], 2) = [30; 31]       (ORIGIN 1)
//
// A number z matches an element whose distance to it, |element - z|, is at most TOL
// (lookup(2, [1.5, 2.6], [1, 2]) = [1] with TOL 0.5); complex numbers are compared the same
// way. A string z matches a string with exactly its text, case included. r and c count
// from ORIGIN. Results keep the nested flag of the matrix they are taken from, so strings
// found stay strings.
//
// Errors: a key that is neither a string nor a number (argument 1); a B smaller than A
// ("incompatible dimension", argument 3); r or c not a whole number ("int", argument 3) or
// outside A ("index out of bounds", argument 3); an A or B of the wrong kind for the key
// ("matrix[value]", "matrix[string]", "matrix[complex]"); nothing found ("no match").
#include <cmath>
#include <optional>

#include "host/part_view.h"
#include "lookup/matching.h"
#include "lookup/selector.h"
#include "pack/entries.h"

namespace {

using Ufn::FoundList;
using Ufn::Key;
using Ufn::kNoArgument;
using Ufn::lookup_error;
using Ufn::Position;

// Arguments (from 0) the functions' own errors name.
constexpr int kKeyArgument = 0;
constexpr int kThirdArgument = 2;  // B, r or c

// The line hlookup searches (the first row of A) or vlookup searches (the first column).
class SearchLine {
 public:
  enum Direction { kFirstRow, kFirstColumn };

  // A's line in that direction, holding the key's kind only: each element a string for a
  // string key, no element referring to another value for a number.
  static SearchLine of(const Key& key, const Anyval* a, Direction direction) {
    const SearchLine line(Ufn::any_matrix(a), direction);
    for (int32_t k = 0; k < line.size(); ++k) {
      const Position p = line.at(k, 0);
      const int32_t i = int32_t(p.row), j = int32_t(p.col);
      if (key.isString() && !Ufn::string_element(line.m_, i, j))
        throw Ufn::bad_cast(msg::kExpectedStringMatrix, a);
      if (!key.isString() && Ufn::refers_to_value(line.m_, i, j))
        throw Ufn::bad_cast(msg::kExpectedNumericMatrix, a);
    }
    return line;
  }

  const aMatrix* matrix() const { return m_; }
  // Elements on the line; none when A has no rows or no columns.
  int32_t size() const {
    if (m_->rows == 0 || m_->cols == 0) return 0;
    return direction_ == kFirstRow ? m_->cols : m_->rows;
  }
  // The number of rows (first row) or columns (first column) an index may pick from.
  int32_t indexBound() const { return direction_ == kFirstRow ? m_->rows : m_->cols; }
  // The element `offset` rows below (first row) or columns right of (first column) the
  // line's kth element.
  Position at(int32_t k, uint32_t offset) const {
    return direction_ == kFirstRow ? Position{offset, uint32_t(k)} : Position{uint32_t(k), offset};
  }
  bool matches(const Key& key, int32_t k) const {
    const Position p = at(k, 0);
    return key.matches(m_, int32_t(p.row), int32_t(p.col));
  }

 private:
  SearchLine(const aMatrix* m, Direction direction) : m_(m), direction_(direction) {}

  const aMatrix* m_;
  Direction direction_;
};

// hlookup and vlookup: search the line, pick the element `index` rows below or columns
// right of each match.
Anyval* lineLookup(UfnCallContext* ctx, Anyval* z, Anyval* a, Anyval* index, Anyval* tol,
                   Anyval* origin, SearchLine::Direction direction) {
  const std::optional<Key> key = Key::of(z, tol);
  if (!key) return lookup_error(ctx, msg::kStringOrScalar, kKeyArgument);
  const double offset = Ufn::index_argument(index) - std::trunc(as<aComplex>(origin)->re);
  const SearchLine line = SearchLine::of(*key, a, direction);
  if (!(offset >= 0 && offset < line.indexBound()))
    return lookup_error(ctx, msg::kIndexOutOfBounds, kThirdArgument);

  FoundList<Position> found;
  if (!found.reserve(size_t(line.size()))) return lookup_error(ctx, msg::kOutOfMemory, kNoArgument);
  for (int32_t k = 0; k < line.size(); ++k) {
    if (line.matches(*key, k)) found.append(line.at(k, uint32_t(offset)));
  }
  return Ufn::found_result(ctx, line.matrix(), found);
}

}  // namespace

namespace worksheet {

Anyval* lookup(UfnCallContext* ctx, Anyval* z, Anyval* a, Anyval* b, Anyval* tol) {
  const std::optional<Key> key = Key::of(z, tol);
  if (!key) return lookup_error(ctx, msg::kStringOrScalar, kKeyArgument);
  const aMatrix* source = Ufn::any_matrix(b);
  const aMatrix* searched = Ufn::searched_matrix(*key, a);
  if (searched->rows > source->rows || searched->cols > source->cols)
    return lookup_error(ctx, msg::kIncompatibleDimension, kThirdArgument);

  FoundList<Position> found;
  if (!found.reserve(elementCount(searched)))
    return lookup_error(ctx, msg::kOutOfMemory, kNoArgument);
  Ufn::for_each_match(*key, searched, [&](int32_t i, int32_t j) {
    found.append({uint32_t(i), uint32_t(j)});
  });
  return Ufn::found_result(ctx, source, found);
}

Anyval* hlookup(UfnCallContext* ctx, Anyval* z, Anyval* a, Anyval* r, Anyval* tol, Anyval* origin) {
  return lineLookup(ctx, z, a, r, tol, origin, SearchLine::kFirstRow);
}

Anyval* vlookup(UfnCallContext* ctx, Anyval* z, Anyval* a, Anyval* c, Anyval* tol, Anyval* origin) {
  return lineLookup(ctx, z, a, c, tol, origin, SearchLine::kFirstColumn);
}

}  // namespace worksheet
