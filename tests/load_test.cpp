// Loading: how the object index is built from damaged files, which
// definition of an object number wins, how the catalog is settled, how
// stream data is delimited and decoded, and how object streams are cut into
// objects.
#include <folimark.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "pdf/byte_buf.h"
#include "pdf/load.h"
#include "pdf/object_streams.h"
#include "common/owned_text.h"
#include "pdf/pdf_doc.h"
#include "support/pdf_builder.h"

namespace {

using testpdf::Member;
using testpdf::Object;
using namespace std::string_literals;

Bytes bytes_of(const std::string &s) {
  return {reinterpret_cast<const uint8_t *>(s.data()), s.size()};
}

int32_t pos_of(const std::string &text, const std::string &marker, size_t from = 0) {
  const size_t at = text.find(marker, from);
  return at == std::string::npos ? -1 : static_cast<int32_t>(at);
}

// A document holding the bytes, as the loader has it right after reading.
PdfDoc doc_of(const std::string &bytes) {
  PdfDoc doc;
  doc.file = std::make_unique<uint8_t[]>(bytes.size() + 1);
  std::memcpy(doc.file.get(), bytes.data(), bytes.size());
  doc.file[bytes.size()] = 0;
  doc.data = doc.file.get();
  doc.length = static_cast<int32_t>(bytes.size());
  return doc;
}

struct Loaded {
  int result = 0;
  std::string error;
  std::string path;
  PdfDoc doc;
};

// Loads the bytes from a temporary file; the file is removed again.
Loaded load(const std::string &bytes) {
  Loaded out;
  out.path = testpdf::temp_path("load.pdf");
  testpdf::write_file(out.path, bytes);
  clear_error();
  out.result = load_document(out.path.c_str(), out.doc);
  out.error = g_err;
  std::filesystem::remove(out.path);
  return out;
}

std::vector<ObjEntry> scanned(const std::string &bytes) {
  std::vector<ObjEntry> index;
  scan_pass1(bytes_of(bytes), index);
  return index;
}

std::vector<ObjEntry> bounded(const std::string &bytes) {
  std::vector<ObjEntry> index = scanned(bytes);
  resolve_body_bounds(bytes_of(bytes), index);
  return index;
}

std::vector<int32_t> numbers_of(const PdfDoc &doc) {
  std::vector<int32_t> nums;
  for (const ObjEntry &e : doc.objs) nums.push_back(e.num);
  return nums;
}

// The text an object-stream member was cut to.
std::string member_text(const ObjEntry &e) {
  return {reinterpret_cast<const char *>(e.text), static_cast<size_t>(e.text_len)};
}

// The bytes of an entry's dictionary range.
std::string dict_of(const PdfDoc &doc, int32_t num) {
  const ObjEntry *e = find_obj(doc, num);
  if (e == nullptr) return "<absent>";
  const DictRange r = dict_range(doc, *e);
  if (!r.present) return "<none>";
  return {reinterpret_cast<const char *>(r.bytes.data()) + r.start,
          static_cast<size_t>(r.end - r.start)};
}

testpdf::Options without_xref() {
  testpdf::Options o;
  o.write_xref = false;
  return o;
}

testpdf::Options with_trailer(const std::string &extra, int64_t xref_shift = 0) {
  testpdf::Options o;
  o.trailer_extra = extra;
  o.xref_offset_shift = xref_shift;
  return o;
}

const std::vector<Object> kCatalogAndPage = {
    {1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
    {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
    {3, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"},
};

// A file whose only trailer is a classic one after an xref table; the
// caller appends what stands after the startxref offset.
struct ClassicFile {
  std::string bytes;
  size_t xref = 0;
  size_t startxref = 0;
};

ClassicFile classic_file(const std::string &trailer_dict = "<< /Size 4 /Root 1 0 R /Info 3 0 R >>") {
  ClassicFile f;
  f.bytes = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n3 0 obj\n<< /Title (t) >>\nendobj\n";
  f.xref = f.bytes.size();
  f.bytes += "xref\n0 4\n0000000000 65535 f \ntrailer\n" + trailer_dict + "\n";
  f.startxref = f.bytes.size();
  f.bytes += "startxref\n" + std::to_string(f.xref) + "\n%%EOF\n";
  return f;
}

}  // namespace

// ---------------------------------------------------------------------------
// startxref is looked for only in the last 2048 bytes, keyword-exact, last hit first.
TEST(TrailerFacts, StartxrefWindow) {
  struct Case { const char *what; size_t distance_from_end; int32_t root; int32_t seen; };
  // distance_from_end: length - position of "startxref".
  const Case cases[] = {
      {"at length - 2048 (oldest position searched)", 2048, 1, 1},
      {"at length - 2049 (just outside)", 2049, -1, 0},
      {"well inside", 40, 1, 1},
  };
  for (const Case &c : cases) {
    ClassicFile f = classic_file();
    const size_t have = f.bytes.size() - f.startxref;
    ASSERT_GE(c.distance_from_end, have);
    f.bytes += std::string(c.distance_from_end - have, '\n');
    PdfDoc doc = doc_of(f.bytes);
    read_trailer_facts(doc);
    EXPECT_EQ(doc.root_num, c.root) << c.what;
    EXPECT_EQ(doc.startxref_seen, c.seen) << c.what;
    EXPECT_EQ(doc.info_num, c.root < 0 ? -1 : 3) << c.what;
  }
}

TEST(TrailerFacts, StartxrefOutsideWindowFallsBackToCatalogSearch) {
  ClassicFile f = classic_file("<< /Size 4 /Root 3 0 R >>");  // Root names the wrong object
  f.bytes += std::string(3000, ' ');
  const Loaded l = load(f.bytes);
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(l.doc.startxref_seen, 0);
  EXPECT_EQ(l.doc.root_num, -1);
  EXPECT_EQ(l.doc.catalog_num, 1);  // by the /Catalog search, not the ignored trailer
}

TEST(TrailerFacts, KeywordAtTheVeryEnd) {
  for (const std::string &text : {std::string("startxref"), std::string("1 0 obj <<>> endobj startxref")}) {
    PdfDoc doc = doc_of(text);
    read_trailer_facts(doc);
    EXPECT_EQ(doc.startxref_seen, 1) << text;
    EXPECT_EQ(doc.startxref_offset, -1) << text;
  }
  PdfDoc shorter = doc_of("startxre");
  read_trailer_facts(shorter);
  EXPECT_EQ(shorter.startxref_seen, 0);
}

TEST(TrailerFacts, LastKeywordWinsAndNameContinuationIsNoKeyword) {
  // An incremental update: the second trailer names another root.
  ClassicFile f = classic_file();
  const size_t xref2 = f.bytes.size();
  f.bytes += "xref\n0 1\ntrailer\n<< /Root 3 0 R >>\nstartxref\n" + std::to_string(xref2) +
             "\n%%EOF\n";
  PdfDoc doc = doc_of(f.bytes + "% startxrefs 0 and startxref_ 0 are no keywords\n");
  read_trailer_facts(doc);
  EXPECT_EQ(doc.startxref_offset, static_cast<int32_t>(xref2));
  EXPECT_EQ(doc.root_num, 3);
}

// ---------------------------------------------------------------------------
// A startxref offset that leads nowhere gives no trailer facts and no error.
TEST(TrailerFacts, BadOffsetsGiveNoFacts) {
  struct Case { const char *what; std::string tail; };
  // Each tail replaces "startxref\n<offset>\n%%EOF\n" of the classic file.
  ClassicFile base = classic_file();
  const std::string head = base.bytes.substr(0, base.startxref);
  const std::string at_trailer = std::to_string(pos_of(head, "trailer"));
  const std::string at_table_digits = std::to_string(pos_of(head, "0000000000"));
  const Case cases[] = {
      {"negative", "startxref\n-5\n%%EOF\n"},
      {"beyond the end", "startxref\n999999\n%%EOF\n"},
      {"at the trailer keyword (neither xref nor a digit)", "startxref\n" + at_trailer + "\n%%EOF\n"},
      {"at a digit with no obj after it", "startxref\n" + at_table_digits + "\n%%EOF\n"},
      {"no digits at all", "startxref\n%%EOF\n"},
  };
  for (const Case &c : cases) {
    PdfDoc doc = doc_of(head + c.tail);
    read_trailer_facts(doc);
    EXPECT_EQ(doc.root_num, -1) << c.what;
    EXPECT_EQ(doc.info_num, -1) << c.what;
    EXPECT_EQ(doc.startxref_seen, 1) << c.what;
    const Loaded l = load(head + c.tail);
    ASSERT_EQ(l.result, 1) << c.what << ": " << l.error;
    EXPECT_EQ(l.doc.catalog_num, 1) << c.what;
  }
}

TEST(TrailerFacts, OffsetAtOrJustPastTheEnd) {
  ClassicFile base = classic_file();
  const std::string head = base.bytes.substr(0, base.startxref);
  for (int extra : {0, 1}) {
    // Find the offset equal to the whole length (plus extra): the tail
    // "startxref\nNNN\n" has as many digits as the offset.
    std::string text;
    for (size_t digits = 1; digits < 8; ++digits) {
      const size_t length = head.size() + 10 + digits + 1;
      const std::string off = std::to_string(length + static_cast<size_t>(extra));
      if (off.size() != digits) continue;
      text = head + "startxref\n" + off + "\n";
      break;
    }
    ASSERT_FALSE(text.empty());
    PdfDoc doc = doc_of(text);
    read_trailer_facts(doc);
    EXPECT_EQ(doc.startxref_offset, doc.length + extra);
    EXPECT_EQ(doc.root_num, -1);
  }
}

TEST(TrailerFacts, OffsetLandingBesideTheTable) {
  struct Case { const char *what; std::string table; int32_t root; };
  const Case cases[] = {
      {"whitespace before xref is skipped", "  \n xref\n0 1\ntrailer\n<< /Root 1 0 R >>\n", 1},
      {"a comment before xref is skipped", "% note\nxref\n0 1\ntrailer\n<< /Root 1 0 R >>\n", 1},
      {"xref without trailer", "xref\n0 1\n<< /Root 1 0 R >>\n", -1},
      {"trailer not followed by a dictionary", "xref\n0 1\ntrailer\n[ /Root 1 0 R ]\n", -1},
      {"trailer then comment then dictionary", "xref\ntrailer % c\n<< /Root 1 0 R >>\n", 1},
      {"xrefs is not the keyword", "xrefs\ntrailer\n<< /Root 1 0 R >>\n", -1},
  };
  for (const Case &c : cases) {
    const std::string head = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
    const std::string text =
        head + c.table + "startxref\n" + std::to_string(head.size()) + "\n%%EOF\n";
    PdfDoc doc = doc_of(text);
    read_trailer_facts(doc);
    EXPECT_EQ(doc.root_num, c.root) << c.what;
  }
}

// A cross-reference stream is the trailer when startxref points at an object header.
TEST(TrailerFacts, CrossReferenceStreamTrailer) {
  const std::string head = "%PDF-1.5\n1 0 obj\n<< /Type /Catalog >>\nendobj\n4 0 obj\n<< >>\nendobj\n";
  const std::string xref_obj =
      "5 0 obj\n<< /Type /XRef /Size 6 /Root 1 0 R /Info 4 0 R /W [1 2 1] /Length 4 >>\n"
      "stream\n\x01\x02\x03\x04\nendstream\nendobj\n";
  for (const std::string &lead : {std::string(""), std::string(" % lead\n")}) {
    const std::string text = head + lead + xref_obj + "startxref\n" +
                             std::to_string(head.size()) + "\n%%EOF\n";
    PdfDoc doc = doc_of(text);
    read_trailer_facts(doc);
    EXPECT_EQ(doc.root_num, 1) << lead;
    EXPECT_EQ(doc.info_num, 4) << lead;
    const Loaded l = load(text);
    ASSERT_EQ(l.result, 1) << l.error;
    EXPECT_EQ(l.doc.catalog_num, 1);
    EXPECT_EQ(l.doc.out_info_num, 4);
  }
  // A digit at the offset but no obj keyword anywhere after it.
  PdfDoc none = doc_of(head + "5 0 ob\nstartxref\n" + std::to_string(head.size()) + "\n");
  read_trailer_facts(none);
  EXPECT_EQ(none.root_num, -1);
}

// The trailer keys are found textually from the dictionary to the end of the file.
TEST(TrailerFacts, DictionaryKeys) {
  struct Case { std::string text; int32_t root; int32_t info; int32_t encrypted; };
  const Case cases[] = {
      {"<< /Root 3 0 R /Info 4 0 R >>", 3, 4, 0},
      {"<< /Size 3 >>\n% /Root 9 0 R past the dictionary", 9, -1, 0},
      {"<< /Root 3 0 R >> << /Root 8 0 R >>", 3, -1, 0},     // the first wins
      {"<< /Root /Foo /Info 4 0 R >>", -1, 4, 0},            // no integer after /Root
      {"<< /RootX 3 0 R /Info4 0 R >>", -1, -1, 0},          // longer names
      {"<< /Root % comment\n 7 0 R >>", 7, -1, 0},
      {"<< /Info 4 0 R /Encrypt 5 0 R >>", -1, 4, 1},
      {"<< /Size 1 >> startxref /Encrypt", -1, -1, 1},
      {"<< /EncryptMetadata false >>", -1, -1, 0},
  };
  for (const Case &c : cases) {
    PdfDoc doc = doc_of(c.text);
    parse_trailer_dict(bytes_of(c.text), 0, doc);
    EXPECT_EQ(doc.root_num, c.root) << c.text;
    EXPECT_EQ(doc.info_num, c.info) << c.text;
    EXPECT_EQ(doc.encrypted, c.encrypted) << c.text;
  }
  // A value already set is not replaced.
  const std::string later = "<< /Root 3 0 R /Info 4 0 R >>";
  PdfDoc doc = doc_of(later);
  doc.root_num = 8;
  parse_trailer_dict(bytes_of(later), 0, doc);
  EXPECT_EQ(doc.root_num, 8);
  EXPECT_EQ(doc.info_num, 4);
}

// ---------------------------------------------------------------------------
// /Encrypt anywhere from the trailer dictionary to the end refuses the file.
TEST(EncryptedInput, RefusedWhereverAfterTheTrailer) {
  struct Case { const char *what; std::string extra_trailer; std::string after_trailer; bool refused; };
  const Case cases[] = {
      {"in the trailer dictionary", "/Encrypt 9 0 R", "", true},
      {"after the trailer dictionary", "", "% /Encrypt\n", true},
      {"not at all", "", "", false},
      {"/EncryptX is another name", "/EncryptX 1", "", false},
  };
  for (const Case &c : cases) {
    std::vector<Object> objects = kCatalogAndPage;
    std::string text = testpdf::build(objects, 1, with_trailer(c.extra_trailer));
    if (!c.after_trailer.empty()) {
      const size_t at = text.find("startxref");
      text.insert(at, c.after_trailer);
    }
    const Loaded l = load(text);
    if (c.refused) {
      EXPECT_EQ(l.result, 0) << c.what;
      EXPECT_EQ(l.error, "encrypted PDFs are not supported: " + l.path) << c.what;
    } else {
      EXPECT_EQ(l.result, 1) << c.what << ": " << l.error;
    }
  }
}

TEST(EncryptedInput, KeyBeforeTheTrailerOrWithoutUsableTrailerIsIgnored) {
  std::vector<Object> objects = kCatalogAndPage;
  objects.push_back({4, 0, "<< /Encrypt 5 0 R >>"});  // an ordinary object naming the key
  const Loaded before = load(testpdf::build(objects, 1));
  EXPECT_EQ(before.result, 1) << before.error;

  const Loaded no_trailer =
      load(testpdf::build(kCatalogAndPage, 1, with_trailer("/Encrypt 9 0 R", 100000)));
  EXPECT_EQ(no_trailer.result, 1) << no_trailer.error;
}

// ---------------------------------------------------------------------------
// Object headers: the exact byte classes around "<num> <gen> obj".
TEST(HeaderScan, WhatCountsAsAHeader) {
  struct Case { std::string text; int count; int32_t num; int32_t gen; int32_t hdr_pos; };
  const Case cases[] = {
      {"12 0obj ", 1, 12, 0, 0},               // no whitespace needed before obj
      {"12 obj ", 0, 0, 0, 0},                 // a single number
      {"12\f0 obj ", 0, 0, 0, 0},              // form feed is not header whitespace
      {"12 0\fobj ", 0, 0, 0, 0},
      {"1 0 obj\n", 1, 1, 0, 0},               // the eight-byte file
      {"1 0 obj", 0, 0, 0, 0},                 // obj must be followed by a byte
      {"0 0 obj\n", 0, 0, 0, 0},               // object number 0
      {"x12 0 obj\n", 1, 12, 0, 1},            // nothing is required before the number
      {"-3 0 obj\n", 1, 3, 0, 1},              // the sign is not part of the number
      {"3 -0 obj\n", 0, 0, 0, 0},
      {"12 0 objx", 0, 0, 0, 0},
      {"12 0 obj_", 0, 0, 0, 0},
      {"12 0 obj+", 0, 0, 0, 0},
      {"12 0 obj<<>>", 1, 12, 0, 0},
      {"\t7\r\n\t 65535 \n\r obj ", 1, 7, 65535, 1},
      {"5 0 % c\nobj ", 0, 0, 0, 0},           // comments are not skipped backwards
      {"5\0" "0 obj "s, 0, 0, 0, 0},           // nor NUL
      {"0012 3 obj ", 1, 12, 3, 0},
      {"endobj obj ", 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    const std::vector<ObjEntry> index = scanned(c.text);
    ASSERT_EQ(static_cast<int>(index.size()), c.count) << c.text;
    if (c.count == 0) continue;
    EXPECT_EQ(index[0].num, c.num) << c.text;
    EXPECT_EQ(index[0].gen, c.gen) << c.text;
    EXPECT_EQ(index[0].hdr_pos, c.hdr_pos) << c.text;
    EXPECT_EQ(index[0].in_objstm, 0);
    EXPECT_EQ(index[0].text, nullptr);
  }
}

TEST(HeaderScan, EightByteFileLoadsAsOneObjectWithoutDictionary) {
  const Loaded eight = load("1 0 obj\n");
  ASSERT_EQ(eight.result, 1) << eight.error;
  ASSERT_EQ(eight.doc.objs.size(), 1u);
  EXPECT_EQ(eight.doc.objs[0].dict_pos, -1);
  EXPECT_EQ(eight.doc.objs[0].is_stream, 0);
  EXPECT_EQ(eight.doc.max_obj_num, 1);

  const Loaded seven = load("1 0 obj");
  EXPECT_EQ(seven.result, 0);
  EXPECT_EQ(seven.error, "no PDF objects found in " + seven.path);
}

TEST(HeaderScan, EveryHeaderIsIndexedEvenInsideStreamData) {
  const std::string text =
      "1 0 obj << /Length 18 >> stream\n9 0 obj << /X 1 >>\nendstream endobj 2 0 obj 5 endobj";
  const std::vector<ObjEntry> index = scanned(text);
  ASSERT_EQ(index.size(), 3u);
  EXPECT_EQ(index[0].num, 1);
  EXPECT_EQ(index[1].num, 9);
  EXPECT_EQ(index[2].num, 2);
  EXPECT_EQ(index[1].hdr_pos, pos_of(text, "9 0 obj"));
}

// Dictionary and stream keyword after the header.
TEST(HeaderScan, DictionaryAndStreamStart) {
  struct Case {
    const char *what;
    std::string text;
    bool dict;
    bool is_stream;
    std::string data_from;  // the text at data_pos (checked as a prefix); "" is the end
  };
  const Case cases[] = {
      {"CR LF", "1 0 obj<<>>stream\r\nDATA", true, true, "DATA"},
      {"LF", "1 0 obj<<>>stream\nDATA", true, true, "DATA"},
      {"lone CR", "1 0 obj<<>>stream\rDATA", true, true, "DATA"},
      {"spaces then LF", "1 0 obj<<>>stream \t \nDATA", true, true, "DATA"},
      {"spaces without EOL are data", "1 0 obj<<>>stream  DATA", true, true, "  DATA"},
      {"only one EOL consumed", "1 0 obj<<>>stream\n\rDATA", true, true, "\rDATA"},
      {"LF CR: only the LF", "1 0 obj<<>>stream\n\r\nDATA", true, true, "\r\nDATA"},
      {"stream at the end", "1 0 obj<<>>stream", true, true, ""},
      {"stream CR at the end", "1 0 obj<<>>stream\r", true, true, ""},
      {"comment before stream", "1 0 obj<<>>% c\nstream\nDATA", true, true, "DATA"},
      {"comment before dict", "1 0 obj % c\n<< >>stream\nDATA", true, true, "DATA"},
      {"streamx is no keyword", "1 0 obj<<>>streamx\nDATA", true, false, ""},
      {"unclosed dictionary", "1 0 obj<< /A 1 stream\nDATA", true, false, ""},
      {"no dictionary", "1 0 obj [1] stream\nDATA", false, false, ""},
  };
  for (const Case &c : cases) {
    const std::vector<ObjEntry> index = scanned(c.text);
    ASSERT_EQ(index.size(), 1u) << c.what;
    const ObjEntry &e = index[0];
    EXPECT_EQ(e.dict_pos >= 0, c.dict) << c.what;
    if (c.dict) {
      EXPECT_EQ(c.text[static_cast<size_t>(e.dict_pos)], '<') << c.what;
    }
    EXPECT_EQ(e.is_stream, c.is_stream ? 1 : 0) << c.what;
    if (!c.is_stream) {
      EXPECT_EQ(e.stream_kw_pos, -1) << c.what;
      EXPECT_EQ(e.data_pos, -1) << c.what;
      continue;
    }
    EXPECT_EQ(e.stream_kw_pos, pos_of(c.text, "stream")) << c.what;
    EXPECT_EQ(c.text.substr(static_cast<size_t>(e.data_pos)), c.data_from) << c.what;
    EXPECT_EQ(e.data_end, -1) << c.what;  // resolved later
    EXPECT_EQ(e.stream_len, -1) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Where a body without stream ends, including an endobj that belongs to a later object.
TEST(BodyBounds, ObjectsWithoutStream) {
  struct Case {
    const char *what;
    std::string text;
    std::string end_marker;  // endobj_pos is where this stands; "" means -1
    int32_t end_shift;       // added to the marker's position
    bool has_endobj_keyword;
  };
  const Case cases[] = {
      {"plain value", "1 0 obj 42 endobj", "endobj", 0, true},
      {"plain value without endobj", "1 0 obj 42", "", 0, false},
      {"dictionary", "1 0 obj << /A 1 >> endobj", "endobj", 0, true},
      {"dictionary without endobj ends at its >>", "1 0 obj << /A 1 >> ", ">> ", 2, false},
      {"unclosed dictionary without endobj", "1 0 obj << /A 1 ", "", 0, false},
      {"endobj of a later object", "1 0 obj << /A 1 >>\n2 0 obj << /B 2 >>\nendobj", ">>\n2", 2, false},
      {"obj inside the dictionary does not count", "1 0 obj << /S (2 0 obj) >> endobj", "endobj", 0, true},
      {"xendobj is no keyword", "1 0 obj << /A 1 >> xendobj endobj", " endobj", 1, true},
      {"endobj_ is no keyword", "1 0 obj 4 endobj_ endobj", " endobj", 9, true},
  };
  for (const Case &c : cases) {
    const std::vector<ObjEntry> index = bounded(c.text);
    ASSERT_GE(index.size(), 1u) << c.what;
    const ObjEntry &e = index[0];
    if (c.end_marker.empty()) {
      EXPECT_EQ(e.endobj_pos, -1) << c.what;
      EXPECT_EQ(e.obj_end, -1) << c.what;
      continue;
    }
    const int32_t expected = pos_of(c.text, c.end_marker) + c.end_shift;
    EXPECT_EQ(e.endobj_pos, expected) << c.what;
    EXPECT_EQ(e.obj_end, expected + (c.has_endobj_keyword ? 6 : 0)) << c.what;
  }
  // The later object keeps the endobj.
  const std::string two = "1 0 obj << /A 1 >>\n2 0 obj << /B 2 >>\nendobj";
  const std::vector<ObjEntry> index = bounded(two);
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(index[1].endobj_pos, pos_of(two, "endobj"));
}

TEST(BodyBounds, EndobjAtTheVeryEndOfTheFile) {
  const std::string text = "1 0 obj << >> endobj";
  const std::vector<ObjEntry> index = bounded(text);
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index[0].obj_end, static_cast<int32_t>(text.size()));
}

// How stream data is delimited: the declared /Length when usable, else
// endstream less one end-of-line.
TEST(BodyBounds, StreamData) {
  const std::string big(1234, 'x');
  struct Case {
    const char *what;
    std::string text;
    std::optional<std::string> data;  // nullopt: unresolved
    bool endobj;
  };
  const Case cases[] = {
      {"direct length", "1 0 obj << /Length 5 >> stream\nHELLO\nendstream endobj", "HELLO", true},
      {"short length is trusted", "1 0 obj << /Length 3 >> stream\nHELLO\nendstream endobj", "HEL", true},
      {"zero length", "1 0 obj << /Length 0 >> stream\nHELLO\nendstream endobj", "", true},
      {"length to the very end", "1 0 obj << /Length 5 >> stream\nHELLO", "HELLO", false},
      {"too long: LF stripped", "1 0 obj << /Length 999 >> stream\nHELLO\nendstream endobj", "HELLO", true},
      {"too long: CR LF stripped", "1 0 obj << /Length 999 >> stream\r\nHELLO\r\nendstream endobj", "HELLO", true},
      {"too long: CR stripped", "1 0 obj << /Length 999 >> stream\nHELLO\rendstream endobj", "HELLO", true},
      {"too long: space kept", "1 0 obj << /Length 999 >> stream\nHELLO endstream endobj", "HELLO ", true},
      {"one EOL only", "1 0 obj << /Length 999 >> stream\nHELLO\n\nendstream endobj", "HELLO\n", true},
      {"LF CR: CR only", "1 0 obj << /Length 999 >> stream\nHELLO\n\rendstream endobj", "HELLO\n", true},
      {"empty by endstream", "1 0 obj << /Length 999 >> stream\nendstream endobj", "", true},
      {"empty, one EOL", "1 0 obj << /Length 999 >> stream\n\nendstream endobj", "", true},
      {"empty, CR LF", "1 0 obj << /Length 999 >> stream\r\n\r\nendstream endobj", "", true},
      {"missing length", "1 0 obj << >> stream\nHELLO\nendstream endobj", "HELLO", true},
      {"negative length", "1 0 obj << /Length -5 >> stream\nHELLO\nendstream endobj", "HELLO", true},
      {"length not a number", "1 0 obj << /Length /X >> stream\nHELLO\nendstream endobj", "HELLO", true},
      {"first /Length wins", "1 0 obj << /DecodeParms << /Length 2 >> /Length 5 >> stream\nHELLO\nendstream endobj", "HE", true},
      {"two integers without R are a direct length", "1 0 obj << /Length 5 0 /X 1 >> stream\nHELLO\nendstream endobj", "HELLO", true},
      {"length in a comment after the name", "1 0 obj << /Length % 3\n 4 >> stream\nHELLO\nendstream endobj", "HELL", true},
      {"no endstream, bad length", "1 0 obj << /Length 999 >> stream\nHELLO\nendobj", std::nullopt, false},
      {"indirect to a stream object",
       "1 0 obj << /Length 2 0 R >> stream\nHELLO\nendstream endobj\n2 0 obj << /Length 1 >> stream\nx\nendstream endobj",
       "HELLO", true},
      {"indirect to a missing object", "1 0 obj << /Length 7 0 R >> stream\nHELLO\nendstream endobj", "HELLO", true},
      {"indirect to object 0", "1 0 obj << /Length 0 0 R >> stream\nHELLO\nendstream endobj 0 0 obj 2 endobj", "HELLO", true},
      {"indirect to a non-number", "1 0 obj << /Length 2 0 R >> stream\nHELLO\nendstream endobj 2 0 obj /X endobj", "HELLO", true},
      {"indirect too long", "1 0 obj << /Length 2 0 R >> stream\nHELLO\nendstream endobj 2 0 obj 999 endobj", "HELLO", true},
      {"indirect", "1 0 obj << /Length 2 0 R >> stream\nHELLO\nendstream endobj 2 0 obj 4 endobj", "HELL", true},
      {"indirect, target before", "2 0 obj 3 endobj 1 0 obj << /Length 2 0 R >> stream\nHELLO\nendstream endobj", "HEL", true},
      {"indirect, target with comment", "1 0 obj << /Length 2 0 R >> stream\nHELLO\nendstream endobj 2 0 obj % n\n 2 endobj", "HE", true},
      {"indirect, target without space", "1 0 obj << /Length 2 0 R >> stream\nHELLO\nendstream endobj 2 0obj 1 endobj", "H", true},
      {"indirect, first definition of the target", "1 0 obj << /Length 2 0 R >> stream\nHELLO\nendstream endobj 2 0 obj 3 endobj 2 0 obj 4 endobj", "HEL", true},
      {"indirect 1234", "1 0 obj << /Length 10 0 R >> stream\n" + big + "\nendstream endobj\n10 0 obj 1234 endobj", big, true},
  };
  for (const Case &c : cases) {
    const std::vector<ObjEntry> index = bounded(c.text);
    const ObjEntry *found = nullptr;
    for (const ObjEntry &x : index)
      if (x.num == 1 && found == nullptr) found = &x;
    ASSERT_NE(found, nullptr) << c.what;
    const ObjEntry &e = *found;
    ASSERT_EQ(e.is_stream, 1) << c.what;
    if (!c.data) {
      EXPECT_EQ(e.data_end, -1) << c.what;
      EXPECT_EQ(e.stream_len, -1) << c.what;
      EXPECT_EQ(e.endobj_pos, -1) << c.what;
      EXPECT_EQ(e.obj_end, -1) << c.what;
      continue;
    }
    ASSERT_GE(e.data_end, e.data_pos) << c.what;
    EXPECT_EQ(e.stream_len, e.data_end - e.data_pos) << c.what;
    EXPECT_EQ(c.text.substr(static_cast<size_t>(e.data_pos), static_cast<size_t>(e.stream_len)), *c.data)
        << c.what;
    if (c.endobj) {
      EXPECT_EQ(e.endobj_pos, pos_of(c.text, "endobj", static_cast<size_t>(e.data_end))) << c.what;
      EXPECT_EQ(e.obj_end, e.endobj_pos + 6) << c.what;
    } else {
      EXPECT_EQ(e.endobj_pos, -1) << c.what;
    }
  }
}

// ---------------------------------------------------------------------------
// One definition per number: the last in the file, file objects over
// object-stream ones, and numbers out of range dropped.
TEST(DefinitionSelection, LaterFileDefinitionWinsWhateverTheGeneration) {
  std::vector<Object> objects = kCatalogAndPage;
  objects.push_back({5, 3, "<< /Which /first >>"});
  objects.push_back({6, 0, "<< >>"});
  objects.push_back({5, 0, "<< /Which /second >>"});
  const Loaded l = load(testpdf::build(objects, 1));
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 2, 3, 6, 5}));
  EXPECT_EQ(dict_of(l.doc, 5), "<< /Which /second >>\n");
  EXPECT_EQ(find_obj(l.doc, 5)->gen, 0);
}

// Object streams compressed under the filter's full name or its
// abbreviation /Fl are expanded alike.
TEST(DefinitionSelection, AbbreviatedFlateObjectStreamIsExpanded) {
  for (const char *filter : {"/Filter /FlateDecode", "/Filter /Fl", "/Filter [/Fl]"}) {
    int first = 0;
    const std::string text = testpdf::object_stream_text({{6, "<< /Six 6 >>"}}, &first);
    std::vector<Object> objects = kCatalogAndPage;
    objects.push_back({10, 0, testpdf::stream("/Type /ObjStm /N 1 /First " + std::to_string(first) +
                                                  " " + filter,
                                              testpdf::zlib_compress(text))});
    const Loaded l = load(testpdf::build(objects, 1));
    ASSERT_EQ(l.result, 1) << l.error;
    ASSERT_NE(find_obj(l.doc, 6), nullptr) << filter;
    EXPECT_EQ(find_obj(l.doc, 6)->in_objstm, 1) << filter;
  }
}

TEST(DefinitionSelection, FileDefinitionWinsOverObjectStream) {
  struct Case { const char *what; bool file_first; };
  for (const Case c : {Case{"file object before the object stream", true},
                       Case{"file object after the object stream", false}}) {
    std::vector<Object> objects = kCatalogAndPage;
    const Object file5{5, 0, "<< /From /file >>"};
    if (c.file_first) objects.push_back(file5);
    objects.push_back({10, 0, testpdf::object_stream({{5, "<< /From /stream >>"}, {6, "<< /Six 6 >>"}})});
    if (!c.file_first) objects.push_back(file5);
    const Loaded l = load(testpdf::build(objects, 1));
    ASSERT_EQ(l.result, 1) << l.error;
    const ObjEntry *five = find_obj(l.doc, 5);
    ASSERT_NE(five, nullptr) << c.what;
    EXPECT_EQ(five->in_objstm, 0) << c.what;
    EXPECT_EQ(dict_of(l.doc, 5), "<< /From /file >>\n") << c.what;
    ASSERT_NE(find_obj(l.doc, 6), nullptr) << c.what;
    EXPECT_EQ(find_obj(l.doc, 6)->in_objstm, 1) << c.what;
    EXPECT_EQ(find_obj(l.doc, 10), nullptr) << c.what;  // the container itself is dropped
    // One entry per number: file objects in file order, then object-stream objects.
    EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 2, 3, 5, 6})) << c.what;
  }
}

TEST(DefinitionSelection, LastExpandedObjectStreamWins) {
  std::vector<Object> objects = kCatalogAndPage;
  objects.push_back({10, 0, testpdf::object_stream({{7, "<< /From /ten >>"}, {8, "<< >>"}})});
  objects.push_back({11, 0, testpdf::object_stream({{7, "<< /From /eleven >>"}})});
  const Loaded l = load(testpdf::build(objects, 1));
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 2, 3, 8, 7}));
  EXPECT_EQ(dict_of(l.doc, 7), "<< /From /eleven >> ");
  EXPECT_EQ(l.doc.max_obj_num, 8);
}

TEST(DefinitionSelection, ObjectNumberLimits) {
  const std::vector<Object> objects = {
      {1, 0, "<< /Type /Pages >>"},
      {8388607, 0, "<< /Last /kept >>"},
      {8388608, 0, "<< /Type /Catalog /First /dropped >>"},
      {20, 0, testpdf::object_stream({{8388609, "<< /Too /big >>"}, {21, "<< >>"}})},
  };
  const std::string text =
      "0 0 obj << /Zero 0 >> endobj\n" + testpdf::build(objects, 0, without_xref());
  const Loaded l = load(text);
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 8388607, 21}));
  EXPECT_EQ(l.doc.max_obj_num, 8388607);
  EXPECT_EQ(find_obj(l.doc, 8388608), nullptr);
  EXPECT_EQ(find_obj(l.doc, 0), nullptr);
  EXPECT_NE(find_obj(l.doc, 8388607), nullptr);
  // The dropped object cannot be the catalog.
  EXPECT_EQ(l.doc.catalog_num, -1);
}

TEST(DefinitionSelection, IndexOfNumberMatchesAFirstMatchSearch) {
  std::vector<Object> objects = kCatalogAndPage;
  objects.push_back({9, 0, "<< >>"});
  objects.push_back({12, 0, testpdf::object_stream({{13, "<< >>"}, {4, "<< >>"}, {9, "<< /X 1 >>"}})});
  const Loaded l = load(testpdf::build(objects, 1));
  ASSERT_EQ(l.result, 1) << l.error;
  ASSERT_EQ(l.doc.index_of_num.size(), static_cast<size_t>(l.doc.max_obj_num) + 1);
  for (int32_t n = -1; n <= l.doc.max_obj_num + 1; ++n) {
    const ObjEntry *linear = nullptr;
    for (const ObjEntry &e : l.doc.objs)
      if (e.num == n) {
        linear = &e;
        break;
      }
    EXPECT_EQ(find_obj(l.doc, n), linear) << n;
  }
}

// ---------------------------------------------------------------------------
// The catalog: /Root when it names an object, else the first /Catalog.
TEST(CatalogSearch, SettledFromRootOrBySearch) {
  struct Case {
    const char *what;
    std::vector<Object> objects;
    int root;
    bool trailer;
    int32_t catalog;
  };
  const Case cases[] = {
      {"root names an object", {{1, 0, "<< /Type /Catalog >>"}, {2, 0, "<< /Type /Catalog >>"}}, 2, true, 2},
      {"root names an object without /Catalog", {{1, 0, "<< /Type /Catalog >>"}, {2, 0, "<< >>"}}, 2, true, 2},
      {"no root: first /Catalog", {{1, 0, "<< >>"}, {2, 0, "<< /Type /Catalog >>"}, {3, 0, "<< /Type /Catalog >>"}}, 0, true, 2},
      {"root names a missing object: search", {{1, 0, "<< >>"}, {2, 0, "<< /Type /Catalog >>"}}, 9, true, 2},
      {"root names a missing object, no catalog", {{1, 0, "<< >>"}}, 9, true, 9},
      {"no root, no catalog", {{1, 0, "<< >>"}}, 0, true, -1},
      {"no trailer, no catalog", {{1, 0, "<< >>"}}, 0, false, -1},
      {"no trailer: search", {{1, 0, "<< >>"}, {2, 0, "<< /Type/Catalog/Pages 1 0 R >>"}}, 0, false, 2},
      {"/Catalogue is another name", {{1, 0, "<< /Catalogue 1 >>"}}, 0, true, -1},
      {"object without dictionary searched from its header", {{1, 0, "[ /Catalog ]"}}, 0, true, 1},
  };
  for (const Case &c : cases) {
    const Loaded l = load(testpdf::build(c.objects, c.root, c.trailer ? testpdf::Options{} : without_xref()));
    ASSERT_EQ(l.result, 1) << c.what << ": " << l.error;
    EXPECT_EQ(l.doc.catalog_num, c.catalog) << c.what;
  }
}

TEST(CatalogSearch, FoundInsideAnObjectStream) {
  const std::vector<Object> objects = {
      {5, 0, testpdf::object_stream({{1, "<< /Type /Catalog /Pages 2 0 R >>"}, {2, "<< /Type /Pages >>"}})},
  };
  const Loaded l = load(testpdf::build(objects, 0, without_xref()));
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(l.doc.catalog_num, 1);
  EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 2}));
}

TEST(CatalogSearch, InfoIsCarriedOver) {
  std::vector<Object> objects = kCatalogAndPage;
  objects.push_back({4, 0, "<< /Title (x) >>"});
  const Loaded l = load(testpdf::build(objects, 1, with_trailer("/Info 4 0 R")));
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(l.doc.info_num, 4);
  EXPECT_EQ(l.doc.out_info_num, 4);
  EXPECT_EQ(l.doc.catalog_num, 1);
}

// The written trailer names /Info only when that object is in the output.
TEST(CatalogSearch, WrittenTrailerNamesOnlyAnInfoThatExists) {
  struct Case { const char *what; bool info_object; const char *expected; };
  for (const Case c : {Case{"present", true, "/Info 4 0 R"}, Case{"missing", false, nullptr}}) {
    std::vector<Object> objects = kCatalogAndPage;
    if (c.info_object) objects.push_back({4, 0, "<< /Title (x) >>"});
    const std::string in = testpdf::temp_path("info-in.pdf");
    const std::string out = testpdf::temp_path("info-out.pdf");
    testpdf::write_file(in, testpdf::build(objects, 1, with_trailer("/Info 4 0 R")));
    ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), "x", 10, 10, 12, 1, 0, 0, 0, 0), 1)
        << folimark_last_error();
    const std::string written = testpdf::read_file(out);
    const std::string trailer = written.substr(written.rfind("trailer"));
    if (c.expected != nullptr) {
      EXPECT_NE(trailer.find(c.expected), std::string::npos) << c.what << ": " << trailer;
    } else {
      EXPECT_EQ(trailer.find("/Info"), std::string::npos) << c.what << ": " << trailer;
    }
  }
}

// ---------------------------------------------------------------------------
// Every failure of loading reports its message with the path.
TEST(LoadMessages, EachFailureNamesThePath) {
  const std::string missing = testpdf::temp_path("does-not-exist.pdf");
  std::filesystem::remove(missing);
  PdfDoc doc;
  clear_error();
  EXPECT_EQ(load_document(missing.c_str(), doc), 0);
  EXPECT_EQ(std::string(g_err), "cannot open " + missing + ": " + std::strerror(ENOENT));

  const Loaded empty = load("");
  EXPECT_EQ(empty.result, 0);
  EXPECT_EQ(empty.error, "empty file: " + empty.path);

  for (const std::string &junk : {std::string("%PDF-1.4\nnothing here\n%%EOF\n"), std::string("x"),
                                 std::string("0 0 obj << >> endobj"),
                                 std::string("8388608 0 obj << /Type /Catalog >> endobj")}) {
    const Loaded l = load(junk);
    EXPECT_EQ(l.result, 0) << junk;
    EXPECT_EQ(l.error, "no PDF objects found in " + l.path) << junk;
  }

  // With no object at all, that message comes before the encryption check.
  const Loaded encrypted_empty = load("trailer << /Encrypt 1 0 R >>\nstartxref\n0\n%%EOF\n");
  EXPECT_EQ(encrypted_empty.error, "no PDF objects found in " + encrypted_empty.path);
}

TEST(LoadMessages, AValidDocumentLoads) {
  const Loaded l = load(testpdf::simple_document({"one", "two"}));
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(l.error, "");
  EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(l.doc.catalog_num, 1);
  EXPECT_EQ(l.doc.root_num, 1);
  EXPECT_EQ(l.doc.startxref_seen, 1);
  EXPECT_EQ(l.doc.max_obj_num, 7);
  EXPECT_EQ(l.doc.data[l.doc.length], 0);
  for (const ObjEntry &e : l.doc.objs) {
    EXPECT_GE(e.endobj_pos, 0) << e.num;
    if (e.is_stream) {
      EXPECT_GT(e.stream_len, 0) << e.num;
    }
  }
}

// ---------------------------------------------------------------------------
// Stream decoding: which streams are inflated, the zlib header test, and the
// output capacity retries up to the 64 MiB ceiling.
namespace {

// A file holding one stream object, and that object's index entry.
struct StreamFile {
  std::string text;
  ObjEntry entry;
};

StreamFile stream_file(const std::string &dict_entries, const std::string &data) {
  StreamFile f;
  f.text = "1 0 obj\n<< " + dict_entries + " /Length " + std::to_string(data.size()) +
           " >>\nstream\n" + data + "\nendstream\nendobj\n";
  const std::vector<ObjEntry> index = bounded(f.text);
  if (!index.empty()) f.entry = index[0];
  return f;
}

struct Decoded {
  const uint8_t *ptr = nullptr;
  int32_t len = -7;
  bool inflated = false;
  std::string bytes;
};

Decoded decode(const StreamFile &f, ByteBuf &scratch) {
  Decoded d;
  d.ptr = decode_stream_obj(&f.entry, bytes_of(f.text), scratch, &d.len, &d.inflated);
  if (d.ptr != nullptr) d.bytes.assign(reinterpret_cast<const char *>(d.ptr), static_cast<size_t>(d.len));
  return d;
}

std::string sample_text() {
  std::string s;
  for (int i = 0; i < 200; ++i) s += "BT /F1 12 Tf 72 " + std::to_string(700 - i) + " Td (line) Tj ET\n";
  return s;
}

}  // namespace

TEST(StreamDecode, FilterDetection) {
  struct Case { std::string dict; bool flate; };
  const Case cases[] = {
      {"/Filter /FlateDecode", true},
      {"/Filter/FlateDecode", true},
      {"/Filter [/ASCII85Decode /FlateDecode]", true},
      {"/Filter /DCTDecode /DecodeParms << /X /FlateDecode >>", true},  // any later /FlateDecode
      {"/Filter /DCTDecode", false},
      {"/FlateDecode 1 /Filter /DCTDecode", false},  // only after /Filter
      {"/Filter /FlateDecodeX", false},
      {"/Filters /FlateDecode", false},
      {"", false},
  };
  for (const Case &c : cases) {
    const StreamFile f = stream_file(c.dict, "data");
    ASSERT_EQ(f.entry.is_stream, 1) << c.dict;
    EXPECT_EQ(stream_is_flate(bytes_of(f.text), f.entry), c.flate) << c.dict;
  }
}

TEST(StreamDecode, ZlibAndRawDeflateBothInflate) {
  const std::string text = sample_text();
  const std::string zlib = testpdf::zlib_compress(text);
  ASSERT_EQ(static_cast<uint8_t>(zlib[0]), 0x78);
  ASSERT_EQ(static_cast<uint8_t>(zlib[1]), 0x9C);
  for (const std::string &packed : {zlib, testpdf::raw_deflate(text)}) {
    const StreamFile f = stream_file("/Filter /FlateDecode", packed);
    ByteBuf scratch;
    const Decoded d = decode(f, scratch);
    ASSERT_NE(d.ptr, nullptr);
    EXPECT_EQ(d.ptr, scratch.data);
    EXPECT_TRUE(d.inflated);
    EXPECT_EQ(d.bytes, text);
    EXPECT_EQ(scratch.length, text.size());
  }
}

TEST(StreamDecode, RawDataThatLooksLikeAZlibHeaderLosesItsFirstTwoBytes) {
  // A raw stored block whose first two bytes, 08 1D, pass the zlib header
  // test (method 8, 0x081D divisible by 31): 29 bytes, then an empty final block.
  const std::string payload = "AB-twenty-nine-bytes-payload!";
  ASSERT_EQ(payload.size(), 29u);
  const std::string raw = "\x08\x1D\x00\xE2\xFF"s + payload + "\x01\x00\x00\xFF\xFF"s;
  // zlib agrees that this is valid raw DEFLATE.
  {
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
    std::string out(64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    EXPECT_EQ(out, payload);
  }
  ByteBuf scratch;
  EXPECT_EQ(decode(stream_file("/Filter /FlateDecode", raw), scratch).ptr, nullptr);

  // Bytes that fail the test are inflated as they are: the same block marked
  // final (01 1D), and a first byte 88 1C whose window field (8) is above 7
  // although 0x881C is divisible by 31.
  const std::string final_block = "\x01\x1D\x00\xE2\xFF"s + payload;
  const std::string wide_window = "\x88\x1C\x00\xE3\xFF"s + payload.substr(1) + "\x01\x00\x00\xFF\xFF"s;
  ASSERT_EQ(0x881C % 31, 0);
  for (const std::string &raw_data : {final_block, wide_window}) {
    const Decoded d = decode(stream_file("/Filter /FlateDecode", raw_data), scratch);
    ASSERT_NE(d.ptr, nullptr);
    EXPECT_EQ(d.bytes, payload.substr(raw_data == final_block ? 0 : 1));
  }
}

TEST(StreamDecode, RetriesWithLargerCapacity) {
  // Zeros compress about 1000:1, far beyond the first guess of 4n + 4096.
  for (const size_t size : {size_t{100000}, size_t{1} << 20}) {
    const std::string packed = testpdf::zlib_zeros(size);
    ASSERT_GT(size, 4 * (4 * packed.size() + 4096));  // needs at least a third attempt
    ByteBuf scratch;
    const Decoded d = decode(stream_file("/Filter /FlateDecode", packed), scratch);
    ASSERT_NE(d.ptr, nullptr) << size;
    EXPECT_EQ(d.bytes, std::string(size, '\0')) << size;
  }
}

TEST(StreamDecode, NoAttemptBeyondSixtyFourMebibytes) {
  // Bytes after the final block are ignored by the inflater but count in the
  // stored size, which sets the capacities 4n + 4096 times 1, 4, 16, 64, 256.
  // At n = 64,512 the fifth is exactly 64 MiB and is tried; one byte more
  // and it would pass the ceiling, so the fourth (about 16.8 MB) is the last.
  const size_t output = 20000000;
  const std::string packed = testpdf::zlib_zeros(output);
  ASSERT_LT(packed.size(), 64512u);
  ASSERT_GE(256 * (4 * packed.size() + 4096), output);  // unpadded, the fifth attempt fits
  ASSERT_LT(64 * (4 * 64513 + 4096), output);          // the fourth never does
  struct Case { size_t stored; bool decoded; };
  for (const Case c : {Case{packed.size(), true}, Case{64512, true}, Case{64513, false}}) {
    const std::string data = packed + std::string(c.stored - packed.size(), 'P');
    ByteBuf scratch;
    const Decoded d = decode(stream_file("/Filter /FlateDecode", data), scratch);
    EXPECT_EQ(d.ptr != nullptr, c.decoded) << c.stored;
    if (d.ptr != nullptr) {
      EXPECT_EQ(d.len, static_cast<int32_t>(output)) << c.stored;
    }
  }
}

// Unfiltered and non-Flate streams are handed out in place.
TEST(StreamDecode, StoredBytesReturnedWithoutCopy) {
  for (const std::string &dict : {std::string("/Filter /DCTDecode"), std::string(""),
                                 std::string("/Filter [/ASCIIHexDecode]"),
                                 std::string("/FlateDecode true /Filter /LZWDecode")}) {
    const std::string data = "\xFF\xD8\xFF\xE0 not really a jpeg";
    const StreamFile f = stream_file(dict, data);
    ByteBuf scratch;
    const Decoded d = decode(f, scratch);
    EXPECT_EQ(d.ptr, reinterpret_cast<const uint8_t *>(f.text.data()) + f.entry.data_pos) << dict;
    EXPECT_EQ(d.bytes, data) << dict;
    EXPECT_FALSE(d.inflated) << dict;
    EXPECT_EQ(scratch.data, nullptr) << dict;  // the scratch buffer is untouched
  }
}

TEST(StreamDecode, NothingToDecode) {
  ByteBuf scratch;
  int32_t len = 0;
  const std::string file = "1 0 obj << /A 1 >> endobj";
  EXPECT_EQ(decode_stream_obj(nullptr, bytes_of(file), scratch, &len), nullptr);

  struct Case { const char *what; std::string text; };
  const Case cases[] = {
      {"not a stream", "1 0 obj << /Filter /FlateDecode >> endobj"},
      {"unresolved", "1 0 obj << /Length 99 >> stream\nxx"},
      {"empty", "1 0 obj << /Length 0 /Filter /FlateDecode >> stream\n\nendstream endobj"},
      {"empty, unfiltered", "1 0 obj << /Length 0 >> stream\n\nendstream endobj"},
      {"damaged flate", "1 0 obj << /Filter /FlateDecode /Length 6 >> stream\n\x78\x9C\xFF\xFF\xFF\xFF\nendstream endobj"},
  };
  for (const Case &c : cases) {
    const std::vector<ObjEntry> index = bounded(c.text);
    ASSERT_EQ(index.size(), 1u) << c.what;
    EXPECT_EQ(decode_stream_obj(&index[0], bytes_of(c.text), scratch, &len), nullptr) << c.what;
  }

  // A member of an object stream has no stream data of its own.
  std::vector<Object> objects = kCatalogAndPage;
  objects.push_back({10, 0, testpdf::object_stream({{5, "<< /Length 3 >> stream\nabc\nendstream"}})});
  const Loaded l = load(testpdf::build(objects, 1));
  ASSERT_EQ(l.result, 1) << l.error;
  const ObjEntry *member = find_obj(l.doc, 5);
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(member->in_objstm, 1);
  EXPECT_EQ(decode_stream_obj(member, doc_bytes(l.doc), scratch, &len), nullptr);
}

// ---------------------------------------------------------------------------
// Object streams: members become index entries; a damaged header drops the
// affected members, not the whole stream.
TEST(ObjectStreams, MembersBecomeEntries) {
  for (const bool compress : {true, false}) {
    const std::vector<Object> objects = {
        {1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
        {9, 0, testpdf::object_stream({{2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
                                       {3, "  << /Type /Page /Parent 2 0 R >>"},
                                       {4, "42"}},
                                      compress)},
    };
    const Loaded l = load(testpdf::build(objects, 1));
    ASSERT_EQ(l.result, 1) << l.error;
    EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 2, 3, 4})) << compress;
    EXPECT_EQ(l.doc.blobs.size(), 1u);
    const ObjEntry *page = find_obj(l.doc, 3);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->in_objstm, 1);
    EXPECT_EQ(page->is_stream, 0);
    EXPECT_EQ(page->gen, 0);
    EXPECT_EQ(page->hdr_pos, 0);
    EXPECT_EQ(page->stream_kw_pos, 0);
    EXPECT_EQ(page->data_pos, 0);
    EXPECT_EQ(page->data_end, 0);
    EXPECT_EQ(page->endobj_pos, 0);
    EXPECT_EQ(page->obj_end, 0);
    EXPECT_EQ(page->stream_len, 0);
    EXPECT_EQ(member_text(*page), "  << /Type /Page /Parent 2 0 R >> ");  // verbatim, trailing space kept
    EXPECT_EQ(page->dict_pos, 2);
    EXPECT_EQ(member_text(*find_obj(l.doc, 4)), "42 ");
    EXPECT_EQ(find_obj(l.doc, 4)->dict_pos, -1);
    EXPECT_EQ(find_obj(l.doc, 9), nullptr);
  }
}

TEST(ObjectStreams, HeaderDamage) {
  struct Case {
    const char *what;
    std::string dict;    // /N and /First
    std::string header;  // the number/offset pairs
    std::string bodies;
    std::vector<std::pair<int32_t, std::string>> members;
  };
  const std::string abc = std::string(15, 'a') + std::string(5, 'b') + std::string(10, 'c');
  const Case cases[] = {
      {"offsets not increasing", "/N 3", "5 0 6 20 7 15 ", abc,
       {{5, std::string(15, 'a') + "bbbbb"}, {7, "bbbbb" + std::string(10, 'c')}}},
      {"/N larger than the valid pairs", "/N 3", "5 0 6 4 0 9 ", "aaaabbbb", {{5, "aaaa"}, {6, "bbbb"}}},
      {"/N larger than the pairs before /First", "/N 3", "5 0 6 4 ", "aaaabbbb", {{5, "aaaa"}, {6, "bbbb"}}},
      {"/N smaller than the pairs", "/N 1", "5 0 6 4 ", "aaaabbbb", {{5, "aaaabbbb"}}},
      {"a negative offset ends the list", "/N 3", "5 0 6 -4 7 6 ", "aaaabbbb", {{5, "aaaabbbb"}}},
      {"object number 0 ends the list", "/N 2", "0 0 6 4 ", "aaaabbbb", {}},
      {"equal offsets skip the first", "/N 3", "5 0 6 0 7 4 ", "aaaabbbb", {{6, "aaaa"}, {7, "bbbb"}}},
      {"next offset beyond the text", "/N 2", "5 0 6 999 ", "aaaabbbb", {}},
      {"last offset beyond the text", "/N 2", "5 0 6 8 ", "aaaabbbb", {{5, "aaaabbbb"}}},
      {"missing /First", "/N 2 /NoFirst", "5 0 6 4 ", "aaaabbbb", {}},
      {"/N 0", "/N 0", "5 0 6 4 ", "aaaabbbb", {}},
      {"/N missing", "", "5 0 6 4 ", "aaaabbbb", {}},
      {"/N negative", "/N -2", "5 0 6 4 ", "aaaabbbb", {}},
  };
  for (const Case &c : cases) {
    std::string dict = "/Type /ObjStm " + c.dict;
    if (c.dict.find("NoFirst") == std::string::npos)
      dict += " /First " + std::to_string(c.header.size());
    const std::vector<Object> objects = {
        {1, 0, "<< /Type /Catalog >>"},
        {10, 0, testpdf::stream(dict, c.header + c.bodies)},
    };
    const Loaded l = load(testpdf::build(objects, 1));
    ASSERT_EQ(l.result, 1) << c.what << ": " << l.error;
    std::vector<std::pair<int32_t, std::string>> got;
    for (const ObjEntry &e : l.doc.objs)
      if (e.in_objstm) got.emplace_back(e.num, member_text(e));
    EXPECT_EQ(got, c.members) << c.what;
  }
}

TEST(ObjectStreams, FirstOutOfRange) {
  const std::string text = "5 0 6 4 aaaabbbb";
  struct Case { const char *what; std::string first; size_t members; };
  const Case cases[] = {
      {"negative", "-8", 0},
      {"at the decoded length", std::to_string(text.size()), 0},
      {"beyond the decoded length", "999", 0},
      {"zero: no pairs", "0", 0},
      {"pairs past /First are not read", "4", 1},  // only "5 0"; the rest is body
      {"valid", "8", 2},
  };
  for (const Case &c : cases) {
    const std::vector<Object> objects = {
        {1, 0, "<< /Type /Catalog >>"},
        {10, 0, testpdf::flate_stream("/Type /ObjStm /N 2 /First " + c.first, text)},
    };
    const Loaded l = load(testpdf::build(objects, 1));
    ASSERT_EQ(l.result, 1) << c.what << ": " << l.error;
    EXPECT_EQ(l.doc.objs.size() - 1, c.members) << c.what;
  }
}

TEST(ObjectStreams, UndecodableStreamIsSkipped) {
  const std::vector<Object> objects = {
      {1, 0, "<< /Type /Catalog >>"},
      {10, 0, testpdf::stream("/Type /ObjStm /N 1 /First 4 /Filter /FlateDecode", "\x78\x9C garbage")},
      {11, 0, testpdf::stream("/Type /ObjStm /N 1 /First 4", "")},
      {12, 0, testpdf::object_stream({{7, "<< /Kept 1 >>"}})},
  };
  const Loaded l = load(testpdf::build(objects, 1));
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 7}));
}

TEST(ObjectStreams, TheNameObjStmAnywhereInTheDictionaryCounts) {
  const std::vector<Object> objects = {
      {1, 0, "<< /Type /Catalog >>"},
      {10, 0, testpdf::stream("/Type /XObject /Note /ObjStm /N 1 /First 4", "7 0 << /A 1 >>")},
      {11, 0, testpdf::stream("/Type /XObject /N 1 /First 4", "8 0 << /A 1 >>")},
  };
  const Loaded l = load(testpdf::build(objects, 1));
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 11, 7}));
}

// ---------------------------------------------------------------------------
// Page classification and dictionary copies stay inside the entry's range.
TEST(EntryDictionary, ObjectType) {
  struct Case { std::string text; int type; };
  const Case cases[] = {
      {"1 0 obj << /Type /Page >> endobj", 1},
      {"1 0 obj <</Type/Page>> endobj", 1},
      {"1 0 obj << /Type /Pages >> endobj", 2},
      {"1 0 obj << /Type % c\n /Pages >> endobj", 2},
      {"1 0 obj << /Type /PageX >> endobj", 0},
      {"1 0 obj << /Type /Pagesx >> endobj", 0},
      {"1 0 obj << /Type /Page_ >> endobj", 1},
      {"1 0 obj << /Type /Page2 >> endobj", 0},
      {"1 0 obj << /TypeX /Page >> endobj", 0},
      {"1 0 obj << /Type (Page) >> endobj", 0},
      {"1 0 obj << /Type /Font /R << /Type /Page >> >> endobj", 1},  // a later, nested hit
      {"1 0 obj << /Type /Pag", 0},
      {"1 0 obj << /Type /Page", 1},    // the name ends the range
      {"1 0 obj << /Type /Pages", 2},
      {"1 0 obj [ /Type /Page ] endobj", 0},  // no dictionary
      {"1 0 obj << /A 1 >> endobj /Type /Page", 0},
      {"1 0 obj << /Length 11 >> stream\n/Type /Page\nendstream endobj", 0},
  };
  for (const Case &c : cases) {
    PdfDoc doc = doc_of(c.text);
    const std::vector<ObjEntry> index = bounded(c.text);
    ASSERT_EQ(index.size(), 1u) << c.text;
    EXPECT_EQ(obj_type(doc, index[0]), c.type) << c.text;
  }
}

TEST(EntryDictionary, TypeAndCopyOfObjectStreamMembers) {
  std::vector<Object> objects = kCatalogAndPage;
  objects.push_back({10, 0, testpdf::object_stream({{5, "<< /Type /Page >>"},
                                                    {6, "<< /Type /Pages >>"},
                                                    {7, "<< /A 1 >>"},
                                                    {8, "42"},
                                                    {9, "<< /Type /Page"}})});
  const Loaded l = load(testpdf::build(objects, 1));
  ASSERT_EQ(l.result, 1) << l.error;
  struct Case { int32_t num; int type; const char *copy; };
  const Case cases[] = {
      {5, 1, "<< /Type /Page >>"}, {6, 2, "<< /Type /Pages >>"}, {7, 0, "<< /A 1 >>"},
      {8, 0, nullptr},             {9, 1, nullptr},
  };
  for (const Case &c : cases) {
    const ObjEntry *e = find_obj(l.doc, c.num);
    ASSERT_NE(e, nullptr) << c.num;
    EXPECT_EQ(obj_type(l.doc, *e), c.type) << c.num;
    OwnedText copy(get_obj_dict_text(l.doc, *e));
    if (c.copy == nullptr) {
      EXPECT_EQ(copy.get(), nullptr) << c.num;
    } else {
      ASSERT_NE(copy.get(), nullptr) << c.num;
      EXPECT_STREQ(copy.get(), c.copy) << c.num;
    }
  }
}

TEST(EntryDictionary, MemberTextEndingInsideAName) {
  // Members cut exactly at the end of the decoded text: no read past it.
  const std::string text = "5 0 6 17 << /Type /Page >><< /Type /Pag";
  const std::vector<Object> objects = {
      {1, 0, "<< /Type /Catalog >>"},
      {10, 0, testpdf::stream("/Type /ObjStm /N 2 /First 9", text)},
  };
  const Loaded l = load(testpdf::build(objects, 1));
  ASSERT_EQ(l.result, 1) << l.error;
  ASSERT_NE(find_obj(l.doc, 6), nullptr);
  EXPECT_EQ(member_text(*find_obj(l.doc, 6)), "<< /Type /Pag");
  EXPECT_EQ(obj_type(l.doc, *find_obj(l.doc, 5)), 1);
  EXPECT_EQ(obj_type(l.doc, *find_obj(l.doc, 6)), 0);
  EXPECT_EQ(OwnedText(get_obj_dict_text(l.doc, *find_obj(l.doc, 6))), nullptr);
}

TEST(EntryDictionary, CopyOfFileObjects) {
  struct Case { std::string text; const char *copy; };
  const Case cases[] = {
      {"1 0 obj << /A << /B 1 >> >> endobj", "<< /A << /B 1 >> >>"},
      {"1 0 obj << /Length 3 >> stream\nabc\nendstream endobj", "<< /Length 3 >>"},
      {"1 0 obj << /A 1 endobj >>", nullptr},  // does not close before endobj
      {"1 0 obj [ << /A 1 >> ] endobj", nullptr},
      {"1 0 obj << /A 1 >>", "<< /A 1 >>"},
  };
  for (const Case &c : cases) {
    PdfDoc doc = doc_of(c.text);
    const std::vector<ObjEntry> index = bounded(c.text);
    ASSERT_EQ(index.size(), 1u) << c.text;
    OwnedText copy(get_obj_dict_text(doc, index[0]));
    if (c.copy == nullptr) {
      EXPECT_EQ(copy.get(), nullptr) << c.text;
    } else {
      ASSERT_NE(copy.get(), nullptr) << c.text;
      EXPECT_STREQ(copy.get(), c.copy) << c.text;
    }
  }
}

// ---------------------------------------------------------------------------
// Bodies without their end keyword: finding where each ends must not scan
// the rest of the file once per object, or a small file loads for minutes.
TEST(LoadCost, UnterminatedBodiesCostOneScan) {
  struct Case { const char *what; std::string unit; int count; };
  const Case cases[] = {
      {"values without endobj", "1 0 obj e ", 100000},
      {"dictionaries without endobj", "1 0 obj << /A 1 >> e ", 50000},
      {"streams without endstream", "1 0 obj <<>> stream\ne ", 50000},
      {"unclosed dictionaries", "1 0 obj << ", 20000},
      {"single < after obj", "1 0 obj <x ", 20000},
      {"unterminated strings in dictionaries", "1 0 obj << /T (x >> endobj ", 20000},
      {"unterminated strings in streams' dictionaries", "1 0 obj << /T (x >> stream\ne ", 20000},
  };
  for (const Case &c : cases) {
    std::string text;
    for (int i = 0; i < c.count; ++i) text += c.unit;
    const auto start = std::chrono::steady_clock::now();
    const Loaded l = load(text);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(l.result, 1) << c.what << ": " << l.error;
    EXPECT_EQ(l.doc.objs.size(), 1u) << c.what;  // every definition is object 1: the last stays
    EXPECT_LT(seconds, 2.0) << c.what;
  }
}
