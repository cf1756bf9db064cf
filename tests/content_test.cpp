// The stamping stage: the stamp's operators byte for byte, the escaping of
// text, the numbering of new objects, how old content is isolated as it
// stands, which pages share new streams, and the fallbacks for content that
// cannot be read and streams that cannot be compressed.
#include "pdf/content.h"
#include "pdf/text_font.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/error.h"
#include "pdf/dict_edit.h"
#include "pdf/load.h"
#include "pdf/page_tree.h"
#include "pdf/pdf_doc.h"
#include "support/pdf_builder.h"
#include "support/stamp_fixture.h"

using testpdf::Object;

namespace {

Bytes bytes_of(const std::string &s) {
  return {reinterpret_cast<const uint8_t *>(s.data()), s.size()};
}

std::string text_ops(const StampRequest &r, int32_t gs_num = 2, float x = 0, float y = 0) {
  ByteBuf ops;
  text_operators(ops, r, gs_num, x, y);
  return testpdf::buf_text(ops);
}

// Returns the line as the built-in font shows it: the escaped codes of each
// run, those of the extra font between braces; or "error: " and why.
std::string escaped(const std::string &line) {
  EncodedLine encoded;
  std::string error;
  if (!encode_builtin_line(line, encoded, error)) return "error: " + error;
  ByteBuf ops;
  for (const TextRun &run : encoded.runs) {
    if (run.font == RunFont::extra) buf_str(ops, "{");
    append_literal_codes(ops, run.codes);
    if (run.font == RunFont::extra) buf_str(ops, "}");
  }
  return testpdf::buf_text(ops);
}

std::string octal(uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "\\%03o", b);
  return text;
}

// Objects 1 (catalog) and 2 (page tree) of a one-page document whose page is
// object 3 with the given /Contents entry (empty: none).
std::vector<Object> one_page(const std::string &contents) {
  return {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
          {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
          {3, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + contents + " >>"}};
}

struct Planned {
  PdfDoc doc;
  StampPlan plan;
  int result = 0;
};

// Loads the objects, lists the given page objects and builds the plan.
void plan_for(Planned &p, const std::vector<Object> &objects, const std::vector<int32_t> &pages,
              StampRequest request, DeflateFn deflate = tvl_deflate) {
  ASSERT_TRUE(testpdf::load_objects(objects, p.doc));
  for (int32_t num : pages) testpdf::add_page(p.doc, num, 2);
  p.result = build_stamp_plan(p.doc, request, p.plan, deflate);
}

// Returns the text compressed as a zlib stream.
std::string zlib_bytes(const std::string &text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef *>(out.data()), &size,
           reinterpret_cast<const Bytef *>(text.data()), static_cast<uLong>(text.size()));
  out.resize(size);
  return out;
}

int failing_deflate(const unsigned char *, size_t, unsigned char **, size_t *) { return -1; }

}  // namespace

// Operator text: every byte of the text stamp's operators.
TEST(StampOperators, TextExampleByteForByte) {
  StampRequest r = testpdf::text_request("Hi");
  r.color_r = 255;
  r.opacity = 0.5f;
  EXPECT_EQ(text_ops(r, 13, 100, 200),
            "\nq\n/GS_STAMP gs\n1.0000 0.0000 0.0000 rg\n1.0000 0.0000 0.0000 RG\n"
            "1.000000 0.000000 -0.000000 1.000000 100.00 200.00 cm\nBT\n/F_STAMP 12 Tf\n"
            "14.40 TL\n(Hi) Tj\nET\nQ\n");
}

// Operator text: matrix, font size, leading and colour numbers.
TEST(StampOperators, TextNumbers) {
  struct Case {
    const char *name;
    float rotation;
    int32_t font_size;
    int32_t r, g, b;
    const char *expected;
  };
  const Case cases[] = {
      {"rotation 0", 0, 12, 0, 0, 0, "1.000000 0.000000 -0.000000 1.000000 0.00 0.00 cm\n"},
      {"rotation 90", 90, 12, 0, 0, 0, "0.000000 1.000000 -1.000000 0.000000 0.00 0.00 cm\n"},
      {"rotation 180", 180, 12, 0, 0, 0, "-1.000000 0.000000 -0.000000 -1.000000 0.00 0.00 cm\n"},
      {"rotation 45", 45, 12, 0, 0, 0, "0.707107 0.707107 -0.707107 0.707107 0.00 0.00 cm\n"},
      {"size 0", 0, 0, 0, 0, 0, "BT\n/F_STAMP 24 Tf\n28.80 TL\n"},
      {"size -3", 0, -3, 0, 0, 0, "BT\n/F_STAMP 24 Tf\n28.80 TL\n"},
      {"size 10", 0, 10, 0, 0, 0, "BT\n/F_STAMP 10 Tf\n12.00 TL\n"},
      {"size 7", 0, 7, 0, 0, 0, "BT\n/F_STAMP 7 Tf\n8.40 TL\n"},
      {"colour clamp", 0, 12, -5, 300, 128, "0.0000 1.0000 0.5020 rg\n0.0000 1.0000 0.5020 RG\n"},
      {"colour 255", 0, 12, 255, 255, 0, "1.0000 1.0000 0.0000 rg\n"},
  };
  for (const Case &c : cases) {
    StampRequest r = testpdf::text_request("x");
    r.rotation = c.rotation;
    r.font_size = c.font_size;
    r.color_r = c.r;
    r.color_g = c.g;
    r.color_b = c.b;
    EXPECT_NE(text_ops(r).find(c.expected), std::string::npos) << c.name << ": " << text_ops(r);
  }
}

// Operator text: a rotation that is not a number must not make the stamp vanish.
TEST(StampOperators, NonFiniteRotationDrawsUnrotated) {
  StampRequest r = testpdf::text_request("x");
  r.rotation = std::numeric_limits<float>::quiet_NaN();
  EXPECT_NE(text_ops(r).find("1.000000 0.000000 -0.000000 1.000000 "), std::string::npos);
}

// Operator text: the graphics state line appears only with a graphics state.
TEST(StampOperators, GraphicsStateLineOnlyWithNumber) {
  const StampRequest r = testpdf::text_request("x");
  EXPECT_EQ(text_ops(r, 0).rfind("\nq\n1.0000", 0), std::string::npos);
  EXPECT_EQ(text_ops(r, 0).rfind("\nq\n0.0000", 0), 0u);
  EXPECT_EQ(text_ops(r, 5).rfind("\nq\n/GS_STAMP gs\n", 0), 0u);
}

// Line splitting: LF separates lines, a CR before it goes, a final LF adds nothing.
TEST(StampOperators, LineSplitting) {
  struct Case {
    const char *text;
    const char *shows;
  };
  const Case cases[] = {
      {"a\nb\n", "(a) Tj\nT* (b) Tj\n"},
      {"\nb", "() Tj\nT* (b) Tj\n"},
      {"a\r\nb", "(a) Tj\nT* (b) Tj\n"},
      {"a\n\nb", "(a) Tj\nT* () Tj\nT* (b) Tj\n"},
      {"\n", "() Tj\n"},
      {"a\r", "(a) Tj\n"},
      {"a\rb", "(ab) Tj\n"},  // a CR inside a line is a control character
      {"", ""},
      {nullptr, ""},
  };
  for (const Case &c : cases) {
    const std::string ops = text_ops(testpdf::text_request(c.text));
    const size_t from = ops.find(" TL\n") + 4;
    const size_t to = ops.find("ET\nQ\n");
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(ops.substr(from, to - from), c.shows) << (c.text ? c.text : "(null)");
    EXPECT_EQ(ops.substr(to), "ET\nQ\n");
  }
}

// Encoding: delimiters, controls, Latin-1 pairs, stray bytes, the extra
// font's letters and characters no built-in font has.
TEST(TextEncoding, Table) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"(x)\\", "\\(x\\)\\\\"},
      {"a\tb", "a b"},  // a tab is a space
      {std::string("a\x01\x1f\x7f"
                   "b"),
       "ab"},
      {std::string("a\0b", 3), "ab"},
      {" ~", " ~"},
      {"\xC3\xA9", "\\351"},  // U+00E9 in UTF-8
      {"\xE9", "\\351"},      // a lone Latin-1 byte stands for itself
      {"\xC2\xA0", "\\240"},  // U+00A0
      {"\xC2\x80", ""},        // U+0080, a control character
      {"\xC3\x80", "\\300"},
      {"\xC3\xBF", "\\377"},
      {"\xC3\xC0", "\\303\\300"},  // not a pair: each byte alone
      {"\xC2\xC0", "\\302\\300"},
      {"\xC3", "\\303"},  // at the end of the line
      {"\xC3"
       "A",
       "\\303A"},
      {"\xE2\x82", "\\342\\202"},      // cut after two bytes
      {"\xE2\x82\x41", "\\342\\202A"},  // not a continuation byte
      {"\xC0\xAF", "\\300\\257"},      // an overlong form is not a character
      {"\xE2\x82\xAC", "\\200"},       // the euro sign is WinAnsi 0x80
      {"\xC5\x81\xC3\xB3" "d\xC5\xBA", "{\\012}\\363d{;}"},  // Łódź
      {"\xC5\x91", "{@}"},                                    // ő
      {"\xC8\x9B", "{]}"},                                    // ț as ţ's glyph
      {"\xE2\x88\x92", "{[}"},                                // minus sign
      {"\xE4\xB8\xAD", "error: character U+4E2D '\xE4\xB8\xAD' is not in the built-in font; give a font file"},
      {"\xF0\x9F\x98\x80", "error: character U+1F600 '\xF0\x9F\x98\x80' is not in the built-in font; give a font file"},
      {"\xE2\x82\xAB", "error: character U+20AB '\xE2\x82\xAB' is not in the built-in font; give a font file"},
  };
  for (const Case &c : cases) EXPECT_EQ(escaped(c.in), c.out) << c.in;
}

// WinAnsi: each of the 27 characters at 0x80-0x9F becomes its code byte.
TEST(TextEscape, WinAnsiHighCharacters) {
  struct Case {
    const char *utf8;
    uint8_t code;
  };
  const Case cases[] = {
      {"\xE2\x82\xAC", 0x80}, {"\xE2\x80\x9A", 0x82}, {"\xC6\x92", 0x83},
      {"\xE2\x80\x9E", 0x84}, {"\xE2\x80\xA6", 0x85}, {"\xE2\x80\xA0", 0x86},
      {"\xE2\x80\xA1", 0x87}, {"\xCB\x86", 0x88},     {"\xE2\x80\xB0", 0x89},
      {"\xC5\xA0", 0x8A},     {"\xE2\x80\xB9", 0x8B}, {"\xC5\x92", 0x8C},
      {"\xC5\xBD", 0x8E},     {"\xE2\x80\x98", 0x91}, {"\xE2\x80\x99", 0x92},
      {"\xE2\x80\x9C", 0x93}, {"\xE2\x80\x9D", 0x94}, {"\xE2\x80\xA2", 0x95},
      {"\xE2\x80\x93", 0x96}, {"\xE2\x80\x94", 0x97}, {"\xCB\x9C", 0x98},
      {"\xE2\x84\xA2", 0x99}, {"\xC5\xA1", 0x9A},     {"\xE2\x80\xBA", 0x9B},
      {"\xC5\x93", 0x9C},     {"\xC5\xBE", 0x9E},     {"\xC5\xB8", 0x9F},
  };
  static_assert(sizeof cases / sizeof cases[0] == 27);
  for (const Case &c : cases) {
    EXPECT_EQ(escaped(c.utf8), octal(c.code)) << octal(c.code);
    std::string in = "a", out = "a";
    in += c.utf8;
    in += 'b';
    out += octal(c.code);
    out += 'b';
    EXPECT_EQ(escaped(in), out);
  }
}

// Operator text: the image stamp's operators, with and without scales and
// opacity.
TEST(StampOperators, ImageOperators) {
  struct Case {
    int32_t w, h;
    float scale_x, scale_y;
    int32_t gs;
    float x, y;
    const char *expected;
  };
  const Case cases[] = {
      {100, 50, 0, 0, 0, 10, 20, "\nq\n100.0000 0 0 50.0000 10.00 20.00 cm\n/Im_STAMP Do\nQ\n"},
      {100, 50, -1, -1, 0, 0, 0, "\nq\n100.0000 0 0 50.0000 0.00 0.00 cm\n/Im_STAMP Do\nQ\n"},
      {100, 50, 0.5f, 0.5f, 7, 1.5f, 2.25f,
       "\nq\n/GS_STAMP gs\n50.0000 0 0 25.0000 1.50 2.25 cm\n/Im_STAMP Do\nQ\n"},
      {100, 50, 0.5f, 2, 0, 0, 0, "\nq\n50.0000 0 0 100.0000 0.00 0.00 cm\n/Im_STAMP Do\nQ\n"},
      {100, 50, 0, 2, 0, 0, 0, "\nq\n100.0000 0 0 100.0000 0.00 0.00 cm\n/Im_STAMP Do\nQ\n"},
  };
  for (const Case &c : cases) {
    StampRequest r = testpdf::image_request(c.w, c.h, 1.0f, false);
    r.image_scale_x = c.scale_x;
    r.image_scale_y = c.scale_y;
    ByteBuf ops;
    image_operators(ops, r, c.gs, c.x, c.y);
    EXPECT_EQ(testpdf::buf_text(ops), c.expected);
  }
}

// Numbering: the new objects of text and image stamps, above the input's
// largest number, then the opener and the closer of the page's old content.
TEST(StampPlan, ObjectNumbering) {
  struct Case {
    const char *name;
    bool image;
    float opacity;
    bool alpha;
    int32_t font, gs, smask, image_num, opener;
  };
  // The input's largest object number is 4.
  const Case cases[] = {
      {"text", false, 1.0f, false, 5, 6, 0, 0, 7},
      {"text, transparent", false, 0.3f, false, 5, 6, 0, 0, 7},
      {"image opaque", true, 1.0f, false, 0, 0, 0, 5, 6},
      {"image 0.5 alpha", true, 0.5f, true, 0, 5, 6, 7, 8},
      {"image opaque alpha", true, 1.0f, true, 0, 0, 5, 6, 7},
      {"image 0.9995", true, 0.9995f, false, 0, 0, 0, 5, 6},
      {"image 0.998", true, 0.998f, false, 0, 5, 0, 6, 7},
  };
  for (const Case &c : cases) {
    auto objects = one_page("/Contents 4 0 R");
    objects.push_back({4, 0, testpdf::stream("", "0 g")});
    const StampRequest r =
        c.image ? testpdf::image_request(4, 4, c.opacity, c.alpha) : testpdf::text_request("x");
    StampRequest req = r;
    req.opacity = c.opacity;
    Planned p;
    plan_for(p, objects, {3}, req);
    ASSERT_EQ(p.result, 1) << c.name;
    EXPECT_EQ(p.plan.nums.font_num, c.font) << c.name;
    EXPECT_EQ(p.plan.nums.gs_num, c.gs) << c.name;
    EXPECT_EQ(p.plan.nums.smask_num, c.smask) << c.name;
    EXPECT_EQ(p.plan.nums.image_num, c.image_num) << c.name;
    EXPECT_EQ(p.plan.nums.last_num, c.opener + 1) << c.name;
    const std::string o = std::to_string(c.opener);
    EXPECT_EQ(p.plan.pages[0].contents_value, "[" + o + " 0 R 4 0 R " +
                                                  std::to_string(c.opener + 1) + " 0 R]")
        << c.name;
  }
}

// Selection: only selected pages change; pages that need the same bytes
// share one stream.
TEST(StampPlan, SelectionAndSharing) {
  std::vector<Object> objects = {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
                                 {2, 0, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>"}};
  for (int n = 3; n <= 5; ++n) objects.push_back({n, 0, "<< /Type /Page /Parent 2 0 R >>"});
  const std::vector<std::vector<int32_t>> cases = {{2, 2}, {3, 1}, {}};
  for (const auto &pages : cases) {
    StampRequest r = testpdf::text_request("x");
    r.pages = pages.empty() ? nullptr : pages.data();
    r.page_count = static_cast<int32_t>(pages.size());
    Planned p;
    plan_for(p, objects, {3, 4, 5}, r);
    ASSERT_EQ(p.result, 1);
    ASSERT_EQ(p.plan.streams.size(), 1u);  // the stamp alone, shared
    for (size_t k = 0; k < 3; ++k) {
      const bool selected = pages.empty() || std::count(pages.begin(), pages.end(), k + 1) > 0;
      EXPECT_EQ(p.plan.pages[k].selected, selected) << k;
      EXPECT_EQ(p.plan.pages[k].contents_value, selected ? "8 0 R" : "") << k;
      EXPECT_EQ(p.plan.pages[k].resources.empty(), !selected) << k;
    }
  }
}

// Opacity: clamped in place to 0..1; a value that is not a number counts as opaque.
TEST(StampPlan, OpacityClamp) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float cases[][2] = {{-0.5f, 0.0f}, {1.5f, 1.0f}, {0.25f, 0.25f}, {nan, 1.0f}};
  for (const auto &c : cases) {
    Planned p;
    ASSERT_TRUE(testpdf::load_objects(one_page(""), p.doc));
    testpdf::add_page(p.doc, 3, 2);
    StampRequest r = testpdf::image_request(2, 2, c[0], false);
    ASSERT_EQ(build_stamp_plan(p.doc, r, p.plan), 1);
    EXPECT_EQ(r.opacity, c[1]);
    EXPECT_EQ(p.plan.nums.gs_num != 0, c[1] < 0.999f);
  }
}

// Position: the origin is the page box corner plus the request's offset.
TEST(StampPlan, OriginFromPageBox) {
  Planned p;
  ASSERT_TRUE(testpdf::load_objects(one_page(""), p.doc));
  testpdf::add_page(p.doc, 3, 2, -1, 10.5, 20);
  StampRequest r = testpdf::text_request("x", 100, 200);
  ASSERT_EQ(build_stamp_plan(p.doc, r, p.plan), 1);
  EXPECT_NE(testpdf::last_stream_text(p.plan, p.plan.pages[0]).find(" 110.50 220.00 cm\n"),
            std::string::npos);
}

// Old content: named as it stands between the opener and the closer, which
// ends everything the content leaves open.
TEST(StampPlan, OldContentIsolated) {
  struct Case {
    const char *name;
    std::string contents;
    std::vector<Object> extra;
    const char *old_refs;  // what the page's new /Contents names between the two
    std::string opener;
    std::string closer;  // the closing stream's bytes before the stamp's operators
  };
  const Case cases[] = {
      {"one stream", "/Contents 4 0 R", {{4, 0, testpdf::stream("", "BT (a) Tj ET")}}, "4 0 R",
       "q\n", "\nQ\n"},
      {"flate stream", "/Contents 4 0 R", {{4, 0, testpdf::flate_stream("", "q")}}, "4 0 R",
       "q\n", "\nQ\nQ\n"},
      {"inline array, generations kept",
       "/Contents [4 0 R 5 1 R 1 0 R 6 0 R]",
       {{4, 0, testpdf::stream("", "0 g")},
        {5, 1, testpdf::flate_stream("", "1 g")},
        {6, 0, testpdf::stream("", "2 g")}},
       "4 0 R 5 1 R 6 0 R", "q\n", "\nQ\n"},
      {"indirect array",
       "/Contents 9 0 R",
       {{4, 0, testpdf::stream("", "q")}, {5, 0, testpdf::stream("", "q")}, {9, 0, "[4 0 R 5 0 R]"}},
       "4 0 R 5 0 R", "q\n", "\nQ\nQ\nQ\n"},
      {"empty member kept", "/Contents [4 0 R 5 0 R]",
       {{4, 0, testpdf::stream("", "")}, {5, 0, testpdf::stream("", "1 g")}}, "4 0 R 5 0 R", "q\n",
       "\nQ\n"},
      {"extra Q", "/Contents 4 0 R", {{4, 0, testpdf::stream("", "Q Q 0 g")}}, "4 0 R",
       "q\nq\nq\n", "\nQ\n"},
      {"extra Q then open q", "/Contents 4 0 R", {{4, 0, testpdf::stream("", "Q q q")}}, "4 0 R",
       "q\nq\n", "\nQ\nQ\nQ\n"},
      {"open marked content and text", "/Contents 4 0 R",
       {{4, 0, testpdf::stream("", "/OC /L BDC q /Span BMC BT /F1 9 Tf")}}, "4 0 R", "q\n",
       "\nET\nEMC\nEMC\nQ\nQ\n"},
      {"unterminated array", "/Contents 4 0 R", {{4, 0, testpdf::stream("", "0 g [ /oops")}},
       "4 0 R", "q\n", "\n]\nQ\n"},
      {"unterminated inline image", "/Contents 4 0 R",
       {{4, 0, testpdf::stream("", "q BI /W 1 /H 1 ID \x01\x02")}}, "4 0 R", "q\n",
       "\nEI\nQ\nQ\n"},
      {"own /Contents after an inline annotation's",
       "/Annots [<< /Contents (note) >>] /Contents 4 0 R", {{4, 0, testpdf::stream("", "0 g")}},
       "4 0 R", "q\n", "\nQ\n"},
  };
  for (const Case &c : cases) {
    auto objects = one_page(c.contents);
    objects.insert(objects.end(), c.extra.begin(), c.extra.end());
    Planned p;
    plan_for(p, objects, {3}, testpdf::text_request("S"));
    ASSERT_EQ(p.result, 1) << c.name;
    // The font, the graphics state, then the opener and the closer.
    const int32_t gs = p.plan.nums.gs_num;
    const std::string ops = text_ops(testpdf::text_request("S"), gs);
    std::string expected(1, '[');
    expected += std::to_string(gs + 1);
    expected += " 0 R ";
    expected += c.old_refs;
    expected += ' ';
    expected += std::to_string(gs + 2);
    expected += " 0 R]";
    EXPECT_EQ(p.plan.pages[0].contents_value, expected) << c.name;
    ASSERT_EQ(p.plan.streams.size(), 2u) << c.name;
    EXPECT_EQ(testpdf::stream_text(p.plan.streams[0]), c.opener) << c.name;
    EXPECT_EQ(testpdf::stream_text(p.plan.streams[1]), c.closer + ops) << c.name;
  }
}

// Pages without old content get the stamp's stream alone.
TEST(StampPlan, PagesWithoutContentGetTheStampAlone) {
  const std::pair<const char *, std::vector<Object>> cases[] = {
      {"", {}},
      {"/Contents 0 0 R", {}},
      {"/Contents (abc)", {}},
      {"/Contents 99 0 R", {{4, 0, "<< >>"}}},
      {"/Contents 4 0 R", {{4, 0, "<< /A 1 >>"}}},
      {"/Contents 4 0 R", {{4, 0, testpdf::stream("", "")}}},
  };
  for (const auto &[contents, extra] : cases) {
    auto objects = one_page(contents);
    objects.insert(objects.end(), extra.begin(), extra.end());
    Planned p;
    plan_for(p, objects, {3}, testpdf::text_request("S"));
    ASSERT_EQ(p.result, 1) << contents;
    const int32_t stamp = p.plan.nums.gs_num + 1;
    EXPECT_EQ(p.plan.pages[0].contents_value, std::to_string(stamp) + " 0 R") << contents;
    EXPECT_EQ(testpdf::last_stream_text(p.plan, p.plan.pages[0]),
              text_ops(testpdf::text_request("S"), p.plan.nums.gs_num))
        << contents;
  }
}

// Like pages share the opener and the closer; a page whose content leaves
// something else open gets its own closer.
TEST(StampPlan, LikePagesShareTwoStreams) {
  const std::vector<Object> objects = {
      {1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
      {2, 0, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /Count 4 >>"},
      {3, 0, "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>"},
      {4, 0, "<< /Type /Page /Parent 2 0 R /Contents 8 0 R >>"},
      {5, 0, "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>"},
      {6, 0, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>"},
      {7, 0, testpdf::stream("", "0 g")},
      {8, 0, testpdf::flate_stream("", "1 g")},
      {9, 0, testpdf::stream("", "q 2 g")},
  };
  Planned p;
  plan_for(p, objects, {3, 4, 5, 6}, testpdf::text_request("S"));
  ASSERT_EQ(p.result, 1);
  // Font 10, graphics state 11, opener 12, closers 13 and 14.
  EXPECT_EQ(p.plan.pages[0].contents_value, "[12 0 R 7 0 R 13 0 R]");
  EXPECT_EQ(p.plan.pages[1].contents_value, "[12 0 R 8 0 R 13 0 R]");
  EXPECT_EQ(p.plan.pages[2].contents_value, "[12 0 R 7 0 R 13 0 R]");
  EXPECT_EQ(p.plan.pages[3].contents_value, "[12 0 R 9 0 R 14 0 R]");
  EXPECT_EQ(p.plan.streams.size(), 3u);
  EXPECT_EQ(p.plan.nums.last_num, 14);
}

// Old content that cannot be read in full: one stream is drawn as a form
// holding its stored bytes and filters; several keep the opener and closer.
TEST(StampPlan, UnreadableContent) {
  const std::string bad_flate = "\x78\x9c\xff\xff\xff\xff garbage";
  struct Case {
    const char *name;
    std::string dict;
    std::string data;
    const char *filter_entries;  // as the form states them
  };
  const Case cases[] = {
      {"DCT", "/Filter /DCTDecode", "\xff\xd8\xff\xd9", " /Filter /DCTDecode"},
      {"damaged flate", "/Filter /FlateDecode /DecodeParms << /Predictor 1 >>", bad_flate,
       " /Filter /FlateDecode /DecodeParms << /Predictor 1 >>"},
      {"indirect filter", "/Filter 2 0 R", "0 g", " /Filter 2 0 R"},
      {"unknown filter", "/Filter [/Nonsense]", "0 g", " /Filter [/Nonsense]"},
  };
  for (const Case &c : cases) {
    auto objects = one_page("/Contents 4 0 R /Resources << /Font << /F1 9 0 R >> >>");
    objects.push_back({4, 0, testpdf::stream(c.dict, c.data)});
    Planned p;
    plan_for(p, objects, {3}, testpdf::text_request("S"));
    ASSERT_EQ(p.result, 1) << c.name;
    // Font 10, graphics state 11, the form 12, the page's stream 13.
    ASSERT_EQ(p.plan.streams.size(), 2u) << c.name;
    const NewStream &form = p.plan.streams[0];
    EXPECT_EQ(form.num, 12) << c.name;
    EXPECT_EQ(form.entries,
              std::string(" /Type /XObject /Subtype /Form /BBox [-32767 -32767 32767 32767] "
                          "/Resources << /Font << /F1 9 0 R >> >>") +
                  c.filter_entries)
        << c.name;
    EXPECT_EQ(testpdf::stream_text(form), c.data) << c.name;
    EXPECT_EQ(p.plan.pages[0].contents_value, "13 0 R") << c.name;
    EXPECT_EQ(testpdf::last_stream_text(p.plan, p.plan.pages[0]),
              "/Fm_CONTENT Do\n" + text_ops(testpdf::text_request("S"), 11))
        << c.name;
    EXPECT_NE(p.plan.pages[0].resources.find("/XObject << /Fm_CONTENT 12 0 R >>"),
              std::string::npos)
        << c.name;

    // The same stream beside a readable one stays named as it stands.
    objects = one_page("/Contents [4 0 R 5 2 R]");
    objects.push_back({4, 0, testpdf::stream("", "q 0 g")});
    objects.push_back({5, 2, testpdf::stream(c.dict, c.data)});
    Planned several;
    plan_for(several, objects, {3}, testpdf::text_request("S"));
    EXPECT_EQ(several.plan.pages[0].contents_value, "[8 0 R 4 0 R 5 2 R 9 0 R]") << c.name;
    EXPECT_EQ(testpdf::last_stream_text(several.plan, several.plan.pages[0]),
              "\nQ\nQ\n" + text_ops(testpdf::text_request("S"), 7))
        << c.name;
  }
}

// Readable filters do not make content count as unreadable.
TEST(StampPlan, ReadableFilters) {
  const std::string cases[] = {
      testpdf::flate_stream("", "q"),
      testpdf::flate_stream("/DecodeParms << /Predictor 1 >>", "q"),
      testpdf::stream("/Filter [ /FlateDecode ]", zlib_bytes("q")),
      testpdf::stream("/Filter/FlateDecode", zlib_bytes("q")),
      testpdf::stream("/Filter /Fl", zlib_bytes("q")),
      testpdf::stream("/Filter [/Fl]", zlib_bytes("q")),
      testpdf::stream("/Filter /ASCIIHexDecode", "71>"),
      testpdf::stream("/Filter [/A85 /Fl]", "Gap8e!!%$>EW~>"),
      testpdf::stream("/Filter /RunLengthDecode", std::string("\x00q\x80", 3)),
  };
  for (const std::string &s : cases) {
    auto objects = one_page("/Contents 4 0 R");
    objects.push_back({4, 0, s});
    Planned p;
    plan_for(p, objects, {3}, testpdf::text_request("S"));
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.plan.pages[0].contents_value, "[7 0 R 4 0 R 8 0 R]") << s;
    EXPECT_EQ(testpdf::last_stream_text(p.plan, p.plan.pages[0]).substr(0, 5), "\nQ\nQ\n") << s;
  }
}

// What content leaves open: only operators count, not bytes inside strings,
// comments, names, operands or images.
TEST(OpenState, Table) {
  struct Case {
    std::string content;
    int64_t deficit, open, marked = 0;
    bool in_text = false;
  };
  const Case cases[] = {
      {"", 0, 0},
      {"q 1 0 0 1 5 5 cm", 0, 1},
      {"q q Q", 0, 1},
      {"q Q", 0, 0},
      {"Q Q q", 2, 1},
      {"Q", 1, 0},
      {"q\nQ\nQ\nq\nq", 1, 2},
      {"q(x)Q", 0, 0},
      {"q[Q]", 0, 1},  // a keyword inside an array is not an operator
      {"q [Q] Q", 0, 0},
      {"<< /A Q >> BDC q", 0, 1, 1},
      {"qq QQ q0", 0, 0},
      {"/q gs /Q cs", 0, 0},
      {"(q) Tj", 0, 0},
      {"(a\\) q) Tj", 0, 0},
      {"(a (q) b) Tj q", 0, 1},
      {"(a \\( q) Tj", 0, 0},
      {"<71> Tj <51>", 0, 0},
      {"<< /A (q) >> BDC", 0, 0, 1},
      {"% q q q\nq", 0, 1},
      {"q % Q\r", 0, 1},
      {"BI /W 2 /H 1 /BPC 8 /CS /G ID q\x01Q EI Q", 1, 0},
      {"BI /W 1 ID \nQ Q EI q", 0, 1},
      {"BI ID aEIQ EI q", 0, 1},  // "aEIQ" is data, not the end
      {"BI ID xx EI", 0, 0},
      {"BI ID xx Q", 0, 0},  // unterminated image: the rest is data
      {"(unterminated q", 0, 0},
      {"<71 unterminated q", 0, 0},
      {"ID", 0, 0},
      {"] >> q", 0, 1},  // stray closers are passed over
      {"/OC /L BDC q Q", 0, 0, 1},
      {"/P BMC EMC EMC /P BMC /Q << /A 1 >> BDC", 0, 0, 2},
      {"(BDC) Tj [/BMC] TJ", 0, 0, 0},
      {"BT ET BT /F1 1 Tf", 0, 0, 0, true},
      {"BT (ET) Tj", 0, 0, 0, true},
      {"BT ET", 0, 0, 0, false},
  };
  for (const Case &c : cases) {
    const OpenState b = open_state(bytes_of(c.content));
    EXPECT_EQ(b.deficit, c.deficit) << c.content;
    EXPECT_EQ(b.open, c.open) << c.content;
    EXPECT_EQ(b.marked, c.marked) << c.content;
    EXPECT_EQ(b.in_text, c.in_text) << c.content;
  }
}

// Unterminated content: what ends the construct the content stops inside.
TEST(OpenState, CloserOfUnterminatedContent) {
  struct Case {
    std::string content;
    const char *closer;
  };
  const Case cases[] = {
      {"BT (a) Tj ET", ""},
      {"[ /oops", "]\n"},
      {"<< /oops", " null >>\n"},
      {"(abc", ")\n"},
      {"(a(b", "))\n"},
      {"(abc\\", ")\n"},  // the line end that follows is the escaped byte
      {"<41", ">\n"},
      {"BI /W 1 /H 1 ID xx", "EI\n"},
      {"[(a", ")]\n"},
      {"<< /A [1 2", "] null >>\n"},
      {"[1] << /A 1 >> (x) <41>", ""},
      {"% comment without line end", ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(open_state(bytes_of(c.content)).closer, c.closer) << c.content;
}

// Compression: a new stream is compressed when that makes it smaller; a
// failing compressor leaves it raw.
TEST(StampPlan, CompressedWhenSmaller) {
  auto objects = one_page("/Contents 4 0 R");
  objects.push_back({4, 0, testpdf::stream("", "0 g")});
  const std::string long_text(400, 'A');
  for (const bool failing : {false, true}) {
    Planned p;
    plan_for(p, objects, {3}, testpdf::text_request(long_text.c_str()),
             failing ? failing_deflate : tvl_deflate);
    ASSERT_EQ(p.result, 1);
    ASSERT_EQ(p.plan.streams.size(), 2u);
    EXPECT_EQ(p.plan.streams[0].entries, "");  // "q\n" gains nothing
    EXPECT_EQ(p.plan.streams[0].data, "q\n");
    const NewStream &closer = p.plan.streams[1];
    EXPECT_EQ(closer.entries, failing ? "" : " /Filter /FlateDecode");
    EXPECT_EQ(testpdf::stream_text(closer),
              "\nQ\n" + text_ops(testpdf::text_request(long_text.c_str()), 6));
  }
}

// Missing page object: still gets the stamp and resources (nothing references them).
TEST(StampPlan, PageMissingFromIndex) {
  Planned p;
  ASSERT_TRUE(testpdf::load_objects(one_page(""), p.doc));
  testpdf::add_page(p.doc, 77, 2);
  StampRequest r = testpdf::text_request("S");
  ASSERT_EQ(build_stamp_plan(p.doc, r, p.plan), 1);
  EXPECT_EQ(p.plan.pages[0].contents_value, "6 0 R");
  EXPECT_EQ(p.plan.pages[0].resources,
               "<<  /Font << /F_STAMP 4 0 R >>  /ExtGState << /GS_STAMP 5 0 R >> >>");
}

// Damaged input: every flipped, zeroed or truncated byte gives a plan, never a crash.
TEST(StampPlan, MutatedDocumentsNeverCrash) {
  auto objects = one_page("/Contents [4 0 R 5 0 R 9 0 R] /Resources << /Font 6 0 R >>");
  objects.push_back({4, 0, testpdf::flate_stream("", "q BT (a) Tj ET Q")});
  objects.push_back({5, 0, testpdf::stream("", "BI /W 1 ID x EI (q")});
  objects.push_back({6, 0, "<< /F1 7 0 R >>"});
  objects.push_back({9, 0, "[4 0 R]"});
  const std::string file = testpdf::build(objects, 1);
  const std::string path = testpdf::temp_path("content-mutation.pdf");
  std::mt19937 rng(7);
  for (size_t i = 0; i < file.size(); i += 3) {
    for (int kind = 0; kind < 3; ++kind) {
      std::string m = file;
      if (kind == 0) m[i] = static_cast<char>(m[i] ^ (1 << (rng() % 8)));
      if (kind == 1) m[i] = 0;
      if (kind == 2) m.resize(i + 1);
      testpdf::write_file(path, m);
      PdfDoc doc;
      if (load_document(path.c_str(), doc) != 1) continue;
      for (const ObjEntry &e : doc.objs) testpdf::add_page(doc, e.num, 2, 2);
      StampRequest r = testpdf::text_request("S");
      StampPlan plan;
      EXPECT_EQ(build_stamp_plan(doc, r, plan), 1);
    }
  }
  std::remove(path.c_str());
}

// Real files: on every stamped page the opener, the old content and the
// closer leave nothing open, the stamp is drawn last, the rewritten
// dictionary points at the new content, and nothing crashes.
TEST(StampPlan, CorpusInvariants) {
  const std::filesystem::path dir = std::filesystem::path(FOLIMARK_CORPUS_DIR) / "pdf" / "qpdf";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
  int stamped = 0;
  for (const auto &item : std::filesystem::directory_iterator(dir)) {
    if (item.path().extension() != ".pdf") continue;
    const std::string path = item.path().string();
    PdfDoc doc;
    if (load_document(path.c_str(), doc) != 1 || locate_pages(path.c_str(), doc) != 1) continue;
    StampRequest r = testpdf::text_request("S", 10, 10);
    StampPlan plan;
    ASSERT_EQ(build_stamp_plan(doc, r, plan), 1) << path;
    for (size_t k = 0; k < plan.pages.size(); ++k) {
      const PageState &page = plan.pages[k];
      ASSERT_TRUE(page.selected) << path;
      const std::string last = testpdf::last_stream_text(plan, page);
      EXPECT_NE(last.find("(S) Tj\nET\nQ\n"), std::string::npos) << path;
      std::string read = last;
      if (page.contents_value[0] == '[') {
        // What a reader reads: the opener, the old content, the closer.
        const ObjEntry *entry = find_obj(doc, doc.page_infos[k].obj_num);
        ContentBuffers buffers;
        ByteBuf old;
        read_page_content(doc, page_contents(doc, entry), buffers, old);
        read = testpdf::stream_text(*testpdf::new_stream(plan, testpdf::contents_numbers(page)[0])) +
               testpdf::buf_text(old) + last;
      }
      const OpenState b = open_state(bytes_of(read));
      EXPECT_EQ(b.deficit, 0) << path << " page " << k + 1;
      EXPECT_EQ(b.open, 0) << path << " page " << k + 1;
      EXPECT_EQ(b.marked, 0) << path << " page " << k + 1;
      EXPECT_FALSE(b.in_text) << path << " page " << k + 1;
      EXPECT_EQ(b.closer, "") << path << " page " << k + 1;
      const ObjEntry *entry = find_obj(doc, doc.page_infos[k].obj_num);
      if (entry == nullptr) continue;
      const std::string body = rewrite_page_dict(doc, *entry, page);
      EXPECT_NE(body.find(" /Contents " + page.contents_value + " "), std::string::npos) << path;
      EXPECT_EQ(body.substr(body.size() - 2), ">>") << path;
      ++stamped;
    }
  }
  EXPECT_GT(stamped, 100);
}
