// The widths of the stamp's text: the advance widths of the standard
// Helvetica font in WinAnsiEncoding, summed as a PDF text show (Tj) places
// the glyphs, without kerning. Only Helvetica is measured, and only its
// advance widths (no glyph bounding boxes).
#pragma once

#include <string_view>

// Returns the width, in points, of WinAnsi code bytes shown in Helvetica at
// font_size points.
double winansi_text_width(std::string_view winansi_bytes, double font_size);

// Returns the width, in points, of one line of UTF-8 text (no line end) as
// the stamp shows it in Helvetica at font_size points.
double utf8_line_width(std::string_view utf8_line, double font_size);
