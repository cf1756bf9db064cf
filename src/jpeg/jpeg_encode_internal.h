// Internal entry of the JPEG encoder with a replaceable allocator, so that
// tests can make any allocation of a call fail, and the per-pixel pieces
// the encoder is built from. Not part of the library's interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jpeg_enc {

// The block handed back comes from allocate and is given to the caller, who
// frees it with the counterpart of these functions (for tvl_jpeg_write_mem:
// malloc, realloc and free). reallocate must leave the old block valid when
// it fails, as realloc does.
struct EncodeAllocator {
  void *(*allocate)(void *ctx, size_t size);
  void *(*reallocate)(void *ctx, void *block, size_t size);
  void (*release)(void *ctx, void *block);
  void *ctx;
};

// tvl_jpeg_write_mem with the given allocator: the same arguments, checks
// and result. When an allocation fails, everything allocated is released,
// the result is null and *out_len stays 0.
unsigned char *encode_with_allocator(int width, int height, const unsigned char *rgba,
                                     int quality, size_t *out_len, const EncodeAllocator &alloc);

// The quantisation table set (0 to 3) that a quality argument selects.
constexpr int quality_table_set(int quality) {
  if (quality <= 57) return 0;
  if (quality <= 66) return 1;
  if (quality <= 77) return 2;
  return 3;
}

struct Ycc {
  uint8_t y, cb, cr;
};

// One pixel's luminance and chrominance in double precision: Y rounded to
// nearest, Cb and Cr truncated. Every 8-bit colour gives values in 0..255
// (checked over all of them by the tests), so the narrowing conversions are
// defined.
inline Ycc rgb_to_ycc(int r, int g, int b) {
  const double R = r, G = g, B = b;
  const double y = 0.299 * R + 0.587 * G + 0.114 * B + 0.5;
  const double cb = -0.168736 * R - 0.331264 * G + 0.5 * B + 128;
  const double cr = 0.5 * R - 0.418688 * G - 0.081312 * B + 128;
  return {static_cast<uint8_t>(static_cast<int>(y)), static_cast<uint8_t>(static_cast<int>(cb)),
          static_cast<uint8_t>(static_cast<int>(cr))};
}

}  // namespace jpeg_enc
