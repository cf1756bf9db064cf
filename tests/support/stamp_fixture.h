// Test-only helpers for the stamping stage: documents loaded from builder
// objects, hand-made page lists, stamp requests and the text of produced
// content streams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pdf/content.h"
#include "pdf/pdf_doc.h"
#include "pdf/stamp_request.h"
#include "support/pdf_builder.h"

namespace testpdf {

// Loads a document built from the objects (through a temporary file) into
// doc; returns false when loading fails. The page list is left empty.
bool load_objects(const std::vector<Object> &objects, PdfDoc &doc, int root = 1);

// Appends a page to doc.page_infos.
void add_page(PdfDoc &doc, int32_t obj_num, int32_t parent_num = -1, int32_t resources_num = -1,
              double box_x = 0, double box_y = 0);

// Returns a text request with the given text at (x, y), size 12, black,
// opacity 1 and every page selected.
StampRequest text_request(const char *text, float x = 0, float y = 0);

// Returns an image request for a PNG picture of width x height pixels.
StampRequest image_request(int32_t width, int32_t height, float opacity, bool alpha);

// Returns the new stream of the plan numbered num, or nullptr.
const NewStream *new_stream(const StampPlan &plan, int32_t num);

// Returns the bytes of a new stream, inflated with zlib when compressed.
std::string stream_text(const NewStream &stream);

// Returns the object numbers that a page's new /Contents value names, in order.
std::vector<int32_t> contents_numbers(const PageState &page);

// Returns the text of the last stream a page's /Contents names: the one that
// draws the stamp.
std::string last_stream_text(const StampPlan &plan, const PageState &page);

// Returns the bytes of a ByteBuf as a string.
std::string buf_text(const ByteBuf &buf);

}  // namespace testpdf
