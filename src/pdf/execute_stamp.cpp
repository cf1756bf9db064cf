// The engine's single entry: load the input, list its pages, build the
// stamp for every selected page and write the new file.
#include <new>

#include "common/error.h"
#include "pdf/content.h"
#include "pdf/load.h"
#include "pdf/page_tree.h"
#include "pdf/pdf_doc.h"
#include "pdf/stamp_request.h"
#include "pdf/writer.h"

int execute_stamp(const char *input_path, const char *output_path, StampRequest *request) {
  if (input_path == nullptr || output_path == nullptr || request == nullptr) {
    set_error("NULL path argument");
    return 0;
  }
  // Allocation failures of the containers surface as std::bad_alloc; each
  // stage reports its own out-of-memory message, and every buffer is
  // released by its owner on the way out.
  PdfDoc doc;
  try {
    if (!load_document(input_path, doc)) return 0;
  } catch (const std::bad_alloc &) {
    set_error("out of memory reading %s", input_path);
    return 0;
  }
  try {
    if (!locate_pages(input_path, doc)) return 0;
  } catch (const std::bad_alloc &) {
    set_error("out of memory listing the pages of %s", input_path);
    return 0;
  }
  if (!check_requested_pages(doc, *request)) return 0;
  StampPlan plan;
  try {
    if (!build_stamp_plan(doc, *request, plan)) return 0;
  } catch (const std::bad_alloc &) {
    set_error("out of memory allocating page state");
    return 0;
  }
  try {
    if (!write_output(output_path, *request, doc, plan)) return 0;
  } catch (const std::bad_alloc &) {
    set_error("out of memory composing output file %s", output_path);
    return 0;
  }
  clear_error();
  return 1;
}
