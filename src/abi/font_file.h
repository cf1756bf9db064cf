// The font a text stamp is drawn in, for the length of one call: a font
// file read whole (or the host's bytes) and the face read from it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "font/font.h"

struct PreparedFont {
  std::unique_ptr<uint8_t[]> bytes;  // the file's contents; empty for the host's bytes
  FontFace face;                     // its spans point into bytes or the host's
};

// Returns true with face `index` of the font file at path read into font;
// false after setting the error.
bool prepare_font(const char *path, int32_t index, PreparedFont &font);

// The same for font bytes the host holds for the length of the call.
bool prepare_font_bytes(std::span<const uint8_t> bytes, int32_t index, PreparedFont &font);
