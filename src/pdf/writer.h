// The output file. As a whole new file: header, the stamp's new objects, the
// document's objects (stamped pages rewritten, object-stream members written
// as plain objects, everything else copied byte for byte but for the edits
// in doc.body_edits), one classic cross-reference table and a new trailer.
// As an update: the input's bytes unchanged, then only the new and changed
// objects, a cross-reference section of the kind the input's newest one is,
// and a trailer linked to it.
#pragma once

#include "pdf/content.h"
#include "pdf/pdf_doc.h"
#include "pdf/stamp_request.h"

// Where the output goes: the file at path, or, when path is NULL, a block
// from malloc handed over through data and size once it is complete.
struct OutputTarget {
  const char *path = nullptr;
  uint8_t **data = nullptr;
  size_t *size = nullptr;
};

// The steps of writing, so that the caller can say which one ran out of
// memory.
enum class WriteStep { offsets, composing };

// What the output is: a whole new file, or the input's bytes followed by an
// update that holds only the new and changed objects.
enum class OutputForm { whole, update };

// Returns 1 after writing the output, or 0 after setting the error text
// of a file that cannot be written; throws std::bad_alloc when memory runs
// out, with step telling where. The file is written as it is composed, to a
// temporary file that replaces an existing file at output_path only once it
// is complete.
int write_output(const OutputTarget &target, const StampRequest &request, const PdfDoc &doc,
                 const StampPlan &plan, OutputForm form, WriteStep &step);
