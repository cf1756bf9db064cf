// ASCII85Decode: groups of five base-85 digits ('!' to 'u') for four bytes.
#include "filters/filter_output.h"
#include "filters/filters.h"
#include "pdf/scan.h"

namespace {

// Returns true after appending the first count bytes of a group's value.
bool put_group(FilterOutput &o, uint64_t value, int count) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return out_bytes(o, bytes, static_cast<uint64_t>(count));
}

}  // namespace

FilterStatus ascii85_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit) {
  FilterOutput o{out, limit};
  if (!out_room(o, 0)) return out_finish(o, FilterStatus::too_large);
  size_t pos = 0;
  while (pos < in.size() && is_pdf_ws(in[pos])) ++pos;
  if (in.size() - pos >= 2 && in[pos] == '<' && in[pos + 1] == '~') pos += 2;

  uint64_t value = 0;  // at most 85^5 - 1, which fits
  int digits = 0;      // of the current group
  for (; pos < in.size(); ++pos) {
    const uint8_t c = in[pos];
    if (is_pdf_ws(c)) continue;
    if (c == '~') break;  // "~>"; a '~' without its '>' ends the data too
    if (c == 'z' && digits == 0) {
      if (!put_group(o, 0, 4)) return out_finish(o, FilterStatus::too_large);
      continue;
    }
    if (c < '!' || c > 'u') return out_finish(o, FilterStatus::damaged);
    value = value * 85 + (c - '!');
    if (++digits == 5) {
      if (value > UINT32_MAX) return out_finish(o, FilterStatus::damaged);
      if (!put_group(o, value, 4)) return out_finish(o, FilterStatus::too_large);
      value = 0;
      digits = 0;
    }
  }
  if (digits == 0) return out_finish(o, FilterStatus::ok);
  // A final group of n digits stands for n - 1 bytes: it is completed with
  // the highest digit, 'u', and cut back. One digit alone means nothing.
  if (digits == 1) return out_finish(o, FilterStatus::damaged);
  for (int k = digits; k < 5; ++k) value = value * 85 + 84;
  if (value > UINT32_MAX) return out_finish(o, FilterStatus::damaged);
  if (!put_group(o, value, digits - 1)) return out_finish(o, FilterStatus::too_large);
  return out_finish(o, FilterStatus::ok);
}
