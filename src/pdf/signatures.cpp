#include "pdf/signatures.h"

#include <string_view>
#include <vector>

#include "pdf/dict_values.h"

namespace {

// Returns the value at pos (a reference followed) when it is a dictionary,
// its range ending where the dictionary ends; present is false otherwise.
DictRange dict_at(const PdfDoc &doc, const DictRange &r, int32_t pos) {
  DictRange v = resolve_value(doc, r, pos);
  if (!v.present || v.start + 1 >= v.end || v.bytes[v.start] != '<' || v.bytes[v.start + 1] != '<')
    return {};
  const int32_t end = find_dict_close(v.bytes, v.start, v.end);
  if (end > v.start) v.end = end;
  return v;
}

// Returns the number of the object that the value at pos refers to, or 0
// when it is no reference to an object of the document.
int32_t referenced_number(const PdfDoc &doc, const DictRange &r, int32_t pos) {
  int32_t num = 0;
  (void)resolve_value(doc, r, pos, &num);
  return num;
}

// Returns the dictionary that key of the dictionary r names, or one not
// present.
DictRange dict_of_key(const PdfDoc &doc, const DictRange &r, std::string_view key) {
  if (!r.present) return {};
  const int32_t pos = key_value_pos(r.bytes, r.start, r.end, key);
  return pos < 0 ? DictRange{} : dict_at(doc, r, pos);
}

// Returns the value at pos (a reference followed) when it is an array ('['
// at start); present is false otherwise.
DictRange array_at(const PdfDoc &doc, const DictRange &r, int32_t pos) {
  const DictRange v = resolve_value(doc, r, pos);
  return v.present && v.start < v.end && v.bytes[v.start] == '[' ? v : DictRange{};
}

// Returns the array that key of the dictionary r names, or one not present.
DictRange array_of_key(const PdfDoc &doc, const DictRange &r, std::string_view key) {
  if (!r.present) return {};
  const int32_t pos = key_value_pos(r.bytes, r.start, r.end, key);
  return pos < 0 ? DictRange{} : array_at(doc, r, pos);
}

bool has_key(const DictRange &r, std::string_view key) {
  return r.present && key_value_pos(r.bytes, r.start, r.end, key) >= 0;
}

bool name_is(const DictRange &r, std::string_view key, std::string_view name) {
  return r.present && dict_key_name_is(r.bytes, r.start, r.end, key, name);
}

// Fields written inline inside inline fields' /Kids are followed this deep:
// each level is read again by the one above it, and real field trees are a
// few levels deep, their fields objects of their own.
constexpr int kMaxInlineFieldDepth = 32;

// Returns true when the field tree holds a signature field whose value is a
// signature dictionary with /ByteRange. Each field object, and each object
// holding a value (/Kids, /V), is read once, so cyclic trees end and the
// cost stays linear.
bool has_signed_field(const PdfDoc &doc, const DictRange &catalog) {
  const DictRange form = dict_of_key(doc, catalog, "AcroForm");
  const size_t numbers = static_cast<size_t>(doc.max_obj_num) + 1;
  std::vector<uint8_t> seen_field(numbers, 0), seen_value(numbers, 0);
  // Returns true the first time object num (when it is one) is met in seen.
  const auto first_time = [](std::vector<uint8_t> &seen, int32_t num) {
    if (num <= 0 || static_cast<size_t>(num) >= seen.size()) return true;
    if (seen[static_cast<size_t>(num)] != 0) return false;
    seen[static_cast<size_t>(num)] = 1;
    return true;
  };
  struct Field {
    DictRange dict;
    bool parent_sig;     // the field above it is a signature field
    int inline_depth;    // how many inline fields hold it
  };
  std::vector<Field> todo;
  const auto add_kids = [&](const DictRange &holder, std::string_view key, bool sig, int depth) {
    const int32_t at = holder.present ? key_value_pos(holder.bytes, holder.start, holder.end, key) : -1;
    if (at < 0 || !first_time(seen_value, referenced_number(doc, holder, at))) return;
    const DictRange kids = array_at(doc, holder, at);
    if (!kids.present) return;
    for (const int32_t pos : array_elements(kids.bytes, kids.start, kids.end)) {
      const int32_t num = referenced_number(doc, kids, pos);
      const int kid_depth = num > 0 ? 0 : depth + 1;
      if (kid_depth > kMaxInlineFieldDepth || !first_time(seen_field, num)) continue;
      const DictRange field = dict_at(doc, kids, pos);
      if (field.present) todo.push_back({field, sig, kid_depth});
    }
  };
  add_kids(form, "Fields", false, 0);
  while (!todo.empty()) {
    const Field f = todo.back();
    todo.pop_back();
    const bool sig = has_key(f.dict, "FT") ? name_is(f.dict, "FT", "Sig") : f.parent_sig;
    if (sig) {
      const int32_t pos = key_value_pos(f.dict.bytes, f.dict.start, f.dict.end, "V");
      if (pos >= 0 && first_time(seen_value, referenced_number(doc, f.dict, pos)) &&
          has_key(dict_at(doc, f.dict, pos), "ByteRange"))
        return true;
    }
    add_kids(f.dict, "Kids", sig, f.inline_depth);
  }
  return false;
}

// Returns true when the certification signature (/Perms /DocMDP) has a
// /DocMDP transform whose permission level /P is 1; without /P it is 2.
bool certified_unchangeable(const PdfDoc &doc, const DictRange &catalog) {
  const DictRange signature = dict_of_key(doc, dict_of_key(doc, catalog, "Perms"), "DocMDP");
  const DictRange references = array_of_key(doc, signature, "Reference");
  if (!references.present) return false;
  for (const int32_t pos : array_elements(references.bytes, references.start, references.end)) {
    const DictRange reference = dict_at(doc, references, pos);
    if (!name_is(reference, "TransformMethod", "DocMDP")) continue;
    const DictRange params = dict_of_key(doc, reference, "TransformParams");
    const int64_t level =
        params.present ? dict_key_int(params.bytes, params.start, params.end, "P", 2) : 2;
    if (level == 1) return true;
  }
  return false;
}

}  // namespace

Signing document_signing(const PdfDoc &doc) {
  const ObjEntry *entry = find_obj(doc, doc.catalog_num);
  if (entry == nullptr) return Signing::none;
  const DictRange body = object_body(doc, *entry);
  if (!body.present) return Signing::none;
  DictRange catalog = body;
  catalog.start = skip_ws(body.bytes, body.start);
  if (certified_unchangeable(doc, catalog)) return Signing::no_changes;
  if (has_key(catalog, "Perms") || has_signed_field(doc, catalog)) return Signing::signed_doc;
  return Signing::none;
}
