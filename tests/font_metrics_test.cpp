// Text widths in Helvetica: the advance width of every WinAnsiEncoding code
// against Ghostscript's Helvetica, and whole lines as the stamp writes them
// against the word boxes poppler measures.
#include "pdf/font_metrics.h"

#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "pdf/content.h"
#include "support/e2e_oracles.h"
#include "support/pdf_builder.h"
#include "support/stamp_fixture.h"

namespace {

bool found(const std::string &tool) { return !tool.empty() && std::filesystem::exists(tool); }

// Prints, for codes 0 to 255, the glyph name that Ghostscript's
// WinAnsiEncoding gives the code and the advance width of that code in its
// Helvetica (a substitute with the same metrics) at 1000 units to the em.
constexpr char kWidthsProgram[] = R"(
/Helvetica findfont dup length dict begin
  { 1 index /FID ne { def } { pop pop } ifelse } forall
  /Encoding /WinAnsiEncoding /Encoding findresource def
  currentdict
end /HelveticaWinAnsi exch definefont 1000 scalefont setfont
0 1 255 {
  dup currentfont /Encoding get exch get =only ( ) print
  1 string dup 0 4 -1 roll put stringwidth pop ==
} for
)";

// Every code's width, against Ghostscript.
TEST(HelveticaWidths, AgreeWithGhostscriptForEveryCode) {
  const std::string &gs = e2e::tools().gs;
  if (!found(gs)) {
    if (e2e::tools_required()) FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but gs is missing";
    GTEST_SKIP() << "Ghostscript not found";
  }
  const testtool::ToolResult r =
      e2e::must_run({gs, "-q", "-dNODISPLAY", "-dBATCH", "-dNOPAUSE", "-c", kWidthsProgram});
  std::istringstream out(r.out);
  int code = 0;
  for (std::string name, width; out >> name >> width; ++code) {
    ASSERT_LT(code, 256) << r.out;
    double expected = 0;
    std::from_chars(width.data(), width.data() + width.size(), expected);
    // The codes the encoding names no glyph for (0x00-0x1F) show .notdef:
    // Ghostscript advances by its .notdef glyph's width (278), poppler by
    // nothing (LineWidths below checks it). The table follows poppler.
    if (name == ".notdef") expected = 0;
    EXPECT_EQ(winansi_text_width(std::string(1, static_cast<char>(code)), 1000), expected)
        << "code " << code << " " << name;
  }
  EXPECT_EQ(code, 256) << r.out;
}

// A line as the stamp writes it, against poppler's measure of it.
TEST(LineWidths, MatchPopplerWordBoxes) {
  const std::string &pdftotext = e2e::tools().pdftotext;
  if (!found(pdftotext)) {
    if (e2e::tools_required()) FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but pdftotext is missing";
    GTEST_SKIP() << "pdftotext not found";
  }
  // UTF-8 lines, each one word: accented letters, characters of WinAnsi's
  // 0x80-0x9F, PDF string delimiters, control characters (not shown, though
  // DEL's code has a glyph), a character outside WinAnsi and a stray byte
  // (both shown byte by byte).
  const char *const lines[] = {"Helvetica", "Zürich", "Ærøskøbing", "€1234", "Œuvres…",
                               "naïve—café", "(a\\b)", "A\t\x7F" "B", "x→y", "A\x81" "B"};
  constexpr int kSize = 100;
  std::vector<std::string> strings;
  std::vector<double> widths;
  for (const char *line : lines) {
    ByteBuf ops;
    escape_text_line(ops, line);
    strings.push_back(testpdf::buf_text(ops));
    widths.push_back(utf8_line_width(line, kSize));
  }
  // Codes that name no glyph, written directly: readers advance by nothing.
  strings.push_back("A\\001\\037B");
  widths.push_back(winansi_text_width("A\x01\x1F" "B", kSize));

  const std::string path = testpdf::temp_path("font-metrics-lines.pdf");
  testpdf::write_file(path, testpdf::simple_document(strings, "[0 0 1000 800]", kSize));
  for (size_t i = 0; i < strings.size(); ++i) {
    const std::vector<e2e::WordBox> words = e2e::word_boxes(path, static_cast<int>(i) + 1);
    ASSERT_EQ(words.size(), 1u) << "(" << strings[i] << ")";
    EXPECT_NEAR(words[0].x_max - words[0].x_min, widths[i], 0.5) << "(" << strings[i] << ")";
  }
  std::filesystem::remove(path);
}

}  // namespace
