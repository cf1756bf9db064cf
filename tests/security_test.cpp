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

// ---- Passwords and file keys ----------------------------------------------

std::string text_of(const std::vector<uint8_t> &bytes) { return {bytes.begin(), bytes.end()}; }

// The bytes in hexadecimal, lower case as qpdf prints keys.
std::string hex_of(const std::vector<uint8_t> &bytes) {
  ByteBuf hex;
  append_hex_codes(hex, text_of(bytes));
  std::string out(reinterpret_cast<const char *>(hex.data), hex.length);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Returns what qpdf says of the file opened with the password: the file
// key in hex ("" when the password does not open it) and the line naming
// which password it was.
struct QpdfKey {
  std::string key;
  bool owner = false;
};
QpdfKey qpdf_key(const std::string &path, const std::string &password) {
  const testtool::ToolResult r = testtool::run(
      {e2e::tools().qpdf, "--show-encryption-key", "--show-encryption", "--password=" + password, path});
  QpdfKey k;
  const size_t at = r.out.find("Encryption key = ");
  if (at != std::string::npos) k.key = r.out.substr(at + 17, r.out.find('\n', at) - at - 17);
  k.owner = r.out.find("Supplied password is owner password") != std::string::npos;
  return k;
}

const std::string kPageText = "BT /F1 24 Tf 72 700 Td (Under lock and key) Tj ET";
const std::string kTitle = "A title (kept secret)";

// A one-page document: the page's content stream (object 5) and /Info
// (object 6) as given.
std::vector<testpdf::Object> one_page(const std::string &content, const std::string &info) {
  return {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
          {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
          {3, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>"},
          {4, 0, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
          {5, 0, content},
          {6, 0, info}};
}

// The plain document qpdf encrypts: a compressed content stream and a title.
std::string plain_document() {
  return testpdf::build(one_page(testpdf::flate_stream("", kPageText), "<< /Title (A title \\(kept secret\\)) >>"),
                        1, {.trailer_extra = "/Info 6 0 R"});
}

struct Variant {
  const char *name;
  std::vector<std::string> how;  // qpdf's --encrypt arguments after the passwords
  std::string user, owner;
  int r;
  CryptMethod method;
  const char *password_mode = "auto";  // how qpdf takes the passwords
  bool user_may_modify = true;
};

const Variant kVariants[] = {
    {"r2_rc4_40", {"40"}, "", "owner", 2, CryptMethod::rc4},
    {"r2_rc4_40_user", {"40"}, "user", "owner", 2, CryptMethod::rc4},
    {"r2_rc4_40_no_modify", {"40", "--modify=n"}, "", "owner", 2, CryptMethod::rc4, "auto", false},
    {"r3_rc4_128", {"128"}, "", "owner", 3, CryptMethod::rc4},
    {"r3_rc4_128_user", {"128"}, "user", "owner", 3, CryptMethod::rc4},
    // Not in PDFDocEncoding: the UTF-8 bytes are the password.
    {"r3_rc4_128_utf8_bytes", {"128"}, "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C", "owner", 3, CryptMethod::rc4, "bytes"},
    {"r4_rc4", {"128", "--force-V4"}, "", "owner", 4, CryptMethod::rc4},
    {"r4_rc4_user", {"128", "--force-V4"}, "user", "owner", 4, CryptMethod::rc4},
    {"r4_aes", {"128", "--use-aes=y"}, "", "owner", 4, CryptMethod::aesv2},
    {"r4_aes_user", {"128", "--use-aes=y"}, "user", "owner", 4, CryptMethod::aesv2},
    // In PDFDocEncoding: its bytes E4 and F6 are the password.
    {"r4_aes_latin_user", {"128", "--use-aes=y"}, "p\xC3\xA4ssw\xC3\xB6rd \xE2\x80\x94 \xE2\x82\xAC" "5", "\xC3\x9C" "ber", 4, CryptMethod::aesv2},
    {"r4_cleartext_metadata", {"128", "--use-aes=y", "--cleartext-metadata"}, "", "owner", 4, CryptMethod::aesv2},
    {"r4_cleartext_metadata_user", {"128", "--use-aes=y", "--cleartext-metadata"}, "user", "owner", 4, CryptMethod::aesv2},
    {"r5_aes256", {"256", "--force-R5"}, "", "owner", 5, CryptMethod::aesv3},
    {"r5_aes256_user", {"256", "--force-R5"}, "user", "owner", 5, CryptMethod::aesv3},
    {"r6_aes256", {"256"}, "", "owner", 6, CryptMethod::aesv3},
    {"r6_aes256_user", {"256"}, "user", "owner", 6, CryptMethod::aesv3},
    {"r6_aes256_no_modify", {"256", "--modify-other=n"}, "user", "owner", 6, CryptMethod::aesv3, "auto", false},
    {"r6_aes256_unicode", {"256"}, "Gr\xC3\xBC\xC3\x9F" "e \xE4\xB8\x96\xE7\x95\x8C", "\xD0\xB2\xD0\xBB\xD0\xB0\xD0\xB4\xD0\xB5\xD0\xBB\xD0\xB5\xD1\x86", 6, CryptMethod::aesv3},
};

class QpdfEncrypted : public testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    e2e::need_tool(e2e::tools().qpdf, "qpdf");
    if (IsSkipped()) return;
    const Variant &v = GetParam();
    plain_ = testpdf::temp_path(std::string(v.name) + "-plain.pdf");
    path_ = testpdf::temp_path(std::string(v.name) + ".pdf");
    testpdf::write_file(plain_, plain_document());
    std::vector<std::string> argv = {e2e::tools().qpdf, "--allow-weak-crypto",
                                     "--password-mode="s + v.password_mode, "--encrypt", v.user, v.owner};
    argv.insert(argv.end(), v.how.begin(), v.how.end());
    argv.insert(argv.end(), {"--", "--object-streams=disable", plain_, path_});
    e2e::must_run(argv);
    e_ = open_encrypted(testpdf::read_file(path_));
    ASSERT_TRUE(e_.read) << e_.why;
  }
  // Returns true with the key when the password opens the file as `as`.
  bool open_as(const std::string &password, Authentication as, SecurityKey &key) {
    std::string why;
    const Authentication got = authenticate(e_.params, e_.id0, password, key, why);
    EXPECT_EQ(got, as) << why;
    return got == as;
  }
  void TearDown() override {
    for (const std::string &p : {plain_, path_, ours_, decrypted_}) std::filesystem::remove(p);
  }
  std::string plain_, path_, ours_, decrypted_;
  Encrypted e_;
};

// Each password opens the file as what it is, with the key qpdf finds,
// the methods qpdf chose and the permissions it set.
TEST_P(QpdfEncrypted, Opens) {
  const Variant &v = GetParam();
  EXPECT_EQ(e_.params.filter, "Standard");
  EXPECT_EQ(e_.params.r, v.r);
  const std::string expected_key = qpdf_key(path_, v.owner).key;
  ASSERT_FALSE(expected_key.empty());
  struct Try {
    std::string password;
    Authentication as;
  };
  for (const Try &t : {Try{v.user, Authentication::user}, Try{v.owner, Authentication::owner},
                       Try{"not the password", Authentication::wrong}}) {
    SecurityKey key;
    open_as(t.password, t.as, key);
    EXPECT_EQ(hex_of(key.file_key), t.as == Authentication::wrong ? "" : expected_key) << t.password;
    const bool may = t.as == Authentication::owner || (t.as == Authentication::user && v.user_may_modify);
    EXPECT_EQ(may_modify(key), may) << t.password;
    if (t.as == Authentication::wrong) continue;
    EXPECT_EQ(key.streams, v.method);
    EXPECT_EQ(key.strings, v.method);
    EXPECT_TRUE(key.perms_match);
  }
}

std::string variant_name(const testing::TestParamInfo<Variant> &p) { return p.param.name; }

INSTANTIATE_TEST_SUITE_P(Variants, QpdfEncrypted, testing::ValuesIn(kVariants), variant_name);

// A hexadecimal string of n bytes.
std::string hex_bytes(size_t n) { return "<" + std::string(2 * n, 'a') + ">"; }

struct Refusal {
  const char *name;
  std::string dict;
  bool in_trailer;
  bool read;  // whether the dictionary reads at all
  Authentication as;
  std::string why;  // words the message holds
};

const std::string kPubSec =
    "<< /Filter /Adobe.PubSec /SubFilter /adbe.pkcs7.s5 /V 4 /R 4 /Recipients [<3082010a>] "
    "/CF << /DefaultCryptFilter << /CFM /AESV2 /Recipients [<3082>] >> >> "
    "/StmF /DefaultCryptFilter /StrF /DefaultCryptFilter >>";
const std::string kR3Strings = " /O " + hex_bytes(32) + " /U " + hex_bytes(32) + " /P -4";
const std::string kR6Strings = " /O " + hex_bytes(48) + " /U " + hex_bytes(48) + " /OE " +
                               hex_bytes(32) + " /UE " + hex_bytes(32) + " /P -4";
const std::string kV4 = " /V 4 /R 4 /CF << /StdCF << /CFM ";

const Refusal kRefusals[] = {
    {"public_key", kPubSec, false, true, Authentication::unsupported,
     "the public-key security handler /Adobe.PubSec is not supported"},
    {"public_key_in_trailer", kPubSec, true, true, Authentication::unsupported,
     "the public-key security handler /Adobe.PubSec is not supported"},
    {"public_key_escaped_name", "<< /Filter /Adobe#2EPubSec /V 1 /R 2 >>", false, true,
     Authentication::unsupported, "the public-key security handler /Adobe.PubSec is not supported"},
    {"other_handler", "<< /Filter /FooSecurity /V 2 /R 3 >>", false, true, Authentication::unsupported,
     "the security handler /FooSecurity is not supported"},
    {"revision_7", "<< /Filter /Standard /V 5 /R 7" + kR6Strings + " >>", false, true,
     Authentication::unsupported, "security handler revision 7 is not supported"},
    {"revision_indirect", "<< /Filter /Standard /V 5 /R 10 0 R" + kR6Strings + " >>", false, true,
     Authentication::unsupported, "security handler revision 7 is not supported"},
    {"revision_1", "<< /Filter /Standard /V 1 /R 1" + kR3Strings + " >>", false, true,
     Authentication::unsupported, "security handler revision 1 is not supported"},
    {"version_3", "<< /Filter /Standard /V 3 /R 3" + kR3Strings + " >>", false, true,
     Authentication::unsupported, "encryption version /V 3 with revision 3 is not supported"},
    {"version_5_with_revision_4", "<< /Filter /Standard /V 5 /R 4" + kR3Strings + " >>", false, true,
     Authentication::unsupported, "encryption version /V 5 with revision 4 is not supported"},
    {"unknown_method", "<< /Filter /Standard" + kV4 + "/FooCrypt >> >> /StmF /StdCF /StrF /StdCF" + kR3Strings + " >>",
     false, true, Authentication::unsupported, "the crypt filter method /FooCrypt is not supported"},
    {"undefined_filter", "<< /Filter /Standard" + kV4 + "/V2 >> >> /StmF /Missing /StrF /StdCF" + kR3Strings + " >>",
     false, true, Authentication::unsupported, "the crypt filter /Missing is not defined in /CF"},
    {"aes256_with_revision_4", "<< /Filter /Standard" + kV4 + "/AESV3 >> >> /StmF /StdCF /StrF /StdCF" + kR3Strings + " >>",
     false, true, Authentication::unsupported, "revision 4 with the crypt filter method /AESV3 is not supported"},
    {"short_o", "<< /Filter /Standard /V 2 /R 3 /O " + hex_bytes(20) + " /U " + hex_bytes(32) + " /P -4 >>",
     false, true, Authentication::damaged, "the /Encrypt dictionary's /O holds 20 bytes; revision 3 needs 32"},
    {"short_o_indirect", "<< /Filter /Standard /V 2 /R 3 /O 11 0 R /U " + hex_bytes(32) + " /P -4 >>",
     false, true, Authentication::damaged, "/O holds 5 bytes"},
    {"short_u_r2", "<< /Filter /Standard /V 1 /R 2 /O " + hex_bytes(32) + " /U " + hex_bytes(16) + " /P -4 >>",
     false, true, Authentication::damaged, "/U holds 16 bytes; revision 2 needs 32"},
    {"short_u_r6", "<< /Filter /Standard /V 5 /R 6 /O " + hex_bytes(48) + " /U " + hex_bytes(32) + " /P -4 >>",
     false, true, Authentication::damaged, "/U holds 32 bytes; revision 6 needs 48"},
    {"missing_ue_r6", "<< /Filter /Standard /V 5 /R 6 /O " + hex_bytes(48) + " /U " + hex_bytes(48) + " /OE " + hex_bytes(32) + " /P -4 >>",
     false, true, Authentication::damaged, "/UE holds 0 bytes; revision 6 needs 32"},
    {"no_p", "<< /Filter /Standard /V 2 /R 3 /O " + hex_bytes(32) + " /U " + hex_bytes(32) + " >>",
     false, true, Authentication::damaged, "has no /P"},
    {"wrong_password", "<< /Filter /Standard /V 2 /R 3 /Length 128" + kR3Strings + " >>", false, true,
     Authentication::wrong, "neither the user nor the owner password"},
    {"no_filter", "<< /V 2 /R 3" + kR3Strings + " >>", false, false, Authentication::wrong,
     "names no security handler"},
    {"not_a_dictionary", "[/Standard]", false, false, Authentication::wrong, "missing"},
};

class Refusals : public testing::TestWithParam<Refusal> {};

TEST_P(Refusals, SayWhy) {
  const Refusal &c = GetParam();
  const Encrypted e = open_encrypted(with_encrypt(c.dict, c.in_trailer));
  ASSERT_EQ(e.read, c.read) << e.why;
  if (!c.read) {
    EXPECT_NE(e.why.find(c.why), std::string::npos) << e.why;
    return;
  }
  SecurityKey key;
  std::string why;
  EXPECT_EQ(authenticate(e.params, e.id0, "", key, why), c.as);
  EXPECT_NE(why.find(c.why), std::string::npos) << why;
  EXPECT_TRUE(key.file_key.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, Refusals, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal> &p) { return std::string(p.param.name); });

// ---- Mutations ------------------------------------------------------------

// Each byte of an /Encrypt dictionary flipped, zeroed, or the dictionary
// cut there: reading and authentication end with some answer, never a
// crash, a hang or a read out of bounds (run under the sanitizers).
TEST(Mutations, DictionaryBytes) {
  const std::string dicts[] = {
      "<< /Filter /Standard /V 4 /R 4 /Length 10 0 R /CF << /StdCF << /CFM /AESV2 /AuthEvent "
      "/DocOpen >> /Other 11 0 R >> /StmF /StdCF /StrF /StdCF /EFF /Other /EncryptMetadata false "
      "/O (\\(\\)\\\\\\101\\r\\n\r\nabcdefghijklmnopqrstuvwxyz) /U " + hex_bytes(32) + " /P 4294966268 >>",
      "<< /Filter /Standard /V 5 /R 6 /CF << /StdCF << /CFM /AESV3 >> >> /StmF /StdCF /StrF /StdCF" +
          kR6Strings + " /Perms " + hex_bytes(16) + " >>"};
  for (const std::string &dict : dicts) {
    const bool cut_only = dict.find("/R 6") != std::string::npos;  // each full read costs two hashes
    for (size_t i = 0; i < dict.size(); ++i) {
      std::vector<std::string> mutants = {dict.substr(0, i)};
      if (!cut_only) {
        mutants.push_back(dict);
        mutants.back()[i] = static_cast<char>(dict[i] ^ 0x55);
        mutants.push_back(dict);
        mutants.back()[i] = '\0';
      }
      for (const std::string &m : mutants) {
        const Encrypted e = open_encrypted(with_encrypt(m, i % 2 == 0));
        if (!e.read) continue;
        SecurityKey key;
        std::string why;
        const Authentication as = authenticate(e.params, e.id0, "password", key, why);
        EXPECT_TRUE(as != Authentication::user && as != Authentication::owner) << m;
      }
    }
  }
}

// ---- The corpus -----------------------------------------------------------

// Returns the password a corpus file's name states after key ("U=view,O=master"), or "".
std::string named_password(const std::string &name, const std::string &key) {
  const size_t at = name.find(key);
  if (at == std::string::npos || (at > 0 && name[at - 1] != ',' && name[at - 1] != '-')) return "";
  const size_t from = at + key.size();
  return name.substr(from, name.find_first_of(",.", from) - from);
}

// Each encrypted file of the corpus opens with the empty password exactly
// when qpdf opens it without one, with the key qpdf finds; so do the
// passwords its name states.
TEST(QpdfCorpus, EncryptedFilesOpenAsQpdfOpensThem) {
  e2e::need_tool(e2e::tools().qpdf, "qpdf");
  if (IsSkipped()) return;
  const std::filesystem::path dir = std::filesystem::path(FOLIMARK_CORPUS_DIR) / "pdf" / "qpdf";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "corpus folder absent: " << dir;
  int seen = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    const std::string path = entry.path().string();
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".pdf") continue;
    const std::string bytes = testpdf::read_file(path);
    if (bytes.find("/Encrypt") == std::string::npos) continue;
    const int needs = testtool::run({e2e::tools().qpdf, "--requires-password", path}).exit_code;
    if (needs != 0 && needs != 3) continue;  // qpdf does not take it for encrypted
    ++seen;
    const Encrypted e = open_encrypted(bytes);
    if (!e.read) {
      EXPECT_EQ(needs, 0) << name << ": " << e.why;
      std::cout << name << ": not read: " << e.why << "\n";
      continue;
    }
    std::vector<std::string> passwords = {""};
    for (const char *key : {"U=", "O="}) {
      const std::string named = named_password(name, key);
      if (!named.empty() && named != passwords.back()) passwords.push_back(named);
    }
    for (const std::string &password : passwords) {
      SecurityKey key;
      std::string why;
      const Authentication as = authenticate(e.params, e.id0, password, key, why);
      const QpdfKey expected = qpdf_key(path, password);
      const bool opened = as == Authentication::user || as == Authentication::owner;
      if (password.empty()) {
        EXPECT_EQ(opened, needs == 3) << name << ": " << why;
      }
      EXPECT_EQ(hex_of(key.file_key), opened ? expected.key : "") << name << " with '" << password << "'";
      if (opened) {
        EXPECT_EQ(as == Authentication::owner, expected.owner) << name << " with '" << password << "'";
      }
      std::cout << name << " R" << e.params.r << " '" << password << "': "
                << (opened ? (as == Authentication::owner ? "owner" : "user") : why) << "\n";
    }
  }
  EXPECT_GT(seen, 0);
}

// ---- Strings and streams --------------------------------------------------

// Returns zlib data inflated, or "<damaged>".
std::string inflated(const std::vector<uint8_t> &data) {
  std::string out(1 << 20, '\0');
  uLongf size = static_cast<uLongf>(out.size());
  if (uncompress(reinterpret_cast<Bytef *>(out.data()), &size, data.data(),
                 static_cast<uLong>(data.size())) != Z_OK)
    return "<damaged>";
  out.resize(size);
  return out;
}

// The first page's content stream and the /Title of the document's /Info.
const ObjEntry *first_content(const PdfDoc &doc) {
  for (const ObjEntry &e : doc.objs) {
    const DictRange r = dict_range(doc, e);
    if (!r.present || !dict_type_is(r.bytes, r.start, r.end, "Page")) continue;
    return find_obj(doc, dict_key_ref(r.bytes, r.start, r.end, "Contents"));
  }
  return nullptr;
}

Bytes stream_data(const PdfDoc &doc, const ObjEntry &e) {
  return doc_bytes(doc).subspan(static_cast<size_t>(e.data_pos),
                                static_cast<size_t>(e.data_end - e.data_pos));
}

std::string info_title(const PdfDoc &doc) {
  const ObjEntry *info = find_obj(doc, doc.info_num);
  if (info == nullptr) return "<no /Info>";
  const DictRange r = dict_range(doc, *info);
  std::string title;
  read_string_value(r.bytes, key_value_pos(r.bytes, r.start, r.end, "Title"), title);
  return title;
}

// Returns a document of one page under the /Encrypt dictionary and /ID of
// e: the content stream's data and the title's bytes as they are given
// (encrypted by the caller).
std::string under_same_encryption(const Encrypted &e, const std::vector<uint8_t> &content,
                                  const std::vector<uint8_t> &title) {
  const DictRange dict = encrypt_dict_range(e.doc);
  const std::string dict_text(reinterpret_cast<const char *>(dict.bytes.data()) + dict.start,
                              static_cast<size_t>(find_dict_close(dict.bytes, dict.start, 0) - dict.start));
  ByteBuf hex_title;
  append_hex_string(hex_title, text_of(title));
  std::vector<testpdf::Object> objects =
      one_page(testpdf::stream("", text_of(content)),
               "<< /Title " + std::string(reinterpret_cast<const char *>(hex_title.data), hex_title.length) + " >>");
  objects.push_back({7, 0, dict_text});
  return testpdf::build(objects, 1, {.trailer_extra = "/Info 6 0 R /Encrypt 7 0 R /ID " + e.doc.trailer_id});
}

// The content stream and a string decrypt to what qpdf encrypted.
TEST_P(QpdfEncrypted, Decrypts) {
  const Variant &v = GetParam();
  SecurityKey key;
  ASSERT_TRUE(open_as(v.user, Authentication::user, key));
  const ObjEntry *content = first_content(e_.doc);
  ASSERT_NE(content, nullptr);
  std::vector<uint8_t> plain;
  ASSERT_TRUE(decrypt_data(key, key.streams, content->num, content->gen, stream_data(e_.doc, *content), plain));
  const testtool::ToolResult shown = e2e::must_run(
      {e2e::tools().qpdf, "--show-object=" + std::to_string(content->num), "--filtered-stream-data",
       "--password=" + v.owner, path_});
  EXPECT_EQ(inflated(plain), shown.out);
  EXPECT_EQ(shown.out, kPageText);

  const ObjEntry *info = find_obj(e_.doc, e_.doc.info_num);
  ASSERT_NE(info, nullptr);
  const std::string title = info_title(e_.doc);
  ASSERT_TRUE(decrypt_data(key, key.strings, info->num, info->gen, bytes_of(title), plain));
  EXPECT_EQ(text_of(plain), kTitle);
}

// What encrypt_data makes decrypts back, and qpdf reads it: a file of our
// own objects under the same /Encrypt dictionary and /ID, its content
// stream and title encrypted here.
TEST_P(QpdfEncrypted, WhatWeEncryptQpdfDecrypts) {
  const Variant &v = GetParam();
  SecurityKey key;
  ASSERT_TRUE(open_as(v.owner, Authentication::owner, key));
  const std::string content = "BT /F1 30 Tf 72 600 Td (Stamped after opening) Tj ET";
  const std::string title = "Encrypted \x01\xFF here";
  std::vector<uint8_t> sealed, sealed_title, back;
  ASSERT_TRUE(encrypt_data(key, key.streams, 5, 0, bytes_of(content), sealed));
  ASSERT_TRUE(encrypt_data(key, key.strings, 6, 0, bytes_of(title), sealed_title));
  ASSERT_TRUE(decrypt_data(key, key.streams, 5, 0, sealed, back));
  EXPECT_EQ(text_of(back), content);
  if (key.streams == CryptMethod::aesv2 || key.streams == CryptMethod::aesv3) {
    std::vector<uint8_t> again;
    ASSERT_TRUE(encrypt_data(key, key.streams, 5, 0, bytes_of(content), again));
    EXPECT_NE(again, sealed) << "each encryption takes a fresh IV";
    EXPECT_EQ(sealed.size(), 16 + (content.size() / 16 + 1) * 16);
  }

  const std::string file = under_same_encryption(e_, sealed, sealed_title);
  ours_ = testpdf::temp_path(std::string(v.name) + "-ours.pdf");
  decrypted_ = testpdf::temp_path(std::string(v.name) + "-ours-plain.pdf");
  testpdf::write_file(ours_, file);
  e2e::must_run({e2e::tools().qpdf, "--password=" + v.user, "--decrypt", "--object-streams=disable",
                 "--stream-data=uncompress", ours_, decrypted_});
  EXPECT_EQ(e2e::qpdf_problems(decrypted_), "");
  const Encrypted plain = open_encrypted(testpdf::read_file(decrypted_));
  EXPECT_EQ(plain.why, "not encrypted");
  const ObjEntry *c = first_content(plain.doc);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(text_of({stream_data(plain.doc, *c).begin(), stream_data(plain.doc, *c).end()}), content);
  EXPECT_EQ(info_title(plain.doc), title);
}

// AES data cut inside a block, with bytes beyond its last block, without
// its padding block (the last byte then no valid padding), or no longer
// than an IV decrypts to what qpdf makes of it.
class OddAesData : public QpdfEncrypted {};

TEST_P(OddAesData, ReadsAsQpdfReadsIt) {
  const Variant &v = GetParam();
  SecurityKey key;
  ASSERT_TRUE(open_as("", Authentication::user, key));
  std::string content = "0 0 m 90 90 l S %";
  content.resize(32, '.');
  std::vector<uint8_t> sealed;  // IV, two blocks of data, one of padding
  ASSERT_TRUE(encrypt_data(key, key.streams, 5, 0, bytes_of(content), sealed));
  const auto first = [&sealed](size_t n) { return std::vector<uint8_t>(sealed.begin(), sealed.begin() + n); };
  std::vector<uint8_t> extra = sealed;
  extra.insert(extra.end(), {'A', 'B', 'C', 'D', 'E'});
  const std::pair<const char *, std::vector<uint8_t>> cases[] = {
      {"cut inside a block", first(sealed.size() - 5)}, {"bytes beyond", extra},
      {"no padding block", first(48)}, {"IV only", first(16)}, {"short of an IV", first(10)}};
  ours_ = testpdf::temp_path(std::string(v.name) + "-odd.pdf");
  for (const auto &[what, data] : cases) {
    testpdf::write_file(ours_, under_same_encryption(e_, data, {}));
    const testtool::ToolResult shown =
        testtool::run({e2e::tools().qpdf, "--show-object=5", "--filtered-stream-data", ours_});
    std::vector<uint8_t> plain;
    ASSERT_TRUE(decrypt_data(key, key.streams, 5, 0, data, plain));
    EXPECT_EQ(text_of(plain), shown.out) << what;
  }
}

// The AES variants with the empty user password.
std::vector<Variant> aes_variants() {
  std::vector<Variant> out;
  for (const Variant &v : kVariants)
    if (v.method != CryptMethod::rc4 && v.user.empty()) out.push_back(v);
  return out;
}

INSTANTIATE_TEST_SUITE_P(Variants, OddAesData, testing::ValuesIn(aes_variants()), variant_name);

// A key the data's method does not fit decrypts nothing; nor does AES data
// shorter than its IV. Data cut inside a block, or with padding that is not
// valid, is read as other readers read it.
TEST(ObjectCrypt, OddData) {
  SecurityKey rc4_key;
  rc4_key.file_key.assign(16, 0x42);
  SecurityKey aes256_key;
  aes256_key.file_key.assign(32, 0x42);
  std::vector<uint8_t> out = {1};
  const std::string data = "sixteen bytes!!!";
  EXPECT_FALSE(decrypt_data(rc4_key, CryptMethod::aesv3, 1, 0, bytes_of(data), out));
  EXPECT_FALSE(decrypt_data(aes256_key, CryptMethod::aesv2, 1, 0, bytes_of(data), out));
  EXPECT_FALSE(encrypt_data(aes256_key, CryptMethod::rc4, 1, 0, bytes_of(data), out));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(decrypt_data(aes256_key, CryptMethod::aesv3, 1, 0, bytes_of(data).first(15), out));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(decrypt_data(aes256_key, CryptMethod::identity, 1, 0, bytes_of(data), out));
  EXPECT_EQ(text_of(out), data);
}

}  // namespace
