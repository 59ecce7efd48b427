#include "sheet/utf8.h"

#include <algorithm>

namespace utf8 {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool within(unsigned char c, unsigned char low, unsigned char high) {
  return c >= low && c <= high;
}

}  // namespace

size_t sequenceLength(std::string_view text, size_t pos) {
  const auto byte = [&](size_t k) -> unsigned char {
    return pos + k < text.size() ? static_cast<unsigned char>(text[pos + k]) : 0;
  };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return pos < text.size() ? 1 : 0;
  // The second byte's range depends on the lead (no overlongs, surrogates or > U+10FFFF);
  // the later ones are plain continuation bytes.
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (within(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (within(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (within(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (!within(byte(1), low, high)) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (!within(byte(k), 0x80, 0xBF)) return 0;
  }
  return length;
}

size_t characters(std::string_view text, size_t bytes) {
  bytes = std::min(bytes, text.size());
  size_t count = 0;
  for (size_t pos = 0; pos < bytes; pos += std::max<size_t>(sequenceLength(text, pos), 1)) {
    ++count;
  }
  return count;
}

std::string repaired(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const size_t length = sequenceLength(text, pos);
    if (length == 0) {
      out += kReplacement;
      ++pos;
    } else {
      out += text.substr(pos, length);
      pos += length;
    }
  }
  return out;
}

}  // namespace utf8
