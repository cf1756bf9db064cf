// tvl_inflate against zlib's encoder, foreign streams, crafted damage and the
// bit-at-a-time model decoder in support/reference_inflate.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "flate/decode_table.h"
#include "flate/flate.h"
#include "support/deflate_writer.h"
#include "support/reference_inflate.h"

namespace {

using Bytes = std::vector<unsigned char>;
using craft::BitWriter;
using craft::LenOp;

// --- sample data ---------------------------------------------------------

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes text_data(size_t n, uint32_t seed) {
  static const char *const words[] = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog",
                                      "compression", "of", "text", "is", "a", "matter", "habit", "and"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += words[rng() % 16];
    s += rng() % 9 == 0 ? '\n' : ' ';
  }
  s.resize(n);
  return bytes_of(s);
}

Bytes random_data(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto &c : b) c = static_cast<unsigned char>(rng());
  return b;
}

Bytes runs_data(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n) b.insert(b.end(), 1 + rng() % 300, static_cast<unsigned char>(rng() % 4));
  b.resize(n);
  return b;
}

Bytes pdf_content_data(size_t n, uint32_t seed) {
  static const char *const words[] = {"Invoice", "total", "amount", "due", "page", "customer", "date", "paid"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += "BT /F" + std::to_string(1 + rng() % 3) + " " + std::to_string(8 + rng() % 8) + " Tf " +
         std::to_string(rng() % 600) + " " + std::to_string(rng() % 800) + " Td (";
    for (unsigned w = 0, k = 1 + static_cast<unsigned>(rng() % 5); w < k; ++w) s += std::string(w ? " " : "") + words[rng() % 8];
    s += ") Tj ET\n";
    if (rng() % 4 == 0) s += std::to_string(rng() % 600) + " " + std::to_string(rng() % 800) + " m S\n";
  }
  s.resize(n);
  return bytes_of(s);
}

Bytes image_data(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b;
  b.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int noise = static_cast<int>(rng() % 7) - 3;
      for (const int v : {x * 255 / width, y * 255 / height, (x + y) * 127 / (width + height) + 64})
        b.push_back(static_cast<unsigned char>(std::clamp(v + noise, 0, 255)));
    }
  return b;
}

struct Sample {
  const char *name;
  Bytes data;
};

const std::vector<Sample> &samples() {
  static const std::vector<Sample> s = {
      {"text", text_data(48 << 10, 1)},          {"random", random_data(48 << 10, 2)},
      {"runs", runs_data(48 << 10, 3)},          {"pdf", pdf_content_data(48 << 10, 4)},
      {"image", image_data(128, 128, 5)},        {"empty", {}},
      {"one byte", {'x'}},
  };
  return s;
}

// --- zlib as the encoder ---------------------------------------------------

// Raw DEFLATE (negative window bits) or a zlib stream, fed in pieces of
// flush_every bytes each ended by flush_mode.
Bytes zlib_compress(const Bytes &in, int level, int strategy, int window_bits = -15, int mem_level = 8,
                    size_t flush_every = 0, int flush_mode = Z_NO_FLUSH) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, window_bits, mem_level, strategy) != Z_OK) return {};
  // Every flush may add an empty block of a few bytes.
  const size_t flushes = flush_every ? in.size() / flush_every + 1 : 0;
  Bytes out(deflateBound(&z, static_cast<uLong>(in.size())) + 64 + 16 * flushes);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  size_t pos = 0;
  do {
    const size_t piece = flush_every ? std::min(flush_every, in.size() - pos) : in.size() - pos;
    z.next_in = const_cast<unsigned char *>(in.data() + pos);
    z.avail_in = static_cast<uInt>(piece);
    pos += piece;
    const int flush = pos == in.size() ? Z_FINISH : flush_mode;
    const int rc = deflate(&z, flush);
    if (rc != (flush == Z_FINISH ? Z_STREAM_END : Z_OK) || z.avail_in != 0) {
      deflateEnd(&z);
      return {};
    }
  } while (pos < in.size());
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// A zlib stream without its 2-byte header and 4-byte trailer, as our callers
// pass it.
Bytes zlib_stripped(const Bytes &in, int level) {
  const Bytes z = zlib_compress(in, level, Z_DEFAULT_STRATEGY, 15);
  return Bytes(z.begin() + 2, z.end() - 4);
}

// --- running the decoders --------------------------------------------------

struct Decoded {
  int rc;
  Bytes out;  // the bytes written, on success
};

// Decodes into a heap buffer of exactly dst_cap bytes so that the sanitizer
// build catches any write past it.
Decoded ours(const Bytes &src, size_t dst_cap) {
  Bytes dst(dst_cap);
  const int rc = tvl_inflate(src.data(), src.size(), dst.data(), dst_cap);
  dst.resize(rc > 0 ? static_cast<size_t>(rc) : 0);
  return {rc, dst};
}

Decoded model(const Bytes &src, size_t dst_cap) {
  Bytes dst(dst_cap);
  const int rc = refinflate::inflate(src.data(), src.size(), dst.data(), dst_cap);
  dst.resize(rc > 0 ? static_cast<size_t>(rc) : 0);
  return {rc, dst};
}

::testing::AssertionResult same_as_model(const Bytes &src, size_t dst_cap) {
  const Decoded a = ours(src, dst_cap);
  const Decoded b = model(src, dst_cap);
  if (a.rc != b.rc)
    return ::testing::AssertionFailure() << "tvl_inflate gave " << a.rc << ", the model " << b.rc << " (input "
                                         << src.size() << " bytes, capacity " << dst_cap << ")";
  if (a.out != b.out) return ::testing::AssertionFailure() << "same count " << a.rc << ", different bytes";
  return ::testing::AssertionSuccess();
}

Bytes read_file(const std::filesystem::path &p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

// Literal-only and mixed crafted blocks used by several groups.
Bytes fixed_stream(std::string_view text) {
  BitWriter w;
  craft::block_header(w, true, 1);
  const auto c = craft::fixed_codes();
  craft::literals(w, c, text);
  craft::end_of_block(w, c);
  return w.finish();
}

// 14 literals with codes of 1..14 bits, symbol 14 and end of block with 15
// bits: exercises every code length and the sub-tables.
Bytes long_code_stream() {
  std::vector<int> lit(257, 0);
  for (int s = 0; s < 14; ++s) lit[static_cast<size_t>(s)] = s + 1;
  lit[14] = 15;
  lit[256] = 15;
  BitWriter w;
  const auto c = craft::dynamic_header(w, true, lit, {1});
  for (int round = 0; round < 3; ++round)
    for (int s = 14; s >= 0; --s) craft::put(w, c.lit, s);
  craft::end_of_block(w, c);
  return w.finish();
}

Bytes long_code_expected() {
  Bytes e;
  for (int round = 0; round < 3; ++round)
    for (int s = 14; s >= 0; --s) e.push_back(static_cast<unsigned char>(s));
  return e;
}

// Valid streams of every block kind: the base for truncation and mutation.
std::vector<Bytes> base_streams() {
  std::vector<Bytes> v;
  const Bytes text = text_data(3000, 11);
  const Bytes pdf = pdf_content_data(3000, 12);
  v.push_back(zlib_compress(text, 6, Z_DEFAULT_STRATEGY));
  v.push_back(zlib_compress(pdf, 9, Z_FILTERED));
  v.push_back(zlib_compress(text, 1, Z_HUFFMAN_ONLY));
  v.push_back(zlib_compress(runs_data(3000, 13), 6, Z_RLE));
  v.push_back(zlib_compress(pdf, 6, Z_FIXED));
  v.push_back(zlib_compress(image_data(24, 24, 14), 6, Z_DEFAULT_STRATEGY));
  v.push_back(zlib_compress(text_data(600, 15), 0, Z_DEFAULT_STRATEGY));
  v.push_back(zlib_compress(text, 6, Z_DEFAULT_STRATEGY, -15, 8, 500, Z_SYNC_FLUSH));
  v.push_back(long_code_stream());
  return v;
}

// --- valid streams ----------------------------------------------------------

// zlib's output at every level and strategy must decode to its input (wrong
// table, bit order, match copy or block transition).
TEST(InflateZlib, EveryLevelAndStrategy) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (const Sample &s : samples())
    for (int level = 0; level <= 9; ++level)
      for (const int strategy : strategies) {
        SCOPED_TRACE(std::string(s.name) + " level " + std::to_string(level) + " strategy " +
                     std::to_string(strategy));
        const Bytes z = zlib_compress(s.data, level, strategy);
        ASSERT_FALSE(z.empty());
        const Decoded d = ours(z, s.data.size());
        ASSERT_EQ(d.rc, static_cast<int>(s.data.size()));
        ASSERT_TRUE(d.out == s.data);
        ASSERT_EQ(ours(z, s.data.size() + 1000).out, s.data);
      }
}

TEST(InflateZlib, ZlibStreamWithHeaderAndTrailerStripped) {
  for (const Sample &s : samples())
    for (const int level : {0, 1, 6, 9}) {
      SCOPED_TRACE(std::string(s.name) + " level " + std::to_string(level));
      const Decoded d = ours(zlib_stripped(s.data, level), s.data.size());
      ASSERT_EQ(d.rc, static_cast<int>(s.data.size()));
      ASSERT_TRUE(d.out == s.data);
    }
}

// Inputs large enough for many blocks: tables rebuilt per block, references
// into earlier blocks, several stored blocks of 64 KiB.
TEST(InflateZlib, ManyBlocks) {
  struct Case {
    const char *name;
    Bytes data;
    int level, strategy;
  };
  const Case cases[] = {
      {"pdf level 6", pdf_content_data(3 << 20, 21), 6, Z_DEFAULT_STRATEGY},
      {"text huffman only", text_data(1 << 20, 22), 6, Z_HUFFMAN_ONLY},
      {"text fixed", text_data(1 << 20, 23), 9, Z_FIXED},
      {"image level 9", image_data(600, 600, 24), 9, Z_DEFAULT_STRATEGY},
      {"random level 6", random_data(1 << 20, 25), 6, Z_DEFAULT_STRATEGY},
      {"runs level 0", runs_data(300000, 26), 0, Z_DEFAULT_STRATEGY},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes z = zlib_compress(c.data, c.level, c.strategy);
    const Decoded d = ours(z, c.data.size());
    ASSERT_EQ(d.rc, static_cast<int>(c.data.size()));
    ASSERT_TRUE(d.out == c.data);
  }
}

// Flushes put empty stored blocks, empty fixed blocks and byte alignment in
// the middle of a stream; small windows and memory levels change the codes.
TEST(InflateZlib, FlushesWindowsAndMemoryLevels) {
  const Bytes data = pdf_content_data(200000, 31);
  struct Case {
    int window_bits, mem_level;
    size_t flush_every;
    int flush_mode;
  };
  const Case cases[] = {
      {-15, 8, 1000, Z_SYNC_FLUSH},  {-15, 8, 777, Z_FULL_FLUSH}, {-15, 8, 333, Z_PARTIAL_FLUSH},
      {-15, 8, 5000, Z_BLOCK},       {-15, 8, 1, Z_SYNC_FLUSH},   {-9, 8, 0, Z_NO_FLUSH},
      {-10, 1, 0, Z_NO_FLUSH},       {-12, 9, 0, Z_NO_FLUSH},     {-15, 1, 0, Z_NO_FLUSH},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("window " + std::to_string(c.window_bits) + " flush " + std::to_string(c.flush_mode) + "/" +
                 std::to_string(c.flush_every));
    const Bytes z = zlib_compress(c.flush_every == 1 ? Bytes(data.begin(), data.begin() + 3000) : data, 6,
                                  Z_DEFAULT_STRATEGY, c.window_bits, c.mem_level, c.flush_every, c.flush_mode);
    ASSERT_FALSE(z.empty());
    const size_t n = c.flush_every == 1 ? 3000 : data.size();
    const Decoded d = ours(z, n);
    ASSERT_EQ(d.rc, static_cast<int>(n));
    ASSERT_TRUE(std::equal(d.out.begin(), d.out.end(), data.begin()));
  }
}

// Writes stay within the reported output: bytes past the count keep their
// old values (a word-wide copy running past the end of a match).
TEST(InflateZlib, NothingWrittenPastTheCount) {
  for (const Bytes &z : base_streams()) {
    const int n = model(z, 1 << 20).rc;
    ASSERT_GE(n, 0);
    Bytes dst(static_cast<size_t>(n) + 300, 0xA5);
    ASSERT_EQ(tvl_inflate(z.data(), z.size(), dst.data(), dst.size()), n);
    EXPECT_TRUE(std::all_of(dst.begin() + n, dst.end(), [](unsigned char c) { return c == 0xA5; }));
  }
}

// Streams from other encoders: degenerate codes, a 9-bit primary length,
// distance 32768, references across blocks, fixed-code text, an invalid
// distance code 31.
TEST(InflateCorpus, DeflateAndZlibFiles) {
  const std::filesystem::path dir = std::filesystem::path(FOLIMARK_CORPUS_DIR) / "deflate";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "corpus folder not found: " << dir;
  const std::set<std::string> must_fail = {"distance-code-31.deflate"};
  int checked = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    const std::filesystem::path p = entry.path();
    const std::string name = p.filename().string();
    Bytes src;
    std::filesystem::path expected;
    if (p.extension() == ".deflate") {
      src = read_file(p);
      expected = p.string() + ".decompressed";
      // romeo.txt.fixed-huff.deflate decodes to romeo.txt
      for (std::filesystem::path q = p; !std::filesystem::exists(expected) && q.has_extension();)
        expected = q = q.replace_extension();
    } else if (p.extension() == ".zlib") {
      const Bytes z = read_file(p);
      ASSERT_GE(z.size(), 2u);
      src.assign(z.begin() + 2, z.end());  // header stripped, trailer left: it must be ignored
      expected = std::filesystem::path(p).replace_extension();
    } else {
      continue;
    }
    SCOPED_TRACE(name);
    EXPECT_TRUE(same_as_model(src, 1 << 20));
    if (must_fail.count(name)) {
      EXPECT_EQ(ours(src, 1 << 20).rc, -1);
    } else {
      ASSERT_TRUE(std::filesystem::exists(expected)) << expected;
      const Bytes want = read_file(expected);
      const Decoded d = ours(src, want.size());
      EXPECT_EQ(d.rc, static_cast<int>(want.size()));
      EXPECT_TRUE(d.out == want);
    }
    ++checked;
  }
  EXPECT_GE(checked, 9);
}

// --- crafted streams --------------------------------------------------------

struct Crafted {
  const char *name;
  Bytes src;
  size_t dst_cap;
  int expect;     // return value
  Bytes output;   // expected bytes when expect >= 0
};

std::vector<Crafted> valid_edge_cases() {
  std::vector<Crafted> v;
  const auto fixed = craft::fixed_codes();
  v.push_back({"03 00: one final fixed block with only end of block", {0x03, 0x00}, 16, 0, {}});
  {
    BitWriter w;
    craft::stored_block(w, true, {});
    v.push_back({"stored LEN 0 NLEN FFFF", w.finish(), 0, 0, {}});
  }
  {
    BitWriter w;
    craft::stored_block(w, true, bytes_of("hello"));
    Bytes s = w.finish();
    s.insert(s.end(), {0xFF, 0x12, 0x34, 0x56});
    v.push_back({"data after the final block is ignored", s, 5, 5, bytes_of("hello")});
  }
  {
    // a fixed block ending mid-byte, then a stored block from the next byte
    BitWriter w;
    craft::block_header(w, false, 1);
    craft::literals(w, fixed, "ab");
    craft::end_of_block(w, fixed);
    craft::stored_block(w, false, bytes_of("cd"));
    craft::block_header(w, true, 1);
    craft::match(w, fixed, 6, 4);
    craft::end_of_block(w, fixed);
    v.push_back({"stored block skips to the byte boundary; matches reach into earlier blocks", w.finish(), 10, 10,
                 bytes_of("abcdabcdab")});
  }
  {
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "ab");
    craft::match(w, fixed, 4, 2);
    craft::end_of_block(w, fixed);
    v.push_back({"distance equal to the output count", w.finish(), 6, 6, bytes_of("ababab")});
  }
  {
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "z");
    craft::match(w, fixed, 258, 1);
    craft::match(w, fixed, 258, 259);
    craft::end_of_block(w, fixed);
    v.push_back({"longest matches at distance 1 and 259", w.finish(), 517, 517, Bytes(517, 'z')});
  }
  {
    // A run of code 16 repeats the last literal/length length (symbol 255)
    // over 256 and 257 and on into both distance lengths.
    std::vector<LenOp> ops = {{18, 86}, {2}, {18, 127}, {18, 8}, {2}, {16, 1}};
    BitWriter w;
    craft::dynamic_header_raw(w, true, 1, 1, 15, craft::default_cl_lens(), ops);
    std::vector<int> lit(258, 0);
    lit['a'] = lit[255] = lit[256] = lit[257] = 2;
    const craft::BlockCodes c{craft::canonical(lit), craft::canonical({2, 2})};
    craft::literals(w, c, "aa");
    craft::match(w, c, 3, 1);
    craft::end_of_block(w, c);
    v.push_back({"a 16-run crosses into the distance lengths", w.finish(), 100, 5, bytes_of("aaaaa")});
  }
  {
    std::vector<int> lit(257, 0);
    lit['a'] = lit['b'] = 2;
    lit[256] = 1;
    BitWriter w;
    const auto c = craft::dynamic_header(w, true, lit, {0});
    craft::literals(w, c, "abba");
    craft::end_of_block(w, c);
    v.push_back({"all-zero distance lengths: literals decode", w.finish(), 4, 4, bytes_of("abba")});
  }
  {
    // 'a' = 0, end of block = 10; the pattern 11 has no code
    std::vector<int> lit(257, 0);
    lit['a'] = 1;
    lit[256] = 2;
    BitWriter w;
    const auto c = craft::dynamic_header(w, true, lit, {1});
    craft::literals(w, c, "aaa");
    craft::end_of_block(w, c);
    v.push_back({"incomplete literal code decodes while its free pattern is not met", w.finish(), 3, 3,
                 bytes_of("aaa")});
  }
  {
    std::vector<int> lit(257, 0);
    lit[256] = 1;
    BitWriter w;
    const auto c = craft::dynamic_header(w, true, lit, {0});
    craft::end_of_block(w, c);
    v.push_back({"a code with the end-of-block symbol alone", w.finish(), 0, 0, {}});
  }
  v.push_back({"codes of every length 1..15", long_code_stream(), 45, 45, long_code_expected()});
  {
    BitWriter w;
    craft::stored_block(w, false, bytes_of("xy"));
    craft::stored_block(w, true, bytes_of("z"));
    v.push_back({"output exactly filling the capacity", w.finish(), 3, 3, bytes_of("xyz")});
  }
  return v;
}

std::vector<Crafted> damaged_cases() {
  std::vector<Crafted> v;
  const auto fixed = craft::fixed_codes();
  const auto fail = [&v](const char *name, Bytes src, size_t cap = 1000) { v.push_back({name, std::move(src), cap, -1, {}}); };
  fail("empty input", {});
  {
    BitWriter w;
    craft::block_header(w, true, 3);
    w.bits(0, 16);
    fail("BTYPE 3", w.finish());
  }
  {
    BitWriter w;
    craft::stored_block(w, true, 5, 0x1234, bytes_of("hello"));
    fail("stored NLEN not the complement of LEN", w.finish());
  }
  {
    BitWriter w;
    craft::stored_block(w, true, 10, static_cast<uint16_t>(~10), bytes_of("hello"));
    fail("stored data runs past the input", w.finish());
  }
  {
    BitWriter w;
    craft::block_header(w, true, 0);
    w.align();
    w.bits(0, 16);
    w.bits(0xFF, 8);
    fail("stored header runs past the input", w.finish());
  }
  {
    BitWriter w;
    craft::stored_block(w, true, bytes_of("hello"));
    fail("stored block over the capacity", w.finish(), 4);
  }
  // Complete blocks that would decode to "a" but for their too many codes.
  const auto oversized = [](uint32_t hlit, uint32_t hdist) {
    std::vector<int> lit(257 + hlit, 0), dist(1 + hdist, 0);
    lit['a'] = lit[256] = 1;
    dist[0] = 1;
    BitWriter w;
    const auto ops = craft::plain_ops(lit, dist);
    craft::dynamic_header_raw(w, true, hlit, hdist, 15, craft::default_cl_lens(), ops);
    const craft::BlockCodes c{craft::canonical(lit), craft::canonical(dist)};
    craft::literals(w, c, "a");
    craft::end_of_block(w, c);
    return w.finish();
  };
  fail("HLIT 287 codes", oversized(30, 0));
  fail("HLIT 288 codes", oversized(31, 0));
  fail("HDIST 31 codes", oversized(0, 30));
  fail("HDIST 32 codes", oversized(0, 31));
  fail("HLIT 288 and HDIST 32 codes", oversized(31, 31));
  {
    BitWriter w;
    craft::dynamic_header_raw(w, true, 0, 0, 15, std::vector<int>(19, 1), {});
    w.bits(0, 32);
    fail("over-subscribed code-length code", w.finish());
  }
  {
    BitWriter w;
    craft::dynamic_header_raw(w, true, 0, 0, 15, std::vector<int>(19, 0), {});
    w.bits(0, 32);
    fail("empty code-length code", w.finish());
  }
  {
    std::vector<int> lit(257, 0);
    lit['a'] = lit['b'] = lit[256] = 1;
    BitWriter w;
    craft::dynamic_header(w, true, lit, {1});
    w.bits(0, 16);
    fail("over-subscribed literal/length lengths", w.finish());
  }
  {
    std::vector<int> lit(257, 0);
    lit['a'] = lit[256] = 1;
    BitWriter w;
    const auto c = craft::dynamic_header(w, true, lit, {1, 1, 1});
    craft::literals(w, c, "a");
    craft::end_of_block(w, c);
    fail("over-subscribed distance lengths, even in a literal-only block", w.finish());
  }
  {
    const std::vector<LenOp> ops = {{16, 0}};
    BitWriter w;
    craft::dynamic_header_raw(w, true, 0, 0, 15, craft::default_cl_lens(), ops);
    w.bits(0, 32);
    fail("repeat code 16 before any length", w.finish());
  }
  {
    // 257 + 1 lengths; 250 zeros then a run of 11 passes the count by 3
    const std::vector<LenOp> ops = {{18, 127}, {18, 101}, {18, 0}};
    BitWriter w;
    craft::dynamic_header_raw(w, true, 0, 0, 15, craft::default_cl_lens(), ops);
    w.bits(0, 32);
    fail("a repeat that overruns the declared counts", w.finish());
  }
  {
    const std::vector<LenOp> ops = {{18, 127}, {18, 107}, {1}, {16, 0}};
    BitWriter w;
    craft::dynamic_header_raw(w, true, 0, 0, 15, craft::default_cl_lens(), ops);
    w.bits(0, 32);
    fail("a run of 16 that overruns the declared counts", w.finish());
  }
  {
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "abc");
    craft::match(w, fixed, 3, 4);
    craft::end_of_block(w, fixed);
    fail("distance one past the start of the output", w.finish());
  }
  {
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::match(w, fixed, 3, 1);
    craft::end_of_block(w, fixed);
    fail("a match before any output", w.finish());
  }
  fail("literal one byte over the capacity", fixed_stream("abc"), 2);
  {
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "ab");
    craft::match(w, fixed, 4, 2);
    craft::end_of_block(w, fixed);
    fail("match one byte over the capacity", w.finish(), 5);
  }
  for (const int sym : {286, 287}) {
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "ab");
    craft::put(w, fixed.lit, sym);
    w.bits(0, 8);
    craft::put(w, fixed.dist, 0);
    craft::end_of_block(w, fixed);
    fail(sym == 286 ? "fixed literal/length symbol 286" : "fixed literal/length symbol 287", w.finish());
  }
  for (const int d : {30, 31}) {
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "ab");
    craft::put(w, fixed.lit, 257);
    craft::put(w, fixed.dist, d);
    w.bits(0, 16);
    craft::end_of_block(w, fixed);
    fail(d == 30 ? "fixed distance code 30" : "fixed distance code 31", w.finish());
  }
  {
    std::vector<int> lit(257, 0);
    lit['a'] = 1;
    lit[256] = 2;
    BitWriter w;
    const auto c = craft::dynamic_header(w, true, lit, {1});
    craft::literals(w, c, "aa");
    w.code(3, 2);  // the free pattern 11
    craft::end_of_block(w, c);
    fail("an unassigned pattern of an incomplete code", w.finish());
  }
  {
    std::vector<int> lit(258, 0);
    lit['a'] = lit['b'] = 2;
    lit[256] = lit[257] = 2;
    BitWriter w;
    const auto c = craft::dynamic_header(w, true, lit, {0});
    craft::literals(w, c, "ab");
    craft::put(w, c.lit, 257);
    w.bits(0, 16);
    fail("all-zero distance lengths fail at the first match", w.finish());
  }
  {
    std::vector<int> lit(257, 0);
    lit['a'] = 1;
    BitWriter w;
    const auto c = craft::dynamic_header(w, true, lit, {1});
    craft::literals(w, c, "aaaa");
    fail("no code for end of block: the block cannot end", w.finish());
  }
  {
    BitWriter w;
    craft::block_header(w, false, 1);
    craft::literals(w, fixed, "abc");
    craft::end_of_block(w, fixed);
    fail("input ends after a non-final block", w.finish());
  }
  fail("a zlib header passed in", zlib_compress(text_data(2000, 41), 6, Z_DEFAULT_STRATEGY, 15));
  return v;
}

// Edge cases that RFC 1951 allows must decode to the stated bytes (over-strict
// checks: incomplete codes, runs across the two length lists, matches at the
// exact start or capacity).
TEST(InflateCrafted, ValidEdgeCases) {
  for (const Crafted &c : valid_edge_cases()) {
    SCOPED_TRACE(c.name);
    const Decoded d = ours(c.src, c.dst_cap);
    EXPECT_EQ(d.rc, c.expect);
    EXPECT_TRUE(d.out == c.output);
    EXPECT_TRUE(same_as_model(c.src, c.dst_cap));
  }
}

// Damaged data, each case breaking one rule, must fail with -1.
TEST(InflateCrafted, DamagedDataFails) {
  for (const Crafted &c : damaged_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ours(c.src, c.dst_cap).rc, -1);
    EXPECT_TRUE(same_as_model(c.src, c.dst_cap));
  }
}

// Output capacity: exactly full succeeds and one byte less fails, whichever
// kind of step writes the last byte.
TEST(InflateCrafted, CapacityBoundary) {
  for (const Bytes &z : base_streams()) {
    const int n = model(z, 1 << 20).rc;
    ASSERT_GT(n, 0);
    EXPECT_EQ(ours(z, static_cast<size_t>(n)).rc, n);
    EXPECT_EQ(ours(z, static_cast<size_t>(n) - 1).rc, -1);
  }
  for (const Crafted &c : valid_edge_cases()) {
    if (c.expect <= 0) continue;
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ours(c.src, static_cast<size_t>(c.expect)).rc, c.expect);
    EXPECT_EQ(ours(c.src, static_cast<size_t>(c.expect) - 1).rc, -1);
  }
  // With input to spare after the last output, the capacity runs out while
  // the unchecked loop is still running.
  for (Bytes z : base_streams()) {
    const int n = model(z, 1 << 20).rc;
    z.insert(z.end(), 64, 0);
    for (int cap = std::max(0, n - 300); cap <= n; ++cap)
      ASSERT_TRUE(same_as_model(z, static_cast<size_t>(cap))) << "capacity " << cap;
  }
  // Longest matches after one and after two literals, the most one step of
  // the unchecked loop writes.
  for (const std::string_view lead : {"z", "ab"}) {
    SCOPED_TRACE(lead);
    BitWriter w;
    const auto fixed = craft::fixed_codes();
    craft::block_header(w, true, 1);
    for (int i = 0; i < 20; ++i) {
      craft::literals(w, fixed, lead);
      craft::match(w, fixed, 258, static_cast<int>(lead.size()));
    }
    craft::end_of_block(w, fixed);
    Bytes z = w.finish();
    z.insert(z.end(), 64, 0xEE);
    const size_t n = 20 * (lead.size() + 258);
    EXPECT_EQ(ours(z, n).rc, static_cast<int>(n));
    for (size_t cap = n - 300; cap < n; ++cap) ASSERT_EQ(ours(z, cap).rc, -1) << "capacity " << cap;
  }
}

// --- agreement with the model ----------------------------------------------

// Truncation at every byte: lookahead past the end must never make a step
// succeed on bits the input does not have.
TEST(InflateModel, EveryTruncationFails) {
  std::vector<Bytes> streams = base_streams();
  for (const Crafted &c : valid_edge_cases()) streams.push_back(c.src);
  for (const Bytes &z : streams) {
    const int full = model(z, 1 << 20).rc;
    for (size_t n = 0; n < z.size(); ++n) {
      const Bytes cut(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(n));
      ASSERT_TRUE(same_as_model(cut, 1 << 20)) << "cut at " << n << " of " << z.size();
      if (full >= 0) {
        ASSERT_TRUE(same_as_model(cut, static_cast<size_t>(full)));
      }
    }
  }
}

// Flipped bits, zeroed and replaced bytes, cuts: damaged variants of valid
// streams must give the model's result at several capacities.
TEST(InflateModel, MutatedStreams) {
  std::mt19937 rng(2024);
  int cases = 0;
  for (const Bytes &base : base_streams()) {
    const size_t n = static_cast<size_t>(model(base, 1 << 20).rc);
    for (int round = 0; round < 250; ++round) {
      Bytes z = base;
      for (int edits = 1 + static_cast<int>(rng() % 3); edits > 0; --edits) {
        const size_t at = rng() % z.size();
        switch (rng() % 4) {
          case 0: z[at] = static_cast<unsigned char>(z[at] ^ (1u << (rng() % 8))); break;
          case 1: z[at] = 0; break;
          case 2: z[at] = static_cast<unsigned char>(rng()); break;
          default: z.resize(std::max<size_t>(at, 1)); break;
        }
      }
      for (const size_t cap : {n, n - 1, 2 * n + 1000, size_t{0}}) {
        ASSERT_TRUE(same_as_model(z, cap)) << "base " << base.size() << " bytes, round " << round;
        ++cases;
      }
    }
  }
  EXPECT_GT(cases, 8000);
}

// Random bytes, with each block type forced in turn.
TEST(InflateModel, RandomBytes) {
  std::mt19937 rng(77);
  for (int i = 0; i < 6000; ++i) {
    Bytes z = random_data(rng() % 80, static_cast<uint32_t>(rng()));
    if (!z.empty()) z[0] = static_cast<unsigned char>((z[0] & ~6u) | (i % 3) << 1);
    ASSERT_TRUE(same_as_model(z, rng() % 2 ? 1 << 16 : rng() % 64)) << "case " << i;
  }
}

// Random code lengths (incomplete, over-subscribed, long codes that need
// sub-tables) followed by random data.
TEST(InflateModel, RandomDynamicCodes) {
  std::mt19937 rng(99);
  for (int i = 0; i < 3000; ++i) {
    const size_t nlit = 257 + rng() % 30, ndist = 1 + rng() % 30;
    const int max_len = 1 + static_cast<int>(rng() % 15);
    auto random_lengths = [&](size_t n) {
      std::vector<int> lens(n, 0);
      const size_t used = 1 + rng() % n;
      for (size_t k = 0; k < used; ++k) lens[rng() % n] = 1 + static_cast<int>(rng() % static_cast<unsigned>(max_len));
      // Mostly lengthen codes until the code fits, so that data decodes.
      if (rng() % 8) {
        for (;;) {
          double kraft = 0;
          for (int l : lens) kraft += l ? 1.0 / static_cast<double>(1u << l) : 0;
          if (kraft <= 1.0) break;
          int &l = lens[rng() % n];
          if (l && l < 15) ++l;
        }
      }
      return lens;
    };
    std::vector<int> lit = random_lengths(nlit);
    if (rng() % 4) lit[256] = std::max(lit[256], 1);
    const std::vector<int> dist = random_lengths(ndist);
    BitWriter w;
    craft::dynamic_header(w, rng() % 4 != 0, lit, dist);
    Bytes z = w.finish();
    const Bytes tail = random_data(rng() % 400, static_cast<uint32_t>(rng()));
    z.insert(z.end(), tail.begin(), tail.end());
    ASSERT_TRUE(same_as_model(z, rng() % 2 ? 1 << 16 : rng() % 300)) << "case " << i;
  }
}

// The decode tables against bit-by-bit canonical decoding: every 15-bit
// pattern must give the same symbol and length, with sub-tables in bounds.
TEST(InflateTables, MatchCanonicalDecoding) {
  std::mt19937 rng(5);
  for (int i = 0; i < 400; ++i) {
    const size_t n = 2 + rng() % 287;
    std::vector<uint8_t> lens(n, 0);
    // Long codes are the point: bias towards 10..15 bits.
    for (auto &l : lens) l = rng() % 3 ? static_cast<uint8_t>(10 + rng() % 6) : static_cast<uint8_t>(rng() % 16);
    int count[16] = {};
    for (auto l : lens) count[l]++;
    count[0] = 0;
    long kraft = 0;
    for (int l = 1; l < 16; ++l) kraft += static_cast<long>(count[l]) << (15 - l);
    for (size_t k = 0; kraft > (1L << 15); k = (k + 1) % n)
      if (lens[k] && lens[k] < 15) {
        kraft -= 1L << (15 - lens[k]);
        ++lens[k];
        kraft += 1L << (15 - lens[k]);
      }
    const std::vector<int> ilens(lens.begin(), lens.end());
    const craft::Code code = craft::canonical(ilens);
    // expected: for each 15-bit pattern (first bit lowest), the symbol whose
    // code is its prefix, and that code's length
    std::vector<int> want(1u << 15, -1), want_len(1u << 15, 0);
    for (size_t s = 0; s < n; ++s) {
      const auto l = static_cast<unsigned>(ilens[s]);
      if (l == 0) continue;
      for (uint32_t p = flate::reverse_bits(code.codes[s], l); p < (1u << 15); p += 1u << l) {
        ASSERT_EQ(want[p], -1) << "test lengths are not prefix-free";
        want[p] = static_cast<int>(s);
        want_len[p] = static_cast<int>(l);
      }
    }
    for (const unsigned main_bits : {flate::kLitLenBits, flate::kDistBits}) {
      std::vector<uint32_t> table(flate::decode_table_capacity(main_bits, n));
      ASSERT_TRUE(flate::build_decode_table(lens, flate::Alphabet::code_length, main_bits, table));
      for (uint32_t pattern = 0; pattern < (1u << 15); ++pattern) {
        uint32_t e = table[pattern & ((1u << main_bits) - 1)];
        int got_len = 0;
        if (e & flate::kEntrySubTable) {
          got_len = static_cast<int>(main_bits);
          const size_t at = flate::entry_value(e) + ((pattern >> main_bits) & ((1u << flate::entry_extra_bits(e)) - 1));
          ASSERT_LT(at, table.size());
          e = table[at];
        }
        if (want[pattern] < 0) {
          ASSERT_EQ(e, 0u) << "pattern " << pattern;
        } else {
          ASSERT_EQ(static_cast<int>(flate::entry_value(e)), want[pattern]) << "pattern " << pattern;
          ASSERT_EQ(got_len + static_cast<int>(flate::entry_code_bits(e)), want_len[pattern]);
        }
      }
    }
  }
}

// Concurrent calls share no state: each thread must get its own stream back.
TEST(InflateThreads, ConcurrentCallsAreIndependent) {
  std::vector<Bytes> inputs, streams;
  for (uint32_t t = 0; t < 4; ++t) {
    inputs.push_back(t % 2 ? pdf_content_data(200000, 50 + t) : image_data(150, 150, 50 + t));
    streams.push_back(zlib_compress(inputs.back(), 6, t == 3 ? Z_FIXED : Z_DEFAULT_STRATEGY));
  }
  std::vector<int> bad(4, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round)
        if (ours(streams[t], inputs[t].size()).out != inputs[t]) ++bad[t];
    });
  for (auto &th : threads) th.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
}

}  // namespace
