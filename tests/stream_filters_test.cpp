// Stream data decoded through its filters (pdf/stream_filters.h), judged
// against encoders no one here wrote: Ghostscript's PostScript encoding
// filters make the data of most cases at test time, predictors included.
// Damaged and hand-made cases say what they guard in their names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/limits.h"
#include "filters/filters.h"
#include "pdf/pdf_doc.h"
#include "pdf/reconstruct.h"
#include "pdf/stream_filters.h"
#include "support/run_tool.h"

namespace {

namespace fs = std::filesystem;

Bytes bytes_of(const std::string &s) { return {reinterpret_cast<const uint8_t *>(s.data()), s.size()}; }

std::string text_of(const ByteBuf &b) {
  return b.data == nullptr ? std::string() : std::string(reinterpret_cast<const char *>(b.data), b.length);
}

// --- inputs ----------------------------------------------------------------

// Page content: operators, numbers and strings, some lines repeated.
std::string content_text() {
  std::string s = "q 1 0 0 1 72 720 cm\n";
  for (int i = 0; i < 120; ++i)
    s += "BT /F1 " + std::to_string(9 + i % 5) + " Tf 0 " + std::to_string(-14 * i) + " Td (line " +
         std::to_string(i * 37 % 101) + ") Tj ET\n";
  return s + "Q\n";
}

// Bytes of every value, seeded, with runs of zeros and of repeats that the
// encoders write in their short forms ('z' groups, repeat runs).
std::string binary_bytes(size_t n) {
  std::string s;
  uint32_t x = 12345;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    const uint32_t kind = x >> 28;
    if (kind == 0) s.append(8, '\0');
    else if (kind == 1) s.append(3 + (x >> 8) % 150, static_cast<char>(x >> 16));
    else s += static_cast<char>(x >> 16);
  }
  s.resize(n);
  return s;
}

// Image-like rows (smooth gradients, so every predictor has work to do) of
// the given layout.
std::string pixel_rows(int colors, int bits, int columns, int rows) {
  const size_t row_bytes = (static_cast<size_t>(colors) * bits * columns + 7) / 8;
  std::string s;
  for (int r = 0; r < rows; ++r)
    for (size_t k = 0; k < row_bytes; ++k) s += static_cast<char>(r * 11 + k * 5 + (k * k) % 7);
  return s;
}

// --- Ghostscript as the encoder ---------------------------------------------

// One encoding for Ghostscript: the data passes through the encoding
// filters from the last to the first, so the list reads as /Filter does.
// Each stage is PostScript before "filter": "/FlateEncode", or parameters
// and name, "<< /Predictor 12 /Columns 5 >> /FlateEncode".
struct GsJob {
  std::vector<std::string> stages;
  std::string input;
};

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() / ("folimark_stream_filters_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

void write_file(const fs::path &p, const std::string &data) {
  std::ofstream(p, std::ios::binary) << data;
}

std::string read_file(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Returns the encodings of the jobs, made by one run of Ghostscript; empty
// when Ghostscript is not there (FOLIMARK_GS names it when it was found).
std::vector<std::string> gs_encode(const std::vector<GsJob> &jobs) {
  const std::string gs = FOLIMARK_GS;
  if (gs.empty() || jobs.empty()) return {};
  TempDir dir;
  std::string program = "/buf 65536 string def\n";
  for (size_t j = 0; j < jobs.size(); ++j) {
    const std::string in = (dir.path / ("in" + std::to_string(j))).string();
    const std::string out = (dir.path / ("out" + std::to_string(j))).string();
    write_file(in, jobs[j].input);
    // s0 is the file, s1 the first filter on it, and so on; the data goes
    // to the last. Each is closed in turn from the last, so that each
    // writes its end before the one below it closes.
    program += "/in (" + in + ") (r) file def /s0 (" + out + ") (w) file def\n";
    const size_t n = jobs[j].stages.size();
    for (size_t k = 0; k < n; ++k)
      program += "/s" + std::to_string(k + 1) + " s" + std::to_string(k) + " " + jobs[j].stages[k] + " filter def\n";
    program += "{ in buf readstring exch s" + std::to_string(n) + " exch writestring not { exit } if } loop\n";
    for (size_t k = n + 1; k-- > 0;) program.append("s").append(std::to_string(k)).append(" closefile ");
    program += "in closefile\n";
  }
  const fs::path script = dir.path / "encode.ps";
  write_file(script, program);
  const std::vector<std::string> argv = {gs, "-q", "-dNODISPLAY", "-dBATCH", "-dNOPAUSE",
                                         "--permit-file-all=" + dir.path.string() + "/", script.string()};
  const testtool::ToolResult r = testtool::run(argv);
  if (!r.ok()) {
    ADD_FAILURE() << testtool::describe(argv, r);
    return {};
  }
  std::vector<std::string> out;
  for (size_t j = 0; j < jobs.size(); ++j) out.push_back(read_file(dir.path / ("out" + std::to_string(j))));
  return out;
}

// --- the stream object -------------------------------------------------------

// A file holding one stream object with the dictionary entries and data.
struct StreamFile {
  std::string text;
  ObjEntry entry;
};

StreamFile stream_file(const std::string &dict_entries, const std::string &data) {
  StreamFile f;
  f.text = "1 0 obj\n<< " + dict_entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream\nendobj\n";
  const std::vector<ObjEntry> objects = scan_file_objects(bytes_of(f.text), [](int32_t) { return -1; }).objects;
  if (!objects.empty()) f.entry = objects[0];
  return f;
}

// --- the table ---------------------------------------------------------------

enum class Expect {
  whole,   // the output is the plain data
  prefix,  // the output is a proper beginning of the plain data (what came before the damage)
  given,   // the output is `decoded`
};

struct Case {
  const char *name;
  std::string dict;                 // the stream's /Filter and /DecodeParms entries
  std::vector<std::string> stages;  // Ghostscript's encoders, or none: `encoded` as it stands
  std::string plain;                // Ghostscript's input
  std::string encoded;              // without stages: the stream data
  DecodeStatus status = DecodeStatus::ok;
  Expect expect = Expect::whole;
  std::string decoded;      // with Expect::given
  size_t keep = SIZE_MAX;   // the encoding is cut to this many bytes
  std::string append;       // and these bytes follow it
};

// A packer of LZW codes, first bit highest, each with its own width.
std::string lzw_codes(const std::vector<std::pair<unsigned, unsigned>> &codes) {
  std::string s;
  uint32_t bits = 0;
  unsigned count = 0;
  for (const auto &[code, width] : codes) {
    bits = bits << width | code;
    count += width;
    while (count >= 8) {
      count -= 8;
      s += static_cast<char>(bits >> count);
    }
  }
  if (count > 0) s += static_cast<char>(bits << (8 - count));
  return s;
}

// Literal codes only, never a clear: the table fills after 3,838 of them
// and the codes stay 12 bits wide. Each code adds an entry (but the
// first), and the width grows one entry early, as LZW writers do by default.
std::string lzw_literals_past_full_table(const std::string &plain) {
  std::vector<std::pair<unsigned, unsigned>> codes;
  unsigned width = 9;
  unsigned next = 258;
  for (size_t i = 0; i < plain.size(); ++i) {
    codes.emplace_back(static_cast<uint8_t>(plain[i]), width);
    if (i > 0 && next < 4096) ++next;
    if (next + 1 >= (1u << width) && width < 12) ++width;
  }
  codes.emplace_back(257, width);
  return lzw_codes(codes);
}

// A case whose data Ghostscript encodes from plain, decoding to plain.
Case made(const char *name, std::string dict, std::vector<std::string> stages, std::string plain) {
  Case c;
  c.name = name;
  c.dict = std::move(dict);
  c.stages = std::move(stages);
  c.plain = std::move(plain);
  return c;
}

// The same with Ghostscript's encoding cut to keep bytes and followed by
// append, decoding with status to a proper beginning of plain (or, with
// Expect::given, to decoded).
Case made_damaged(Case c, size_t keep, std::string append, DecodeStatus status, Expect expect = Expect::prefix,
                  std::string decoded = "") {
  c.keep = keep;
  c.append = std::move(append);
  c.status = status;
  c.expect = expect;
  c.decoded = std::move(decoded);
  return c;
}

// A case whose data is given as it stands.
Case given(const char *name, std::string dict, std::string encoded, DecodeStatus status, std::string decoded) {
  Case c;
  c.name = name;
  c.dict = std::move(dict);
  c.encoded = std::move(encoded);
  c.status = status;
  c.expect = Expect::given;
  c.decoded = std::move(decoded);
  return c;
}

std::vector<Case> cases() {
  const std::string content = content_text();
  const std::string binary = binary_bytes(30000);
  const std::string hello = "Hello, filters!!";  // four whole groups of base-85
  constexpr DecodeStatus ok = DecodeStatus::ok;
  constexpr DecodeStatus damaged = DecodeStatus::damaged;
  std::vector<Case> c;

  // Each filter alone, by its full name and its abbreviation.
  c.push_back(made("hex", "/Filter /ASCIIHexDecode", {"/ASCIIHexEncode"}, binary));
  c.push_back(made("hex abbreviated", "/Filter /AHx", {"/ASCIIHexEncode"}, content));
  c.push_back(made("base-85", "/Filter /ASCII85Decode", {"/ASCII85Encode"}, binary));
  c.push_back(made("base-85 abbreviated", "/Filter /A85", {"/ASCII85Encode"}, content));
  c.push_back(made("lzw", "/Filter /LZWDecode", {"/LZWEncode"}, binary));
  c.push_back(made("lzw content", "/Filter /LZW", {"/LZWEncode"}, content + content));
  c.push_back(made("lzw without early change", "/Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>",
                   {"<< /EarlyChange 0 >> /LZWEncode"}, binary));
  c.push_back(made("run length", "/Filter /RunLengthDecode", {"0 /RunLengthEncode"}, binary));
  c.push_back(made("run length abbreviated", "/Filter /RL", {"0 /RunLengthEncode"}, content));
  c.push_back(made("flate", "/Filter /FlateDecode", {"/FlateEncode"}, binary));
  c.push_back(made("flate abbreviated", "/Filter /Fl", {"/FlateEncode"}, content));

  // Chains of two and three, parameters as an array parallel to /Filter or
  // as one dictionary.
  c.push_back(made("base-85 over flate", "/Filter [/ASCII85Decode /FlateDecode]", {"/ASCII85Encode", "/FlateEncode"},
                   content));
  c.push_back(made("hex over lzw", "/Filter [/AHx /LZW]", {"/ASCIIHexEncode", "/LZWEncode"}, binary));
  c.push_back(made("hex, base-85, run length", "/Filter [/AHx /A85 /RL]",
                   {"/ASCIIHexEncode", "/ASCII85Encode", "0 /RunLengthEncode"}, binary));
  c.push_back(made("base-85, lzw, flate", "/Filter [/ASCII85Decode /LZWDecode /FlateDecode]",
                   {"/ASCII85Encode", "/LZWEncode", "/FlateEncode"}, content));
  c.push_back(made("parameters in an array with null",
                   "/Filter [/A85 /Fl] /DecodeParms [null << /Predictor 12 /Columns 6 >>]",
                   {"/ASCII85Encode", "<< /Predictor 12 /Columns 6 >> /FlateEncode"}, pixel_rows(1, 8, 6, 40)));
  c.push_back(made("one parameter dictionary for a chain",
                   "/Filter [/A85 /Fl] /DecodeParms << /Predictor 12 /Columns 6 >>",
                   {"/ASCII85Encode", "<< /Predictor 12 /Columns 6 >> /FlateEncode"}, pixel_rows(1, 8, 6, 40)));

  // PNG predictors: every filter type, several layouts and bit depths.
  struct Layout { int predictor, colors, bits, columns; };
  for (const Layout l : {Layout{10, 1, 8, 5}, Layout{11, 3, 8, 7}, Layout{12, 1, 8, 1}, Layout{13, 1, 2, 16},
                         Layout{14, 2, 16, 4}, Layout{15, 4, 8, 9}, Layout{15, 1, 1, 13}, Layout{14, 3, 4, 5},
                         Layout{11, 1, 16, 3}}) {
    const std::string parms = "/Predictor " + std::to_string(l.predictor) + " /Colors " + std::to_string(l.colors) +
                              " /BitsPerComponent " + std::to_string(l.bits) + " /Columns " +
                              std::to_string(l.columns);
    const std::string plain = pixel_rows(l.colors, l.bits, l.columns, 24);
    c.push_back(made("png predictor", "/Filter /FlateDecode /DecodeParms << " + parms + " >>",
                     {"<< " + parms + " >> /FlateEncode"}, plain));
    if (l.predictor == 12)
      c.push_back(made("png predictor after lzw", "/Filter /LZWDecode /DecodeParms << " + parms + " >>",
                       {"<< " + parms + " >> /LZWEncode"}, plain));
  }
  // TIFF predictor 2 at every bit depth.
  for (const Layout l : {Layout{2, 3, 8, 5}, Layout{2, 1, 1, 21}, Layout{2, 2, 2, 7}, Layout{2, 3, 4, 3},
                         Layout{2, 2, 16, 4}}) {
    const std::string parms = "/Predictor 2 /Colors " + std::to_string(l.colors) + " /BitsPerComponent " +
                              std::to_string(l.bits) + " /Columns " + std::to_string(l.columns);
    const std::string plain = pixel_rows(l.colors, l.bits, l.columns, 16);
    c.push_back(made("tiff predictor", "/Filter /FlateDecode /DecodeParms << " + parms + " >>",
                     {"<< " + parms + " >> /FlateEncode"}, plain));
    c.push_back(made("tiff predictor after lzw", "/Filter /LZWDecode /DecodeParms << " + parms + " >>",
                     {"<< " + parms + " >> /LZWEncode"}, plain));
  }

  // Ends that readers accept.
  c.push_back(given("hex: white space, odd final digit, no '>'", "/Filter /AHx", "48 65\n6c6C\t6F7", ok, "Hellop"));
  c.push_back(given("hex: data after '>' is ignored", "/Filter /AHx", "4865>zz", ok, "He"));
  c.push_back(made_damaged(made("base-85 without its \"~>\"", "/Filter /A85", {"/ASCII85Encode"}, hello),
                           hello.size() * 5 / 4, "", ok, Expect::whole));
  c.push_back(given("base-85 with a leading \"<~\"", "/Filter /A85", " <~87cURDZ~>", ok, "Hello"));
  c.push_back(given("base-85 'z' and a partial group", "/Filter /A85", "z87cUR\nDZ~>", ok,
                    std::string(4, '\0') + "Hello"));
  c.push_back(given("lzw without its end code", "/Filter /LZW", lzw_codes({{256, 9}, {'A', 9}, {'B', 9}, {258, 9}}),
                    ok, "ABAB"));
  c.push_back(given("lzw: a full table that is not cleared keeps 12-bit codes", "/Filter /LZW",
                    lzw_literals_past_full_table(binary.substr(0, 5000)), ok, binary.substr(0, 5000)));
  c.push_back(given("run length: data after the end byte is ignored", "/Filter /RL", "\x02" "abc\xFDz\x80" "junk", ok,
                    "abczzzz"));
  c.push_back(made_damaged(made("flate: bytes after the final block are ignored", "/Filter /Fl", {"/FlateEncode"},
                                content),
                           SIZE_MAX, "trailing bytes", ok, Expect::whole));
  c.push_back(given("empty data with a filter", "/Filter /FlateDecode", "", ok, ""));
  c.push_back(given("no filter: the stored bytes", "", "raw \x01\x02 bytes", ok, "raw \x01\x02 bytes"));
  c.push_back(given("a filter entry of null", "/Filter null /DecodeParms null", "as stored", ok, "as stored"));

  // Damage: what came before it is kept.
  c.push_back(given("hex: a byte that is no digit", "/Filter /AHx", "48656C6C6FX7A>", damaged, "Hello"));
  c.push_back(given("base-85: a byte outside the alphabet", "/Filter /A85", "87cURDZv~>", damaged, "Hell"));
  c.push_back(given("base-85: a group above 2^32 - 1", "/Filter /A85", "87cURs8W-\"~>", damaged, "Hell"));
  c.push_back(given("base-85: 'z' inside a group", "/Filter /A85", "87cURDz~>", damaged, "Hell"));
  c.push_back(given("base-85: a final group of one digit", "/Filter /A85", "87cURD~>", damaged, "Hell"));
  c.push_back(given("lzw: a code beyond the next free entry", "/Filter /LZW",
                    lzw_codes({{256, 9}, {'A', 9}, {'B', 9}, {260, 9}, {257, 9}}), damaged, "AB"));
  c.push_back(given("lzw: an entry code right after a clear", "/Filter /LZW", lzw_codes({{256, 9}, {258, 9}}),
                    damaged, ""));
  c.push_back(given("run length: a literal run cut short", "/Filter /RL", "\x01" "ab\x05" "cd", damaged, "abcd"));
  c.push_back(given("run length: a repeat without its byte", "/Filter /RL", std::string("\x00" "a\xFE", 3), damaged,
                    "a"));
  c.push_back(made_damaged(made("flate truncated", "/Filter /FlateDecode", {"/FlateEncode"}, binary), 2000, "",
                           damaged));
  c.push_back(given("flate: block type 3", "/Filter /FlateDecode", "\x78\x9C\xFF\xFF\xFF\xFF", damaged, ""));
  c.push_back(made_damaged(made("base-85 over flate, a bad byte in the text", "/Filter [/A85 /Fl]",
                                {"/ASCII85Encode", "/FlateEncode"}, binary),
                           2000, "v", damaged));
  c.push_back(made_damaged(made("png predictor: a partial last row",
                                "/Filter /Fl /DecodeParms << /Predictor 12 /Columns 4 >>", {"/FlateEncode"},
                                std::string("\x00" "abcd\x02" "\x01\x01\x01\x01\x00" "ij", 13)),
                           SIZE_MAX, "", damaged, Expect::given, "abcdbcde"));
  c.push_back(made_damaged(made("png predictor: filter type 5",
                                "/Filter /Fl /DecodeParms << /Predictor 10 /Columns 2 >>", {"/FlateEncode"},
                                std::string("\x01" "ab\x05" "cd\x00" "ef", 9)),
                           SIZE_MAX, "", damaged, Expect::given, "a\xC3"));
  c.push_back(made_damaged(made("tiff predictor: a partial last row",
                                "/Filter /Fl /DecodeParms << /Predictor 2 /Colors 2 /Columns 2 >>", {"/FlateEncode"},
                                "\x01\x02\x01\x01\x05"),
                           SIZE_MAX, "", damaged, Expect::given, "\x01\x02\x02\x03"));

  // Too large: a run-length bomb of 64 MiB and a byte.
  std::string bomb;
  for (uint64_t n = 0; n <= kMaxInflatedStream / 128; ++n) bomb += "\x81z";
  c.push_back(given("run-length output past the limit", "/Filter /RL", bomb, DecodeStatus::too_large, ""));

  // A /Crypt filter first names the data's own encryption: /Identity, its
  // default, leaves the bytes to the filters after it.
  c.push_back(given("crypt filter of identity", "/Filter [/Crypt /AHx] /DecodeParms [<< /Name /Identity >> null]",
                    "3F3F>", DecodeStatus::ok, "??"));
  c.push_back(given("lone crypt filter", "/Filter /Crypt", "3F3F>", DecodeStatus::ok, "3F3F>"));

  // Not decoded here.
  for (const char *dict : {"/Filter /DCTDecode", "/Filter /JPXDecode", "/Filter /JBIG2Decode",
                           "/Filter /CCITTFaxDecode", "/Filter [/FlateDecode /Crypt]", "/Filter [/FlateDecode /DCTDecode]",
                           "/Filter /NoSuchDecode", "/Filter /Flate#44ecode", "/Filter 5 0 R",
                           "/Filter [/FlateDecode 5 0 R]", "/Filter /FlateDecode /DecodeParms 6 0 R",
                           "/Filter [/FlateDecode] /DecodeParms [6 0 R]",
                           "/Filter /FlateDecode /DecodeParms << /Predictor 3 >>",
                           "/Filter /FlateDecode /DecodeParms << /Predictor 12 /BitsPerComponent 3 >>",
                           "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Colors 0 >>",
                           "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 0 >>",
                           "/Filter [/AHx /AHx /AHx /AHx /AHx /AHx /AHx /AHx /AHx]", "/Filter [/AHx", "/Filter"})
    c.push_back(given(dict, dict, "3F3F>", DecodeStatus::unsupported, ""));
  return c;
}

const char *status_name(DecodeStatus s) {
  switch (s) {
    case DecodeStatus::ok: return "ok";
    case DecodeStatus::unsupported: return "unsupported";
    case DecodeStatus::damaged: return "damaged";
    case DecodeStatus::too_large: return "too_large";
  }
  return "?";
}

// The stream data of each case: Ghostscript's encodings, cut and followed
// as the case says. Absent when a case needs Ghostscript and it is not there.
std::vector<std::optional<std::string>> encodings(const std::vector<Case> &table) {
  std::vector<GsJob> jobs;
  for (const Case &c : table)
    if (!c.stages.empty()) jobs.push_back({c.stages, c.plain});
  const std::vector<std::string> made = gs_encode(jobs);
  std::vector<std::optional<std::string>> out;
  size_t next = 0;
  for (const Case &c : table) {
    std::string e = c.encoded;
    if (!c.stages.empty()) {
      if (next >= made.size()) {
        out.emplace_back();
        continue;
      }
      e = made[next++];
    }
    if (c.keep < e.size()) e.resize(c.keep);
    out.push_back(e + c.append);
  }
  return out;
}

}  // namespace

// The table: every case decodes to its status and output.
TEST(StreamFilters, Table) {
  const std::vector<Case> table = cases();
  const std::vector<std::optional<std::string>> data = encodings(table);
  size_t skipped = 0;
  ByteBuf out;
  for (size_t i = 0; i < table.size(); ++i) {
    const Case &c = table[i];
    if (!data[i]) {
      ++skipped;
      continue;
    }
    const StreamFile f = stream_file(c.dict, *data[i]);
    ASSERT_EQ(f.entry.is_stream, 1) << c.name;
    out.length = 0;
    const DecodeStatus status = decode_stream(bytes_of(f.text), f.entry, out);
    EXPECT_STREQ(status_name(status), status_name(c.status)) << c.name << " (" << c.dict << ")";
    const std::string got = text_of(out);
    switch (c.expect) {
      case Expect::whole:
        EXPECT_TRUE(got == c.plain) << c.name << ": " << got.size() << " bytes, expected " << c.plain.size();
        break;
      case Expect::prefix:
        EXPECT_LT(got.size(), c.plain.size()) << c.name;
        EXPECT_GT(got.size(), 0u) << c.name;
        EXPECT_TRUE(c.plain.compare(0, got.size(), got) == 0) << c.name << ": not a beginning of the data";
        break;
      case Expect::given:
        EXPECT_EQ(got, c.decoded) << c.name;
        break;
    }
    if (out.data != nullptr) {
      EXPECT_EQ(out.data[out.length], 0) << c.name << ": the buffer's terminator";
    }
  }
  if (skipped > 0) GTEST_SKIP() << "Ghostscript not found: " << skipped << " cases made by it were skipped";
}

// The hot path: stored bytes are seen in place, and buffers reused from
// call to call are not allocated again.
TEST(StreamFilters, ViewsAndReusedBuffers) {
  const std::string plain = content_text();
  const StreamFile stored = stream_file("", plain);
  ByteBuf out;
  ByteBuf spare;
  Bytes data;
  ASSERT_EQ(decode_stream_view(bytes_of(stored.text), stored.entry, out, spare, &data), DecodeStatus::ok);
  EXPECT_EQ(data.data(), reinterpret_cast<const uint8_t *>(stored.text.data()) + stored.entry.data_pos);
  EXPECT_EQ(data.size(), plain.size());
  EXPECT_EQ(out.data, nullptr);

  // Hex over run length: one step in each buffer. The second decode finds
  // both buffers large enough and keeps them.
  std::string rl;
  for (const char ch : plain) rl += std::string("\x00", 1) + ch;
  std::string hex;
  for (const unsigned char ch : rl) {
    hex += "0123456789ABCDEF"[ch >> 4];
    hex += "0123456789ABCDEF"[ch & 15];
  }
  const StreamFile chained = stream_file("/Filter [/AHx /RL]", hex);
  for (int round = 0; round < 2; ++round) {
    const uint8_t *out_before = out.data;
    const uint8_t *spare_before = spare.data;
    ASSERT_EQ(decode_stream_view(bytes_of(chained.text), chained.entry, out, spare, &data), DecodeStatus::ok);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(data.data()), data.size()), plain);
    EXPECT_EQ(data.data(), out.data);
    if (round == 1) {
      EXPECT_EQ(out.data, out_before);
      EXPECT_EQ(spare.data, spare_before);
    }
  }
}

// Too large: each decoder stops at its limit, keeping what fitted.
TEST(StreamFilters, DecodersStopAtTheLimit) {
  const std::string hex(200, 'A');
  const std::string a85 = "zzzzzzzzzzzzzzzzzzzzzzzzz";
  const std::string rl = "\x81" "a\x81" "b";
  std::vector<std::pair<unsigned, unsigned>> codes = {{'a', 9}, {'a', 9}};
  for (unsigned code = 258; code < 270; ++code) codes.emplace_back(code, 9);
  const std::string lzw = lzw_codes(codes);
  ByteBuf out;
  const auto check = [&](const char *name, FilterStatus status) {
    EXPECT_EQ(status, FilterStatus::too_large) << name;
    EXPECT_LE(out.length, 20u) << name;
    out.length = 0;
  };
  check("hex", ascii_hex_decode(bytes_of(hex), out, 20));
  check("base-85", ascii85_decode(bytes_of(a85), out, 20));
  check("run length", run_length_decode(bytes_of(rl), out, 20));
  check("lzw", lzw_decode(bytes_of(lzw), out, 20, true));
  const std::string zeros(5000, '\0');
  // A stored DEFLATE block of 5,000 zeros.
  const std::string stored = std::string("\x01\x88\x13\x77\xEC", 5) + zeros;
  check("flate", flate_decode(bytes_of(stored), out, 20));
  EXPECT_EQ(flate_decode(bytes_of(stored), out, 5000), FilterStatus::ok);
  EXPECT_EQ(out.length, 5000u);
}

// Mutations of Ghostscript-made samples (every byte flipped, zeroed, and
// the data cut there) decode to some status without a fault, never past
// the limit.
TEST(StreamFilters, MutatedSamplesNeverFault) {
  const std::string plain = content_text().substr(0, 400);
  struct Sample { std::string dict; std::vector<std::string> stages; };
  const std::vector<Sample> samples = {
      {"/Filter /AHx", {"/ASCIIHexEncode"}},
      {"/Filter /A85", {"/ASCII85Encode"}},
      {"/Filter /LZW", {"/LZWEncode"}},
      {"/Filter /RL", {"0 /RunLengthEncode"}},
      {"/Filter /Fl /DecodeParms << /Predictor 15 /Colors 3 /Columns 4 >>",
       {"<< /Predictor 15 /Colors 3 /Columns 4 >> /FlateEncode"}},
      {"/Filter [/A85 /LZW] /DecodeParms [null << /Predictor 2 /Colors 2 /BitsPerComponent 4 /Columns 3 >>]",
       {"/ASCII85Encode", "<< /Predictor 2 /Colors 2 /BitsPerComponent 4 /Columns 3 >> /LZWEncode"}},
  };
  std::vector<GsJob> jobs;
  for (const Sample &s : samples) jobs.push_back({s.stages, plain.substr(0, 396)});
  const std::vector<std::string> made = gs_encode(jobs);
  if (made.empty()) GTEST_SKIP() << "Ghostscript not found";
  ByteBuf out;
  ByteBuf spare;
  Bytes data;
  for (size_t s = 0; s < samples.size(); ++s) {
    for (size_t i = 0; i < made[s].size(); ++i) {
      for (int kind = 0; kind < 3; ++kind) {
        std::string m = made[s];
        if (kind == 0) m[i] = static_cast<char>(m[i] ^ 0x55);
        else if (kind == 1) m[i] = 0;
        else m.resize(i);
        const StreamFile f = stream_file(samples[s].dict, m);
        const DecodeStatus st = decode_stream_view(bytes_of(f.text), f.entry, out, spare, &data);
        ASSERT_NE(st, DecodeStatus::unsupported) << samples[s].dict;
        ASSERT_LE(data.size(), kMaxInflatedStream);
      }
    }
  }
}

// Real files: every stream of the corpus with a filter other than Flate, or
// a predictor, decodes to what qpdf decodes from it.
TEST(StreamFilters, CorpusStreamsDecodeAsQpdfDecodesThem) {
  const std::string qpdf = FOLIMARK_QPDF;
  const fs::path corpus = fs::path(FOLIMARK_CORPUS_DIR) / "pdf";
  if (qpdf.empty() || !fs::is_directory(corpus)) GTEST_SKIP() << "qpdf or the corpus folder " << corpus << " not found";
  std::vector<fs::path> files;
  for (const auto &entry : fs::recursive_directory_iterator(corpus))
    if (entry.is_regular_file() && entry.path().extension() == ".pdf") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  constexpr size_t kStreamsPerFile = 6;
  size_t compared = 0;
  ByteBuf out;
  for (const fs::path &path : files) {
    const std::string text = read_file(path);
    if (text.find("/Encrypt") != std::string::npos) continue;  // qpdf would decrypt first
    const Bytes file = bytes_of(text);
    const std::vector<ObjEntry> objects = scan_file_objects(file, [](int32_t) { return -1; }).objects;
    std::map<int32_t, int> definitions;
    for (const ObjEntry &e : objects) ++definitions[e.num];
    size_t compared_here = 0;
    for (const ObjEntry &e : objects) {
      // One definition of the object, so that qpdf reads the same one; a
      // few streams a file, whose streams are much alike.
      if (!e.is_stream || definitions[e.num] != 1 || compared_here == kStreamsPerFile) continue;
      const DictRange r = dict_range_in(file, e);
      const std::string dict(reinterpret_cast<const char *>(r.bytes.data()) + r.start,
                             static_cast<size_t>(r.end - r.start));
      bool wanted = false;
      for (const char *mark : {"ASCIIHex", "ASCII85", "LZW", "RunLength", "/AHx", "/A85", "/RL", "/Predictor"})
        wanted = wanted || dict.find(mark) != std::string::npos;
      if (!wanted) continue;
      out.length = 0;
      if (decode_stream(file, e, out) != DecodeStatus::ok) continue;
      const std::vector<std::string> argv = {qpdf, "--show-object=" + std::to_string(e.num) + "," + std::to_string(e.gen),
                                             "--filtered-stream-data", path.string()};
      const testtool::ToolResult q = testtool::run(argv);
      if (!q.ok()) continue;  // qpdf found this object damaged, or another one
      ++compared;
      ++compared_here;
      EXPECT_TRUE(q.out == text_of(out)) << path.filename() << " object " << e.num << ": " << out.length
                                         << " bytes, qpdf " << q.out.size();
    }
  }
  std::printf("%zu streams compared with qpdf\n", compared);
  EXPECT_GT(compared, 0u);
}
