// Test-only oracles and producers for end-to-end tests: the outside tools
// that judge outputs (qpdf --check, pdftotext, pdftoppm) and make inputs
// (Ghostscript, qpdf), and a fixture giving each test its own directory.
// The tools' paths come from the compile definitions FOLIMARK_QPDF,
// FOLIMARK_PDFTOTEXT, FOLIMARK_PDFTOPPM and FOLIMARK_GS. POSIX only.
#pragma once

#include <folimark.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/pdf_builder.h"
#include "support/run_tool.h"

namespace e2e {

namespace fs = std::filesystem;
using testtool::ToolResult;

// The outside tools: oracles that judge outputs and producers that make inputs.
// MuPDF's mutool and poppler's pdfimages are optional: the tests that use
// them skip without them.

struct ToolPaths {
  std::string qpdf = FOLIMARK_QPDF;
  std::string pdftotext = FOLIMARK_PDFTOTEXT;
  std::string pdftoppm = FOLIMARK_PDFTOPPM;
  std::string gs = FOLIMARK_GS;
  std::string mutool = FOLIMARK_MUTOOL;
  std::string pdfimages = FOLIMARK_PDFIMAGES;
};

inline const ToolPaths &tools() {
  static const ToolPaths paths;
  return paths;
}

// Returns the names of the oracles and producers that this build did not find.
inline std::string missing_tools() {
  std::string missing;
  const std::pair<const char *, const std::string *> all[] = {{"qpdf", &tools().qpdf},
                                                              {"pdftotext", &tools().pdftotext},
                                                              {"pdftoppm", &tools().pdftoppm},
                                                              {"gs", &tools().gs}};
  for (const auto &[name, path] : all) {
    if (path->empty() || !fs::exists(*path))
      missing += std::string(missing.empty() ? "" : ", ") + name;
  }
  return missing;
}

inline bool tools_required() {
  const char *v = std::getenv("FOLIMARK_REQUIRE_TOOLS");
  return v != nullptr && *v != '\0';
}

// Skips the running test (fails it when FOLIMARK_REQUIRE_TOOLS is set) when
// the optional tool at path is absent; the caller returns when the test
// IsSkipped() or HasFatalFailure().
inline void need_tool(const std::string &path, const char *name) {
  if (!path.empty() && fs::exists(path)) return;
  if (tools_required()) FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but " << name << " is missing";
  GTEST_SKIP() << "this test needs " << name;
}

// Returns the result of a run that must succeed; throws with the command and
// its stderr otherwise.
inline ToolResult must_run(const std::vector<std::string> &argv) {
  ToolResult r = testtool::run(argv);
  if (!r.ok()) throw std::runtime_error(testtool::describe(argv, r));
  return r;
}

// Returns what is wrong with a PDF according to qpdf --check, or "" when
// qpdf finds it sound (exit 0 and no warning).
inline std::string qpdf_problems(const std::string &path) {
  const std::vector<std::string> argv = {tools().qpdf, "--check", path};
  const ToolResult r = testtool::run(argv);
  const bool warned =
      r.out.find("WARNING") != std::string::npos || r.err.find("WARNING") != std::string::npos;
  if (r.ok() && !warned) return "";
  return testtool::describe(argv, r) + "\n" + r.out.substr(0, 2000);
}

inline int page_count(const std::string &path) {
  const ToolResult r = must_run({tools().qpdf, "--show-npages", path});
  int n = -1;
  std::from_chars(r.out.data(), r.out.data() + r.out.size(), n);
  return n;
}

// Returns the content streams ("N G") of every page, as qpdf lists them.
inline std::vector<std::string> content_streams(const std::string &path) {
  const ToolResult r = must_run({tools().qpdf, "--show-pages", path});
  std::vector<std::string> found;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("    ", 0) != 0 || line.size() < 6 || line.substr(line.size() - 2) != " R")
      continue;
    found.push_back(line.substr(4, line.size() - 6));
  }
  return found;
}

// Returns a stream object's data as it is stored (no filter undone).
inline std::string raw_stream(const std::string &path, const std::string &num_gen) {
  std::string object = num_gen;
  object[object.find(' ')] = ',';
  return must_run({tools().qpdf, "--show-object=" + object, "--raw-stream-data", path}).out;
}

// Returns the text poppler extracts from one page (counted from 1), UTF-8.
inline std::string page_text(const std::string &path, int page) {
  const std::string p = std::to_string(page);
  return must_run({tools().pdftotext, "-enc", "UTF-8", "-f", p, "-l", p, path, "-"}).out;
}

inline std::vector<std::string> words_of(const std::string &text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

inline size_t count_of(const std::string &text, const std::string &needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Returns the words of `before` that `after` lacks, counting repeats.
inline std::vector<std::string> lost_words(const std::string &before, const std::string &after) {
  std::map<std::string, int> have;
  for (const std::string &w : words_of(after)) ++have[w];
  std::vector<std::string> lost;
  for (const std::string &w : words_of(before)) {
    if (have[w]-- <= 0) lost.push_back(w);
  }
  return lost;
}

inline double number_attr(const std::string &tag, const std::string &name) {
  const std::string key = name + "=\"";
  const size_t at = tag.find(key);
  if (at == std::string::npos) return -1;
  double v = -1;
  const char *start = tag.data() + at + key.size();
  std::from_chars(start, tag.data() + tag.size(), v);
  return v;
}

// One word as pdftotext -bbox places it: in points, from the top-left corner
// of the page's media box, y growing downwards.
struct WordBox {
  std::string text;
  double x_min = 0, y_min = 0, x_max = 0, y_max = 0;
};

inline std::vector<WordBox> word_boxes(const std::string &path, int page) {
  const std::string p = std::to_string(page);
  const std::string html =
      must_run({tools().pdftotext, "-bbox", "-enc", "UTF-8", "-f", p, "-l", p, path, "-"}).out;
  std::vector<WordBox> words;
  for (size_t at = html.find("<word "); at != std::string::npos; at = html.find("<word ", at + 1)) {
    const size_t close = html.find('>', at);
    const size_t end = html.find("</word>", close);
    if (close == std::string::npos || end == std::string::npos) break;
    const std::string tag = html.substr(at, close - at);
    words.push_back({html.substr(close + 1, end - close - 1), number_attr(tag, "xMin"),
                     number_attr(tag, "yMin"), number_attr(tag, "xMax"), number_attr(tag, "yMax")});
  }
  return words;
}

// A rendered page: one byte per pixel (gray) or three (RGB), rows from the top.
struct Raster {
  int width = 0, height = 0, channels = 1;
  double dpi = 0;
  std::vector<unsigned char> pixels;
  const unsigned char *at(int x, int y) const {
    return &pixels[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) *
                   static_cast<size_t>(channels)];
  }
};

// Returns the raster of a binary PGM (gray) or PPM file of 8-bit samples,
// which it removes; made_by names the renderer in errors.
inline Raster read_pnm(const std::string &file, bool gray, double dpi, const std::string &made_by) {
  const std::string bytes = testpdf::read_file(file);
  fs::remove(file);
  Raster r;
  r.channels = gray ? 1 : 3;
  r.dpi = dpi;
  // "P5\n<w> <h>\n255\n" then the samples (P6 for colour).
  std::istringstream head(bytes);
  std::string magic;
  int maxval = 0;
  head >> magic >> r.width >> r.height >> maxval;
  const size_t data_at = static_cast<size_t>(head.tellg()) + 1;
  const size_t size = static_cast<size_t>(r.width) * static_cast<size_t>(r.height) *
                      static_cast<size_t>(r.channels);
  if (magic != (gray ? "P5" : "P6") || maxval != 255 || bytes.size() < data_at + size)
    throw std::runtime_error("unexpected " + made_by + " output");
  r.pixels.assign(bytes.begin() + static_cast<long>(data_at),
                  bytes.begin() + static_cast<long>(data_at + size));
  return r;
}

// Returns one page rendered by pdftoppm: the whole media box.
inline Raster render(const std::string &path, int page, int dpi, bool gray) {
  const std::string root = path + ".render-" + std::to_string(page);
  const std::string p = std::to_string(page);
  std::vector<std::string> argv = {tools().pdftoppm, "-r", std::to_string(dpi), "-f", p, "-l", p,
                                   "-singlefile"};
  if (gray) argv.push_back("-gray");
  argv.push_back(path);
  argv.push_back(root);
  must_run(argv);
  return read_pnm(root + (gray ? ".pgm" : ".ppm"), gray, dpi, "pdftoppm output for " + path);
}

// Returns one page rendered in RGB by MuPDF's mutool draw: the whole media box.
inline Raster render_with_mutool(const std::string &path, int page, int dpi) {
  const std::string file = path + ".mutool-" + std::to_string(page) + ".ppm";
  must_run({tools().mutool, "draw", "-q", "-r", std::to_string(dpi), "-c", "rgb", "-o", file, path,
            std::to_string(page)});
  return read_pnm(file, false, dpi, "mutool draw output for " + path);
}

// A rectangle in PDF user space (points, y upwards).
struct Rect {
  double x0, y0, x1, y1;
};

// Returns the share of pixels inside `area` that satisfy `pick`, where the
// raster shows the page region `view` (its media box).
inline double share(const Raster &r, const Rect &view, const Rect &area,
             const std::function<bool(const unsigned char *)> &pick) {
  const double s = r.dpi / 72.0;
  const int px0 = std::max(0, static_cast<int>((area.x0 - view.x0) * s));
  const int px1 = std::min(r.width, static_cast<int>((area.x1 - view.x0) * s));
  const int py0 = std::max(0, static_cast<int>((view.y1 - area.y1) * s));
  const int py1 = std::min(r.height, static_cast<int>((view.y1 - area.y0) * s));
  long hits = 0, total = 0;
  for (int y = py0; y < py1; ++y)
    for (int x = px0; x < px1; ++x, ++total) hits += pick(r.at(x, y)) ? 1 : 0;
  return total == 0 ? 0 : static_cast<double>(hits) / static_cast<double>(total);
}

inline bool dark(const unsigned char *p) { return p[0] < 128; }

// Returns the output with every stream decoded and laid out by qpdf, for
// looking at the stamp's operators and objects as text.
inline std::string qdf_text(const std::string &path) {
  return must_run({tools().qpdf, "--qdf", "--object-streams=disable", path, "-"}).out;
}

// Input documents, written at run time.

struct PsPage {
  double width = 612, height = 792;
  std::vector<std::string> lines;  // shown top-down from 72, height - 92
  std::string crop_box;            // e.g. "[50 60 400 500]", or empty
};

// Returns the path of a PDF that Ghostscript made from the PostScript program ps.
inline std::string ghostscript_pdf_of(const std::string &dir, const std::string &name,
                                      const std::string &ps) {
  const std::string ps_path = dir + "/" + name + ".ps";
  const std::string pdf_path = dir + "/" + name + ".pdf";
  testpdf::write_file(ps_path, ps);
  must_run({tools().gs, "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite",
            "-sOutputFile=" + pdf_path, ps_path});
  return pdf_path;
}

// Returns the path of a PDF that Ghostscript made from a PostScript program
// drawing the given pages.
inline std::string ghostscript_pdf(const std::string &dir, const std::string &name,
                            const std::vector<PsPage> &pages) {
  std::string ps = "%!PS\n";
  for (const PsPage &p : pages) {
    ps += "<< /PageSize [" + std::to_string(p.width) + " " + std::to_string(p.height) +
          "] >> setpagedevice\n";
    if (!p.crop_box.empty()) ps += "[ /CropBox " + p.crop_box + " /PAGE pdfmark\n";
    ps += "/Helvetica findfont 14 scalefont setfont\n";
    double y = p.height - 92;
    for (const std::string &line : p.lines) {
      ps += "72 " + std::to_string(y) + " moveto (" + line + ") show\n";
      y -= 20;
    }
    ps += "showpage\n";
  }
  return ghostscript_pdf_of(dir, name, ps);
}

inline std::vector<PsPage> three_pages() {
  return {{612, 792, {"Alpha bravo charlie", "delta echo"}, ""},
          {612, 792, {"Foxtrot golf hotel", "india juliett kilo"}, ""},
          {792, 612, {"Lima mike november"}, ""}};
}

// Returns the path of a copy of `in` rewritten by qpdf with the given options.
inline std::string qpdf_variant(const std::string &in, const std::string &name,
                         const std::vector<std::string> &options) {
  const std::string out = fs::path(in).parent_path().string() + "/" + name + ".pdf";
  std::vector<std::string> argv = {tools().qpdf};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(in);
  argv.push_back(out);
  must_run(argv);
  return out;
}

inline std::string write_doc(const std::string &dir, const std::string &name, const std::string &bytes) {
  const std::string path = dir + "/" + name + ".pdf";
  testpdf::write_file(path, bytes);
  return path;
}

class E2e : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = missing_tools();
    if (!missing.empty()) {
      if (tools_required())
        FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but these are missing: " << missing;
      GTEST_SKIP() << "end-to-end tests need " << missing;
    }
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = (fs::temp_directory_path() /
            ("folimark-e2e-" + std::to_string(static_cast<long>(getpid()))) / name)
               .string();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    folimark_init();
  }
  void TearDown() override {
    if (dir_.empty()) return;
    if (HasFailure() || std::getenv("FOLIMARK_KEEP_E2E") != nullptr)
      std::cerr << "files of the test kept in " << dir_ << "\n";
    else
      fs::remove_all(dir_);
  }

  const std::string &dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace e2e
