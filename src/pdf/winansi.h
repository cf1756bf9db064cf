// UTF-8 text as the code bytes of WinAnsiEncoding, the encoding of the
// stamp's font. Latin-1 characters and the characters that WinAnsiEncoding
// places at 0x80-0x9F become their single code byte; ASCII control
// characters show nothing; any other byte (a character outside WinAnsi,
// broken UTF-8) stands for itself. The one conversion that both the stamp's
// text and its measurement use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One character of the text in WinAnsiEncoding.
struct WinAnsiChar {
  uint8_t code = 0;   // the code byte shown
  size_t used = 1;    // how many bytes of the text it takes (1 to 3)
  bool shown = true;  // false for an ASCII control character, which shows nothing
};

// Returns the character that starts at text[at]; at must be below text.size().
WinAnsiChar winansi_char_at(std::string_view text, size_t at);
