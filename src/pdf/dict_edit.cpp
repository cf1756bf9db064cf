// Text edits of dictionary copies: adding an entry to a sub-dictionary of a
// resources dictionary, removing one key and its value, and appending entries
// before the closing ">>". Edits go by positions and lengths, never by C
// string ends, so the bytes they do not touch stay exactly as they were.
#include "pdf/dict_edit.h"

#include <cstring>
#include <string>

#include "pdf/scan.h"

namespace {

Bytes text_bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}

// Returns the entries of the referenced object's dictionary (without its
// "<<" and ">>") when the reference starting at value names an object that
// has one; "" with false otherwise.
bool indirect_entries(const PdfDoc &doc, Bytes s, int32_t value, std::string *inner) {
  int32_t pos = value;
  const int32_t num = parse_int_at(s, &pos);
  if (num <= 0 || doc.objs.empty()) return false;
  const ObjEntry *target = find_obj(doc, num);
  if (target == nullptr) return false;
  const std::string dict = obj_dict_copy(doc, *target);
  if (dict.size() < 4) return false;
  inner->assign(dict, 2, dict.size() - 4);
  return true;
}

// Returns the end of the value of the entry whose '/' is at i, or -1 when no
// value that can be skipped follows the name.
int32_t entry_value_end(Bytes s, size_t i, size_t name_len) {
  size_t j = i + 1 + name_len;
  while (j < s.size() && is_pdf_ws(s[j])) ++j;
  if (j == s.size()) return -1;
  return skip_pdf_value(s, static_cast<int32_t>(j));
}

}  // namespace

void insert_subdict_entry(const PdfDoc &doc, std::string &resources, std::string_view category,
                          std::string_view entry) {
  const Bytes s = text_bytes(resources);
  const int32_t end = static_cast<int32_t>(s.size());
  const int32_t name = find_dict_key(s, 0, end, category);
  if (name >= 0) {
    const int32_t value = skip_ws(s, name + 1 + static_cast<int32_t>(category.size()));
    if (value + 1 < end && s[value] == '<' && s[value + 1] == '<') {
      const int32_t close = find_dict_close(s, value, -1);
      if (close >= 0) {
        const size_t at = static_cast<size_t>(close - 2);
        std::string piece;
        piece.reserve(entry.size() + 2);
        piece += ' ';
        piece += entry;
        piece += ' ';
        resources.insert(at, piece);
        return;
      }
    } else if (value < end) {
      const int32_t value_end = skip_pdf_value(s, value);
      if (value_end >= value) {
        // An indirect category dictionary is copied inline with the entry
        // added; any other value is no dictionary and gives way to one.
        std::string inner;
        const bool inline_copy = is_digit(s[value]) && indirect_entries(doc, s, value, &inner);
        std::string replacement = inline_copy ? "<< " + inner + " " : "<< ";
        replacement += entry;
        replacement += value_end > value ? " >>" : " >> ";
        resources.replace(static_cast<size_t>(value), static_cast<size_t>(value_end - value),
                          replacement);
        return;
      }
    }
  }
  dict_append_before_close(resources,
                           " /" + std::string(category) + " << " + std::string(entry) + " >>");
}

void strip_dict_entry(std::string &text, std::string_view name) {
  if (name.empty()) return;
  const Bytes s = text_bytes(text);
  const size_t n = name.size();
  // The dictionary's own entry when its entries can be walked, else the
  // first "/name" anywhere; when its value cannot be skipped, the next match.
  int32_t key = find_dict_key(s, 0, static_cast<int32_t>(s.size()), name);
  if (key < 0) return;
  int32_t value_end = -1;
  for (size_t i = static_cast<size_t>(key); i + 1 + n < s.size(); ++i) {
    if (text[i] != '/' || text.compare(i + 1, n, name) != 0 || is_name_continuing(s[i + 1 + n]))
      continue;
    value_end = entry_value_end(s, i, n);
    if (value_end >= 0) {
      key = static_cast<int32_t>(i);
      break;
    }
  }
  if (value_end < 0) return;
  // One pass copies what stays: each removed entry takes one space or tab
  // before it along.
  std::string out;
  size_t copied = 0;
  for (;;) {
    const size_t at = static_cast<size_t>(key);
    const size_t from = at > copied && (text[at - 1] == ' ' || text[at - 1] == '\t') ? at - 1 : at;
    out.append(text, copied, from - copied);
    copied = static_cast<size_t>(value_end);
    key = next_dict_key(s, value_end, name);
    if (key < 0) break;
    value_end = entry_value_end(s, static_cast<size_t>(key), n);
    if (value_end < 0) break;
  }
  out.append(text, copied);
  text = std::move(out);
}

void dict_append_before_close(std::string &text, std::string_view addition) {
  size_t k = text.size();
  while (k > 0 && is_pdf_ws(static_cast<uint8_t>(text[k - 1]))) --k;
  // k is one past the last non-blank byte; it and the byte before must be ">>".
  if (k < 2 || text[k - 1] != '>' || text[k - 2] != '>') return;
  text.resize(k - 2);
  text += addition;
  text += " >>";
}
