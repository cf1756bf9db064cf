// The page list: a walk of the page tree from the catalog's /Pages (with a
// scan for page objects when the tree yields no page), each page's visible
// box and rotation, and the check of the requested page numbers.
#pragma once

#include <cstdint>

#include "pdf/pdf_doc.h"
#include "pdf/stamp_request.h"

// Returns 1 with doc.page_infos filled in document order, or 0 after
// setting "could not locate page tree in %s".
int locate_pages(const char *input_path, PdfDoc &doc);

// Appends the pages of the tree below node root_num to doc.page_infos, in
// depth-first, left-to-right order. A node already on the current path is
// not entered again, so cyclic trees end. A dictionary written inline in
// /Kids becomes an object of its own, numbered above doc.max_obj_num (which
// grows), and the array that held it names it by reference in the output
// (an edit in doc.body_edits, sorted by locate_pages).
void walk_pages(PdfDoc &doc, int32_t root_num);

// Fills the box of a page from its own keys alone: its /CropBox clipped to
// its /MediaBox, or whichever of them it has; returns false (and leaves the
// outputs alone) when neither gives a usable rectangle.
bool page_box(const PdfDoc &doc, const ObjEntry &entry, double *x, double *y, double *w,
              double *h);

// Returns 1 when every requested page number is in range, else 0 after
// setting "page %d is out of range (document has %ld pages)".
int check_requested_pages(const PdfDoc &doc, const StampRequest &request);
