// tvl_png_decode against libpng's own reading of files libpng wrote (every
// colour type, depth, filter and layout), against PngSuite's expected pixels,
// and against files assembled chunk by chunk to reach every failure.
#include <gtest/gtest.h>

#include "support/failing_allocator.h"
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "png/png.h"
#include "support/png_maker.h"


namespace {

using testpng::Bytes;
using testpng::Chunk;
using testpng::chunk;
using testpng::Image;

namespace fs = std::filesystem;

// --- running the decoder ------------------------------------------------------

fs::path temp_dir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("folimark-png-test-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

struct TempDirCleanup : ::testing::Environment {
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(temp_dir(), ec);
  }
};
const auto *const g_cleanup = ::testing::AddGlobalTestEnvironment(new TempDirCleanup);

std::string write_temp(const Bytes &bytes) {
  static int counter = 0;
  const fs::path p = temp_dir() / ("in-" + std::to_string(++counter) + ".png");
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return p.string();
}

struct Decoded {
  bool ok = false;
  std::string error;
  int width = 0;
  int height = 0;
  Bytes pixels;
};

// Runs the decoder and checks what holds for every call: on failure NULL,
// sizes 0 and a "png: " message; on success an empty message.
Decoded decode_path(const char *path) {
  int w = -1, h = -1;
  const char *error = nullptr;
  unsigned char *px = tvl_png_decode(path, &w, &h, &error);
  Decoded d;
  EXPECT_NE(error, nullptr);
  if (error != nullptr) d.error = error;
  if (px == nullptr) {
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(d.error.rfind("png: ", 0), 0u) << d.error;
    return d;
  }
  EXPECT_EQ(d.error, "");
  EXPECT_GT(w, 0);
  EXPECT_GT(h, 0);
  d.ok = true;
  d.width = w;
  d.height = h;
  d.pixels.assign(px, px + size_t(w) * size_t(h) * 4);
  std::free(px);
  return d;
}

Decoded decode_bytes(const Bytes &file) { return decode_path(write_temp(file).c_str()); }

// Compares pixels and names the first difference.
::testing::AssertionResult same_pixels(const Decoded &ours, uint32_t width, uint32_t height,
                                       const Bytes &expected) {
  if (!ours.ok) return ::testing::AssertionFailure() << "decoder failed: " << ours.error;
  if (uint32_t(ours.width) != width || uint32_t(ours.height) != height)
    return ::testing::AssertionFailure() << "size " << ours.width << "x" << ours.height
                                         << ", expected " << width << "x" << height;
  if (expected.size() != ours.pixels.size())
    return ::testing::AssertionFailure() << "expected " << expected.size() << " bytes";
  for (size_t i = 0; i < expected.size(); ++i)
    if (ours.pixels[i] != expected[i])
      return ::testing::AssertionFailure()
             << "pixel " << i / 4 << " (x " << (i / 4) % width << ", y " << (i / 4) / width
             << ") channel " << i % 4 << ": " << int(ours.pixels[i]) << ", expected "
             << int(expected[i]);
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult same_as_libpng(const Decoded &ours, const Bytes &reference_file,
                                          bool ignore_crc = false) {
  const testpng::Rgba ref = testpng::read_with_libpng(reference_file, ignore_crc);
  if (!ref.ok) return ::testing::AssertionFailure() << "libpng failed: " << ref.error;
  return same_pixels(ours, ref.width, ref.height, ref.pixels);
}

// --- images to write with libpng ----------------------------------------------

enum class Trns { none, key, alpha_all, alpha_two };

const char *trns_name(Trns t) {
  switch (t) {
    case Trns::none: return "none";
    case Trns::key: return "key";
    case Trns::alpha_all: return "alpha_all";
    case Trns::alpha_two: return "alpha_two";
  }
  return "?";
}

// Packs samples (channel by channel, pixel by pixel) into PNG rows.
Bytes pack_rows(const std::vector<uint32_t> &samples, uint32_t width, uint32_t height,
                size_t channels, int depth) {
  Bytes rows;
  const size_t per_row = size_t{width} * channels;
  for (uint32_t y = 0; y < height; ++y) {
    unsigned acc = 0, bits = 0;
    for (size_t i = 0; i < per_row; ++i) {
      const uint32_t v = samples[y * per_row + i];
      if (depth == 16) {
        rows.push_back(uint8_t(v >> 8));
        rows.push_back(uint8_t(v));
      } else if (depth == 8) {
        rows.push_back(uint8_t(v));
      } else {
        acc = acc << depth | v;
        bits += unsigned(depth);
        if (bits == 8) {
          rows.push_back(uint8_t(acc));
          acc = bits = 0;
        }
      }
    }
    if (bits > 0) rows.push_back(uint8_t(acc << (8 - bits)));
  }
  return rows;
}

// A random image; tRNS keys are chosen so that some pixels match them
// exactly and others differ from them in one sample only (for 16-bit
// samples: in the low byte only).
Image make_image(int color, int depth, uint32_t width, uint32_t height, Trns trns, uint32_t seed) {
  std::mt19937 rng(seed);
  Image img;
  img.width = width;
  img.height = height;
  img.color_type = color;
  img.bit_depth = depth;
  const size_t ch = img.channels();
  const uint32_t top = depth == 16 ? 0xFFFF : (1u << depth) - 1;
  uint32_t entries = 0;
  if (color == 3) {
    entries = depth == 8 ? 200 : (1u << depth);
    for (uint32_t i = 0; i < entries * 3; ++i) img.palette.push_back(uint8_t(rng()));
  }
  const uint32_t limit = color == 3 ? entries - 1 : top;
  std::vector<uint32_t> samples(size_t{width} * height * ch);
  for (auto &s : samples) s = static_cast<uint32_t>(rng()) % (limit + 1);
  if (trns == Trns::key && (color == 0 || color == 2)) {
    std::vector<uint32_t> key(ch);
    for (auto &k : key) k = static_cast<uint32_t>(rng()) % (top + 1);
    Bytes data;
    for (uint32_t k : key) {
      data.push_back(uint8_t(k >> 8));
      data.push_back(uint8_t(k));
    }
    img.trns = data;
    const size_t pixels = size_t{width} * height;
    for (size_t p = 0; p < pixels; ++p) {
      if (p % 3 == 0) {
        for (size_t c = 0; c < ch; ++c) samples[p * ch + c] = key[c];
      } else if (p % 3 == 1) {
        for (size_t c = 0; c < ch; ++c) samples[p * ch + c] = key[c];
        const size_t c = rng() % ch;
        samples[p * ch + c] ^= 1;  // differs in the lowest bit
      }
    }
  } else if (color == 3 && trns == Trns::alpha_all) {
    img.trns = Bytes(entries);
    for (auto &a : *img.trns) a = uint8_t(rng());
  } else if (color == 3 && trns == Trns::alpha_two) {
    img.trns = Bytes{uint8_t(rng()), uint8_t(rng())};
  }
  img.rows = pack_rows(samples, width, height, ch, depth);
  return img;
}

// The filter-type bytes a file's rows use (non-interlaced files only).
std::set<int> filter_types(const Bytes &file, const Image &img) {
  Bytes z;
  for (const auto &c : testpng::list_chunks(file))
    if (c.type == "IDAT") z.insert(z.end(), file.begin() + long(c.offset + 8), file.begin() + long(c.offset + 8 + c.length));
  const size_t stride = img.row_bytes() + 1;
  Bytes raw(stride * img.height);
  uLongf size = static_cast<uLongf>(raw.size());
  std::set<int> types;
  if (uncompress(raw.data(), &size, z.data(), static_cast<uLong>(z.size())) != Z_OK) return types;
  for (size_t y = 0; y < img.height; ++y) types.insert(raw[y * stride]);
  return types;
}

struct Kind {
  int color;
  int depth;
  Trns trns;
};

// Every colour type at every depth the PNG standard allows, with and
// without transparency.
const Kind kKinds[] = {
    {0, 1, Trns::none},  {0, 2, Trns::none},  {0, 4, Trns::none},       {0, 8, Trns::none},
    {0, 16, Trns::none}, {0, 1, Trns::key},   {0, 2, Trns::key},        {0, 4, Trns::key},
    {0, 8, Trns::key},   {0, 16, Trns::key},  {2, 8, Trns::none},       {2, 16, Trns::none},
    {2, 8, Trns::key},   {2, 16, Trns::key},  {3, 1, Trns::none},       {3, 2, Trns::none},
    {3, 4, Trns::none},  {3, 8, Trns::none},  {3, 1, Trns::alpha_all},  {3, 2, Trns::alpha_all},
    {3, 4, Trns::alpha_all}, {3, 8, Trns::alpha_all}, {3, 2, Trns::alpha_two}, {3, 8, Trns::alpha_two},
    {4, 8, Trns::none},  {4, 16, Trns::none}, {6, 8, Trns::none},       {6, 16, Trns::none},
};

std::string kind_name(const Kind &k) {
  return "color " + std::to_string(k.color) + " depth " + std::to_string(k.depth) + " tRNS " +
         trns_name(k.trns);
}

struct Filter {
  const char *name;
  int mask;
  int type;  // the one filter type rows may use, or -1 for any
};
const Filter kFilters[] = {
    {"none", PNG_FILTER_NONE, 0}, {"sub", PNG_FILTER_SUB, 1},     {"up", PNG_FILTER_UP, 2},
    {"avg", PNG_FILTER_AVG, 3},   {"paeth", PNG_FILTER_PAETH, 4}, {"all", PNG_ALL_FILTERS, -1},
};

struct Size {
  uint32_t width, height;
};
// In interlaced files (Adam7) sizes below 8 leave some of the seven passes
// without pixels, and odd sizes leave passes of uneven width.
const Size kSizes[] = {{1, 1}, {2, 1}, {1, 6}, {3, 5}, {5, 3}, {7, 4}, {9, 9}, {33, 6}, {2, 9}, {2, 17}, {64, 3}};

std::string interlace_name(bool interlace) { return interlace ? " interlaced" : ""; }

TEST(PngDecodeLibpng, EveryKindFilterSizeAndInterlaceMatchesLibpng) {
  std::set<int> seen_types;
  uint32_t seed = 1;
  for (const bool interlace : {false, true}) {
    for (const Kind &k : kKinds) {
      for (const Filter &f : kFilters) {
        for (const Size &s : kSizes) {
          SCOPED_TRACE(kind_name(k) + " filter " + f.name + " " + std::to_string(s.width) + "x" +
                       std::to_string(s.height) + interlace_name(interlace));
          const Image img = make_image(k.color, k.depth, s.width, s.height, k.trns, seed++);
          testpng::WriteOptions opt;
          opt.filters = f.mask;
          opt.interlace = interlace;
          const Bytes file = testpng::write_with_libpng(img, opt);
          ASSERT_EQ(file.at(28), interlace ? 1 : 0) << "interlace method";
          if (!interlace) {
            const std::set<int> types = filter_types(file, img);
            if (f.type >= 0 && s.width > 1 && s.height > 1) {
              EXPECT_TRUE(types.count(f.type)) << "libpng did not use the filter";
            }
            seen_types.insert(types.begin(), types.end());
          }
          EXPECT_TRUE(same_as_libpng(decode_bytes(file), file));
        }
      }
    }
  }
  EXPECT_EQ(seen_types, (std::set<int>{0, 1, 2, 3, 4}));
}

// A larger image in every kind, to cross many rows and whole-byte runs.
TEST(PngDecodeLibpng, LargerImagesMatchLibpng) {
  uint32_t seed = 1000;
  for (const bool interlace : {false, true}) {
    for (const Kind &k : kKinds) {
      SCOPED_TRACE(kind_name(k) + interlace_name(interlace));
      const Image img = make_image(k.color, k.depth, 301, 77, k.trns, seed++);
      testpng::WriteOptions opt;
      opt.interlace = interlace;
      const Bytes file = testpng::write_with_libpng(img, opt);
      EXPECT_TRUE(same_as_libpng(decode_bytes(file), file));
    }
  }
}

// Image data split over many small IDAT chunks decodes as libpng reads it.
TEST(PngDecodeLibpng, SplitImageDataMatchesLibpng) {
  uint32_t seed = 2000;
  for (const Kind &k : kKinds) {
    SCOPED_TRACE(kind_name(k));
    const Image img = make_image(k.color, k.depth, 33, 7, k.trns, seed++);
    testpng::WriteOptions opt;
    opt.idat_size = 7;
    const Bytes file = testpng::write_with_libpng(img, opt);
    const auto chunks = testpng::list_chunks(file);
    EXPECT_GE(std::count_if(chunks.begin(), chunks.end(), [](const auto &c) { return c.type == "IDAT"; }), 2);
    EXPECT_TRUE(same_as_libpng(decode_bytes(file), file));
  }
}

// A file cut right after its last IDAT chunk decodes like the whole file.
TEST(PngDecodeLibpng, MissingIendMatchesTheWholeFile) {
  uint32_t seed = 3000;
  for (const Kind &k : kKinds) {
    SCOPED_TRACE(kind_name(k));
    const Image img = make_image(k.color, k.depth, 7, 5, k.trns, seed++);
    testpng::WriteOptions opt;
    opt.idat_size = 16;
    const Bytes file = testpng::write_with_libpng(img, opt);
    const auto chunks = testpng::list_chunks(file);
    ASSERT_EQ(chunks.back().type, "IEND");
    const Bytes cut(file.begin(), file.begin() + long(chunks.back().offset));
    EXPECT_TRUE(same_as_libpng(decode_bytes(cut), file));
    // Fewer than 8 stray bytes after the last chunk are no chunk at all.
    Bytes stray = cut;
    stray.insert(stray.end(), {1, 2, 3, 4, 5, 6, 7});
    EXPECT_TRUE(same_as_libpng(decode_bytes(stray), file));
  }
}

// A wrong CRC in any chunk changes nothing.
TEST(PngDecodeLibpng, BadCrcInAnyChunkMatchesTheIntactFile) {
  uint32_t seed = 4000;
  for (const Kind &k : kKinds) {
    const Image img = make_image(k.color, k.depth, 9, 4, k.trns, seed++);
    testpng::WriteOptions opt;
    opt.idat_size = 20;
    const Bytes file = testpng::write_with_libpng(img, opt);
    for (const auto &c : testpng::list_chunks(file)) {
      SCOPED_TRACE(kind_name(k) + " chunk " + c.type + " at " + std::to_string(c.offset));
      Bytes bad = file;
      bad[c.offset + 8 + c.length + (c.offset % 4)] ^= 0x41;
      EXPECT_TRUE(same_as_libpng(decode_bytes(bad), file));
    }
  }
}

// --- files assembled by hand ----------------------------------------------------

Chunk ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t color, uint8_t interlace = 0) {
  return chunk("IHDR", testpng::ihdr_data(w, h, depth, color, interlace));
}

Chunk idat_of_raw(const Bytes &raw) { return chunk("IDAT", testpng::zlib_compress(raw)); }
Chunk iend() { return chunk("IEND", {}); }
Chunk plte(size_t bytes) { return chunk("PLTE", Bytes(bytes, 0x40)); }

// A 2x2 8-bit gray image's data: filter 0, pixels 10 20 / 30 40.
Chunk gray2x2_idat() { return idat_of_raw({0, 10, 20, 0, 30, 40}); }

// A valid 2x2 gray file, to which damage is done.
Bytes good_gray() { return testpng::png_file({ihdr(2, 2, 8, 0), gray2x2_idat(), iend()}); }

Bytes with_bytes_at(Bytes b, size_t at, std::initializer_list<uint8_t> values) {
  for (uint8_t v : values) b.at(at++) = v;
  return b;
}

struct FailureCase {
  std::string name;
  Bytes file;
  std::string message;
};

std::vector<FailureCase> failure_cases() {
  const Bytes sig(std::begin(testpng::kSignature), std::end(testpng::kSignature));
  const Bytes good = good_gray();
  // IDAT data with a good zlib header whose DEFLATE data is small.
  const Chunk tiny_idat = gray2x2_idat();
  std::vector<FailureCase> v;
  auto add = [&v](std::string name, Bytes file, std::string message) {
    v.push_back({std::move(name), std::move(file), std::move(message)});
  };

  const std::string sig_msg = "png: not a PNG file (bad signature)";
  add("empty file", {}, sig_msg);
  add("7 bytes of signature", Bytes(sig.begin(), sig.begin() + 7), sig_msg);
  for (size_t i = 0; i < 8; ++i)
    add("signature byte " + std::to_string(i) + " changed", with_bytes_at(good, i, {uint8_t(good[i] ^ 0x20)}), sig_msg);

  const std::string missing = "png: missing IHDR or IDAT";
  add("signature only", sig, missing);
  {
    Bytes b = sig;
    b.insert(b.end(), 7, 0);
    add("15 bytes", b, missing);
  }
  add("IHDR without IDAT", testpng::png_file({ihdr(2, 2, 8, 0), iend()}), missing);
  add("IDAT without IHDR", testpng::png_file({gray2x2_idat(), iend()}), missing);
  add("IDAT after IEND", testpng::png_file({ihdr(2, 2, 8, 0), iend(), gray2x2_idat()}), missing);
  add("IHDR after IEND", testpng::png_file({gray2x2_idat(), iend(), ihdr(2, 2, 8, 0)}), missing);
  add("missing IDAT before interlace", testpng::png_file({ihdr(2, 2, 8, 0, 1)}), missing);
  add("missing IDAT before colour type", testpng::png_file({ihdr(2, 2, 8, 7)}), missing);

  const std::string truncated = "png: truncated chunk";
  add("IHDR without CRC", Bytes(good.begin(), good.begin() + 8 + 8 + 13), truncated);
  add("IHDR CRC cut", Bytes(good.begin(), good.begin() + 8 + 8 + 13 + 3), truncated);
  add("IEND without CRC", Bytes(good.begin(), good.end() - 4), truncated);
  add("IEND CRC cut", Bytes(good.begin(), good.end() - 1), truncated);
  {
    Bytes b = testpng::png_file({ihdr(2, 2, 8, 0), gray2x2_idat()});
    b.pop_back();
    add("last IDAT CRC cut", b, truncated);
  }
  for (uint32_t length : {0xFFFFFFFFu, 0xFFFFFFFCu, 0xFFFFFFF8u, 0x80000000u, 0x7FFFFFFFu, 1000u}) {
    add("unknown chunk of length " + std::to_string(length),
        testpng::png_file({ihdr(2, 2, 8, 0), gray2x2_idat(), chunk("tEXt", {1, 2, 3}, length), iend()}),
        truncated);
    add("IDAT of length " + std::to_string(length),
        testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", tiny_idat.data, length)}), truncated);
  }
  {
    // Declared one byte longer than what remains for data and CRC.
    Bytes b = testpng::png_file({ihdr(2, 2, 8, 0), gray2x2_idat()});
    const Bytes tail = testpng::chunk_bytes(chunk("abCd", {9, 9, 9}, 4));
    b.insert(b.end(), tail.begin(), tail.end());
    add("chunk one byte too long", b, truncated);
  }

  const std::string ihdr_len = "png: bad IHDR length";
  for (size_t n : {0, 12, 14, 26}) {
    Bytes d = testpng::ihdr_data(2, 2, 8, 0);
    d.resize(n, 0);
    add("IHDR of " + std::to_string(n) + " bytes", testpng::png_file({chunk("IHDR", d), gray2x2_idat(), iend()}), ihdr_len);
  }

  const std::string large = "png: image too large";
  const std::pair<uint32_t, uint32_t> too_large[] = {
      {0, 2}, {2, 0}, {0, 0}, {0x80000000u, 1}, {1, 0x80000000u}, {0xFFFFFFFFu, 1},
      {32768, 32769}, {32769, 32768}, {1073741825, 1}, {1, 1073741825}, {65536, 65536}};
  for (const auto &[w, h] : too_large)
    add("size " + std::to_string(w) + "x" + std::to_string(h),
        testpng::png_file({ihdr(w, h, 8, 0), gray2x2_idat(), iend()}), large);
  add("bad IHDR after a good one",
      testpng::png_file({ihdr(2, 2, 8, 0), ihdr(0, 2, 8, 0), gray2x2_idat(), iend()}), large);
  // Exactly 2^30 pixels pass the header check, but the raw RGBA image would
  // need 2^32 bytes and more, more than one inflate call may produce.
  add("2^30 RGBA pixels", testpng::png_file({ihdr(32768, 32768, 8, 6), tiny_idat, iend()}), large);
  add("2^30 16-bit gray pixels", testpng::png_file({ihdr(32768, 32768, 16, 0), tiny_idat, iend()}), large);

  const std::string bad_plte = "png: bad PLTE";
  for (size_t n : {769, 771, 10, 1, 2, 767})
    add("PLTE of " + std::to_string(n) + " bytes",
        testpng::png_file({ihdr(2, 2, 8, 3), plte(n), gray2x2_idat(), iend()}), bad_plte);
  add("bad PLTE in a gray image", testpng::png_file({ihdr(2, 2, 8, 0), plte(10), gray2x2_idat(), iend()}), bad_plte);

  const std::string interlace = "png: unsupported interlace method";
  for (int m : {2, 255})
    add("interlace method " + std::to_string(m), testpng::png_file({ihdr(2, 2, 8, 0, uint8_t(m)), gray2x2_idat(), iend()}), interlace);
  add("interlace method before colour type", testpng::png_file({ihdr(2, 2, 3, 9, 2), gray2x2_idat(), iend()}), interlace);

  const std::string color = "png: unsupported color type";
  for (int t : {1, 5, 7, 8, 14, 255})
    add("colour type " + std::to_string(t), testpng::png_file({ihdr(2, 2, 8, uint8_t(t)), gray2x2_idat(), iend()}), color);
  add("colour type before depth", testpng::png_file({ihdr(2, 2, 3, 1), gray2x2_idat(), iend()}), color);

  const std::string no_plte = "png: palette PNG without PLTE";
  add("palette without PLTE", testpng::png_file({ihdr(2, 2, 8, 3), gray2x2_idat(), iend()}), no_plte);
  add("PLTE after IEND", testpng::png_file({ihdr(2, 2, 8, 3), gray2x2_idat(), iend(), plte(6)}), no_plte);
  add("no PLTE before depth", testpng::png_file({ihdr(2, 2, 3, 3), gray2x2_idat(), iend()}), no_plte);

  const std::string depth = "png: unsupported bit depth";
  for (int d : {0, 3, 5, 6, 7, 9, 12, 15, 17, 32, 255}) {
    add("gray depth " + std::to_string(d), testpng::png_file({ihdr(2, 2, uint8_t(d), 0), gray2x2_idat(), iend()}), depth);
    add("palette depth " + std::to_string(d), testpng::png_file({ihdr(2, 2, uint8_t(d), 3), plte(6), gray2x2_idat(), iend()}), depth);
  }
  // Depths below 8 exist only for gray and palette images.
  for (int t : {2, 4, 6})
    for (int d : {1, 2, 4})
      add("colour type " + std::to_string(t) + " depth " + std::to_string(d),
          testpng::png_file({ihdr(2, 2, uint8_t(d), uint8_t(t)), gray2x2_idat(), iend()}), depth);
  add("16-bit palette", testpng::png_file({ihdr(2, 2, 16, 3), plte(6), gray2x2_idat(), iend()}),
      "png: 16-bit palette not supported");

  const std::string zhead = "png: bad zlib header in IDAT";
  {
    Bytes z = tiny_idat.data;
    z[0] = 0x58;
    add("zlib header 0x58", testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", z), iend()}), zhead);
    z[0] = 0x08;
    add("zlib header 0x08", testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", z), iend()}), zhead);
    add("zlib data of 5 bytes", testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", {0x78, 0x9C, 3, 0, 0}), iend()}), zhead);
    add("empty IDAT", testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", {}), iend()}), zhead);
    // Headers that pass the multiple-of-31 check but are not DEFLATE as PNG
    // allows it: method 7, a 64 KiB window, a preset dictionary.
    const std::pair<const char *, Bytes> headers[] = {
        {"method 7", {0x77, 0x09}}, {"window 64 KiB", {0x88, 0x1C}}, {"preset dictionary", {0x78, 0xBB}}};
    for (const auto &[what, header] : headers) {
      Bytes bad = tiny_idat.data;
      bad[0] = header[0];
      bad[1] = header[1];
      add(std::string("zlib header with ") + what,
          testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", bad), iend()}), zhead);
    }
    for (int flg = 0; flg < 256; ++flg) {
      if ((0x7800 + flg) % 31 == 0) continue;
      Bytes bad = tiny_idat.data;
      bad[1] = uint8_t(flg);
      if (flg % 16 == 3)
        add("zlib check bits wrong, FLG " + std::to_string(flg),
            testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", bad), iend()}), zhead);
    }
    // The header byte counts where the joined data starts, not per chunk.
    Bytes first(tiny_idat.data.begin(), tiny_idat.data.begin() + 3);
    first[0] = 0x58;
    Bytes rest(tiny_idat.data.begin() + 3, tiny_idat.data.end());
    add("bad header in split data", testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", first), chunk("IDAT", rest), iend()}), zhead);
  }

  const std::string inflate = "png: inflate failed (corrupt or truncated stream)";
  add("garbage DEFLATE data",
      testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}), iend()}), inflate);
  add("too few rows", testpng::png_file({ihdr(2, 3, 8, 0), gray2x2_idat(), iend()}), inflate);
  add("too many rows", testpng::png_file({ihdr(2, 1, 8, 0), gray2x2_idat(), iend()}), inflate);
  add("rows too short", testpng::png_file({ihdr(3, 2, 8, 0), gray2x2_idat(), iend()}), inflate);
  {
    Bytes z = testpng::zlib_compress(Bytes(2000, 7));
    Bytes cut(z.begin(), z.begin() + long(z.size() / 2));
    add("truncated stream", testpng::png_file({ihdr(1999, 1, 8, 0), chunk("IDAT", cut), iend()}), inflate);
  }
  // 2^30 gray pixels need 2^30 + 2^15 raw bytes, which a tiny stream cannot
  // produce: refused without allocating for them.
  add("2^30 gray pixels from a tiny stream", testpng::png_file({ihdr(32768, 32768, 8, 0), tiny_idat, iend()}), inflate);
  add("2^30 1-bit pixels from a tiny stream", testpng::png_file({ihdr(32768, 32768, 1, 0), tiny_idat, iend()}), inflate);

  const std::string adler = "png: adler-32 checksum mismatch";
  for (size_t i = 1; i <= 4; ++i) {
    Bytes z = tiny_idat.data;
    z[z.size() - i] ^= 0x01;
    add("Adler-32 byte " + std::to_string(i) + " from the end changed",
        testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", z), iend()}), adler);
  }
  {
    // The raw data itself changed: a stored block whose bytes are patched.
    Bytes raw = {0, 10, 20, 0, 30, 40};
    Bytes z = testpng::zlib_compress(raw, 0);
    z[z.size() - 5] ^= 0x10;
    add("stored data changed", testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", z), iend()}), adler);
  }
  return v;
}

// Interlaced data whose passes need one byte more or less than it holds.
std::vector<FailureCase> interlaced_size_cases() {
  // 2x2 8-bit gray, interlaced: passes 1 (1x1), 6 (1x1) and 7 (2x1), 7 bytes.
  const std::string inflate = "png: inflate failed (corrupt or truncated stream)";
  return {{"interlaced data of the image not interlaced",
           testpng::png_file({ihdr(2, 2, 8, 0, 1), gray2x2_idat(), iend()}), inflate},
          {"interlaced data one byte too long",
           testpng::png_file({ihdr(2, 2, 8, 0, 1), idat_of_raw({0, 1, 0, 2, 0, 3, 4, 0}), iend()}), inflate}};
}

TEST(PngDecodeFailures, EveryMessageIsReachedByItsCause) {
  for (const auto &cases : {failure_cases(), interlaced_size_cases()}) {
    for (const FailureCase &c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(decode_bytes(c.file).error, c.message);
    }
  }
}

TEST(PngDecodeFailures, HugeDeclaredImagesAllocateNothingLarge) {
  const Chunk tiny = gray2x2_idat();
  const Bytes files[] = {
      testpng::png_file({ihdr(32768, 32768, 8, 0), tiny, iend()}),
      testpng::png_file({ihdr(32768, 32768, 16, 6), tiny, iend()}),
      testpng::png_file({ihdr(1073741824, 1, 16, 6), tiny, iend()}),
      testpng::png_file({ihdr(1, 1073741824, 8, 4), tiny, iend()}),
      testpng::png_file({ihdr(1, 536870912, 1, 0), tiny, iend()}),
      testpng::png_file({ihdr(32768, 32768, 16, 6, 1), tiny, iend()}),
      testpng::png_file({ihdr(1073741824, 1, 8, 0, 1), tiny, iend()}),
  };
  for (const Bytes &file : files) {
    const std::string path = write_temp(file);
    g_largest = 0;
    g_tracking = true;
    const Decoded d = decode_path(path.c_str());
    g_tracking = false;
    EXPECT_FALSE(d.ok);
    EXPECT_LT(g_largest, size_t{1} << 16) << d.error;
  }
}

TEST(PngDecodeFailures, FilesThatCannotBeRead) {
  EXPECT_EQ(decode_path((temp_dir() / "no-such-file.png").string().c_str()).error, "png: cannot read file");
  EXPECT_EQ(decode_path(temp_dir().string().c_str()).error, "png: cannot read file");
  EXPECT_EQ(decode_path(nullptr).error, "png: cannot read file");
}

// The message stays readable after later calls.
TEST(PngDecodeFailures, MessageOutlivesLaterCalls) {
  const char *first = nullptr;
  int w = 0, h = 0;
  EXPECT_EQ(tvl_png_decode(write_temp({1, 2, 3}).c_str(), &w, &h, &first), nullptr);
  const char *second = nullptr;
  unsigned char *pixels = tvl_png_decode(write_temp(good_gray()).c_str(), &w, &h, &second);
  EXPECT_NE(pixels, nullptr);
  std::free(pixels);
  const char *third = nullptr;
  EXPECT_EQ(tvl_png_decode(write_temp(testpng::png_file({ihdr(2, 2, 8, 0)})).c_str(), &w, &h, &third), nullptr);
  EXPECT_STREQ(first, "png: not a PNG file (bad signature)");
  EXPECT_STREQ(second, "");
  EXPECT_STREQ(third, "png: missing IHDR or IDAT");
}

// Fails each allocation of decoding the file at path in turn.
void every_failed_allocation_fails_cleanly(const std::string &path) {
  const Decoded whole = decode_path(path.c_str());
  ASSERT_TRUE(whole.ok);
  int failures = 0;
  for (long n = 0;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    int w = -1, h = -1;
    const char *error = nullptr;
    g_failed = false;
    g_allocations_left = n;
    unsigned char *px = tvl_png_decode(path.c_str(), &w, &h, &error);
    g_allocations_left = -1;
    if (!g_failed) {
      ASSERT_NE(px, nullptr);
      EXPECT_EQ(0, std::memcmp(px, whole.pixels.data(), whole.pixels.size()));
      std::free(px);
      break;
    }
    ++failures;
    EXPECT_EQ(px, nullptr);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    // The first allocation holds the file.
    EXPECT_STREQ(error, n == 0 ? "png: cannot read file" : "png: out of memory");
  }
  EXPECT_GE(failures, 3);
}

// Every allocation of the call in turn fails: the call fails with the
// message of that allocation and leaks nothing (checked by the sanitizers).
TEST(PngDecodeFailures, EveryFailedAllocationFailsCleanly) {
  for (const bool interlace : {false, true}) {
    SCOPED_TRACE(interlace ? "interlaced" : "not interlaced");
    const Image img = make_image(2, 8, 40, 30, Trns::none, 77);
    testpng::WriteOptions opt;
    opt.idat_size = 64;
    opt.interlace = interlace;
    const std::string path = write_temp(testpng::write_with_libpng(img, opt));
    every_failed_allocation_fails_cleanly(path);
  }
}

TEST(PngDecodeFailures, NullOutputsAreTolerated) {
  const std::string path = write_temp(good_gray());
  unsigned char *px = tvl_png_decode(path.c_str(), nullptr, nullptr, nullptr);
  ASSERT_NE(px, nullptr);
  std::free(px);
  EXPECT_EQ(tvl_png_decode(nullptr, nullptr, nullptr, nullptr), nullptr);
}

// --- decoded pixels of crafted files ------------------------------------------

struct PixelCase {
  std::string name;
  Bytes file;
  uint32_t width, height;
  Bytes rgba;
  bool libpng_differs = false;  // a malformed file libpng reads otherwise
};

Bytes px(std::initializer_list<std::initializer_list<int>> pixels) {
  Bytes b;
  for (const auto &p : pixels)
    for (int v : p) b.push_back(uint8_t(v));
  return b;
}

std::vector<PixelCase> pixel_cases() {
  std::vector<PixelCase> v;
  auto add = [&v](std::string name, Bytes file, uint32_t w, uint32_t h, Bytes rgba) {
    v.push_back({std::move(name), std::move(file), w, h, std::move(rgba)});
  };
  // libpng keeps only the low bits of a key that does not fit the bit depth,
  // and drops a tRNS chunk longer than the palette.
  auto differs_from_libpng = [&v] { v.back().libpng_differs = true; };
  add("1x1 RGBA", testpng::png_file({ihdr(1, 1, 8, 6), idat_of_raw({0, 1, 2, 3, 4}), iend()}), 1, 1,
      px({{1, 2, 3, 4}}));
  add("filter type 5 leaves the row as stored",
      testpng::png_file({ihdr(3, 2, 8, 0), idat_of_raw({0, 100, 110, 120, 5, 1, 2, 3}), iend()}), 3, 2,
      px({{100, 100, 100, 255}, {110, 110, 110, 255}, {120, 120, 120, 255},
          {1, 1, 1, 255}, {2, 2, 2, 255}, {3, 3, 3, 255}}));
  add("filter type 255 leaves the row as stored",
      testpng::png_file({ihdr(2, 2, 8, 0), idat_of_raw({1, 100, 10, 255, 1, 2}), iend()}), 2, 2,
      px({{100, 100, 100, 255}, {110, 110, 110, 255}, {1, 1, 1, 255}, {2, 2, 2, 255}}));
  add("1-bit palette black and white",
      testpng::png_file({ihdr(10, 1, 1, 3), chunk("PLTE", {0, 0, 0, 255, 255, 255}),
                         idat_of_raw({0, 0b10110000, 0b01000000}), iend()}),
      10, 1,
      px({{255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}, {255, 255, 255, 255},
          {0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255},
          {0, 0, 0, 255}, {255, 255, 255, 255}}));
  add("1-bit gray, tRNS level 1",
      testpng::png_file({ihdr(3, 1, 1, 0), chunk("tRNS", {0, 1}), idat_of_raw({0, 0b10100000}), iend()}), 3, 1,
      px({{255, 255, 255, 0}, {0, 0, 0, 255}, {255, 255, 255, 0}}));
  add("2-bit gray levels",
      testpng::png_file({ihdr(4, 1, 2, 0), idat_of_raw({0, 0b00011011}), iend()}), 4, 1,
      px({{0, 0, 0, 255}, {85, 85, 85, 255}, {170, 170, 170, 255}, {255, 255, 255, 255}}));
  add("4-bit gray, tRNS level 3",
      testpng::png_file({ihdr(3, 1, 4, 0), chunk("tRNS", {0, 3}), idat_of_raw({0, 0x3F, 0x30}), iend()}), 3, 1,
      px({{51, 51, 51, 0}, {255, 255, 255, 255}, {51, 51, 51, 0}}));
  add("8-bit gray, tRNS level 128",
      testpng::png_file({ihdr(4, 1, 8, 0), chunk("tRNS", {0, 128}), idat_of_raw({0, 127, 128, 129, 128}), iend()}), 4, 1,
      px({{127, 127, 127, 255}, {128, 128, 128, 0}, {129, 129, 129, 255}, {128, 128, 128, 0}}));
  add("8-bit gray, key above 255 matches nothing",
      testpng::png_file({ihdr(2, 1, 8, 0), chunk("tRNS", {1, 128}), idat_of_raw({0, 128, 0}), iend()}), 2, 1,
      px({{128, 128, 128, 255}, {0, 0, 0, 255}}));
  differs_from_libpng();
  add("gray tRNS of 1 byte is no key",
      testpng::png_file({ihdr(2, 1, 8, 0), chunk("tRNS", {0}), idat_of_raw({0, 0, 1}), iend()}), 2, 1,
      px({{0, 0, 0, 255}, {1, 1, 1, 255}}));
  add("palette tRNS of 2 bytes",
      testpng::png_file({ihdr(4, 1, 8, 3), chunk("PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
                         chunk("tRNS", {10, 20}), idat_of_raw({0, 0, 1, 2, 3}), iend()}),
      4, 1, px({{1, 2, 3, 10}, {4, 5, 6, 20}, {7, 8, 9, 255}, {10, 11, 12, 255}}));
  add("16-bit gray takes the high byte",
      testpng::png_file({ihdr(2, 1, 16, 0), idat_of_raw({0, 0x12, 0x34, 0xAB, 0xFF}), iend()}), 2, 1,
      px({{0x12, 0x12, 0x12, 255}, {0xAB, 0xAB, 0xAB, 255}}));
  add("16-bit RGBA takes the high bytes",
      testpng::png_file({ihdr(1, 1, 16, 6), idat_of_raw({0, 1, 2, 3, 4, 5, 6, 7, 8}), iend()}), 1, 1,
      px({{1, 3, 5, 7}}));
  add("16-bit gray+alpha takes the high bytes",
      testpng::png_file({ihdr(1, 1, 16, 4), idat_of_raw({0, 9, 2, 200, 4}), iend()}), 1, 1,
      px({{9, 9, 9, 200}}));
  add("tRNS ignored for gray+alpha",
      testpng::png_file({ihdr(1, 1, 8, 4), chunk("tRNS", {0, 9}), idat_of_raw({0, 9, 77}), iend()}), 1, 1,
      px({{9, 9, 9, 77}}));
  add("tRNS ignored for RGBA",
      testpng::png_file({ihdr(1, 1, 8, 6), chunk("tRNS", {0, 1, 0, 2, 0, 3}), idat_of_raw({0, 1, 2, 3, 4}), iend()}), 1, 1,
      px({{1, 2, 3, 4}}));
  // A palette index beyond the palette is opaque black, whatever tRNS holds.
  add("palette index beyond the palette",
      testpng::png_file({ihdr(4, 1, 8, 3), chunk("PLTE", {1, 2, 3, 4, 5, 6}),
                         chunk("tRNS", Bytes(256, 0)), idat_of_raw({0, 0, 1, 2, 255}), iend()}),
      4, 1, px({{1, 2, 3, 0}, {4, 5, 6, 0}, {0, 0, 0, 255}, {0, 0, 0, 255}}));
  differs_from_libpng();
  add("4-bit palette index beyond the palette",
      testpng::png_file({ihdr(3, 1, 4, 3), chunk("PLTE", {1, 2, 3}), idat_of_raw({0, 0x0F, 0x10}), iend()}), 3, 1,
      px({{1, 2, 3, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}}));
  add("empty PLTE gives opaque black",
      testpng::png_file({ihdr(2, 1, 8, 3), chunk("PLTE", {}), chunk("tRNS", {0, 0}), idat_of_raw({0, 0, 7}), iend()}), 2, 1,
      px({{0, 0, 0, 255}, {0, 0, 0, 255}}));
  add("empty PLTE in a gray image",
      testpng::png_file({ihdr(2, 1, 8, 0), chunk("PLTE", {}), idat_of_raw({0, 5, 6}), iend()}), 2, 1,
      px({{5, 5, 5, 255}, {6, 6, 6, 255}}));
  // tRNS keys compare with the full 16-bit sample.
  add("16-bit gray key",
      testpng::png_file({ihdr(3, 1, 16, 0), chunk("tRNS", {0x12, 0x34}),
                         idat_of_raw({0, 0x12, 0x34, 0x12, 0x35, 0x13, 0x34}), iend()}),
      3, 1, px({{0x12, 0x12, 0x12, 0}, {0x12, 0x12, 0x12, 255}, {0x13, 0x13, 0x13, 255}}));
  add("8-bit RGB key",
      testpng::png_file({ihdr(4, 1, 8, 2), chunk("tRNS", {0, 1, 0, 2, 0, 3}),
                         idat_of_raw({0, 1, 2, 3, 1, 2, 4, 0, 2, 3, 1, 2, 3}), iend()}),
      4, 1, px({{1, 2, 3, 0}, {1, 2, 4, 255}, {0, 2, 3, 255}, {1, 2, 3, 0}}));
  add("8-bit RGB key above 255 matches nothing",
      testpng::png_file({ihdr(1, 1, 8, 2), chunk("tRNS", {1, 1, 0, 2, 0, 3}), idat_of_raw({0, 1, 2, 3}), iend()}), 1, 1,
      px({{1, 2, 3, 255}}));
  differs_from_libpng();
  add("16-bit RGB key",
      testpng::png_file({ihdr(3, 1, 16, 2), chunk("tRNS", {1, 2, 3, 4, 5, 6}),
                         idat_of_raw({0, 1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 7, 1, 3, 3, 4, 5, 6}), iend()}),
      3, 1, px({{1, 3, 5, 0}, {1, 3, 5, 255}, {1, 3, 5, 255}}));
  add("RGB tRNS of 4 bytes is no key",
      testpng::png_file({ihdr(1, 1, 8, 2), chunk("tRNS", {0, 1, 0, 2}), idat_of_raw({0, 1, 2, 0}), iend()}), 1, 1,
      px({{1, 2, 0, 255}}));
  // The last IHDR, PLTE and tRNS count.
  add("later IHDR wins",
      testpng::png_file({ihdr(5, 5, 16, 6), ihdr(2, 1, 8, 0), idat_of_raw({0, 3, 4}), iend()}), 2, 1,
      px({{3, 3, 3, 255}, {4, 4, 4, 255}}));
  add("later PLTE and tRNS win",
      testpng::png_file({ihdr(1, 1, 8, 3), chunk("PLTE", {1, 1, 1}), chunk("tRNS", {1}),
                         chunk("PLTE", {2, 2, 2}), chunk("tRNS", {2}), idat_of_raw({0, 0}), iend()}),
      1, 1, px({{2, 2, 2, 2}}));
  {
    const Bytes z = testpng::zlib_compress({0, 3, 4, 0, 5, 6});
    add("IDAT split in three with an empty one",
        testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", Bytes(z.begin(), z.begin() + 1)), chunk("IDAT", {}),
                           chunk("IDAT", Bytes(z.begin() + 1, z.end())), iend()}),
        2, 2, px({{3, 3, 3, 255}, {4, 4, 4, 255}, {5, 5, 5, 255}, {6, 6, 6, 255}}));
    add("IDAT split by an unknown chunk",
        testpng::png_file({ihdr(2, 2, 8, 0), chunk("IDAT", Bytes(z.begin(), z.begin() + 4)), chunk("zzZz", {1, 2}),
                           chunk("IDAT", Bytes(z.begin() + 4, z.end()))}),
        2, 2, px({{3, 3, 3, 255}, {4, 4, 4, 255}, {5, 5, 5, 255}, {6, 6, 6, 255}}));
  }
  // Every window size zlib writes; small images get small windows.
  for (int bits = 9; bits <= 15; ++bits)
    for (int level : {0, 1, 6, 9})
      add("zlib window 2^" + std::to_string(bits) + " level " + std::to_string(level),
          testpng::png_file({ihdr(2, 1, 8, 0), chunk("IDAT", testpng::zlib_compress({0, 7, 8}, level, bits)), iend()}),
          2, 1, px({{7, 7, 7, 255}, {8, 8, 8, 255}}));
  // Passes 1, 6 and 7 hold pixels (0,0), (1,0) and row 1; the others are
  // empty and stored not at all.
  add("2x2 interlaced",
      testpng::png_file({ihdr(2, 2, 8, 0, 1), idat_of_raw({0, 10, 0, 20, 0, 30, 40}), iend()}), 2, 2,
      px({{10, 10, 10, 255}, {20, 20, 20, 255}, {30, 30, 30, 255}, {40, 40, 40, 255}}));
  add("3x1 interlaced 1-bit palette, each pass filtered from zeros",
      testpng::png_file({ihdr(3, 1, 1, 3, 1), chunk("PLTE", {0, 0, 0, 255, 255, 255}),
                         idat_of_raw({2, 0x80, 2, 0x80, 1, 0x00}), iend()}),
      3, 1, px({{255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}}));
  add("chunks after IEND are not looked at",
      testpng::png_file({ihdr(2, 2, 8, 0), gray2x2_idat(), iend(), chunk("IDAT", {1}, 0xFFFFFFF0u),
                         ihdr(0, 0, 8, 0)}),
      2, 2, px({{10, 10, 10, 255}, {20, 20, 20, 255}, {30, 30, 30, 255}, {40, 40, 40, 255}}));
  add("bad CRCs everywhere",
      testpng::png_file({chunk("IHDR", testpng::ihdr_data(2, 2, 8, 0), {}, true),
                         chunk("IDAT", gray2x2_idat().data, {}, true), chunk("IEND", {}, {}, true)}),
      2, 2, px({{10, 10, 10, 255}, {20, 20, 20, 255}, {30, 30, 30, 255}, {40, 40, 40, 255}}));
  add("IHDR compression and filter methods are not looked at",
      testpng::png_file({chunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 7, 9, 0}), idat_of_raw({0, 42}), iend()}), 1, 1,
      px({{42, 42, 42, 255}}));
  {
    // Every filter type, with bytes that wrap around 256 and Paeth ties.
    const Bytes raw = {1, 200, 100, 200, 100,    // Sub, 2 bytes per pixel
                       2, 100, 200, 1, 2,        // Up
                       3, 255, 255, 255, 255,    // Average, sum above 255
                       4, 1, 2, 3, 4,            // Paeth
                       4, 0, 0, 0, 0};           // Paeth with all-equal neighbours
    const Bytes file = testpng::png_file({ihdr(2, 5, 8, 4), idat_of_raw(raw), iend()});
    const testpng::Rgba ref = testpng::read_with_libpng(file);
    add("every filter type against libpng", file, 2, 5, ref.pixels);
  }
  return v;
}

TEST(PngDecodePixels, CraftedFilesDecodeToTheirPixels) {
  for (const PixelCase &c : pixel_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(same_pixels(decode_bytes(c.file), c.width, c.height, c.rgba));
  }
}

// Where libpng reads a crafted file, it agrees (with CRC checks off).
TEST(PngDecodePixels, CraftedFilesLibpngReadsAgree) {
  int compared = 0;
  for (const PixelCase &c : pixel_cases()) {
    if (c.libpng_differs) continue;
    const testpng::Rgba ref = testpng::read_with_libpng(c.file, true);
    if (!ref.ok) continue;
    SCOPED_TRACE(c.name);
    ++compared;
    EXPECT_TRUE(same_pixels(decode_bytes(c.file), ref.width, ref.height, ref.pixels));
  }
  EXPECT_GE(compared, 15);
}

// --- the pixel density (pHYs) ---------------------------------------------------

// The decoder hands back the pHYs chunk that libpng takes from the file:
// the first of 9 bytes before the image data.
TEST(PngDecodeDensity, PhysAsLibpngReadsIt) {
  const Image img = make_image(2, 8, 5, 3, Trns::none, 6000);
  const auto written = [&](std::optional<testpng::Density> density, bool interlace = false) {
    testpng::WriteOptions opt;
    opt.density = density;
    opt.interlace = interlace;
    return testpng::write_with_libpng(img, opt);
  };
  const auto phys = [](uint32_t x, uint32_t y, uint8_t unit) {
    Bytes d(9, unit);
    for (int i = 0; i < 4; ++i) {
      d[size_t(i)] = uint8_t(x >> (24 - 8 * i));
      d[size_t(4 + i)] = uint8_t(y >> (24 - 8 * i));
    }
    return chunk("pHYs", d);
  };
  const Chunk data = idat_of_raw({0, 1, 2, 0, 3, 4});
  const struct {
    const char *name;
    Bytes file;
  } cases[] = {
      {"none", written(std::nullopt)},
      {"144 dpi in pixels per metre", written(testpng::Density{5669, 5669, 1})},
      {"different x and y", written(testpng::Density{11811, 5906, 1})},
      {"aspect ratio only", written(testpng::Density{3, 1, 0})},
      {"density 0", written(testpng::Density{0, 0, 1})},
      {"interlaced", written(testpng::Density{2835, 2835, 1}, true)},
      {"largest values", testpng::png_file({ihdr(2, 2, 8, 0), phys(0xFFFFFFFFu, 0x7FFFFFFFu, 1), data, iend()})},
      {"the first of two counts",
       testpng::png_file({ihdr(2, 2, 8, 0), phys(100, 200, 1), phys(300, 400, 0), data, iend()})},
      {"after the image data it does not count",
       testpng::png_file({ihdr(2, 2, 8, 0), data, phys(100, 200, 1), iend()})},
      {"8 bytes is no pHYs",
       testpng::png_file({ihdr(2, 2, 8, 0), chunk("pHYs", Bytes(8, 1)), data, iend()})},
      {"10 bytes is no pHYs",
       testpng::png_file({ihdr(2, 2, 8, 0), chunk("pHYs", Bytes(10, 1)), data, iend()})},
  };
  int stated = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const testpng::Rgba ref = testpng::read_with_libpng(c.file);
    ASSERT_TRUE(ref.ok) << ref.error;
    int w = 0, h = 0;
    PngDensity density{7, 7, 7};
    const char *error = nullptr;
    unsigned char *px = tvl_png_decode_mem_density(c.file.data(), c.file.size(), &w, &h, &density, &error);
    ASSERT_NE(px, nullptr) << error;
    std::free(px);
    const testpng::Density want = ref.density.value_or(testpng::Density{});
    EXPECT_EQ(density.x, want.x);
    EXPECT_EQ(density.y, want.y);
    EXPECT_EQ(density.unit, want.unit);
    stated += ref.density ? 1 : 0;
  }
  EXPECT_GE(stated, 7);

  // A failed decoding states nothing.
  const Bytes broken = testpng::png_file({ihdr(2, 2, 8, 0), phys(100, 200, 1), iend()});
  PngDensity density{7, 7, 7};
  EXPECT_EQ(tvl_png_decode_mem_density(broken.data(), broken.size(), nullptr, nullptr, &density, nullptr),
            nullptr);
  EXPECT_EQ(density.x, 0u);
  EXPECT_EQ(density.y, 0u);
  EXPECT_EQ(density.unit, 0);
}

// --- PngSuite ----------------------------------------------------------------

const fs::path kSuite = fs::path(FOLIMARK_CORPUS_DIR) / "png" / "pngsuite";

Bytes read_file(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Reads a JSON array of integers.
std::vector<long> read_json_numbers(const fs::path &p) {
  const Bytes text = read_file(p);
  std::vector<long> values;
  long v = 0;
  bool in = false;
  for (uint8_t ch : text) {
    if (ch >= '0' && ch <= '9') {
      v = v * 10 + (ch - '0');
      in = true;
    } else if (in) {
      values.push_back(v);
      v = 0;
      in = false;
    }
  }
  return values;
}

// The corrupt files and why each fails. xcsn0g01 and xhdn0g08 differ from
// their intact versions only in a CRC, which is not checked: they decode.
const std::pair<const char *, const char *> kCorrupt[] = {
    {"xc1n0g08", "png: unsupported color type"},
    {"xc9n2c08", "png: unsupported color type"},
    {"xcrn0g04", "png: not a PNG file (bad signature)"},
    {"xd0n2c08", "png: unsupported bit depth"},
    {"xd3n2c08", "png: unsupported bit depth"},
    {"xd9n2c08", "png: unsupported bit depth"},
    {"xdtn0g01", "png: missing IHDR or IDAT"},
    {"xlfn0g04", "png: not a PNG file (bad signature)"},
    {"xs1n0g01", "png: not a PNG file (bad signature)"},
    {"xs2n0g01", "png: not a PNG file (bad signature)"},
    {"xs4n0g01", "png: not a PNG file (bad signature)"},
    {"xs7n0g01", "png: not a PNG file (bad signature)"},
};

TEST(PngDecodeSuite, EveryFileDecodesOrFailsAsExpected) {
  if (!fs::is_directory(kSuite / "png")) GTEST_SKIP() << "PngSuite not found at " << kSuite;
  int decoded = 0, interlaced = 0, corrupt = 0;
  for (const auto &entry : fs::directory_iterator(kSuite / "png")) {
    if (entry.path().extension() != ".png") continue;
    const std::string name = entry.path().stem().string();
    SCOPED_TRACE(name);
    const Bytes file = read_file(entry.path());
    const Decoded ours = decode_path(entry.path().string().c_str());
    const auto known = std::find_if(std::begin(kCorrupt), std::end(kCorrupt),
                                    [&](const auto &c) { return name == c.first; });
    if (known != std::end(kCorrupt)) {
      EXPECT_EQ(ours.error, known->second);
      ++corrupt;
      continue;
    }
    if (name[0] == 'x') {
      // A corrupt file not in the list above must be one whose JSON says how
      // it decodes.
      EXPECT_TRUE(fs::exists(kSuite / "json" / (name + ".json"))) << "unlisted corrupt file";
    }
    ASSERT_GE(file.size(), 29u);
    // PngSuite names interlaced files with an 'i' in the fourth place.
    EXPECT_EQ(file[28] != 0, name.size() > 3 && name[3] == 'i');
    if (file[28] != 0) ++interlaced;
    // The JSON of a 16-bit file holds 16-bit values; the decoder yields
    // their high byte. (The *_to8.json files are not used: for the 16-bit
    // gray files they round instead of cutting, unlike everything else.)
    const int depth = file[24];
    const std::vector<long> json = read_json_numbers(kSuite / "json" / (name + ".json"));
    Bytes expected;
    for (long value : json) expected.push_back(uint8_t(depth == 16 ? value >> 8 : value));
    const uint32_t w = uint32_t(file[16]) << 24 | uint32_t(file[17]) << 16 | uint32_t(file[18]) << 8 | file[19];
    const uint32_t h = uint32_t(file[20]) << 24 | uint32_t(file[21]) << 16 | uint32_t(file[22]) << 8 | file[23];
    EXPECT_TRUE(same_pixels(ours, w, h, expected));
    EXPECT_TRUE(same_as_libpng(ours, file, name[0] == 'x'));
    ++decoded;
  }
  EXPECT_EQ(corrupt, int(std::size(kCorrupt)));
  EXPECT_GT(decoded, 100);
  EXPECT_GT(interlaced, 20);
}

}  // namespace
