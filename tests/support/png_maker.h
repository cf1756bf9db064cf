// Test-only PNG material: images written and read back by libpng, and files
// assembled chunk by chunk (with lengths, types and CRCs chosen at will) for
// inputs no encoder would write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testpng {

using Bytes = std::vector<uint8_t>;

// An image as PNG stores it: rows packed at the image's bit depth (16-bit
// samples big-endian), without filter bytes.
struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  int color_type = 0;  // 0 gray, 2 RGB, 3 palette, 4 gray+alpha, 6 RGBA
  int bit_depth = 8;
  Bytes rows;          // height * row_bytes()
  Bytes palette;       // R G B per entry; written as PLTE when not empty
  std::optional<Bytes> trns;  // the tRNS chunk's data, as stored in the file

  size_t channels() const;
  size_t row_bytes() const;
};

// A pHYs chunk: pixels per unit along x and y; unit 1 is the metre, 0 none.
struct Density {
  uint32_t x = 0, y = 0;
  int unit = 0;
};

struct WriteOptions {
  int filters = -1;          // libpng PNG_FILTER_* mask; -1: libpng's default
  size_t idat_size = 8192;   // largest IDAT chunk libpng writes
  int level = 6;             // zlib compression level
  bool interlace = false;
  std::optional<Density> density;  // written as a pHYs chunk
};

// Returns the image as a PNG file written by libpng; throws std::runtime_error
// with libpng's message when libpng refuses it.
Bytes write_with_libpng(const Image &image, const WriteOptions &options = {});

struct Rgba {
  bool ok = false;
  std::string error;  // libpng's message when not ok
  uint32_t width = 0;
  uint32_t height = 0;
  Bytes pixels;       // width * height * 4
  std::optional<Density> density;  // the pHYs chunk libpng took, if any
};

// Returns libpng's reading of a PNG file expanded to 8-bit RGBA: palette to
// RGB, gray to RGB, tRNS to alpha, 16-bit samples cut to their high byte,
// opaque alpha added where the image has none. CRC errors stop libpng unless
// ignore_crc is set.
Rgba read_with_libpng(const Bytes &file, bool ignore_crc = false);

// --- files assembled by hand -----------------------------------------------

inline constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

struct Chunk {
  std::string type;
  Bytes data;
  std::optional<uint32_t> length;  // declared length; default: data.size()
  bool bad_crc = false;            // store a CRC that does not match
};

inline Chunk chunk(std::string type, Bytes data, std::optional<uint32_t> length = std::nullopt,
                   bool bad_crc = false) {
  Chunk c;
  c.type = std::move(type);
  c.data = std::move(data);
  c.length = length;
  c.bad_crc = bad_crc;
  return c;
}

// Returns the chunk's bytes: length, type, data, CRC (zlib's crc32).
Bytes chunk_bytes(const Chunk &chunk);

// Returns the signature followed by the chunks.
Bytes png_file(const std::vector<Chunk> &chunks);

// IHDR data: width and height big-endian, depth, colour type, compression 0,
// filter 0, interlace.
Bytes ihdr_data(uint32_t width, uint32_t height, uint8_t depth, uint8_t color,
                uint8_t interlace = 0);

// Returns data as a zlib stream (RFC 1950) with a window of
// 2^window_bits bytes (9 to 15).
Bytes zlib_compress(const Bytes &data, int level = 6, int window_bits = 15);

// Where a chunk stands in a file.
struct ChunkAt {
  std::string type;
  size_t offset = 0;   // of its length field
  uint32_t length = 0;
};

// Lists the chunks of a well-formed PNG file.
std::vector<ChunkAt> list_chunks(const Bytes &file);

}  // namespace testpng
