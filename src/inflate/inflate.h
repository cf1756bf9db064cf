/* A self-contained zlib decompressor that can also just measure the
 * decompressed size, and the undoing of PNG row filters. Neither keeps state
 * between calls, so calls may overlap. */
#ifndef FOLIMARK_INFLATE_H
#define FOLIMARK_INFLATE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Passed as dst, selects count-only mode: nothing is written and only the
 * size of the decompressed data is worked out (dst_cap is then not a limit). */
#define INFLATE_COUNT_ONLY ((unsigned char *)~(uintptr_t)0)

/* Returns 0 with *out_len set to the bytes written to dst after decoding the
 * zlib stream (RFC 1950) at src, or -1 with *out_len 0.
 *
 * -1 stands for a refused call or a lack of room: src_len below 2, NULL src or
 * out_len, NULL dst with dst_cap above 0, dst_cap above 2^30, a header whose
 * method is not 8 or that asks for a preset dictionary, input that ends too
 * soon, or output that would pass dst_cap. The header's window size and check
 * value are not examined, nor the Adler-32 trailer, which may be missing.
 *
 * Damaged data stops decoding where it is found and gives 0 with *out_len the
 * bytes produced until then, so a result of 0 alone does not tell a whole
 * stream from one cut short by bad data. Damage is: block type 3, a stored
 * length whose complement does not match, more than 286 literal/length or 30
 * distance codes, an incomplete code-length code, a repeat without a previous
 * length or past the end of the lengths, no end-of-block code, an
 * over-subscribed or incomplete code (one code of one bit excepted), a bit
 * pattern that is no code, literal/length symbol 286 or 287, and a distance
 * before the start of the output. */
int inflate_decompress(const unsigned char *src, size_t src_len, unsigned char *dst, size_t dst_cap,
                       size_t *out_len);

/* Returns 0 after undoing in place the PNG filters of the rows at buf (each a
 * filter-type byte followed by stride bytes, len bytes in all): the rows then
 * stand back to back without their filter bytes at the start of buf, and the
 * bytes after them mean nothing. A final row of fewer than stride + 1 bytes is
 * left alone. The left neighbour of a byte is the byte before it, as in images
 * of one byte per pixel. Returns -1 for stride 0 or less, and for a filter
 * type above 4, with the rows before that one already reconstructed, and
 * for a NULL buf with len above 0. */
int inflate_png_unfilter(unsigned char *buf, size_t len, int stride);

/* Returns the number of rows rebuilt in place from the PNG-filtered rows at
 * buf, as inflate_png_unfilter does, for pixels of bpp bytes: the left
 * neighbour of a byte is the one bpp bytes before it. Stops before a row
 * whose filter type is above 4 and before a final row of fewer than
 * stride + 1 bytes. Returns 0 for a NULL buf, a stride or a bpp of 0. */
size_t inflate_png_unfilter_rows(unsigned char *buf, size_t len, size_t stride, size_t bpp);

#ifdef __cplusplus
}
#endif

#endif /* FOLIMARK_INFLATE_H */
