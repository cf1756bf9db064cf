// The engine's single entry: load the input, list its pages, build the
// stamp for every selected page and write the new file, or for a signed
// document append the stamp to it as an update.
#include <new>

#include "common/error.h"
#include "pdf/content.h"
#include "pdf/load.h"
#include "pdf/page_tree.h"
#include "pdf/pdf_doc.h"
#include "pdf/signatures.h"
#include "pdf/stamp_request.h"
#include "pdf/writer.h"

namespace {

// The stage that runs, for the message when memory runs out.
enum class Stage { reading, listing, planning, writing };

}  // namespace

namespace {

// Runs the stamp on the document that load() fills; name stands for the
// input in messages.
template <typename Load>
int run_stamp(const char *name, const char *output_path, StampRequest &request, Load load) {
  // Running out of memory anywhere below surfaces as std::bad_alloc and is
  // reported here, once, by the stage that ran; every buffer is released by
  // its owner on the way out.
  Stage stage = Stage::reading;
  WriteStep step = WriteStep::offsets;
  PdfDoc doc;
  StampPlan plan;
  try {
    if (!load(doc)) return 0;
    stage = Stage::listing;
    const Signing signing = document_signing(doc);
    if (signing == Signing::no_changes)
      return set_error("cannot stamp %s: its certification signature permits no changes", name);
    // An update is found through the input's own cross-reference data; one
    // appended to repaired data would not lead readers to the objects.
    if (signing == Signing::signed_doc && doc.xref_repaired)
      return set_error("cannot stamp %s: it is signed and its cross-reference data is damaged",
                       name);
    if (!locate_pages(name, doc)) return 0;
    if (!check_requested_pages(doc, request)) return 0;
    stage = Stage::planning;
    build_stamp_plan(doc, request, plan);
    stage = Stage::writing;
    const OutputForm form = signing == Signing::none ? OutputForm::whole : OutputForm::update;
    if (!write_output(output_path, request, doc, plan, form, step)) return 0;
  } catch (const std::bad_alloc &) {
    switch (stage) {
      case Stage::reading:
        set_error("out of memory reading %s", name);
        break;
      case Stage::listing:
        set_error("out of memory listing the pages of %s", name);
        break;
      case Stage::planning:
        set_error("out of memory allocating page state");
        break;
      case Stage::writing:
        if (step == WriteStep::offsets)
          set_error("out of memory allocating offsets");
        else
          set_error("out of memory composing output file %s", output_path);
        break;
    }
    return 0;
  }
  clear_error();
  return 1;
}

}  // namespace

int execute_stamp(const char *input_path, const char *output_path, StampRequest *request) {
  if (input_path == nullptr || output_path == nullptr || request == nullptr)
    return set_error("NULL path argument");
  return run_stamp(input_path, output_path, *request,
                   [input_path](PdfDoc &doc) { return load_document(input_path, doc); });
}

int execute_stamp_bytes(std::span<const uint8_t> input, const char *name, const char *output_path,
                        StampRequest *request) {
  if (name == nullptr || output_path == nullptr || request == nullptr)
    return set_error("NULL path argument");
  return run_stamp(name, output_path, *request,
                   [&](PdfDoc &doc) { return load_document_bytes(input, name, doc); });
}
