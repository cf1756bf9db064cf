// Encrypted documents end to end: inputs encrypted by qpdf at every
// revision of the standard security handler are stamped through the
// extended interface and must come out encrypted as they went in (the same
// handler, permissions and passwords), open in qpdf, poppler and MuPDF with
// the input's password, and show the stamp beside every original word.
// Wrong and missing passwords, forbidden changes and other handlers are
// refused with their own codes and leave no output; the classic exports keep
// refusing encrypted input.
#include <folimark.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/e2e_oracles.h"
#include "support/pdf_builder.h"

namespace {

using namespace e2e;

// One way qpdf encrypts: the options between the key length and "--".
struct Variant {
  const char *name;
  const char *key_length;
  std::vector<std::string> options;
};

const Variant kVariants[] = {
    {"R2_rc4_40", "40", {}},
    {"R3_rc4_128", "128", {"--use-aes=n"}},
    {"R4_rc4_128", "128", {"--use-aes=n", "--force-V4"}},
    {"R4_aes_128", "128", {"--use-aes=y"}},
    {"R4_aes_cleartext_metadata", "128", {"--use-aes=y", "--cleartext-metadata"}},
    {"R5_aes_256", "256", {"--force-R5"}},
    {"R6_aes_256", "256", {}},
};

// Returns the path of `in` encrypted by qpdf, its objects in object streams
// (so that reading them needs the key too).
std::string encrypted(const std::string &in, const std::string &name, const Variant &v,
                      const std::string &user, const std::string &owner,
                      const std::vector<std::string> &restrictions = {}) {
  std::vector<std::string> options = {"--allow-weak-crypto", "--object-streams=generate",
                                      "--encrypt", user, owner, v.key_length};
  options.insert(options.end(), v.options.begin(), v.options.end());
  options.insert(options.end(), restrictions.begin(), restrictions.end());
  options.push_back("--");
  return qpdf_variant(in, name, options);
}

// Returns what qpdf says of a file's encryption opened with password.
std::string encryption_of(const std::string &path, const std::string &password) {
  return must_run({tools().qpdf, "--show-encryption", "--password=" + password, path}).out;
}

std::string check_problems(const std::string &path, const std::string &password) {
  const std::vector<std::string> argv = {tools().qpdf, "--check", "--password=" + password, path};
  const ToolResult r = testtool::run(argv);
  if (r.ok() && r.out.find("WARNING") == std::string::npos && r.err.find("WARNING") == std::string::npos)
    return "";
  return testtool::describe(argv, r) + "\n" + r.out.substr(0, 2000);
}

// Stamps in to out with the extended interface; returns the result code.
int stamp(const std::string &in, const std::string &out, const char *password,
          const char *text = "STAMPED") {
  folimark_options o;
  folimark_options_init(&o, sizeof o);
  o.input_path = in.c_str();
  o.output_path = out.c_str();
  o.text = text;
  o.password = password;
  o.pages = "1,z";
  return folimark_stamp(&o, nullptr, nullptr);
}

class Encrypted : public E2e, public ::testing::WithParamInterface<Variant> {};

// Faults guarded: output decrypted or re-keyed (another handler, key,
// permissions or password), new objects left in the clear or encrypted with
// the wrong key, object streams unread, original words lost.
TEST_P(Encrypted, StampedAndKeptEncrypted) {
  const Variant &v = GetParam();
  const std::string plain = ghostscript_pdf(dir(), "plain", three_pages());
  const std::string before = page_text(plain, 1) + page_text(plain, 3);
  struct Passwords {
    const char *user, *owner, *given;
  };
  const bool unicode = v.key_length == std::string("256");
  for (const Passwords &p : {Passwords{"", "owner pw", nullptr}, Passwords{"user", "owner", "user"},
                             Passwords{"user", "owner", "owner"},
                             Passwords{unicode ? "Grüße €" : "user", "owner", unicode ? "Grüße €" : "user"}}) {
    SCOPED_TRACE(std::string(v.name) + " user '" + p.user + "' given '" + (p.given ? p.given : "") + "'");
    const std::string in = encrypted(plain, "in", v, p.user, p.owner);
    const std::string out = dir() + "/out.pdf";
    ASSERT_EQ(stamp(in, out, p.given), FOLIMARK_OK) << folimark_error_message();
    const std::string password = p.given != nullptr ? p.given : "";
    EXPECT_EQ(check_problems(out, password), "");
    EXPECT_EQ(encryption_of(out, password), encryption_of(in, password));
    // poppler opens it with the same password and shows the stamp and every word.
    const std::string text =
        must_run({tools().pdftotext, "-enc", "UTF-8", "-upw", p.user, out, "-"}).out;
    EXPECT_EQ(count_of(text, "STAMPED"), 2u);
    EXPECT_EQ(lost_words(before, text), std::vector<std::string>{});
    // So does qpdf's decrypted copy.
    const std::string decrypted = dir() + "/decrypted.pdf";
    must_run({tools().qpdf, "--decrypt", "--password=" + password, out, decrypted});
    EXPECT_EQ(count_of(page_text(decrypted, 1), "STAMPED"), 1u);
    if (!tools().mutool.empty() && fs::exists(tools().mutool)) {
      const ToolResult mu = testtool::run({tools().mutool, "draw", "-q", "-p", password, "-F", "txt",
                                           "-o", "-", out, "1"});
      EXPECT_TRUE(mu.ok()) << mu.err;
      EXPECT_NE(mu.out.find("STAMPED"), std::string::npos);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Revisions, Encrypted, ::testing::ValuesIn(kVariants),
                         [](const auto &param) { return std::string(param.param.name); });

using EncryptedRefusals = E2e;

// Faults guarded: a refusal reported with another code, an output left
// behind, a permission check that the owner password does not lift.
TEST_F(EncryptedRefusals, EachHasItsCodeAndLeavesNoOutput) {
  const std::string plain = ghostscript_pdf(dir(), "plain", three_pages());
  const Variant &aes = kVariants[6];
  const std::string locked = encrypted(plain, "locked", aes, "user", "owner");
  const std::string no_changes = encrypted(plain, "no-changes", aes, "", "owner", {"--modify=none"});
  const std::string out = dir() + "/out.pdf";
  struct Case {
    std::string in;
    const char *password;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {locked, nullptr, FOLIMARK_ERROR_PASSWORD, "a password is needed to open " + locked},
      {locked, "wrong", FOLIMARK_ERROR_PASSWORD,
       "a password is needed to open " + locked + ": the password given does not open it"},
      {no_changes, nullptr, FOLIMARK_ERROR_PERMISSION,
       "cannot stamp " + no_changes + ": its permissions forbid changing it; its owner password allows it"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(stamp(c.in, out, c.password), c.code) << c.message;
    EXPECT_EQ(std::string(folimark_error_message()), c.message);
    EXPECT_FALSE(fs::exists(out));
  }
  // The owner password lifts the restriction, and the output keeps it.
  ASSERT_EQ(stamp(no_changes, out, "owner"), FOLIMARK_OK) << folimark_error_message();
  EXPECT_EQ(encryption_of(out, ""), encryption_of(no_changes, ""));

  // The classic exports keep refusing encrypted input.
  const std::string classic_out = dir() + "/classic.pdf";
  EXPECT_EQ(folimark_text(no_changes.c_str(), classic_out.c_str(), "X", 10, 10, 12, 1, 0, 0, 0, 0), 0);
  EXPECT_EQ(std::string(folimark_last_error()), "encrypted PDFs are not supported: " + no_changes);
  EXPECT_FALSE(fs::exists(classic_out));
}

// Faults guarded: a public-key or unknown handler taken for the standard
// one, or refused without naming it.
TEST_F(EncryptedRefusals, OtherHandlersAreNamed) {
  for (const std::string handler : {"Adobe.PubSec", "FOPN_fLock"}) {
    testpdf::Options options;
    options.trailer_extra = "/Encrypt 4 0 R /ID [<0123456789abcdef0123456789abcdef> <00>]";
    const std::string bytes = testpdf::build(
        {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
         {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
         {3, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"},
         {4, 0, "<< /Filter /" + handler + " /SubFilter /adbe.pkcs7.s5 /V 4 /R 4 /Length 128 >>"}},
        1, options);
    const std::string in = write_doc(dir(), handler, bytes);
    const std::string out = dir() + "/out.pdf";
    EXPECT_EQ(stamp(in, out, nullptr), FOLIMARK_ERROR_ENCRYPTED);
    EXPECT_NE(std::string(folimark_error_message()).find("/" + handler), std::string::npos)
        << folimark_error_message();
    EXPECT_FALSE(fs::exists(out));
  }
}

// The command line takes the password.
TEST_F(EncryptedRefusals, CommandLineTakesThePassword) {
  const std::string plain = ghostscript_pdf(dir(), "plain", three_pages());
  const std::string in = encrypted(plain, "in", kVariants[3], "user", "owner");
  const std::string out = dir() + "/out.pdf";
  const ToolResult refused = testtool::run({FOLIMARK_STAMP_CLI, "text", in, out, "COPY"});
  EXPECT_NE(refused.exit_code, 0);
  EXPECT_NE(refused.err.find("a password is needed to open " + in), std::string::npos) << refused.err;
  must_run({FOLIMARK_STAMP_CLI, "text", "--password", "user", in, out, "COPY"});
  EXPECT_EQ(check_problems(out, "user"), "");
  EXPECT_NE(must_run({tools().pdftotext, "-upw", "user", out, "-"}).out.find("COPY"), std::string::npos);
}

// The encrypted files of the outside corpus: each one qpdf opens without a
// password is stamped and checks clean; the others are refused for the
// password.
TEST_F(EncryptedRefusals, CorpusFilesAreStampedOrRefusedForTheirPassword) {
  const fs::path corpus = fs::path(FOLIMARK_CORPUS_DIR) / "pdf";
  if (!fs::exists(corpus)) GTEST_SKIP() << "no outside corpus at " << corpus;
  int stamped = 0, seen = 0;
  for (const auto &entry : fs::recursive_directory_iterator(corpus)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".pdf") continue;
    const std::string in = entry.path().string();
    if (testpdf::read_file(in).find("/Encrypt") == std::string::npos) continue;
    const ToolResult opened = testtool::run({tools().qpdf, "--show-encryption", in});
    if (opened.out.find("File is not encrypted") != std::string::npos) continue;
    ++seen;
    const std::string out = dir() + "/out.pdf";
    const int code = stamp(in, out, nullptr);
    SCOPED_TRACE(in + ": " + folimark_error_message());
    const bool needs_password = opened.out.find("Incorrect password supplied") != std::string::npos ||
                                opened.err.find("invalid password") != std::string::npos;
    if (needs_password) {
      // Or its /Encrypt dictionary is too damaged for any password to open it.
      EXPECT_TRUE(code == FOLIMARK_ERROR_PASSWORD || code == FOLIMARK_ERROR_DAMAGED) << code;
    } else if (opened.ok()) {
      // qpdf opens it: so must we, unless it forbids changes or is damaged beyond repair.
      if (code == FOLIMARK_ERROR_PERMISSION || code == FOLIMARK_ERROR_DAMAGED) continue;
      ASSERT_EQ(code, FOLIMARK_OK);
      EXPECT_EQ(check_problems(out, ""), "");
      ++stamped;
    }
    fs::remove(out);
  }
  EXPECT_GT(seen, 0);
  EXPECT_GT(stamped, 0);
}

}  // namespace
