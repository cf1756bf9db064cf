// Stream data of input objects, and the objects stored inside object
// streams. Only /FlateDecode is decoded; any other filter yields the stored
// bytes unchanged.
#pragma once

#include <cstdint>

#include "common/limits.h"
#include "pdf/byte_buf.h"
#include "pdf/pdf_doc.h"

// Returns the data of a stream object found in the file and stores its length
// in *out_len, or returns NULL (not a stream, unresolved or empty, or
// undecodable). Unfiltered data points into the file; inflated data is
// scratch.data and stays valid until scratch changes. *decoded tells which,
// when given.
const uint8_t *decode_stream_obj(const ObjEntry *entry, Bytes file, ByteBuf &scratch,
                                 int32_t *out_len, bool *decoded = nullptr);

// Returns true when the stream's dictionary names /FlateDecode as (one of) its filters.
bool stream_is_flate(Bytes file, const ObjEntry &entry);

// Appends to doc.objs every object stored in the object streams found by the
// header scan; their texts are kept in doc.blobs.
void expand_object_streams(PdfDoc &doc);
