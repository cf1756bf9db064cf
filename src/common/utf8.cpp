#include "common/utf8.h"

#include <cstdint>

Utf8Char utf8_char_at(std::string_view text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[at + k]); };
  const uint8_t lead = byte(0);
  if (lead < 0x80) return {lead, 1, true};
  // The sequence length and the smallest code point it may carry (shorter
  // forms of smaller ones are overlong).
  size_t count = 0;
  char32_t least = 0;
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 2, least = 0x80, cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 3, least = 0x800, cp = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 4, least = 0x10000, cp = lead & 0x07u;
  } else {
    return {lead, 1, false};
  }
  if (text.size() - at < count) return {lead, 1, false};
  for (size_t k = 1; k < count; ++k) {
    const uint8_t c = byte(k);
    if (c < 0x80 || c > 0xBF) return {lead, 1, false};
    cp = cp << 6 | (c & 0x3Fu);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {lead, 1, false};
  return {cp, count, true};
}

size_t utf8_encode(char32_t cp, char (&out)[4]) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  const auto put = [&](size_t k, char32_t v) { out[k] = static_cast<char>(v); };
  if (cp < 0x80) {
    put(0, cp);
    return 1;
  }
  if (cp < 0x800) {
    put(0, 0xC0 | cp >> 6);
    put(1, 0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    put(0, 0xE0 | cp >> 12);
    put(1, 0x80 | (cp >> 6 & 0x3F));
    put(2, 0x80 | (cp & 0x3F));
    return 3;
  }
  put(0, 0xF0 | cp >> 18);
  put(1, 0x80 | (cp >> 12 & 0x3F));
  put(2, 0x80 | (cp >> 6 & 0x3F));
  put(3, 0x80 | (cp & 0x3F));
  return 4;
}
