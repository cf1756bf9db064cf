// Encrypted documents: reading PDF string values and writing them in hex,
// the standard security handler's dictionary, passwords and file keys, and
// the encryption of strings and streams, judged by qpdf on files it
// encrypts and on the corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdf/byte_buf.h"
#include "pdf/string_value.h"

namespace {

using namespace std::string_literals;

Bytes bytes_of(std::string_view s) { return {reinterpret_cast<const uint8_t *>(s.data()), s.size()}; }

// ---- String values --------------------------------------------------------

struct StringCase {
  const char *name;
  std::string text;   // the input, the string at its start (after blanks)
  std::string bytes;  // what it holds
  int32_t end;        // where reading stops; -1 refused
};

class StringValue : public testing::TestWithParam<StringCase> {};

TEST_P(StringValue, ReadsItsBytes) {
  const StringCase &c = GetParam();
  std::string out = "left over";
  EXPECT_EQ(read_string_value(bytes_of(c.text), 0, out), c.end);
  EXPECT_EQ(out, c.end < 0 ? "" : c.bytes);
}

const StringCase kStrings[] = {
    {"plain", "(abc) 1", "abc", 5},
    {"after_blanks", " \r\n%c\n(a)", "a", 9},
    {"empty_literal", "()", "", 2},
    {"nested", "(a(b(c))d)x", "a(b(c))d", 10},
    {"escaped_parentheses", "(a\\(b\\)\\\\)", "a(b)\\", 10},
    {"named_escapes", "(\\n\\r\\t\\b\\f)", "\n\r\t\b\f", 12},
    {"unknown_escape_drops_backslash", "(\\q\\/)", "q/", 6},
    {"octal_one_two_three", "(\\0\\12\\101\\1012)", "\0\n"s "AA2", 16},
    {"octal_overflow_wraps", "(\\777\\400)", "\xFF\x00"s, 10},
    {"octal_stops_at_eight", "(\\18)", "\x01" "8", 5},
    {"continuation_lf", "(a\\\nb)", "ab", 6},
    {"continuation_cr", "(a\\\rb)", "ab", 6},
    {"continuation_crlf", "(a\\\r\nb)", "ab", 7},
    {"eol_cr_is_lf", "(a\rb)", "a\nb", 5},
    {"eol_crlf_is_lf", "(a\r\nb)", "a\nb", 6},
    {"eol_lf_stays", "(a\nb)", "a\nb", 5},
    {"eol_lfcr_is_two", "(a\n\rb)", "a\n\nb", 6},
    {"binary_bytes", "(\x00\xFF)"s, "\x00\xFF"s, 4},
    {"hex", "<48656C6c6F>", "Hello", 12},
    {"hex_blanks", "< 48 65\r\n6c\t6c 6F >", "Hello", 19},
    {"hex_odd_digit", "<4142F>", "AB\xF0", 7},
    {"hex_empty", "<>", "", 2},
    {"hex_single_digit", "<7>", "\x70", 3},
    {"unterminated_literal", "(abc", "", -1},
    {"unbalanced_literal", "(a(b)", "", -1},
    {"trailing_backslash", "(a\\", "", -1},
    {"escaped_close_only", "(a\\)", "", -1},
    {"unterminated_hex", "<414", "", -1},
    {"hex_bad_digit", "<41G2>", "", -1},
    {"dictionary_is_no_string", "<< /A 1 >>", "", -1},
    {"name_is_no_string", "/Name", "", -1},
    {"nothing", "   ", "", -1},
};

INSTANTIATE_TEST_SUITE_P(Table, StringValue, testing::ValuesIn(kStrings),
                         [](const testing::TestParamInfo<StringCase> &p) { return std::string(p.param.name); });

// Reading stops at the range's end, even where the buffer goes on.
TEST(StringValue, StaysInsideItsRange) {
  const std::string text = "(abc) <41>";
  std::string out;
  EXPECT_EQ(read_string_value(bytes_of(text).first(4), 0, out), -1);
  EXPECT_EQ(read_string_value(bytes_of(text).first(9), 5, out), -1);
  EXPECT_EQ(read_string_value(bytes_of(text), 5, out), 10);
  EXPECT_EQ(out, "A");
  EXPECT_EQ(read_string_value(bytes_of(text), 99, out), -1);
}

// Every byte value comes back from the hexadecimal form, and from the
// literal form the stamp's text is written in.
TEST(StringValue, WrittenFormsReadBack) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (const std::string &bytes : {all, std::string(), "(unbalanced\\"s, "\r\n\r"s}) {
    ByteBuf hex;
    append_hex_string(hex, bytes);
    ByteBuf literal;
    buf_str(literal, "(");
    append_literal_codes(literal, bytes);
    buf_str(literal, ")");
    for (const ByteBuf *b : {&hex, &literal}) {
      std::string out;
      EXPECT_EQ(read_string_value(buf_view(*b), 0, out), static_cast<int32_t>(b->length));
      EXPECT_EQ(out, bytes);
    }
  }
}

}  // namespace
