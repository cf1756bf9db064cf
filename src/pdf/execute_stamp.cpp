// The engine's single entry: load the input, list its pages, build the
// stamp for every selected page and write the new file, or for a signed
// document append the stamp to it as an update.
#include <new>
#include <string>
#include <vector>

#include "common/error.h"
#include "pdf/content.h"
#include "pdf/load.h"
#include "pdf/page_selection.h"
#include "pdf/page_tree.h"
#include "pdf/pdf_doc.h"
#include "pdf/signatures.h"
#include "pdf/stamp_request.h"
#include "pdf/text_block.h"
#include "pdf/writer.h"

namespace {

// The stage that runs, for the message when memory runs out.
enum class Stage { reading, listing, planning, writing };

}  // namespace

namespace {

// Reads the request's page selection, now that the page count is known,
// into pages, which the request then points to.
int select_pages(const char *name, const PdfDoc &doc, StampRequest &request,
                 std::vector<int32_t> &pages) {
  if (request.page_selection == nullptr || request.page_selection[0] == '\0') return 1;
  std::string why;
  if (!parse_page_selection(request.page_selection,
                            static_cast<int32_t>(doc.page_infos.size()), pages, why))
    return set_error(ErrorCode::argument, "cannot stamp %s: %s", name, why.c_str());
  // A selection may select nothing ("even" of one page): the document is
  // then written without a stamp, not stamped on every page.
  static constexpr int32_t kNoPage = 0;
  request.pages = pages.empty() ? &kNoPage : pages.data();
  request.page_count = static_cast<int32_t>(pages.size());
  return 1;
}

// Runs the stamp on the document that load() fills; name stands for the
// input in messages.
template <typename Load>
int run_stamp(const char *name, const OutputTarget &target, StampRequest &request, Load load) {
  // Running out of memory anywhere below surfaces as std::bad_alloc and is
  // reported here, once, by the stage that ran; every buffer is released by
  // its owner on the way out.
  const char *output_name = target.path != nullptr ? target.path : "the output in memory";
  Stage stage = Stage::reading;
  WriteStep step = WriteStep::offsets;
  PdfDoc doc;
  StampPlan plan;
  std::vector<int32_t> selected;
  try {
    // A text the font cannot show is refused before the document is read.
    if (request.kind == STAMP_TEXT) {
      TextBlock block;
      std::string why;
      if (!layout_text_block(request, Align::left, block, why))
        return set_error(ErrorCode::unsupported, "cannot stamp %s: %s", name, why.c_str());
    }
    if (!load(doc)) return 0;
    stage = Stage::listing;
    const Signing signing = document_signing(doc);
    if (signing == Signing::no_changes)
      return set_error(ErrorCode::unsupported,
                       "cannot stamp %s: its certification signature permits no changes", name);
    // An update is found through the input's own cross-reference data; one
    // appended to repaired data would not lead readers to the objects.
    if (signing == Signing::signed_doc && doc.xref_repaired)
      return set_error(ErrorCode::unsupported,
                       "cannot stamp %s: it is signed and its cross-reference data is damaged",
                       name);
    if (!locate_pages(name, doc)) return 0;
    if (!select_pages(name, doc, request, selected)) return 0;
    if (!check_requested_pages(doc, request)) return 0;
    stage = Stage::planning;
    build_stamp_plan(doc, request, plan);
    stage = Stage::writing;
    const OutputForm form = signing == Signing::none ? OutputForm::whole : OutputForm::update;
    if (!write_output(target, request, doc, plan, form, step)) return 0;
  } catch (const std::bad_alloc &) {
    switch (stage) {
      case Stage::reading:
        set_error(ErrorCode::memory, "out of memory reading %s", name);
        break;
      case Stage::listing:
        set_error(ErrorCode::memory, "out of memory listing the pages of %s", name);
        break;
      case Stage::planning:
        set_error(ErrorCode::memory, "out of memory allocating page state");
        break;
      case Stage::writing:
        if (step == WriteStep::offsets)
          set_error(ErrorCode::memory, "out of memory allocating offsets");
        else
          set_error(ErrorCode::memory, "out of memory composing output file %s", output_name);
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
    return set_error(ErrorCode::argument, "NULL path argument");
  return execute_stamp_source(StampSource{input_path, false, {}}, OutputTarget{output_path},
                              request);
}

int execute_stamp_bytes(std::span<const uint8_t> input, const char *name, const char *output_path,
                        StampRequest *request) {
  if (name == nullptr || output_path == nullptr || request == nullptr)
    return set_error(ErrorCode::argument, "NULL path argument");
  return execute_stamp_source(StampSource{name, true, input}, OutputTarget{output_path}, request);
}

int execute_stamp_source(const StampSource &source, const OutputTarget &target,
                         StampRequest *request) {
  if (source.name == nullptr || request == nullptr)
    return set_error(ErrorCode::argument, "NULL path argument");
  if (target.path == nullptr && (target.data == nullptr || target.size == nullptr))
    return set_error(ErrorCode::argument, "no output: neither a path nor a place for the bytes");
  const Decryption decryption{request->open_encrypted, request->password};
  return run_stamp(source.name, target, *request, [&](PdfDoc &doc) {
    return source.in_memory ? load_document_bytes(source.bytes, source.name, doc, decryption)
                            : load_document(source.name, doc, decryption);
  });
}
