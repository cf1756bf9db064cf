/* PNG reading (whole files decoded to 8-bit RGBA) and writing (8-bit RGBA
 * to a file in memory or on disk). */
#ifndef FOLIMARK_PNG_H
#define FOLIMARK_PNG_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Returns a malloc'ed block of width*height*4 bytes (R, G, B, A per pixel,
 * rows top to bottom) decoded from the PNG file at path, with *width and
 * *height set to its size and *error to "". Returns NULL on failure with
 * *width and *height 0 and *error set to a message starting "png: ", valid
 * for the life of the program. The caller frees the pixels with free.
 *
 * Images of every standard colour type and bit depth are read, interlaced
 * (Adam7) or not; 16-bit samples give their high byte. tRNS gives alpha
 * for palette, gray and RGB images (a gray or RGB key is compared with the
 * full stored sample); a palette index beyond the palette gives opaque
 * black. CRCs are not checked and IEND is not required. No state is kept between calls,
 * so calls may overlap. */
unsigned char *tvl_png_decode(const char *path, int *width, int *height, const char **error);

/* The same for the size bytes of a PNG file at data. */
unsigned char *tvl_png_decode_mem(const unsigned char *data, size_t size, int *width, int *height,
                                  const char **error);

/* What a PNG's pHYs chunk says of the size of its pixels: x and y pixels
 * per unit, and the unit (1: the metre; 0: none, the two numbers giving
 * only the pixels' shape). The first pHYs chunk of 9 bytes before the
 * image data counts; all 0 without one. */
typedef struct PngDensity {
  uint32_t x;
  uint32_t y;
  uint8_t unit;
} PngDensity;

/* tvl_png_decode and tvl_png_decode_mem that also store the pHYs chunk's
 * density in *density when it is not NULL (all 0 on failure). */
unsigned char *tvl_png_decode_density(const char *path, int *width, int *height,
                                      PngDensity *density, const char **error);
unsigned char *tvl_png_decode_mem_density(const unsigned char *data, size_t size, int *width,
                                          int *height, PngDensity *density, const char **error);

/* PNG writing: 8-bit RGBA pixels to the simplest valid file (signature,
 * IHDR of colour type 6, the image data as one zlib stream from tvl_deflate
 * with filter type 0 on every row, IEND). */

/* Returns the CRC-32 of the chunk it appends to the malloc'ed block *buffer
 * of *length bytes: data_length (4 bytes, big-endian), the 4 type bytes, the
 * data, and the CRC of type and data. The block is enlarged with one realloc
 * and *length advanced by data_length + 12. On failure (memory, a NULL
 * buffer, length or type pointer, NULL data with data_length above 0, or
 * data_length above the PNG chunk limit 2^31 - 1) it returns 0 and leaves
 * *buffer and *length as they were; a CRC may itself be 0, so callers tell
 * success by *length growing. */
uint32_t png_chunk(unsigned char **buffer, uint64_t *length, const char *type,
                   const unsigned char *data, uint32_t data_length);

/* Returns a malloc'ed PNG file of the width x height image at pixels (R, G,
 * B, A per pixel, rows top to bottom, width*height*4 bytes) and stores its
 * size in *out_length; the caller frees it with free. Returns NULL, with
 * *out_length untouched, when width or height is not above 0, when pixels or
 * out_length is NULL, when the image is too large (its filtered rows must stay
 * below 2^31 bytes, as the decoder requires) or when memory runs out. */
unsigned char *tvl_png_encode(int width, int height, const unsigned char *pixels,
                              uint64_t *out_length);

/* Returns 1 after writing the PNG file of the image (as tvl_png_encode makes
 * it) to path, or 0 when the arguments are refused, encoding fails, or the
 * file cannot be written whole. The file appears only once every byte is
 * written, so a failure leaves any earlier file at path as it was and no
 * partial file behind. */
int tvl_png_write(const char *path, int width, int height, const unsigned char *pixels);

#ifdef __cplusplus
}

namespace png_internal {
// Returns what tvl_png_encode returns, with the image data spread over IDAT
// chunks of at most idat_limit bytes (at least 1). tvl_png_encode uses the
// PNG chunk limit, which only images of gigabytes reach; tests reach the
// splitting with small ones.
unsigned char *encode_with_idat_limit(int width, int height, const unsigned char *pixels,
                                      uint64_t *out_length, uint32_t idat_limit);
}  // namespace png_internal
#endif

#endif /* FOLIMARK_PNG_H */
