#include "pdf/string_value.h"

#include "pdf/byte_buf.h"

namespace {

// Returns the position just past the literal string whose '(' is at open,
// with its bytes appended to out, or -1 when it does not close inside s.
int32_t read_literal(Bytes s, int32_t open, std::string &out) {
  const int32_t end = size_of(s);
  int64_t depth = 1;
  int32_t i = open + 1;
  while (i < end) {
    const uint8_t c = s[i++];
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth == 0) return i;
    } else if (c == '\r') {
      // An end of line inside the string reads as LF, whatever its form.
      if (i < end && s[i] == '\n') ++i;
      out += '\n';
      continue;
    } else if (c == '\\') {
      if (i >= end) return -1;
      const uint8_t e = s[i++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case '\r':
          // A line continuation: the backslash and the end of line vanish.
          if (i < end && s[i] == '\n') ++i;
          break;
        case '\n':
          break;
        default:
          if (e >= '0' && e <= '7') {
            unsigned value = e - '0';
            for (int k = 1; k < 3 && i < end && s[i] >= '0' && s[i] <= '7'; ++k)
              value = value * 8 + (s[i++] - '0');
            out += static_cast<char>(value & 0xFF);
          } else {
            out += static_cast<char>(e);  // \( \) \\ and a backslash before anything else
          }
      }
      continue;
    }
    out += static_cast<char>(c);
  }
  return -1;
}

// Returns the position just past the hexadecimal string whose '<' is at
// open, with its bytes appended to out, or -1 when it is none.
int32_t read_hex(Bytes s, int32_t open, std::string &out) {
  const int32_t end = size_of(s);
  int high = -1;  // the first digit of a pair, while the second is awaited
  for (int32_t i = open + 1; i < end; ++i) {
    const uint8_t c = s[i];
    if (c == '>') {
      if (high >= 0) out += static_cast<char>(high << 4);
      return i + 1;
    }
    if (is_pdf_ws(c)) continue;
    const int v = hex_digit_value(c);
    if (v < 0) return -1;
    if (high < 0) {
      high = v;
    } else {
      out += static_cast<char>(high << 4 | v);
      high = -1;
    }
  }
  return -1;
}

}  // namespace

int32_t read_string_value(Bytes s, int32_t pos, std::string &out) {
  out.clear();
  if (pos < 0) return -1;
  const int32_t at = skip_ws(s, pos);
  if (at >= size_of(s)) return -1;
  int32_t after = -1;
  if (s[at] == '(') {
    after = read_literal(s, at, out);
  } else if (s[at] == '<' && (at + 1 >= size_of(s) || s[at + 1] != '<')) {
    after = read_hex(s, at, out);
  }
  if (after < 0) out.clear();
  return after;
}

void append_literal_codes(ByteBuf &out, std::string_view bytes) {
  for (const char ch : bytes) {
    const uint8_t c = static_cast<uint8_t>(ch);
    if (c == '(' || c == ')' || c == '\\') {
      const char text[2] = {'\\', static_cast<char>(c)};
      buf_bytes(out, text, 2);
    } else if (c >= 0x20 && c <= 0x7E) {
      buf_bytes(out, &c, 1);
    } else {
      const char text[4] = {'\\', static_cast<char>('0' + (c >> 6)),
                            static_cast<char>('0' + ((c >> 3) & 7)), static_cast<char>('0' + (c & 7))};
      buf_bytes(out, text, sizeof text);
    }
  }
}

void append_hex_codes(ByteBuf &out, std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  for (const char ch : bytes) {
    const uint8_t c = static_cast<uint8_t>(ch);
    const char text[2] = {digits[c >> 4], digits[c & 0xF]};
    buf_bytes(out, text, 2);
  }
}

void append_hex_string(ByteBuf &out, std::string_view bytes) {
  buf_str(out, "<");
  append_hex_codes(out, bytes);
  buf_str(out, ">");
}
