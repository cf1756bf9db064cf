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
#include "pdf/stamp_request.h"
#include "pdf/text_font.h"
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

// A line as the stamp writes it, against poppler's measure of it: each
// line is stamped by the engine onto a blank page, in one font or, for the
// letters WinAnsi lacks, switching to the extra font and back.
TEST(LineWidths, MatchPopplerWordBoxes) {
  const std::string &pdftotext = e2e::tools().pdftotext;
  if (!found(pdftotext)) {
    if (e2e::tools_required()) FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but pdftotext is missing";
    GTEST_SKIP() << "pdftotext not found";
  }
  // UTF-8 lines, each one word: accented letters, characters of WinAnsi's
  // 0x80-0x9F, PDF string delimiters, a control character (not shown,
  // though DEL's code has a glyph), a stray byte (shown as its WinAnsi
  // character), and letters and signs of the extra font.
  const char *const lines[] = {"Helvetica", "Zürich", "Ærøskøbing", "€1234", "Œuvres…",
                               "naïve—café", "(a\\b)", "A\x7F" "B", "A\x81" "B",
                               "Łódź", "Příliš", "Őrség", "İstanbul", "Ţară", "x−y≤z", "ﬁﬂ"};
  constexpr int kSize = 100;
  const std::string in = testpdf::temp_path("font-metrics-blank.pdf");
  const std::string out = testpdf::temp_path("font-metrics-lines.pdf");
  testpdf::write_file(in, testpdf::simple_document({""}, "[0 0 1600 800]", kSize));
  for (const char *line : lines) {
    EncodedLine encoded;
    std::string error;
    ASSERT_TRUE(encode_builtin_line(line, encoded, error)) << error;
    StampRequest r = testpdf::text_request(line);
    r.font_size = kSize;
    r.x = 50;
    r.y = 300;
    ASSERT_EQ(execute_stamp(in.c_str(), out.c_str(), &r), 1) << line;
    const std::vector<e2e::WordBox> words = e2e::word_boxes(out, 1);
    ASSERT_EQ(words.size(), 1u) << line;
    EXPECT_NEAR(words[0].x_max - words[0].x_min, encoded.width_units * kSize / 1000, 0.5) << line;
  }
  std::filesystem::remove(in);
  std::filesystem::remove(out);
}

}  // namespace
