// Text edits of dictionary copies: adding an entry to a sub-dictionary of a
// resources dictionary, removing one key and its value, and appending entries
// before the closing ">>". Each function that may replace the text takes it
// over and returns the text to use from then on; when memory runs out the
// old text is returned unchanged.
#include "pdf/dict_edit.h"

#include <cstring>
#include <string>

#include "pdf/scan.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

Bytes text_bytes(const char *text) {
  return {reinterpret_cast<const uint8_t *>(text), std::strlen(text)};
}

// Returns a malloc'ed text made of the pieces, or nullptr when memory runs out.
OwnedText concat(std::initializer_list<std::string_view> pieces) {
  size_t total = 0;
  for (std::string_view p : pieces) total += p.size();
  char *out = static_cast<char *>(std::malloc(total + 1));
  if (out == nullptr) return nullptr;
  size_t at = 0;
  for (std::string_view p : pieces) {
    if (!p.empty()) std::memcpy(out + at, p.data(), p.size());
    at += p.size();
  }
  out[total] = 0;
  return OwnedText(out);
}

// Returns the text with the referenced object's dictionary put inline, plus
// the entry, in place of the reference that starts at value; or nullptr when
// the reference cannot be resolved.
OwnedText inline_indirect(const PdfDoc &doc, const char *text, int32_t value,
                          std::string_view entry) {
  const Bytes s = text_bytes(text);
  int32_t pos = value;
  const int32_t num = parse_int_at(s, &pos);
  const int32_t value_end = skip_pdf_value(s, value);
  if (num <= 0 || doc.objs.empty() || value_end <= value) return nullptr;
  const ObjEntry *target = find_obj(doc, num);
  if (target == nullptr) return nullptr;
  const OwnedText dict = obj_dict_copy(doc, *target);
  if (dict == nullptr) return nullptr;
  const Bytes d = text_bytes(dict.get());
  const int32_t close = find_dict_close(d, 0, -1);
  if (close < 4) return nullptr;
  const std::string_view whole(text);
  const std::string_view inner(dict.get() + 2, static_cast<size_t>(close - 4));
  return concat({whole.substr(0, static_cast<size_t>(value)), "<< ", inner, " ", entry, " >>",
                 whole.substr(static_cast<size_t>(value_end))});
}

// Removes the entry whose '/' is at i when its value can be skipped; returns
// whether it did.
bool remove_entry_at(char *text, Bytes s, size_t i, size_t name_len) {
  const size_t len = s.size();
  size_t j = i + 1 + name_len;
  while (j < len && is_blank(text[j])) ++j;
  if (j == len) return false;
  const int32_t value_end = skip_pdf_value(s, static_cast<int32_t>(j));
  if (value_end < 0) return false;
  const size_t from = i > 0 && (text[i - 1] == ' ' || text[i - 1] == '\t') ? i - 1 : i;
  const size_t to = static_cast<size_t>(value_end);
  std::memmove(text + from, text + to, len - to + 1);
  return true;
}

}  // namespace

OwnedText insert_subdict_entry(const PdfDoc &doc, OwnedText resources, std::string_view category,
                               std::string_view entry) {
  if (resources == nullptr) return resources;
  const Bytes s = text_bytes(resources.get());
  const int32_t end = static_cast<int32_t>(s.size());
  const int32_t name = find_dict_key(s, 0, end, category);
  if (name >= 0) {
    const int32_t value = skip_ws(s, name + 1 + static_cast<int32_t>(category.size()));
    if (value < end && s[value] == '<' && value + 1 < end && s[value + 1] == '<') {
      const int32_t close = find_dict_close(s, value, -1);
      if (close >= 0) {
        const std::string_view whole(resources.get());
        const size_t at = static_cast<size_t>(close - 2);
        OwnedText out = concat({whole.substr(0, at), " ", entry, " ", whole.substr(at)});
        return out != nullptr ? std::move(out) : std::move(resources);
      }
    } else if (value < end && is_digit(s[value])) {
      OwnedText out = inline_indirect(doc, resources.get(), value, entry);
      if (out != nullptr) return out;
    }
  }
  const std::string addition = " /" + std::string(category) + " << " + std::string(entry) + " >>";
  return dict_append_before_close(std::move(resources), addition);
}

void strip_dict_entry(char *text, std::string_view name) {
  if (text == nullptr || name.empty()) return;
  const Bytes s = text_bytes(text);
  const size_t len = s.size();
  const size_t n = name.size();
  // The dictionary's own entry when its entries can be walked, else the
  // first "/name" anywhere; when its value cannot be skipped, the next match.
  const int32_t key = find_dict_key(s, 0, static_cast<int32_t>(len), name);
  if (key < 0) return;
  for (size_t i = static_cast<size_t>(key); i + 1 + n < len; ++i) {
    if (text[i] != '/' || std::memcmp(text + i + 1, name.data(), n) != 0 ||
        is_name_continuing(s[i + 1 + n]))
      continue;
    if (remove_entry_at(text, s, i, n)) return;
  }
}

OwnedText dict_append_before_close(OwnedText text, std::string_view addition) {
  if (text == nullptr) return text;
  const std::string_view whole(text.get());
  size_t k = whole.size();
  while (k > 0 && is_blank(whole[k - 1])) --k;
  // k is one past the last non-blank byte; it and the byte before must be ">>".
  if (k < 2 || whole[k - 1] != '>' || whole[k - 2] != '>') return text;
  OwnedText out = concat({whole.substr(0, k - 2), addition, " >>"});
  return out != nullptr ? std::move(out) : std::move(text);
}
