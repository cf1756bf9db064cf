// The output file: header, the stamp's new objects, the document's objects
// (stamped pages rewritten, object-stream members written as plain objects,
// everything else copied byte for byte but for the edits in doc.body_edits),
// one classic cross-reference table and a new trailer.
#pragma once

#include "pdf/byte_buf.h"
#include "pdf/content.h"
#include "pdf/pdf_doc.h"
#include "pdf/stamp_request.h"

// The steps of writing, so that the caller can say which one ran out of
// memory.
enum class WriteStep { offsets, composing };

// Composes the whole output file in out; throws std::bad_alloc when memory
// runs out, with step telling where.
void compose_output(ByteBuf &out, const StampRequest &request, const PdfDoc &doc,
                    const StampPlan &plan, WriteStep &step);

// Returns 1 after writing the output file, or 0 after setting the error text
// of a file that cannot be written; throws std::bad_alloc when memory runs
// out, with step telling where. An existing file at output_path is replaced
// only once the new one is complete.
int write_output(const char *output_path, const StampRequest &request, const PdfDoc &doc,
                 const StampPlan &plan, WriteStep &step);
