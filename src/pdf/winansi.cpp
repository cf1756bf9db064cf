// UTF-8 decoding and WinAnsiEncoding codes.
#include "pdf/winansi.h"

#include <algorithm>
#include <iterator>

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

bool in_range(uint8_t c, uint8_t low, uint8_t high) { return c >= low && c <= high; }

}  // namespace

Utf8Char utf8_char_at(std::string_view text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(at);
  const Utf8Char stray{lead, 1, false};
  if (lead < 0x80) return {lead, 1, true};
  size_t n = 0;
  uint32_t cp = 0;
  // The range the second byte must lie in rules out overlong forms,
  // surrogates and code points above U+10FFFF.
  uint8_t low = 0x80, high = 0xBF;
  if (in_range(lead, 0xC2, 0xDF)) {
    n = 2;
    cp = lead & 0x1Fu;
  } else if (in_range(lead, 0xE0, 0xEF)) {
    n = 3;
    cp = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (in_range(lead, 0xF0, 0xF4)) {
    n = 4;
    cp = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return stray;
  }
  if (n > text.size() - at) return stray;
  for (size_t k = 1; k < n; ++k) {
    const uint8_t c = byte(at + k);
    if (!in_range(c, k == 1 ? low : 0x80, k == 1 ? high : 0xBF)) return stray;
    cp = (cp << 6) | (c & 0x3Fu);
  }
  return {cp, n, true};
}

int winansi_code(uint32_t code_point) {
  if ((code_point >= 0x20 && code_point <= 0x7E) || (code_point >= 0xA0 && code_point <= 0xFF))
    return static_cast<int>(code_point);
  const auto *end = std::end(kWinAnsiHigh);
  const auto *found = std::lower_bound(
      std::begin(kWinAnsiHigh), end, code_point,
      [](const WinAnsiCode &w, uint32_t cp) { return w.code_point < cp; });
  return found != end && found->code_point == code_point ? found->byte : -1;
}
