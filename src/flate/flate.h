/* DEFLATE in both directions: a zlib-stream compressor and a raw DEFLATE
 * decompressor into a caller's buffer. Both keep their working state per
 * call, so concurrent calls are safe. */
#ifndef FOLIMARK_FLATE_H
#define FOLIMARK_FLATE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Returns 0 after storing in *out a malloc'ed zlib stream (RFC 1950) of the
 * len bytes at src and its length in *out_len; the caller frees it with free.
 * Returns -1 when memory runs out; *out and *out_len are then untouched.
 * The same input always gives the same bytes. */
int tvl_deflate(const unsigned char *src, size_t len, unsigned char **out, size_t *out_len);

/* Returns the number of bytes written to dst after decoding the raw DEFLATE
 * data (RFC 1951, no zlib header) at src up to and including its final block,
 * or -1 for damaged or truncated data or output that would pass dst_cap.
 * dst_cap must be below 2^31. Data after the final block is ignored. */
int tvl_inflate(const unsigned char *src, size_t src_len, unsigned char *dst, size_t dst_cap);

#ifdef __cplusplus
}
#endif

#endif /* FOLIMARK_FLATE_H */
