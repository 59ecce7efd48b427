// Where a key occurs in a matrix.
//
//   match(z, A)   the places of every element of A equal to z, column by column, counted
//                 from ORIGIN. For A with one column: a column of row indices
//                   match(3, [1; 3; 5; 3]) = [1; 3]                      (ORIGIN 0)
//                   match(3, [1; 3; 5; 3]) = [2; 4]                      (ORIGIN 1)
//                 for any other A: a nested column of [row; column] vectors
//                   match(2, [1, 2; 2, 4]) = {[1; 0], [0; 1]}            (ORIGIN 0)
//                   match(1, [1, 2, 1]) = {[0; 0], [0; 2]}               (ORIGIN 0)
//                   match("b", ["a", "b"]) = {[0; 1]}                    (ORIGIN 0)
//
// A number z matches an element whose distance to it, |element - z|, is at most TOL;
// complex numbers are compared the same way. A string z matches a string with exactly its
// text, case included; A must then hold strings only. Only the real parts of TOL and ORIGIN
// are read.
//
// Errors: a key that is neither a string nor a number (argument 1); an A of the wrong kind
// for the key ("matrix[string]", "matrix[complex]", argument 2); nothing found ("no match").
#include <cmath>
#include <optional>

#include "host/part_view.h"
#include "lookup/matching.h"
#include "lookup/selector.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace {

using Ufn::kNoArgument;
using Ufn::lookup_error;

constexpr int kKeyArgument = 0;

// The places of the matches as [row; column] vectors, in a nested column. The vectors come
// first: the column that refers to them is the last block taken.
Anyval* positionColumn(UfnCallContext* ctx, std::span<const uint32_t> indices, uint32_t rows,
                       double origin) {
  heap::Array<aMatrix*> vectors(indices.size());
  if (!vectors) return lookup_error(ctx, msg::kOutOfMemory, kNoArgument);
  for (size_t n = 0; n < indices.size(); ++n) {
    vectors[n] = Ufn::position_vector(ctx, indices[n] % rows + origin, indices[n] / rows + origin);
    if (!vectors[n]) return outOfMemoryValue();
  }
  return Ufn::result_or_out_of_memory(Ufn::nested_column(ctx, {vectors.get(), indices.size()}));
}

}  // namespace

namespace worksheet {

Anyval* match(UfnCallContext* ctx, Anyval* z, Anyval* a, Anyval* tol, Anyval* origin) {
  const std::optional<Ufn::Key> key = Ufn::Key::of(z, tol);
  if (!key) return lookup_error(ctx, msg::kStringOrScalar, kKeyArgument);
  const aMatrix* m = Ufn::searched_matrix(*key, a);

  // Each match as its column-major index: row k mod rows, column k div rows.
  Ufn::FoundList<uint32_t> found;
  if (!found.reserve(elementCount(m))) return lookup_error(ctx, msg::kOutOfMemory, kNoArgument);
  Ufn::for_each_match(*key, m, [&](int32_t i, int32_t j) {
    found.append(uint32_t(i) + uint32_t(j) * uint32_t(m->rows));
  });
  if (found.empty()) return lookup_error(ctx, msg::kNoMatch, kNoArgument);

  const double o = std::trunc(as<aComplex>(origin)->re);
  if (m->cols < 2) return Ufn::result_or_out_of_memory(Ufn::index_column(ctx, found.entries(), o));
  return positionColumn(ctx, found.entries(), uint32_t(m->rows), o);
}

}  // namespace worksheet
