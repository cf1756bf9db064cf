// Loading: reads the input file, takes Root, Info and Encrypt from the last
// trailer, indexes every object by scanning the bytes for object headers
// (cross-reference data is not trusted), expands object streams, keeps one
// definition per object number and settles the catalog.
#pragma once

#include <vector>

#include "common/limits.h"
#include "pdf/pdf_doc.h"

// Returns 1 with doc loaded, or 0 after setting the error text.
int load_document(const char *input_path, PdfDoc &doc);

// The steps of loading, for the tests.
void read_trailer_facts(PdfDoc &doc);
void parse_trailer_dict(Bytes s, int32_t dict_pos, PdfDoc &doc);
void scan_pass1(Bytes s, std::vector<ObjEntry> &index);
void resolve_body_bounds(Bytes s, std::vector<ObjEntry> &index);
// Keeps the last file definition of each number, or else the last
// object-stream one; drops object streams and numbers above the cap; builds
// doc.index_of_num and max_obj_num.
void select_definitions(PdfDoc &doc);
void settle_catalog(PdfDoc &doc);
