#include "pdf/number_text.h"

#include <charconv>
#include <cmath>

#include "pdf/byte_buf.h"

namespace {

// Enough for any double in fixed notation with up to 17 decimals: 309 digits
// before the point, the sign, the point and the decimals.
constexpr int kFixedMax = 340;

// Returns the length of v written into text in fixed notation.
size_t format_fixed(char (&text)[kFixedMax], double v, int precision) {
  if (!std::isfinite(v)) v = 0;  // PDF has no notation for inf or nan
  const auto r = std::to_chars(text, text + kFixedMax, v, std::chars_format::fixed, precision);
  return static_cast<size_t>(r.ptr - text);
}

}  // namespace

void buf_fixed(ByteBuf &buf, double v, int precision) {
  char text[kFixedMax];
  buf_bytes(buf, text, format_fixed(text, v, precision));
}

std::string fixed_text(double v, int precision) {
  char text[kFixedMax];
  return std::string(text, format_fixed(text, v, precision));
}

void buf_int(ByteBuf &buf, int64_t v) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, v);
  buf_bytes(buf, text, static_cast<uint64_t>(r.ptr - text));
}

void buf_int_padded(ByteBuf &buf, int64_t v, int width) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, v);
  const int digits = static_cast<int>(r.ptr - text);
  static const char zeros[] = "0000000000000000000000";
  if (width > digits && width - digits < static_cast<int>(sizeof zeros))
    buf_bytes(buf, zeros, static_cast<uint64_t>(width - digits));
  buf_bytes(buf, text, static_cast<uint64_t>(digits));
}
