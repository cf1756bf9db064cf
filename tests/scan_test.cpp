// The byte scanners and ByteBuf: each rule that decides how damaged files
// are read, and that no scanner reads outside its range.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pdf/byte_buf.h"
#include "pdf/number_text.h"
#include "pdf/scan.h"

namespace {

Bytes bytes_of(const std::string &s) {
  return {reinterpret_cast<const uint8_t *>(s.data()), s.size()};
}

}  // namespace

// Whitespace and comments: where scanning resumes.
TEST(Scan, SkipWhitespaceAndComments) {
  struct Case { std::string text; int32_t start; int32_t expected; };
  const Case cases[] = {
      {"  % note", 0, 8},            // a comment without line end runs to the end
      {"%a\r\n x", 0, 5},
      {std::string("\0\t\n\f\r x", 7), 0, 6},  // NUL and FF are whitespace
      {"\x0Bx", 0, 0},               // vertical tab is not
      {"abc", 5, 5},                 // beyond the end: unchanged
  };
  for (const Case &c : cases) EXPECT_EQ(skip_ws(bytes_of(c.text), c.start), c.expected) << c.text;
}

// Integers: signs, missing digits, wrap-around, no decimal point.
TEST(Scan, ParseInt) {
  struct Case { std::string text; int32_t value; int32_t stop; };
  const Case cases[] = {
      {"-", -1, 1},   {"+", -1, 1},    {"- 5", -1, 1}, {"007", 7, 3},
      {"12.5", 12, 2}, {"  -42x", -42, 5}, {"x", -1, 0},  {"", -1, 0},
      {"4294967297", 1, 10},  // wraps modulo 2^32
      {"% c\n 9", 9, 6},
  };
  for (const Case &c : cases) {
    int32_t pos = 0;
    EXPECT_EQ(parse_int_at(bytes_of(c.text), &pos), c.value) << c.text;
    EXPECT_EQ(pos, c.stop) << c.text;
  }
}

// Dictionary nesting: strings, escapes, hex strings.
TEST(Scan, FindDictClose) {
  struct Case { std::string text; int32_t limit; int32_t expected; };
  const std::string nested = "<< /A (>>) /B << /C 1 >> >>";
  const Case cases[] = {
      {nested, -1, static_cast<int32_t>(nested.size())},
      {"<< /S (a\\)>>) >>", -1, 16},
      {"<</ID <AB>>>", -1, 12},  // the hex string's '>' is its own
      {"<< /A <</B <0d>>> /ID <2A 3b>>>", -1, 31},
      {"<< /A <> /B <<>> >>", -1, 19},
      {"<< /A <x> >>", -1, 12},    // not a hex string: bytes as before
      {"<< /A <AB", -1, -1},
      {"<< /A 1", -1, -1},
      {"<< /A 1 >>", 5, -1},       // the limit stops the scan
      {">> << >>", -1, -1},        // a stray >> drives the depth negative
      {"<< (unterminated >>", -1, -1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(find_dict_close(bytes_of(c.text), 0, c.limit), c.expected) << c.text;
}

// Names and keywords: which neighbours end a match.
TEST(Scan, NamesAndKeywords) {
  const auto name_at = [](const std::string &t, const char *n) {
    return find_name(bytes_of(t), 0, static_cast<int32_t>(t.size()), n);
  };
  EXPECT_EQ(name_at("/Pages /Page", "Page"), 7);
  EXPECT_EQ(name_at("/Type", "Type"), 0);
  EXPECT_EQ(name_at("/Type/Page", "Type"), 0);
  EXPECT_EQ(name_at("/Type.x", "Type"), 0);
  EXPECT_EQ(name_at("/TypeX /Type_a /Type-2", "Type"), -1);
  EXPECT_EQ(name_at("(/Font)", "Font"), 1);  // purely textual
  EXPECT_EQ(find_name(bytes_of("/A /B"), 0, 2, "B"), -1);  // limit respected

  struct Kw { std::string text; int expected; };
  for (const Kw &k : {Kw{"obj+", 0}, Kw{"obj_", 0}, Kw{"obj<<", 1}, Kw{"obj", 1}, Kw{"ob", 0}})
    EXPECT_EQ(kw_at(bytes_of(k.text), 0, "obj"), k.expected) << k.text;

  struct Find { std::string text; int32_t expected; };
  for (const Find &f : {Find{"xendobj", -1}, Find{"endobj_", -1}, Find{"_endobj", 1},
                        Find{"endobj+", 0}, Find{"1endobj endobj", 8}})
    EXPECT_EQ(find_kw(bytes_of(f.text), 0, "endobj"), f.expected) << f.text;
}

// Value skipping: references, strings, arrays and stray delimiters.
TEST(Scan, SkipPdfValue) {
  struct Case { std::string text; int32_t expected; };
  const Case cases[] = {
      {"12 0 R/Next", 6},  {"12 0 Rx", 2},        {"12 0 R", 6},
      {"(abc\\", 5},        {"[1 (]) 2] x", 9},    {") x", 0},
      {"<< /A (>>) >> z", 13}, {"<ABCD> z", 6},    {"<ABCD", -1},
      {"/Name/Next", 5},    {"true]", 4},          {"   ", -1},
      {"[1 (open", -1},     {"[[1] 2", -1},        {"-3.5 x", 4},
      {"7 0 obj", 1},
      {"<< /ID <AB>>> z", 13}, {"[<AB>] x", 6},       {std::string("<< /A (\0) >>", 12), 12},
  };
  for (const Case &c : cases) EXPECT_EQ(skip_pdf_value(bytes_of(c.text), 0), c.expected) << c.text;
}

// No scanner reads outside its range, whatever the bytes: every prefix of
// random PDF-ish text is scanned from every position (AddressSanitizer
// turns any stray read into a failure).
TEST(Scan, NoReadOutsideTheRange) {
  const char alphabet[] = "<<>>()[]/\\%\n\r 0123456789Robj endobj stream Type Page";
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    const size_t n = rng() % 40;
    std::vector<uint8_t> heap(n);
    for (auto &b : heap) b = static_cast<uint8_t>(alphabet[rng() % (sizeof alphabet - 1)]);
    const Bytes s(heap.data(), heap.size());
    for (int32_t p = 0; p <= static_cast<int32_t>(n); ++p) {
      int32_t q = p;
      (void)parse_int_at(s, &q);
      EXPECT_LE(skip_ws(s, p), static_cast<int32_t>(n));
      EXPECT_LE(find_dict_close(s, p, -1), static_cast<int32_t>(n));
      EXPECT_LE(skip_pdf_value(s, p), static_cast<int32_t>(n));
      (void)find_name(s, p, static_cast<int32_t>(n), "Type");
      (void)find_kw(s, p, "endobj");
      (void)kw_at(s, p, "obj");
    }
  }
}

// Growth: the first block and doubling, the terminator after every append.
TEST(ByteBuf, GrowsFromSixtyFourKibByDoubling) {
  ByteBuf buf;
  buf_str(buf, "x");
  EXPECT_EQ(buf.capacity, 65536u);
  EXPECT_EQ(buf.data[1], 0);
  const std::string filler(65534, 'a');
  buf_str(buf, filler);
  EXPECT_EQ(buf.length, 65535u);
  EXPECT_EQ(buf.capacity, 65536u);
  buf_str(buf, "b");  // length + 1 reaches 65,537
  EXPECT_EQ(buf.capacity, 131072u);
  EXPECT_EQ(buf.data[buf.length], 0);
  buf_bytes(buf, nullptr, 5);
  buf_str(buf, "");
  EXPECT_EQ(buf.length, 65536u);
  EXPECT_FALSE(buf.failed);
}

// Numbers are written as the C locale's printf writes them, whatever the
// host's locale.
TEST(NumberText, MatchesCLocalePrintf) {
  const double values[] = {0.0, -0.0, 1.0, 0.5020, 100.0, -1.0 / 3.0, 14.4f, 28.8f, 1e9, 123.455};
  for (const double v : values) {
    for (const int precision : {2, 4, 6}) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%.*f", precision, v);
      EXPECT_EQ(fixed_text(v, precision), expected) << v;
    }
  }
  ByteBuf buf;
  buf_int_padded(buf, 1234, 10);
  buf_str(buf, " ");
  buf_int(buf, -77);
  EXPECT_STREQ(reinterpret_cast<const char *>(buf.data), "0000001234 -77");
}
