// The engine's single entry: load the input, list its pages, build the
// stamp for every selected page and write the new file.
#include "abi/last_error.h"
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
  PdfDoc doc;
  if (!load_document(input_path, doc)) return 0;
  if (!locate_pages(input_path, doc)) return 0;
  if (!check_requested_pages(doc, *request)) return 0;
  StampPlan plan;
  if (!build_stamp_plan(doc, *request, plan)) return 0;
  if (!write_output(output_path, *request, doc, plan)) return 0;
  clear_error();
  return 1;
}
