// The data of a stream object decoded through the filters its dictionary
// names (/Filter, with /DecodeParms), in order: ASCIIHexDecode,
// ASCII85Decode, LZWDecode, RunLengthDecode and FlateDecode, by their full
// names or their abbreviations (AHx, A85, LZW, RL, Fl), with the predictors
// of LZW and Flate. Image filters, unknown names and filter entries given by
// reference are not decoded. The data of an encrypted document is
// decrypted first, with the key given: a /Crypt filter, first in the chain,
// may name /Identity for data that is not encrypted.
#pragma once

#include "pdf/byte_buf.h"
#include "pdf/pdf_doc.h"

enum class DecodeStatus {
  ok,
  unsupported,  // a filter or a parameter this reader does not decode, or an
                // entry that is not a stream of the file; the output is empty
  damaged,      // corrupt data: the output holds what was decoded before it
  too_large,    // some step's output would pass kMaxInflatedStream, or memory
                // ran out (the buffer's `failed` then tells); the output is empty
};

// Returns how the data of a stream object of the file (e.data_pos to
// e.data_end) decoded, with *data the decoded bytes: the stored bytes
// themselves, in place, when the stream has no filter, else out's contents.
// spare holds the steps between the first and the last of a chain of
// filters. Reusing both buffers from call to call makes decoding many
// streams allocate only while the buffers still grow. With a key, the
// stored bytes are decrypted for the object first (the decrypted bytes are
// then in out when no filter follows).
DecodeStatus decode_stream_view(Bytes file, const ObjEntry &e, ByteBuf &out, ByteBuf &spare, Bytes *data,
                                const SecurityKey *key = nullptr);

// Returns how the stream's data decoded, as decode_stream_view, with the
// result (the stored bytes too) in out.
DecodeStatus decode_stream(Bytes file, const ObjEntry &e, ByteBuf &out,
                           const SecurityKey *key = nullptr);
