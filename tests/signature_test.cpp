// Signed documents: a stamp is appended to them as an update, so that the
// bytes their signatures cover stay as they were. Inputs are signed at run
// time by poppler's pdfsig with a certificate that certutil makes in a
// scratch database; pdfsig judges the signatures of every output, qpdf
// --check its structure and pdftotext its pages.
#include <folimark.h>
#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/e2e_oracles.h"
#include "support/pdf_builder.h"
#include "support/run_tool.h"

namespace fs = std::filesystem;

namespace {

using namespace e2e;

constexpr const char *kStamp = "FOLISTAMP";

// The signing tools; empty when this build did not find them.
const std::string kPdfsig = FOLIMARK_PDFSIG;
const std::string kCertutil = FOLIMARK_CERTUTIL;

// A scratch certificate database holding one self-signed signing key.
struct Signer {
  std::string nssdir;  // "sql:<folder>", as pdfsig and certutil take it
  std::string nick = "folimark-test-signer";
};

// Returns a signer whose database is made in dir.
Signer make_signer(const std::string &dir) {
  Signer s;
  const std::string db = dir + "/nss";
  fs::create_directories(db);
  s.nssdir = "sql:" + db;
  must_run({kCertutil, "-N", "-d", s.nssdir, "--empty-password"});
  std::string noise;
  for (int i = 0; i < 256; ++i) noise += static_cast<char>((i * 73 + 11) & 0xFF);
  testpdf::write_file(db + "/noise", noise);
  must_run({kCertutil, "-S", "-x", "-d", s.nssdir, "-n", s.nick, "-s", "CN=Folimark Test Signer",
            "-t", "CT,C,C", "-k", "rsa", "-g", "2048", "-v", "12", "-z", db + "/noise",
            "--keyUsage", "digitalSignature,nonRepudiation"});
  return s;
}

// Returns the path of a signed copy of in.
std::string sign(const Signer &s, const std::string &in, const std::string &out) {
  must_run({kPdfsig, "-add-signature", "-nssdir", s.nssdir, "-nick", s.nick, in, out});
  return out;
}

// What pdfsig says of a file's signatures.
struct SignatureReport {
  int signatures = 0;
  int valid = 0;  // "Signature is Valid.": the digest matches and the signature verifies
};

SignatureReport signatures_of(const Signer &s, const std::string &path) {
  const ToolResult r = testtool::run({kPdfsig, "-nssdir", s.nssdir, path});
  return {static_cast<int>(count_of(r.out, "\nSignature #")),
          static_cast<int>(count_of(r.out, "Signature Validation: Signature is Valid."))};
}

// Returns the offset that the file's last "startxref" names, or -1.
int64_t startxref_of(const std::string &bytes) {
  const size_t at = bytes.rfind("startxref");
  if (at == std::string::npos) return -1;
  size_t p = at + 9;
  while (p < bytes.size() && (bytes[p] == '\r' || bytes[p] == '\n' || bytes[p] == ' ')) ++p;
  int64_t v = -1;
  std::from_chars(bytes.data() + p, bytes.data() + bytes.size(), v);
  return v;
}

// The newest cross-reference section of a file, as its bytes show it.
struct LastSection {
  bool table = false;   // "xref" stands at startxref
  bool stream = false;  // a cross-reference stream stands there
  int64_t prev = -1;    // its /Prev, or -1
};

LastSection last_section(const std::string &bytes) {
  LastSection s;
  const int64_t at = startxref_of(bytes);
  if (at < 0 || static_cast<size_t>(at) >= bytes.size()) return s;
  const size_t end = bytes.rfind("startxref");
  const std::string section = bytes.substr(static_cast<size_t>(at), end - static_cast<size_t>(at));
  s.table = section.compare(0, 4, "xref") == 0;
  s.stream = !s.table && section.find("/Type /XRef") != std::string::npos;
  const size_t prev = section.find("/Prev ");
  if (prev != std::string::npos)
    std::from_chars(section.data() + prev + 6, section.data() + section.size(), s.prev);
  return s;
}

template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case> &param) {
  return param.param.name;
}

class Signatures : public E2e {
 protected:
  void SetUp() override {
    E2e::SetUp();
    if (IsSkipped() || HasFailure()) return;
    if (kPdfsig.empty() || kCertutil.empty()) {
      if (tools_required()) FAIL() << "FOLIMARK_REQUIRE_TOOLS is set but pdfsig or certutil is missing";
      GTEST_SKIP() << "signed-document tests need pdfsig (poppler-utils) and certutil (libnss3-tools)";
    }
    signer_ = make_signer(dir());
  }

  const Signer &signer() const { return signer_; }

  // Stamps every page of in into out at height y, and checks that out is in
  // with an update appended: in's bytes first, a newest section of the
  // expected kind linked to in's, signatures as valid as before, sound
  // structure, and the stamp on every page (stamps already there stay).
  void expect_update(const std::string &in, const std::string &out, bool stream,
                     int signatures, float y = 60) {
    ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, 250, y, 20, 1, 0, 0, 0, 0), 1)
        << folimark_last_error();
    const std::string before = testpdf::read_file(in);
    const std::string after = testpdf::read_file(out);
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(after.compare(0, before.size(), before), 0) << "the input is not a prefix";
    // The update starts on a line of its own: after the input's "%%EOF" on
    // the same line, it would be read as the rest of that comment.
    const size_t first = after.find_first_not_of("\r\n", before.size());
    ASSERT_NE(first, std::string::npos);
    EXPECT_TRUE(after[first - 1] == '\n' || after[first - 1] == '\r') << "the update starts mid-line";
    const LastSection section = last_section(after);
    EXPECT_EQ(section.table, !stream);
    EXPECT_EQ(section.stream, stream);
    EXPECT_EQ(section.prev, startxref_of(before));
    EXPECT_EQ(qpdf_problems(out), "");
    const int pages = page_count(in);
    ASSERT_EQ(page_count(out), pages);
    for (int p = 1; p <= pages; ++p)
      EXPECT_EQ(count_of(page_text(out, p), kStamp), count_of(page_text(in, p), kStamp) + 1)
          << "page " << p;
    const SignatureReport report = signatures_of(signer(), out);
    EXPECT_EQ(report.signatures, signatures) << out;
    EXPECT_EQ(report.valid, report.signatures) << out;
  }

 private:
  Signer signer_;
};

// Faults guarded: a signature broken by the stamp, an update readers cannot
// follow, or one of another kind than the input's newest section.

struct SignedCase {
  const char *name;
  bool stream;     // the newest section of the input is a cross-reference stream
  int signatures;  // how many pdfsig finds
  std::function<std::string(const std::string &dir, const Signer &s)> make;
};

void PrintTo(const SignedCase &c, std::ostream *os) { *os << c.name; }

std::string gs_input(const std::string &d) { return ghostscript_pdf(d, "plain", three_pages()); }

const SignedCase kSignedCases[] = {
    {"ghostscript", false, 1,
     [](const std::string &d, const Signer &s) { return sign(s, gs_input(d), d + "/signed.pdf"); }},
    {"builder", false, 1,
     [](const std::string &d, const Signer &s) {
       const std::string in =
           write_doc(d, "plain", testpdf::simple_document({"Builder first page", "Second page"}));
       return sign(s, in, d + "/signed.pdf");
     }},
    {"signed_twice", false, 2,
     [](const std::string &d, const Signer &s) {
       return sign(s, sign(s, gs_input(d), d + "/once.pdf"), d + "/signed.pdf");
     }},
    {"cross_reference_stream", true, 1,
     [](const std::string &d, const Signer &s) {
       const std::string packed =
           qpdf_variant(gs_input(d), "packed", {"--object-streams=generate"});
       return sign(s, packed, d + "/signed.pdf");
     }},
};

class SignedInputs : public Signatures, public ::testing::WithParamInterface<SignedCase> {};

// Stamped once and again: each time an update, every signature still valid.
TEST_P(SignedInputs, StampIsAppendedAndSignaturesStayValid) {
  const SignedCase &c = GetParam();
  const std::string in = c.make(dir(), signer());
  const SignatureReport report = signatures_of(signer(), in);
  ASSERT_EQ(report.signatures, c.signatures);
  ASSERT_EQ(report.valid, c.signatures);
  expect_update(in, dir() + "/once-stamped.pdf", c.stream, c.signatures);
  // The second stamp stands apart: text drawn over the same text reads once.
  expect_update(dir() + "/once-stamped.pdf", dir() + "/twice-stamped.pdf", c.stream,
                c.signatures, 160);
}

INSTANTIATE_TEST_SUITE_P(Signed, SignedInputs, ::testing::ValuesIn(kSignedCases),
                         case_name<SignedCase>);

// A signed document that another program made: its signatures verify (or
// not) exactly as before.
TEST_F(Signatures, CorpusSignedDocumentKeepsItsSignatures) {
  const fs::path file = fs::path(FOLIMARK_CORPUS_DIR) / "pdf" / "qpdf" / "digitally-signed.pdf";
  if (!fs::exists(file)) GTEST_SKIP() << "corpus file absent: " << file;
  const std::string in = dir() + "/digitally-signed.pdf";
  fs::copy_file(file, in);
  const SignatureReport report = signatures_of(signer(), in);
  ASSERT_GE(report.signatures, 1);
  const std::string bytes = testpdf::read_file(in);
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, 250, 60, 20, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  const std::string after = testpdf::read_file(out);
  EXPECT_EQ(after.compare(0, bytes.size(), bytes), 0) << "the input is not a prefix";
  EXPECT_EQ(last_section(after).prev, startxref_of(bytes));
  EXPECT_EQ(qpdf_problems(out), "");
  for (int p = 1; p <= page_count(in); ++p)
    EXPECT_EQ(count_of(page_text(out, p), kStamp), 1u) << "page " << p;
  const SignatureReport stamped = signatures_of(signer(), out);
  EXPECT_EQ(stamped.signatures, report.signatures);
  EXPECT_EQ(stamped.valid, report.valid);
}

// Faults guarded: a signed and encrypted document whose update is written in
// the clear, with another key, or so that its signature breaks.
TEST_F(Signatures, SignedAndEncryptedGetsAnEncryptedUpdate) {
  const std::string encrypted = qpdf_variant(gs_input(dir()), "encrypted",
                                             {"--encrypt", "", "owner", "256", "--"});
  const std::string in = sign(signer(), encrypted, dir() + "/signed.pdf");
  const std::string out = dir() + "/out.pdf";
  folimark_options o;
  folimark_options_init(&o, sizeof o);
  o.input_path = in.c_str();
  o.output_path = out.c_str();
  o.text = kStamp;
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  const std::string before = testpdf::read_file(in), after = testpdf::read_file(out);
  EXPECT_EQ(after.compare(0, before.size(), before), 0) << "the input is not a prefix";
  EXPECT_EQ(qpdf_problems(out), "");
  EXPECT_EQ(must_run({tools().qpdf, "--show-encryption", out}).out,
            must_run({tools().qpdf, "--show-encryption", in}).out);
  for (int p = 1; p <= page_count(in); ++p)
    EXPECT_EQ(count_of(page_text(out, p), kStamp), 1u) << "page " << p;
  const SignatureReport report = signatures_of(signer(), out);
  EXPECT_EQ(report.signatures, 1);
  EXPECT_EQ(report.valid, 1);
}

// Returns a one-page document certified by a signature dictionary (no real
// signature) whose /DocMDP transform has the /TransformParams value params;
// object 6 is params_object when one is given.
std::string certified_document(const std::string &params, const std::string &params_object = "") {
  std::vector<testpdf::Object> objects = {
      {1, 0, "<< /Type /Catalog /Pages 2 0 R /Perms << /DocMDP 5 0 R >> >>"},
      {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
      {3, 0,
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
       " /Resources << /Font << /F1 7 0 R >> >> >>"},
      {4, 0, testpdf::stream("", "BT /F1 18 Tf 72 700 Td (Certified words) Tj ET")},
      {5, 0,
       "<< /Type /Sig /Reference [<< /Type /SigRef /TransformMethod /DocMDP /TransformParams " +
           params + " >>] >>"},
      {7, 0, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}};
  if (!params_object.empty()) objects.push_back({6, 0, params_object});
  return testpdf::build(objects, 1);
}

// A certification that allows changes (no /P: level 2) is stamped as an
// update; one without a real signature is enough to tell. The input ends
// without an end-of-line, which the update must add before its first object.
TEST_F(Signatures, CertificationAllowingChangesGetsAnUpdate) {
  std::string bytes = certified_document("<< /Type /TransformParams /V /1.2 >>");
  while (bytes.back() == '\n' || bytes.back() == '\r') bytes.pop_back();
  const std::string in = write_doc(dir(), "certified", bytes);
  expect_update(in, dir() + "/out.pdf", false, 0);
}

// Faults guarded: a document whose signature forbids any change, or whose
// cross-reference data cannot carry an update, stamped anyway.

struct RefusedCase {
  const char *name;
  std::function<std::string(const std::string &dir, const Signer &s)> make;
  const char *message;  // {in} stands for the input's path
};

void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

const RefusedCase kRefusedCases[] = {
    {"certified_no_changes",
     [](const std::string &d, const Signer &) {
       return write_doc(d, "locked",
                        certified_document("6 0 R", "<< /Type /TransformParams /P 1 /V /1.2 >>"));
     },
     "cannot stamp {in}: its certification signature permits no changes"},
    {"signed_startxref_damaged",
     [](const std::string &d, const Signer &s) {
       std::string bytes = testpdf::read_file(sign(s, gs_input(d), d + "/signed.pdf"));
       // The last startxref names the header's first byte: no section is there.
       const size_t at = bytes.find_first_of("0123456789", bytes.rfind("startxref"));
       const size_t end = bytes.find_first_not_of("0123456789", at);
       bytes.replace(at, end - at, std::string(end - at - 1, '0') + "1");
       return write_doc(d, "damaged", bytes);
     },
     "cannot stamp {in}: it is signed and its cross-reference data is damaged"},
};

class RefusedInputs : public Signatures, public ::testing::WithParamInterface<RefusedCase> {};

// Refused with the message; no output, not even a temporary file.
TEST_P(RefusedInputs, FailWithMessageAndLeaveNoFile) {
  const RefusedCase &c = GetParam();
  const std::string in = c.make(dir(), signer());
  const std::string out = dir() + "/out.pdf";
  const auto files = [this] {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> before = files();
  EXPECT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, 72, 72, 20, 1, 0, 0, 0, 0), 0);
  std::string message = c.message;
  message.replace(message.find("{in}"), 4, in);
  EXPECT_EQ(folimark_last_error(), message);
  EXPECT_EQ(files(), before);
}

INSTANTIATE_TEST_SUITE_P(Signed, RefusedInputs, ::testing::ValuesIn(kRefusedCases),
                         case_name<RefusedCase>);

// Faults guarded: an unsigned document written as an update.

// A plain document still gets a complete new file: no /Prev in its trailer.
TEST_F(Signatures, PlainDocumentGetsAWholeNewFile) {
  const std::string in = gs_input(dir());
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), kStamp, 250, 60, 20, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  const std::string after = testpdf::read_file(out);
  EXPECT_EQ(after.compare(0, 5, "%PDF-"), 0);
  const LastSection section = last_section(after);
  EXPECT_TRUE(section.table);
  EXPECT_EQ(section.prev, -1);
  EXPECT_EQ(count_of(after, "startxref"), 1u);
  EXPECT_EQ(qpdf_problems(out), "");
}

}  // namespace
