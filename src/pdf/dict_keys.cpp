// Finding a key among the top-level entries of a dictionary. A plain text
// search for "/Contents" in a page would also find the /Contents string of an
// annotation written inline in /Annots; walking the entries finds the page's own.
#include <string_view>

#include "pdf/dict_edit.h"
#include "pdf/scan.h"

namespace {

bool ends_name(uint8_t c) {
  return is_pdf_ws(c) || c == 0x0B || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' ||
         c == ']' || c == '{' || c == '}' || c == '/' || c == '%';
}

// Returns the position of the key, -1 when the dictionary has none, or -2
// when the dictionary cannot be walked entry by entry.
int32_t walk_for_key(Bytes s, int32_t pos, std::string_view name) {
  const int32_t end = static_cast<int32_t>(s.size());
  pos = skip_ws(s, pos);
  if (pos + 1 >= end || s[pos] != '<' || s[pos + 1] != '<') return -2;
  return next_dict_key(s, pos + 2, name);
}

}  // namespace

int32_t next_dict_key(Bytes s, int32_t pos, std::string_view name) {
  const int32_t end = static_cast<int32_t>(s.size());
  for (;;) {
    pos = skip_ws(s, pos);
    if (pos + 1 < end && s[pos] == '>' && s[pos + 1] == '>') return -1;
    if (pos < 0 || pos >= end || s[pos] != '/') return -2;
    int32_t key_end = pos + 1;
    while (key_end < end && !ends_name(s[key_end])) ++key_end;
    const std::string_view key(reinterpret_cast<const char *>(s.data()) + pos + 1,
                               static_cast<size_t>(key_end - pos - 1));
    if (key == name) return pos;
    const int32_t value_end = skip_pdf_value(s, key_end);
    if (value_end < 0) return -2;
    pos = value_end;
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
