// PNG writing: 8-bit RGBA pixels become the simplest valid file, the
// signature, one IHDR (colour type 6, depth 8, no interlace), the image data
// as one zlib stream from tvl_deflate, and IEND. Every row carries filter
// type 0: the pixels go into the stream unchanged, which keeps the encoder
// small at the cost of compression on photographs.
//
// Only images whose filtered rows stay below 2^31 bytes are written: that is
// what the library's own decoder reads, and it keeps every size well inside
// 64-bit arithmetic. The image data takes one IDAT chunk unless the stream
// passes the PNG chunk limit, when it continues in further IDAT chunks.
//
// No state is kept: the CRC table is a constant.
#include "png/png.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "flate/flate.h"
#include "platform/file_io.h"

namespace {

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// The PNG standard's largest chunk data length.
constexpr uint32_t kMaxChunkData = 0x7FFFFFFFu;
// Chunk framing: length, type and CRC, 4 bytes each.
constexpr uint64_t kChunkOverhead = 12;
// Filtered rows (a filter byte and width * 4 bytes each) must stay below this,
// the largest raw image the decoder inflates.
constexpr uint64_t kMaxRawSize = uint64_t{1} << 31;

// The reflected CRC-32 of PNG and zlib (polynomial 0xEDB88320), a byte at a time.
constexpr std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}

constexpr std::array<uint32_t, 256> s_crc_table = make_crc_table();

// Returns the running CRC (not inverted) advanced over bytes.
uint32_t crc_update(uint32_t crc, const uint8_t *bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) crc = s_crc_table[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
  return crc;
}

void put_be32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

struct FreeDeleter {
  void operator()(void *p) const noexcept { std::free(p); }
};

// The growing file: a malloc'ed block and its length.
struct Output {
  unsigned char *data = nullptr;
  uint64_t length = 0;
  ~Output() { std::free(data); }
};

// Appends one chunk; returns false (the output unchanged) when memory runs out.
bool append_chunk(Output &out, const char *type, const uint8_t *data, uint32_t n) {
  const uint64_t before = out.length;
  png_chunk(&out.data, &out.length, type, data, n);
  return out.length != before;
}

// Returns the raw image: every row as filter byte 0 and its pixels, or null.
unsigned char *filtered_rows(size_t width, size_t height, const uint8_t *pixels, size_t raw_size) {
  auto *raw = static_cast<uint8_t *>(std::malloc(raw_size));
  if (raw == nullptr) return nullptr;
  const size_t row = width * 4;
  uint8_t *dst = raw;
  for (size_t y = 0; y < height; ++y) {
    *dst++ = 0;  // filter type None
    std::memcpy(dst, pixels + y * row, row);
    dst += row;
  }
  return raw;
}

unsigned char *encode(int width, int height, const unsigned char *pixels, uint64_t *out_length,
                      uint32_t idat_limit) {
  if (width <= 0 || height <= 0 || pixels == nullptr || out_length == nullptr || idat_limit == 0)
    return nullptr;
  const auto w = static_cast<uint64_t>(width);
  const auto h = static_cast<uint64_t>(height);
  // width and height are below 2^31, so a row stays below 2^34 bytes; the
  // limit is checked by division, before the product is formed.
  const uint64_t row_size = 1 + w * 4;
  if (h > (kMaxRawSize - 1) / row_size) return nullptr;
  const uint64_t raw_size = h * row_size;  // below 2^31

  unsigned char *z = nullptr;
  size_t z_len = 0;
  {
    std::unique_ptr<uint8_t, FreeDeleter> raw(
        filtered_rows(static_cast<size_t>(w), static_cast<size_t>(h), pixels,
                      static_cast<size_t>(raw_size)));
    if (!raw) return nullptr;
    if (tvl_deflate(raw.get(), static_cast<size_t>(raw_size), &z, &z_len) != 0) return nullptr;
  }
  const std::unique_ptr<uint8_t, FreeDeleter> stream(z);

  Output out;
  out.data = static_cast<unsigned char *>(std::malloc(sizeof kSignature));
  if (out.data == nullptr) return nullptr;
  std::memcpy(out.data, kSignature, sizeof kSignature);
  out.length = sizeof kSignature;

  uint8_t ihdr[13];
  put_be32(ihdr, static_cast<uint32_t>(width));
  put_be32(ihdr + 4, static_cast<uint32_t>(height));
  ihdr[8] = 8;    // bit depth
  ihdr[9] = 6;    // colour type RGBA
  ihdr[10] = 0;   // compression: zlib
  ihdr[11] = 0;   // filter method: adaptive, every row None here
  ihdr[12] = 0;   // no interlace
  if (!append_chunk(out, "IHDR", ihdr, sizeof ihdr)) return nullptr;

  const uint32_t limit = idat_limit < kMaxChunkData ? idat_limit : kMaxChunkData;
  size_t at = 0;
  do {
    const size_t left = z_len - at;
    const auto n = static_cast<uint32_t>(left < limit ? left : limit);
    if (!append_chunk(out, "IDAT", stream.get() + at, n)) return nullptr;
    at += n;
  } while (at < z_len);

  if (!append_chunk(out, "IEND", nullptr, 0)) return nullptr;
  *out_length = out.length;
  unsigned char *file = out.data;
  out.data = nullptr;
  return file;
}

}  // namespace

extern "C" uint32_t png_chunk(unsigned char **buffer, uint64_t *length, const char *type,
                              const unsigned char *data, uint32_t data_length) {
  if (buffer == nullptr || length == nullptr || type == nullptr) return 0;
  if (data == nullptr && data_length > 0) return 0;
  if (data_length > kMaxChunkData) return 0;
  const uint64_t old_length = *length;
  const uint64_t added = uint64_t{data_length} + kChunkOverhead;
  if (old_length > SIZE_MAX - added) return 0;
  auto *grown = static_cast<unsigned char *>(std::realloc(*buffer, static_cast<size_t>(old_length + added)));
  if (grown == nullptr) return 0;

  uint8_t *p = grown + old_length;
  put_be32(p, data_length);
  std::memcpy(p + 4, type, 4);
  if (data_length > 0) std::memcpy(p + 8, data, data_length);
  const uint32_t crc = ~crc_update(0xFFFFFFFFu, p + 4, size_t{data_length} + 4);
  put_be32(p + 8 + data_length, crc);

  *buffer = grown;
  *length = old_length + added;
  return crc;
}

extern "C" unsigned char *tvl_png_encode(int width, int height, const unsigned char *pixels,
                                         uint64_t *out_length) {
  return encode(width, height, pixels, out_length, kMaxChunkData);
}

unsigned char *png_internal::encode_with_idat_limit(int width, int height,
                                                     const unsigned char *pixels,
                                                     uint64_t *out_length, uint32_t idat_limit) {
  return encode(width, height, pixels, out_length, idat_limit);
}

extern "C" int tvl_png_write(const char *path, int width, int height, const unsigned char *pixels) {
  if (path == nullptr || path[0] == '\0') return 0;
  uint64_t length = 0;
  const std::unique_ptr<unsigned char, FreeDeleter> file(tvl_png_encode(width, height, pixels, &length));
  if (!file) return 0;
  try {
    const WriteResult r =
        replace_file(path, std::span<const uint8_t>(file.get(), static_cast<size_t>(length)));
    return r.status == WriteStatus::ok ? 1 : 0;
  } catch (...) {
    // Only the temporary file's name is allocated on the way.
    return 0;
  }
}
