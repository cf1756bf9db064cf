// The dictionaries of a stamped page: its new resources (its own, or those it
// inherits, copied and extended by the stamp's entries) and its rewritten
// page dictionary pointing at the new content.
#include <cstring>
#include <string>

#include "pdf/dict_edit.h"
#include "pdf/scan.h"

namespace {

OwnedText owned_copy(std::string_view text) {
  char *out = static_cast<char *>(std::malloc(text.size() + 1));
  if (out == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  out[text.size()] = 0;
  return OwnedText(out);
}

// Returns a copy of the /Resources dictionary of the object, with found set
// when it names one (inline or by reference); nullptr when it names none or
// the value cannot be used.
OwnedText own_resources(const PdfDoc &doc, const ObjEntry *entry, bool *found) {
  *found = false;
  if (entry == nullptr) return nullptr;
  const DictRange r = dict_range(doc, *entry);
  if (!r.present) return nullptr;
  const Bytes s = r.bytes;
  const int32_t name = find_dict_key(s, r.start, r.end, "Resources");
  if (name < 0) return nullptr;
  *found = true;
  int32_t pos = skip_ws(s, name + 10);
  if (pos + 1 < r.end && s[pos] == '<' && s[pos + 1] == '<') return dict_copy_at(s, pos);
  if (pos >= r.end || !is_digit(s[pos])) return nullptr;
  const ObjEntry *target = find_obj(doc, parse_int_at(s, &pos));
  return target != nullptr ? obj_dict_copy(doc, *target) : nullptr;
}

// Returns the entry text "/<key> <num> 0 R".
std::string entry_text(const char *key, int32_t num) {
  return std::string("/") + key + " " + std::to_string(num) + " 0 R";
}

}  // namespace

OwnedText page_resources_text(const PdfDoc &doc, const PageInfo &page, const StampObjects &nums) {
  const ObjEntry *entry = find_obj(doc, page.obj_num);
  bool found = false;
  OwnedText text = own_resources(doc, entry, &found);
  if (!found && entry != nullptr && dict_range(doc, *entry).present) {
    // A page without resources of its own uses those of its nearest ancestor.
    const int32_t holder = page.resources_num > 0 ? page.resources_num : page.parent_num;
    if (holder > 0) text = own_resources(doc, find_obj(doc, holder), &found);
  }
  if (text == nullptr) text = owned_copy("<< >>");
  if (nums.font_num > 0)
    text = insert_subdict_entry(doc, std::move(text), "Font", entry_text("F_STAMP", nums.font_num));
  if (nums.gs_num > 0)
    text = insert_subdict_entry(doc, std::move(text), "ExtGState",
                                entry_text("GS_STAMP", nums.gs_num));
  if (nums.image_num > 0)
    text = insert_subdict_entry(doc, std::move(text), "XObject",
                                entry_text("Im_STAMP", nums.image_num));
  return text;
}

OwnedText rewrite_page_dict(const PdfDoc &doc, const ObjEntry &page, const PageState &state) {
  OwnedText text;
  if (page.in_objstm) {
    // The dictionary alone: an object-stream member's text may end in
    // whitespace or comments, after which nothing could be appended.
    text = obj_dict_copy(doc, page);
    if (text == nullptr && page.text != nullptr)
      text = owned_copy(
          {reinterpret_cast<const char *>(page.text), static_cast<size_t>(page.text_len)});
  } else if (page.dict_pos >= 0) {
    text = dict_copy_at(doc_bytes(doc), page.dict_pos);
  }
  if (text == nullptr) text = owned_copy("<< >>");
  if (text == nullptr) return text;
  strip_dict_entry(text.get(), "Contents");
  strip_dict_entry(text.get(), "Resources");
  const std::string contents = state.contents_value.empty()
                                   ? std::to_string(state.content_num) + " 0 R"
                                   : state.contents_value;
  text = dict_append_before_close(std::move(text), " /Contents " + contents);
  const char *resources = state.resources != nullptr ? state.resources.get() : "<< >>";
  text = dict_append_before_close(std::move(text), std::string(" /Resources ") + resources);
  return text;
}
