// The stamp's content: object numbers of the new objects, the new streams,
// and for every selected page its new /Contents (the previous content as it
// stands, isolated, then the stamp) and its new resources text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "flate/flate.h"
#include "font/font.h"
#include "pdf/byte_buf.h"
#include "pdf/pdf_doc.h"
#include "pdf/placement.h"
#include "pdf/stamp_request.h"

// Numbers of the objects the stamp adds; 0 when the object is not made.
struct StampObjects {
  int32_t font_num = 0;
  int32_t extra_font_num = 0;  // the built-in font's extra glyphs, when the text uses them
  // An embedded font's objects; its Type 0 font is font_num.
  FontObjectNums embedded_font;
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
  std::string extra_font = "F_STAMP_EXT";
  std::string gs = "GS_STAMP";
  std::string image = "Im_STAMP";
  std::string form = "Fm_CONTENT";  // a page's old content drawn as a form
};

// What one page of the document becomes.
struct PageState {
  bool selected = false;
  std::string resources;  // the page's new /Resources dictionary text
  // The value written as the page's /Contents: an array of the stream that
  // opens the isolation, the page's old content streams as they stand and
  // the stream that closes it and draws the stamp; or one stream that draws
  // the old content as a form and then the stamp.
  std::string contents_value;
};

// A stream object the stamp adds: the openers and closers of pages' old
// content (each written once for every page that needs the same bytes), and
// the forms that hold old content which cannot be read.
struct NewStream {
  int32_t num = 0;
  std::string entries;  // dictionary entries besides /Length, each with a leading space
  std::string data;     // the stream's bytes, as written
  Bytes stored{};       // or, when data is empty, bytes of the input copied as they stand
  // The input object the stored bytes are the data of: an encrypted
  // document's are decrypted with its key and encrypted with this one's.
  int32_t stored_num = 0;
  int32_t stored_gen = 0;
};

// An object the stamp adds that is not a stream: an embedded font's
// dictionaries.
struct NewObject {
  int32_t num = 0;
  std::string body;
};

struct StampPlan {
  StampObjects nums;
  std::vector<PageState> pages;   // one per doc.page_infos entry
  std::vector<NewObject> objects;  // written before the streams
  std::vector<NewStream> streams;  // numbered in the order they are written
};

// The compressor for the new streams; tests replace it to make it fail.
using DeflateFn = int (*)(const unsigned char *src, size_t len, unsigned char **out,
                          size_t *out_len);

// Returns 1 with the plan made for every page; throws std::bad_alloc when
// memory runs out. Clamps request.opacity in place.
int build_stamp_plan(const PdfDoc &doc, StampRequest &request, StampPlan &plan,
                     DeflateFn deflate = tvl_deflate);

struct TextBlock;

// The stamp's operators for one page, with the origin at (x_pos, y_pos), or
// drawn through `placed` (the stamp's own space into the page's) when given,
// a text then as the lines of `block`, laid out once for every page.
void text_operators(ByteBuf &ops, const StampRequest &request, int32_t gs_num, float x_pos,
                    float y_pos, const StampNames &names = {}, const Matrix *placed = nullptr,
                    const TextBlock *block = nullptr);
void image_operators(ByteBuf &ops, const StampRequest &request, int32_t gs_num, float x_pos,
                     float y_pos, const StampNames &names = {}, const Matrix *placed = nullptr);

// The box a picture stamp covers in its own space: its pixel size times the
// scales, or the size given.
BlockBox image_block_box(const StampRequest &request);


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

// How much of a page's old content could be read: every stream (all),
// some of it (a stream damaged or in a filter that cannot be decoded), or
// nothing (the page names no stream with data).
enum class ContentRead { all, partly, empty };

// Appends the decoded bytes of the page's content streams to old_bytes, a
// line end after each stream of an array (readers take the streams as one).
// A damaged stream contributes what could be decoded of it, which is what
// readers show of it. Throws std::bad_alloc when memory runs out.
// Decoding buffers kept from page to page, so that reading many pages
// allocates only while they still grow.
struct ContentBuffers {
  ByteBuf out;
  ByteBuf spare;
};
ContentRead read_page_content(const PdfDoc &doc, const PageContents &contents,
                              ContentBuffers &buffers, ByteBuf &old_bytes);

// What content leaves open at its end, counting only operators: strings,
// comments, names, array and dictionary operands and inline image data are
// passed over. `deficit` is how many more Q than q it meets at its lowest
// point, `open` how many q are still open at its end counted from that
// point, `marked` how many marked-content sequences (BMC, BDC) it leaves
// without EMC, `in_text` whether a BT is left without ET. `closer` ends what
// the content leaves unterminated (a string, an array, a dictionary, inline
// image data) so that what follows it, after a line end, is read as
// operators again.
struct OpenState {
  int64_t deficit = 0;
  int64_t open = 0;
  int64_t marked = 0;
  bool in_text = false;
  std::string closer;
};
OpenState open_state(Bytes content);
