/* JPEG files: reading them whole and probing their frame header. */
#ifndef FOLIMARK_JPEG_H
#define FOLIMARK_JPEG_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A whole file in memory; data is malloc'ed and freed by its owner with free. */
typedef struct JpegFileSpan {
  unsigned char *data;
  uint64_t size;
} JpegFileSpan;

/* Returns 1 after reading the whole file at path (more than one byte and
 * less than 2 GiB) into a new malloc'ed buffer stored in *span, which the
 * caller frees; 0 otherwise (unreadable, too small or too large, out of
 * memory), with span->data NULL and span->size 0. */
int jpg_read_file(const char *path, JpegFileSpan *span);

/* Returns 1 with the width, height and component count (1 to 4) of the
 * first baseline or progressive frame header of the JPEG file at path; 0,
 * touching none of the results, when the file cannot be read or no usable
 * frame header precedes the first malformed or truncated segment. The walk
 * starts at offset 2: the caller has checked the start-of-image marker.
 * Other frame types (extended sequential, lossless, arithmetic) are skipped
 * like any segment, so a file whose only frame is one of them fails. */
int tvl_jpeg_info(const char *path, int *width, int *height, int *components);

/* The same probe over the size bytes at data, already in memory; it never
 * reads outside them. Five bytes or fewer, or a NULL pointer, give 0. */
int tvl_jpeg_info_mem(const unsigned char *data, size_t size, int *width, int *height,
                      int *components);

/* What the header segments of a JPEG file say of its picture. */
typedef struct JpegHeader {
  int width, height, components; /* of the frame, as tvl_jpeg_info gives them */
  /* 1 when an Adobe segment (APP14) comes before the first scan, with its
   * colour transform (0: none, RGB or CMYK; 1: YCbCr; 2: YCCK); the last
   * such segment counts. Adobe files of four components store their
   * samples inverted. */
  int adobe;
  int adobe_transform;
  /* The pixel density of the last JFIF segment (APP0) before the first
   * scan: unit 1 dots per inch, 2 dots per cm, 0 (also without a JFIF
   * segment) the densities give the aspect ratio only; densities 0
   * without a JFIF segment. */
  int density_unit;
  int x_density, y_density;
} JpegHeader;

/* Returns 1 after filling *header from the bytes at data, 0 (touching
 * nothing) when tvl_jpeg_info_mem finds no usable frame header. After the
 * frame header the walk goes on to the first scan header for the Adobe and
 * JFIF segments; a segment there that is malformed or truncated ends it,
 * keeping what was found before. */
int tvl_jpeg_header_mem(const unsigned char *data, size_t size, JpegHeader *header);

/* --- Encoder: baseline JPEG files from RGBA pixels. --- */

/* Returns a malloc'ed baseline sequential JFIF file, which the caller frees
 * with free, of the width x height pixels at rgba (4 bytes each: R, G, B and
 * an ignored A; rows from the top, 4 * width bytes each), with its size in
 * *out_len. Three full-resolution components, no restart markers; quality
 * picks one of four fixed table sets: up to 57, 58 to 66, 67 to 77, 78 and
 * above. NULL when width or height is not in 1..65535, rgba or out_len is
 * NULL (out_len then untouched), or memory runs out (*out_len then 0). */
unsigned char *tvl_jpeg_write_mem(int width, int height, const unsigned char *rgba, int quality,
                                  size_t *out_len);

/* Encodes as tvl_jpeg_write_mem at quality 75 and writes the file at path
 * (opened with "wb"). Returns 1 when every byte was written and the file
 * closed without error; 0 on bad arguments (no file is made then), failed
 * encoding, or when the file cannot be opened, written or closed. */
int tvl_jpeg_write(const char *path, int width, int height, const unsigned char *rgba);

/* ---- Baseline JPEG decoding ------------------------------------------- */

/* Returns a malloc'ed block of width*height*4 bytes (R, G, B, A = 255 per
 * pixel, rows top to bottom) decoded from the size bytes at data, with
 * *width and *height set to the picture's size and *message to "". Returns
 * NULL on failure with *width and *height 0 and *message pointing to a
 * constant text starting "jpeg: ". The caller frees the pixels with free.
 *
 * Sequential Huffman-coded 8-bit frames (SOF0, SOF1) are decoded, in one
 * interleaved scan or in several scans; progressive and other frame types
 * are refused. Subsampled components are upsampled by repetition. One or
 * two components give gray (the first component), three YCbCr (or RGB when
 * an Adobe segment or the component names say so), four CMYK or YCCK (as
 * Adobe stores them when its segment is present). Data that ends early at
 * an end-of-image marker gives the picture with the blocks not reached
 * flat at sample value 128. No state is kept between calls, so calls may
 * overlap. Any pointer argument may be NULL except data when size is not
 * 0. */
unsigned char *tvl_jpeg_decode_impl(const unsigned char *data, uint64_t size, int *width,
                                    int *height, const char **message);

/* Reads the whole file at path and decodes it as tvl_jpeg_decode_impl;
 * "jpeg: cannot read file" when it cannot be read. */
unsigned char *tvl_jpeg_decode(const char *path, int *width, int *height, const char **message);

#ifdef __cplusplus
}
#endif

#endif /* FOLIMARK_JPEG_H */
