// The font module: faces read, text mapped to glyphs, the embedded font
// program and the PDF objects. fontTools judges what is read from real
// fonts and the programs made from them; poppler and qpdf judge a page
// drawn with the objects; fonts made here carry the faults.
#include "font/font.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.h"
#include "support/e2e_oracles.h"
#include "support/font_maker.h"

namespace {

namespace fs = std::filesystem;
using testfont::FontRecipe;

constexpr const char *kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char *kDroid = "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf";
constexpr const char *kZenHei = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc";
constexpr const char *kNimbus = "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf";

std::span<const uint8_t> span_of(const std::string &bytes) {
  return {reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()};
}

// A font to try: a file of the system's, or one made here.
struct FontSource {
  const char *label;
  const char *path;  // nullptr: made by `make`
  std::string (*make)();
  int32_t index;
  const char *text;
  const char *pdf_type;  // the font's type as pdffonts names it
  bool subset;
};

std::string astral_font() {
  FontRecipe recipe;
  recipe.glyphs = {{}, {}, {}, {{1, 2}}};
  recipe.cmap = {{'A', 1}, {'B', 2}, {U'\U0001F600', 3}};
  recipe.cmap_format = 12;
  return testfont::make_font(recipe);
}

const FontSource kSources[] = {
    {"DejaVuLatinCyrillicGreek", kDejaVu, nullptr, 0, "Съешь же ещё abcdef Ωμέγα",
     "CID TrueType", true},
    {"DroidChinese", kDroid, nullptr, 0, "中文字符測試", "CID TrueType", true},
    {"ZenHeiSecondFace", kZenHei, nullptr, 1, "文泉驿正黑Zen", "CID TrueType", true},
    {"NimbusCff", kNimbus, nullptr, 0, "Hello Ωπ", "CID Type 0C (OT)", false},
    {"MadeBeyondTheBmp", nullptr, astral_font, 0, "AB\U0001F600", "CID TrueType", true},
};

void PrintTo(const FontSource &s, std::ostream *out) { *out << s.label; }

std::string source_bytes(const FontSource &s) {
  return s.path != nullptr ? testpdf::read_file(s.path) : s.make();
}

// Returns the python interpreter that has fontTools, or "" when none has.
const std::string &python_with_fonttools() {
  static const std::string found = [] {
    for (const char *candidate : {"python3", "/usr/bin/python3"}) {
      if (testtool::run({candidate, "-c", "import fontTools"}).ok()) return std::string(candidate);
    }
    return std::string();
  }();
  return found;
}

// Everything made from one source: the face, the text's glyphs, the program.
struct Made {
  std::string bytes;
  FontFace face;
  std::vector<uint16_t> glyphs;
  GlyphChars used;
  std::vector<uint8_t> program;
};

// Returns true when face `index` of m.bytes is read (as "test.ttf"), the
// text mapped to glyphs and the program made; false with the error set.
bool make_all(Made &m, int32_t index, const char *text) {
  clear_error();
  return read_font_face(span_of(m.bytes), index, "test.ttf", m.face) == 1 &&
         line_glyphs(m.face, text, m.glyphs, m.used) == 1 &&
         font_program(m.face, m.used, m.program) == 1;
}

class Sources : public ::testing::TestWithParam<FontSource> {
 protected:
  void SetUp() override {
    const FontSource &s = GetParam();
    if (s.path != nullptr && !fs::exists(s.path)) {
      if (e2e::tools_required())
        FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but " << s.path << " is absent";
      GTEST_SKIP() << s.path << " is absent (scripts/install-test-deps installs it)";
    }
    m_.bytes = source_bytes(s);
    ASSERT_TRUE(make_all(m_, s.index, s.text)) << error_text();
  }
  Made m_;
};

std::string temp_file(const std::string &name, std::span<const uint8_t> bytes) {
  const std::string path = testpdf::temp_path(name);
  testpdf::write_file(path, std::string(bytes.begin(), bytes.end()));
  return path;
}

// What the library reads from the face and the program it embeds, against fontTools.
TEST_P(Sources, AgreeWithFontTools) {
  const std::string &python = python_with_fonttools();
  if (python.empty()) {
    if (e2e::tools_required()) FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but fontTools is missing";
    GTEST_SKIP() << "no python3 with fontTools (python3-fonttools)";
  }
  const FontSource &s = GetParam();
  const std::string font = temp_file(std::string(s.label) + ".font", span_of(m_.bytes));
  const std::string program = temp_file(std::string(s.label) + ".program", m_.program);
  const testtool::ToolResult r = testtool::run(
      {python, FOLIMARK_FONT_ORACLE, font, std::to_string(s.index), s.text, program});
  fs::remove(font);
  fs::remove(program);
  ASSERT_TRUE(r.started && !r.timed_out) << r.err;
  std::istringstream out(r.out);
  size_t k = 0;
  for (std::string word; out >> word;) {
    if (word == "name") {
      std::string name;
      out >> name;
      EXPECT_EQ(m_.face.postscript_name, name);
    } else if (word == "upem") {
      unsigned upem = 0;
      out >> upem;
      EXPECT_EQ(m_.face.units_per_em, upem);
    } else if (word == "glyph") {
      unsigned long c = 0, g = 0, advance = 0;
      out >> c >> g >> advance;
      ASSERT_LT(k, m_.glyphs.size()) << r.out;
      EXPECT_EQ(m_.glyphs[k], g) << "U+" << std::hex << c;
      EXPECT_EQ(advance_units(m_.face, m_.glyphs[k]), advance) << "U+" << std::hex << c;
      ++k;
    } else if (word == "program") {
      std::string verdict;
      std::getline(out, verdict);
      EXPECT_EQ(verdict.substr(0, 4), " ok ") << verdict;
    }
  }
  EXPECT_EQ(k, m_.glyphs.size()) << r.out << r.err;
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

// The objects on a page: poppler gives the text back, places it by the
// widths, finds the font embedded and draws ink; qpdf finds the file sound.
TEST_P(Sources, DrawnSearchableAndEmbedded) {
  const std::string missing = e2e::missing_tools();
  if (!missing.empty() || !fs::exists(FOLIMARK_PDFFONTS)) {
    if (e2e::tools_required()) FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but tools are missing";
    GTEST_SKIP() << "needs qpdf, pdftotext, pdftoppm and pdffonts";
  }
  const FontSource &s = GetParam();
  const FontObjectNums nums{4, 5, 6, 7, 8};
  const FontPdfObjects o = font_pdf_objects(m_.face, m_.used, nums, m_.program.size());
  constexpr double kSize = 36, kX = 50, kY = 400;
  std::string shown = "<";
  double width = 0;
  for (const uint16_t g : m_.glyphs) {
    static const char digits[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4) shown += digits[(g >> shift) & 0xF];
    width += advance_thousandths(m_.face, g) * kSize / 1000;
  }
  shown += ">";
  const std::string content = "BT /F1 36 Tf 50 400 Td " + shown + " Tj ET";
  const std::string program(m_.program.begin(), m_.program.end());
  const std::string pdf = testpdf::build(
      {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
       {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
       {3, 0,
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R "
        ">> >> /Contents 9 0 R >>"},
       {4, 0, o.type0},
       {5, 0, o.cid_font},
       {6, 0, o.descriptor},
       {7, 0, testpdf::flate_stream(o.program_entries, program)},
       {8, 0, testpdf::flate_stream("", o.to_unicode)},
       {9, 0, testpdf::stream("", content)}},
      1);
  const std::string path = testpdf::temp_path(std::string(s.label) + ".pdf");
  testpdf::write_file(path, pdf);

  EXPECT_EQ(e2e::qpdf_problems(path), "");
  std::string text = e2e::page_text(path, 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\f')) text.pop_back();
  EXPECT_EQ(text, s.text);

  const std::vector<e2e::WordBox> words = e2e::word_boxes(path, 1);
  ASSERT_FALSE(words.empty());
  EXPECT_NEAR(words.front().x_min, kX, 0.5);
  EXPECT_NEAR(words.back().x_max, kX + width, 0.5);

  const std::string fonts = e2e::must_run({FOLIMARK_PDFFONTS, path}).out;
  const std::string row = fonts.substr(fonts.rfind('\n', fonts.size() - 2) + 1);
  EXPECT_NE(row.find(s.pdf_type), std::string::npos) << fonts;
  EXPECT_NE(row.find(s.subset ? "Identity-H       yes yes yes" : "Identity-H       yes no  yes"),
            std::string::npos)
      << fonts;
  EXPECT_EQ(row.find('+') != std::string::npos, s.subset) << fonts;

  const e2e::Raster r = e2e::render(path, 1, 72, true);
  const e2e::Rect page{0, 0, 612, 792};
  const double ascent = to_thousandths(m_.face, m_.face.ascent) * kSize / 1000;
  const double descent = to_thousandths(m_.face, m_.face.descent) * kSize / 1000;
  EXPECT_GT(e2e::share(r, page, {kX, kY + descent, kX + width, kY + ascent}, e2e::dark), 0.05);
  EXPECT_EQ(e2e::share(r, page, {0, kY + 2 * kSize, 612, 792}, e2e::dark), 0.0);
  fs::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Fonts, Sources, ::testing::ValuesIn(kSources),
                         [](const auto &p) { return std::string(p.param.label); });

// Refusals and damage: each case a font (or the text) that the reading, the
// mapping or the program must turn down with the code and words given.
struct Refusal {
  const char *label;
  std::string (*make)();
  int32_t index;
  const char *text;
  ErrorCode code;
  const char *words;
};

std::string plain_font() { return testfont::make_font({}); }

std::string restricted_licence() {
  FontRecipe recipe;
  recipe.fs_type = 0x0002;
  return testfont::make_font(recipe);
}

std::string no_character_map() {
  FontRecipe recipe;
  recipe.cmap_format = 0;
  return testfont::make_font(recipe);
}

std::string two_faces() { return testfont::make_collection({plain_font(), plain_font()}); }

std::string not_a_font() { return "%PDF-1.4\n%%EOF\n"; }

std::string table_outside_file() {
  std::string f = plain_font();
  const size_t at = f.find("glyf");
  testfont::poke32(f, at + 12, 0x10000000);
  return f;
}

// Every table record naming the whole file.
std::string overlapping_tables() {
  std::string f = plain_font();
  for (size_t record = 12; record < 12 + 16 * 10; record += 16) {
    testfont::poke32(f, record + 8, 0);
    testfont::poke32(f, record + 12, static_cast<uint32_t>(f.size()));
  }
  return f;
}

std::string no_units_per_em() {
  std::string f = plain_font();
  testfont::poke16(f, testfont::table_place(f, "head").first + 18, 0);
  return f;
}

std::string no_glyphs() {
  std::string f = plain_font();
  testfont::poke16(f, testfont::table_place(f, "maxp").first + 4, 0);
  return f;
}

std::string component_beyond_font() {
  FontRecipe recipe;
  recipe.glyphs = {{}, {{7}}, {}};
  return testfont::make_font(recipe);
}

// loca placing glyph 1 after glyph 2's start.
std::string loca_out_of_order() {
  std::string f = plain_font();
  const size_t loca = testfont::table_place(f, "loca").first;
  testfont::poke16(f, loca + 2, 0x7000);
  return f;
}

// The last component of glyph 1 says more follow.
std::string composite_cut_short() {
  FontRecipe recipe;
  recipe.glyphs = {{}, {{2}}, {}};
  std::string f = testfont::make_font(recipe);
  const size_t glyf = testfont::table_place(f, "glyf").first;
  const size_t loca = testfont::table_place(f, "loca").first;
  const size_t glyph1 =
      2 * (static_cast<uint8_t>(f[loca + 2]) << 8 | static_cast<uint8_t>(f[loca + 3]));
  testfont::poke16(f, glyf + glyph1 + 10, 0x0023);
  return f;
}

// Glyph 1 a composite of glyphs 3, 5, 7 and 9, each placed over the whole glyf table.
std::string outline_shared_too_often() {
  FontRecipe recipe;
  recipe.glyphs = {{}, {{3, 5, 7, 9}}, {}, {}, {}, {}, {}, {}, {}, {}};
  recipe.long_loca = true;
  std::string f = testfont::make_font(recipe);
  const auto [loca, loca_size] = testfont::table_place(f, "loca");
  const uint32_t end = static_cast<uint32_t>(testfont::table_place(f, "glyf").second);
  for (const size_t g : {3, 5, 7, 9}) {
    testfont::poke32(f, loca + 4 * g, 0);
    testfont::poke32(f, loca + 4 * g + 4, end);
  }
  return f;
}

const Refusal kRefusals[] = {
    {"RestrictedLicence", restricted_licence, 0, "A", ErrorCode::unsupported,
     "the font test.ttf may not be embedded: its licence restricts embedding"},
    {"NoUnicodeCharacterMap", no_character_map, 0, "A", ErrorCode::unsupported,
     "the font test.ttf has no Unicode character map"},
    {"FaceBeyondCollection", two_faces, 2, "A", ErrorCode::argument,
     "the font test.ttf holds no face 2: it holds 2"},
    {"FaceOfSingleFont", plain_font, 1, "A", ErrorCode::argument,
     "the font test.ttf holds no face 1: it holds 1"},
    {"NotAFont", not_a_font, 0, "A", ErrorCode::damaged,
     "test.ttf is not a TrueType or OpenType font"},
    {"TableOutsideFile", table_outside_file, 0, "A", ErrorCode::damaged,
     "the font test.ttf is damaged: a table lies outside the file"},
    {"TablesOverlap", overlapping_tables, 0, "A", ErrorCode::damaged, "its tables overlap"},
    {"NoUnitsPerEm", no_units_per_em, 0, "A", ErrorCode::damaged, "units per em are out of range"},
    {"NoGlyphs", no_glyphs, 0, "A", ErrorCode::damaged, "it holds no glyph"},
    {"CharacterMissing", plain_font, 0, "AB中", ErrorCode::unsupported,
     "character U+4E2D '中' is not in the font test.ttf"},
    {"TextNotUtf8", plain_font, 0, "A\xC3(", ErrorCode::argument,
     "the text is not UTF-8: byte 0xc3 at 1"},
    {"ComponentBeyondFont", component_beyond_font, 0, "A", ErrorCode::damaged,
     "glyph 1 names a glyph the font lacks"},
    {"LocaOutOfOrder", loca_out_of_order, 0, "A", ErrorCode::damaged,
     "glyph 1 lies outside the glyf table"},
    {"CompositeCutShort", composite_cut_short, 0, "A", ErrorCode::damaged,
     "glyph 1 is a composite cut short"},
    {"OutlineSharedTooOften", outline_shared_too_often, 0, "A", ErrorCode::damaged,
     "shares its outline with too many glyphs"},
};

void PrintTo(const Refusal &r, std::ostream *out) { *out << r.label; }

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, SayWhy) {
  const Refusal &c = GetParam();
  Made m;
  m.bytes = c.make();
  EXPECT_FALSE(make_all(m, c.index, c.text));
  EXPECT_EQ(thread_error().code, c.code);
  EXPECT_NE(std::string(error_text()).find(c.words), std::string::npos) << error_text();
}

INSTANTIATE_TEST_SUITE_P(Fonts, Refusals, ::testing::ValuesIn(kRefusals),
                         [](const auto &p) { return std::string(p.param.label); });

// Embedding permissions other than the restricted licence alone allow
// embedding: preview and print, editable, installable, and the restricted
// bit beside a looser one.
TEST(Permissions, LooserThanRestrictedAreEmbedded) {
  for (const unsigned fs_type : {0x0000, 0x0004, 0x0008, 0x0006, 0x0100, 0x0200}) {
    FontRecipe recipe;
    recipe.fs_type = static_cast<uint16_t>(fs_type);
    Made m;
    m.bytes = testfont::make_font(recipe);
    EXPECT_TRUE(make_all(m, 0, "AB")) << std::hex << fs_type << ": " << error_text();
  }
}

// Composite glyphs: components kept transitively (judged by fontTools),
// and a cycle of composites ends.
TEST(Composites, ComponentsKeptTransitively) {
  FontRecipe recipe;
  recipe.glyphs = {{}, {{2, 3}}, {}, {{4}}, {}, {}};
  recipe.cmap = {{'A', 1}, {'F', 5}};
  recipe.long_loca = true;
  Made m;
  m.bytes = testfont::make_font(recipe);
  ASSERT_TRUE(make_all(m, 0, "A")) << error_text();
  FontFace subset;
  ASSERT_EQ(read_font_face(m.program, 0, "subset", subset), 1) << error_text();
  EXPECT_EQ(subset.num_glyphs, 5);  // glyph 5 is after the last kept one
  EXPECT_EQ(subset.index_to_loc_format, 0);  // short offsets suffice
  EXPECT_EQ(glyph_of(subset, 'A'), 1);
  EXPECT_EQ(glyph_of(subset, 'F'), 0);

  const std::string &python = python_with_fonttools();
  if (python.empty()) GTEST_SKIP() << "no python3 with fontTools (python3-fonttools)";
  const std::string font = temp_file("composites.ttf", span_of(m.bytes));
  const std::string made = temp_file("composites.program", m.program);
  const testtool::ToolResult r =
      testtool::run({python, FOLIMARK_FONT_ORACLE, font, "0", "A", made});
  EXPECT_NE(r.out.find("program ok 5"), std::string::npos) << r.out << r.err;
  fs::remove(font);
  fs::remove(made);
}

TEST(Composites, CycleEnds) {
  FontRecipe recipe;
  recipe.glyphs = {{}, {{2}}, {{1}}};
  Made m;
  m.bytes = testfont::make_font(recipe);
  EXPECT_TRUE(make_all(m, 0, "A")) << error_text();
}

// The subset's name: six capitals that follow the glyphs, so that the same
// stamp gives the same name and another subset another.
TEST(SubsetTag, FollowsTheGlyphs) {
  Made m;
  m.bytes = plain_font();
  ASSERT_TRUE(make_all(m, 0, "A")) << error_text();
  const std::string a = subset_tag(m.face, {{1, 'A'}});
  EXPECT_EQ(a, subset_tag(m.face, {{1, 'A'}}));
  EXPECT_NE(a, subset_tag(m.face, {{1, 'A'}, {2, 'B'}}));
  ASSERT_EQ(a.size(), 6u);
  for (const char c : a) EXPECT_TRUE(c >= 'A' && c <= 'Z') << a;
}

// Any byte of a small font flipped, zeroed, or the file cut there: reading,
// mapping, the program and the objects end with 1 or with an error, never a
// crash (the sanitizer build makes every read outside the bytes one).
TEST(Mutations, EveryByteFlippedZeroedOrCut) {
  FontRecipe recipe;
  recipe.glyphs = {{}, {{2, 3}}, {}, {{2}}};
  recipe.cmap = {{'A', 1}, {'B', 2}, {'C', 3}};
  const std::string good = testfont::make_font(recipe);
  recipe.cmap_format = 12;
  const std::string good12 = testfont::make_font(recipe);
  for (const std::string *original : {&good, &good12}) {
    for (size_t at = 0; at < original->size(); ++at) {
      for (int kind = 0; kind < 3; ++kind) {
        Made m;
        m.bytes = *original;
        if (kind == 0) m.bytes[at] = static_cast<char>(~m.bytes[at]);
        if (kind == 1) m.bytes[at] = 0;
        if (kind == 2) m.bytes.resize(at);
        if (make_all(m, 0, "ABC")) {
          font_pdf_objects(m.face, m.used, {1, 2, 3, 4, 5}, m.program.size());
          EXPECT_FALSE(m.program.empty());
        } else {
          EXPECT_NE(error_text()[0], '\0') << "byte " << at << " kind " << kind;
        }
      }
    }
  }
}

}  // namespace
