// Editing of dictionary text: the stamp's entries go into a copy of the
// page's resources, and a stamped page's dictionary gets its new /Contents
// and /Resources. The input's own objects are never changed. Texts are
// std::string: they carry their length, so NUL bytes inside strings stay as
// they are; running out of memory throws std::bad_alloc.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/content.h"
#include "pdf/dict_values.h"
#include "pdf/pdf_doc.h"

// Returns a copy of the dictionary whose "<<" is at pos ("<<" to its closing
// ">>", every byte as it stands), or "" when it does not close.
std::string dict_copy_at(Bytes s, int32_t pos);

// Returns a copy of an indexed object's dictionary as dict_copy_at makes it,
// from the same range as get_obj_dict_text, or "". In an encrypted document
// its strings are decrypted (written as hexadecimal strings): copies are
// made to be composed into new text, which holds plain strings.
std::string obj_dict_copy(const PdfDoc &doc, const ObjEntry &entry);

// Adds entry to sub-dictionary category ("Font", "ExtGState", "XObject",
// found as in find_dict_key) of the resources text: inside an inline one,
// into an inline copy of an indirect one; any other value of the category (a
// reference to a missing object or to no dictionary, a string, an array) is
// replaced by an inline dictionary holding the entry, so that the key stays
// single. Without the category, a new sub-dictionary goes at the end.
void insert_subdict_entry(const PdfDoc &doc, std::string &resources, std::string_view category,
                          std::string_view entry);

// Removes "/name value" from the text: the dictionary's own entry (see
// find_dict_key), not one nested in a value, and any later entry of the same
// name, so that an entry appended afterwards is the only one.
void strip_dict_entry(std::string &text, std::string_view name);

// Inserts addition before the text's final ">>" (no change when it does not
// end in ">>").
void dict_append_before_close(std::string &text, std::string_view addition);

// Returns the resources a page starts from: a copy of its own /Resources,
// else its nearest ancestor's, else "<< >>".
std::string page_base_resources(const PdfDoc &doc, const PageInfo &page);

// Returns names for the stamp's entries that the resources do not use yet.
StampNames free_stamp_names(const PdfDoc &doc, std::string_view resources);

// Adds the stamp's entries to the resources text under names.
void add_stamp_entries(const PdfDoc &doc, std::string &resources, const StampObjects &nums,
                       const StampNames &names);

// Returns the new resources text of a page: its base resources with the
// stamp's entries added under free names.
std::string page_resources_text(const PdfDoc &doc, const PageInfo &page, const StampObjects &nums);

// Returns the rewritten dictionary of a stamped page: its own entries less
// /Contents and /Resources, then the new /Contents and /Resources.
std::string rewrite_page_dict(const PdfDoc &doc, const ObjEntry &page, const PageState &state);
