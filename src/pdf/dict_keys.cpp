#include <string_view>

#include "pdf/dict_values.h"

#include "common/limits.h"

namespace {

// Returns the position of the key, -1 when the dictionary has none, or -2
// when the dictionary cannot be walked entry by entry.
int32_t walk_for_key(Bytes s, int32_t pos, std::string_view name) {
  const int32_t end = static_cast<int32_t>(s.size());
  pos = skip_ws(s, pos);
  if (pos + 1 >= end || s[pos] != '<' || s[pos + 1] != '<') return -2;
  return next_dict_key(s, pos + 2, name);
}

}  // namespace

int read_dict_entry(Bytes s, int32_t pos, DictEntry &out) {
  const int32_t end = static_cast<int32_t>(s.size());
  pos = skip_ws(s, pos);
  if (pos + 1 < end && s[pos] == '>' && s[pos + 1] == '>') return 0;
  if (pos < 0 || pos >= end || s[pos] != '/') return -1;
  int32_t key_end = pos + 1;
  while (key_end < end && is_regular(s[key_end]) && s[key_end] != 0x0B) ++key_end;
  out.key_pos = pos;
  out.key = std::string_view(reinterpret_cast<const char *>(s.data()) + pos + 1,
                             static_cast<size_t>(key_end - pos - 1));
  out.value_pos = skip_ws(s, key_end);
  out.value_end = skip_pdf_value(s, key_end);
  return 1;
}

int32_t next_dict_key(Bytes s, int32_t pos, std::string_view name) {
  for (;;) {
    DictEntry e;
    const int found = read_dict_entry(s, pos, e);
    if (found <= 0) return found == 0 ? -1 : -2;
    if (e.key == name) return e.key_pos;
    if (e.value_end < 0) return -2;
    pos = e.value_end;
  }
}

int32_t find_dict_key(Bytes s, int32_t start, int32_t end, std::string_view name) {
  if (end > static_cast<int32_t>(s.size())) end = static_cast<int32_t>(s.size());
  if (start < 0 || start >= end) return -1;
  const Bytes range = s.first(static_cast<size_t>(end));
  const int32_t found = walk_for_key(range, start, name);
  if (found != -2) return found;
  return find_name(range, start, end, name);
}

bool read_int_token(Bytes s, int32_t *p, int64_t *out) {
  const int32_t end = size_of(s);
  int32_t q = *p;
  bool negative = false;
  if (q < end && (s[q] == '+' || s[q] == '-')) negative = s[q++] == '-';
  int64_t v = 0;
  if (!read_digits(s, &q, 18, &v) || (q < end && s[q] == '.')) return false;
  *p = q;
  *out = negative ? -v : v;
  return true;
}

int32_t trailer_end(Bytes s, int32_t start) {
  const int64_t window = static_cast<int64_t>(start) + kMaxTrailerBytes;
  const int32_t limit = window < size_of(s) ? static_cast<int32_t>(window) : size_of(s);
  const int32_t close = find_dict_close(s, start, limit);
  return close > start ? close : limit;
}

int32_t key_value_pos(Bytes s, int32_t start, int32_t end, std::string_view key) {
  if (end > size_of(s)) end = size_of(s);
  if (start < 0 || start >= end) return -1;
  const Bytes d = s.first(static_cast<size_t>(end));
  const int32_t at = find_dict_key(d, start, end, key);
  if (at < 0) return -1;
  return skip_ws(d, at + 1 + static_cast<int32_t>(key.size()));
}

std::string_view key_value_text(Bytes s, int32_t start, int32_t end, std::string_view key) {
  const int32_t p = key_value_pos(s, start, end, key);
  if (p < 0) return {};
  const Bytes d = s.first(static_cast<size_t>(end < size_of(s) ? end : size_of(s)));
  const int32_t value_end = skip_pdf_value(d, p);
  if (value_end <= p) return {};
  return {reinterpret_cast<const char *>(d.data() + p), static_cast<size_t>(value_end - p)};
}

int64_t dict_key_int(Bytes s, int32_t start, int32_t end, std::string_view key, int64_t missing) {
  const int32_t p = key_value_pos(s, start, end, key);
  if (p < 0) return missing;
  const Bytes d = s.first(static_cast<size_t>(end < size_of(s) ? end : size_of(s)));
  int32_t q = p;
  int64_t v = 0;
  if (!read_int_token(d, &q, &v)) return missing;
  if (skip_object_value(d, p) > q) return missing;  // "n g R": a reference, not an integer
  return v;
}

int32_t dict_key_ref(Bytes s, int32_t start, int32_t end, std::string_view key) {
  const int32_t p = key_value_pos(s, start, end, key);
  if (p < 0) return -1;
  const Bytes d = s.first(static_cast<size_t>(end < size_of(s) ? end : size_of(s)));
  int32_t q = p;
  int64_t num = 0;
  if (!read_int_token(d, &q, &num) || num < 0 || num > INT32_MAX) return -1;
  return skip_object_value(d, p) > q ? static_cast<int32_t>(num) : -1;
}

std::vector<int64_t> dict_key_ints(Bytes s, int32_t start, int32_t end, std::string_view key) {
  std::vector<int64_t> out;
  int32_t p = key_value_pos(s, start, end, key);
  if (p < 0) return out;
  const Bytes d = s.first(static_cast<size_t>(end < size_of(s) ? end : size_of(s)));
  if (p >= size_of(d) || d[p] != '[') return out;
  p = skip_ws(d, p + 1);
  int64_t v = 0;
  while (p < size_of(d) && read_int_token(d, &p, &v)) {
    out.push_back(v);
    p = skip_ws(d, p);
  }
  return out;
}

bool dict_key_name_is(Bytes s, int32_t start, int32_t end, std::string_view key,
                      std::string_view name) {
  const int32_t p = key_value_pos(s, start, end, key);
  if (p < 0 || p >= size_of(s) || s[p] != '/') return false;
  const int32_t name_end = skip_pdf_value(s.first(static_cast<size_t>(end < size_of(s) ? end : size_of(s))), p);
  return name_end - p - 1 == static_cast<int32_t>(name.size()) && bytes_at(s, p + 1, name);
}

bool dict_type_is(Bytes s, int32_t start, int32_t end, std::string_view type) {
  return dict_key_name_is(s, start, end, "Type", type);
}

std::vector<int32_t> array_elements(Bytes s, int32_t pos, int32_t end) {
  std::vector<int32_t> elements;
  if (end > size_of(s)) end = size_of(s);
  if (pos < 0 || pos >= end || s[pos] != '[') return elements;
  const Bytes range = s.first(static_cast<size_t>(end));
  int32_t p = skip_ws(range, pos + 1);
  while (p < end && s[p] != ']') {
    const int32_t next = skip_pdf_value(range, p);
    if (next <= p) break;
    elements.push_back(p);
    p = skip_ws(range, next);
  }
  return elements;
}
