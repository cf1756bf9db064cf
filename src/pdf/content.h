// The stamp's content: object numbers of the new objects, and for every
// selected page its new content stream (the previous content, isolated,
// then the stamp's operators) and its new resources text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "flate/flate.h"
#include "pdf/byte_buf.h"
#include "pdf/pdf_doc.h"
#include "pdf/stamp_request.h"

// Numbers of the objects the stamp adds; 0 when the object is not made.
struct StampObjects {
  int32_t font_num = 0;
  int32_t gs_num = 0;
  int32_t smask_num = 0;
  int32_t image_num = 0;
  int32_t last_num = 0;  // the largest object number of the output
};

// The names under which a page's resources know the stamp's objects. A page
// stamped before already uses the plain names for its earlier stamp, which
// must keep its own font, transparency and picture; the new stamp then takes
// the first free names of the form F_STAMP1, F_STAMP2, ...
struct StampNames {
  std::string font = "F_STAMP";
  std::string gs = "GS_STAMP";
  std::string image = "Im_STAMP";
};

// What one page of the document becomes.
struct PageState {
  bool selected = false;
  int32_t content_num = 0;  // the page's new content stream
  ByteBuf stream;           // its bytes
  bool compressed = false;  // the bytes are a zlib stream (/FlateDecode)
  std::string resources;    // the page's new /Resources dictionary text
  // The value written as the page's /Contents: "N 0 R", or an array that
  // also references original content objects that could not be decoded.
  std::string contents_value;
};

// Extra objects that the writer adds after the content streams (for
// instance a stream that opens a q before content kept by reference).
struct ExtraStream {
  int32_t num = 0;
  std::string bytes;
};

struct StampPlan {
  StampObjects nums;
  std::vector<PageState> pages;   // one per doc.page_infos entry
  std::vector<uint8_t> drop_obj;  // by object number: 1 = old content left out
  std::vector<ExtraStream> extra;
};

// The compressor for the new content streams; tests replace it to make it fail.
using DeflateFn = int (*)(const unsigned char *src, size_t len, unsigned char **out,
                          size_t *out_len);

// Returns 1 with the plan made for every page; throws std::bad_alloc when
// memory runs out. Clamps request.opacity in place.
int build_stamp_plan(const PdfDoc &doc, StampRequest &request, StampPlan &plan,
                     DeflateFn deflate = tvl_deflate);

// The stamp's operators for one page, with the origin at (x_pos, y_pos).
void text_operators(ByteBuf &ops, const StampRequest &request, int32_t gs_num, float x_pos,
                    float y_pos, const StampNames &names = {});
void image_operators(ByteBuf &ops, const StampRequest &request, int32_t gs_num, float x_pos,
                     float y_pos, const StampNames &names = {});

// Appends one line of UTF-8 text as the bytes of a PDF literal string in
// WinAnsiEncoding (without the parentheses).
void escape_text_line(ByteBuf &ops, std::string_view line);

// The steps of building a page's content, for the tests.

// One content stream object named by a page's /Contents.
struct ContentRef {
  int32_t num = 0;
  int32_t gen = 0;  // the generation of the indexed object
};

// What a page's /Contents names: the stream objects in order, and the
// indirect array object that listed them, when it was one.
struct PageContents {
  std::vector<ContentRef> refs;
  int32_t array_num = 0;
  bool is_array = false;  // each stream's bytes are followed by "\n"
};

// Returns the streams that the page's /Contents names (a reference to a
// stream, an inline array, or a reference to an array object).
PageContents page_contents(const PdfDoc &doc, const ObjEntry *page);

// Appends the decoded bytes of the page's content streams to old_bytes.
// Returns false when some existing stream cannot be decoded (a filter other
// than /FlateDecode, or damaged data); old_bytes is then incomplete.
bool append_page_content(const PdfDoc &doc, const PageContents &contents, ByteBuf &scratch,
                         ByteBuf &old_bytes);

// Returns true when a stream's filters are none or /FlateDecode alone.
bool stream_filter_decodable(Bytes file, const ObjEntry &entry);

// How content leaves the graphics state stack: `deficit` is how many more Q
// than q it meets at its lowest point, `open` how many q are still open at
// its end counted from that point. `closer` ends what the content leaves
// unterminated (a string, an array, a dictionary, inline image data) so that
// what follows it, after a line end, is read as operators again.
struct QBalance {
  int64_t deficit = 0;
  int64_t open = 0;
  std::string closer;
};
// Returns the q/Q balance of content, counting only operators: strings,
// comments, names, array and dictionary operands and inline image data are
// passed over.
QBalance q_balance(Bytes content);
