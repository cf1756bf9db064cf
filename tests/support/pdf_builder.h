// Test-only builder of small PDF files: objects are given as bodies, the
// builder computes offsets, the cross-reference table and the trailer, and
// can damage them on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testpdf {

struct Object {
  int num = 0;
  int gen = 0;
  std::string body;  // what stands between "N G obj\n" and "\nendobj\n"
};

struct Options {
  std::string header = "%PDF-1.4\n";
  bool write_xref = true;       // false: no table, no trailer, no startxref
  int64_t xref_offset_shift = 0;  // added to the startxref value (damage)
  std::string trailer_extra;    // more trailer entries, e.g. "/Info 9 0 R"
  bool write_endobj = true;
};

// Returns "<< dict /Length n >>\nstream\n" + data + "\nendstream".
std::string stream(const std::string &dict_entries, const std::string &data);

// Returns the same with the data compressed by zlib and /Filter /FlateDecode.
std::string flate_stream(const std::string &dict_entries, const std::string &data);

// Returns data as a zlib stream (RFC 1950) at the given level.
std::string zlib_compress(const std::string &data, int level = 6);

// Returns data as raw DEFLATE (RFC 1951, no zlib header or trailer).
std::string raw_deflate(const std::string &data, int level = 6);

// Returns a zlib stream of count zero bytes, compressed in chunks so that
// huge outputs need no huge input buffer.
std::string zlib_zeros(size_t count, int level = 9);

// One object stored in an object stream.
struct Member {
  int num = 0;
  std::string body;
};

// Returns the decoded text of an object stream holding the members in order
// (the header of number/offset pairs, then each body followed by a space) and
// stores the offset of the first body in *first.
std::string object_stream_text(const std::vector<Member> &members, int *first);

// Returns the body of an object stream object holding the members,
// compressed with /FlateDecode unless compress is false.
std::string object_stream(const std::vector<Member> &members, bool compress = true);

// Returns a whole file. root is the catalog's object number (0: no /Root).
std::string build(const std::vector<Object> &objects, int root, const Options &options = {});

// One part of a file: its first save or an incremental update, with the
// cross-reference data that describes what it adds.
struct Section {
  std::vector<Object> objects = {};  // plain objects, written in this order
  int container = 0;  // the object stream holding `members`, when there are any
  std::vector<Member> members = {};
  std::vector<int> freed = {};  // numbers this section marks free
  enum Form { table, stream, hybrid } form = table;
  int xref_num = 0;             // stream and hybrid: the cross-reference stream's number
  bool predictor = false;       // stream rows written with the PNG Up predictor
  std::string trailer = {};     // trailer entries, e.g. "/Root 1 0 R"
  int size = 0;                 // /Size; 0: one past the largest number so far
};

// Returns a file of the sections in order, each with its own
// cross-reference section and /Prev to the one before. A table cannot place
// objects in an object stream: their numbers are left out of it, and in
// hybrid form the stream named by /XRefStm places them.
std::string build_sections(const std::vector<Section> &sections,
                           const std::string &header = "%PDF-1.5\n");

// Returns a valid document whose pages each show one line of text (the
// bytes of a literal string, between its parentheses) at (72, 700) in
// Helvetica with WinAnsiEncoding, with object 1 the catalog, 2 the page
// tree, 3 the font, then per page a page object and its content stream.
// media_box defaults to US Letter.
std::string simple_document(const std::vector<std::string> &page_texts,
                            const std::string &media_box = "[0 0 612 792]", int font_size = 18);

// Temporary files for end-to-end tests, removed by the test that made them.
std::string temp_path(const std::string &name);
void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);

}  // namespace testpdf
