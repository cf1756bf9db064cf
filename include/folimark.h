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
 * These seven functions share one process-wide error buffer: a host that
 * calls them from several threads must serialise those calls. The extended
 * interface below the seven is safe to call from several threads at once. */
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

#include <stddef.h>
#include <stdint.h>

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
 * empty text. Text is drawn in the built-in Helvetica, which shows the
 * Windows-1252 characters and the rest of Helvetica's Latin set (Central
 * European, Baltic and Turkish letters among them); a tab is a space, and
 * a character outside that set fails the call with a message naming it. */
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


/* ---------------------------------------------------------------------
 * The extended interface
 *
 * One call, folimark_stamp, takes every option of every kind of stamp in a
 * folimark_options record. Fill the record with folimark_options_init, set
 * what differs from the defaults, and call:
 *
 *     folimark_options o;
 *     folimark_options_init(&o, sizeof o);
 *     o.kind = FOLIMARK_KIND_TEXT;
 *     o.input_path = "in.pdf";
 *     o.output_path = "out.pdf";
 *     o.text = "PAID";
 *     o.anchor = FOLIMARK_ANCHOR_TOP_RIGHT;
 *     o.x = 36; o.y = 36;
 *     o.red = 200;
 *     o.pages = "1";
 *     if (folimark_stamp(&o, NULL, NULL) != FOLIMARK_OK)
 *         fprintf(stderr, "%s\n", folimark_error_message());
 *
 * Calls from several threads at once are safe as long as no two of them
 * write the same output file. Each thread has its own last error. Paths are
 * UTF-8 on every system, Windows included. An option out of its range is
 * refused with FOLIMARK_ERROR_ARGUMENT and a message naming the field; no
 * value is clamped.
 *
 * The record only grows: fields are added at its end, and its first field
 * holds the size the host was built with, so that a host built against this
 * header keeps working with later versions of the library.
 * ------------------------------------------------------------------- */

/* The kinds of stamp. */
#define FOLIMARK_KIND_TEXT 0     /* the lines of text */
#define FOLIMARK_KIND_DATETIME 1 /* the current local date and time in the format of text */
#define FOLIMARK_KIND_PICTURE 2  /* a PNG or JPEG picture */

/* The nine points of the page's visible box an anchor names. */
#define FOLIMARK_ANCHOR_BOTTOM_LEFT 0
#define FOLIMARK_ANCHOR_BOTTOM 1
#define FOLIMARK_ANCHOR_BOTTOM_RIGHT 2
#define FOLIMARK_ANCHOR_LEFT 3
#define FOLIMARK_ANCHOR_CENTER 4
#define FOLIMARK_ANCHOR_RIGHT 5
#define FOLIMARK_ANCHOR_TOP_LEFT 6
#define FOLIMARK_ANCHOR_TOP 7
#define FOLIMARK_ANCHOR_TOP_RIGHT 8

/* How the lines of a text stand within the block. */
#define FOLIMARK_ALIGN_LEFT 0
#define FOLIMARK_ALIGN_CENTER 1
#define FOLIMARK_ALIGN_RIGHT 2

/* Where the stamp is drawn: over the page's content, or under it. */
#define FOLIMARK_LAYER_OVER 0
#define FOLIMARK_LAYER_UNDER 1

/* The space positions are measured in. */
#define FOLIMARK_SPACE_DISPLAYED 0 /* the page as the reader sees it, after its /Rotate */
#define FOLIMARK_SPACE_PAGE 1      /* the page's own unrotated space */

/* Results of folimark_stamp. */
#define FOLIMARK_OK 0
#define FOLIMARK_ERROR_ARGUMENT 1    /* an option is missing or out of its range */
#define FOLIMARK_ERROR_READ 2        /* an input (document or picture) cannot be read */
#define FOLIMARK_ERROR_DAMAGED 3     /* not a PDF, or damaged beyond repair; a picture or a
                                        font that cannot be decoded */
#define FOLIMARK_ERROR_ENCRYPTED 4   /* the document is encrypted in a way the library does
                                        not open (a public-key or unknown security handler) */
#define FOLIMARK_ERROR_UNSUPPORTED 5 /* valid input the library cannot stamp (a picture format, a
                                        signature that permits no changes, ...) */
#define FOLIMARK_ERROR_WRITE 6       /* the output cannot be written */
#define FOLIMARK_ERROR_MEMORY 7      /* memory ran out */
#define FOLIMARK_ERROR_PASSWORD 8    /* the document is encrypted and the password given (or the
                                        empty one, when none is given) does not open it */
#define FOLIMARK_ERROR_PERMISSION 9  /* the document's permissions forbid changing it, and the
                                        password given is not its owner password */

typedef struct folimark_options {
  /* The size of this record as the host knows it: sizeof(folimark_options).
   * Set by folimark_options_init. */
  uint32_t size;
  /* FOLIMARK_KIND_TEXT (default), FOLIMARK_KIND_DATETIME or FOLIMARK_KIND_PICTURE. */
  int32_t kind;

  /* The document: a path, or input_size bytes at input_data (which the call
   * only reads). Exactly one of the two. */
  const char *input_path;
  const unsigned char *input_data;
  size_t input_size;
  /* The output file; it may name the input. NULL: the stamped document is
   * handed back in memory (see folimark_stamp). Default NULL. */
  const char *output_path;

  /* FOLIMARK_KIND_TEXT: the text, UTF-8, lines separated by '\n'; required.
   * It is drawn in the font given by font_path or font_data, or else in the
   * built-in Helvetica (see folimark_text for the characters it shows).
   * FOLIMARK_KIND_DATETIME: the format, a strftime format (when it contains
   * '%') or a picture of the tokens YYYY, YY, MM, DD, HH, mm and ss, where a
   * part between single quotes ('PAID' DD.MM.YYYY) is copied as it stands
   * and '' is one quote; NULL or "" is "%Y-%m-%d %H:%M:%S". */
  const char *text;
  /* FOLIMARK_KIND_PICTURE: the PNG or JPEG picture, a path or picture_size
   * bytes at picture_data. Exactly one of the two. */
  const char *picture_path;
  const unsigned char *picture_data;
  size_t picture_size;

  /* The pages to stamp: NULL or "" for every page, else a selection such as
   * "1", "1,3,5-9", "z" (the last page), "r1" (the last, counting from the
   * end), "2-z", "odd", "even", "1-z:even", "1-10,x5" (all but 5). A range
   * that runs past the end stops at the last page; a single page past the
   * end is an error. Default NULL. */
  const char *pages;

  /* Offsets in points from the anchor, measured inward: from a left anchor
   * x runs right, from a right one left; from a bottom anchor y runs up,
   * from a top one down; from the centre, right and up. Finite, at most
   * 1e6 in size. Default 0, 0. */
  double x, y;
  /* Text: the font size in points, above 0 and at most 10000. Default 24. */
  double font_size;
  /* 0 (invisible) to 1 (opaque). Default 1. */
  double opacity;
  /* Degrees counter-clockwise about the anchor point; finite. Default 0. */
  double rotation;
  /* Picture: points per pixel, above 0 and at most 1000; or 0 (default):
   * from the resolution the picture states (a PNG's pHYs chunk in pixels
   * per metre, a JPEG's JFIF density in dots per inch or per cm; different
   * horizontal and vertical densities give different scales), else 1 point
   * per pixel. Not used when width or height is set. */
  double scale;
  /* Picture: width and height in points, 0 (default) or above 0 and at most
   * 1e6. One of them set: the other follows the picture's aspect ratio (as
   * its resolution shapes it, when scale is 0). */
  double width, height;
  /* Text: the colour, 0..255 per component. Default 0, 0, 0 (black). */
  int32_t red, green, blue;
  /* A FOLIMARK_ANCHOR_ value. Default FOLIMARK_ANCHOR_BOTTOM_LEFT. */
  int32_t anchor;
  /* Text: a FOLIMARK_ALIGN_ value. Default FOLIMARK_ALIGN_LEFT. */
  int32_t align;
  /* FOLIMARK_LAYER_OVER (default) or FOLIMARK_LAYER_UNDER. */
  int32_t layer;
  /* FOLIMARK_SPACE_DISPLAYED (default) or FOLIMARK_SPACE_PAGE. */
  int32_t space;

  /* The fields below came after the record's first version: a host built
   * against that header passes a smaller size, and they keep their
   * defaults. */

  /* Text and date/time: the font the text is drawn in, a TrueType or
   * OpenType file (.ttf, .otf, or a .ttc collection with font_index naming
   * the face): a UTF-8 path, or font_data_size bytes at font_data (which the
   * call only reads). At most one of the two. Default NULL, NULL: the
   * built-in Helvetica. The glyphs the text uses are embedded (TrueType
   * outlines as a subset of the font, CFF outlines with the whole font), so
   * that any script the font covers is drawn, searchable and copyable, one
   * glyph per character (no kerning, ligatures or complex shaping). A
   * character the font lacks fails the call with a message that names it;
   * so does a font whose licence forbids embedding. Not used for pictures. */
  const char *font_path;
  const unsigned char *font_data;
  size_t font_data_size;
  /* The face of a font collection, counted from 0; 0 or more, and 0 for a
   * single font. Default 0. */
  int32_t font_index;

  /* An encrypted document's password, UTF-8: its user password, or its
   * owner password. NULL (default): the empty user password, with which
   * most encrypted documents open. The output stays encrypted as the input
   * is (the same security handler, permissions and passwords). A document
   * whose permissions forbid changing it is stamped only with its owner
   * password. */
  const char *password;
} folimark_options;

/* Fills options with the defaults and sets its size; size is the host's
 * sizeof(folimark_options). Returns FOLIMARK_OK, or FOLIMARK_ERROR_ARGUMENT
 * when options is NULL or size is smaller than the first version's record. */
FOLIMARK_API int folimark_options_init(folimark_options *options, size_t size);

/* Stamps as options say. Returns FOLIMARK_OK, or a FOLIMARK_ERROR_ code with
 * folimark_error_message() saying what went wrong; after a failure no
 * output exists and a file at output_path is as it was.
 * With options->output_path NULL, *output_data receives the stamped
 * document and *output_size its size; release it with folimark_free. With
 * an output path both may be NULL; when given they are set to NULL and 0. */
FOLIMARK_API int folimark_stamp(const folimark_options *options, unsigned char **output_data,
                                size_t *output_size);

/* Releases a block the library handed to the host; NULL is ignored. */
FOLIMARK_API void folimark_free(void *data);

/* The calling thread's last result of folimark_stamp: its code
 * (FOLIMARK_OK after a success) and its message ("" after a success). The
 * message stays valid on this thread until its next call. */
FOLIMARK_API int folimark_error_code(void);
FOLIMARK_API const char *folimark_error_message(void);

/* Returns the library's version as text ("0.2.0"), and its numbers through
 * the pointers that are not NULL. */
FOLIMARK_API const char *folimark_version(int *major, int *minor, int *patch);

#ifdef __cplusplus
}
#endif

#endif /* FOLIMARK_H */
