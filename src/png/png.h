/* PNG reading: whole files decoded to 8-bit RGBA. */
#ifndef FOLIMARK_PNG_H
#define FOLIMARK_PNG_H

#ifdef __cplusplus
extern "C" {
#endif

/* Returns a malloc'ed block of width*height*4 bytes (R, G, B, A per pixel,
 * rows top to bottom) decoded from the PNG file at path, with *width and
 * *height set to its size and *error to "". Returns NULL on failure with
 * *width and *height 0 and *error set to a message starting "png: ", valid
 * for the life of the program. The caller frees the pixels with free.
 *
 * Non-interlaced images of every standard colour type and bit depth are
 * read; 16-bit samples give their high byte. tRNS gives alpha for palette,
 * gray and RGB images (a gray or RGB key is compared with the full stored
 * sample); a palette index beyond the palette gives opaque black. CRCs are
 * not checked and IEND is not required. No state is kept between calls,
 * so calls may overlap. */
unsigned char *tvl_png_decode(const char *path, int *width, int *height, const char **error);

#ifdef __cplusplus
}
#endif

#endif /* FOLIMARK_PNG_H */
