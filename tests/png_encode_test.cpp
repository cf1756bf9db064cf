// tvl_png_encode, tvl_png_write and png_chunk, judged by libpng's reading of
// every file (CRCs checked), zlib's crc32 and inflate, and our own decoder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "flate/flate.h"
#include "png/png.h"
#include "support/png_maker.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct FreeDeleter {
  void operator()(void *p) const noexcept { std::free(p); }
};

uint32_t be32_at(const Bytes &b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

// Returns the encoder's file, or an empty vector when it returned NULL.
Bytes encode(int width, int height, const Bytes &pixels) {
  uint64_t length = 0;
  unsigned char *p = tvl_png_encode(width, height, pixels.data(), &length);
  if (p == nullptr) return {};
  Bytes file(p, p + length);
  std::free(p);
  return file;
}

Bytes encode_split(int width, int height, const Bytes &pixels, uint32_t idat_limit) {
  uint64_t length = 0;
  unsigned char *p = png_internal::encode_with_idat_limit(width, height, pixels.data(), &length, idat_limit);
  if (p == nullptr) return {};
  Bytes file(p, p + length);
  std::free(p);
  return file;
}

enum class Fill { random, gradient, flat, alpha_ramp };

Bytes make_pixels(int width, int height, Fill fill, uint32_t seed) {
  Bytes px(size_t(width) * size_t(height) * 4);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < px.size(); ++i) {
    const size_t pixel = i / 4;
    const size_t x = pixel % size_t(width), y = pixel / size_t(width);
    switch (fill) {
      case Fill::random: px[i] = static_cast<uint8_t>(rng()); break;
      case Fill::gradient: px[i] = static_cast<uint8_t>(x * 3 + y * 5 + (i % 4) * 64); break;
      case Fill::flat: px[i] = static_cast<uint8_t>(i % 4 == 3 ? 255 : 40 * (i % 4)); break;
      case Fill::alpha_ramp: px[i] = static_cast<uint8_t>(i % 4 == 3 ? x + y : rng()); break;
    }
  }
  return px;
}

fs::path temp_dir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("folimark-png-encode-test-" + std::to_string(::getpid()));
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

Bytes read_file(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Checks the layout of a file from the encoder: signature, IHDR of an 8-bit
// RGBA image of the given size, IDAT chunks, IEND, every CRC as zlib's crc32
// computes it, and image data that zlib inflates to rows of filter type 0
// holding the pixels unchanged.
::testing::AssertionResult well_formed(const Bytes &file, int width, int height, const Bytes &pixels,
                                       size_t *idat_chunks = nullptr) {
  if (file.size() < 8 || std::memcmp(file.data(), testpng::kSignature, 8) != 0)
    return ::testing::AssertionFailure() << "no PNG signature";
  const auto chunks = testpng::list_chunks(file);
  if (chunks.size() < 3) return ::testing::AssertionFailure() << chunks.size() << " chunks";
  size_t end = 8;
  Bytes stream;
  for (size_t i = 0; i < chunks.size(); ++i) {
    const auto &c = chunks[i];
    const std::string expected_type = i == 0 ? "IHDR" : i + 1 == chunks.size() ? "IEND" : "IDAT";
    if (c.type != expected_type)
      return ::testing::AssertionFailure() << "chunk " << i << " is " << c.type << ", expected " << expected_type;
    const uLong crc = crc32(0, file.data() + c.offset + 4, static_cast<uInt>(c.length + 4));
    if (be32_at(file, c.offset + 8 + c.length) != crc)
      return ::testing::AssertionFailure() << c.type << " chunk " << i << ": CRC differs from zlib's";
    if (c.type == "IDAT") stream.insert(stream.end(), file.begin() + long(c.offset) + 8,
                                        file.begin() + long(c.offset) + 8 + c.length);
    end = c.offset + 12 + c.length;
  }
  if (end != file.size()) return ::testing::AssertionFailure() << "bytes after IEND";
  if (idat_chunks != nullptr) *idat_chunks = chunks.size() - 2;

  const Bytes ihdr(file.begin() + 16, file.begin() + 29);
  if (chunks[0].length != 13 || ihdr != testpng::ihdr_data(uint32_t(width), uint32_t(height), 8, 6))
    return ::testing::AssertionFailure() << "IHDR differs";
  if (chunks.back().length != 0) return ::testing::AssertionFailure() << "IEND has data";

  const size_t row = size_t(width) * 4;
  Bytes raw(size_t(height) * (row + 1) + 1);  // one spare byte: a longer stream shows
  uLongf raw_len = raw.size();
  if (uncompress(raw.data(), &raw_len, stream.data(), uLong(stream.size())) != Z_OK)
    return ::testing::AssertionFailure() << "zlib cannot inflate the image data";
  if (raw_len != size_t(height) * (row + 1))
    return ::testing::AssertionFailure() << "image data inflates to " << raw_len << " bytes";
  for (size_t y = 0; y < size_t(height); ++y) {
    const uint8_t *r = raw.data() + y * (row + 1);
    if (r[0] != 0) return ::testing::AssertionFailure() << "row " << y << " has filter " << int(r[0]);
    if (std::memcmp(r + 1, pixels.data() + y * row, row) != 0)
      return ::testing::AssertionFailure() << "row " << y << " differs from the pixels";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult libpng_reads_back(const Bytes &file, int width, int height, const Bytes &pixels) {
  const testpng::Rgba ref = testpng::read_with_libpng(file);
  if (!ref.ok) return ::testing::AssertionFailure() << "libpng: " << ref.error;
  if (ref.width != uint32_t(width) || ref.height != uint32_t(height))
    return ::testing::AssertionFailure() << "libpng reads " << ref.width << "x" << ref.height;
  if (ref.pixels != pixels) return ::testing::AssertionFailure() << "libpng reads other pixels";
  return ::testing::AssertionSuccess();
}

// Writes the file with tvl_png_write and reads it with tvl_png_decode.
::testing::AssertionResult our_decoder_reads_back(const Bytes &file, int width, int height,
                                                  const Bytes &pixels) {
  static int counter = 0;
  const fs::path path = temp_dir() / ("out-" + std::to_string(++counter) + ".png");
  if (tvl_png_write(path.c_str(), width, height, pixels.data()) != 1)
    return ::testing::AssertionFailure() << "tvl_png_write failed";
  if (read_file(path) != file) return ::testing::AssertionFailure() << "file differs from tvl_png_encode's bytes";
  int w = 0, h = 0;
  const char *error = nullptr;
  std::unique_ptr<unsigned char, FreeDeleter> px(tvl_png_decode(path.c_str(), &w, &h, &error));
  fs::remove(path);
  if (!px) return ::testing::AssertionFailure() << "tvl_png_decode: " << error;
  if (w != width || h != height) return ::testing::AssertionFailure() << "decoded " << w << "x" << h;
  if (std::memcmp(px.get(), pixels.data(), pixels.size()) != 0)
    return ::testing::AssertionFailure() << "decoded other pixels";
  return ::testing::AssertionSuccess();
}

// --- round trips -------------------------------------------------------------

struct Case {
  int width;
  int height;
  Fill fill;
};

const Case kCases[] = {
    {1, 1, Fill::random},      {1, 1, Fill::flat},       {2, 1, Fill::random},     {1, 2, Fill::random},
    {3, 3, Fill::random},      {5, 7, Fill::gradient},   {7, 5, Fill::alpha_ramp}, {1, 300, Fill::random},
    {300, 1, Fill::random},    {17, 13, Fill::random},   {31, 33, Fill::flat},     {64, 64, Fill::gradient},
    {99, 101, Fill::random},   {255, 3, Fill::alpha_ramp}, {257, 129, Fill::random}, {640, 480, Fill::gradient},
    {1023, 77, Fill::random},  {4096, 2, Fill::flat},
};

// The output is a well-formed PNG that libpng (checking CRCs) and our own
// decoder both read back to the input pixels.
TEST(PngEncodeRoundTrip, LibpngAndOurDecoderReadBackThePixels) {
  uint32_t seed = 1;
  for (const Case &c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " fill " << int(c.fill));
    const Bytes pixels = make_pixels(c.width, c.height, c.fill, seed++);
    const Bytes file = encode(c.width, c.height, pixels);
    ASSERT_FALSE(file.empty());
    size_t idats = 0;
    EXPECT_TRUE(well_formed(file, c.width, c.height, pixels, &idats));
    EXPECT_EQ(idats, 1u);
    EXPECT_TRUE(libpng_reads_back(file, c.width, c.height, pixels));
    EXPECT_TRUE(our_decoder_reads_back(file, c.width, c.height, pixels));
  }
}

// The same pixels give the same bytes every time.
TEST(PngEncodeRoundTrip, OutputIsDeterministic) {
  const Bytes pixels = make_pixels(45, 23, Fill::random, 7);
  EXPECT_EQ(encode(45, 23, pixels), encode(45, 23, pixels));
}

// A 1x1 image is the signature, a 25-byte IHDR, one IDAT holding tvl_deflate's
// stream of the 5 raw bytes, and the 12-byte IEND.
TEST(PngEncodeLayout, OneByOneImageHasTheExpectedSize) {
  const Bytes pixels = {10, 20, 30, 40};
  const Bytes raw = {0, 10, 20, 30, 40};
  unsigned char *z = nullptr;
  size_t n = 0;
  ASSERT_EQ(tvl_deflate(raw.data(), raw.size(), &z, &n), 0);
  const Bytes stream(z, z + n);
  std::free(z);
  const Bytes file = encode(1, 1, pixels);
  ASSERT_EQ(file.size(), 8 + 25 + (12 + n) + 12);
  EXPECT_EQ(be32_at(file, 33), n);
  EXPECT_EQ(Bytes(file.begin() + 41, file.begin() + 41 + long(n)), stream);
}

// IEND always ends the file with its fixed bytes, CRC AE 42 60 82 included.
TEST(PngEncodeLayout, IendBytesAreFixed) {
  const Bytes iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  for (const Case &c : {Case{1, 1, Fill::flat}, Case{9, 4, Fill::random}}) {
    const Bytes file = encode(c.width, c.height, make_pixels(c.width, c.height, c.fill, 3));
    ASSERT_GE(file.size(), iend.size());
    EXPECT_EQ(Bytes(file.end() - 12, file.end()), iend);
  }
}

// The image data spread over IDAT chunks of a given size: each chunk holds at
// most that many bytes, the chunks together hold the one stream of the
// single-chunk file, and libpng and our decoder read the pixels back.
TEST(PngEncodeLayout, ImageDataSplitOverSeveralIdatChunks) {
  const int w = 37, h = 29;
  const Bytes pixels = make_pixels(w, h, Fill::random, 11);
  const Bytes whole = encode(w, h, pixels);
  for (uint32_t limit : {1u, 2u, 7u, 100u, 4096u, 1000000u}) {
    SCOPED_TRACE(::testing::Message() << "limit " << limit);
    const Bytes file = encode_split(w, h, pixels, limit);
    ASSERT_FALSE(file.empty());
    size_t idats = 0;
    EXPECT_TRUE(well_formed(file, w, h, pixels, &idats));
    const auto chunks = testpng::list_chunks(file);
    const size_t stream_len = be32_at(whole, 33);
    EXPECT_EQ(idats, (stream_len + limit - 1) / limit);
    for (const auto &c : chunks)
      if (c.type == "IDAT") {
        EXPECT_LE(c.length, limit);
      }
    EXPECT_EQ(file.size(), whole.size() + 12 * (idats - 1));
    EXPECT_TRUE(libpng_reads_back(file, w, h, pixels));
    // The decoder reads files from disk; tvl_png_write makes single-chunk files.
    const fs::path path = temp_dir() / ("split-" + std::to_string(limit) + ".png");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(file.data()), long(file.size()));
    int dw = 0, dh = 0;
    const char *error = nullptr;
    std::unique_ptr<unsigned char, FreeDeleter> px(tvl_png_decode(path.c_str(), &dw, &dh, &error));
    ASSERT_TRUE(px) << error;
    EXPECT_EQ(std::memcmp(px.get(), pixels.data(), pixels.size()), 0);
  }
  EXPECT_EQ(encode_split(w, h, pixels, 0), Bytes());
}

// --- png_chunk ---------------------------------------------------------------

// Each chunk is appended framed, the count grows by its size, and the CRC it
// returns and stores is zlib's crc32 of type and data.
TEST(PngChunk, FramesTheChunkAndReturnsZlibsCrc) {
  struct ChunkCase {
    const char *type;
    Bytes data;
  };
  const ChunkCase cases[] = {
      {"IEND", {}}, {"tEXt", {'a'}}, {"IDAT", Bytes(1000, 0x5A)}, {"abcd", {0, 1, 2, 3, 255, 254}}};
  unsigned char *buf = nullptr;
  uint64_t len = 0;
  Bytes expected;
  for (const ChunkCase &c : cases) {
    const uint32_t n = uint32_t(c.data.size());
    const uint32_t crc = png_chunk(&buf, &len, c.type, c.data.empty() ? nullptr : c.data.data(), n);
    const Bytes framed = testpng::chunk_bytes(testpng::chunk(c.type, c.data));
    expected.insert(expected.end(), framed.begin(), framed.end());
    ASSERT_EQ(len, expected.size());
    EXPECT_EQ(crc, be32_at(framed, 8 + n)) << c.type;
    EXPECT_EQ(Bytes(buf, buf + len), expected);
  }
  std::free(buf);
}

// Refused arguments leave the buffer and its count as they were.
TEST(PngChunk, RefusedArgumentsLeaveTheOutputUntouched) {
  unsigned char *buf = static_cast<unsigned char *>(std::malloc(3));
  std::memcpy(buf, "abc", 3);
  uint64_t len = 3;
  const unsigned char data[4] = {1, 2, 3, 4};
  unsigned char *const before = buf;
  EXPECT_EQ(png_chunk(&buf, &len, "IDAT", nullptr, 4), 0u);             // no data for a length
  EXPECT_EQ(png_chunk(&buf, &len, nullptr, data, 4), 0u);               // no type
  EXPECT_EQ(png_chunk(&buf, &len, "IDAT", data, 0x80000000u), 0u);      // past the PNG limit
  EXPECT_EQ(png_chunk(nullptr, &len, "IDAT", data, 4), 0u);
  EXPECT_EQ(png_chunk(&buf, nullptr, "IDAT", data, 4), 0u);
  EXPECT_EQ(buf, before);
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(std::memcmp(buf, "abc", 3), 0);
  std::free(buf);
}

// --- refused arguments ----------------------------------------------------------

// Bad sizes, NULL pointers and images too large for the decoder give NULL
// with the length untouched, and tvl_png_write gives 0 without a file.
TEST(PngEncodeFailures, RefusedArgumentsGiveNullAndNoFile) {
  const Bytes px(64, 7);
  struct Bad {
    const char *why;
    int width;
    int height;
    const unsigned char *pixels;
  };
  const Bad cases[] = {
      {"width 0", 0, 1, px.data()},
      {"height 0", 1, 0, px.data()},
      {"height -1", 1, -1, px.data()},
      {"width negative", INT_MIN, 4, px.data()},
      {"NULL pixels", 2, 2, nullptr},
      // Filtered rows of 2^31 bytes or more: refused before any pixel is read.
      {"INT_MAX square", INT_MAX, INT_MAX, px.data()},
      {"one row too wide", (INT_MAX - 1) / 4 + 1, 1, px.data()},
      {"rows just past 2^31 bytes", 1, 429496730, px.data()},
      {"square just past 2^31 bytes", 23171, 23171, px.data()},
  };
  for (const Bad &b : cases) {
    SCOPED_TRACE(b.why);
    uint64_t len = 12345;
    EXPECT_EQ(tvl_png_encode(b.width, b.height, b.pixels, &len), nullptr);
    EXPECT_EQ(len, 12345u);
    const fs::path path = temp_dir() / "refused.png";
    EXPECT_EQ(tvl_png_write(path.c_str(), b.width, b.height, b.pixels), 0);
    EXPECT_FALSE(fs::exists(path));
  }
  EXPECT_EQ(tvl_png_encode(2, 2, px.data(), nullptr), nullptr);
  EXPECT_EQ(tvl_png_write(nullptr, 2, 2, px.data()), 0);
}

// Paths that cannot be written give 0 and leave nothing behind; an existing
// file at a path that fails stays as it was.
TEST(PngEncodeFailures, UnwritablePathsGiveZero) {
  const Bytes px = make_pixels(3, 2, Fill::random, 5);
  const fs::path missing_dir = temp_dir() / "no-such-dir" / "out.png";
  EXPECT_EQ(tvl_png_write(missing_dir.c_str(), 3, 2, px.data()), 0);
  EXPECT_FALSE(fs::exists(missing_dir.parent_path()));

  const fs::path dir = temp_dir() / "a-directory";
  fs::create_directories(dir);
  EXPECT_EQ(tvl_png_write(dir.c_str(), 3, 2, px.data()), 0);
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_EQ(tvl_png_write("", 3, 2, px.data()), 0);

  // A file that exists is replaced whole on success.
  const fs::path existing = temp_dir() / "existing.png";
  std::ofstream(existing) << "old contents";
  ASSERT_EQ(tvl_png_write(existing.c_str(), 3, 2, px.data()), 1);
  EXPECT_EQ(read_file(existing), encode(3, 2, px));
  // And is kept when the call is refused.
  EXPECT_EQ(tvl_png_write(existing.c_str(), 0, 2, px.data()), 0);
  EXPECT_EQ(read_file(existing), encode(3, 2, px));

  // A directory without write permission (root may write anywhere, so this
  // only counts when the file really could not be made).
  const fs::path locked = temp_dir() / "locked";
  fs::create_directories(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  const fs::path inside = locked / "out.png";
  const int rc = tvl_png_write(inside.c_str(), 3, 2, px.data());
  EXPECT_EQ(rc == 1, fs::exists(inside));
  fs::permissions(locked, fs::perms::owner_all);
}

}  // namespace
