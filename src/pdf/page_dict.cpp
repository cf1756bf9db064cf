// The dictionaries of a stamped page: its new resources (its own, or those it
// inherits, copied and extended by the stamp's entries) and its rewritten
// page dictionary pointing at the new content.
#include <string>

#include "pdf/dict_edit.h"
#include "pdf/scan.h"
#include "pdf/string_crypt.h"

namespace {

// Returns a copy of the /Resources dictionary of the object, with found set
// when it names one (inline or by reference); "" when it names none or the
// value cannot be used.
std::string own_resources(const PdfDoc &doc, const ObjEntry *entry, bool *found) {
  *found = false;
  if (entry == nullptr) return {};
  const DictRange r = dict_range(doc, *entry);
  if (!r.present) return {};
  const Bytes s = r.bytes;
  int32_t pos = key_value_pos(s, r.start, r.end, "Resources");
  if (pos < 0) return {};
  *found = true;
  if (pos + 1 < r.end && s[pos] == '<' && s[pos + 1] == '<') return plain_dict_copy(doc, *entry, s, pos);
  if (pos >= r.end || !is_digit(s[pos])) return {};
  const ObjEntry *target = find_obj(doc, parse_int_at(s, &pos));
  return target != nullptr ? obj_dict_copy(doc, *target) : std::string();
}

// Returns the entry text "/<key> <num> 0 R".
std::string entry_text(const std::string &key, int32_t num) {
  return "/" + key + " " + std::to_string(num) + " 0 R";
}

// Returns true when the resources' sub-dictionary category (inline, or an
// indirect object) has an entry named key.
bool category_has_key(const PdfDoc &doc, std::string_view resources, std::string_view category,
                      std::string_view key) {
  const Bytes s{reinterpret_cast<const uint8_t *>(resources.data()), resources.size()};
  const int32_t end = static_cast<int32_t>(s.size());
  const int32_t name = find_dict_key(s, 0, end, category);
  if (name < 0) return false;
  int32_t value = skip_ws(s, name + 1 + static_cast<int32_t>(category.size()));
  if (value + 1 < end && s[value] == '<' && s[value + 1] == '<')
    return find_dict_key(s, value, end, key) >= 0;
  if (value >= end || !is_digit(s[value])) return false;
  const ObjEntry *target = find_obj(doc, parse_int_at(s, &value));
  if (target == nullptr) return false;
  const DictRange r = dict_range(doc, *target);
  return r.present && find_dict_key(r.bytes, r.start, r.end, key) >= 0;
}

// Returns base, or base followed by the first number that makes a name the
// category does not hold yet.
std::string free_name(const PdfDoc &doc, std::string_view resources, std::string_view category,
                      const std::string &base) {
  std::string name = base;
  for (int n = 1; category_has_key(doc, resources, category, name); ++n)
    name = base + std::to_string(n);
  return name;
}

}  // namespace

std::string page_base_resources(const PdfDoc &doc, const PageInfo &page) {
  const ObjEntry *entry = find_obj(doc, page.obj_num);
  bool found = false;
  std::string text = own_resources(doc, entry, &found);
  if (!found && entry != nullptr && dict_range(doc, *entry).present) {
    // A page without resources of its own uses those of its nearest ancestor.
    const int32_t holder = page.resources_num > 0 ? page.resources_num : page.parent_num;
    if (holder > 0) text = own_resources(doc, find_obj(doc, holder), &found);
  }
  if (text.empty()) text = "<< >>";
  return text;
}

StampNames free_stamp_names(const PdfDoc &doc, std::string_view resources) {
  StampNames names;
  names.font = free_name(doc, resources, "Font", names.font);
  names.extra_font = free_name(doc, resources, "Font", names.extra_font);
  names.gs = free_name(doc, resources, "ExtGState", names.gs);
  names.image = free_name(doc, resources, "XObject", names.image);
  names.form = free_name(doc, resources, "XObject", names.form);
  return names;
}

void add_stamp_entries(const PdfDoc &doc, std::string &text, const StampObjects &nums,
                       const StampNames &names) {
  if (nums.font_num > 0)
    insert_subdict_entry(doc, text, "Font", entry_text(names.font, nums.font_num));
  if (nums.extra_font_num > 0)
    insert_subdict_entry(doc, text, "Font", entry_text(names.extra_font, nums.extra_font_num));
  if (nums.gs_num > 0)
    insert_subdict_entry(doc, text, "ExtGState", entry_text(names.gs, nums.gs_num));
  if (nums.image_num > 0)
    insert_subdict_entry(doc, text, "XObject", entry_text(names.image, nums.image_num));
}

std::string page_resources_text(const PdfDoc &doc, const PageInfo &page,
                                const StampObjects &nums) {
  std::string text = page_base_resources(doc, page);
  const StampNames names = free_stamp_names(doc, text);
  add_stamp_entries(doc, text, nums, names);
  return text;
}

std::string rewrite_page_dict(const PdfDoc &doc, const ObjEntry &page, const PageState &state) {
  std::string text;
  if (page.in_objstm) {
    // The dictionary alone: an object-stream member's text may end in
    // whitespace or comments, after which nothing could be appended.
    text = obj_dict_copy(doc, page);
    if (text.empty() && page.text != nullptr)
      text.assign(reinterpret_cast<const char *>(page.text), static_cast<size_t>(page.text_len));
  } else if (page.dict_pos >= 0) {
    text = plain_dict_copy(doc, page, doc_bytes(doc), page.dict_pos);
  }
  if (text.empty()) text = "<< >>";
  strip_dict_entry(text, "Contents");
  strip_dict_entry(text, "Resources");
  dict_append_before_close(text, " /Contents " + state.contents_value);
  dict_append_before_close(text, " /Resources " +
                                     (state.resources.empty() ? "<< >>" : state.resources));
  // A page found by its place in the tree may lack /Type, which ISO 32000
  // requires; the rewritten page states it.
  const Bytes dict(reinterpret_cast<const uint8_t *>(text.data()), text.size());
  if (find_dict_key(dict, 0, size_of(dict), "Type") < 0)
    dict_append_before_close(text, " /Type /Page");
  return text;
}
