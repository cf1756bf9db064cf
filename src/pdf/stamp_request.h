// The request every stamping export fills and hands to the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

enum StampKind : int32_t { STAMP_TEXT = 0, STAMP_IMAGE = 1 };

struct StampPlacement;
struct FontFace;

// One stamp, built zero-filled on the export's stack for one call. Pointers
// refer to memory owned by the export (or the host) for the call's duration.
struct StampRequest {
  int32_t kind;                 // STAMP_TEXT, or any other value for an image
  const char *text;             // UTF-8, lines separated by '\n'; NULL or "" shows nothing
  // The font the text is drawn in, embedded; NULL: the built-in Helvetica.
  const FontFace *font;
  double font_size;             // points; 0 or less means 24
  float rotation;               // degrees, counter-clockwise about the origin
  int32_t color_r, color_g, color_b;  // 0..255, clamped
  int32_t image_is_jpeg;        // non-zero: jpeg_data is a whole JPEG file
  int32_t image_width, image_height;  // pixels
  int32_t image_components;     // JPEG only: 1 is gray, 4 CMYK, anything else RGB
  int32_t image_inverted;       // JPEG only, non-zero: samples stored inverted (Adobe CMYK)
  const uint8_t *jpeg_data;
  size_t jpeg_size;
  const uint8_t *rgb_data;      // zlib stream of width*height*3 bytes
  size_t rgb_size;
  const uint8_t *alpha_data;    // zlib stream of width*height bytes
  size_t alpha_size;
  int32_t has_alpha;
  // Points per pixel across and up the picture; 0 or less means 1.
  float image_scale_x, image_scale_y;
  // The picture's size in points, when given (0: from the scales); with one
  // of the two given the other keeps the aspect ratio the scales give it.
  float image_box_width, image_box_height;
  float x, y;                   // offset from the page box's lower-left corner
  // NULL: the origin stands at (x, y) from the visible box's lower-left
  // corner in the page's own space. Otherwise where the stamp's block stands
  // (x and y are then not used).
  const StampPlacement *placement;
  float opacity;                // clamped to 0..1 in place by the engine
  const int32_t *pages;         // 1-based page numbers, or NULL for every page
  int32_t page_count;           // how many; 0 selects no page
  // A page selection ("1,3-z", "odd", ...) read once the page count is
  // known; NULL or "" for the pages above.
  const char *page_selection;
  int32_t layer_under;          // non-zero: drawn before the page's content, under it
  // Whether an encrypted document is opened at all, and with which
  // password (NULL: the empty user password).
  bool open_encrypted = false;
  const char *password = nullptr;
};

// Returns 1 once the output file is written and closed (g_err is then
// empty), 0 after setting g_err.
int execute_stamp(const char *input_path, const char *output_path, StampRequest *request);

// The same for an input held in memory; name stands for it in messages.
int execute_stamp_bytes(std::span<const uint8_t> input, const char *name, const char *output_path,
                        StampRequest *request);

// The document to stamp: the file at name, or bytes in memory for which
// name stands in messages.
struct StampSource {
  const char *name = nullptr;
  bool in_memory = false;
  std::span<const uint8_t> bytes;
};
struct OutputTarget;

// The same from either kind of source into either kind of target.
int execute_stamp_source(const StampSource &source, const OutputTarget &target,
                         StampRequest *request);
