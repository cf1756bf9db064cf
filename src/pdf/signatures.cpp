#include "pdf/signatures.h"

#include <string_view>
#include <utility>
#include <vector>

#include "pdf/dict_values.h"

namespace {

// Returns the value at pos (a reference followed) when it is a dictionary,
// its range ending where the dictionary ends; present is false otherwise.
DictRange dict_at(const PdfDoc &doc, const DictRange &r, int32_t pos, int32_t *followed = nullptr) {
  DictRange v = resolve_value(doc, r, pos, followed);
  if (!v.present || v.start + 1 >= v.end || v.bytes[v.start] != '<' || v.bytes[v.start + 1] != '<')
    return {};
  const int32_t end = find_dict_close(v.bytes, v.start, v.end);
  if (end > v.start) v.end = end;
  return v;
}

// Returns the dictionary that key of the dictionary r names, or one not
// present.
DictRange dict_of_key(const PdfDoc &doc, const DictRange &r, std::string_view key) {
  if (!r.present) return {};
  const int32_t pos = key_value_pos(r.bytes, r.start, r.end, key);
  return pos < 0 ? DictRange{} : dict_at(doc, r, pos);
}

// Returns the array that key of the dictionary r names ('[' at start), or
// one not present.
DictRange array_of_key(const PdfDoc &doc, const DictRange &r, std::string_view key) {
  if (!r.present) return {};
  const int32_t pos = key_value_pos(r.bytes, r.start, r.end, key);
  if (pos < 0) return {};
  const DictRange v = resolve_value(doc, r, pos);
  return v.present && v.start < v.end && v.bytes[v.start] == '[' ? v : DictRange{};
}

bool has_key(const DictRange &r, std::string_view key) {
  return r.present && key_value_pos(r.bytes, r.start, r.end, key) >= 0;
}

bool name_is(const DictRange &r, std::string_view key, std::string_view name) {
  return r.present && dict_key_name_is(r.bytes, r.start, r.end, key, name);
}

// Returns true when the field tree holds a signature field whose value is a
// signature dictionary with /ByteRange. Each field object is visited once,
// so cyclic trees end and the cost stays linear.
bool has_signed_field(const PdfDoc &doc, const DictRange &catalog) {
  const DictRange form = dict_of_key(doc, catalog, "AcroForm");
  std::vector<uint8_t> seen(static_cast<size_t>(doc.max_obj_num) + 1, 0);
  std::vector<std::pair<DictRange, bool>> todo;  // a field and whether its parent is a signature field
  const auto add_kids = [&](const DictRange &holder, std::string_view key, bool sig) {
    const DictRange kids = array_of_key(doc, holder, key);
    if (!kids.present) return;
    for (const int32_t pos : array_elements(kids.bytes, kids.start, kids.end)) {
      int32_t num = 0;
      const DictRange field = dict_at(doc, kids, pos, &num);
      if (!field.present) continue;
      if (num > 0 && static_cast<size_t>(num) < seen.size()) {
        if (seen[static_cast<size_t>(num)] != 0) continue;
        seen[static_cast<size_t>(num)] = 1;
      }
      todo.emplace_back(field, sig);
    }
  };
  add_kids(form, "Fields", false);
  while (!todo.empty()) {
    const auto [field, inherited] = todo.back();
    todo.pop_back();
    const bool sig = has_key(field, "FT") ? name_is(field, "FT", "Sig") : inherited;
    if (sig && has_key(dict_of_key(doc, field, "V"), "ByteRange")) return true;
    add_kids(field, "Kids", sig);
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
