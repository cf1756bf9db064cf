// tvl_deflate: every stream must inflate with zlib, and must be byte for byte
// the stream of the greedy hash-chain compressor that the library defines
// (checked against a slow, literal transcription in support/), down to the
// symbols that simple inputs are coded with.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "flate/deflate_internal.h"
#include "flate/flate.h"
#include "flate/huffman.h"
#include "support/deflate_symbols.h"
#include "support/reference_deflate.h"

namespace {

using Bytes = std::vector<unsigned char>;
using deflate_symbols::Parsed;
using deflate_symbols::Symbol;

// Inputs

// splitmix64: the same numbers on every platform, unlike <random>'s distributions.
struct Rng {
  uint64_t state;
  explicit Rng(uint64_t seed) : state(seed) {}
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
};

Bytes from_string(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes repeat(const Bytes &unit, size_t size) {
  Bytes out;
  out.reserve(size);
  while (out.size() < size) out.push_back(unit[out.size() % unit.size()]);
  return out;
}

Bytes random_bytes(size_t size, uint64_t seed, uint32_t alphabet = 256) {
  Rng r(seed);
  Bytes out(size);
  for (auto &b : out) b = static_cast<unsigned char>(r.below(alphabet));
  return out;
}

// Page content as PDF producers write it: text objects, paths, state changes.
Bytes pdf_content(size_t size, uint64_t seed) {
  static const char *const words[] = {"Lorem", "ipsum", "dolor", "sit",   "amet",  "total",
                                      "page",  "of",    "the",   "sum",   "net",   "invoice",
                                      "date",  "due",   "paid",  "order", "items", "account"};
  Rng r(seed);
  std::string s;
  while (s.size() < size) {
    switch (r.below(5)) {
      case 0:
      case 1: {
        s += "BT /F" + std::to_string(1 + r.below(3)) + " " + std::to_string(8 + r.below(8)) + " Tf " +
             std::to_string(r.below(600)) + " " + std::to_string(r.below(800)) + " Td (";
        for (uint32_t w = 0, n = 1 + r.below(7); w < n; w++) s += std::string(w ? " " : "") + words[r.below(18)];
        s += ") Tj ET\n";
        break;
      }
      case 2:
        s += std::to_string(r.below(600)) + "." + std::to_string(r.below(100)) + " " + std::to_string(r.below(800)) +
             " m " + std::to_string(r.below(600)) + " " + std::to_string(r.below(800)) + " l S\n";
        break;
      case 3:
        s += "q 1 0 0 1 " + std::to_string(r.below(600)) + " " + std::to_string(r.below(800)) + " cm 0." +
             std::to_string(r.below(1000)) + " g\n";
        break;
      default:
        s += "Q\n";
    }
  }
  s.resize(size);
  return from_string(s);
}

// RGB pixels: smooth gradients with a little noise.
Bytes rgb_image(int width, int height, uint64_t seed) {
  Rng r(seed);
  Bytes out;
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      const int noise = static_cast<int>(r.below(7)) - 3;
      const int v[3] = {x * 255 / width + noise, y * 255 / height + noise, (x + y) * 100 / (width + height) + 90 + noise};
      for (int c : v) out.push_back(static_cast<unsigned char>(std::clamp(c, 0, 255)));
    }
  }
  return out;
}

// A byte string with exactly counts[b] copies of each byte b in which no three
// consecutive bytes occur twice, so the compressor finds no match at all and
// the literal frequencies are exactly the counts.
Bytes without_repeated_trigrams(const std::array<int, 256> &counts, uint64_t seed) {
  for (int attempt = 0; attempt < 100; attempt++) {
    Rng r(seed + static_cast<uint64_t>(attempt) * 7919);
    std::array<int, 256> left = counts;
    long total = 0;
    for (int c : left) total += c;
    std::vector<bool> used(1u << 24);
    Bytes out;
    out.reserve(static_cast<size_t>(total));
    auto key = [&](int b) {
      return static_cast<size_t>(out[out.size() - 2]) << 16 | static_cast<size_t>(out[out.size() - 1]) << 8 |
             static_cast<size_t>(b);
    };
    bool stuck = false;
    for (long remaining = total; remaining > 0 && !stuck; remaining--) {
      int chosen = -1;
      // Draw in proportion to what is left, so that the mix stays even.
      for (int tries = 0; tries < 32 && chosen < 0; tries++) {
        long pick = static_cast<long>(r.next() % static_cast<uint64_t>(remaining));
        int b = 0;
        while (pick >= left[b]) pick -= left[b++];
        if (out.size() < 2 || !used[key(b)]) chosen = b;
      }
      for (int b = 0; b < 256 && chosen < 0; b++)
        if (left[b] > 0 && (out.size() < 2 || !used[key(b)])) chosen = b;
      if (chosen < 0) {
        stuck = true;
        break;
      }
      if (out.size() >= 2) used[key(chosen)] = true;
      out.push_back(static_cast<unsigned char>(chosen));
      left[chosen]--;
    }
    if (!stuck) return out;
  }
  ADD_FAILURE() << "could not build a trigram-free sequence";
  return {};
}

Bytes trigram_free_random(size_t size, uint64_t seed, int first = 0, int last = 255) {
  std::array<int, 256> counts{};
  for (size_t k = 0; k < size; k++) counts[static_cast<size_t>(first) + k % static_cast<size_t>(last - first + 1)]++;
  return without_repeated_trigrams(counts, seed);
}

// Whether every three-byte string of data occurs again only exactly d bytes
// later, if at all: the only matches on offer are at distance d.
bool repeats_only_at_distance(const Bytes &data, size_t d) {
  std::vector<int> last(1u << 24, -1);
  for (size_t p = 0; p + 3 <= data.size(); p++) {
    const size_t key = static_cast<size_t>(data[p]) << 16 | static_cast<size_t>(data[p + 1]) << 8 | data[p + 2];
    if (last[key] >= 0 && p - static_cast<size_t>(last[key]) != d) return false;
    last[key] = static_cast<int>(p);
  }
  return true;
}

// prefix + s + the first n bytes of s, for a trigram-free s of the given size,
// chosen so that the copy, size bytes back, is the only match on offer (the
// seams around s make trigrams of their own, which must not occur in s).
Bytes far_copy(const Bytes &prefix, size_t size, size_t n, uint64_t seed) {
  for (;; seed++) {
    const Bytes s = trigram_free_random(size, seed);
    Bytes in = prefix;
    in.insert(in.end(), s.begin(), s.end());
    in.insert(in.end(), s.begin(), s.begin() + static_cast<long>(n));
    if (repeats_only_at_distance(in, size)) return in;
  }
}

// Literal frequencies for which the code-length code needs more than 7 bits
// before the length limit repairs it. Each byte gets the frequency
// 2^(15 - its code length), so that the Huffman lengths are exactly the
// planned ones; the numbers of bytes per length run like Fibonacci numbers
// (89, 55, 34, 25, 22, 14, 6, 3, 2, 1), which makes the code-length symbols
// that count them just as skewed. The lengths are laid out so that no four
// equal ones meet and all are sent one by one.
std::array<int, 256> bl_overflow_counts() {
  // (code length, how many symbols have it); one of the 15s is end-of-block.
  const std::pair<int, int> plan[] = {{6, 25}, {7, 55},  {8, 22}, {9, 34},  {10, 2},
                                      {11, 6}, {12, 89}, {13, 1}, {14, 3}, {15, 14}};
  std::array<int, 16> left{};
  size_t total = 0;
  for (auto [len, n] : plan) {
    left[static_cast<size_t>(len)] = n;
    total += static_cast<size_t>(n);
  }
  left[15]--;
  total--;
  std::vector<int> order;
  while (order.size() < total) {
    int best = -1;
    for (int v = 1; v <= 15; v++) {
      const size_t m = order.size();
      if (!left[static_cast<size_t>(v)] || (m >= 3 && order[m - 1] == v && order[m - 2] == v && order[m - 3] == v))
        continue;
      if (best < 0 || left[static_cast<size_t>(v)] > left[static_cast<size_t>(best)]) best = v;
    }
    order.push_back(best);
    left[static_cast<size_t>(best)]--;
  }
  std::array<int, 256> counts{};
  for (size_t b = 0; b < order.size(); b++) counts[b] = 1 << (15 - order[b]);
  return counts;  // bytes 249..255 unused
}

// A Fibonacci tail under evenly used bytes: the rarest bytes sit deeper than
// 15 levels in the Huffman tree. The end-of-block symbol (frequency 1) is the
// first 1 of the Fibonacci numbers; bytes 0..11 are the next twelve (1, 2,
// 3, ..., 233), which merge into one chain 12 levels deep before any of the
// 140 bytes used 400 times each joins in.
std::array<int, 256> lit_overflow_counts() {
  std::array<int, 256> counts{};
  int a = 1, b = 2;
  for (size_t k = 0; k < 12; k++) {
    counts[k] = a;
    const int c = a + b;
    a = b;
    b = c;
  }
  for (size_t k = 12; k < 152; k++) counts[k] = 400;
  return counts;
}

// Many different trigrams with one hash value: long chains of useless candidates.
Bytes hash_collisions(size_t size, uint64_t seed) {
  std::vector<std::array<unsigned char, 3>> triples;
  const unsigned target = (100u * 961 + 100u * 31 + 100u) & 0x7FFF;
  for (unsigned a = 0; a < 256; a++)
    for (unsigned b = 0; b < 256; b++)
      for (unsigned c = 0; c < 256; c++)
        if (((a * 961 + b * 31 + c) & 0x7FFF) == target)
          triples.push_back({static_cast<unsigned char>(a), static_cast<unsigned char>(b), static_cast<unsigned char>(c)});
  Rng r(seed);
  Bytes out;
  while (out.size() < size) {
    const auto &t = triples[r.below(static_cast<uint32_t>(triples.size()))];
    out.insert(out.end(), t.begin(), t.end());
  }
  out.resize(size);
  return out;
}

// Chunks of different kinds one after another.
Bytes mixed(size_t size, uint64_t seed) {
  Rng r(seed);
  Bytes out;
  while (out.size() < size) {
    const size_t n = 1 + r.below(5000);
    Bytes part;
    switch (r.below(5)) {
      case 0: part = random_bytes(n, r.next()); break;
      case 1: part = Bytes(n, static_cast<unsigned char>(r.below(256))); break;
      case 2: part = pdf_content(n, r.next()); break;
      case 3: part = random_bytes(n, r.next(), 1 + r.below(6)); break;
      default:
        if (!out.empty()) {  // a copy of something earlier, far or near
          const size_t from = r.below(static_cast<uint32_t>(out.size()));
          part.assign(out.begin() + static_cast<long>(from),
                      out.begin() + static_cast<long>(std::min(out.size(), from + n)));
        }
    }
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(size);
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Case {
  std::string name;
  Bytes data;
};

// The inputs every general test runs over.
std::vector<Case> make_cases() {
  std::vector<Case> c;
  c.push_back({"empty", {}});
  for (int b : {0, 1, int{'a'}, 255}) c.push_back({"one byte " + std::to_string(b), Bytes(1, static_cast<unsigned char>(b))});
  c.push_back({"two equal bytes", Bytes(2, 7)});
  c.push_back({"two bytes", from_string("ab")});
  c.push_back({"three equal bytes", Bytes(3, 'z')});
  c.push_back({"four equal bytes", Bytes(4, 'z')});
  for (size_t n : {5, 6, 7, 258, 259, 260, 261, 262, 300, 1000, 100000, 1000000})
    c.push_back({"run of " + std::to_string(n), Bytes(n, 'x')});
  c.push_back({"zeros 200000", Bytes(200000, 0)});
  c.push_back({"period 2", repeat(from_string("ab"), 10000)});
  c.push_back({"period 3", repeat(from_string("abc"), 10000)});
  c.push_back({"period 5 (distance code 4 only)", repeat(from_string("abcde"), 10000)});
  c.push_back({"period 1000", repeat(random_bytes(1000, 5), 70000)});
  c.push_back({"text", from_string("Hello, hello, hello world. The quick brown fox jumps over the lazy dog. "
                                   "The quick brown fox jumps over the lazy dog again and again.")});
  c.push_back({"pdf content 5000", pdf_content(5000, 1)});
  c.push_back({"pdf content 300000", pdf_content(300000, 2)});
  for (size_t n : {65535, 65536, 65537, 131071, 131072, 131073, 3 * 65536 + 17})
    c.push_back({"pdf content " + std::to_string(n), pdf_content(n, n)});
  c.push_back({"random 65537", random_bytes(65537, 3)});
  c.push_back({"random 200000", random_bytes(200000, 4)});
  c.push_back({"rgb image", rgb_image(160, 120, 9)});
  c.push_back({"hash collisions", hash_collisions(100000, 11)});
  c.push_back({"mixed 400000", mixed(400000, 12)});
  c.push_back({"copy at distance 32767", far_copy({}, 32767, 2000, 13)});
  c.push_back({"copy at distance 32768", far_copy(Bytes(1, 0xEE), 32768, 2000, 14)});
  c.push_back({"code-length code overflow", without_repeated_trigrams(bl_overflow_counts(), 15)});
  c.push_back({"literal code overflow", without_repeated_trigrams(lit_overflow_counts(), 16)});
  // Seeded random inputs of every size class and entropy.
  Rng r(2024);
  for (int k = 0; k < 40; k++) {
    const uint32_t alphabet = std::array<uint32_t, 8>{1, 2, 3, 4, 8, 16, 64, 256}[k % 8];
    const size_t size = k < 20 ? r.below(300) : r.below(150000);
    c.push_back({"random alphabet " + std::to_string(alphabet) + " size " + std::to_string(size),
                 random_bytes(size, r.next(), alphabet)});
  }
  for (int k = 0; k < 10; k++) {
    const size_t size = r.below(200000);
    c.push_back({"mixed size " + std::to_string(size), mixed(size, r.next())});
  }
  return c;
}

const std::vector<Case> &cases() {
  static const std::vector<Case> all = make_cases();
  return all;
}

// Helpers

Bytes compress(const Bytes &in) {
  unsigned char *out = nullptr;
  size_t out_len = 0;
  const int rc = tvl_deflate(in.data(), in.size(), &out, &out_len);
  EXPECT_EQ(rc, 0);
  if (rc != 0) return {};
  Bytes result(out, out + out_len);
  std::free(out);
  return result;
}

// zlib inflates the stream whole, checks the Adler-32 and that nothing follows.
::testing::AssertionResult zlib_inflates_to(const Bytes &stream, const Bytes &expected) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return ::testing::AssertionFailure() << "inflateInit";
  Bytes out(expected.size() + 1);
  z.next_in = const_cast<Bytef *>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const size_t produced = z.total_out;
  const uInt left = z.avail_in;
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return ::testing::AssertionFailure() << "zlib inflate returned " << rc;
  if (left != 0) return ::testing::AssertionFailure() << left << " bytes after the stream";
  if (produced != expected.size() || !std::equal(expected.begin(), expected.end(), out.begin()))
    return ::testing::AssertionFailure() << "inflated to different bytes (" << produced << " of " << expected.size() << ")";
  return ::testing::AssertionSuccess();
}

std::string hex(const Bytes &b, size_t max = 64) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t k = 0; k < b.size() && k < max; k++) {
    s += digits[b[k] >> 4];
    s += digits[b[k] & 15];
    s += ' ';
  }
  return s;
}

size_t first_difference(const Bytes &a, const Bytes &b) {
  return static_cast<size_t>(std::mismatch(a.begin(), a.begin() + static_cast<long>(std::min(a.size(), b.size())), b.begin()).first -
                             a.begin());
}

Parsed parse(const Bytes &stream) {
  Parsed p = deflate_symbols::parse_zlib(stream);
  EXPECT_TRUE(p.ok) << p.error;
  return p;
}

Parsed compress_parse(const Bytes &in) { return parse(compress(in)); }

std::vector<Symbol> all_symbols(const Parsed &p) {
  std::vector<Symbol> s;
  for (const auto &b : p.blocks) s.insert(s.end(), b.symbols.begin(), b.symbols.end());
  return s;
}

Symbol lit(int b) { return Symbol{0, b}; }
Symbol match(int length, int dist) { return Symbol{length, dist}; }

std::string describe(const std::vector<Symbol> &syms) {
  std::string s;
  for (const Symbol &x : syms)
    s += x.is_literal() ? "lit(" + std::to_string(x.value) + ") "
                        : "match(" + std::to_string(x.length) + "," + std::to_string(x.value) + ") ";
  return s;
}

bool same(const std::vector<Symbol> &a, const std::vector<Symbol> &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const Symbol &x, const Symbol &y) {
           return x.length == y.length && x.value == y.value;
         });
}

// The symbol that codes the byte at output offset pos.
Symbol symbol_at(const Parsed &p, size_t pos) {
  size_t at = 0;
  for (const auto &b : p.blocks)
    for (const Symbol &s : b.symbols) {
      const size_t n = s.is_literal() ? 1 : static_cast<size_t>(s.length);
      if (pos >= at && pos < at + n) return at == pos ? s : Symbol{-1, -1};
      at += n;
    }
  return Symbol{-2, -2};
}

// Streams that a standard decoder rejects or decodes to other bytes.

TEST(DeflateRoundTrip, ZlibInflatesEveryCase) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(zlib_inflates_to(compress(c.data), c.data));
  }
}

TEST(DeflateRoundTrip, ZlibInflatesCorpusFiles) {
  const std::filesystem::path dir = std::filesystem::path(FOLIMARK_CORPUS_DIR) / "deflate";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "corpus folder " << dir << " is absent";
  int files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const bool wanted = name.ends_with(".decompressed") || name.ends_with(".txt");
    if (!entry.is_regular_file() || !wanted) continue;
    SCOPED_TRACE(name);
    std::ifstream f(entry.path(), std::ios::binary);
    const Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const Bytes stream = compress(data);
    EXPECT_TRUE(zlib_inflates_to(stream, data));
    EXPECT_EQ(stream, refdeflate::compress(data.data(), data.size()));
    files++;
  }
  EXPECT_GT(files, 0);
}

// Every stream is well formed down to its last bits: header 78 01, strict
// complete codes, zero padding, the right Adler-32, nothing after it.
TEST(DeflateRoundTrip, StreamsAreStrictlyWellFormed) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(c.name);
    const Bytes stream = compress(c.data);
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[0], 0x78);
    EXPECT_EQ(stream[1], 0x01);
    const Parsed p = parse(stream);
    EXPECT_EQ(p.output, c.data);
    EXPECT_TRUE(p.padding_zero);
    EXPECT_EQ(p.trailing_bytes, 0u);
    EXPECT_EQ(p.adler_stored, p.adler_computed);
    const size_t expected_blocks = c.data.empty() ? 1 : (c.data.size() + 65535) / 65536;
    ASSERT_EQ(p.blocks.size(), expected_blocks);
    for (size_t k = 0; k < p.blocks.size(); k++) {
      EXPECT_EQ(p.blocks[k].type, 2);
      EXPECT_EQ(p.blocks[k].final, k + 1 == p.blocks.size());
    }
  }
}

// Output that departs from the defined algorithm (the fast path against the
// literal transcription).

TEST(DeflateExact, EmptyInputIsTheKnownEighteenBytes) {
  const Bytes expected = {0x78, 0x01, 0x05, 0xC1, 0x81, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x10, 0xFF, 0xD5, 0x08, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(compress({}), expected);
  EXPECT_EQ(refdeflate::compress(nullptr, 0), expected);
  unsigned char *out = nullptr;
  size_t out_len = 0;
  ASSERT_EQ(tvl_deflate(nullptr, 0, &out, &out_len), 0);  // len 0: src is never read
  EXPECT_EQ(Bytes(out, out + out_len), expected);
  std::free(out);
}

TEST(DeflateExact, SameBytesAsTheReference) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(c.name);
    const Bytes fast = compress(c.data);
    const Bytes ref = refdeflate::compress(c.data.data(), c.data.size());
    if (fast != ref) {
      const size_t at = first_difference(fast, ref);
      ADD_FAILURE() << "sizes " << fast.size() << " / " << ref.size() << ", first difference at byte " << at;
    }
  }
}

TEST(DeflateExact, SameBytesAsTheReferenceOnManySmallInputs) {
  Rng r(77);
  for (int k = 0; k < 300; k++) {
    const Bytes in = k % 3 == 0 ? random_bytes(r.below(2000), r.next(), 1 + r.below(4))
                   : k % 3 == 1 ? pdf_content(r.below(3000), r.next())
                                : mixed(r.below(20000), r.next());
    ASSERT_EQ(compress(in), refdeflate::compress(in.data(), in.size())) << "input " << k << ": " << hex(in, 32);
  }
}

// The crafted cases really reach the paths they were made for.
TEST(DeflateExact, CraftedInputsReachTheirPaths) {
  auto stats_of = [](const Bytes &in) {
    refdeflate::Stats s;
    refdeflate::compress(in.data(), in.size(), &s);
    return s;
  };
  for (const Case &c : cases()) {
    if (c.name == "code-length code overflow") {
      const auto s = stats_of(c.data);
      EXPECT_EQ(s.matches, 0);
      EXPECT_EQ(s.bl_overflow_blocks, 1) << "the code-length code did not need the 7-bit repair";
      const Parsed p = parse(compress(c.data));
      EXPECT_EQ(*std::max_element(p.blocks[0].cl_lengths.begin(), p.blocks[0].cl_lengths.end()), 7);
    } else if (c.name == "literal code overflow") {
      const auto s = stats_of(c.data);
      EXPECT_EQ(s.matches, 0);
      EXPECT_EQ(s.lit_overflow_blocks, 1) << "the literal/length code did not need the 15-bit repair";
    } else if (c.name == "hash collisions") {
      EXPECT_GT(stats_of(c.data).chain_limit_hits, 1000);
    } else if (c.name == "copy at distance 32767") {
      EXPECT_EQ(stats_of(c.data).max_distance, 32767);
    }
  }
}

// Huffman construction on its own: the fast builder against the transcription
// over frequency tables of every shape, for each alphabet and limit in use.
TEST(DeflateExact, HuffmanBuilderMatchesTheReference) {
  Rng r(99);
  int overflowed_tables = 0;
  auto check = [&](const std::vector<uint32_t> &freq, int limit, const std::string &what) {
    const int elems = static_cast<int>(freq.size());
    std::vector<int> ref_len(freq.size());
    std::vector<unsigned> ref_code(freq.size());
    bool overflowed = false;
    const int ref_max = refdeflate::build(freq.data(), elems, limit, ref_len.data(), ref_code.data(), &overflowed);
    overflowed_tables += overflowed;
    std::vector<uint8_t> len(freq.size());
    std::vector<uint16_t> code(freq.size());
    const int max = flate::huff_build(freq.data(), elems, limit, len.data(), code.data());
    SCOPED_TRACE(what + " elems " + std::to_string(elems) + " limit " + std::to_string(limit));
    ASSERT_EQ(max, ref_max);
    double kraft = 0;
    for (int n = 0; n < elems; n++) {
      ASSERT_EQ(len[n], ref_len[n]) << "symbol " << n;
      ASSERT_EQ(code[n], ref_code[n]) << "symbol " << n;
      ASSERT_LE(len[n], limit);
      if (len[n]) kraft += 1.0 / (1 << len[n]);
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
  };
  for (int elems : {19, 30, 286}) {
    for (int limit : {7, 15}) {
      if (elems == 286 && limit == 7) continue;  // 7 bits cannot hold 286 symbols
      const size_t n = static_cast<size_t>(elems);
      check(std::vector<uint32_t>(n, 0), limit, "nothing used");
      for (size_t only : {size_t{0}, size_t{1}, size_t{2}, n - 1}) {
        std::vector<uint32_t> f(n, 0);
        f[only] = 5;
        check(f, limit, "only symbol " + std::to_string(only));
      }
      check(std::vector<uint32_t>(n, 3), limit, "all equal");
      for (int k = 0; k < 200; k++) {
        std::vector<uint32_t> f(n, 0);
        switch (k % 4) {
          case 0:  // sparse small counts, many ties
            for (auto &x : f) x = r.below(3) == 0 ? 0 : 1 + r.below(4);
            break;
          case 1:  // wide range
            for (auto &x : f) x = r.below(4) == 0 ? 0 : static_cast<uint32_t>(r.next() % 65536);
            break;
          case 2: {  // Fibonacci counts in shuffled positions: deep trees
            uint32_t a = 1, b = 1;
            for (auto &x : f) {
              x = a;
              const uint32_t c = a + b;
              a = b;
              b = c < (1u << 20) ? c : 1;  // keeps the sums far from overflow
            }
            for (size_t i = n - 1; i > 0; i--) std::swap(f[i], f[r.below(static_cast<uint32_t>(i + 1))]);
            if (r.below(2)) f[r.below(static_cast<uint32_t>(n))] = 0;
            break;
          }
          default:  // geometric
            for (size_t i = 0; i < n; i++) f[i] = r.below(5) == 0 ? 0 : 1u << std::min<size_t>(i % 31, 20);
        }
        check(f, limit, "table " + std::to_string(k));
      }
    }
  }
  EXPECT_GT(overflowed_tables, 100);  // the length-limit repair was exercised
}

// Wrong match choices, seen in the decoded symbols.

struct SymbolCase {
  const char *name;
  Bytes input;
  std::vector<Symbol> expected;
};

TEST(DeflateSymbols, SimpleInputsCodeAsDefined) {
  const SymbolCase table[] = {
      {"one byte", Bytes(1, 'q'), {lit('q')}},
      {"two bytes", from_string("qq"), {lit('q'), lit('q')}},
      {"three equal", Bytes(3, 'q'), {lit('q'), lit('q'), lit('q')}},
      // Position 0 is never a source: the search at 1 finds only 0.
      {"four equal", Bytes(4, 'q'), {lit('q'), lit('q'), lit('q'), lit('q')}},
      {"five equal", Bytes(5, 'q'), {lit('q'), lit('q'), match(3, 1)}},
      {"six equal", Bytes(6, 'x'), {lit('x'), lit('x'), match(4, 1)}},
      {"300 equal", Bytes(300, 'x'), {lit('x'), lit('x'), match(258, 1), match(40, 1)}},
      {"258 + 2 equal", Bytes(260, 'x'), {lit('x'), lit('x'), match(258, 1)}},
      {"261 equal: 1 byte left is a literal", Bytes(261, 'x'), {lit('x'), lit('x'), match(258, 1), lit('x')}},
      {"262 equal: 2 bytes left are literals", Bytes(262, 'x'), {lit('x'), lit('x'), match(258, 1), lit('x'), lit('x')}},
      // Equal lengths keep the nearer candidate (a leading byte keeps the
      // first copy off position 0, which is never a source).
      {"nearer of two equal matches",
       from_string("_abcdQ1234abcdR5678abcdS"),
       {lit('_'), lit('a'), lit('b'), lit('c'), lit('d'), lit('Q'), lit('1'), lit('2'), lit('3'), lit('4'),
        match(4, 9), lit('R'), lit('5'), lit('6'), lit('7'), lit('8'), match(4, 9), lit('S')}},
      // A longer match further back beats a shorter near one.
      {"longer match further back",
       from_string("_abcdefQ12abcdR34abcdefS"),
       {lit('_'), lit('a'), lit('b'), lit('c'), lit('d'), lit('e'), lit('f'), lit('Q'), lit('1'), lit('2'),
        match(4, 9), lit('R'), lit('3'), lit('4'), match(6, 16), lit('S')}},
      // Greedy: the match found at a position is taken, with no lazy look at
      // the next position (which would find bcdefgh).
      {"greedy, not lazy",
       from_string("_abcQ1bcdefghR2abcdefghS"),
       {lit('_'), lit('a'), lit('b'), lit('c'), lit('Q'), lit('1'), lit('b'), lit('c'), lit('d'), lit('e'),
        lit('f'), lit('g'), lit('h'), lit('R'), lit('2'), match(3, 14), match(5, 10), lit('S')}},
      // Positions inside a match are inserted too and found later: xyzV at
      // distance 4 lies inside the first match.
      {"positions covered by a match are searchable",
       from_string("_wxyzVwxyzVxyzV"),
       {lit('_'), lit('w'), lit('x'), lit('y'), lit('z'), lit('V'), match(5, 5), match(4, 4)}},
  };
  for (const SymbolCase &c : table) {
    SCOPED_TRACE(c.name);
    const Parsed p = parse(compress(c.input));
    const auto syms = all_symbols(p);
    EXPECT_TRUE(same(syms, c.expected)) << "got      " << describe(syms) << "\nexpected " << describe(c.expected);
  }
}

TEST(DeflateSymbols, PieceOf65537BytesGivesTwoBlocksTheSecondOneLiteral) {
  for (const Bytes &in : {pdf_content(65537, 3), Bytes(65537, 'r'), random_bytes(65537, 8)}) {
    const Parsed p = parse(compress(in));
    ASSERT_EQ(p.blocks.size(), 2u);
    EXPECT_FALSE(p.blocks[0].final);
    EXPECT_TRUE(p.blocks[1].final);
    EXPECT_EQ(p.blocks[1].out_start, 65536u);
    EXPECT_TRUE(same(p.blocks[1].symbols, {lit(in.back())})) << describe(p.blocks[1].symbols);
  }
}

// Matches stay inside their block, never start at its first byte, never
// reach 32,768 back.
TEST(DeflateSymbols, MatchesStayInsideTheirBlockAndWindow) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(c.name);
    const Parsed p = parse(compress(c.data));
    for (const auto &b : p.blocks) {
      size_t offset = 0;  // inside the block
      for (const Symbol &s : b.symbols) {
        if (!s.is_literal()) {
          ASSERT_LE(s.value, 32767);
          ASSERT_LT(static_cast<size_t>(s.value), offset) << "source at or before the block's first byte";
          ASSERT_LE(offset + static_cast<size_t>(s.length), 65536u);
        }
        offset += s.is_literal() ? 1 : static_cast<size_t>(s.length);
      }
    }
  }
}

TEST(DeflateSymbols, RepeatOfAWholeBlockIsNotFoundInTheNextBlock) {
  const Bytes first = pdf_content(65536, 21);
  const Bytes in = concat({first, Bytes(first.begin(), first.begin() + 5000)});
  const Parsed p = parse(compress(in));
  ASSERT_EQ(p.blocks.size(), 2u);
  const auto &second = p.blocks[1].symbols;
  ASSERT_GE(second.size(), 3u);
  EXPECT_TRUE(second[0].is_literal());
  EXPECT_TRUE(second[1].is_literal());
}

TEST(DeflateSymbols, DistanceOf32767IsUsedAnd32768IsNot) {
  // A copy 32,767 bytes back: the byte at 32,767 (source 0) is a literal, the
  // rest is found.
  const Parsed p1 = parse(compress(far_copy({}, 32767, 600, 13)));
  EXPECT_TRUE(symbol_at(p1, 32767).is_literal());
  EXPECT_TRUE(same({symbol_at(p1, 32768)}, {match(258, 32767)})) << describe({symbol_at(p1, 32768)});
  // A copy 32,768 bytes back is out of reach: all literals.
  for (const Bytes &in : {far_copy({}, 32768, 600, 14), far_copy(Bytes(1, 0xEE), 32768, 600, 15)}) {
    const Parsed p = parse(compress(in));
    for (const Symbol &x : all_symbols(p)) ASSERT_TRUE(x.is_literal()) << describe({x});
  }
}

// The walk examines at most 128 candidates: a long match behind 127 short
// ones is found, behind 128 it is not.
TEST(DeflateSymbols, ChainWalkStopsAfter128Candidates) {
  for (int decoys : {126, 127, 128, 129}) {
    SCOPED_TRACE(decoys);
    // Filler from bytes 4..99 without repeated trigrams; each decoy ends in a
    // marker byte of its own (100..255), so the seams repeat nowhere either.
    const Bytes filler = trigram_free_random(2000, 31, 4, 99);
    size_t f = 0;
    auto take = [&](size_t n) {
      Bytes b(filler.begin() + static_cast<long>(f), filler.begin() + static_cast<long>(f + n));
      f += n;
      return b;
    };
    const Bytes head = from_string("\x01\x02\x03");
    const Bytes original = concat({head, take(300)});
    Bytes in = concat({take(10), original});
    for (int k = 0; k < decoys; k++) in = concat({in, head, take(4), Bytes(1, static_cast<unsigned char>(100 + k))});
    const size_t at = in.size();
    in = concat({in, original});
    // The chain of the copy's first three bytes holds exactly the decoys and
    // the original: nothing else in the input hashes the same.
    auto hash = [&](size_t q) { return (in[q] * 961 + in[q + 1] * 31 + in[q + 2]) & 0x7FFF; };
    int same_hash = 0;
    for (size_t q = 0; q < at; q++) same_hash += hash(q) == hash(at);
    ASSERT_EQ(same_hash, decoys + 1);
    const Symbol s = symbol_at(compress_parse(in), at);
    const int distance = static_cast<int>(at - 10);
    if (decoys <= 127) {
      EXPECT_TRUE(same({s}, {match(258, distance)})) << describe({s});
    } else {  // a short match with one of the decoys
      EXPECT_LT(s.length, 10) << describe({s});
      EXPECT_LT(s.value, distance) << describe({s});
    }
  }
}

// Out of memory: a damaged stream handed back, a leak, or *out touched.

struct CountingAllocator {
  long calls = 0;
  long fail_at = -1;  // this call (1-based) fails; -1 never
  bool fail_growth = false;
  long live = 0;

  static void *allocate(void *ctx, size_t size) {
    auto *a = static_cast<CountingAllocator *>(ctx);
    if (++a->calls == a->fail_at) return nullptr;
    void *p = std::malloc(size);
    if (p) a->live++;
    return p;
  }
  static void *reallocate(void *ctx, void *block, size_t size) {
    auto *a = static_cast<CountingAllocator *>(ctx);
    if (++a->calls == a->fail_at || a->fail_growth) return nullptr;
    return std::realloc(block, size);
  }
  static void release(void *ctx, void *block) {
    auto *a = static_cast<CountingAllocator *>(ctx);
    if (block) a->live--;
    std::free(block);
  }
  flate::DeflateAllocator hooks() { return {allocate, reallocate, release, this}; }
};

TEST(DeflateOutOfMemory, EveryFailedAllocationFailsCleanly) {
  const Bytes inputs[] = {{}, pdf_content(1000, 1), pdf_content(200000, 2), random_bytes(2500000, 3)};
  for (const Bytes &in : inputs) {
    SCOPED_TRACE(in.size());
    const Bytes expected = compress(in);
    unsigned char sentinel_byte = 0;
    unsigned char *const sentinel = &sentinel_byte;
    for (long fail_at = 1;; fail_at++) {
      ASSERT_LT(fail_at, 100);
      CountingAllocator a;
      a.fail_at = fail_at;
      unsigned char *out = sentinel;
      size_t out_len = 12345;
      const int rc = flate::deflate_with_allocator(in.data(), in.size(), &out, &out_len, a.hooks());
      if (rc == 0) {
        EXPECT_EQ(Bytes(out, out + out_len), expected);
        EXPECT_EQ(a.live, 1);
        CountingAllocator::release(&a, out);
        EXPECT_GE(fail_at, 3) << "fewer than two allocations?";
        break;
      }
      EXPECT_EQ(rc, -1);
      EXPECT_EQ(out, sentinel);
      EXPECT_EQ(out_len, 12345u);
      EXPECT_EQ(a.live, 0) << "leak after failing allocation " << fail_at;
    }
  }
}

TEST(DeflateOutOfMemory, FailedGrowthOfTheOutputFailsCleanly) {
  const Bytes in = random_bytes(3000000, 5);  // output well past the first buffer
  CountingAllocator a;
  a.fail_growth = true;
  unsigned char *out = nullptr;
  size_t out_len = 7;
  EXPECT_EQ(flate::deflate_with_allocator(in.data(), in.size(), &out, &out_len, a.hooks()), -1);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(out_len, 7u);
  EXPECT_EQ(a.live, 0);
  EXPECT_GT(a.calls, 2);  // growth was attempted
}

// State shared between calls.

TEST(DeflateState, ConcurrentCallsGiveTheSameBytes) {
  std::vector<Bytes> inputs = {pdf_content(150000, 41), random_bytes(70000, 42), Bytes(100000, 'k'), rgb_image(100, 90, 43)};
  std::vector<Bytes> expected;
  for (const Bytes &in : inputs) expected.push_back(compress(in));
  std::vector<int> bad(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; t++) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 6; k++) {
        const size_t which = static_cast<size_t>(t + k) % inputs.size();
        unsigned char *out = nullptr;
        size_t out_len = 0;
        if (tvl_deflate(inputs[which].data(), inputs[which].size(), &out, &out_len) != 0 ||
            Bytes(out, out + out_len) != expected[which])
          bad[static_cast<size_t>(t)]++;
        std::free(out);
      }
    });
  }
  for (auto &th : threads) th.join();
  for (int b : bad) EXPECT_EQ(b, 0);
}

TEST(DeflateState, SameInputSameBytes) {
  const Bytes a = pdf_content(100000, 51);
  const Bytes first = compress(a);
  compress(random_bytes(300000, 52));  // leaves other positions in any reused memory
  EXPECT_EQ(compress(a), first);
}

}  // namespace
