// Stream data of input objects, and the objects stored inside object
// streams. The data is decoded through the filters the stream names (see
// pdf/stream_filters.h).
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "common/limits.h"
#include "pdf/byte_buf.h"
#include "pdf/pdf_doc.h"

// Returns the data of a stream object found in the file and stores its length
// in *out_len, or returns NULL (not a stream, unresolved or empty, or not
// decodable whole: damaged, too large, or a filter not decoded here).
// Unfiltered data points into the file; decoded data is scratch.data and
// stays valid until scratch changes. *decoded tells which, when given.
// With a key, the data is decrypted first (and then always in scratch).
const uint8_t *decode_stream_obj(const ObjEntry *entry, Bytes file, ByteBuf &scratch,
                                 int32_t *out_len, bool *decoded = nullptr,
                                 const SecurityKey *key = nullptr);

// Returns true when the stream's dictionary names /FlateDecode as (one of) its filters.
bool stream_is_flate(Bytes file, const ObjEntry &entry);

// One decoded object stream: its text (kept in PdfDoc::blobs) and the
// members its header lists.
struct ObjectStream {
  const uint8_t *text = nullptr;
  int32_t length = 0;
  struct Member {
    int32_t num;
    int32_t start;  // offset of the member's text in `text`
    int32_t end;    // one past it: the next member's start, or the length
  };
  std::vector<Member> members;  // in header order
  std::unordered_map<int32_t, int32_t> by_num;  // first member with each number, built on demand
};

// Returns true with the object stream held by container decoded into out,
// its text kept in doc.blobs. False for anything that is not a decodable
// stream of /Type /ObjStm without /Extends.
bool open_object_stream(PdfDoc &doc, const ObjEntry &container, ObjectStream &out);

// Returns the entry of member k of an opened object stream.
ObjEntry object_stream_member(const ObjectStream &stream, size_t k);

// Returns the position in stream.members of object num, preferring the
// member at `index` (where the cross-reference data places it), or -1.
int32_t find_object_stream_member(ObjectStream &stream, int32_t num, int32_t index);
