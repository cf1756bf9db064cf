// Encrypted documents: reading PDF string values and writing them in hex,
// the standard security handler's dictionary, passwords and file keys, and
// the encryption of strings and streams, judged by qpdf on files it
// encrypts and on the corpus.
#include <gtest/gtest.h>
#include <zlib.h>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/error.h"
#include "pdf/byte_buf.h"
#include "pdf/dict_values.h"
#include "pdf/load.h"
#include "pdf/string_value.h"
#include "security/security.h"
#include "support/e2e_oracles.h"

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

// ---- The /Encrypt dictionary ----------------------------------------------

// An encrypted file as the engine reads it: the object index, the
// /Encrypt dictionary's entries and the file's first /ID string.
struct Encrypted {
  PdfDoc doc;
  bool read = false;  // the dictionary was found and read
  std::string why;    // when not
  EncryptParams params;
  std::string id0;
};

// Loads an encrypted file's objects. The loader stops after the object
// index for an encrypted file today; this is the one place that knows.
Encrypted open_encrypted(const std::string &bytes) {
  Encrypted e;
  clear_error();
  load_document_bytes(bytes_of(bytes), "encrypted.pdf", e.doc);
  if (!e.doc.encrypted) {
    e.why = "not encrypted";
    return e;
  }
  const DictRange dict = encrypt_dict_range(e.doc);
  e.read = dict.present ? read_encrypt_params(e.doc, dict, e.params, e.why)
                        : (e.why = "the /Encrypt dictionary is missing", false);
  e.id0 = first_file_id(e.doc.trailer_id);
  return e;
}

// A file whose /Encrypt dictionary is the given one, as object 9 or in the
// trailer itself; object 10 holds 7, object 11 a short string and object
// 12 a crypt filter, for entries that refer to them.
std::string with_encrypt(const std::string &dict, bool in_trailer) {
  return testpdf::build({{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
                         {2, 0, "<< /Type /Pages /Kids [] /Count 0 >>"},
                         {9, 0, dict},
                         {10, 0, "7"},
                         {11, 0, "(short)"},
                         {12, 0, "<< /CFM /AESV2 >>"}},
                        1,
                        {.trailer_extra = "/Encrypt " + (in_trailer ? dict : "9 0 R"s) +
                                          " /ID [<00112233445566778899aabbccddeeff><00>]"});
}

// The entries as written: references followed, escapes in names and
// strings read, /P written unsigned taken as 32 bits, crypt filters listed.
TEST(EncryptParams, ReadsTheEntries) {
  const std::string dict =
      "<< /Filter /Standard /V 4 /R 10 0 R /Length 128 /P 4294967292 /O (ab\\051) /U <0102> "
      "/EncryptMetadata false /CF << /StdCF 12 0 R /Id#46 << /CFM /None >> >> /StmF /StdCF "
      "/StrF /Id#46 >>";
  for (const bool in_trailer : {false, true}) {
    const Encrypted e = open_encrypted(with_encrypt(dict, in_trailer));
    ASSERT_TRUE(e.read) << e.why;
    const EncryptParams &p = e.params;
    EXPECT_EQ(p.filter, "Standard");
    EXPECT_EQ(p.v, 4);
    EXPECT_EQ(p.r, 7);
    EXPECT_TRUE(p.length_given);
    EXPECT_EQ(p.length_bits, 128);
    EXPECT_TRUE(p.p_given);
    EXPECT_EQ(p.p, -4);
    EXPECT_EQ(p.o, "ab)");
    EXPECT_EQ(p.u, "\x01\x02");
    EXPECT_FALSE(p.encrypt_metadata);
    EXPECT_EQ(p.stm_f, "StdCF");
    EXPECT_EQ(p.str_f, "IdF");
    EXPECT_EQ(p.eff, "StdCF");
    ASSERT_EQ(p.crypt_filters.size(), 2u);
    EXPECT_EQ(p.crypt_filters[0].name + " " + p.crypt_filters[0].cfm, "StdCF AESV2");
    EXPECT_EQ(p.crypt_filters[1].name + " " + p.crypt_filters[1].cfm, "IdF None");
    EXPECT_EQ(e.id0, "\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff"s);
    CryptMethod m = CryptMethod::rc4;
    std::string why;
    EXPECT_TRUE(crypt_filter_method(p, "IdF", m, why));
    EXPECT_EQ(m, CryptMethod::identity);
    EXPECT_TRUE(crypt_filter_method(p, "StdCF", m, why));
    EXPECT_EQ(m, CryptMethod::aesv2);
  }
  const Encrypted bare = open_encrypted(with_encrypt("<< /Filter /Standard >>", false));
  ASSERT_TRUE(bare.read) << bare.why;
  EXPECT_EQ(bare.params.r, 0);
  EXPECT_FALSE(bare.params.length_given);
  EXPECT_EQ(bare.params.length_bits, 40);
  EXPECT_FALSE(bare.params.p_given);
  EXPECT_TRUE(bare.params.encrypt_metadata);
  EXPECT_EQ(bare.params.stm_f + bare.params.str_f + bare.params.eff, "IdentityIdentityIdentity");
}

}  // namespace
