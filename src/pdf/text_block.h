// The lines of a text stamp as a block: its font size and leading, each
// line in the fonts that draw it, each line's start within the block's
// width, and the box the block covers around its origin (the start of the
// first line's baseline), from the font's advance widths, ascent and
// descent.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pdf/placement.h"
#include "pdf/stamp_request.h"
#include "pdf/text_font.h"

struct TextBlock {
  double font_size = 0;
  double leading = 0;
  std::vector<EncodedLine> lines;  // without line ends
  std::vector<double> starts;      // each line's x within the block
  bool uses_extra_font = false;    // some run is drawn in the extra built-in font
  bool embedded = false;           // drawn in the embedded font: the codes are glyph ids
  GlyphChars glyphs;               // the embedded font's glyphs that the lines show
  BlockBox box;
};

// Returns the lines of the request's text: split at LF, a CR before it
// dropped; a final LF ends the last line without adding one.
std::vector<std::string_view> text_lines(const char *text);

// Returns the font size and leading the request asks for (24 and 28.8 when
// it names no size).
double stamp_font_size(const StampRequest &request);
double stamp_leading(const StampRequest &request);

// Returns true with the request's text laid out as a block, its lines
// aligned; false with error naming a character the font cannot show.
bool layout_text_block(const StampRequest &request, Align align, TextBlock &block,
                       std::string &error);
