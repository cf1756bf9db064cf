// UTF-8 decoding, strict: overlong forms, surrogates, code points above
// U+10FFFF and truncated sequences are not characters.
#pragma once

#include <cstddef>
#include <string_view>

// One character decoded from UTF-8.
struct Utf8Char {
  char32_t code_point = 0;
  size_t used = 1;    // bytes of the text it takes (1 to 4; 1 for a byte that starts nothing)
  bool valid = true;  // false: the bytes at the position are not UTF-8
};

// Returns the character that starts at text[at]; at must be below text.size().
Utf8Char utf8_char_at(std::string_view text, size_t at);

// Returns how many bytes (1 to 4) the code point takes as UTF-8, written to
// out; a code point that is no character is written as U+FFFD.
size_t utf8_encode(char32_t code_point, char (&out)[4]);
