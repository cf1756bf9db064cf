// End-to-end stamping through the public functions. Input documents are made
// at run time by real producers (Ghostscript from small PostScript programs,
// qpdf transformations of those) and by the test PDF builder; every output is
// judged by tools that share no code with us: qpdf --check for structure,
// poppler's pdftotext for the text of each page and where it stands, and
// pdftoppm for the pixels.
#include <folimark.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/e2e_oracles.h"
#include "support/pdf_builder.h"
#include "support/run_tool.h"

#if defined(__SANITIZE_ADDRESS__)
#define FOLIMARK_E2E_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOLIMARK_E2E_LSAN 1
#endif
#endif
#ifdef FOLIMARK_E2E_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace fs = std::filesystem;
using testtool::ToolResult;

namespace {

using namespace e2e;

// A word that no input contains, so that finding it means finding the stamp.
constexpr const char *kStamp = "FOLISTAMP";


const char *const kFont =
    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";

std::string show(double x, double y, const std::string &text) {
  return "BT /F1 18 Tf " + std::to_string(x) + " " + std::to_string(y) + " Td (" + text + ") Tj ET";
}

// Returns data encoded for /LZWDecode (early change 1). A clear code is sent
// well before the table needs 10-bit codes, so every code has 9 bits.
std::string lzw_encode(const std::string &data) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  auto emit = [&](int code) {
    acc = (acc << 9) | static_cast<uint32_t>(code);
    bits += 9;
    while (bits >= 8) {
      out += static_cast<char>((acc >> (bits - 8)) & 0xFF);
      bits -= 8;
    }
  };
  std::map<std::string, int> table;
  int next = 258;
  emit(256);
  std::string w;
  for (const char c : data) {
    const std::string wc = w + c;
    if (wc.size() == 1 || table.count(wc) != 0) {
      w = wc;
      continue;
    }
    emit(w.size() == 1 ? static_cast<unsigned char>(w[0]) : table[w]);
    if (next >= 450) {
      emit(256);
      table.clear();
      next = 258;
    } else {
      table[wc] = next++;
    }
    w = std::string(1, c);
  }
  if (!w.empty()) emit(w.size() == 1 ? static_cast<unsigned char>(w[0]) : table[w]);
  emit(257);
  if (bits > 0) out += static_cast<char>((acc << (8 - bits)) & 0xFF);
  return out;
}

std::string hex_encode(const std::string &data) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : data) {
    out += digits[static_cast<unsigned char>(c) >> 4];
    out += digits[static_cast<unsigned char>(c) & 15];
  }
  return out + ">";
}

// Two pages whose attributes all come from the page-tree node above them.
std::string inherited_document() {
  return testpdf::build({{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
                         {2, 0,
                          "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 /MediaBox [0 0 612 792]"
                          " /Resources << /Font << /F1 3 0 R >> >> >>"},
                         {3, 0, kFont},
                         {4, 0, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>"},
                         {5, 0, testpdf::flate_stream("", show(72, 700, "Inherited north words"))},
                         {6, 0, "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>"},
                         {7, 0, testpdf::stream("", show(72, 700, "Inherited south words"))}},
                        1);
}

// Resources and box on the root, two levels above the page.
std::string grandparent_document() {
  return testpdf::build(
      {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
       {2, 0,
        "<< /Type /Pages /Kids [8 0 R] /Count 1 /MediaBox [0 0 612 792]"
        " /Resources << /Font << /F1 3 0 R >> >> >>"},
       {3, 0, kFont},
       {8, 0, "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] /Count 1 >>"},
       {4, 0, "<< /Type /Page /Parent 8 0 R /Contents 5 0 R >>"},
       {5, 0, testpdf::flate_stream("", show(72, 700, "Grandparent resource words"))}},
      1);
}

std::string one_page_document(const std::string &page_extra,
                              const std::vector<testpdf::Object> &more,
                              const std::string &media_box = "[0 0 612 792]") {
  std::vector<testpdf::Object> objects = {
      {1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
      {2, 0, "<< /Type /Pages /Kids [4 0 R] /Count 1 >>"},
      {3, 0, kFont},
      {4, 0,
       "<< /Type /Page /Parent 2 0 R /MediaBox " + media_box +
           " /Resources << /Font << /F1 3 0 R >> >> " + page_extra + " >>"}};
  objects.insert(objects.end(), more.begin(), more.end());
  return testpdf::build(objects, 1);
}

std::string contents_array_document() {
  return one_page_document("/Contents [5 0 R 6 0 R]",
                           {{5, 0, testpdf::flate_stream("", "BT /F1 18 Tf 72 700 Td")},
                            {6, 0, testpdf::stream("", "(Array split words) Tj ET")}});
}

std::string contents_array_object_document() {
  return one_page_document("/Contents 7 0 R",
                           {{5, 0, testpdf::stream("", "BT /F1 18 Tf 72 700 Td")},
                            {6, 0, testpdf::flate_stream("", "(Indirect array words) Tj ET")},
                            {7, 0, "[5 0 R 6 0 R]"}});
}

// Two pages drawing the same content stream object.
std::string shared_stream_document() {
  return testpdf::build({{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
                         {2, 0, "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>"},
                         {3, 0, kFont},
                         {4, 0,
                          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]"
                          " /Resources << /Font << /F1 3 0 R >> >> /Contents 5 0 R >>"},
                         {5, 0, testpdf::flate_stream("", show(72, 700, "Shared stream words"))},
                         {6, 0,
                          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]"
                          " /Resources << /Font << /F1 3 0 R >> >> /Contents 5 0 R >>"}},
                        1);
}

// Content the way browsers write it: the y axis flipped for the whole page,
// with no q/Q around it, and text unflipped by its own matrix.
std::string flipped_document() {
  return one_page_document(
      "/Contents 5 0 R",
      {{5, 0,
        testpdf::flate_stream("",
                              "1 0 0 -1 0 792 cm\nBT /F1 18 Tf 1 0 0 -1 72 80 Tm (Flipped top "
                              "words) Tj ET\n0 0 1 rg 72 120 200 10 re f\n")}});
}

// Content that leaves a scaling q open at its end.
std::string open_q_document() {
  return one_page_document(
      "/Contents 5 0 R",
      {{5, 0,
        testpdf::flate_stream("",
                              "q 0.5 0 0 0.5 0 0 cm BT /F1 36 Tf 144 1400 Td (Scaled open "
                              "words) Tj ET\n")}});
}

// Content that opens a marked-content sequence of a layer that is switched
// off and never ends it: what follows it in the page would be hidden too.
std::string hidden_layer_document() {
  return testpdf::build(
      {{1, 0,
        "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [6 0 R] /D << /OFF [6 0 R] >> >> "
        ">>"},
       {2, 0, "<< /Type /Pages /Kids [4 0 R] /Count 1 >>"},
       {3, 0, kFont},
       {4, 0,
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R "
        ">> /Properties << /L1 6 0 R >> >> /Contents 5 0 R >>"},
       {5, 0,
        testpdf::flate_stream("", show(72, 700, "Layer free words") + "\n/OC /L1 BDC " +
                                      show(72, 600, "Switched off words") + " q 0.5 0 0 0.5 0 0 cm")},
       {6, 0, "<< /Type /OCG /Name (Off) >>"}},
      1);
}

// A Flate content stream cut short, which leaves a scaling q open: readers
// show what decodes, and nothing can tell what the rest would have left open.
std::string damaged_stream_document() {
  std::string content = "q 0.5 0 0 0.5 0 0 cm BT /F1 36 Tf 144 1400 Td (Damaged stream words) Tj ET\n";
  for (int i = 0; i < 200; ++i) content += "% filler line " + std::to_string(i) + "\n";
  std::string packed = testpdf::zlib_compress(content);
  packed.resize(packed.size() - 40);
  return one_page_document("/Contents 5 0 R",
                           {{5, 0, testpdf::stream("/Filter /FlateDecode", packed)}});
}

std::string offset_box_document() {
  return one_page_document("/Contents 5 0 R",
                           {{5, 0, testpdf::flate_stream("", show(172, 900, "Offset box words"))}},
                           "[100 200 712 992]");
}

// Every object under a generation other than 0.
std::string generations_document() {
  return testpdf::build(
      {{1, 0, "<< /Type /Catalog /Pages 2 2 R >>"},
       {2, 2, "<< /Type /Pages /Kids [4 3 R] /Count 1 >>"},
       {3, 1, kFont},
       {4, 3,
        "<< /Type /Page /Parent 2 2 R /MediaBox [0 0 612 792]"
        " /Resources << /Font << /F1 3 1 R >> >> /Contents 5 4 R >>"},
       {5, 4, testpdf::flate_stream("", show(72, 700, "Generation numbered words"))}},
      1);
}

std::string lzw_document() {
  return one_page_document(
      "/Contents 5 0 R", {{5, 0,
                           testpdf::stream("/Filter /LZWDecode",
                                           lzw_encode(show(72, 700, "Lempel Ziv Welch words") +
                                                      "\n" + show(72, 670, "second line here")))}});
}

std::string filter_chain_document() {
  return one_page_document(
      "/Contents 5 0 R",
      {{5, 0,
        testpdf::stream(
            "/Filter [/ASCIIHexDecode /FlateDecode]",
            hex_encode(testpdf::zlib_compress(show(72, 700, "Chained filter words"))))}});
}

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Documents whose cross-reference data decides what the page shows: a
// reader that indexes by scanning the bytes shows another page.

// A page redefined by an update that stores it in an object stream.
std::string updated_page_document() {
  testpdf::Section first{.objects = {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
                                     {2, 0, "<< /Type /Pages /Kids [4 0 R] /Count 1 >>"},
                                     {3, 0, kFont},
                                     {4, 0,
                                      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]"
                                      " /Resources << /Font << /F1 3 0 R >> >> /Contents 5 0 R >>"},
                                     {5, 0, testpdf::flate_stream("", show(72, 700, "Superseded"))}},
                         .trailer = "/Root 1 0 R"};
  testpdf::Section update{.objects = {{6, 0, testpdf::flate_stream("", show(72, 700, "Updated page words"))}},
                          .container = 7,
                          .members = {{4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]"
                                          " /Resources << /Font << /F1 3 0 R >> >> /Contents 6 0 R >>"}},
                          .form = testpdf::Section::stream,
                          .xref_num = 8,
                          .trailer = "/Root 1 0 R"};
  return testpdf::build_sections({first, update});
}

// The page tree in an object stream placed by a hybrid file's stream, or
// by a cross-reference stream whose rows carry the PNG Up predictor.
std::string compressed_tree_document(testpdf::Section::Form form) {
  testpdf::Section s{.objects = {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
                                 {3, 0, kFont},
                                 {5, 0, testpdf::flate_stream("", show(72, 700, "Compressed tree words"))}},
                     .container = 6,
                     .members = {{2, "<< /Type /Pages /Kids [4 0 R] /Count 1 >>"},
                                 {4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]"
                                     " /Resources << /Font << /F1 3 0 R >> >> /Contents 5 0 R >>"}},
                     .form = form,
                     .xref_num = 7,
                     .predictor = form == testpdf::Section::stream,
                     .trailer = "/Root 1 0 R"};
  return testpdf::build_sections({s});
}

// An old copy of the page and its content after the end of the file.
std::string stale_tail_document() {
  return one_page_document("/Contents 5 0 R",
                           {{5, 0, testpdf::stream("", show(72, 700, "Current page words"))}}) +
         "4 0 obj\n<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>\nendobj\n"
         "9 0 obj\n" + testpdf::stream("", show(72, 700, "Stale")) + "\nendobj\n";
}

// A document carrying another PDF as an attachment, saved by qpdf with its
// streams uncompressed: the attachment's object headers stand in the file.
std::string attachment_document(const std::string &d) {
  const std::string attached =
      ghostscript_pdf(d, "attached", {{612, 792, {"Attached document words"}, ""}});
  const std::string host = ghostscript_pdf(d, "host", {{612, 792, {"Host document words"}, ""}});
  const std::string with = qpdf_variant(host, "with_attachment", {"--add-attachment", attached, "--"});
  return qpdf_variant(with, "attachment_qdf", {"--qdf", "--object-streams=disable"});
}

// Checks an output against its input: qpdf finds it sound, it has as many
// pages, the stamp shows exactly once on each selected page and nowhere else,
// every word of every page's own text is still there, and every content
// stream of the input is in the output as it was stored.
void expect_stamped(const std::string &in, const std::string &out, const std::set<int> &selected) {
  ASSERT_TRUE(testpdf::file_exists(out)) << out;
  EXPECT_EQ(qpdf_problems(out), "");
  for (const std::string &stream : content_streams(in))
    EXPECT_EQ(raw_stream(out, stream), raw_stream(in, stream)) << "content stream " << stream;
  const int pages = page_count(in);
  ASSERT_EQ(page_count(out), pages);
  for (int p = 1; p <= pages; ++p) {
    const std::string before = page_text(in, p);
    const std::string after = page_text(out, p);
    const bool stamped = selected.empty() || selected.count(p) != 0;
    EXPECT_EQ(count_of(after, kStamp), stamped ? 1u : 0u) << "page " << p << ": " << after;
    EXPECT_EQ(lost_words(before, after), std::vector<std::string>{})
        << "page " << p << " lost some of its text; before: " << before << "after: " << after;
  }
}

// Faults guarded: pages, content or resources lost, or a damaged file, for a
// form of document some producer writes.

struct InputCase {
  const char *name;
  int pages;                                                // how many the input has
  std::function<std::string(const std::string &dir)> make;  // returns the input's path
};

void PrintTo(const InputCase &c, std::ostream *os) { *os << c.name; }

const InputCase kInputs[] = {
    // Ghostscript: the producer most scanned documents pass through.
    {"gs_one_page", 1,
     [](const std::string &d) {
       return ghostscript_pdf(d, "one", {{612, 792, {"Single page words"}, ""}});
     }},
    {"gs_three_pages", 3,
     [](const std::string &d) { return ghostscript_pdf(d, "three", three_pages()); }},
    {"gs_landscape", 1,
     [](const std::string &d) {
       return ghostscript_pdf(d, "landscape",
                              {{792, 612, {"Wide landscape page", "more words"}, ""}});
     }},
    {"gs_crop_box", 2,
     [](const std::string &d) {
       return ghostscript_pdf(d, "crop",
                              {{612, 792, {"Uncropped first page"}, ""},
                               {612, 792, {"Cropped second page"}, "[50 60 400 500]"}});
     }},
    // qpdf rewrites: object and cross-reference streams, linearisation,
    // uncompressed and expanded streams.
    {"qpdf_object_streams", 3,
     [](const std::string &d) {
       return qpdf_variant(ghostscript_pdf(d, "src", three_pages()), "objstm",
                           {"--object-streams=generate"});
     }},
    {"qpdf_linearized", 3,
     [](const std::string &d) {
       return qpdf_variant(ghostscript_pdf(d, "src", three_pages()), "linear", {"--linearize"});
     }},
    {"qpdf_linearized_object_streams", 3,
     [](const std::string &d) {
       return qpdf_variant(ghostscript_pdf(d, "src", three_pages()), "linear_objstm",
                           {"--linearize", "--object-streams=generate"});
     }},
    {"qpdf_qdf_uncompressed", 3,
     [](const std::string &d) {
       return qpdf_variant(ghostscript_pdf(d, "src", three_pages()), "qdf",
                           {"--qdf", "--object-streams=disable"});
     }},
    {"qpdf_stream_data_uncompressed", 3,
     [](const std::string &d) {
       return qpdf_variant(ghostscript_pdf(d, "src", three_pages()), "uncompressed",
                           {"--stream-data=uncompress"});
     }},
    // Builder documents: the page forms real files use that the producers
    // above do not write.
    {"inherited_attributes", 2,
     [](const std::string &d) { return write_doc(d, "inherit", inherited_document()); }},
    {"grandparent_resources", 1,
     [](const std::string &d) { return write_doc(d, "grand", grandparent_document()); }},
    {"contents_array", 1,
     [](const std::string &d) { return write_doc(d, "array", contents_array_document()); }},
    {"contents_array_object", 1,
     [](const std::string &d) {
       return write_doc(d, "array_obj", contents_array_object_document());
     }},
    {"shared_content_stream", 2,
     [](const std::string &d) { return write_doc(d, "shared", shared_stream_document()); }},
    {"flipped_content", 1,
     [](const std::string &d) { return write_doc(d, "flipped", flipped_document()); }},
    {"open_q_content", 1,
     [](const std::string &d) { return write_doc(d, "open_q", open_q_document()); }},
    {"offset_media_box", 1,
     [](const std::string &d) { return write_doc(d, "offset", offset_box_document()); }},
    {"generation_numbers", 1,
     [](const std::string &d) { return write_doc(d, "gens", generations_document()); }},
    {"lzw_content", 1, [](const std::string &d) { return write_doc(d, "lzw", lzw_document()); }},
    {"filter_chain_content", 1,
     [](const std::string &d) { return write_doc(d, "chain", filter_chain_document()); }},
    // Cross-reference data that decides which definition the page shows.
    {"update_in_object_stream", 1,
     [](const std::string &d) { return write_doc(d, "update", updated_page_document()); }},
    {"hybrid_cross_reference", 1,
     [](const std::string &d) {
       return write_doc(d, "hybrid", compressed_tree_document(testpdf::Section::hybrid));
     }},
    {"cross_reference_stream_predictor", 1,
     [](const std::string &d) {
       return write_doc(d, "xrefstm", compressed_tree_document(testpdf::Section::stream));
     }},
    {"stale_copy_after_end", 1,
     [](const std::string &d) { return write_doc(d, "stale", stale_tail_document()); }},
    {"qpdf_uncompressed_pdf_attachment", 1, attachment_document},
};

class Inputs : public E2e, public ::testing::WithParamInterface<InputCase> {
 protected:
  // Returns the case's input, checked to be sound and to hold text.
  std::string input() {
    const std::string in = GetParam().make(dir());
    const std::string problems = qpdf_problems(in);
    if (!problems.empty()) throw std::runtime_error("the input itself is unsound: " + problems);
    if (words_of(page_text(in, 1)).empty()) throw std::runtime_error("the input shows no text");
    if (page_count(in) != GetParam().pages)
      throw std::runtime_error("the input has another page count");
    return in;
  }
};

class MultiPageInputs : public Inputs {};

// Stamping every page keeps the document whole and each page's own text.
TEST_P(Inputs, EveryPage) {
  const std::string in = input();
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, 250, 60, 20, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  EXPECT_STREQ(folimark_last_error(), "");
  expect_stamped(in, out, {});
}

// Stamping one page leaves the others exactly as they read before.
TEST_P(Inputs, LastPageOnly) {
  const std::string in = input();
  const std::string out = dir() + "/out.pdf";
  const int last = page_count(in);
  ASSERT_EQ(folimark_text_pages(in.c_str(), out.c_str(), kStamp, 250, 60, 20, 1, &last, 1), 1)
      << folimark_last_error();
  expect_stamped(in, out, {last});
}

// Stamping only the first page of a multi-page input: the pages after it
// must keep their content, also when they share objects with page 1.
TEST_P(MultiPageInputs, FirstPageOnly) {
  const std::string in = input();
  const std::string out = dir() + "/out.pdf";
  const int first = 1;
  ASSERT_EQ(folimark_text_pages(in.c_str(), out.c_str(), kStamp, 250, 60, 20, 1, &first, 1), 1)
      << folimark_last_error();
  expect_stamped(in, out, {1});
}

std::string input_name(const ::testing::TestParamInfo<InputCase> &param) {
  return param.param.name;
}

std::vector<InputCase> multi_page_inputs() {
  std::vector<InputCase> cases;
  std::copy_if(std::begin(kInputs), std::end(kInputs), std::back_inserter(cases),
               [](const InputCase &c) { return c.pages > 1; });
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Producers, Inputs, ::testing::ValuesIn(kInputs), input_name);
INSTANTIATE_TEST_SUITE_P(Producers, MultiPageInputs, ::testing::ValuesIn(multi_page_inputs()),
                         input_name);

// Faults guarded: a damaged file read as another document than the intact
// one it was made from (text inside data taken for objects, a stream cut
// short, a stale copy preferred), or attachments lost on the way.

struct RepairCase {
  const char *name;
  std::function<std::string(const std::string &dir)> intact;  // returns the intact input's path
  std::function<std::string(const std::string &bytes)> damage;
};

void PrintTo(const RepairCase &c, std::ostream *os) { *os << c.name; }

// A one-page document whose content stream says /Length length.
std::string content_length_document(const std::string &length) {
  const std::string content = show(72, 700, "Repaired stream words");
  return one_page_document("/Contents 5 0 R",
                           {{5, 0,
                             "<< /Length " + (length.empty() ? std::to_string(content.size()) : length) +
                                 " >>\nstream\n" + content + "\nendstream"},
                            {6, 0, std::to_string(content.size())}});
}

// Returns qpdf's list of the attachments, without the file's own path.
std::string attachments_of(const std::string &path) {
  return replace_all(must_run({tools().qpdf, "--list-attachments", path}).out, path, "");
}

const RepairCase kRepairs[] = {
    // Without startxref the whole file is scanned; the attached PDF's object
    // headers stand in the data of its uncompressed stream.
    {"attachment_without_startxref", attachment_document,
     [](const std::string &b) { return replace_all(b, "startxref", "startxrex"); }},
    {"attachment_with_offsets_shifted", attachment_document,
     [](const std::string &b) { return "%junk before the header\n" + b; }},
    {"length_too_short",
     [](const std::string &d) { return write_doc(d, "len", content_length_document("")); },
     [](const std::string &b) {
       const size_t at = b.find("<< /Length ") + 11;
       const size_t end = b.find(' ', at);
       return std::string(b).replace(at, end - at, std::to_string(std::stoi(b.substr(at)) / 2));
     }},
    {"length_indirect_to_a_stream",
     [](const std::string &d) { return write_doc(d, "len", content_length_document("")); },
     [](const std::string &b) {
       const size_t at = b.find("<< /Length ");
       const size_t end = b.find(' ', at + 11);
       return std::string(b).replace(at + 11, end - at - 11, "5 0 R");
     }},
    {"length_indirect_glued_endobj",
     [](const std::string &d) { return write_doc(d, "len", content_length_document("6 0 R")); },
     [](const std::string &b) { return replace_all(b, "\nendobj\nxref", "endobj\nxref"); }},
    {"megabyte_after_the_end",
     [](const std::string &d) { return ghostscript_pdf(d, "tail", three_pages()); },
     [](const std::string &b) { return b + std::string(1 << 20, '\0') + "trailing"; }},
};

class Repairs : public E2e, public ::testing::WithParamInterface<RepairCase> {};

// The damaged file stamps into a sound file that reads as the intact one
// does, with the same attachments.
TEST_P(Repairs, ReadAsTheIntactDocument) {
  const std::string intact = GetParam().intact(dir());
  const std::string damaged = dir() + "/damaged.pdf";
  testpdf::write_file(damaged, GetParam().damage(testpdf::read_file(intact)));
  ASSERT_NE(testpdf::read_file(damaged), testpdf::read_file(intact)) << "the damage changed nothing";
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_text(damaged.c_str(), out.c_str(), kStamp, 250, 60, 20, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  expect_stamped(intact, out, {});
  EXPECT_EQ(attachments_of(out), attachments_of(intact));
}

INSTANTIATE_TEST_SUITE_P(Damage, Repairs, ::testing::ValuesIn(kRepairs),
                         [](const ::testing::TestParamInfo<RepairCase> &p) { return p.param.name; });

// Faults guarded: a stamped document that loses its identity (the first
// element of /ID, its version) or keeps the identifier of the unchanged file.

// Returns the elements of the trailer's /ID as hexadecimal strings. qpdf
// shows a string as text when most of its bytes are printable, which a
// random identifier sometimes is, so both forms are read.
std::vector<std::string> ids_of(const std::string &path) {
  const std::string trailer = must_run({tools().qpdf, "--show-object=trailer", path}).out;
  std::vector<std::string> ids;
  size_t p = trailer.find("/ID [");
  if (p == std::string::npos) return ids;
  static const char kHex[] = "0123456789ABCDEF";
  for (p += 5; p < trailer.size() && trailer[p] != ']'; ++p) {
    if (trailer[p] == '<') {
      const size_t end = trailer.find('>', p);
      std::string hex = trailer.substr(p, end - p + 1);
      for (char &c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      ids.push_back(hex);
      p = end;
    } else if (trailer[p] == '(') {
      std::string hex = "<";
      const auto put = [&](unsigned char c) { hex += kHex[c >> 4]; hex += kHex[c & 15]; };
      for (++p; p < trailer.size() && trailer[p] != ')'; ++p) {
        if (trailer[p] != '\\') { put(static_cast<unsigned char>(trailer[p])); continue; }
        const char e = trailer[++p];
        if (e >= '0' && e <= '7') {
          int v = 0;
          for (int n = 0; n < 3 && trailer[p] >= '0' && trailer[p] <= '7'; ++n, ++p) v = v * 8 + (trailer[p] - '0');
          --p;
          put(static_cast<unsigned char>(v));
        } else {
          const std::string from = "nrtbf", to = "\n\r\t\b\f";
          const size_t k = from.find(e);
          put(static_cast<unsigned char>(k == std::string::npos ? e : to[k]));
        }
      }
      ids.push_back(hex + ">");
    }
  }
  return ids;
}

TEST_F(E2e, IdentityAndVersionAreKept) {
  // Ghostscript writes PDF 1.7 with an /ID.
  const std::string gs = ghostscript_pdf(dir(), "gs", {{612, 792, {"Identity words"}, ""}});
  testpdf::Options pdf20;
  pdf20.header = "%PDF-2.0\n";
  const std::string no_id = testpdf::build(
      {{1, 0, "<< /Type /Catalog /Pages 2 0 R /Version /2.0 >>"},
       {2, 0, "<< /Type /Pages /Kids [4 0 R] /Count 1 >>"},
       {3, 0, kFont},
       {4, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents 5 0 R >>"},
       {5, 0, testpdf::stream("", show(72, 700, "Version words"))}},
      1, pdf20);
  const std::string plain = write_doc(dir(), "plain", testpdf::simple_document({"Old words"}));
  const std::string two = write_doc(dir(), "two", no_id);
  // An identifier qpdf shows as text, with an escape in it.
  std::string text_id = testpdf::simple_document({"Old words"});
  text_id.replace(text_id.find("trailer\n<< ") + 11, 0, "/ID [(Printable\\\\Ident!)(Printable\\\\Ident!)] ");
  const std::string printable = write_doc(dir(), "printable", text_id);
  struct Case { std::string in; const char *version; bool has_id; };
  for (const Case &c : {Case{gs, "%PDF-1.7", true}, Case{two, "%PDF-2.0", false}, Case{plain, "%PDF-1.4", false},
                        Case{printable, "%PDF-1.4", true}}) {
    const std::string out = dir() + "/out.pdf", again = dir() + "/again.pdf", other = dir() + "/other.pdf";
    ASSERT_EQ(folimark_text(c.in.c_str(), out.c_str(), kStamp, 72, 72, 12, 1, 0, 0, 0, 0), 1) << folimark_last_error();
    ASSERT_EQ(folimark_text(c.in.c_str(), again.c_str(), kStamp, 72, 72, 12, 1, 0, 0, 0, 0), 1);
    ASSERT_EQ(folimark_text(c.in.c_str(), other.c_str(), "OTHER", 72, 72, 12, 1, 0, 0, 0, 0), 1);
    EXPECT_EQ(testpdf::read_file(out).substr(0, 8), c.version) << c.in;
    EXPECT_EQ(qpdf_problems(out), "") << c.in;
    const std::vector<std::string> before = ids_of(c.in), after = ids_of(out);
    ASSERT_EQ(after.size(), 2u) << c.in;
    if (c.has_id) {
      ASSERT_EQ(before.size(), 2u);
      EXPECT_EQ(after[0], before[0]) << c.in;
      EXPECT_NE(after[1], before[1]) << c.in;
    } else {
      EXPECT_EQ(after[0], after[1]) << c.in;  // a new identifier, given twice
      EXPECT_EQ(after[0].size(), 34u) << c.in;
    }
    EXPECT_EQ(ids_of(again), after) << "the same stamp of the same input gives the same file";
    EXPECT_NE(ids_of(other)[1], after[1]) << "another stamp gives another identifier";
    if (c.in == two) {
      EXPECT_NE(qdf_text(out).find("/Version /2.0"), std::string::npos) << "the catalog's /Version stays";
    }
  }
}

// The qpdf variant above really holds its pages inside object streams, so
// that the stamped pages are ones the reader took from an object stream.
TEST_F(E2e, ObjectStreamVariantHoldsPagesInObjectStreams) {
  const std::string in = qpdf_variant(ghostscript_pdf(dir(), "src", three_pages()), "objstm",
                                      {"--object-streams=generate"});
  const std::string xref = must_run({tools().qpdf, "--show-xref", in}).out;
  const std::string pages = must_run({tools().qpdf, "--show-pages", in}).out;
  // "page 1: 5 0 R" lines name the page objects.
  int checked = 0;
  for (size_t at = pages.find("page "); at != std::string::npos; at = pages.find("page ", at + 1)) {
    const size_t colon = pages.find(": ", at);
    const size_t space = pages.find(' ', colon + 2);
    const std::string num = pages.substr(colon + 2, space - colon - 2);
    EXPECT_NE(xref.find("\n" + num + "/0: compressed"), std::string::npos) << num;
    ++checked;
  }
  EXPECT_EQ(checked, 3);
}

// Faults guarded: a stamp placed from the wrong box corner, or drawn under a
// transformation that the page's own content left in force.

struct PlacementCase {
  const char *name;
  std::function<std::string(const std::string &dir)> make;
  Rect media;           // the page's media box
  double origin_x = 0;  // lower-left corner of the box the stamp is placed in
  double origin_y = 0;
  bool damaged = false;  // the input holds data that qpdf reports
};

void PrintTo(const PlacementCase &c, std::ostream *os) { *os << c.name; }

const PlacementCase kPlacements[] = {
    // The plain case: the media box starts at the origin.
    {"plain",
     [](const std::string &d) {
       return ghostscript_pdf(d, "plain", {{612, 792, {"Plain words"}, ""}});
     },
     {0, 0, 612, 792},
     0,
     0},
    // A page wider than tall: positions are not taken from a portrait page.
    {"landscape",
     [](const std::string &d) {
       return ghostscript_pdf(d, "landscape", {{792, 612, {"Landscape words"}, ""}});
     },
     {0, 0, 792, 612},
     0,
     0},
    // The crop box, not the media box, is what the offsets count from.
    {"crop_box",
     [](const std::string &d) {
       return ghostscript_pdf(d, "crop", {{612, 792, {"Cropped words"}, "[50 60 400 500]"}});
     },
     {0, 0, 612, 792},
     50,
     60},
    // A media box whose corner is not at the origin.
    {"offset_media_box",
     [](const std::string &d) { return write_doc(d, "offset", offset_box_document()); },
     {100, 200, 712, 992},
     100,
     200},
    // Page content that flips the y axis and never restores it: the stamp
    // must not inherit the flip (it would land mirrored near the top).
    {"flipped_content",
     [](const std::string &d) { return write_doc(d, "flipped", flipped_document()); },
     {0, 0, 612, 792},
     0,
     0},
    // Page content that leaves a scaling q open: the stamp must not be scaled.
    {"open_q_content",
     [](const std::string &d) { return write_doc(d, "open_q", open_q_document()); },
     {0, 0, 612, 792},
     0,
     0},
    // Page content that leaves a switched-off layer open: the stamp must show.
    {"open_hidden_layer",
     [](const std::string &d) { return write_doc(d, "hidden", hidden_layer_document()); },
     {0, 0, 612, 792},
     0,
     0},
    // Page content that cannot be read to its end: the stamp must not depend on it.
    {"damaged_content",
     [](const std::string &d) { return write_doc(d, "damaged", damaged_stream_document()); },
     {0, 0, 612, 792},
     0,
     0,
     true},
};

class Placement : public E2e, public ::testing::WithParamInterface<PlacementCase> {};

// The stamp stands upright with its baseline origin at (x, y) from the
// lower-left corner of the page box, checked both in poppler's text layout
// and in the rendered pixels.
TEST_P(Placement, StampIsUprightAtTheRequestedPoint) {
  const PlacementCase &c = GetParam();
  const std::string in = c.make(dir());
  const std::string out = dir() + "/out.pdf";
  const float x = 120, y = 150;
  const int size = 40;
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, x, y, size, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  if (!c.damaged) {
    ASSERT_EQ(qpdf_problems(out), "");
  }
  EXPECT_EQ(lost_words(page_text(in, 1), page_text(out, 1)), std::vector<std::string>{});
  const double ax = c.origin_x + x, ay = c.origin_y + y;  // user space

  const auto boxes = word_boxes(out, 1);
  const auto it =
      std::find_if(boxes.begin(), boxes.end(), [](const WordBox &w) { return w.text == kStamp; });
  ASSERT_NE(it, boxes.end()) << "no stamp word on the page";
  // pdftotext measures from the media box's top-left corner, y downwards.
  const double left = it->x_min + c.media.x0;
  const double bottom = c.media.y1 - it->y_max;
  const double top = c.media.y1 - it->y_min;
  EXPECT_NEAR(left, ax, 3.0);
  EXPECT_GE(bottom, ay - 0.4 * size) << "the glyph box reaches too far below the baseline";
  EXPECT_LE(bottom, ay + 1.0);
  EXPECT_GE(top, ay + 0.5 * size) << "the glyph box does not rise above the baseline";
  EXPECT_LE(top, ay + 1.1 * size);
  EXPECT_GT(it->x_max - it->x_min, 4.0 * size) << "the word is squeezed";

  // Capitals without descenders: ink above the baseline, none below it.
  const Raster r = render(out, 1, 36, true);
  const Rect above{ax + 2, ay + 3, ax + 4.0 * size, ay + 0.65 * size};
  const Rect below{ax + 2, ay - 0.7 * size, ax + 4.0 * size, ay - 0.15 * size};
  EXPECT_GT(share(r, c.media, above, dark), 0.15) << "no stamp ink above the baseline";
  EXPECT_LT(share(r, c.media, below, dark), 0.01) << "stamp ink below the baseline (mirrored?)";
}

INSTANTIATE_TEST_SUITE_P(Boxes, Placement, ::testing::ValuesIn(kPlacements),
                         [](const ::testing::TestParamInfo<PlacementCase> &param) {
                           return std::string(param.param.name);
                         });

// Faults guarded: rotation, colour, opacity, characters or lines of the
// request that do not reach the page as asked.

// Rotation turns the text counter-clockwise about its origin.
TEST_F(E2e, RotationNinetyRunsUpwards) {
  const std::string in = ghostscript_pdf(dir(), "in", {{612, 792, {"Rotation words"}, ""}});
  const std::string out = dir() + "/out.pdf";
  const double ax = 300, ay = 200;
  const int size = 40;
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, static_cast<float>(ax),
                          static_cast<float>(ay), size, 1, 90, 0, 0, 0),
            1)
      << folimark_last_error();
  ASSERT_EQ(qpdf_problems(out), "");
  EXPECT_NE(qdf_text(out).find("0.000000 1.000000 -1.000000 0.000000"), std::string::npos);
  const Raster r = render(out, 1, 36, true);
  const Rect page{0, 0, 612, 792};
  // Turned 90 degrees, the glyphs' tops point left of the origin's column.
  const Rect column{ax - 0.65 * size, ay + 3, ax - 3, ay + 4.0 * size};
  const Rect row{ax + 3, ay + 3, ax + 4.0 * size, ay + 0.65 * size};
  EXPECT_GT(share(r, page, column, dark), 0.15) << "no ink in the rotated text's column";
  EXPECT_LT(share(r, page, row, dark), 0.01) << "ink where unrotated text would be";
  EXPECT_EQ(count_of(page_text(out, 1), kStamp), 1u);
}

// Colour and opacity reach the page: a graphics state with the opacity, the
// colour operators, and half-transparent red pixels on the white page.
TEST_F(E2e, ColourAndOpacityReachTheOutput) {
  const std::string in = ghostscript_pdf(dir(), "in", {{612, 792, {"Colour words"}, ""}});
  const std::string out = dir() + "/out.pdf";
  const double ax = 100, ay = 300;
  const int size = 48;
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, static_cast<float>(ax),
                          static_cast<float>(ay), size, 0.5f, 0, 255, 0, 0),
            1)
      << folimark_last_error();
  ASSERT_EQ(qpdf_problems(out), "");
  const std::string qdf = qdf_text(out);
  EXPECT_NE(qdf.find("/GS_STAMP"), std::string::npos);
  EXPECT_NE(qdf.find("/ca 0.5000"), std::string::npos);
  EXPECT_NE(qdf.find("/CA 0.5000"), std::string::npos);
  EXPECT_NE(qdf.find("1.0000 0.0000 0.0000 rg"), std::string::npos);
  const Raster r = render(out, 1, 36, false);
  const Rect area{ax + 2, ay + 3, ax + 4.0 * size, ay + 0.65 * size};
  const auto half_red = [](const unsigned char *p) {
    return p[0] > 220 && p[1] > 90 && p[1] < 170 && p[2] > 90 && p[2] < 170;
  };
  const auto full_red = [](const unsigned char *p) { return p[0] > 200 && p[1] < 60 && p[2] < 60; };
  EXPECT_GT(share(r, {0, 0, 612, 792}, area, half_red), 0.10) << "no half-transparent red ink";
  EXPECT_LT(share(r, {0, 0, 612, 792}, area, full_red), 0.01) << "the red is opaque";
}

// Stamping a stamped file: the earlier stamp keeps its own transparency and
// font (its names are not reused), every file passes the checks, and each
// further stamp takes the next free names.
TEST_F(E2e, StampingAStampedFileKeepsTheEarlierStamp) {
  const std::string in = ghostscript_pdf(dir(), "in", {{612, 792, {"Twice stamped"}, ""}});
  const std::string once = dir() + "/once.pdf";
  const std::string twice = dir() + "/twice.pdf";
  const std::string thrice = dir() + "/thrice.pdf";
  const double ax = 100, ay = 300, bx = 100, by = 600;
  const int size = 48;
  ASSERT_EQ(folimark_text(in.c_str(), once.c_str(), kStamp, static_cast<float>(ax),
                          static_cast<float>(ay), size, 0.5f, 0, 255, 0, 0),
            1)
      << folimark_last_error();
  ASSERT_EQ(folimark_text(once.c_str(), twice.c_str(), kStamp, static_cast<float>(bx),
                          static_cast<float>(by), size, 1.0f, 0, 0, 0, 255),
            1)
      << folimark_last_error();
  ASSERT_EQ(folimark_datetime(twice.c_str(), thrice.c_str(), "YYYY", 20, 20, 10), 1)
      << folimark_last_error();
  for (const std::string &path : {once, twice, thrice}) EXPECT_EQ(qpdf_problems(path), "") << path;

  const std::string qdf = qdf_text(thrice);
  for (const char *name : {"/F_STAMP ", "/F_STAMP1 ", "/F_STAMP2 ", "/GS_STAMP ", "/GS_STAMP1 ",
                           "/GS_STAMP2 "})
    EXPECT_EQ(count_of(qdf, name), 2u) << name;  // once in the resources, once in the content
  EXPECT_EQ(count_of(page_text(thrice, 1), kStamp), 2u);

  const Raster r = render(thrice, 1, 36, false);
  const Rect first{ax + 2, ay + 3, ax + 4.0 * size, ay + 0.65 * size};
  const Rect second{bx + 2, by + 3, bx + 4.0 * size, by + 0.65 * size};
  const Rect page{0, 0, 612, 792};
  const auto half_red = [](const unsigned char *p) {
    return p[0] > 220 && p[1] > 90 && p[1] < 170 && p[2] > 90 && p[2] < 170;
  };
  const auto full_red = [](const unsigned char *p) { return p[0] > 200 && p[1] < 60 && p[2] < 60; };
  const auto full_blue = [](const unsigned char *p) { return p[2] > 200 && p[0] < 60 && p[1] < 60; };
  EXPECT_GT(share(r, page, first, half_red), 0.10) << "the first stamp lost its transparency";
  EXPECT_LT(share(r, page, first, full_red), 0.01) << "the first stamp became opaque";
  EXPECT_GT(share(r, page, second, full_blue), 0.10) << "the second stamp is missing";
}

// UTF-8 text beyond ASCII comes out as the same characters: Latin-1 letters
// and the WinAnsi-only euro sign and curly quotes.
TEST_F(E2e, Utf8TextReadsBack) {
  const std::string in = ghostscript_pdf(dir(), "in", {{612, 792, {"Plain ascii words"}, ""}});
  const std::string out = dir() + "/out.pdf";
  const std::string text =
      "Caf\xC3\xA9 \xC3\xBC"
      "ber 5\xE2\x82\xAC \xE2\x80\x9Cquotes\xE2\x80\x9D";
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), text.c_str(), 72, 300, 24, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  ASSERT_EQ(qpdf_problems(out), "");
  const std::string got = page_text(out, 1);
  for (const char *word : {"Caf\xC3\xA9",
                           "\xC3\xBC"
                           "ber",
                           "5\xE2\x82\xAC", "\xE2\x80\x9Cquotes\xE2\x80\x9D"})
    EXPECT_NE(got.find(word), std::string::npos) << word << " missing from: " << got;
}

// Several lines stack downwards from the first, in order.
TEST_F(E2e, LinesStackDownwards) {
  const std::string in = ghostscript_pdf(dir(), "in", {{612, 792, {"Line words"}, ""}});
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(
      folimark_text(in.c_str(), out.c_str(), "FIRSTLINE\nSECONDLINE\n", 72, 300, 20, 1, 0, 0, 0, 0),
      1)
      << folimark_last_error();
  const auto boxes = word_boxes(out, 1);
  const auto find = [&](const char *w) {
    return std::find_if(boxes.begin(), boxes.end(), [&](const WordBox &b) { return b.text == w; });
  };
  const auto first = find("FIRSTLINE"), second = find("SECONDLINE");
  ASSERT_NE(first, boxes.end());
  ASSERT_NE(second, boxes.end());
  EXPECT_NEAR(second->y_max - first->y_max, 24.0, 1.0) << "leading is 1.2 times the size";
  EXPECT_NEAR(second->x_min, first->x_min, 1.0);
}

// A NULL text still gives a sound file, with nothing shown.
TEST_F(E2e, NullTextGivesSoundFile) {
  const std::string in = ghostscript_pdf(dir(), "in", {{612, 792, {"Null text words"}, ""}});
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), nullptr, 72, 300, 20, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  EXPECT_EQ(qpdf_problems(out), "");
  EXPECT_EQ(lost_words(page_text(in, 1), page_text(out, 1)), std::vector<std::string>{});
  EXPECT_EQ(words_of(page_text(out, 1)).size(), words_of(page_text(in, 1)).size());
}

// Faults guarded: pages stamped twice, skipped, or not found in the tree.

// A list with repeats and out of order stamps each listed page once.
TEST_F(E2e, RepeatedAndUnorderedPagesAreStampedOnce) {
  const std::string in = ghostscript_pdf(dir(), "in", three_pages());
  const std::string out = dir() + "/out.pdf";
  const int pages[] = {3, 1, 3};
  ASSERT_EQ(folimark_text_pages(in.c_str(), out.c_str(), kStamp, 250, 60, 20, 1, pages, 3), 1)
      << folimark_last_error();
  expect_stamped(in, out, {1, 3});
}

// A flat page tree, as qpdf and many producers write it, with more kids in
// one node than a fixed-size kid list would hold: every page is stamped.
TEST_F(E2e, FlatTreeOfManyPagesIsStampedThroughout) {
  std::vector<std::string> texts;
  for (int p = 1; p <= 1100; ++p) texts.push_back("Flat page " + std::to_string(p));
  const std::string in = write_doc(dir(), "flat", testpdf::simple_document(texts));
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, 250, 60, 20, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  EXPECT_EQ(qpdf_problems(out), "");
  ASSERT_EQ(page_count(out), 1100);
  for (const int p : {1, 1024, 1025, 1100}) {
    const std::string text = page_text(out, p);
    EXPECT_EQ(count_of(text, kStamp), 1u) << "page " << p;
    EXPECT_NE(text.find("Flat page " + std::to_string(p) + "\n"), std::string::npos) << text;
  }
  const int last = 1100;
  ASSERT_EQ(folimark_text_pages(in.c_str(), out.c_str(), kStamp, 250, 60, 20, 1, &last, 1), 1)
      << "page 1100 exists: " << folimark_last_error();
  EXPECT_EQ(count_of(page_text(out, 1100), kStamp), 1u);
}

// Faults guarded: dictionary bytes misread or changed, stream lengths that
// disagree with the data, resource categories written twice.

// What one built input must show after stamping: its words, its images, the
// colour at points of the page and the bytes of an attachment.
struct Probe {
  double x, y;  // PDF user space of the 300 x 300 page
  int r, g, b;
};

struct BytesCase {
  const char *name;
  std::string page_tail;  // more page entries, after /Resources and /Contents
  std::string resources;
  std::string content;
  std::vector<testpdf::Object> more;
  std::string catalog_extra;
  const char *words;  // on the page besides the stamp
  int images;         // pdfimages -list lines; -1: not asked
  std::vector<Probe> probes;
  const char *attachment;  // name, or nullptr
  std::string attached;    // its bytes
};

const char *const kFillBlue = "0 0 1 rg 20 150 100 100 re f";

// Returns a string literal's bytes, NULs included.
template <size_t N>
std::string literal(const char (&bytes)[N]) {
  return std::string(bytes, N - 1);
}

std::string form_with(const std::string &length_entry) {
  return "<< /Type /XObject /Subtype /Form /BBox [0 0 300 300]" + length_entry +
         " >>\nstream\n" + kFillBlue + "\nendstream";
}

std::vector<BytesCase> bytes_cases() {
  const std::string font = "/Font << /F1 4 0 R >>";
  const std::string words = show(20, 270, "Pagewords");
  const std::string red_image =
      testpdf::stream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 "
                      "/ColorSpace [/Indexed /DeviceRGB 1 " + literal("(\0\0\0\377\0\0)]"),
                      std::string(4, '\1'));
  const std::string form_resources = "<< " + font + " /XObject << /Fm1 6 0 R >> >>";
  const std::vector<Probe> blue = {{70, 200, 0, 0, 255}};
  return {
      {"hex string ends the page", "/ID <AB>", "<< " + font + " >>", words, {}, "", "Pagewords", -1,
       {}, nullptr, ""},
      {"palettes holding NUL bytes", "",
       "<< " + font + " /XObject << /Im1 6 0 R >> /ColorSpace << /CS0 [/Indexed /DeviceRGB 1 " +
           literal("(\0\0\0\0\0\377)] >> >>"),
       words + " q 100 0 0 100 160 150 cm /Im1 Do Q /CS0 cs 1 sc 20 150 100 100 re f",
       {{6, 0, red_image}}, "", "Pagewords", 1, {{210, 200, 255, 0, 0}, {70, 200, 0, 0, 255}},
       nullptr, ""},
      {"attachment whose dictionary holds a NUL", "", "<< " + font + " >>", words,
       {{8, 0, "<< /Type /Filespec /F (data.bin) /UF (data.bin) /EF << /F 9 0 R >> >>"},
        {9, 0,
         testpdf::stream("/Type /EmbeddedFile /Params << /CheckSum " +
                             literal("(\0\1\2\3\4\5\6\7\0\1\2\3\4\5\6\7) /Size 14 >>"),
                         "attached bytes")}},
       " /Names << /EmbeddedFiles << /Names [(data.bin) 8 0 R] >> >>", "Pagewords", -1, {},
       "data.bin", "attached bytes"},
      {"stream without /Length", "", form_resources, words + " /Fm1 Do", {{6, 0, form_with("")}},
       "", "Pagewords", -1, blue, nullptr, ""},
      {"/Length misspelt", "", form_resources, words + " /Fm1 Do",
       {{6, 0, form_with(" /Lenght 27")}}, "", "Pagewords", -1, blue, nullptr, ""},
      {"/Length naming a stream", "", form_resources, words + " /Fm1 Do",
       {{6, 0, form_with(" /Length 7 0 R")}, {7, 0, testpdf::stream("", "27")}}, "", "Pagewords",
       -1, blue, nullptr, ""},
      {"/Length past the file", "", form_resources, words + " /Fm1 Do",
       {{6, 0, form_with(" /Length 9999")}},
       "", "Pagewords", -1, blue, nullptr, ""},
      {"/Font naming a missing object", "", "<< /Font 99 0 R >>", kFillBlue, {}, "", "", -1, blue,
       nullptr, ""},
  };
}

// Stamps the built input; qpdf --check must find the output sound (no
// duplicated key, every stream's /Length right), poppler must show its words
// and the stamp once, its images and colours, and qpdf must extract its
// attachment.
void expect_bytes_survive(const std::string &dir, const BytesCase &c) {
  std::vector<testpdf::Object> objects = {
      {1, 0, "<< /Type /Catalog /Pages 2 0 R" + c.catalog_extra + " >>"},
      {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
      {3, 0,
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Resources " + c.resources +
           " /Contents 5 0 R " + c.page_tail + ">>"},
      {4, 0, kFont},
      {5, 0, testpdf::stream("", c.content)}};
  objects.insert(objects.end(), c.more.begin(), c.more.end());
  const std::string in = write_doc(dir, "in", testpdf::build(objects, 1));
  const std::string out = dir + "/out.pdf";
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, 20, 20, 12, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  EXPECT_EQ(qpdf_problems(out), "");
  const std::string text = page_text(out, 1);
  EXPECT_EQ(count_of(text, kStamp), 1u) << text;
  EXPECT_NE(text.find(c.words), std::string::npos) << text;
  if (c.images >= 0) {
    const std::string pdfimages =
        (fs::path(tools().pdftotext).parent_path() / "pdfimages").string();
    const std::string list = must_run({pdfimages, "-list", out}).out;
    EXPECT_EQ(count_of(list, "\n"), static_cast<size_t>(c.images) + 2) << list;
  }
  if (!c.probes.empty()) {
    const Raster r = render(out, 1, 72, false);
    for (const Probe &p : c.probes) {
      const unsigned char *px = r.at(static_cast<int>(p.x), r.height - static_cast<int>(p.y));
      EXPECT_NEAR(px[0], p.r, 40) << p.x << "," << p.y;
      EXPECT_NEAR(px[1], p.g, 40) << p.x << "," << p.y;
      EXPECT_NEAR(px[2], p.b, 40) << p.x << "," << p.y;
    }
  }
  if (c.attachment != nullptr) {
    EXPECT_NE(must_run({tools().qpdf, "--list-attachments", out}).out.find(c.attachment),
              std::string::npos);
    EXPECT_EQ(must_run({tools().qpdf, "--show-attachment=" + std::string(c.attachment), out}).out,
              c.attached);
  }
}

TEST_F(E2e, DictionaryBytesSurviveStamping) {
  const std::vector<BytesCase> cases = bytes_cases();
  for (size_t k = 0; k < cases.size(); ++k) {
    const BytesCase &c = cases[k];
    SCOPED_TRACE(c.name);
    const std::string case_dir = dir() + "/" + std::to_string(k);
    fs::create_directories(case_dir);
    try {
      expect_bytes_survive(case_dir, c);
    } catch (const std::exception &e) {
      ADD_FAILURE() << e.what();
    }
  }
}

// Returns the names in a directory, sorted.
std::vector<std::string> listing(const std::string &path) {
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Faults guarded: a refusal with the wrong message, or one that leaves a
// file (output or temporary) behind.

struct RefusalCase {
  const char *name;
  // Makes the input and returns {input, output}; the output must not exist.
  std::function<std::pair<std::string, std::string>(const std::string &dir)> make;
  std::vector<int> pages;  // empty: folimark_text on every page
  // The exact message, with {in} and {out} standing for the paths; empty:
  // any non-empty message.
  std::string message;
};

void PrintTo(const RefusalCase &c, std::ostream *os) { *os << c.name; }

std::pair<std::string, std::string> three_page_input(const std::string &d) {
  const std::string in = d + "/in.pdf";
  testpdf::write_file(in, testpdf::simple_document({"PageOne", "PageTwo", "PageThree"}));
  return {in, d + "/out.pdf"};
}


const RefusalCase kRefusals[] = {
    // Page numbers outside the document: the first bad entry is named.
    {"page_zero", three_page_input, {0}, "page 0 is out of range (document has 3 pages)"},
    {"page_negative", three_page_input, {-1}, "page -1 is out of range (document has 3 pages)"},
    {"page_past_end", three_page_input, {4}, "page 4 is out of range (document has 3 pages)"},
    {"first_bad_entry_named",
     three_page_input,
     {2, 9, 0},
     "page 9 is out of range (document has 3 pages)"},
    // Inputs that are not there or not PDF.
    {"missing_input",
     [](const std::string &d) {
       return std::pair{d + "/absent.pdf", d + "/out.pdf"};
     },
     {},
     std::string("cannot open {in}: ") + std::strerror(ENOENT)},
    {"empty_input",
     [](const std::string &d) {
       testpdf::write_file(d + "/empty.pdf", "");
       return std::pair{d + "/empty.pdf", d + "/out.pdf"};
     },
     {},
     "empty file: {in}"},
    {"not_a_pdf",
     [](const std::string &d) {
       testpdf::write_file(d + "/notes.pdf", "These are plain notes,\nnot a PDF at all.\n");
       return std::pair{d + "/notes.pdf", d + "/out.pdf"};
     },
     {},
     "no PDF objects found in {in}"},
    {"encrypted",
     [](const std::string &d) {
       const auto [plain, out] = three_page_input(d);
       const std::string in = d + "/encrypted.pdf";
       must_run(
           {tools().qpdf, "--allow-weak-crypto", "--encrypt", "u", "o", "128", "--", plain, in});
       return std::pair{in, out};
     },
     {},
     "encrypted PDFs are not supported: {in}"},
    // Outputs that cannot be written: nothing, not even a temporary file, is left.
    {"output_directory_missing",
     [](const std::string &d) {
       return std::pair{three_page_input(d).first, d + "/no/such/dir/out.pdf"};
     },
     {},
     std::string("cannot open output file {out} for writing: ") + std::strerror(ENOENT)},
    {"output_is_a_directory",
     [](const std::string &d) {
       fs::create_directories(d + "/taken");
       return std::pair{three_page_input(d).first, d + "/taken"};
     },
     {},
     ""},
};

class Refusals : public E2e, public ::testing::WithParamInterface<RefusalCase> {};

// A refused call returns 0 with its message and creates no file at all.
TEST_P(Refusals, FailWithMessageAndLeaveNoFile) {
  const RefusalCase &c = GetParam();
  const auto [in, out] = c.make(dir());
  const bool out_is_dir = fs::is_directory(out);
  ASSERT_TRUE(out_is_dir || !fs::exists(out));
  const std::vector<std::string> before = listing(dir());
  const int ok = c.pages.empty()
                     ? folimark_text(in.c_str(), out.c_str(), kStamp, 72, 72, 20, 1, 0, 0, 0, 0)
                     : folimark_text_pages(in.c_str(), out.c_str(), kStamp, 72, 72, 20, 1,
                                           c.pages.data(), static_cast<int>(c.pages.size()));
  EXPECT_EQ(ok, 0);
  if (c.message.empty()) {
    EXPECT_STRNE(folimark_last_error(), "");
  } else {
    EXPECT_EQ(folimark_last_error(), replace_all(replace_all(c.message, "{in}", in), "{out}", out));
  }
  EXPECT_EQ(fs::is_directory(out), out_is_dir);
  if (out_is_dir) {
    EXPECT_EQ(listing(out), std::vector<std::string>{});
  } else {
    EXPECT_FALSE(fs::exists(out));
  }
  EXPECT_EQ(listing(dir()), before) << "the call left files behind";
}

INSTANTIATE_TEST_SUITE_P(Calls, Refusals, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<RefusalCase> &param) {
                           return std::string(param.param.name);
                         });

// Faults guarded: an input destroyed when the output path names it.

// Stamping in place replaces the input with a sound stamped file.
TEST_F(E2e, InPlaceStampReplacesTheInput) {
  const std::string original = ghostscript_pdf(dir(), "orig", three_pages());
  const std::string in = dir() + "/in.pdf";
  fs::copy_file(original, in);
  ASSERT_EQ(folimark_text(in.c_str(), in.c_str(), kStamp, 250, 60, 20, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  EXPECT_NE(testpdf::read_file(in), testpdf::read_file(original));
  expect_stamped(original, in, {});
  EXPECT_EQ(listing(dir()), (std::vector<std::string>{"in.pdf", "orig.pdf", "orig.ps"}));
}

// A refused in-place stamp leaves the input byte for byte as it was.
TEST_F(E2e, FailedInPlaceStampKeepsTheInput) {
  const std::string in = ghostscript_pdf(dir(), "in", three_pages());
  const std::string bytes = testpdf::read_file(in);
  const int pages[] = {1, 7};
  EXPECT_EQ(folimark_text_pages(in.c_str(), in.c_str(), kStamp, 250, 60, 20, 1, pages, 2), 0);
  EXPECT_STREQ(folimark_last_error(), "page 7 is out of range (document has 3 pages)");
  EXPECT_EQ(testpdf::read_file(in), bytes);
  EXPECT_EQ(listing(dir()), (std::vector<std::string>{"in.pdf", "in.ps"}));
}

// Faults guarded: a stale message after a success.

// A success after a failure empties the error text.
TEST_F(E2e, SuccessEmptiesTheErrorText) {
  const std::string in = ghostscript_pdf(dir(), "in", {{612, 792, {"Error text words"}, ""}});
  const std::string out = dir() + "/out.pdf";
  const std::string absent = dir() + "/absent.pdf";
  ASSERT_EQ(folimark_text(absent.c_str(), out.c_str(), kStamp, 72, 72, 20, 1, 0, 0, 0, 0), 0);
  ASSERT_STRNE(folimark_last_error(), "");
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, 72, 72, 20, 1, 0, 0, 0, 0), 1);
  EXPECT_STREQ(folimark_last_error(), "");
  const int page = 1;
  ASSERT_EQ(folimark_text_pages(absent.c_str(), out.c_str(), kStamp, 72, 72, 20, 1, &page, 1), 0);
  ASSERT_EQ(folimark_text_pages(in.c_str(), out.c_str(), kStamp, 72, 72, 20, 1, &page, 1), 1);
  EXPECT_STREQ(folimark_last_error(), "");
}

// Faults guarded: the host's exit status or message not telling what happened.

ToolResult cli(const std::vector<std::string> &args) {
  std::vector<std::string> argv = {FOLIMARK_STAMP_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  return testtool::run(argv);
}

// Both commands stamp and exit 0.
TEST_F(E2e, CliStampsEveryPageAndListedPages) {
  const std::string in = ghostscript_pdf(dir(), "in", three_pages());
  const std::string all = dir() + "/all.pdf", listed = dir() + "/listed.pdf";
  const ToolResult a = cli({"text", "-x", "250", "-y", "60", "--size", "20", "--color", "#ff0000",
                            "--opacity", "0.5", in, all, kStamp});
  ASSERT_TRUE(a.ok()) << a.err;
  expect_stamped(in, all, {});
  const ToolResult l =
      cli({"text-pages", "--pages", "1,3", "-x", "250", "-y", "60", in, listed, kStamp});
  ASSERT_TRUE(l.ok()) << l.err;
  expect_stamped(in, listed, {1, 3});
}

TEST_F(E2e, CliHelpExitsZero) {
  const ToolResult r = cli({"--help"});
  EXPECT_TRUE(r.ok()) << r.err;
  EXPECT_NE(r.out.find("usage: folimark-stamp"), std::string::npos) << r.out;
}

// A mistake on the command line is status 2 and touches no file.
TEST_F(E2e, CliBadOptionExitsTwo) {
  const std::string in = ghostscript_pdf(dir(), "in", three_pages());
  const std::string out = dir() + "/out.pdf";
  const ToolResult r = cli({"text", "--bogus", "1", in, out, kStamp});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--bogus"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));
}

// A library failure is status 1 with the library's message on stderr.
TEST_F(E2e, CliLibraryFailureExitsOne) {
  const std::string absent = dir() + "/absent.pdf", out = dir() + "/out.pdf";
  const ToolResult r = cli({"text", absent, out, kStamp});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "folimark-stamp: cannot open " + absent + ": " + std::strerror(ENOENT) + "\n");
  EXPECT_FALSE(fs::exists(out));
  const std::string in = ghostscript_pdf(dir(), "in", three_pages());
  const ToolResult p = cli({"text-pages", "--pages", "2,5", in, out, kStamp});
  EXPECT_EQ(p.exit_code, 1);
  // The library's message names the file and the page.
  EXPECT_EQ(p.err, "folimark-stamp: cannot stamp " + in +
                       ": page 5 is past the end: the document has 3 pages\n");
  EXPECT_FALSE(fs::exists(out));
}

// Faults guarded: crashes, hangs, leaks, unclean results and broken outputs
// on real files, damaged ones included.

// What one stamping call did, as seen from outside the process it ran in.
struct SweepOutcome {
  bool finished = false;  // false: crashed or hung
  std::string how;        // for a call that did not finish
  int result = -1;
  std::string message;
};

// Returns how folimark_text fared on one file, run in a child process so
// that a crash or a hang is reported for that file instead of ending the
// suite. Under the sanitizers the child also checks itself for leaks.
SweepOutcome stamp_in_child(const std::string &in, const std::string &out,
                            std::chrono::seconds limit) {
  SweepOutcome outcome;
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  std::cout.flush();
  std::cerr.flush();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(fds[0]);
    const int ok = folimark_text(in.c_str(), out.c_str(), kStamp, 36, 36, 24, 0.5f, 30, 200, 0, 0);
    std::string report = std::to_string(ok) + folimark_last_error();
    int status = 0;
#ifdef FOLIMARK_E2E_LSAN
    if (__lsan_do_recoverable_leak_check() != 0) status = 3;
#endif
    ssize_t unused = write(fds[1], report.data(), report.size());
    (void)unused;
    close(fds[1]);
    _exit(status);
  }
  close(fds[1]);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  bool done = false;
  while (!done) {
    const pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) {
      done = true;
    } else if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      outcome.how = "hung (killed after " + std::to_string(limit.count()) + " s)";
      close(fds[0]);
      return outcome;
    } else {
      usleep(2000);
    }
  }
  std::string report;
  char chunk[1024];
  for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;)
    report.append(chunk, static_cast<size_t>(n));
  close(fds[0]);
  if (WIFSIGNALED(status)) {
    outcome.how = "crashed with signal " + std::to_string(WTERMSIG(status));
  } else if (WEXITSTATUS(status) != 0) {
    outcome.how = WEXITSTATUS(status) == 3
                      ? "leaked memory"
                      : "failed with status " + std::to_string(WEXITSTATUS(status));
  } else if (report.empty()) {
    outcome.how = "reported nothing";
  } else {
    outcome.finished = true;
    outcome.result = report[0] - '0';
    outcome.message = report.substr(1);
  }
  return outcome;
}

// qpdf's own test files, many damaged on purpose: every call ends cleanly
// (1 with a file, or 0 with a message and no file), and every input that qpdf
// finds sound gives an output qpdf finds sound, with the same page count.
TEST_F(E2e, CorpusSweep) {
  const fs::path corpus = fs::path(FOLIMARK_CORPUS_DIR) / "pdf" / "qpdf";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "corpus folder absent: " << corpus;
  std::vector<fs::path> files;
  for (const auto &e : fs::directory_iterator(corpus))
    if (e.path().extension() == ".pdf") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  const auto started = std::chrono::steady_clock::now();
  std::vector<std::string> broken_calls, unsound_outputs, page_count_changed, refused_sound;
  int stamped = 0, refused = 0, sound_inputs = 0, sound_outputs = 0;
  for (const fs::path &file : files) {
    const std::string in = file.string();
    const std::string name = file.filename().string();
    const std::string out = dir() + "/" + name;
    const SweepOutcome o = stamp_in_child(in, out, std::chrono::seconds(30));
    const bool input_sound = qpdf_problems(in).empty();
    sound_inputs += input_sound ? 1 : 0;
    if (!o.finished) {
      broken_calls.push_back(name + ": " + o.how);
      continue;
    }
    if (o.result == 1 && !fs::exists(out)) {
      broken_calls.push_back(name + ": returned 1 without an output file");
    } else if (o.result == 0 && (o.message.empty() || fs::exists(out))) {
      broken_calls.push_back(name + ": returned 0 " +
                             (o.message.empty() ? "without a message" : "but left an output file"));
    } else if (o.result != 0 && o.result != 1) {
      broken_calls.push_back(name + ": returned " + std::to_string(o.result));
    }
    if (o.result != 1) {
      ++refused;
      if (input_sound) refused_sound.push_back(name + ": " + o.message);
      fs::remove(out);
      continue;
    }
    ++stamped;
    if (fs::exists(out)) {
      const std::string problems = qpdf_problems(out);
      if (problems.empty()) {
        ++sound_outputs;
        if (input_sound && page_count(out) != page_count(in)) page_count_changed.push_back(name);
      } else if (input_sound) {
        unsound_outputs.push_back(name + ": " + problems.substr(0, 300));
      }
    }
    fs::remove(out);
  }
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
          .count();
  std::cout << "corpus: " << files.size() << " files, " << stamped << " stamped, " << refused
            << " refused; " << sound_outputs << " outputs pass qpdf --check; " << sound_inputs
            << " inputs pass it; " << seconds << " s\n";
  for (const std::string &r : refused_sound)
    std::cout << "  refused although qpdf finds it sound: " << r << "\n";
  const auto join = [](const std::vector<std::string> &v) {
    std::string s;
    for (const std::string &x : v) s += "\n  " + x;
    return s;
  };
  EXPECT_TRUE(broken_calls.empty()) << "calls that did not end cleanly:" << join(broken_calls);
  EXPECT_TRUE(unsound_outputs.empty())
      << "sound inputs whose output qpdf --check rejects:" << join(unsound_outputs);
  EXPECT_TRUE(page_count_changed.empty())
      << "sound inputs whose output has another page count:" << join(page_count_changed);
}

}  // namespace
