// The loaded input document: the whole file in memory, the object index
// found by scanning it for object headers, the decoded object-stream texts,
// the page list and the few trailer facts the engine needs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pdf/scan.h"
#include "security/security_key.h"

// One indexed object. Positions are offsets into PdfDoc::data; -1 means
// absent or not determined. Objects taken from an object stream have
// in_objstm set and their text in one of PdfDoc::blobs.
struct ObjEntry {
  int32_t num = 0;
  int32_t gen = 0;
  int32_t hdr_pos = 0;        // first digit of the object number
  int32_t body_pos = -1;      // first byte of the value after "obj"
  int32_t dict_pos = -1;      // the '<' of the dictionary after "obj"
  int32_t stream_kw_pos = -1; // the "stream" keyword after the dictionary
  int32_t data_pos = -1;      // first byte of the stream data
  int32_t data_end = -1;      // one past the stream data
  int32_t endobj_pos = -1;    // where the body ends ("endobj" or dictionary end)
  int32_t obj_end = -1;       // one past "endobj" when it stands at endobj_pos
  int32_t stream_len = -1;
  int32_t is_stream = 0;
  int32_t in_objstm = 0;
  const uint8_t *text = nullptr;  // object-stream members: the object's text
  int32_t text_len = 0;
};

// One page, in document order.
struct PageInfo {
  int32_t obj_num = 0;
  int32_t parent_num = -1;     // the node whose /Kids listed the page, or -1
  int32_t resources_num = -1;  // nearest ancestor holding /Resources, when the page has none
  double box_x = 0, box_y = 0, box_w = 595, box_h = 842;  // the visible box
  int32_t rotate = 0;          // /Rotate as readers apply it: 0, 90, 180 or 270
};

// A change the output makes to the text of one input object: bytes
// [at, at + len) are written as text instead. Positions count as in the
// bytes of the object's dict_range (the file, or an object-stream member's text).
struct BodyEdit {
  int32_t num = 0;
  int32_t at = 0;
  int32_t len = 0;
  std::string text;
};

struct PdfDoc {
  std::unique_ptr<uint8_t[]> file;  // exactly the input file
  uint8_t *data = nullptr;          // file.get()
  int32_t length = 0;
  std::vector<ObjEntry> objs;
  std::vector<PageInfo> page_infos;
  std::vector<BodyEdit> body_edits;  // sorted by object number, then position
  std::vector<std::unique_ptr<uint8_t[]>> blobs;  // decoded object-stream texts, added objects' texts
  int32_t startxref_seen = 0;
  int32_t startxref_offset = -1;
  int32_t root_num = -1;
  int32_t info_num = -1;
  int32_t encrypted = 0;
  // Where the newest trailer's /Encrypt dictionary is: the number of the
  // object that holds it, or -1 and the position in the file of a
  // dictionary written in the trailer itself (-1 when neither).
  int32_t encrypt_num = -1;
  int32_t encrypt_pos = -1;
  // An encrypted document's key once its password opened it: what the
  // engine reads is decrypted with it, and what it writes is encrypted.
  std::optional<SecurityKey> security;
  int32_t catalog_num = -1;
  int32_t out_info_num = -1;
  int64_t size = -1;         // the newest trailer's /Size, -1 if none
  // What appending to the input needs to know: whether its index had to be
  // repaired from a scan (cross-reference data missing, unreadable, with
  // a broken /Prev chain or with entries that miss their objects), and the
  // kind of its newest cross-reference section (at startxref_offset).
  int32_t xref_repaired = 0;
  int32_t xref_is_stream = 0;
  std::string trailer_id;    // the newest trailer's /ID array as written, or empty
  // The largest object number the input uses or refers to (or its /Size
  // names); new objects are numbered above it.
  int32_t max_obj_num = 0;
  // max_obj_num as loading left it: objects numbered above were added since.
  int32_t loaded_max_num = 0;
  // Index in objs of the entry for each object number 0..max_obj_num, or -1.
  // Built once after the index is final, so that lookups by number cost O(1).
  std::vector<int32_t> index_of_num;
};

// The whole file as a byte range (without the NUL after it).
inline Bytes doc_bytes(const PdfDoc &doc) {
  return {doc.data, static_cast<size_t>(doc.length)};
}

// Returns the entry with object number num, or nullptr. Needs index_of_num.
const ObjEntry *find_obj(const PdfDoc &doc, int32_t num);

// The byte range in which an entry's keys are searched: [start, end) of
// bytes. For an object-stream member its whole text; for a file object from
// dict_pos to the first positive of stream_kw_pos, endobj_pos, file length.
// present is false for a file object without a dictionary.
struct DictRange {
  Bytes bytes;  // the base the positions count from, cut at end
  int32_t start = 0;
  int32_t end = 0;
  bool present = false;
};
DictRange dict_range(const PdfDoc &doc, const ObjEntry &entry);
// The same for an entry of the file whose bytes are given.
DictRange dict_range_in(Bytes file, const ObjEntry &entry);

// Returns the range of an entry's value: an object-stream member's text
// from its first non-blank byte, a stream's dictionary, or what stands
// between a file object's "obj" and the end of its value. present is false
// when the value is empty.
DictRange object_body(const PdfDoc &doc, const ObjEntry &entry);

// Returns the range of the value at pos of r, following a reference
// "n g R" to the body of object n (then stored in *followed, else 0 there).
// The range's start is the value's first byte.
DictRange resolve_value(const PdfDoc &doc, const DictRange &r, int32_t pos,
                        int32_t *followed = nullptr);

// Returns 1 for a page object (/Type /Page), 2 for a page-tree node
// (/Type /Pages), 0 otherwise.
int obj_type(const PdfDoc &doc, const ObjEntry &entry);

// Returns a malloc'ed copy of the entry's dictionary ("<<" to ">>"), or NULL
// when it has none or it does not close inside its range. The caller frees it.
char *get_obj_dict_text(const PdfDoc &doc, const ObjEntry &entry);
