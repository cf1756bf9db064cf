// Editing of dictionary text: the stamp's entries go into a copy of the
// page's resources, and a stamped page's dictionary gets its new /Contents
// and /Resources. The input's own objects are never changed.
#pragma once

#include <cstdint>
#include <string_view>

#include "pdf/content.h"
#include "common/owned_text.h"
#include "pdf/pdf_doc.h"

// Returns a malloc'ed copy of the dictionary whose "<<" is at pos ("<<" to
// its closing ">>", NUL bytes as spaces), or nullptr when it does not close.
OwnedText dict_copy_at(Bytes s, int32_t pos);

// Returns a copy of an indexed object's dictionary as dict_copy_at makes it,
// from the same range as get_obj_dict_text, or nullptr.
OwnedText obj_dict_copy(const PdfDoc &doc, const ObjEntry &entry);

// Returns the position of the '/' of key `name` among the top-level entries
// of the dictionary that starts at or after start (after whitespace) in
// [start, end), or -1 when it has none. A dictionary that cannot be walked
// entry by entry (damaged, or not a dictionary) is searched as text instead:
// the first "/name" anywhere in the range.
int32_t find_dict_key(Bytes s, int32_t start, int32_t end, std::string_view name);

// Returns the resources text with entry added to sub-dictionary category
// ("Font", "ExtGState", "XObject", found as in find_dict_key): inside an inline one, into an inline
// copy of an indirect one, or as a new sub-dictionary at the end.
OwnedText insert_subdict_entry(const PdfDoc &doc, OwnedText resources, std::string_view category,
                               std::string_view entry);

// Removes the first "/name value" from the text, in place: the
// dictionary's own entry (see find_dict_key), not one nested in a value.
void strip_dict_entry(char *text, std::string_view name);

// Returns the text with addition inserted before its final ">>" (unchanged
// when it does not end in ">>").
OwnedText dict_append_before_close(OwnedText text, std::string_view addition);

// Returns the resources a page starts from: a copy of its own /Resources,
// else its nearest ancestor's, else "<< >>" (nullptr when memory runs out).
OwnedText page_base_resources(const PdfDoc &doc, const PageInfo &page);

// Returns names for the stamp's entries that the resources do not use yet.
StampNames free_stamp_names(const PdfDoc &doc, const char *resources);

// Returns the resources text with the stamp's entries added under names.
OwnedText add_stamp_entries(const PdfDoc &doc, OwnedText resources, const StampObjects &nums,
                            const StampNames &names);

// Returns the new resources text of a page: its base resources with the
// stamp's entries added under free names.
OwnedText page_resources_text(const PdfDoc &doc, const PageInfo &page, const StampObjects &nums);

// Returns the rewritten dictionary of a stamped page: its own entries less
// /Contents and /Resources, then the new /Contents and /Resources.
OwnedText rewrite_page_dict(const PdfDoc &doc, const ObjEntry &page, const PageState &state);
