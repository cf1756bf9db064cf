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
#include <functional>
#include <stdexcept>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "pdf/byte_buf.h"
#include "pdf/load.h"
#include "pdf/object_read.h"
#include "pdf/reconstruct.h"
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

// Loads the bytes as the engine does, from memory.
Loaded load(const std::string &bytes) {
  Loaded out;
  out.path = "load.pdf";
  clear_error();
  out.result = load_document_bytes(bytes_of(bytes), out.path.c_str(), out.doc);
  out.error = error_text();
  return out;
}

// The objects a scan of the bytes finds, with their bodies bounded.
std::vector<ObjEntry> bounded(const std::string &bytes) {
  return scan_file_objects(bytes_of(bytes), [](int32_t) { return -1; }).objects;
}

// The text an object-stream member was cut to.
std::string member_text(const ObjEntry &e) {
  return {reinterpret_cast<const char *>(e.text), static_cast<size_t>(e.text_len)};
}

using Members = std::vector<std::pair<int32_t, std::string>>;

// The object stream that is object 10 of a file holding only it.
struct OpenedStream {
  PdfDoc doc;
  ObjectStream stream;
  bool ok = false;
};

std::unique_ptr<OpenedStream> open_container(const std::string &container_body) {
  auto out = std::make_unique<OpenedStream>();
  out->doc = doc_of("10 0 obj\n" + container_body + "\nendobj\n");
  const Bytes s = doc_bytes(out->doc);
  ObjectHeader h;
  if (!read_object_header(s, 0, &h)) return out;
  ObjEntry e = read_object_at(s, h, out->doc.length);
  int32_t indirect = -1;
  settle_stream_extent(s, e, stream_length_value(s, e, &indirect), out->doc.length);
  out->ok = open_object_stream(out->doc, e, out->stream);
  return out;
}

// Returns the members of that object stream, or nullopt when it cannot be opened.
std::optional<Members> members_of(const std::string &container_body) {
  const std::unique_ptr<OpenedStream> o = open_container(container_body);
  if (!o->ok) return std::nullopt;
  Members out;
  for (size_t k = 0; k < o->stream.members.size(); ++k)
    out.emplace_back(o->stream.members[k].num, member_text(object_stream_member(o->stream, k)));
  return out;
}

std::vector<int32_t> numbers_of(const PdfDoc &doc) {
  std::vector<int32_t> nums;
  for (const ObjEntry &e : doc.objs) nums.push_back(e.num);
  return nums;
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

}  // namespace

// ---------------------------------------------------------------------------
// Which definition of each object the index holds: the one the document's own
// cross-reference data places, checked against the bytes, with the file
// scanned only for what that data cannot place. Each case is a file made by
// the builder and the facts the index must show for it.

namespace {

// The text the index holds for object num: a member's text, a file object's
// value (a stream's dictionary), "<data:...>" for a stream's data, or
// "<absent>".
std::string text_of(const PdfDoc &doc, int32_t num) {
  const ObjEntry *e = find_obj(doc, num);
  if (e == nullptr) return "<absent>";
  if (e->in_objstm) return member_text(*e);
  const int32_t end = e->is_stream ? e->stream_kw_pos : e->endobj_pos;
  std::string text(reinterpret_cast<const char *>(doc.data) + e->body_pos,
                   static_cast<size_t>(end - e->body_pos));
  if (e->is_stream && e->data_end >= e->data_pos)
    text += "<data:" + std::string(reinterpret_cast<const char *>(doc.data) + e->data_pos,
                                   static_cast<size_t>(e->data_end - e->data_pos)) + ">";
  return text;
}

// Returns bytes with the first occurrence of from replaced by to.
std::string replaced(std::string bytes, const std::string &from, const std::string &to) {
  const size_t at = bytes.find(from);
  if (at == std::string::npos) throw std::runtime_error("no " + from);
  return bytes.replace(at, from.size(), to);
}

// Returns bytes with the classic table's offset of object num moved by delta.
std::string moved_entry(std::string bytes, int num, int delta) {
  const size_t at = bytes.find("\n" + std::to_string(num) + " 0 obj") + 1;
  char from[32], to[32];
  std::snprintf(from, sizeof from, "%010zu 00000 n", at);
  std::snprintf(to, sizeof to, "%010zu 00000 n", at + static_cast<size_t>(delta));
  return replaced(bytes, from, to);
}

const std::vector<Object> kPageObjects = {
    {1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
    {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
    {3, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>"},
};

std::vector<Object> with(std::vector<Object> objects, const std::vector<Object> &more) {
  objects.insert(objects.end(), more.begin(), more.end());
  return objects;
}

// Returns a file whose object 4 is `old_body`, then redefined as `new_body`
// by an update that stores it in an object stream.
std::string updated_in_object_stream(const std::string &old_body, const std::string &new_body) {
  testpdf::Section first{.objects = with(kPageObjects, {{4, 0, old_body}})};
  first.trailer = "/Root 1 0 R";
  testpdf::Section update;
  update.container = 11;
  update.members = {{4, new_body}};
  update.form = testpdf::Section::stream;
  update.xref_num = 12;
  update.trailer = "/Root 1 0 R";
  return testpdf::build_sections({first, update});
}

using Expect = std::vector<std::pair<int32_t, std::string>>;  // number, text it must contain

struct ReadCase {
  const char *name;
  std::function<std::string()> make;
  Expect expect;       // "<absent>" expects no entry
  int32_t info = -1;   // the trailer's /Info, when the case sets one
  int32_t min_top = 0; // max_obj_num must reach this
};

const ReadCase kReadCases[] = {
    {"classic table with CR LF entries",
     [] {
       std::string bytes = testpdf::build(with(kPageObjects, {{4, 0, "(page four)"}}), 1);
       for (size_t at = bytes.find(" n \n"); at != std::string::npos; at = bytes.find(" n \n", at))
         bytes.replace(at, 4, " n\r\n");
       return bytes;
     },
     {{4, "(page four)"}}},
    {"table's first subsection numbered from 1",
     [] {
       return replaced(testpdf::build(with(kPageObjects, {{4, 0, "(four)"}}), 1), "xref\n0 ",
                       "xref\n1 ");
     },
     {{4, "(four)"}, {3, "/Type /Page"}}},
    {"cross-reference stream with predictor, objects in an object stream",
     [] {
       testpdf::Section s;
       s.objects = {kPageObjects[0]};
       s.container = 9;
       s.members = {{2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"}, {3, "<< /Type /Page >>"},
                    {4, "(member four)"}};
       s.form = testpdf::Section::stream;
       s.xref_num = 10;
       s.predictor = true;
       s.trailer = "/Root 1 0 R";
       return testpdf::build_sections({s});
     },
     {{4, "(member four)"}, {3, "/Type /Page"}, {9, "<absent>"}, {10, "<absent>"}}},
    {"hybrid file: the stream named by /XRefStm places what the table leaves out",
     [] {
       testpdf::Section s;
       s.objects = {kPageObjects[0], kPageObjects[1]};
       s.container = 9;
       s.members = {{3, "<< /Type /Page >>"}, {4, "(hybrid four)"}};
       s.form = testpdf::Section::hybrid;
       s.xref_num = 10;
       s.trailer = "/Root 1 0 R";
       return testpdf::build_sections({s});
     },
     {{4, "(hybrid four)"}, {3, "/Type /Page"}, {10, "<absent>"}}},
    {"an update stores its new definition in an object stream",
     [] {
       return updated_in_object_stream("(old value)", "(new value)");
     },
     {{4, "(new value)"}}},
    {"an update frees an object",
     [] {
       testpdf::Section first{.objects = with(kPageObjects, {{4, 0, "(four)"}, {5, 0, "(deleted)"}})};
       first.trailer = "/Root 1 0 R";
       testpdf::Section update;
       update.freed = {5};
       update.trailer = "/Root 1 0 R";
       return testpdf::build_sections({first, update});
     },
     {{5, "<absent>"}, {4, "(four)"}}},
    {"a stale copy after the end of the file",
     [] {
       return testpdf::build(with(kPageObjects, {{4, 0, "(current)"}}), 1) +
              "4 0 obj\n(stale)\nendobj\n" + std::string(100000, ' ');
     },
     {{4, "(current)"}}},
    {"an object header inside stream data and a string, cross-reference intact",
     [] {
       return testpdf::build(
           with(kPageObjects, {{4, 0, "(real)"},
                               {5, 0, testpdf::stream("", "4 0 obj\n(phantom)\nendobj\n")},
                               {6, 0, "<< /Note (4 0 obj (phantom) endobj) >>"}}),
           1);
     },
     {{4, "(real)"}, {5, "<data:4 0 obj\n(phantom)\nendobj\n>"}}},
    {"an object header inside stream data and a string, no cross-reference",
     [] {
       testpdf::Options o;
       o.write_xref = false;
       return testpdf::build(
           with(kPageObjects, {{4, 0, "(real)"},
                               {5, 0, testpdf::stream("", "4 0 obj\n(phantom)\nendobj\n")},
                               {6, 0, "<< /Note (\n4 0 obj (phantom) endobj) >>"}}),
           1, o);
     },
     {{4, "(real)"}, {5, "<data:4 0 obj\n(phantom)\nendobj\n>"}, {6, "/Note"}}},
    {"an entry that points beside its object: that object from the scan",
     [] { return moved_entry(testpdf::build(with(kPageObjects, {{4, 0, "(four)"}}), 1), 4, 3); },
     {{4, "(four)"}, {3, "/Type /Page"}}},
    {"startxref pointing nowhere: the whole file scanned",
     [] {
       testpdf::Options o;
       o.xref_offset_shift = 7;
       return testpdf::build(with(kPageObjects, {{4, 0, "(four)"}}), 1, o);
     },
     {{4, "(four)"}, {1, "/Catalog"}}},
    {"a /Prev that loops back",
     [] {
       testpdf::Section first{.objects = with(kPageObjects, {{4, 0, "(four)"}})};
       first.trailer = "/Root 1 0 R";
       testpdf::Section update{.objects = {{5, 0, "(five)"}}};
       update.trailer = "/Root 1 0 R";
       std::string bytes = testpdf::build_sections({first, update});
       const std::string last = bytes.substr(bytes.rfind("startxref\n") + 10);
       const std::string self = last.substr(0, last.find('\n'));
       const size_t prev = bytes.rfind("/Prev ");
       return bytes.replace(prev + 6, bytes.find(' ', prev + 6) - prev - 6, self);
     },
     {{5, "(five)"}, {4, "(four)"}}},
    {"a wrong /Length: the data runs to endstream",
     [] {
       return testpdf::build(
           with(kPageObjects, {{4, 0, "<< /Length 3 >>\nstream\nabcdefgh\nendstream"}}), 1);
     },
     {{4, "<data:abcdefgh>"}}},
    {"a misspelt endstream: the data runs to endobj",
     [] {
       return testpdf::build(
           with(kPageObjects, {{4, 0, "<< /Length 3 >>\nstream\nabcdefgh\nendstrem"}}), 1);
     },
     {{4, "<data:abcdefgh\nendstrem>"}}},
    {"an indirect /Length read from the newest definition",
     [] {
       const std::string data = "abc\nendstream\nxyz";
       testpdf::Section first{.objects = with(kPageObjects, {{4, 0, "<< /Length 5 0 R >>\nstream\n" + data +
                                                             "\nendstream"},
                                                  {5, 0, "3"}})};
       first.trailer = "/Root 1 0 R";
       testpdf::Section update{.objects = {{5, 0, std::to_string(data.size())}}};
       update.trailer = "/Root 1 0 R";
       return testpdf::build_sections({first, update});
     },
     {{4, "<data:abc\nendstream\nxyz>"}}},
    {"endobj glued to a number",
     [] {
       testpdf::Options o;
       o.write_endobj = false;
       return testpdf::build(with(kPageObjects, {{4, 0, "74191endobj"}}), 1, o);
     },
     {{4, "74191"}}},
    {"trailer keys from the newest trailer that has each",
     [] {
       testpdf::Section first{.objects = with(kPageObjects, {{4, 0, "(four)"}, {8, 0, "<< /Title (t) >>"}})};
       first.trailer = "/Root 1 0 R /Info 8 0 R";
       testpdf::Section update{.objects = {{5, 0, "(five)"}}};
       update.trailer = "/Root 1 0 R /ID [<AA><BB>]";
       return testpdf::build_sections({first, update});
     },
     {{8, "/Title"}},
     8},
    {"new numbers above every reference and /Size",
     [] {
       testpdf::Section s{.objects = with(kPageObjects, {{4, 0, "<< /Annots [40 0 R] >>"}}),
                          .trailer = "/Root 1 0 R",
                          .size = 50};
       return testpdf::build_sections({s});
     },
     {{40, "<absent>"}},
     -1,
     49},
    {"an object stream of another type leaves its members to older definitions",
     [] {
       return replaced(updated_in_object_stream("(older)", "(in a bad stream)"), "/Type /ObjStm",
                       "/Type /ObjStX");
     },
     {{4, "(older)"}}},
};

}  // namespace

TEST(ObjectIndex, EachCaseReadsAsViewersDo) {
  for (const ReadCase &c : kReadCases) {
    const Loaded l = load(c.make());
    ASSERT_EQ(l.result, 1) << c.name << ": " << l.error;
    for (const auto &[num, text] : c.expect) {
      if (text == "<absent>") {
        EXPECT_EQ(find_obj(l.doc, num), nullptr) << c.name << ": object " << num;
      } else {
        EXPECT_NE(text_of(l.doc, num).find(text), std::string::npos)
            << c.name << ": object " << num << " reads " << text_of(l.doc, num);
      }
    }
    if (c.info >= 0) {
      EXPECT_EQ(l.doc.info_num, c.info) << c.name;
    }
    EXPECT_GE(l.doc.max_obj_num, c.min_top) << c.name;
    EXPECT_EQ(l.doc.catalog_num, 1) << c.name;
  }
}

// The /ID of the newest trailer is kept as written; a /Size far beyond
// anything the file uses does not blow up the numbering.
TEST(ObjectIndex, TrailerIdAndImplausibleSize) {
  testpdf::Section first{.objects = with(kPageObjects, {{4, 0, "(four)"}})};
  first.trailer = "/Root 1 0 R /ID [<01><02>]";
  testpdf::Section update{.objects = {{5, 0, "(five)"}}};
  update.trailer = "/Root 1 0 R /ID [<AA><BB>]";
  const Loaded l = load(testpdf::build_sections({first, update}));
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(l.doc.trailer_id, "[<AA><BB>]");

  testpdf::Options o;
  o.trailer_extra = "/Size 8000000";
  const Loaded huge = load(testpdf::build(with(kPageObjects, {{4, 0, "(four)"}}), 1, o));
  ASSERT_EQ(huge.result, 1) << huge.error;
  EXPECT_LT(huge.doc.max_obj_num, 100000);
}

// What an update appended to the input relies on: whether the index had to
// be repaired from a scan, and the kind of the newest section.
TEST(ObjectIndex, RepairAndNewestSectionKind) {
  const auto sections = [](testpdf::Section::Form form) {
    testpdf::Section first{.objects = kPageObjects, .form = form, .xref_num = 9};
    first.trailer = "/Root 1 0 R";
    testpdf::Section update{.objects = {{5, 0, "(five)"}}, .form = form, .xref_num = 10};
    update.trailer = "/Root 1 0 R";
    return testpdf::build_sections({first, update});
  };
  const std::string table = sections(testpdf::Section::table);
  testpdf::Options shifted, bare;
  shifted.xref_offset_shift = 3;
  bare.write_xref = false;
  struct Case {
    const char *name;
    std::string bytes;
    bool repaired;
    bool stream;
  };
  const Case cases[] = {
      {"intact tables", table, false, false},
      {"intact streams", sections(testpdf::Section::stream), false, true},
      {"hybrid: the newest section is a table", sections(testpdf::Section::hybrid), false, false},
      {"reference to a number nothing defines",
       testpdf::build(with(kPageObjects, {{5, 0, "[99 0 R]"}}), 1), false, false},
      {"startxref off its section",
       testpdf::build(kPageObjects, 1, shifted), true, false},
      {"no cross-reference data",
       testpdf::build(kPageObjects, 1, bare), true, false},
      {"an entry that misses its object", moved_entry(testpdf::build(kPageObjects, 1), 2, 5),
       true, false},
      {"/Prev beyond the file", replaced(table, "/Prev ", "/Prev 9"), true, false},
  };
  for (const Case &c : cases) {
    const Loaded l = load(c.bytes);
    ASSERT_EQ(l.result, 1) << c.name << ": " << l.error;
    EXPECT_EQ(l.doc.xref_repaired != 0, c.repaired) << c.name;
    EXPECT_EQ(l.doc.xref_is_stream != 0, c.stream) << c.name;
  }
}

// /Encrypt in the newest trailer that has it refuses the file; the key
// elsewhere in the file does not.
TEST(EncryptedInput, RefusedByTheTrailerOnly) {
  testpdf::Options o;
  o.trailer_extra = "/Encrypt 9 0 R";
  const Loaded l = load(testpdf::build(with(kPageObjects, {{9, 0, "<< /Filter /Standard >>"}}), 1, o));
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.error, "encrypted PDFs are not supported: " + l.path);
  const Loaded plain =
      load(testpdf::build(with(kPageObjects, {{9, 0, "<< /Note /Encrypt >>"}}), 1) +
           "trailer << /Note (old) >> /Encrypt\n");
  EXPECT_EQ(plain.result, 1) << plain.error;
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
      {"an array is no catalog", {{1, 0, "[ /Catalog ]"}}, 0, true, -1},
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
  EXPECT_EQ(std::string(error_text()), "cannot open " + missing + ": " + std::strerror(ENOENT));

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
  for (const ObjEntry &e : l.doc.objs) {
    EXPECT_GE(e.endobj_pos, 0) << e.num;
    if (e.is_stream) {
      EXPECT_GT(e.stream_len, 0) << e.num;
    }
  }
}

// ---------------------------------------------------------------------------
// Stream decoding: which streams are inflated, the zlib header test, and
// outputs up to the 64 MiB ceiling.
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

TEST(StreamDecode, OutputFarBeyondTheFirstGuess) {
  // Zeros compress about 1000:1, far beyond the first guess of 4n + 4096.
  for (const size_t size : {size_t{100000}, size_t{1} << 20}) {
    const std::string packed = testpdf::zlib_zeros(size);
    ASSERT_GT(size, 4 * (4 * packed.size() + 4096));
    ByteBuf scratch;
    const Decoded d = decode(stream_file("/Filter /FlateDecode", packed), scratch);
    ASSERT_NE(d.ptr, nullptr) << size;
    EXPECT_EQ(d.bytes, std::string(size, '\0')) << size;
  }
}

TEST(StreamDecode, OutputUpToSixtyFourMebibytes) {
  // The output buffer grows as inflating goes, whatever the first guess
  // from the stored size (padding after the final block only makes it
  // larger); one byte past 64 MiB and nothing is returned.
  const uint64_t max = kMaxInflatedStream;
  struct Case { uint64_t output; size_t padding; bool decoded; };
  for (const Case c : {Case{20000000, 0, true}, Case{20000000, 70000, true}, Case{max, 0, true},
                       Case{max + 1, 0, false}}) {
    const std::string data = testpdf::zlib_zeros(c.output) + std::string(c.padding, 'P');
    ByteBuf scratch;
    const Decoded d = decode(stream_file("/Filter /FlateDecode", data), scratch);
    EXPECT_EQ(d.ptr != nullptr, c.decoded) << c.output;
    if (d.ptr != nullptr) {
      EXPECT_EQ(d.len, static_cast<int32_t>(c.output)) << c.output;
    }
  }
}

// Unfiltered streams are handed out in place; filters that are not decoded
// give nothing rather than the stored bytes.
TEST(StreamDecode, StoredBytesReturnedWithoutCopy) {
  const std::string data = "\xFF\xD8\xFF\xE0 not really a jpeg";
  for (const std::string &dict : {std::string(""), std::string("/Filter []"), std::string("/Filter null")}) {
    const StreamFile f = stream_file(dict, data);
    ByteBuf scratch;
    const Decoded d = decode(f, scratch);
    EXPECT_EQ(d.ptr, reinterpret_cast<const uint8_t *>(f.text.data()) + f.entry.data_pos) << dict;
    EXPECT_EQ(d.bytes, data) << dict;
    EXPECT_FALSE(d.inflated) << dict;
    EXPECT_EQ(scratch.data, nullptr) << dict;  // the scratch buffer is untouched
  }
  for (const std::string &dict : {std::string("/Filter /DCTDecode"), std::string("/Filter [/ASCIIHexDecode]"),
                                 std::string("/Filter 7 0 R")}) {
    ByteBuf scratch;
    EXPECT_EQ(decode(stream_file(dict, data), scratch).ptr, nullptr) << dict;
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
  const auto o = open_container(testpdf::object_stream({{5, "<< /Length 3 >> stream\nabc\nendstream"}}));
  ASSERT_TRUE(o->ok);
  const ObjEntry member = object_stream_member(o->stream, 0);
  EXPECT_EQ(member.in_objstm, 1);
  EXPECT_EQ(decode_stream_obj(&member, doc_bytes(o->doc), scratch, &len), nullptr);
}

// ---------------------------------------------------------------------------
// Object streams: members become index entries; a damaged header drops the
// affected members, not the whole stream.

TEST(ObjectStreams, MembersBecomeEntries) {
  testpdf::Section s;
  s.objects = {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"}};
  s.container = 9;
  s.members = {{2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
               {3, "  << /Type /Page /Parent 2 0 R >>"},
               {4, "42"}};
  s.form = testpdf::Section::stream;
  s.xref_num = 10;
  s.trailer = "/Root 1 0 R";
  const Loaded l = load(testpdf::build_sections({s}));
  ASSERT_EQ(l.result, 1) << l.error;
  EXPECT_EQ(numbers_of(l.doc), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(l.doc.blobs.size(), 1u);
  const ObjEntry *page = find_obj(l.doc, 3);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->in_objstm, 1);
  EXPECT_EQ(page->is_stream, 0);
  EXPECT_EQ(page->gen, 0);
  EXPECT_EQ(member_text(*page), "  << /Type /Page /Parent 2 0 R >> ");  // verbatim, trailing space kept
  EXPECT_EQ(page->dict_pos, 2);
  EXPECT_EQ(member_text(*find_obj(l.doc, 4)), "42 ");
  EXPECT_EQ(find_obj(l.doc, 4)->dict_pos, -1);
  EXPECT_EQ(find_obj(l.doc, 9), nullptr);
  // Uncompressed object streams are read alike.
  EXPECT_EQ(members_of(testpdf::object_stream({{2, "<< >>"}, {4, "42"}}, false)),
            std::optional<Members>(Members{{2, "<< >> "}, {4, "42 "}}));
}

TEST(ObjectStreams, HeaderDamage) {
  struct Case {
    const char *what;
    std::string dict;    // /N and /First
    std::string header;  // the number/offset pairs
    std::string bodies;
    std::optional<Members> members;
  };
  const std::string abc = std::string(15, 'a') + std::string(5, 'b') + std::string(10, 'c');
  const Case cases[] = {
      {"offsets not increasing: each text ends at the next offset", "/N 3", "5 0 6 20 7 15 ", abc,
       Members{{5, std::string(15, 'a')}, {6, std::string(10, 'c')}, {7, "bbbbb"}}},
      {"/N larger than the valid pairs", "/N 3", "5 0 6 4 0 9 ", "aaaabbbb", Members{{5, "aaaa"}, {6, "bbbb"}}},
      {"/N larger than the pairs before /First", "/N 3", "5 0 6 4 ", "aaaabbbb", Members{{5, "aaaa"}, {6, "bbbb"}}},
      {"/N smaller than the pairs", "/N 1", "5 0 6 4 ", "aaaabbbb", Members{{5, "aaaabbbb"}}},
      {"a negative offset ends the list", "/N 3", "5 0 6 -4 7 6 ", "aaaabbbb", Members{{5, "aaaabbbb"}}},
      {"object number 0 ends the list", "/N 2", "0 0 6 4 ", "aaaabbbb", Members{}},
      {"equal offsets share their text", "/N 3", "5 0 6 0 7 4 ", "aaaabbbb",
       Members{{5, "aaaa"}, {6, "aaaa"}, {7, "bbbb"}}},
      {"an offset beyond the text drops that member", "/N 2", "5 0 6 999 ", "aaaabbbb", Members{{5, "aaaabbbb"}}},
      {"an offset at the end drops that member", "/N 2", "5 0 6 8 ", "aaaabbbb", Members{{5, "aaaabbbb"}}},
      {"missing /First", "/N 2 /NoFirst", "5 0 6 4 ", "aaaabbbb", std::nullopt},
      {"/N 0", "/N 0", "5 0 6 4 ", "aaaabbbb", std::nullopt},
      {"/N missing", "", "5 0 6 4 ", "aaaabbbb", std::nullopt},
      {"/N negative", "/N -2", "5 0 6 4 ", "aaaabbbb", std::nullopt},
  };
  for (const Case &c : cases) {
    std::string dict = "/Type /ObjStm " + c.dict;
    if (c.dict.find("NoFirst") == std::string::npos)
      dict += " /First " + std::to_string(c.header.size());
    EXPECT_EQ(members_of(testpdf::stream(dict, c.header + c.bodies)), c.members) << c.what;
  }
}

TEST(ObjectStreams, FirstOutOfRange) {
  const std::string text = "5 0 6 4 aaaabbbb";
  struct Case { const char *what; std::string first; int members; };
  const Case cases[] = {
      {"negative", "-8", -1},
      {"at the decoded length", std::to_string(text.size()), -1},
      {"beyond the decoded length", "999", -1},
      {"zero: no pairs", "0", 0},
      {"pairs past /First are not read", "4", 1},  // only "5 0"; the rest is body
      {"valid", "8", 2},
  };
  for (const Case &c : cases) {
    const std::optional<Members> m =
        members_of(testpdf::flate_stream("/Type /ObjStm /N 2 /First " + c.first, text));
    EXPECT_EQ(m ? static_cast<int>(m->size()) : -1, c.members) << c.what;
  }
}

// Streams that cannot serve as object streams: undecodable, empty, of
// another type, or extending another object stream.
TEST(ObjectStreams, RefusedContainers) {
  const std::string text = "7 0 << /A 1 >>";
  for (const std::string &body :
       {testpdf::stream("/Type /ObjStm /N 1 /First 4 /Filter /FlateDecode", "\x78\x9C garbage"),
        testpdf::stream("/Type /ObjStm /N 1 /First 4", ""),
        testpdf::stream("/Type /XObject /Note /ObjStm /N 1 /First 4", text),
        testpdf::stream("/Type /ObjStm /N 1 /First 4 /Extends 3 0 R", text)}) {
    EXPECT_EQ(members_of(body), std::nullopt) << body;
  }
  EXPECT_EQ(members_of(testpdf::stream("/Type /ObjStm /N 1 /First 4", text)),
            std::optional<Members>(Members{{7, "<< /A 1 >>"}}));
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
  const auto o = open_container(testpdf::object_stream({{5, "<< /Type /Page >>"},
                                                        {6, "<< /Type /Pages >>"},
                                                        {7, "<< /A 1 >>"},
                                                        {8, "42"},
                                                        {9, "<< /Type /Page"}}));
  ASSERT_TRUE(o->ok);
  struct Case { int type; const char *copy; };
  const Case cases[] = {
      {1, "<< /Type /Page >>"}, {2, "<< /Type /Pages >>"}, {0, "<< /A 1 >>"}, {0, nullptr}, {1, nullptr},
  };
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Case &c = cases[k];
    const ObjEntry e = object_stream_member(o->stream, k);
    EXPECT_EQ(obj_type(o->doc, e), c.type) << e.num;
    OwnedText copy(get_obj_dict_text(o->doc, e));
    if (c.copy == nullptr) {
      EXPECT_EQ(copy.get(), nullptr) << e.num;
    } else {
      ASSERT_NE(copy.get(), nullptr) << e.num;
      EXPECT_STREQ(copy.get(), c.copy) << e.num;
    }
  }
}

TEST(EntryDictionary, MemberTextEndingInsideAName) {
  // Members cut exactly at the end of the decoded text: no read past it.
  const auto o = open_container(
      testpdf::stream("/Type /ObjStm /N 2 /First 9", "5 0 6 17 << /Type /Page >><< /Type /Pag"));
  ASSERT_TRUE(o->ok);
  ASSERT_EQ(o->stream.members.size(), 2u);
  const ObjEntry five = object_stream_member(o->stream, 0);
  const ObjEntry six = object_stream_member(o->stream, 1);
  EXPECT_EQ(member_text(six), "<< /Type /Pag");
  EXPECT_EQ(obj_type(o->doc, five), 1);
  EXPECT_EQ(obj_type(o->doc, six), 0);
  EXPECT_EQ(OwnedText(get_obj_dict_text(o->doc, six)), nullptr);
}

TEST(EntryDictionary, CopyOfFileObjects) {
  struct Case { std::string text; const char *copy; };
  const Case cases[] = {
      {"1 0 obj << /A << /B 1 >> >> endobj", "<< /A << /B 1 >> >>"},
      {"1 0 obj << /Length 3 >> stream\nabc\nendstream endobj", "<< /Length 3 >>"},
      {"1 0 obj << /A 1 endobj >>", "<< /A 1 endobj >>"},
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
      {"unclosed trailers", "1 0 obj e trailer << /Root 1 0 R /Prev [ ", 20000},
      {"streams with indirect lengths without endstream", "1 0 obj << /Length 9 0 R >> stream\ne ", 20000},
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

// ---------------------------------------------------------------------------
// Damage anywhere in the cross-reference data: every byte of small files with
// a cross-reference stream, a hybrid table and an update flipped, zeroed
// and cut; each load ends with 0 or 1, never a crash or a read out of bounds.
TEST(LoadRobustness, EveryByteOfTheCrossReferenceDataDamaged) {
  testpdf::Section base{.objects = with(kPageObjects, {{4, 0, "<< /Length 5 0 R >>\nstream\nabc\nendstream"},
                                                       {5, 0, "3"}}),
                        .trailer = "/Root 1 0 R"};
  testpdf::Section stream_update{.container = 9,
                                 .members = {{6, "<< /A 1 >>"}, {7, "(seven)"}},
                                 .form = testpdf::Section::stream,
                                 .xref_num = 10,
                                 .predictor = true,
                                 .trailer = "/Root 1 0 R"};
  testpdf::Section hybrid{.objects = {kPageObjects[0]},
                          .container = 9,
                          .members = {{2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"}, {3, "<< /Type /Page >>"}},
                          .form = testpdf::Section::hybrid,
                          .xref_num = 10,
                          .trailer = "/Root 1 0 R"};
  for (const std::string &sample :
       {testpdf::build_sections({base, stream_update}), testpdf::build_sections({hybrid})}) {
    const auto check = [](const std::string &bytes) {
      PdfDoc doc;
      const int r = load_document_bytes(bytes_of(bytes), "mutated.pdf", doc);
      ASSERT_TRUE(r == 0 || r == 1);
    };
    // The tail holds the cross-reference data; damage every byte of it.
    for (size_t i = sample.size() > 700 ? sample.size() - 700 : 0; i < sample.size(); ++i) {
      std::string flipped = sample;
      flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
      check(flipped);
      std::string zeroed = sample;
      zeroed[i] = '\0';
      check(zeroed);
      check(sample.substr(0, i));
    }
  }
}
