// inflate_decompress against zlib's encoder (every level, strategy and window)
// and zlib's decoder, the corpus streams, crafted damage written with the
// test bit writer, and mutated streams; inflate_png_unfilter against libpng's
// own reading of files libpng wrote with each filter type.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "inflate/inflate.h"
#include "support/deflate_writer.h"
#include "support/png_maker.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using craft::BitWriter;
using craft::LenOp;

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

// --- sample data ---------------------------------------------------------------

Bytes text_data(size_t n, uint32_t seed) {
  static const char *const words[] = {"the", "quick", "brown", "fox", "jumps", "over", "a", "lazy",
                                      "dog", "while", "compression", "keeps", "its", "habits", "\n", ", "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += words[rng() % 16];
    s += ' ';
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

// Long runs of one byte, short periods and a few random bytes between them.
Bytes repetitive_data(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n) {
    const size_t run = 1 + rng() % 3000;
    switch (rng() % 3) {
      case 0: b.insert(b.end(), run, static_cast<unsigned char>('a' + rng() % 3)); break;
      case 1:
        for (size_t i = 0; i < run; ++i) b.push_back(static_cast<unsigned char>("xyz"[i % 3]));
        break;
      default: b.push_back(static_cast<unsigned char>(rng())); break;
    }
  }
  b.resize(n);
  return b;
}

// --- zlib as encoder and as the reference decoder ---------------------------

Bytes zlib_deflate(const Bytes &data, int level, int strategy = Z_DEFAULT_STRATEGY, int window_bits = 15,
                   int mem_level = 8) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, window_bits, mem_level, strategy) != Z_OK) {
    ADD_FAILURE() << "deflateInit2";
    return {};
  }
  Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 1024);
  z.next_in = const_cast<Bytef *>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  EXPECT_EQ(rc, Z_STREAM_END);
  return out;
}

struct ZlibResult {
  bool complete = false;  // reached the end of the final block
  Bytes out;              // what zlib produced, up to an error if any
  size_t deflate_len = 0; // bytes of DEFLATE data consumed when complete
};

// zlib's decoding of the DEFLATE data after a 2-byte header, with the
// largest window and without the trailer, as inflate_decompress reads it.
ZlibResult zlib_raw_inflate(const Bytes &stream, size_t out_limit) {
  ZlibResult r;
  if (stream.size() < 2) return r;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return r;
  r.out.resize(out_limit + 1);
  z.next_in = const_cast<Bytef *>(stream.data() + 2);
  z.avail_in = static_cast<uInt>(stream.size() - 2);
  z.next_out = r.out.data();
  z.avail_out = static_cast<uInt>(r.out.size());
  const int rc = inflate(&z, Z_FINISH);
  r.complete = rc == Z_STREAM_END;
  r.deflate_len = z.total_in;
  r.out.resize(z.total_out);
  inflateEnd(&z);
  return r;
}

// The adler-32 of data, big-endian, as a zlib trailer.
Bytes adler_trailer(const Bytes &data) {
  const uLong a = adler32(1, data.data(), static_cast<uInt>(data.size()));
  return {static_cast<unsigned char>(a >> 24), static_cast<unsigned char>(a >> 16),
          static_cast<unsigned char>(a >> 8), static_cast<unsigned char>(a)};
}

Bytes with_header(const Bytes &raw, const Bytes &trailer) {
  Bytes z(2 + raw.size() + trailer.size());
  z[0] = 0x78;
  z[1] = 0x01;
  std::copy(raw.begin(), raw.end(), z.begin() + 2);
  std::copy(trailer.begin(), trailer.end(), z.begin() + 2 + long(raw.size()));
  return z;
}

// --- running the decoder ---------------------------------------------------------

struct Result {
  int rc = 99;
  size_t len = 12345;
  Bytes out;
};

// Decodes into a heap block of exactly cap bytes, so that the sanitizers see
// any write past it.
Result decode(const Bytes &z, size_t cap) {
  std::unique_ptr<unsigned char[]> buf(new unsigned char[cap == 0 ? 1 : cap]);
  Result r;
  r.rc = inflate_decompress(z.data(), z.size(), cap == 0 ? nullptr : buf.get(), cap, &r.len);
  if (r.rc == 0 && r.len <= cap) r.out.assign(buf.get(), buf.get() + r.len);
  return r;
}

// Count-only mode on a copy of the input in a block of its exact size.
Result count_only(const Bytes &z, size_t cap = 0) {
  std::unique_ptr<unsigned char[]> in(new unsigned char[z.size() == 0 ? 1 : z.size()]);
  if (!z.empty()) std::memcpy(in.get(), z.data(), z.size());
  Result r;
  r.rc = inflate_decompress(in.get(), z.size(), INFLATE_COUNT_ONLY, cap, &r.len);
  return r;
}

// --- agreement with zlib -----------------------------------------------------

struct Sample {
  const char *name;
  Bytes data;
};

std::vector<Sample> samples() {
  return {{"empty", {}},
          {"one byte", {'x'}},
          {"text", text_data(40000, 1)},
          {"random", random_data(20000, 2)},
          {"repetitive", repetitive_data(60000, 3)},
          {"small text", text_data(700, 4)}};
}

// Every level, strategy and window size of zlib's encoder decodes to the
// input, count-only mode gives the same size, and one byte less capacity
// fails as a lack of room.
TEST(InflateZlibAgreement, EveryLevelStrategyAndWindowDecodesToTheInput) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (const Sample &s : samples()) {
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : strategies) {
        for (int window : {9, 10, 12, 15}) {
          SCOPED_TRACE(::testing::Message() << s.name << " level " << level << " strategy " << strategy
                                            << " window " << window);
          const Bytes z = zlib_deflate(s.data, level, strategy, window, level % 2 ? 9 : 1);
          const Result r = decode(z, s.data.size());
          ASSERT_EQ(r.rc, 0);
          ASSERT_EQ(r.len, s.data.size());
          ASSERT_TRUE(r.out == s.data);
          const Result c = count_only(z);
          ASSERT_EQ(c.rc, 0);
          ASSERT_EQ(c.len, s.data.size());
          if (!s.data.empty()) {
            const Result short_cap = decode(z, s.data.size() - 1);
            ASSERT_EQ(short_cap.rc, -1);
            ASSERT_EQ(short_cap.len, 0u);
          }
        }
      }
    }
  }
}

// A larger stream, to cross many blocks and every distance.
TEST(InflateZlibAgreement, LargeMixedStream) {
  Bytes data = text_data(300000, 9);
  const Bytes rnd = random_data(100000, 10);
  const Bytes rep = repetitive_data(200000, 11);
  data.insert(data.end(), rnd.begin(), rnd.end());
  data.insert(data.end(), rep.begin(), rep.end());
  for (int level : {1, 6, 9}) {
    const Bytes z = zlib_deflate(data, level);
    const Result r = decode(z, data.size() + 100);
    ASSERT_EQ(r.rc, 0);
    EXPECT_TRUE(r.out == data) << "level " << level;
    EXPECT_EQ(count_only(z).len, data.size());
  }
}

// --- input that ends too soon --------------------------------------------------

// Cut at every length before the end of the final block, a stream gives -1
// with nothing reported, even when output was produced; from there on (the
// trailer is not needed) it decodes whole. zlib tells where the data ends.
TEST(InflateTruncated, EveryCutBeforeTheEndGivesMinusOne) {
  const Bytes text = text_data(3000, 5);
  struct Stream {
    const char *name;
    Bytes data;
    Bytes z;
  };
  const Stream streams[] = {
      {"dynamic", text, zlib_deflate(text, 6)},
      {"stored", text, zlib_deflate(text, 0)},
      {"fixed", text, zlib_deflate(text, 6, Z_FIXED)},
      {"huffman only", random_data(800, 6), zlib_deflate(random_data(800, 6), 9, Z_HUFFMAN_ONLY)},
      {"empty", {}, zlib_deflate({}, 6)},
  };
  for (const Stream &s : streams) {
    SCOPED_TRACE(s.name);
    const ZlibResult ref = zlib_raw_inflate(s.z, s.data.size());
    ASSERT_TRUE(ref.complete);
    const size_t end = 2 + ref.deflate_len;
    ASSERT_EQ(end + 4, s.z.size());
    for (size_t cut = 0; cut <= s.z.size(); ++cut) {
      const Bytes part(s.z.begin(), s.z.begin() + long(cut));
      const Result r = decode(part, s.data.size());
      const Result c = count_only(part);
      if (cut < end) {
        ASSERT_EQ(r.rc, -1) << "cut " << cut;
        ASSERT_EQ(r.len, 0u) << "cut " << cut;
        ASSERT_EQ(c.rc, -1) << "cut " << cut;
        ASSERT_EQ(c.len, 0u) << "cut " << cut;
      } else {
        ASSERT_EQ(r.rc, 0) << "cut " << cut;
        ASSERT_TRUE(r.out == s.data) << "cut " << cut;
        ASSERT_EQ(c.len, s.data.size()) << "cut " << cut;
      }
    }
  }
}

// Stored blocks that end early: no room for LEN and NLEN, or fewer bytes
// than LEN says.
TEST(InflateTruncated, StoredBlockShortOfItsBytes) {
  {
    BitWriter w;
    craft::stored_block(w, true, 100, static_cast<uint16_t>(~100), bytes_of("only a few"));
    const Bytes z = with_header(w.finish(), {});
    EXPECT_EQ(decode(z, 200).rc, -1);
    EXPECT_EQ(count_only(z).rc, -1);
  }
  {
    BitWriter w;
    craft::block_header(w, true, 0);
    w.align();
    w.bits(5, 16);  // LEN and one byte of NLEN only
    w.bits(0xFA, 8);
    const Result r = decode(with_header(w.finish(), {}), 10);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.len, 0u);
  }
}

// --- damaged data: decoding stops, the bytes so far are reported ---------------

// A stream written with the test bit writer and what inflate_decompress gives.
struct Crafted {
  const char *fault;
  Bytes raw;         // DEFLATE data, wrapped with a header and 4 padding bytes
  int rc;
  std::string out;   // the bytes reported
};

// A fixed block with the text "prefix", not final, so that each case shows
// that the bytes before its damage are reported.
void prefix_block(BitWriter &w) {
  const auto c = craft::fixed_codes();
  craft::block_header(w, false, 1);
  craft::literals(w, c, "prefix");
  craft::end_of_block(w, c);
}

// Literal/length code lengths: the given symbols' lengths, zeros elsewhere,
// at least n entries and enough for the highest symbol.
std::vector<int> lit_lens_with(std::initializer_list<std::pair<int, int>> set, size_t n = 257) {
  for (auto [sym, len] : set) n = std::max(n, size_t(sym) + 1);
  std::vector<int> lens(n, 0);
  for (auto [sym, len] : set) lens[size_t(sym)] = len;
  return lens;
}

// The prefix block, then a final dynamic block with the given code lengths
// holding an "a" (when it has a code) and its end: a decoder that took the
// codes would report "prefixa".
Bytes dynamic_only(const std::vector<int> &lit, const std::vector<int> &dist) {
  BitWriter w;
  prefix_block(w);
  const auto codes = craft::dynamic_header(w, true, lit, dist);
  if (lit['a'] != 0) craft::put(w, codes.lit, 'a');
  craft::end_of_block(w, codes);
  return w.finish();
}

std::vector<Crafted> damaged_streams() {
  std::vector<Crafted> v;
  const auto fixed = craft::fixed_codes();
  {
    BitWriter w;
    craft::stored_block(w, false, bytes_of("abc"));
    craft::block_header(w, true, 3);
    v.push_back({"block type 3", w.finish(), 0, "abc"});
  }
  {
    BitWriter w;
    craft::stored_block(w, false, bytes_of("xy"));
    craft::stored_block(w, true, 2, 0x1234, bytes_of("zz"));
    v.push_back({"stored length with a wrong complement", w.finish(), 0, "xy"});
  }
  for (auto [hlit, hdist, why] : {std::tuple{30u, 0u, "287 literal/length codes"},
                                  std::tuple{31u, 0u, "288 literal/length codes"},
                                  std::tuple{0u, 30u, "31 distance codes"},
                                  std::tuple{0u, 31u, "32 distance codes"}}) {
    BitWriter w;
    prefix_block(w);
    craft::dynamic_header_raw(w, true, hlit, hdist, 15, craft::default_cl_lens(), {});
    v.push_back({why, w.finish(), 0, "prefix"});
  }
  {
    std::vector<int> cl(19, 0);
    cl[0] = 2;
    cl[1] = 2;  // half the code space unused
    BitWriter w;
    prefix_block(w);
    craft::dynamic_header_raw(w, true, 0, 0, 15, cl, {});
    v.push_back({"incomplete code-length code", w.finish(), 0, "prefix"});
  }
  {
    std::vector<int> cl(19, 0);
    cl[0] = cl[1] = cl[2] = 1;
    BitWriter w;
    prefix_block(w);
    craft::block_header(w, true, 2);
    w.bits(0, 5);
    w.bits(0, 5);
    w.bits(15, 4);
    for (int k = 0; k < 19; ++k) w.bits(uint32_t(cl[size_t(flate::DECODE_ORDER[k])]), 3);
    w.bits(0, 16);
    w.bits(0, 16);
    v.push_back({"over-subscribed code-length code", w.finish(), 0, "prefix"});
  }
  {
    BitWriter w;
    prefix_block(w);
    craft::block_header(w, true, 2);
    w.bits(0, 5);
    w.bits(0, 5);
    w.bits(15, 4);
    for (int k = 0; k < 19; ++k) w.bits(0, 3);  // no code-length codes at all: nothing decodes
    w.bits(0, 16);
    v.push_back({"code-length code without codes", w.finish(), 0, "prefix"});
  }
  {
    const LenOp ops[] = {{16, 0}};
    BitWriter w;
    prefix_block(w);
    craft::dynamic_header_raw(w, true, 0, 0, 15, craft::default_cl_lens(), ops);
    v.push_back({"repeat without a previous length", w.finish(), 0, "prefix"});
  }
  {
    const LenOp ops[] = {{18, 127}, {18, 127}};  // 276 zeros for 258 lengths
    BitWriter w;
    prefix_block(w);
    craft::dynamic_header_raw(w, true, 0, 0, 15, craft::default_cl_lens(), ops);
    v.push_back({"zeros past the end of the lengths", w.finish(), 0, "prefix"});
  }
  {
    const LenOp ops[] = {{18, 127}, {18, 107}, {8}, {16, 3}};  // 257 lengths, then 6 more of 8
    BitWriter w;
    prefix_block(w);
    craft::dynamic_header_raw(w, true, 0, 0, 15, craft::default_cl_lens(), ops);
    v.push_back({"repeat past the end of the lengths", w.finish(), 0, "prefix"});
  }
  v.push_back({"no end-of-block code", dynamic_only(lit_lens_with({{'a', 1}, {'b', 1}}), {1}), 0, "prefix"});
  v.push_back({"over-subscribed literal/length code",
               dynamic_only(lit_lens_with({{'a', 1}, {'b', 1}, {256, 1}}), {1}), 0, "prefix"});
  v.push_back({"incomplete literal/length code",
               dynamic_only(lit_lens_with({{'a', 2}, {256, 2}}), {1}), 0, "prefix"});
  v.push_back({"incomplete distance code of two bits",
               dynamic_only(lit_lens_with({{'a', 1}, {256, 1}}), {2}), 0, "prefix"});
  v.push_back({"over-subscribed distance code",
               dynamic_only(lit_lens_with({{'a', 1}, {256, 1}}), {1, 1, 1}), 0, "prefix"});
  for (int sym : {286, 287}) {
    BitWriter w;
    prefix_block(w);
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "ab");
    craft::put(w, fixed.lit, sym);
    v.push_back({sym == 286 ? "fixed literal/length symbol 286" : "fixed literal/length symbol 287",
                 w.finish(), 0, "prefixab"});
  }
  for (int dsym : {30, 31}) {
    BitWriter w;
    prefix_block(w);
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "cd");
    craft::put(w, fixed.lit, 257);
    craft::put(w, fixed.dist, dsym);
    v.push_back({dsym == 30 ? "fixed distance code 30" : "fixed distance code 31", w.finish(), 0, "prefixcd"});
  }
  {
    BitWriter w;
    craft::block_header(w, false, 1);
    craft::literals(w, fixed, "abcdef");
    craft::match(w, fixed, 4, 6);  // reaches back to the first byte: fine
    craft::end_of_block(w, fixed);
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "g");
    craft::match(w, fixed, 3, 12);  // one before the first byte
    craft::literals(w, fixed, "never");
    craft::end_of_block(w, fixed);
    v.push_back({"distance before the start of the output", w.finish(), 0, "abcdefabcdg"});
  }
  {
    // Single one-bit distance code "0": the pattern "1" is no code.
    BitWriter w;
    const auto codes = craft::dynamic_header(w, true, lit_lens_with({{'a', 2}, {256, 2}, {257, 1}}), {1});
    craft::put(w, codes.lit, 'a');
    craft::put(w, codes.lit, 257);
    w.bits(1, 1);
    v.push_back({"bit pattern that is no distance code", w.finish(), 0, "a"});
  }
  return v;
}

TEST(InflateDamaged, DecodingStopsAndReportsTheBytesSoFar) {
  for (const Crafted &c : damaged_streams()) {
    SCOPED_TRACE(c.fault);
    const Bytes z = with_header(c.raw, {0, 0, 0, 0});
    const Result r = decode(z, 100);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(std::string(r.out.begin(), r.out.end()), c.out);
    const Result n = count_only(z);
    EXPECT_EQ(n.rc, c.rc);
    EXPECT_EQ(n.len, c.out.size());
    // zlib refuses each of these streams, after the same bytes.
    const ZlibResult ref = zlib_raw_inflate(z, 100);
    EXPECT_FALSE(ref.complete);
    EXPECT_EQ(std::string(ref.out.begin(), ref.out.end()), c.out);
  }
}

// A corrupted distance in the middle of a real stream: the bytes before it
// are reported. The stream is made with one fixed block of literals and
// matches, and its 40th match is given a distance past the output.
TEST(InflateDamaged, CorruptDistanceInTheMiddleOfAStream) {
  const auto fixed = craft::fixed_codes();
  BitWriter w;
  craft::block_header(w, true, 1);
  std::string expected;
  for (int i = 0; i < 80; ++i) {
    std::string word = "w";
    word += std::to_string(i);
    word += ' ';
    craft::literals(w, fixed, word);
    expected += word;
    const int dist = i == 40 ? int(expected.size()) + 1 : int(word.size());
    craft::match(w, fixed, 3, dist);
    if (i == 40) break;
    expected += word.substr(0, 3);
  }
  craft::end_of_block(w, fixed);
  const Result r = decode(with_header(w.finish(), {0, 0, 0, 0}), 10000);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(std::string(r.out.begin(), r.out.end()), expected);
}

// --- degenerate but valid codes ------------------------------------------------

// Streams zlib accepts too: the single one-bit codes, a run of lengths that
// crosses from the literal/length into the distance part, a distance
// reaching the very first byte and lengths of every size.
TEST(InflateValidCrafted, DecodeAsZlibDoes) {
  std::vector<std::pair<const char *, Bytes>> cases;
  {
    BitWriter w;
    const auto c = craft::dynamic_header(w, true, lit_lens_with({{256, 1}}), {0});
    craft::end_of_block(w, c);
    cases.push_back({"single one-bit literal/length code (end of block only)", w.finish()});
  }
  {
    BitWriter w;
    const auto c = craft::dynamic_header(w, true, lit_lens_with({{'q', 1}, {256, 2}, {258, 2}}), {1});
    craft::put(w, c.lit, 'q');
    craft::put(w, c.lit, 258);  // length 4
    craft::put(w, c.dist, 0);   // distance 1
    craft::end_of_block(w, c);
    cases.push_back({"single one-bit distance code", w.finish()});
  }
  {
    const std::vector<int> lit = lit_lens_with({{'a', 1}, {256, 2}, {257, 2}}, 260);
    const std::vector<int> dist = {0, 1, 1};
    const LenOp ops[] = {{18, 86}, {1}, {18, 127}, {18, 9}, {2}, {2}, {17, 0}, {1}, {1}};
    BitWriter w;
    craft::dynamic_header_raw(w, true, 3, 2, 15, craft::default_cl_lens(), ops);
    const craft::BlockCodes c{craft::canonical(lit), craft::canonical(dist)};
    craft::literals(w, c, "aa");
    craft::match(w, c, 3, 2);
    craft::end_of_block(w, c);
    cases.push_back({"zero run across the two parts of the lengths", w.finish()});
  }
  {
    const auto fixed = craft::fixed_codes();
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "0123456789");
    for (int len = 3; len <= 258; ++len) craft::match(w, fixed, len, 1 + len % 10);
    craft::match(w, fixed, 258, 10);
    craft::end_of_block(w, fixed);
    cases.push_back({"every length", w.finish()});
  }
  {
    BitWriter w;
    craft::stored_block(w, false, {});
    craft::stored_block(w, false, bytes_of("stored"));
    const auto fixed = craft::fixed_codes();
    craft::block_header(w, true, 1);
    craft::match(w, fixed, 6, 6);
    craft::end_of_block(w, fixed);
    cases.push_back({"empty stored block, then a match into an earlier block", w.finish()});
  }
  for (const auto &[name, raw] : cases) {
    SCOPED_TRACE(name);
    const ZlibResult ref = zlib_raw_inflate(with_header(raw, {}), 100000);
    ASSERT_TRUE(ref.complete);
    const Bytes z = with_header(raw, adler_trailer(ref.out));
    const Result r = decode(z, ref.out.size());
    EXPECT_EQ(r.rc, 0);
    EXPECT_TRUE(r.out == ref.out);
    EXPECT_EQ(count_only(z).len, ref.out.size());
  }
}

// --- refused calls and lack of room ------------------------------------------------

// The four bytes 78 9C 03 00 (an empty final fixed block, no trailer).
TEST(InflateHeader, EmptyFixedBlockWithoutTrailer) {
  const Result r = decode({0x78, 0x9C, 0x03, 0x00}, 0);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.len, 0u);
}

// Only the method nibble and the preset-dictionary bit are checked.
TEST(InflateHeader, OnlyMethodAndDictionaryBitAreChecked) {
  struct HeaderCase {
    unsigned char cmf, flg;
    int rc;
  };
  const HeaderCase cases[] = {
      {0x78, 0x9C, 0}, {0x78, 0x00, 0},  // check value not a multiple of 31: accepted
      {0x08, 0x1D, 0}, {0xF8, 0x00, 0},  // window field not examined
      {0x77, 0x9C, -1}, {0x79, 0x9C, -1}, {0x7F, 0x9C, -1}, {0x70, 0x00, -1},
      {0x78, 0xBB, -1}, {0x78, 0x20, -1},  // preset dictionary
  };
  for (const HeaderCase &c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.cmf) << " " << int(c.flg));
    const Result r = decode({c.cmf, c.flg, 0x03, 0x00}, 4);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.len, 0u);
  }
  EXPECT_EQ(decode({}, 4).rc, -1);
  EXPECT_EQ(decode({0x78}, 4).rc, -1);
}

TEST(InflateRefused, CapacityLimitAndNullArguments) {
  const Bytes data = bytes_of("hello");
  const Bytes z = zlib_deflate(data, 6);
  unsigned char buf[16];
  size_t len = 99;
  EXPECT_EQ(inflate_decompress(z.data(), z.size(), buf, size_t{1} << 30, &len), 0);
  EXPECT_EQ(len, data.size());
  len = 99;
  EXPECT_EQ(inflate_decompress(z.data(), z.size(), buf, (size_t{1} << 30) + 1, &len), -1);
  EXPECT_EQ(len, 0u);
  len = 99;
  EXPECT_EQ(inflate_decompress(z.data(), z.size(), INFLATE_COUNT_ONLY, (size_t{1} << 30) + 1, &len), -1);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(inflate_decompress(nullptr, 10, buf, sizeof buf, &len), -1);
  EXPECT_EQ(inflate_decompress(z.data(), z.size(), buf, sizeof buf, nullptr), -1);
  EXPECT_EQ(inflate_decompress(z.data(), z.size(), nullptr, sizeof buf, &len), -1);
  const Bytes empty = zlib_deflate({}, 6);
  len = 99;
  EXPECT_EQ(inflate_decompress(empty.data(), empty.size(), nullptr, 0, &len), 0);
  EXPECT_EQ(len, 0u);
}

// Output that would pass the capacity, whether from a literal, a match or a
// stored block, gives -1 with nothing reported; the exact capacity is enough.
TEST(InflateRefused, OutputPastTheCapacity) {
  const auto fixed = craft::fixed_codes();
  std::vector<std::pair<const char *, Bytes>> cases;
  {
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "0123456789");
    craft::end_of_block(w, fixed);
    cases.push_back({"literals", w.finish()});
  }
  {
    BitWriter w;
    craft::block_header(w, true, 1);
    craft::literals(w, fixed, "ab");
    craft::match(w, fixed, 8, 2);
    craft::end_of_block(w, fixed);
    cases.push_back({"match", w.finish()});
  }
  {
    BitWriter w;
    craft::stored_block(w, true, bytes_of("0123456789"));
    cases.push_back({"stored", w.finish()});
  }
  for (const auto &[name, raw] : cases) {
    SCOPED_TRACE(name);
    const Bytes z = with_header(raw, {});
    EXPECT_EQ(decode(z, 10).rc, 0);
    EXPECT_EQ(decode(z, 10).len, 10u);
    for (size_t cap : {0, 1, 5, 9}) {
      const Result r = decode(z, cap);
      EXPECT_EQ(r.rc, -1) << cap;
      EXPECT_EQ(r.len, 0u) << cap;
    }
    // Count-only mode has no limit but the bound on the capacity argument.
    EXPECT_EQ(count_only(z, 0).len, 10u);
  }
}

// Count-only mode adds a stored block's LEN without any capacity check.
TEST(InflateRefused, CountOnlyStoredBlocksIgnoreTheCapacity) {
  BitWriter w;
  const Bytes block(60000, 'z');
  craft::stored_block(w, false, block);
  craft::stored_block(w, true, block);
  const Bytes z = with_header(w.finish(), {});
  const Result r = count_only(z, 0);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.len, 120000u);
}

// --- the corpus --------------------------------------------------------------

const fs::path kCorpus = fs::path(FOLIMARK_CORPUS_DIR) / "deflate";

Bytes read_file(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Raw DEFLATE files get a zlib header and the trailer of their expected
// output; zlib files are fed as they are. The expected output is
// NAME.decompressed, or the text file the name starts with.
TEST(InflateCorpus, StreamsDecodeToTheirExpectedOutput) {
  if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "corpus not found at " << kCorpus;
  size_t checked = 0;
  for (const auto &entry : fs::directory_iterator(kCorpus)) {
    const std::string name = entry.path().filename().string();
    const bool raw = name.ends_with(".deflate");
    const bool zlib = name.ends_with(".zlib");
    if (!raw && !zlib) continue;
    SCOPED_TRACE(name);
    fs::path expected_path = kCorpus / (name + ".decompressed");
    if (!fs::exists(expected_path)) expected_path = kCorpus / name.substr(0, name.find(".txt") + 4);
    ASSERT_TRUE(fs::exists(expected_path)) << expected_path;
    const Bytes expected = read_file(expected_path);
    const Bytes input = read_file(entry.path());
    const Bytes z = raw ? with_header(input, adler_trailer(expected)) : input;
    const Result r = decode(z, expected.size());
    EXPECT_EQ(r.rc, 0);
    EXPECT_TRUE(r.out == expected) << r.out.size() << " bytes, expected " << expected.size();
    EXPECT_EQ(count_only(z).len, expected.size());
    ++checked;
  }
  EXPECT_GE(checked, 10u);
}

// The corpus stream with distance code 31 must fail: zlib refuses it, and
// inflate_decompress stops at the code with nothing produced.
TEST(InflateCorpus, DistanceCode31IsDamage) {
  const fs::path p = kCorpus / "distance-code-31.deflate";
  if (!fs::exists(p)) GTEST_SKIP() << "corpus not found at " << kCorpus;
  const Bytes z = with_header(read_file(p), {0, 0, 0, 1});
  EXPECT_FALSE(zlib_raw_inflate(z, 100).complete);
  const Result r = decode(z, 100);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.len, 0u);
}

// --- mutations ---------------------------------------------------------------

// Checks one input: the result is 0 or -1 (-1 with nothing reported), the
// write mode with the count-only size as capacity agrees with count-only
// mode, and the bytes produced agree with zlib's as far as both go.
void check_mutant(const Bytes &z) {
  const Result c = count_only(z);
  ASSERT_TRUE(c.rc == 0 || c.rc == -1);
  if (c.rc == -1) {
    ASSERT_EQ(c.len, 0u);
    return;
  }
  ASSERT_LE(c.len, z.size() * 1032 + 1032);
  const Result r = decode(z, c.len);
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.len, c.len);
  if (c.len > 0) {
    const Result tight = decode(z, c.len - 1);
    ASSERT_EQ(tight.rc, -1);
  }
  const ZlibResult ref = zlib_raw_inflate(z, r.out.size() + 1000);
  const size_t common = std::min(ref.out.size(), r.out.size());
  ASSERT_TRUE(std::equal(r.out.begin(), r.out.begin() + long(common), ref.out.begin()));
  if (ref.complete) {
    ASSERT_TRUE(r.out == ref.out);
  }
}

std::vector<Bytes> mutation_seeds() {
  const Bytes text = text_data(400, 21);
  std::vector<Bytes> seeds = {zlib_deflate(text, 6), zlib_deflate(text, 1, Z_FIXED),
                              zlib_deflate(text, 9, Z_HUFFMAN_ONLY), zlib_deflate(repetitive_data(3000, 22), 9, Z_RLE),
                              zlib_deflate(random_data(60, 23), 0)};
  for (const Crafted &c : damaged_streams()) seeds.push_back(with_header(c.raw, {0, 0, 0, 0}));
  return seeds;
}

// Every single-bit flip, zeroed and all-ones byte and cut of each seed.
TEST(InflateMutation, EveryByteFlippedZeroedAndCut) {
  for (const Bytes &seed : mutation_seeds()) {
    for (size_t i = 0; i < seed.size(); ++i) {
      Bytes m = seed;
      for (int bit = 0; bit < 8; ++bit) {
        m[i] = static_cast<unsigned char>(seed[i] ^ (1u << bit));
        ASSERT_NO_FATAL_FAILURE(check_mutant(m)) << "byte " << i << " bit " << bit;
      }
      for (const unsigned char v : {static_cast<unsigned char>(0x00), static_cast<unsigned char>(0xFF)}) {
        m[i] = v;
        ASSERT_NO_FATAL_FAILURE(check_mutant(m)) << "byte " << i << " set to " << int(v);
      }
      ASSERT_NO_FATAL_FAILURE(check_mutant(Bytes(seed.begin(), seed.begin() + long(i))));
    }
  }
}

// Random bytes after a valid header, and random damage to several bytes at once.
TEST(InflateMutation, RandomBytesAndRandomDamage) {
  std::mt19937 rng(77);
  for (int i = 0; i < 3000; ++i) {
    Bytes z = {0x78, 0x9C};
    const size_t n = rng() % 300;
    for (size_t k = 0; k < n; ++k) z.push_back(static_cast<unsigned char>(rng()));
    ASSERT_NO_FATAL_FAILURE(check_mutant(z)) << "iteration " << i;
  }
  const auto seeds = mutation_seeds();
  for (int i = 0; i < 3000; ++i) {
    Bytes z = seeds[size_t(i) % seeds.size()];
    const int hits = 1 + int(rng() % 4);
    for (int h = 0; h < hits; ++h) z[2 + rng() % (z.size() - 2)] = static_cast<unsigned char>(rng());
    ASSERT_NO_FATAL_FAILURE(check_mutant(z)) << "iteration " << i;
  }
}

// --- inflate_png_unfilter ---------------------------------------------------------

Bytes unfiltered(Bytes buf, int stride, int *rc = nullptr) {
  const int r = inflate_png_unfilter(buf.data(), buf.size(), stride);
  if (rc != nullptr) *rc = r;
  return buf;
}

// The cases worth pinning down by hand: each filter on small rows, the Paeth
// predictor's ties, an average of two large bytes.
TEST(PngUnfilter, SmallRowsByHand) {
  struct Case {
    const char *what;
    Bytes in;
    int stride;
    Bytes rows;
  };
  const Case cases[] = {
      {"Sub then Up, stride 1", {1, 5, 2, 3}, 1, {5, 8}},
      {"one row of filter 0 moves to the start", {0, 9, 8, 7}, 3, {9, 8, 7}},
      {"Sub wraps modulo 256", {1, 200, 100, 0}, 3, {200, 44, 44}},
      {"Up in the first row adds zero", {2, 1, 2, 0, 2, 2, 1, 1}, 3, {1, 2, 0, 3, 3, 1}},
      {"Average without overflow", {0, 200, 200, 3, 0, 0}, 2, {200, 200, 100, 150}},
      {"Average in the first row uses the left byte only", {3, 10, 10}, 2, {10, 15}},
      // Row 1, byte 1: left 12, up 6, upper-left 10: pa 4, pb 2, pc 2 -> up.
      {"Paeth: pb = pc < pa takes up", {0, 10, 6, 4, 2, 0}, 2, {10, 6, 12, 6}},
      // left 12, up 8, upper-left 10: pa 2, pb 2, pc 0 -> upper-left.
      {"Paeth: pc smallest takes upper-left", {0, 10, 8, 4, 2, 0}, 2, {10, 8, 12, 10}},
      // left 9, up 20, upper-left 20: pa 0 -> left.
      {"Paeth: pa smallest takes left", {0, 20, 20, 4, 245, 0}, 2, {20, 20, 9, 9}},
      // All three equal: pa = pb = pc = 0 -> left.
      {"Paeth: a three-way tie takes left", {0, 7, 7, 4, 0, 1}, 2, {7, 7, 7, 8}},
      {"Paeth in the first row is Sub", {4, 3, 4}, 2, {3, 7}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    int rc = 99;
    const Bytes out = unfiltered(c.in, c.stride, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + long(c.rows.size())), c.rows);
  }
}

TEST(PngUnfilter, RefusedAndPartialInput) {
  Bytes buf = {0, 1, 2};
  EXPECT_EQ(inflate_png_unfilter(buf.data(), buf.size(), 0), -1);
  EXPECT_EQ(inflate_png_unfilter(buf.data(), buf.size(), -3), -1);
  EXPECT_EQ(inflate_png_unfilter(nullptr, 0, 4), 0);
  EXPECT_EQ(inflate_png_unfilter(nullptr, 5, 4), -1);
  EXPECT_EQ(inflate_png_unfilter(buf.data(), 0, 1), 0);

  // A trailing partial row is left alone and the result is 0.
  int rc = 99;
  const Bytes out = unfiltered({1, 1, 1, 2, 5, 5, 3, 9}, 2, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{1, 2, 6, 7}));
  // Fewer bytes than one row: nothing happens.
  EXPECT_EQ(unfiltered({1, 1, 1}, 3, &rc), (Bytes{1, 1, 1}));
  EXPECT_EQ(rc, 0);

  // A filter type above 4 fails, the rows before it rebuilt.
  const Bytes bad = unfiltered({1, 1, 1, 2, 5, 5, 5, 9, 9}, 2, &rc);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(Bytes(bad.begin(), bad.begin() + 4), (Bytes{1, 2, 6, 7}));
  EXPECT_EQ(unfiltered({255, 0}, 1, &rc), (Bytes{255, 0}));
  EXPECT_EQ(rc, -1);
}

// The image data of a PNG file: the IDAT chunks joined.
Bytes idat_of(const Bytes &file) {
  Bytes z;
  for (const auto &c : testpng::list_chunks(file))
    if (c.type == "IDAT") z.insert(z.end(), file.begin() + long(c.offset) + 8, file.begin() + long(c.offset) + 8 + c.length);
  return z;
}

// Files libpng writes with each filter (and with its own choice among all of
// them), for images of one byte per pixel or less: 8-bit gray and palette,
// and packed gray of 1, 2 and 4 bits. The image data is inflated with
// inflate_decompress, unfiltered, and must give the rows libpng reads.
TEST(PngUnfilter, MatchesLibpngForEveryFilter) {
  struct Filter {
    const char *name;
    int mask;
    int type;  // the filter byte the rows carry, -1 for a mix
  };
  const Filter filters[] = {{"none", PNG_FILTER_NONE, 0}, {"sub", PNG_FILTER_SUB, 1},
                            {"up", PNG_FILTER_UP, 2},     {"average", PNG_FILTER_AVG, 3},
                            {"paeth", PNG_FILTER_PAETH, 4}, {"all", PNG_ALL_FILTERS, -1}};
  struct Kind {
    int color;
    int depth;
  };
  const Kind kinds[] = {{0, 8}, {3, 8}, {0, 4}, {0, 2}, {0, 1}};
  struct Size {
    uint32_t w, h;
  };
  const Size sizes[] = {{1, 1}, {1, 9}, {9, 1}, {13, 7}, {64, 33}, {301, 17}};
  std::mt19937 rng(5);
  std::set<int> filters_seen;
  for (const Filter &f : filters) {
    std::set<int> seen;
    for (const Kind &k : kinds) {
      for (const Size &s : sizes) {
        SCOPED_TRACE(::testing::Message() << f.name << " color " << k.color << " depth " << k.depth << " "
                                          << s.w << "x" << s.h);
        testpng::Image img;
        img.width = s.w;
        img.height = s.h;
        img.color_type = k.color;
        img.bit_depth = k.depth;
        const size_t row = img.row_bytes();
        img.rows.resize(row * s.h);
        // Smooth content with noise, so that every filter has work to do.
        for (size_t y = 0; y < s.h; ++y)
          for (size_t x = 0; x < row; ++x)
            img.rows[y * row + x] = static_cast<unsigned char>(x * 7 + y * 3 + (rng() % 8));
        if (k.depth < 8) {
          // Clear the padding bits of each row's last byte, which PNG leaves free.
          const size_t bits = size_t(s.w) * size_t(k.depth) % 8;
          if (bits != 0)
            for (size_t y = 0; y < s.h; ++y) img.rows[y * row + row - 1] &= static_cast<unsigned char>(0xFF << (8 - bits));
        }
        if (k.color == 3) {
          for (int i = 0; i < 256; ++i)
            img.palette.insert(img.palette.end(), {static_cast<unsigned char>(i), static_cast<unsigned char>(255 - i),
                                                   static_cast<unsigned char>(i * 3)});
        }
        testpng::WriteOptions opt;
        opt.filters = f.mask;
        const Bytes file = testpng::write_with_libpng(img, opt);

        const Bytes z = idat_of(file);
        const size_t raw_size = (row + 1) * s.h;
        Bytes raw(raw_size);
        size_t got = 0;
        ASSERT_EQ(inflate_decompress(z.data(), z.size(), raw.data(), raw.size(), &got), 0);
        ASSERT_EQ(got, raw_size);
        for (size_t y = 0; y < s.h; ++y) {
          seen.insert(raw[y * (row + 1)]);
          filters_seen.insert(raw[y * (row + 1)]);
          // libpng falls back to None where a filter has nothing to work on.
          if (f.type >= 0) {
            const int t = raw[y * (row + 1)];
            ASSERT_TRUE(t == f.type || t == 0) << "row " << y << " filter " << t;
          }
        }
        ASSERT_EQ(inflate_png_unfilter(raw.data(), raw.size(), int(row)), 0);
        ASSERT_TRUE(std::equal(img.rows.begin(), img.rows.end(), raw.begin()));

        // libpng's reading, expanded to RGBA, matches the samples we rebuilt.
        const testpng::Rgba ref = testpng::read_with_libpng(file);
        ASSERT_TRUE(ref.ok) << ref.error;
        const unsigned top = (1u << k.depth) - 1;
        for (size_t y = 0; y < s.h; ++y) {
          for (size_t x = 0; x < s.w; ++x) {
            const size_t bit = x * size_t(k.depth);
            const unsigned byte = raw[y * row + bit / 8];
            const unsigned sample = (byte >> (8 - k.depth - bit % 8)) & top;
            const unsigned char *px = &ref.pixels[(y * s.w + x) * 4];
            const unsigned expected_r = k.color == 3 ? img.palette[sample * 3] : sample * 255 / top;
            ASSERT_EQ(px[0], expected_r) << "x " << x << " y " << y;
          }
        }
      }
    }
    if (f.type >= 0) {
      EXPECT_EQ(seen.count(f.type), 1u) << f.name << " filter never written";
    } else {
      EXPECT_GE(seen.size(), 3u) << "libpng's own choice used few filters";
    }
  }
  EXPECT_EQ(filters_seen, (std::set<int>{0, 1, 2, 3, 4}));
}

}  // namespace
