// ASCIIHexDecode: two hexadecimal digits a byte.
#include "filters/filter_output.h"
#include "filters/filters.h"
#include "pdf/scan.h"

FilterStatus ascii_hex_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit) {
  FilterOutput o{out, limit};
  if (!out_room(o, 0)) return out_finish(o, FilterStatus::too_large);
  int high = -1;  // the first digit of a pair, while the second is awaited
  for (const uint8_t c : in) {
    if (is_pdf_ws(c)) continue;
    if (c == '>') break;
    const int v = hex_digit_value(c);
    if (v < 0) return out_finish(o, FilterStatus::damaged);
    if (high < 0) {
      high = v;
    } else {
      if (!out_byte(o, static_cast<uint8_t>(high << 4 | v))) return out_finish(o, FilterStatus::too_large);
      high = -1;
    }
  }
  // An odd number of digits: the last one is taken as followed by 0.
  if (high >= 0 && !out_byte(o, static_cast<uint8_t>(high << 4))) return out_finish(o, FilterStatus::too_large);
  return out_finish(o, FilterStatus::ok);
}
