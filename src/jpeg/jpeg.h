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

#ifdef __cplusplus
}
#endif

#endif /* FOLIMARK_JPEG_H */
