// Changes to the text of input objects that the output makes: a page-tree
// node that held a dictionary inline in /Kids lists it by reference instead,
// and the dictionary becomes an object of its own. Each change replaces a
// byte range of the object's text; the writer applies them as it copies.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "pdf/byte_buf.h"
#include "pdf/pdf_doc.h"

// Records an edit; sort_body_edits must follow the last one.
void add_body_edit(PdfDoc &doc, BodyEdit edit);

// Puts doc.body_edits in object-number and position order.
void sort_body_edits(PdfDoc &doc);

// Returns the edits of object num, in position order.
std::span<const BodyEdit> body_edits_of(const PdfDoc &doc, int32_t num);

// Appends bytes [start, end) of base with the edits applied; an edit that
// does not lie inside the range, or overlaps an earlier one, is left out.
void put_edited(ByteBuf &out, Bytes base, int32_t start, int32_t end,
                std::span<const BodyEdit> edits);

// Adds an indexed object numbered above every number in use, whose text is
// a copy of text kept in doc.blobs (written as it stands, like an
// object-stream member); returns its number, or 0 when numbers run out.
int32_t add_text_object(PdfDoc &doc, std::string_view text);
