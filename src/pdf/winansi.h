// UTF-8 text, one character at a time, and the characters of
// WinAnsiEncoding, the encoding of the stamp's main built-in font.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One character of UTF-8 text.
struct Utf8Char {
  uint32_t code_point = 0;  // for a byte that starts no valid sequence: the byte
  size_t used = 1;          // how many bytes of the text it takes (1 to 4)
  bool valid = true;        // false for such a stray byte
};

// Returns the character that starts at text[at]; at must be below
// text.size(). Overlong forms, surrogates and code points above U+10FFFF
// are not valid sequences.
Utf8Char utf8_char_at(std::string_view text, size_t at);

// Returns the WinAnsiEncoding code of the character, or -1 when
// WinAnsiEncoding has none: printable ASCII, U+00A0-U+00FF as their own
// codes, and the 27 characters it places at 0x80-0x9F.
int winansi_code(uint32_t code_point);
