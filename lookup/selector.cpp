#include "lookup/selector.h"

#include <cstring>

#include "host/embedded.h"
#include "host/part_view.h"
#include "host/ufnutils.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace Ufn {

namespace {

// Slot 61: a record that points at other values.
void* recordBlock(UfnCallContext* ctx, uint64_t bytes) {
  return hostBlock(ctx, HostBlock::kRecord, bytes);
}

// Slot 62: plain data.
void* dataBlock(UfnCallContext* ctx, uint64_t bytes) {
  return hostBlock(ctx, HostBlock::kData, bytes);
}

// A string value with its text and NUL right behind the record, in one slot-62 block, or
// null.
aString* hostString(UfnCallContext* ctx, const char* text) {
  const size_t length = std::strlen(text);
  void* block = dataBlock(ctx, sizeof(aString) + uint64_t{length} + 1);
  if (!block) return nullptr;
  char* copy = static_cast<char*>(block) + sizeof(aString);
  std::memcpy(copy, text, length + 1);
  aString* string = static_cast<aString*>(block);
  *string = aString{kTagString, copy, static_cast<uint32_t>(length)};
  return string;
}

}  // namespace

aMatrix* select_elements(UfnCallContext* ctx, const aMatrix* source, const Selector& selector,
                         uint32_t rows, uint32_t cols) {
  aMatrix* result = newDataMatrix(ctx, rows, cols, 2);
  if (!result) return nullptr;
  result->flags = source->flags & aMatrix::kNested;
  const PartView re = realPart(result);
  const PartView im = imagPart(result);
  for (uint32_t j = 0; j < cols; ++j) {
    for (uint32_t i = 0; i < rows; ++i) {
      const Position from = selector(i, j);
      const std::complex<double> value =
          element_value(source, static_cast<int32_t>(from.row), static_cast<int32_t>(from.col));
      re(int32_t(i), int32_t(j)) = value.real();
      im(int32_t(i), int32_t(j)) = value.imag();
    }
  }
  return result;
}

Anyval* found_result(UfnCallContext* ctx, const aMatrix* source, const FoundList<Position>& found) {
  if (found.empty()) return lookup_error(ctx, msg::kNoMatch, kNoArgument);
  const std::span<const Position> positions = found.entries();
  const Found selector(positions.data(), positions.data() + positions.size());
  const auto count = static_cast<uint32_t>(selector.size());
  return result_or_out_of_memory(select_elements(ctx, source, selector, count, 1));
}

aMatrix* index_column(UfnCallContext* ctx, std::span<const uint32_t> indices, double origin) {
  aMatrix* column = newDataMatrix(ctx, static_cast<uint32_t>(indices.size()), 1, 1);
  if (!column) return nullptr;
  for (size_t k = 0; k < indices.size(); ++k) column->re[k] = indices[k] + origin;
  return column;
}

aMatrix* position_vector(UfnCallContext* ctx, double row, double column) {
  aMatrix* vector = newDataMatrix(ctx, 2, 1, 1);
  if (!vector) return nullptr;
  vector->re[0] = row;
  vector->re[1] = column;
  return vector;
}

aMatrix* nested_column(UfnCallContext* ctx, std::span<aMatrix* const> vectors) {
  const auto count = static_cast<uint32_t>(vectors.size());
  void* block = recordBlock(ctx, matrixBytes(count, 1));
  if (!block) return nullptr;
  aMatrix* column = layOutMatrix(block, count, 1, 1, aMatrix::kNested);
  for (uint32_t k = 0; k < count; ++k) column->re[k] = embedded::make(asValue(vectors[k]));
  return column;
}

Anyval* result_or_out_of_memory(aMatrix* m) {
  return m ? asValue(m) : outOfMemoryValue();
}

Anyval* lookup_error(UfnCallContext* ctx, const char* message, int index) {
  aString* text = hostString(ctx, message);
  if (!text) return outOfMemoryValue();
  void* block = recordBlock(ctx, sizeof(aError));
  if (!block) return outOfMemoryValue();
  aError* error = static_cast<aError*>(block);
  *error = aError{kTagError, 0, static_cast<uint32_t>(index + 1), text, 0, 0};
  return asValue(error);
}

Anyval* caught_error(UfnCallContext* ctx, const char* message, int index) noexcept {
  try {
    return lookup_error(ctx, message, index);
  } catch (...) {
    return outOfMemoryValue();
  }
}

int argument_index(std::initializer_list<const Anyval*> arguments, const Anyval* value) {
  int place = 0;
  for (const Anyval* argument : arguments) {
    if (argument == value) return place;
    ++place;
  }
  return 1;
}

}  // namespace Ufn
