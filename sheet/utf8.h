// UTF-8 text: worksheet lines and strings are UTF-8, and what matsheet writes is too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace utf8 {

// The length of the well-formed character that starts at text[pos] (1 to 4 bytes), or 0
// when the bytes there are not one: a stray continuation byte, a sequence cut short, an
// overlong form, a surrogate, or a code point beyond U+10FFFF.
size_t sequenceLength(std::string_view text, size_t pos);

// Characters in text[0, bytes): a byte that starts no character counts as one.
size_t characters(std::string_view text, size_t bytes = std::string_view::npos);

// The text with each byte that starts no character replaced by U+FFFD.
std::string repaired(std::string_view text);

}  // namespace utf8
