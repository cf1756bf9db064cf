// Position-based scanners over PDF bytes. The engine never tokenises a file
// as a whole: it searches byte ranges for names and keywords and skips
// values. Each scanner takes the range as a span (its size is the exclusive
// end) and positions as byte offsets from the span's start; none reads
// outside the span or modifies it. Not found is -1.
//
// Byte classes:
//   whitespace      NUL TAB LF FF CR SPACE (not VT); '%' starts a comment up
//                   to the next CR or LF
//   terminator      SPACE TAB LF VT FF CR ( ) / < > [ ]   (not NUL)
//   name-continuing ASCII letters, digits, + - _
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

using Bytes = std::span<const uint8_t>;

// Returns the size of a range as a position (ranges stay below 2 GiB).
inline int32_t size_of(Bytes s) { return static_cast<int32_t>(s.size()); }

// Returns true when the bytes of word stand at pos, inside the range.
bool bytes_at(Bytes s, int32_t pos, std::string_view word);

// Returns the first position at or after pos that is neither whitespace nor
// inside a comment (at most s.size(), unless pos already is beyond it).
int32_t skip_ws(Bytes s, int32_t pos);

// Returns the integer at *pos after whitespace and comments (optional sign,
// digits, 32-bit wrapping), or -1 when no digit is there; *pos is advanced
// past what was read. There is no decimal point: "12.5" reads 12.
int32_t parse_int_at(Bytes s, int32_t *pos);

// Returns the position just past the ">>" that closes the first balanced
// dictionary at or after start, or -1. Scans up to limit when limit > start,
// else to the end. Literal strings and hexadecimal strings ("<" hex digits and
// whitespace ">", a '<' not followed by '<') are skipped, so "<AB>>>" closes
// after its last byte; comments are not recognised.
int32_t find_dict_close(Bytes s, int32_t start, int32_t limit);

// Returns what find_dict_close returns, except that an object header
// ("<num> <gen> obj") met outside a string ends the scan with -1: the
// dictionary of an object never runs into the next object, and stopping
// there keeps damaged files with many unclosed dictionaries linear to load.
int32_t find_object_dict_close(Bytes s, int32_t start, int32_t limit);

// Returns the position of the first digit of the object header "<num> <gen>"
// that ends just before the "obj" at p (header whitespace: TAB LF CR SPACE
// only), or -1 when the bytes before p are not such a header.
int32_t object_header_start(Bytes s, int32_t p);

// Returns 1 when keyword stands at pos and is not followed by a
// name-continuing byte, else 0.
int kw_at(Bytes s, int32_t pos, std::string_view keyword);

// Returns the position of the '/' of the first "/name" in [start, min(end,
// limit)) that is not followed by a name-continuing byte, or -1.
int32_t find_name(Bytes s, int32_t start, int32_t limit, std::string_view name);

// Returns the first position at or after start where keyword stands free:
// not preceded by a letter or digit, not followed by a letter, digit or '_'.
int32_t find_kw(Bytes s, int32_t start, std::string_view keyword);

// Returns the position just past the PDF value starting at the first
// non-whitespace byte at or after pos ("12 0 R" counts as one value), or -1.
// Dictionaries end as find_dict_close finds; arrays skip the strings inside.
int32_t skip_pdf_value(Bytes s, int32_t pos);

// Returns true with the value of the run of digits at *pos (no sign, no
// whitespace first) and *pos moved past it; false when no digit stands there
// or the run is longer than max_digits (at most 18), *pos then unchanged.
bool read_digits(Bytes s, int32_t *pos, int max_digits, int64_t *out);

// Returns the end of the value at p as an object's body reads it: a number
// stops at the first byte that cannot continue it ("74191endobj" is the
// number 74191), a reference "n g R" is one value, anything else ends where
// skip_pdf_value says. -1 when it does not end.
int32_t skip_object_value(Bytes s, int32_t p);

// Byte classes, for the engine's own scanning. Inline: every scanner's
// inner loop asks them.
inline bool is_pdf_ws(uint8_t c) {
  return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}
inline bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
inline bool is_letter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool is_alnum(uint8_t c) { return is_letter(c) || is_digit(c); }
// The value of a hexadecimal digit (either case), or -1 for any other byte.
inline int hex_digit_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
inline bool is_name_continuing(uint8_t c) {
  return is_alnum(c) || c == '+' || c == '-' || c == '_';
}
// A delimiter of the PDF syntax: ( ) < > [ ] { } / %.
inline bool is_pdf_delimiter(uint8_t c) {
  switch (c) {
    case '(': case ')': case '<': case '>': case '[': case ']': case '{': case '}': case '/':
    case '%':
      return true;
    default:
      return false;
  }
}
// A byte that continues a token: neither whitespace nor a delimiter.
inline bool is_regular(uint8_t c) { return !is_pdf_ws(c) && !is_pdf_delimiter(c); }
