// UTF-8 text lines as the bytes of a PDF literal string for a font in
// WinAnsiEncoding: each character becomes its code byte (winansi.h), written
// as an octal escape when it is not printable ASCII.
#include <cstdint>

#include "pdf/content.h"
#include "pdf/winansi.h"

namespace {

void append_octal(ByteBuf &ops, uint8_t b) {
  const char text[4] = {'\\', static_cast<char>('0' + (b >> 6)),
                        static_cast<char>('0' + ((b >> 3) & 7)), static_cast<char>('0' + (b & 7))};
  buf_bytes(ops, text, sizeof text);
}

}  // namespace

void escape_text_line(ByteBuf &ops, std::string_view line) {
  size_t i = 0;
  while (i < line.size()) {
    const WinAnsiChar ch = winansi_char_at(line, i);
    i += ch.used;
    if (!ch.shown) continue;
    const uint8_t c = ch.code;
    if (c == '(' || c == ')' || c == '\\') {
      const char text[2] = {'\\', static_cast<char>(c)};
      buf_bytes(ops, text, 2);
    } else if (c >= 0x20 && c <= 0x7E) {
      buf_bytes(ops, &c, 1);
    } else {
      append_octal(ops, c);
    }
  }
}
