// Text stamps in embedded fonts end to end, through the extended interface
// and the command line: poppler gives the text back exactly and finds the
// font embedded (as a subset where it is one), qpdf finds the file sound,
// the rendering shows ink where the text stands, the block is placed by the
// font's own widths, a document whose fonts are all embedded keeps them so,
// the same stamp gives the same bytes, and each refusal has its code.
#include <folimark.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e_oracles.h"
#include "support/font_maker.h"
#include "support/pdf_builder.h"

namespace {

using namespace e2e;

constexpr const char *kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char *kDroid = "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf";
constexpr const char *kZenHei = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc";
constexpr const char *kNimbus = "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf";

// The fixture also skips (or fails, when the tools are required) without
// pdffonts or a font a test names.
class FontE2e : public E2e {
 protected:
  void SetUp() override {
    E2e::SetUp();
    if (IsSkipped() || HasFailure()) return;
    if (!fs::exists(FOLIMARK_PDFFONTS)) skip_or_fail("pdffonts");
  }
  // Returns false after skipping the test when the font file is absent.
  bool have(const char *font) {
    if (fs::exists(font)) return true;
    skip_or_fail(font);
    return false;
  }
  void skip_or_fail(const std::string &what) {
    if (tools_required()) FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but " << what << " is absent";
    GTEST_SKIP() << what << " is absent (scripts/install-test-deps installs it)";
  }
};

folimark_options font_options(const std::string &in, const std::string &out, const char *text,
                              const char *font) {
  folimark_options o;
  folimark_options_init(&o, sizeof o);
  o.input_path = in.c_str();
  o.output_path = out.c_str();
  o.text = text;
  o.font_path = font;
  return o;
}

// pdffonts' rows (the header dropped), one a font.
std::vector<std::string> font_rows(const std::string &path) {
  std::istringstream out(must_run({FOLIMARK_PDFFONTS, path}).out);
  std::vector<std::string> rows;
  int line = 0;
  for (std::string row; std::getline(out, row);)
    if (++line > 2) rows.push_back(row);
  return rows;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// One script in one font.
struct Script {
  const char *label;
  const char *font;
  int32_t index;
  const char *text;
  const char *type;  // as pdffonts names it
  bool subset;
};

const Script kScripts[] = {
    {"CyrillicAndGreekInDejaVu", kDejaVu, 0, "Съешь же ещё\nΞεσκεπάζω", "CID TrueType",
     true},
    {"ChineseInDroid", kDroid, 0, "中文字符測試", "CID TrueType", true},
    {"ChineseInCollectionFace", kZenHei, 1, "文泉驿正黑", "CID TrueType", true},
    {"GreekInCffFont", kNimbus, 0, "Ωμέγα Zeta", "CID Type 0C (OT)", false},
};

void PrintTo(const Script &s, std::ostream *out) { *out << s.label; }

class Scripts : public FontE2e, public ::testing::WithParamInterface<Script> {};

// Faults guarded: text lost or garbled on extraction, the font not embedded
// or embedded once per page, a damaged file, nothing drawn, the block off
// centre because it was measured with another font's widths.
TEST_P(Scripts, SearchableEmbeddedOnceAndDrawn) {
  const Script &s = GetParam();
  if (!have(s.font)) return;
  const std::string in = ghostscript_pdf(dir(), "in", three_pages());
  const std::string out = dir() + "/out.pdf";
  folimark_options o = font_options(in, out, s.text, s.font);
  o.font_index = s.index;
  o.anchor = FOLIMARK_ANCHOR_CENTER;
  o.x = o.y = 0;
  o.font_size = 36;
  o.align = FOLIMARK_ALIGN_CENTER;
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  EXPECT_EQ(qpdf_problems(out), "");

  for (int page = 1; page <= 3; ++page) {
    const std::vector<std::string> got = lines_of(page_text(out, page));
    for (const std::string &line : lines_of(s.text))
      EXPECT_NE(std::find(got.begin(), got.end(), line), got.end())
          << "page " << page << " lacks the line " << line << "\n" << page_text(out, page);
  }

  size_t ours = 0;
  for (const std::string &row : font_rows(out)) {
    if (row.find(s.type) == std::string::npos) continue;
    ++ours;
    EXPECT_NE(row.find(s.subset ? "yes yes yes" : "yes no  yes"), std::string::npos) << row;
    EXPECT_EQ(row.find('+') != std::string::npos, s.subset) << row;
  }
  EXPECT_EQ(ours, 1u) << "one font object serves every page";

  // The words poppler finds on the first page's stamp: their box is centred
  // on the page (612 wide) and holds ink.
  const std::string first_line = lines_of(s.text).front();
  double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
  for (const WordBox &w : word_boxes(out, 1)) {
    if (first_line.find(w.text) == std::string::npos) continue;
    x0 = std::min(x0, w.x_min), x1 = std::max(x1, w.x_max);
    y0 = std::min(y0, w.y_min), y1 = std::max(y1, w.y_max);
  }
  ASSERT_LT(x0, x1) << "no word of " << first_line << " found";
  EXPECT_NEAR((x0 + x1) / 2, 306, 0.6);
  const Raster r = render(out, 1, 72, true);
  const Rect page{0, 0, 612, 792};
  EXPECT_GT(share(r, page, {x0, 792 - y1, x1, 792 - y0}, dark), 0.05);
}

INSTANTIATE_TEST_SUITE_P(Fonts, Scripts, ::testing::ValuesIn(kScripts),
                         [](const auto &p) { return std::string(p.param.label); });

// Faults guarded: lines aligned or anchored by Helvetica's widths instead of
// the font's.
TEST_F(FontE2e, RightAlignedByTheFontsWidths) {
  if (!have(kDejaVu)) return;
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"Words"}));
  const std::string out = dir() + "/out.pdf";
  folimark_options o = font_options(in, out, "Широкая строка\nΩ", kDejaVu);
  o.anchor = FOLIMARK_ANCHOR_TOP_RIGHT;
  o.align = FOLIMARK_ALIGN_RIGHT;
  o.x = o.y = 36;
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  int found = 0;
  for (const WordBox &w : word_boxes(out, 1)) {
    if (w.text != "строка" && w.text != "Ω") continue;
    ++found;
    EXPECT_NEAR(w.x_max, 612 - 36, 0.6) << w.text;
  }
  EXPECT_EQ(found, 2);
}

// Faults guarded: the stamp turning another font of the document into one
// that is not embedded, or breaking one that is.
TEST_F(FontE2e, DocumentWithEveryFontEmbeddedKeepsThemEmbedded) {
  if (!have(kDejaVu)) return;
  const std::string ps = dir() + "/in.ps";
  testpdf::write_file(ps,
                      "%!PS\n/Helvetica findfont 14 scalefont setfont 72 700 moveto (Alpha) show\n"
                      "/Times-Roman findfont 14 scalefont setfont 72 680 moveto (Bravo) show\n"
                      "showpage\n");
  const std::string in = dir() + "/in.pdf";
  must_run({tools().gs, "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite", "-dPDFA=2",
            "-dPDFACompatibilityPolicy=1", "-sColorConversionStrategy=RGB", "-sOutputFile=" + in,
            ps});
  for (const std::string &row : font_rows(in))
    ASSERT_NE(row.find(" yes "), std::string::npos) << row;
  const std::string out = dir() + "/out.pdf";
  const folimark_options o = font_options(in, out, "Проверено", kDejaVu);
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  const std::vector<std::string> rows = font_rows(out);
  EXPECT_EQ(rows.size(), 3u);
  for (const std::string &row : rows) EXPECT_NE(row.find(" yes "), std::string::npos) << row;
  EXPECT_EQ(qpdf_problems(out), "");
  EXPECT_NE(page_text(out, 1).find("Проверено"), std::string::npos);
}

// Faults guarded: output that depends on the run (a subset name from a
// random source, glyphs kept in the order of a hash table).
TEST_F(FontE2e, SameStampSameBytes) {
  if (!have(kDroid)) return;
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"Words", "More"}));
  folimark_options o = font_options(in, "", "同一个印章\n再来一次", kDroid);
  o.output_path = nullptr;
  const auto stamp = [&] {
    unsigned char *data = nullptr;
    size_t size = 0;
    EXPECT_EQ(folimark_stamp(&o, &data, &size), FOLIMARK_OK) << folimark_error_message();
    std::string bytes(reinterpret_cast<const char *>(data), size);
    folimark_free(data);
    return bytes;
  };
  const std::string first = stamp();
  EXPECT_EQ(stamp(), first);
  o.text = "另一个印章";
  EXPECT_NE(stamp(), first);
}

// Faults guarded: a font program embedded as OpenType in a file that says
// it is older than the version that brought it.
TEST_F(FontE2e, OpenTypeProgramRaisesTheVersion) {
  if (!have(kNimbus)) return;
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"Words"}));
  ASSERT_EQ(testpdf::read_file(in).substr(0, 8), "%PDF-1.4");
  const std::string out = dir() + "/out.pdf";
  const folimark_options o = font_options(in, out, "Zeta", kNimbus);
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  EXPECT_EQ(testpdf::read_file(out).substr(0, 8), "%PDF-1.6");
  EXPECT_EQ(qpdf_problems(out), "");
}

// Faults guarded: a refusal without its code or message, or with an output
// left behind.
TEST_F(FontE2e, EveryRefusalHasItsCode) {
  if (!have(kDejaVu) || !have(kZenHei)) return;
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"Words"}));
  const std::string out = dir() + "/out.pdf";
  testfont::FontRecipe restricted;
  restricted.fs_type = 0x0002;
  const std::string restricted_font = testfont::make_font(restricted);
  const std::string not_font = "hello, no font here";
  const auto data = [](const std::string &bytes) {
    return reinterpret_cast<const unsigned char *>(bytes.data());
  };
  using Edit = std::function<void(folimark_options &)>;
  const struct Case {
    const char *name;
    Edit edit;
    int code;
    const char *message;
  } cases[] = {
      {"missing character", [](folimark_options &o) { o.text = "Ok 中"; },
       FOLIMARK_ERROR_UNSUPPORTED, "character U+4E2D '中' is not in the font"},
      {"restricted licence",
       [&](folimark_options &o) {
         o.font_path = nullptr;
         o.font_data = data(restricted_font);
         o.font_data_size = restricted_font.size();
         o.text = "AB";
       },
       FOLIMARK_ERROR_UNSUPPORTED, "may not be embedded"},
      {"absent file", [&](folimark_options &o) { o.font_path = "/no/such/font.ttf"; },
       FOLIMARK_ERROR_READ, "cannot open font file /no/such/font.ttf"},
      {"path and bytes",
       [&](folimark_options &o) {
         o.font_data = data(not_font);
         o.font_data_size = not_font.size();
       },
       FOLIMARK_ERROR_ARGUMENT, "options.font_path and options.font_data are both set"},
      {"bytes of size 0",
       [&](folimark_options &o) {
         o.font_path = nullptr;
         o.font_data = data(not_font);
       },
       FOLIMARK_ERROR_ARGUMENT, "options.font_data"},
      {"negative face", [](folimark_options &o) { o.font_index = -1; }, FOLIMARK_ERROR_ARGUMENT,
       "options.font_index"},
      {"face beyond the collection",
       [](folimark_options &o) {
         o.font_path = kZenHei;
         o.font_index = 5;
       },
       FOLIMARK_ERROR_ARGUMENT, "holds no face 5"},
      {"not a font",
       [&](folimark_options &o) {
         o.font_path = nullptr;
         o.font_data = data(not_font);
         o.font_data_size = not_font.size();
       },
       FOLIMARK_ERROR_DAMAGED, "is not a TrueType or OpenType font"},
  };
  for (const Case &c : cases) {
    folimark_options o = font_options(in, out, "Слово", kDejaVu);
    c.edit(o);
    EXPECT_EQ(folimark_stamp(&o, nullptr, nullptr), c.code) << c.name;
    EXPECT_NE(std::string(folimark_error_message()).find(c.message), std::string::npos)
        << c.name << ": " << folimark_error_message();
    EXPECT_FALSE(fs::exists(out)) << c.name;
  }
}

// Faults guarded: the library reading font fields past the end of a record
// from a host built against the first version (the sanitizer build catches
// the read), or taking them from whatever lies there.
TEST_F(FontE2e, FirstVersionRecordDrawsInHelvetica) {
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"Words"}));
  const std::string out = dir() + "/out.pdf";
  constexpr size_t kFirst = offsetof(folimark_options, font_path);
  folimark_options full = font_options(in, out, "First", nullptr);
  full.size = kFirst;
  void *block = std::malloc(kFirst);
  ASSERT_NE(block, nullptr);
  std::memcpy(block, &full, kFirst);
  const int rc = folimark_stamp(static_cast<const folimark_options *>(block), nullptr, nullptr);
  std::free(block);
  ASSERT_EQ(rc, FOLIMARK_OK) << folimark_error_message();
  const std::vector<std::string> rows = font_rows(out);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back().rfind("Helvetica ", 0), 0u) << rows.back();
}

// Faults guarded: --font or --font-index not reaching the library, a bad
// index taken as 0.
TEST_F(FontE2e, CommandLineTakesTheFontAndItsFace) {
  if (!have(kZenHei)) return;
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"Words"}));
  const std::string out = dir() + "/out.pdf";
  must_run({FOLIMARK_STAMP_CLI, "text", "--font", kZenHei, "--font-index", "1", in, out, "正黑"});
  EXPECT_NE(page_text(out, 1).find("正黑"), std::string::npos);
  const std::vector<std::string> rows = font_rows(out);
  ASSERT_FALSE(rows.empty());
  EXPECT_NE(rows.back().find("+WenQuanYiZenHeiMono "), std::string::npos) << rows.back();
  const ToolResult bad =
      testtool::run({FOLIMARK_STAMP_CLI, "text", "--font", kZenHei, "--font-index", "x", in,
                     dir() + "/bad.pdf", "正黑"});
  EXPECT_EQ(bad.exit_code, 2) << bad.err;
}

}  // namespace
