#include "pdf/scan.h"

#include <cstring>

namespace {

bool is_terminator(uint8_t c) {
  switch (c) {
    case ' ': case '\t': case '\n': case 0x0B: case '\f': case '\r':
    case '(': case ')': case '/': case '<': case '>': case '[': case ']':
      return true;
    default:
      return false;
  }
}


// Returns the position after the literal string whose '(' is at open,
// stopping at stop when it does not close. A backslash skips the next byte.
int32_t skip_literal_string(Bytes s, int32_t open, int32_t stop) {
  int32_t i = open + 1;
  int depth = 1;
  while (i < stop) {
    const uint8_t c = s[i];
    if (c == '\\') {
      i += 2;
      continue;
    }
    ++i;
    if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      return i;
    }
  }
  return stop;
}

// Returns the position after the hexadecimal string whose '<' is at open, or
// -1 when the bytes from there are not one: a '<' that another '<' follows,
// or hex digits and whitespace that do not end in '>' before stop. A damaged
// '<' is then passed over as one byte, as before strings were recognised.
int32_t skip_hex_string(Bytes s, int32_t open, int32_t stop) {
  int32_t i = open + 1;
  if (i < stop && s[i] == '<') return -1;
  while (i < stop && (hex_digit_value(s[i]) >= 0 || is_pdf_ws(s[i]))) ++i;
  return i < stop && s[i] == '>' ? i + 1 : -1;
}

// Returns the end of the token starting at p: the first terminator, or end.
int32_t token_end(Bytes s, int32_t p) {
  const int32_t end = size_of(s);
  while (p < end && !is_terminator(s[p])) ++p;
  return p;
}

}  // namespace

bool bytes_at(Bytes s, int32_t pos, std::string_view word) {
  return pos >= 0 && static_cast<size_t>(pos) + word.size() <= s.size() &&
         std::memcmp(s.data() + pos, word.data(), word.size()) == 0;
}

bool read_digits(Bytes s, int32_t *pos, int max_digits, int64_t *out) {
  const int32_t end = size_of(s);
  const int32_t start = *pos;
  int32_t q = start;
  int64_t v = 0;
  while (q >= 0 && q < end && is_digit(s[q])) {
    if (q - start >= max_digits) return false;
    v = v * 10 + (s[q++] - '0');
  }
  if (q == start) return false;
  *pos = q;
  *out = v;
  return true;
}

int32_t skip_ws(Bytes s, int32_t pos) {
  const int32_t end = size_of(s);
  while (pos >= 0 && pos < end) {
    const uint8_t c = s[pos];
    if (is_pdf_ws(c)) {
      ++pos;
    } else if (c == '%') {
      while (pos < end && s[pos] != '\r' && s[pos] != '\n') ++pos;
    } else {
      break;
    }
  }
  return pos;
}

int32_t parse_int_at(Bytes s, int32_t *pos) {
  const int32_t end = size_of(s);
  int32_t p = skip_ws(s, *pos);
  if (p < 0 || p >= end) {
    *pos = p;
    return -1;
  }
  bool negative = false;
  if (s[p] == '+' || s[p] == '-') {
    negative = s[p] == '-';
    ++p;
    if (p >= end) {
      *pos = p;
      return -1;
    }
  }
  if (!is_digit(s[p])) {
    *pos = p;
    return -1;
  }
  uint32_t value = 0;  // wraps modulo 2^32, as the format has no overflow rule
  while (p < end && is_digit(s[p])) value = value * 10u + static_cast<uint32_t>(s[p++] - '0');
  *pos = p;
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

namespace {

bool is_header_ws(uint8_t c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

int32_t object_header_start_at(Bytes s, int32_t p);

// Returns true when an object header stands at the start of a line in
// (open, stop).
bool string_meets_line_header(Bytes s, int32_t open, int32_t stop) {
  for (int32_t i = open + 1; i + 3 <= stop; ++i) {
    const void *o = std::memchr(s.data() + i, 'o', static_cast<size_t>(stop - 3 - i + 1));
    if (o == nullptr) return false;
    i = static_cast<int32_t>(static_cast<const uint8_t *>(o) - s.data());
    if (!kw_at(s, i, "obj")) continue;
    const int32_t h = object_header_start_at(s, i);
    if (h > open && (s[h - 1] == '\n' || s[h - 1] == '\r')) return true;
  }
  return false;
}

// The dictionary scan; with stop_at_header it also gives up (-1) at an
// object header met outside a string.
int32_t dict_close_scan(Bytes s, int32_t start, int32_t limit, bool stop_at_header) {
  const int32_t end = size_of(s);
  const int32_t stop = limit > start && limit < end ? limit : end;
  if (start < 0) return -1;
  int depth = 0;
  int32_t i = start;
  while (i + 1 < stop) {
    const uint8_t c = s[i];
    if (c == '<' && s[i + 1] == '<') {
      ++depth;
      i += 2;
    } else if (c == '>' && s[i + 1] == '>') {
      i += 2;
      if (--depth == 0) return i;
    } else if (const int32_t hex = c == '<' ? skip_hex_string(s, i, stop) : -1; hex > 0) {
      i = hex;  // a hex string's '>' never closes the dictionary
    } else if (c == '(') {
      const int32_t open = i;
      i = skip_literal_string(s, i, stop);
      // A string that runs on into an object header standing at the start
      // of a line was never closed: give up there instead of at the end of
      // the file, which would cost a whole-file scan per damaged object.
      if (stop_at_header && i == stop && string_meets_line_header(s, open, stop)) return -1;
    } else {
      if (stop_at_header && c == 'o' && kw_at(s, i, "obj") && object_header_start(s, i) > start)
        return -1;
      ++i;
    }
  }
  return -1;
}

}  // namespace

int32_t object_header_start(Bytes s, int32_t p) { return object_header_start_at(s, p); }

namespace {
int32_t object_header_start_at(Bytes s, int32_t p) {
  int32_t i = p - 1;
  while (i >= 0 && is_header_ws(s[i])) --i;
  if (i < 0 || !is_digit(s[i])) return -1;
  while (i >= 0 && is_digit(s[i])) --i;
  if (i < 0 || !is_header_ws(s[i])) return -1;
  while (i >= 0 && is_header_ws(s[i])) --i;
  if (i < 0 || !is_digit(s[i])) return -1;
  while (i >= 0 && is_digit(s[i])) --i;
  return i + 1;
}
}  // namespace

int32_t find_dict_close(Bytes s, int32_t start, int32_t limit) {
  return dict_close_scan(s, start, limit, false);
}

int32_t find_object_dict_close(Bytes s, int32_t start, int32_t limit) {
  return dict_close_scan(s, start, limit, true);
}

int kw_at(Bytes s, int32_t pos, std::string_view keyword) {
  if (!bytes_at(s, pos, keyword)) return 0;
  const size_t after = static_cast<size_t>(pos) + keyword.size();
  return after == s.size() || !is_name_continuing(s[after]) ? 1 : 0;
}

int32_t find_name(Bytes s, int32_t start, int32_t limit, std::string_view name) {
  const int64_t scan_end = limit < size_of(s) ? limit : size_of(s);
  const int64_t n = static_cast<int64_t>(name.size());
  if (start < 0) start = 0;
  for (int64_t q = start; q + 1 + n <= scan_end; ++q) {
    // Jump to the next '/': most of a range is not a name.
    const void *slash = std::memchr(s.data() + q, '/', static_cast<size_t>(scan_end - 1 - n - q + 1));
    if (slash == nullptr) return -1;
    q = static_cast<const uint8_t *>(slash) - s.data();
    if (std::memcmp(s.data() + q + 1, name.data(), name.size()) != 0) continue;
    const int64_t after = q + 1 + n;
    if (after == scan_end || !is_name_continuing(s[static_cast<size_t>(after)]))
      return static_cast<int32_t>(q);
  }
  return -1;
}

int32_t find_kw(Bytes s, int32_t start, std::string_view keyword) {
  const int64_t end = size_of(s);
  const int64_t n = static_cast<int64_t>(keyword.size());
  if (n == 0) return -1;
  if (start < 0) start = 0;
  for (int64_t i = start; i + n <= end; ++i) {
    const void *hit = std::memchr(s.data() + i, keyword[0], static_cast<size_t>(end - n - i + 1));
    if (hit == nullptr) return -1;
    i = static_cast<const uint8_t *>(hit) - s.data();
    if (std::memcmp(s.data() + i, keyword.data(), keyword.size()) != 0) continue;
    if (i > 0 && is_alnum(s[static_cast<size_t>(i - 1)])) continue;
    const int64_t after = i + n;
    if (after == end || !(is_alnum(s[static_cast<size_t>(after)]) || s[static_cast<size_t>(after)] == '_'))
      return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t skip_pdf_value(Bytes s, int32_t pos) {
  const int32_t end = size_of(s);
  const int32_t p = skip_ws(s, pos);
  if (p < 0 || p >= end) return -1;
  const uint8_t c = s[p];
  if (c == '<' && p + 1 < end && s[p + 1] == '<') return find_dict_close(s, p, -1);
  if (c == '<') {
    const void *close = std::memchr(s.data() + p + 1, '>', static_cast<size_t>(end - p - 1));
    return close == nullptr ? -1 : static_cast<int32_t>(static_cast<const uint8_t *>(close) - s.data() + 1);
  }
  if (c == '(') return skip_literal_string(s, p, end);
  if (c == '[') {
    int depth = 0;
    int32_t i = p;
    while (i < end) {
      const uint8_t b = s[i];
      if (b == '(') {
        // A string running to the end leaves the array open: the loop ends.
        i = skip_literal_string(s, i, end);
        continue;
      }
      if (const int32_t hex = b == '<' ? skip_hex_string(s, i, end) : -1; hex > 0) {
        i = hex;
        continue;
      }
      ++i;
      if (b == '[') {
        ++depth;
      } else if (b == ']' && --depth == 0) {
        return i;
      }
    }
    return -1;
  }
  if (c == '/') return token_end(s, p + 1);
  if (c == '+' || c == '-' || is_digit(c)) {
    const int32_t first_end = token_end(s, p);
    int32_t q = skip_ws(s, first_end);
    if (q < end && is_digit(s[q])) {
      while (q < end && is_digit(s[q])) ++q;
      q = skip_ws(s, q);
      if (q < end && s[q] == 'R') {
        const int32_t after = q + 1;
        if (after == end) return after;
        switch (s[after]) {
          case ' ': case '\t': case '\n': case 0x0B: case '\f': case '\r':
          case '/': case '<': case '>': case ']':
            return after;
          default:
            break;
        }
      }
    }
    return first_end;
  }
  return token_end(s, p);
}

namespace {

// Returns the end of a number token at p: optional sign, digits, a point
// and more digits. Stops at the first other byte, so "74191endobj" reads
// as the number 74191.
int32_t number_token_end(Bytes s, int32_t p) {
  const int32_t end = size_of(s);
  if (p < end && (s[p] == '+' || s[p] == '-')) ++p;
  while (p < end && (is_digit(s[p]) || s[p] == '.')) ++p;
  return p;
}

}  // namespace

// Returns the end of the value at p: a number (or a reference "n g R") read
// precisely, anything else by skip_pdf_value. -1 when it does not end.
int32_t skip_object_value(Bytes s, int32_t p) {
  const int32_t end = size_of(s);
  if (p >= end) return -1;
  const uint8_t c = s[p];
  if (!(c == '+' || c == '-' || c == '.' || is_digit(c))) return skip_pdf_value(s, p);
  const int32_t first = number_token_end(s, p);
  int32_t q = skip_ws(s, first);
  if (q >= end || !is_digit(s[q]) || q == first) return first;
  while (q < end && is_digit(s[q])) ++q;
  const int32_t r = skip_ws(s, q);
  if (r < end && s[r] == 'R' && (r + 1 == end || !is_regular(s[r + 1]) || bytes_at(s, r + 1, "endobj")))
    return r + 1;
  return first;
}
