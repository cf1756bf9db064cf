/* folimark: stamps text, the local date and time, or a picture onto the pages
 * of an existing PDF file and writes the result as a new PDF.
 *
 * Every stamping function reads input_path, writes a complete new file at
 * output_path (which may name the input) and returns 1 on success or 0 on
 * failure. After a failure folimark_last_error() describes what went wrong;
 * after a success it returns the empty string.
 *
 * Coordinates and sizes are in PDF points (1/72 inch), measured from the
 * lower-left corner of each page's visible box. Colours are 0..255 per
 * component; opacity runs from 0 (invisible) to 1 (opaque).
 *
 * The library keeps one process-wide error buffer and is not thread-safe:
 * a host that stamps from several threads must serialise its calls. */
#ifndef FOLIMARK_H
#define FOLIMARK_H

#if defined(_WIN32)
#  if defined(FOLIMARK_BUILDING)
#    define FOLIMARK_API __declspec(dllexport)
#  elif defined(FOLIMARK_STATIC)
#    define FOLIMARK_API
#  else
#    define FOLIMARK_API __declspec(dllimport)
#  endif
#else
#  define FOLIMARK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Returns 1. Empties the last-error text; calling it is optional. */
FOLIMARK_API int folimark_init(void);

/* Empties the last-error text. The library holds no other resources. */
FOLIMARK_API void folimark_cleanup(void);

/* Returns 1 after stamping text (lines separated by '\n', UTF-8) on every
 * page, at (x, y) with the given font size (24 when 0 or less), opacity,
 * counter-clockwise rotation in degrees and colour. A NULL text stamps an
 * empty text. */
FOLIMARK_API int folimark_text(const char *input_path, const char *output_path,
                               const char *text, float x, float y, int font_size,
                               float opacity, float rotation,
                               int red, int green, int blue);

/* Returns 1 after stamping black, unrotated text on the listed pages
 * (numbered from 1; duplicates and order do not matter). */
FOLIMARK_API int folimark_text_pages(const char *input_path, const char *output_path,
                                     const char *text, float x, float y, int font_size,
                                     float opacity, const int *pages, int page_count);

/* Returns 1 after stamping the current local date and time on every page.
 * format is a strftime format (when it contains '%') or a picture made of
 * tokens such as YYYY, MM, DD, HH, mm and ss (NULL or "" gives
 * "%Y-%m-%d %H:%M:%S"). */
FOLIMARK_API int folimark_datetime(const char *input_path, const char *output_path,
                                   const char *format, float x, float y, int font_size);

/* Returns 1 after stamping a PNG or JPEG picture on every page with its
 * lower-left corner at (x, y), scale points per pixel (1 when 0 or less). */
FOLIMARK_API int folimark_image(const char *input_path, const char *output_path,
                                const char *image_path, float x, float y,
                                float scale, float opacity);

/* Returns the text of the last failure, or the empty string. Never NULL;
 * the pointer stays valid, its contents change with the next call. */
FOLIMARK_API const char *folimark_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* FOLIMARK_H */
