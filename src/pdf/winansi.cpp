// UTF-8 text as WinAnsiEncoding code bytes, one character at a time.
#include "pdf/winansi.h"

namespace {

// The characters that WinAnsiEncoding places at 0x80-0x9F (ISO 32000-1,
// Annex D), sorted by code point.
struct WinAnsiCode {
  uint32_t code_point;
  uint8_t byte;
};
constexpr WinAnsiCode kWinAnsiHigh[] = {
    {0x0152, 0x8C}, {0x0153, 0x9C}, {0x0160, 0x8A}, {0x0161, 0x9A}, {0x0178, 0x9F}, {0x017D, 0x8E},
    {0x017E, 0x9E}, {0x0192, 0x83}, {0x02C6, 0x88}, {0x02DC, 0x98}, {0x2013, 0x96}, {0x2014, 0x97},
    {0x2018, 0x91}, {0x2019, 0x92}, {0x201A, 0x82}, {0x201C, 0x93}, {0x201D, 0x94}, {0x201E, 0x84},
    {0x2020, 0x86}, {0x2021, 0x87}, {0x2022, 0x95}, {0x2026, 0x85}, {0x2030, 0x89}, {0x2039, 0x8B},
    {0x203A, 0x9B}, {0x20AC, 0x80}, {0x2122, 0x99},
};

bool is_continuation(uint8_t c) { return c >= 0x80 && c <= 0xBF; }

// Returns the WinAnsi byte of the UTF-8 sequence at line[i] and stores its
// length in *used, or returns 0 when no character of kWinAnsiHigh starts there.
uint8_t winansi_high_byte(std::string_view line, size_t i, size_t *used) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(line[k]); };
  const uint8_t lead = at(i);
  uint32_t cp = 0;
  size_t n = 0;
  if ((lead == 0xC5 || lead == 0xC6 || lead == 0xCB) && i + 1 < line.size() &&
      is_continuation(at(i + 1))) {
    cp = (static_cast<uint32_t>(lead & 0x1F) << 6) | (at(i + 1) & 0x3Fu);
    n = 2;
  } else if (lead == 0xE2 && i + 2 < line.size() && is_continuation(at(i + 1)) &&
             is_continuation(at(i + 2))) {
    cp = (static_cast<uint32_t>(lead & 0x0F) << 12) |
         (static_cast<uint32_t>(at(i + 1) & 0x3F) << 6) | (at(i + 2) & 0x3Fu);
    n = 3;
  } else {
    return 0;
  }
  for (const WinAnsiCode &w : kWinAnsiHigh) {
    if (w.code_point == cp) {
      *used = n;
      return w.byte;
    }
  }
  return 0;
}

}  // namespace

WinAnsiChar winansi_char_at(std::string_view text, size_t at) {
  const uint8_t c = static_cast<uint8_t>(text[at]);
  if (c < 0x80) {
    // Control characters (tab, a CR inside the line, DEL) show nothing.
    return {c, 1, c >= 0x20 && c != 0x7F};
  }
  if ((c == 0xC2 || c == 0xC3) && at + 1 < text.size() &&
      is_continuation(static_cast<uint8_t>(text[at + 1]))) {
    // U+0080..U+00FF: the code byte is the code point.
    const uint8_t b = static_cast<uint8_t>(text[at + 1]);
    return {c == 0xC3 ? static_cast<uint8_t>(b + 0x40) : b, 2, true};
  }
  size_t used = 0;
  const uint8_t w = winansi_high_byte(text, at, &used);
  if (w != 0) return {w, used, true};
  return {c, 1, true};
}
