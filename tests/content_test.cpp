// The stamping stage: the stamp's operators byte for byte, the escaping of
// text, the numbering of new objects, how previous content is read, joined
// and isolated, which old content objects are left out, and the fallbacks
// for content that cannot be decoded or compressed.
#include "pdf/content.h"

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

std::string escaped(const std::string &line) {
  ByteBuf ops;
  escape_text_line(ops, line);
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

// Escaping: delimiters, controls, Latin-1 pairs and stray bytes.
TEST(TextEscape, Table) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"(x)\\", "\\(x\\)\\\\"},
      {"a\tb", "ab"},
      {std::string("a\x01\x1f\x7f"
                   "b"),
       "ab"},
      {std::string("a\0b", 3), "ab"},
      {" ~", " ~"},
      {"\xC3\xA9", "\\351"},  // U+00E9 in UTF-8
      {"\xE9", "\\351"},      // a lone Latin-1 byte
      {"\xC2\xA0", "\\240"},  // U+00A0
      {"\xC2\x80", "\\200"},  // U+0080 is taken as the code byte
      {"\xC3\x80", "\\300"},
      {"\xC3\xBF", "\\377"},
      {"\xC3\xC0", "\\303\\300"},  // not a pair: each byte alone
      {"\xC2\xC0", "\\302\\300"},
      {"\xC3", "\\303"},  // at the end of the line
      {"\xC2", "\\302"},
      {"\xC3"
       "A",
       "\\303A"},
      {"\xF0\x9F\x98\x80", "\\360\\237\\230\\200"},  // outside WinAnsi: bytes pass through
      {"\xE2\x82\xAC", "\\200"},                     // the euro sign is WinAnsi 0x80
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

// WinAnsi: neighbours of those characters, and cut sequences, pass through byte by byte.
TEST(TextEscape, WinAnsiNeighboursPassThrough) {
  const char *cases[] = {
      "\xE2\x82\xAB",  // U+20AB
      "\xE2\x82\xAD",  // U+20AD
      "\xE2\x80\x92",  // U+2012
      "\xE2\x80\x95",  // U+2015
      "\xE2\x80\x9B",  // U+201B
      "\xE2\x80\x9F",  // U+201F
      "\xE2\x80\xA3",  // U+2023
      "\xE2\x80\xBB",  // U+203B
      "\xE2\x84\xA1",  // U+2121
      "\xE2\x84\xA3",  // U+2123
      "\xC5\x91",      // U+0151
      "\xC5\x94",      // U+0154
      "\xC5\xBF",      // U+017F
      "\xC6\x91",      // U+0191
      "\xC6\x93",      // U+0193
      "\xCB\x87",      // U+02C7
      "\xCB\x9D",      // U+02DD
      "\xE2\x82",      // cut after two bytes
      "\xE2",          // cut after one
      "\xC5",
      "\xE2\x82\x41",  // not a continuation byte
  };
  for (const char *c : cases) {
    std::string expected;
    for (const char *p = c; *p != 0; ++p) {
      const uint8_t b = static_cast<uint8_t>(*p);
      expected += b >= 0x80 ? octal(b) : std::string(1, *p);
    }
    EXPECT_EQ(escaped(c), expected) << expected;
  }
}

// Operator text: the image stamp's operators, with and without scale and opacity.
TEST(StampOperators, ImageOperators) {
  struct Case {
    int32_t w, h;
    float scale;
    int32_t gs;
    float x, y;
    const char *expected;
  };
  const Case cases[] = {
      {100, 50, 0, 0, 10, 20, "\nq\n100.0000 0 0 50.0000 10.00 20.00 cm\n/Im_STAMP Do\nQ\n"},
      {100, 50, -1, 0, 0, 0, "\nq\n100.0000 0 0 50.0000 0.00 0.00 cm\n/Im_STAMP Do\nQ\n"},
      {100, 50, 0.5f, 7, 1.5f, 2.25f,
       "\nq\n/GS_STAMP gs\n50.0000 0 0 25.0000 1.50 2.25 cm\n/Im_STAMP Do\nQ\n"},
  };
  for (const Case &c : cases) {
    StampRequest r = testpdf::image_request(c.w, c.h, 1.0f, false);
    r.image_scale = c.scale;
    ByteBuf ops;
    image_operators(ops, r, c.gs, c.x, c.y);
    EXPECT_EQ(testpdf::buf_text(ops), c.expected);
  }
}

// Numbering: the new objects of text and image stamps, above the input's largest number.
TEST(StampPlan, ObjectNumbering) {
  struct Case {
    const char *name;
    bool image;
    float opacity;
    bool alpha;
    int32_t font, gs, smask, image_num, content;
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
    EXPECT_EQ(p.plan.pages[0].content_num, c.content) << c.name;
    EXPECT_EQ(p.plan.nums.last_num, c.content) << c.name;
    EXPECT_EQ(p.plan.pages[0].contents_value, std::to_string(c.content) + " 0 R") << c.name;
    EXPECT_TRUE(p.plan.extra.empty()) << c.name;
  }
}

// Numbering: content streams follow in page order; a page listed twice is stamped once.
TEST(StampPlan, SelectionAndPageOrder) {
  std::vector<Object> objects = {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
                                 {2, 0, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>"}};
  for (int n = 3; n <= 5; ++n) objects.push_back({n, 0, "<< /Type /Page /Parent 2 0 R >>"});
  struct Case {
    std::vector<int32_t> pages;
    std::vector<int32_t> content;  // per page, 0 when not selected
  };
  const Case cases[] = {
      {{2, 2}, {0, 8, 0}},
      {{3, 1}, {8, 0, 9}},
      {{}, {8, 9, 10}},
  };
  for (const Case &c : cases) {
    StampRequest r = testpdf::text_request("x");
    r.pages = c.pages.empty() ? nullptr : c.pages.data();
    r.page_count = static_cast<int32_t>(c.pages.size());
    Planned p;
    plan_for(p, objects, {3, 4, 5}, r);
    ASSERT_EQ(p.result, 1);
    for (size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(p.plan.pages[k].content_num, c.content[k]) << k;
      EXPECT_EQ(p.plan.pages[k].selected, c.content[k] != 0) << k;
      EXPECT_EQ(p.plan.pages[k].resources.empty(), c.content[k] == 0) << k;
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
  EXPECT_NE(testpdf::stream_text(p.plan.pages[0]).find(" 110.50 220.00 cm\n"), std::string::npos);
}

// Previous content: how /Contents is read and its streams joined and isolated.
TEST(StampPlan, PreviousContentJoined) {
  struct Case {
    const char *name;
    std::string contents;
    std::vector<Object> extra;
    std::string before_stamp;  // the stream's bytes before the stamp's operators
  };
  const Case cases[] = {
      {"one stream",
       "/Contents 4 0 R",
       {{4, 0, testpdf::stream("", "BT (a) Tj ET")}},
       "q\nBT (a) Tj ET\nQ\n"},
      {"flate stream",
       "/Contents 4 0 R",
       {{4, 0, testpdf::flate_stream("", "BT (a) Tj ET")}},
       "q\nBT (a) Tj ET\nQ\n"},
      {"inline array",
       "/Contents [4 0 R 5 0 R 6 0 R]",
       {{4, 0, testpdf::stream("", "0 g")},
        {5, 0, testpdf::flate_stream("", "1 g")},
        {6, 0, testpdf::stream("", "2 g")}},
       "q\n0 g\n1 g\n2 g\n\nQ\n"},
      {"indirect array",
       "/Contents 9 0 R",
       {{4, 0, testpdf::stream("", "0 g")},
        {5, 0, testpdf::stream("", "1 g")},
        {9, 0, "[4 0 R 5 0 R]"}},
       "q\n0 g\n1 g\n\nQ\n"},
      {"array, empty member skipped",
       "/Contents [4 0 R 5 0 R]",
       {{4, 0, testpdf::stream("", "")}, {5, 0, testpdf::stream("", "1 g")}},
       "q\n1 g\n\nQ\n"},
      {"no /Contents", "", {}, ""},
      {"reference to 0", "/Contents 0 0 R", {}, ""},
      {"a string", "/Contents (abc)", {}, ""},
      {"missing object", "/Contents 99 0 R", {{4, 0, "<< >>"}}, ""},
      {"not a stream", "/Contents 4 0 R", {{4, 0, "<< /A 1 >>"}}, ""},
      {"empty stream", "/Contents 4 0 R", {{4, 0, testpdf::stream("", "")}}, ""},
      {"open q closed",
       "/Contents 4 0 R",
       {{4, 0, testpdf::stream("", "q 1 0 0 -1 0 792 cm")}},
       "q\nq 1 0 0 -1 0 792 cm\nQ\nQ\n"},
      {"flipped, no q",
       "/Contents 4 0 R",
       {{4, 0, testpdf::stream("", "1 0 0 -1 0 792 cm BT (x) Tj ET")}},
       "q\n1 0 0 -1 0 792 cm BT (x) Tj ET\nQ\n"},
      {"extra Q",
       "/Contents 4 0 R",
       {{4, 0, testpdf::stream("", "Q Q 0 g")}},
       "q\nq\nq\nQ Q 0 g\nQ\n"},
      {"extra Q then open q",
       "/Contents 4 0 R",
       {{4, 0, testpdf::stream("", "Q q q")}},
       "q\nq\nQ q q\nQ\nQ\nQ\n"},
      {"unterminated array",
       "/Contents 4 0 R",
       {{4, 0, testpdf::stream("", "0 g [ /oops")}},
       "q\n0 g [ /oops\n]\nQ\n"},
      {"unterminated inline image",
       "/Contents 4 0 R",
       {{4, 0, testpdf::stream("", "q BI /W 1 /H 1 ID \x01\x02")}},
       "q\nq BI /W 1 /H 1 ID \x01\x02\nEI\nQ\nQ\n"},
      {"own /Contents after an inline annotation's",
       "/Annots [<< /Contents (note) >>] /Contents 4 0 R",
       {{4, 0, testpdf::stream("", "0 g")}},
       "q\n0 g\nQ\n"},
  };
  for (const Case &c : cases) {
    auto objects = one_page(c.contents);
    objects.insert(objects.end(), c.extra.begin(), c.extra.end());
    Planned p;
    plan_for(p, objects, {3}, testpdf::text_request("S"));
    ASSERT_EQ(p.result, 1) << c.name;
    const std::string ops = text_ops(testpdf::text_request("S"), p.plan.nums.gs_num);
    EXPECT_EQ(testpdf::stream_text(p.plan.pages[0]), c.before_stamp + ops) << c.name;
  }
}

// Drop marks: the old content streams of a rewritten page are left out, nothing else.
TEST(StampPlan, DropMarks) {
  struct Case {
    const char *name;
    std::string contents;
    std::vector<Object> extra;
    std::vector<int32_t> dropped;
    std::vector<int32_t> kept;
  };
  const Case cases[] = {
      {"one stream", "/Contents 4 0 R", {{4, 0, testpdf::stream("", "0 g")}}, {4}, {1, 2, 3}},
      {"empty stream", "/Contents 4 0 R", {{4, 0, testpdf::stream("", "")}}, {4}, {}},
      {"array",
       "/Contents [4 0 R 5 0 R]",
       {{4, 0, testpdf::stream("", "0 g")}, {5, 0, testpdf::stream("", "1 g")}},
       {4, 5},
       {}},
      {"indirect array",
       "/Contents 9 0 R",
       {{4, 0, testpdf::stream("", "0 g")},
        {5, 0, testpdf::stream("", "1 g")},
        {9, 0, "[4 0 R 5 0 R]"}},
       {4, 5, 9},
       {}},
      {"non-stream named", "/Contents 4 0 R", {{4, 0, "<< /A 1 >>"}}, {}, {4}},
      {"non-stream in array",
       "/Contents [1 0 R 4 0 R]",
       {{4, 0, testpdf::stream("", "0 g")}},
       {4},
       {1}},
  };
  for (const Case &c : cases) {
    auto objects = one_page(c.contents);
    objects.insert(objects.end(), c.extra.begin(), c.extra.end());
    Planned p;
    plan_for(p, objects, {3}, testpdf::text_request("S"));
    ASSERT_EQ(p.result, 1) << c.name;
    ASSERT_GE(p.plan.drop_obj.size(), static_cast<size_t>(p.doc.max_obj_num) + 64) << c.name;
    for (int32_t n : c.dropped)
      EXPECT_EQ(p.plan.drop_obj[static_cast<size_t>(n)], 1) << c.name << n;
    for (int32_t n : c.kept) EXPECT_EQ(p.plan.drop_obj[static_cast<size_t>(n)], 0) << c.name << n;
  }
}

// Drop marks: of more than 64 streams all bytes are kept but only the first 64 are left out.
TEST(StampPlan, MoreThan64Streams) {
  std::string array = "/Contents [";
  std::vector<Object> extra;
  std::string expected = "q\n";
  for (int i = 0; i < 70; ++i) {
    const int num = 10 + i;
    array += std::to_string(num) + " 0 R ";
    extra.push_back({num, 0, testpdf::stream("", std::to_string(i) + " g")});
    expected += std::to_string(i) + " g\n";
  }
  expected += "\nQ\n";
  auto objects = one_page(array + "]");
  objects.insert(objects.end(), extra.begin(), extra.end());
  Planned p;
  plan_for(p, objects, {3}, testpdf::text_request("S"));
  ASSERT_EQ(p.result, 1);
  EXPECT_EQ(testpdf::stream_text(p.plan.pages[0]).substr(0, expected.size()), expected);
  for (int i = 0; i < 70; ++i)
    EXPECT_EQ(p.plan.drop_obj[static_cast<size_t>(10 + i)], i < 64 ? 1 : 0) << i;
}

// Shared content: a stream still named by a page that is not rewritten stays.
TEST(StampPlan, SharedStreamsStayForOtherPages) {
  // Page 3 names [5 6] through array object 9; page 4 names 6 directly; page 7 names 5.
  const std::vector<Object> objects = {
      {1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
      {2, 0, "<< /Type /Pages /Kids [3 0 R 4 0 R 7 0 R] /Count 3 >>"},
      {3, 0, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>"},
      {4, 0, "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>"},
      {5, 0, testpdf::stream("", "0 g")},
      {6, 0, testpdf::stream("", "1 g")},
      {7, 0, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>"},
      {9, 0, "[5 0 R 6 0 R]"},
  };
  struct Case {
    std::vector<int32_t> pages;
    int drop5, drop6, drop9;
  };
  const Case cases[] = {
      {{1}, 0, 0, 1},     // 5 and 6 are still used by pages 3 and 2
      {{1, 2}, 0, 1, 1},  // 5 is still used by page 3
      {{2}, 0, 0, 0},     // page 1 keeps 9, 5 and 6
      {{3}, 0, 0, 0},    {{1, 2, 3}, 1, 1, 1},
  };
  for (const Case &c : cases) {
    StampRequest r = testpdf::text_request("S");
    r.pages = c.pages.data();
    r.page_count = static_cast<int32_t>(c.pages.size());
    Planned p;
    plan_for(p, objects, {3, 4, 7}, r);
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.plan.drop_obj[5], c.drop5) << c.pages.size();
    EXPECT_EQ(p.plan.drop_obj[6], c.drop6) << c.pages.size();
    EXPECT_EQ(p.plan.drop_obj[9], c.drop9) << c.pages.size();
  }
}

// Undecodable content: kept by reference between an opening q and the new stream.
TEST(StampPlan, UndecodableContentKeptByReference) {
  std::string bad_flate = "\x78\x9c\xff\xff\xff\xff garbage";
  struct Case {
    const char *name;
    std::string stream;
  };
  const Case cases[] = {
      {"LZW", testpdf::stream("/Filter /LZWDecode", "\x80\x0b\x60\x50")},
      {"DCT", testpdf::stream("/Filter /DCTDecode", "\xff\xd8\xff\xd9")},
      {"filter chain", testpdf::stream("/Filter [/ASCII85Decode /FlateDecode]", "GhVa~>")},
      {"damaged flate", testpdf::stream("/Filter /FlateDecode", bad_flate)},
      {"predictor", testpdf::flate_stream("/DecodeParms << /Predictor 12 /Columns 4 >>", "0 g")},
      {"indirect filter", testpdf::stream("/Filter 2 0 R", "0 g")},
  };
  for (const Case &c : cases) {
    auto objects = one_page("/Contents [4 0 R 5 0 R]");
    objects.push_back({4, 0, testpdf::stream("", "0 g")});
    objects.push_back({5, 2, c.stream});  // generation 2
    Planned p;
    plan_for(p, objects, {3}, testpdf::text_request("S"));
    ASSERT_EQ(p.result, 1) << c.name;
    // Font 6, graphics state 7, content 8, then the opener 9.
    const PageState &page = p.plan.pages[0];
    EXPECT_EQ(page.content_num, 8) << c.name;
    EXPECT_EQ(page.contents_value, "[9 0 R 4 0 R 5 2 R 8 0 R]") << c.name;
    ASSERT_EQ(p.plan.extra.size(), 1u) << c.name;
    EXPECT_EQ(p.plan.extra[0].num, 9) << c.name;
    EXPECT_EQ(p.plan.extra[0].bytes, "q\n") << c.name;
    EXPECT_EQ(p.plan.nums.last_num, 9) << c.name;
    EXPECT_EQ(p.plan.drop_obj[4], 0) << c.name;
    EXPECT_EQ(p.plan.drop_obj[5], 0) << c.name;
    EXPECT_EQ(testpdf::stream_text(page), "Q\n" + text_ops(testpdf::text_request("S"), 7))
        << c.name;
  }
}

// Undecodable content: filters that we do decode do not trigger the fallback.
TEST(StampPlan, DecodableFiltersAreJoined) {
  const std::string cases[] = {
      testpdf::flate_stream("", "1 g"),
      testpdf::flate_stream("/DecodeParms << /Predictor 1 >>", "1 g"),
      testpdf::stream("/Filter [ /FlateDecode ]", zlib_bytes("1 g")),
      testpdf::stream("/Filter/FlateDecode", zlib_bytes("1 g")),
      testpdf::stream("/Filter /Fl", zlib_bytes("1 g")),
      testpdf::stream("/Filter [/Fl]", zlib_bytes("1 g")),
  };
  for (const std::string &s : cases) {
    auto objects = one_page("/Contents 4 0 R");
    objects.push_back({4, 0, s});
    Planned p;
    plan_for(p, objects, {3}, testpdf::text_request("S"));
    ASSERT_EQ(p.result, 1);
    EXPECT_TRUE(p.plan.extra.empty()) << s;
    EXPECT_EQ(p.plan.pages[0].contents_value, "7 0 R") << s;
    EXPECT_EQ(p.plan.drop_obj[4], 1) << s;
    EXPECT_EQ(testpdf::stream_text(p.plan.pages[0]).substr(0, 10), "q\n1 g\nQ\n\nq") << s;
  }
}

// Undecodable content: one opener serves every such page, numbered after all content streams.
TEST(StampPlan, OneOpenerForAllKeptPages) {
  const std::vector<Object> objects = {
      {1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
      {2, 0, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>"},
      {3, 0, "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>"},
      {4, 0, "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>"},
      {5, 0, "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>"},
      {6, 0, testpdf::stream("/Filter /LZWDecode", "xyz")},
      {7, 0, testpdf::stream("", "0 g")},
  };
  Planned p;
  plan_for(p, objects, {3, 4, 5}, testpdf::text_request("S"));
  ASSERT_EQ(p.result, 1);
  // Font 8, graphics state 9, contents 10 11 12, opener 13.
  EXPECT_EQ(p.plan.pages[0].contents_value, "[13 0 R 6 0 R 10 0 R]");
  EXPECT_EQ(p.plan.pages[1].contents_value, "11 0 R");
  EXPECT_EQ(p.plan.pages[2].contents_value, "[13 0 R 6 0 R 12 0 R]");
  ASSERT_EQ(p.plan.extra.size(), 1u);
  EXPECT_EQ(p.plan.extra[0].num, 13);
  EXPECT_EQ(p.plan.nums.last_num, 13);
  EXPECT_EQ(p.plan.drop_obj[6], 0);
  EXPECT_EQ(p.plan.drop_obj[7], 1);
}

// q/Q balance: only operators count, not bytes inside strings, comments, names,
// operands or images.
TEST(QBalance, Table) {
  struct Case {
    std::string content;
    int64_t deficit, open;
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
      {"<< /A Q >> BDC q", 0, 1},
      {"qq QQ q0", 0, 0},
      {"/q gs /Q cs", 0, 0},
      {"(q) Tj", 0, 0},
      {"(a\\) q) Tj", 0, 0},
      {"(a (q) b) Tj q", 0, 1},
      {"(a \\( q) Tj", 0, 0},
      {"<71> Tj <51>", 0, 0},
      {"<< /A (q) >> BDC", 0, 0},
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
  };
  for (const Case &c : cases) {
    const QBalance b = q_balance(bytes_of(c.content));
    EXPECT_EQ(b.deficit, c.deficit) << c.content;
    EXPECT_EQ(b.open, c.open) << c.content;
  }
}

// Unterminated content: what ends the construct the content stops inside.
TEST(QBalance, CloserOfUnterminatedContent) {
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
    EXPECT_EQ(q_balance(bytes_of(c.content)).closer, c.closer) << c.content;
}

// Compression: a failing compressor leaves the stream raw and says so.
TEST(StampPlan, UncompressedFallback) {
  auto objects = one_page("/Contents 4 0 R");
  objects.push_back({4, 0, testpdf::stream("", "0 g")});
  const std::string expected = "q\n0 g\nQ\n" + text_ops(testpdf::text_request("S"), 6);

  Planned raw;
  plan_for(raw, objects, {3}, testpdf::text_request("S"), failing_deflate);
  ASSERT_EQ(raw.result, 1);
  EXPECT_FALSE(raw.plan.pages[0].compressed);
  EXPECT_EQ(testpdf::buf_text(raw.plan.pages[0].stream), expected);

  Planned packed;
  plan_for(packed, objects, {3}, testpdf::text_request("S"));
  ASSERT_EQ(packed.result, 1);
  const PageState &page = packed.plan.pages[0];
  if (page.compressed) {
    // A zlib stream: the header's check bits hold, and it inflates to the text.
    ASSERT_GE(page.stream.length, 2u);
    EXPECT_EQ(((page.stream.data[0] << 8) | page.stream.data[1]) % 31, 0);
    EXPECT_NE(testpdf::buf_text(page.stream), expected);
  }
  EXPECT_EQ(testpdf::stream_text(page), expected);
}

// Missing page object: still gets a content stream and resources (nothing references them).
TEST(StampPlan, PageMissingFromIndex) {
  Planned p;
  ASSERT_TRUE(testpdf::load_objects(one_page(""), p.doc));
  testpdf::add_page(p.doc, 77, 2);
  StampRequest r = testpdf::text_request("S");
  ASSERT_EQ(build_stamp_plan(p.doc, r, p.plan), 1);
  EXPECT_EQ(p.plan.pages[0].content_num, 6);
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

// Real files: every stamped page's stream is balanced and names the stamp, its
// rewritten dictionary points at the new content, and nothing crashes.
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
      const std::string text = testpdf::stream_text(page);
      const bool kept = !page.contents_value.empty() && page.contents_value[0] == '[';
      const QBalance b = q_balance(bytes_of(text));
      EXPECT_EQ(b.deficit, kept ? 1 : 0) << path << " page " << k + 1;
      EXPECT_EQ(b.open, 0) << path << " page " << k + 1;
      EXPECT_EQ(b.closer, "") << path << " page " << k + 1;
      EXPECT_NE(text.find("(S) Tj\nET\nQ\n"), std::string::npos) << path;
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
