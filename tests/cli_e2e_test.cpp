// folimark-stamp end to end: the built tool run on documents Ghostscript
// made, its outputs judged by poppler (pdftotext's word boxes and text
// order, pdftoppm's pixels) and qpdf, its exit statuses and messages read
// from the process.
#include <folimark.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/e2e_oracles.h"
#include "support/pdf_builder.h"
#include "support/png_maker.h"
#include "support/run_tool.h"

namespace {

using namespace e2e;

// A word that no input contains, so that finding it means finding the stamp.
constexpr const char *kStamp = "FOLISTAMP";
constexpr double kMm = 72 / 25.4;

class CliE2e : public E2e {
 protected:
  // A one-page letter-sized document with a line of text near its top.
  std::string letter() { return ghostscript_pdf(dir(), "in", {{612, 792, {"Alpha bravo charlie"}, ""}}); }
};

ToolResult cli(const std::vector<std::string> &args) {
  std::vector<std::string> argv = {FOLIMARK_STAMP_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  return testtool::run(argv);
}

// Runs the tool with standard input read from `in` and standard output
// written to `out`, through the shell.
ToolResult cli_piped(const std::string &in, const std::string &out, const std::vector<std::string> &args) {
  std::vector<std::string> argv = {"sh", "-c", "i=$1 o=$2; shift 2; exec \"$0\" \"$@\" <\"$i\" >\"$o\"",
                                   FOLIMARK_STAMP_CLI, in, out};
  argv.insert(argv.end(), args.begin(), args.end());
  return testtool::run(argv);
}

// Returns the boxes of the stamp's word on a page.
std::vector<WordBox> stamp_boxes(const std::string &path, int page = 1) {
  std::vector<WordBox> found;
  for (const WordBox &w : word_boxes(path, page))
    if (w.text == kStamp) found.push_back(w);
  return found;
}

// Returns the stamp's one box on page 1 of a file the tool wrote with `args`.
WordBox stamped_box(const std::string &in, const std::string &out, std::vector<std::string> args) {
  args.insert(args.end(), {in, out, kStamp});
  const ToolResult r = cli(args);
  if (!r.ok()) throw std::runtime_error(testtool::describe(args, r));
  const std::vector<WordBox> boxes = stamp_boxes(out);
  if (boxes.size() != 1) throw std::runtime_error("expected one stamp in " + out);
  return boxes.front();
}

// Faults guarded: an option that does not reach the page, or lands
// elsewhere than it says.

// Where the stamp's box stands for each anchor, offset and unit, in
// pdftotext's terms: points from the top-left corner, y down. 612 x 792.
TEST_F(CliE2e, PlacementFollowsAnchorsOffsetsAndUnits) {
  const std::string in = letter();
  const struct {
    std::vector<std::string> args;
    std::function<void(const WordBox &)> check;
  } cases[] = {
      // The default: 36pt from the bottom-left corner.
      {{}, [](const WordBox &b) { EXPECT_NEAR(b.x_min, 36, 2); }},
      {{"--anchor", "top-right", "--x", "36", "--y", "36"},
       [](const WordBox &b) {
         EXPECT_NEAR(b.x_max, 612 - 36, 2);
         EXPECT_NEAR(b.y_min, 36, 2);
       }},
      {{"--anchor", "top-left", "--x", "1in", "--y", "20mm"},
       [](const WordBox &b) {
         EXPECT_NEAR(b.x_min, 72, 2);
         EXPECT_NEAR(b.y_min, 20 * kMm, 2);
       }},
      {{"--anchor", "bottom-right", "--x", "2cm", "--y", "0"},
       [](const WordBox &b) {
         EXPECT_NEAR(b.x_max, 612 - 20 * kMm, 2);
         EXPECT_GT(b.y_max, 792 - 12);
       }},
      {{"--anchor", "center", "--x", "0", "--y", "0"},
       [](const WordBox &b) {
         EXPECT_NEAR((b.x_min + b.x_max) / 2, 306, 2);
         EXPECT_NEAR((b.y_min + b.y_max) / 2, 396, 4);
       }},
      {{"--anchor", "top", "--x=0", "--y=1in"},
       [](const WordBox &b) {
         EXPECT_NEAR((b.x_min + b.x_max) / 2, 306, 2);
         EXPECT_NEAR(b.y_min, 72, 2);
       }},
      {{"--anchor", "right", "-x", "36", "-y", "0"},
       [](const WordBox &b) {
         EXPECT_NEAR(b.x_max, 612 - 36, 2);
         EXPECT_NEAR((b.y_min + b.y_max) / 2, 396, 4);
       }},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << n);
    const std::string out = dir() + "/placed-" + std::to_string(n++) + ".pdf";
    std::vector<std::string> args = {"text", "--size", "20"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    c.check(stamped_box(in, out, args));
    EXPECT_EQ(qpdf_problems(out), "");
  }
}

// A font size in millimetres or inches is the same size in points; double
// the size, double the width.
TEST_F(CliE2e, SizesTakeUnits) {
  const std::string in = letter();
  const WordBox points = stamped_box(in, dir() + "/pt.pdf", {"text", "--size", "72"});
  const WordBox inch = stamped_box(in, dir() + "/inch.pdf", {"text", "--size", "1in"});
  const WordBox half = stamped_box(in, dir() + "/mm.pdf", {"text", "--size", "12.7mm"});
  EXPECT_NEAR(inch.x_max - inch.x_min, points.x_max - points.x_min, 0.5);
  EXPECT_NEAR(inch.y_max - inch.y_min, points.y_max - points.y_min, 0.5);
  EXPECT_NEAR((points.x_max - points.x_min) / (half.x_max - half.x_min), 2, 0.02);
}

// Lines stand left, centred or right within the block.
TEST_F(CliE2e, AlignmentPlacesShorterLines) {
  const std::string in = letter();
  const struct {
    const char *align;
    std::function<double(const WordBox &)> edge;
  } cases[] = {{"left", [](const WordBox &b) { return b.x_min; }},
               {"center", [](const WordBox &b) { return (b.x_min + b.x_max) / 2; }},
               {"right", [](const WordBox &b) { return b.x_max; }}};
  for (const auto &c : cases) {
    const std::string out = dir() + "/" + c.align + ".pdf";
    const ToolResult r = cli({"text", "--align", c.align, "--x", "100", "--y", "300", in, out,
                              std::string(kStamp) + "\\nWW"});
    ASSERT_TRUE(r.ok()) << r.err;
    const std::vector<WordBox> words = word_boxes(out, 1);
    const auto find = [&](const std::string &t) {
      for (const WordBox &w : words)
        if (w.text == t) return w;
      throw std::runtime_error(t + " not found in " + out);
    };
    EXPECT_NEAR(c.edge(find(kStamp)), c.edge(find("WW")), 1.5) << c.align;
  }
}

// Rotated text reads along the page's height.
TEST_F(CliE2e, RotationTurnsTheText) {
  const WordBox b = stamped_box(letter(), dir() + "/out.pdf", {"text", "--rotation", "90", "--x", "300"});
  EXPECT_GT(b.y_max - b.y_min, 3 * (b.x_max - b.x_min));
}

// Colour names and opacity reach the pixels: the glyphs carry the colour,
// blended with the white page where the stamp is half transparent.
TEST_F(CliE2e, ColoursAndOpacityReachThePixels) {
  const std::string in = letter();
  const struct {
    std::vector<std::string> args;
    int red, green, blue;
  } cases[] = {{{"--color", "rebeccapurple"}, 102, 51, 153},
               {{"--color", "GRAY"}, 128, 128, 128},
               {{"--color", "#0f0"}, 0, 255, 0},
               {{"--color", "0,0,255", "--opacity", "0.5"}, 128, 128, 255}};
  int n = 0;
  for (const auto &c : cases) {
    const std::string out = dir() + "/colour-" + std::to_string(n++) + ".pdf";
    std::vector<std::string> args = {"text", "--size", "60", "--x", "100", "--y", "300"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const WordBox b = stamped_box(in, out, args);
    const Rect area{b.x_min, 792 - b.y_max, b.x_max, 792 - b.y_min};
    const double coloured = share(render(out, 1, 72, false), {0, 0, 612, 792}, area, [&](const unsigned char *p) {
      return std::abs(p[0] - c.red) < 12 && std::abs(p[1] - c.green) < 12 && std::abs(p[2] - c.blue) < 12;
    });
    EXPECT_GT(coloured, 0.15) << c.args[1];
  }
}

// --under draws the stamp before the page's own content, --page-space
// measures on the unrotated page.
TEST_F(CliE2e, LayerAndSpace) {
  const std::string in = letter();
  const auto raw_words = [](const std::string &path) {
    return words_of(must_run({tools().pdftotext, "-raw", "-enc", "UTF-8", path, "-"}).out);
  };
  const std::string over = dir() + "/over.pdf", under = dir() + "/under.pdf";
  ASSERT_TRUE(cli({"text", in, over, kStamp}).ok());
  ASSERT_TRUE(cli({"text", "--under", in, under, kStamp}).ok());
  // -raw keeps the words in the order the content draws them.
  EXPECT_EQ(raw_words(over).back(), kStamp);
  EXPECT_EQ(raw_words(under).front(), kStamp);
  EXPECT_EQ(qpdf_problems(under), "");

  // A page turned a quarter: 792 wide and 612 high as the reader sees it.
  const std::string turned = qpdf_variant(in, "turned", {"--rotate=+90"});
  const WordBox seen = stamped_box(turned, dir() + "/seen.pdf", {"text"});
  EXPECT_NEAR(seen.x_min, 36, 2);
  EXPECT_GT(seen.y_max, 612 - 60);
  const WordBox own = stamped_box(turned, dir() + "/own.pdf", {"text", "--page-space"});
  // The page's own bottom-left corner shows at the top left when turned clockwise.
  EXPECT_LT(own.y_max, 200);
  EXPECT_GT(own.y_max - own.y_min, own.x_max - own.x_min);
}

// Pictures sized by width or height in any unit keep their aspect ratio;
// without a size or scale a picture is as large as its resolution says.
TEST_F(CliE2e, PictureWidthAndHeight) {
  const std::string in = letter();
  testpng::Image black{20, 10, 0, 8, testpng::Bytes(200, 0), {}, std::nullopt};
  const std::string png = dir() + "/black.png";
  testpng::WriteOptions at_36_dpi;
  at_36_dpi.density = testpng::Density{1417, 1417, 1};  // pixels per metre: 2 pt per pixel
  const testpng::Bytes file = testpng::write_with_libpng(black, at_36_dpi);
  testpdf::write_file(png, std::string(file.begin(), file.end()));
  const struct {
    std::vector<std::string> args;
    double width, height;  // points
  } cases[] = {{{"--width", "50mm"}, 50 * kMm, 25 * kMm},
               {{"--height", "1in"}, 144, 72},
               {{"--width", "4cm", "--height", "1cm"}, 40 * kMm, 10 * kMm},
               {{"--scale", "3"}, 60, 30},
               {{"--opacity", "1"}, 40, 20}};
  int n = 0;
  for (const auto &c : cases) {
    const std::string out = dir() + "/picture-" + std::to_string(n++) + ".pdf";
    std::vector<std::string> args = {"image", "--x", "1in", "--y", "1in"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {in, out, png});
    const ToolResult r = cli(args);
    ASSERT_TRUE(r.ok()) << r.err;
    const Raster page = render(out, 1, 72, true);
    const Rect view{0, 0, 612, 792};
    const double x1 = 72 + c.width, y1 = 72 + c.height;
    EXPECT_GT(share(page, view, {73.5, 73.5, x1 - 1.5, y1 - 1.5}, dark), 0.99) << c.args[1];
    EXPECT_LT(share(page, view, {x1 + 1.5, 72, x1 + 4, y1}, dark), 0.01) << c.args[1];
    EXPECT_LT(share(page, view, {72, y1 + 1.5, x1, y1 + 4}, dark), 0.01) << c.args[1];
  }
}

// Page selections reach the library as written.
TEST_F(CliE2e, PageSelections) {
  const std::string in = ghostscript_pdf(dir(), "three", three_pages());
  const struct {
    const char *selection;
    std::vector<int> pages;
  } cases[] = {{"1-z:even", {2}}, {"x2", {1, 3}}, {"r1", {3}}, {"odd", {1, 3}}};
  int n = 0;
  for (const auto &c : cases) {
    const std::string out = dir() + "/pages-" + std::to_string(n++) + ".pdf";
    const ToolResult r = cli({"text", "--pages", c.selection, in, out, kStamp});
    ASSERT_TRUE(r.ok()) << r.err;
    for (int p = 1; p <= 3; ++p) {
      const bool wanted = std::find(c.pages.begin(), c.pages.end(), p) != c.pages.end();
      EXPECT_EQ(count_of(page_text(out, p), kStamp), wanted ? 1u : 0u) << c.selection << " page " << p;
    }
  }
}

// A date/time picture copies words between single quotes as they stand.
TEST_F(CliE2e, DateTimeWithQuotedWords) {
  const std::string out = dir() + "/out.pdf";
  const ToolResult r = cli({"datetime", "--color", "navy", letter(), out, "'RECEIVED' YYYY 'o''clock'"});
  ASSERT_TRUE(r.ok()) << r.err;
  const std::vector<std::string> words = words_of(page_text(out, 1));
  EXPECT_NE(std::find(words.begin(), words.end(), "RECEIVED"), words.end());
  EXPECT_NE(std::find(words.begin(), words.end(), "o'clock"), words.end());
}

// Faults guarded: the standard streams carrying anything but the document,
// or a different one than a file would.

TEST_F(CliE2e, StandardInputAndOutput) {
  const std::string in = letter();
  const std::string file = dir() + "/file.pdf", piped = dir() + "/piped.pdf";
  ASSERT_TRUE(cli({"text", "--color", "red", in, file, kStamp}).ok());
  const ToolResult r = cli_piped(in, piped, {"text", "--color", "red", "-", "-", kStamp});
  ASSERT_TRUE(r.ok()) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(testpdf::read_file(piped), testpdf::read_file(file));
  // Either stream alone.
  const std::string from_stdin = dir() + "/from-stdin.pdf", to_stdout = dir() + "/to-stdout.pdf";
  ASSERT_TRUE(cli_piped(in, "/dev/null", {"text", "--color", "red", "-", from_stdin, kStamp}).ok());
  EXPECT_EQ(testpdf::read_file(from_stdin), testpdf::read_file(file));
  ASSERT_TRUE(cli_piped("/dev/null", to_stdout, {"text", "--color", "red", in, "-", kStamp}).ok());
  EXPECT_EQ(testpdf::read_file(to_stdout), testpdf::read_file(file));
  // What is no PDF fails with nothing on standard output.
  const std::string nothing = dir() + "/nothing.pdf";
  const ToolResult bad = cli_piped("/dev/null", nothing, {"text", "-", "-", kStamp});
  EXPECT_EQ(bad.exit_code, 1) << bad.err;
  EXPECT_EQ(testpdf::read_file(nothing), "");
}

// Faults guarded: one bad file stopping the others, a failure without its
// file's name, or a wrong count or status.

TEST_F(CliE2e, SeveralFilesIntoAFolder) {
  const std::string a = ghostscript_pdf(dir(), "a", three_pages());
  const std::string b = ghostscript_pdf(dir(), "Größe b", three_pages());
  const std::string c = ghostscript_pdf(dir(), "c", three_pages());
  const std::string broken = write_doc(dir(), "broken", "%PDF-1.7\nnot a document\n");
  const std::string out = dir() + "/out";
  std::filesystem::create_directory(out);
  const ToolResult r = cli({"text", "-j", "2", "--output-dir", out, a, broken, b, c, kStamp});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  for (const char *name : {"a.pdf", "Größe b.pdf", "c.pdf"}) {
    const std::string stamped = out + "/" + name;
    ASSERT_TRUE(testpdf::file_exists(stamped)) << name;
    EXPECT_EQ(count_of(page_text(stamped, 3), kStamp), 1u) << name;
  }
  EXPECT_FALSE(testpdf::file_exists(out + "/broken.pdf"));
  const std::vector<std::string> lines = [&] {
    std::vector<std::string> l;
    std::istringstream s(r.err);
    for (std::string line; std::getline(s, line);) l.push_back(line);
    return l;
  }();
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_NE(lines[0].find(broken), std::string::npos) << r.err;
  EXPECT_EQ(lines[0].find(broken), lines[0].rfind(broken)) << "the name stands once: " << lines[0];
  EXPECT_EQ(lines[1], "folimark-stamp: stamped 3 of 4 files");
}

TEST_F(CliE2e, SeveralFilesInPlace) {
  const std::string a = ghostscript_pdf(dir(), "a", three_pages());
  const std::string b = ghostscript_pdf(dir(), "b", three_pages());
  const std::string absent = dir() + "/absent.pdf";
  const ToolResult r = cli({"text", "--jobs=2", "--in-place", "--pages", "2", a, absent, b, kStamp});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find(absent), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("stamped 2 of 3 files"), std::string::npos) << r.err;
  EXPECT_FALSE(testpdf::file_exists(absent));
  for (const std::string &path : {a, b}) {
    EXPECT_EQ(qpdf_problems(path), "");
    EXPECT_EQ(count_of(page_text(path, 2), kStamp), 1u) << path;
    EXPECT_EQ(count_of(page_text(path, 1), kStamp), 0u) << path;
  }
  // All well: status 0 and the count.
  const ToolResult again = cli({"datetime", "--in-place", a, b});
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(again.err, "folimark-stamp: stamped 2 of 2 files\n");
}

// Exit statuses and where each message goes.
TEST_F(CliE2e, ExitStatusesAndStreams) {
  const std::string in = letter();
  const std::string out = dir() + "/out.pdf";
  const struct {
    std::vector<std::string> args;
    int status;
    bool has_out, has_err;
    const char *err_part;
  } cases[] = {
      {{"text", in, out, kStamp}, 0, false, false, ""},
      {{"--help"}, 0, true, false, ""},
      {{"--version"}, 0, true, false, ""},
      {{}, 2, false, true, "COMMAND"},
      {{"text", in, out, "two", "words"}, 2, false, true, "quote"},
      {{"text", "--color", "bluish", in, out, kStamp}, 2, false, true, "#rrggbb"},
      {{"text", dir() + "/absent.pdf", out, kStamp}, 1, false, true, "absent.pdf"},
      {{"text", "--pages", "5", in, out, kStamp}, 1, false, true, "5"},
      {{"text", "--pages", "5-", in, out, kStamp}, 0, false, false, ""},
      {{"text", dir(), out, kStamp}, 1, false, true, "director"},
  };
  for (const auto &c : cases) {
    const ToolResult r = cli(c.args);
    const std::string what = c.args.empty() ? "(nothing)" : c.args.back();
    EXPECT_EQ(r.exit_code, c.status) << what << ": " << r.err;
    EXPECT_EQ(!r.out.empty(), c.has_out) << what << ": " << r.out;
    EXPECT_EQ(!r.err.empty(), c.has_err) << what << ": " << r.err;
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << what << ": " << r.err;
  }
  EXPECT_EQ(cli({"--version"}).out,
            std::string("folimark-stamp ") + folimark_version(nullptr, nullptr, nullptr) + "\n");
}

}  // namespace
