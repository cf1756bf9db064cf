// The widths of the built-in font: the advance widths of the standard
// Helvetica font, by WinAnsiEncoding code, summed as a PDF text show (Tj)
// places the glyphs, without kerning. Only advance widths are known (no
// glyph bounding boxes).
#pragma once

#include <cstdint>
#include <string_view>

// Returns the advance width, in 1/1000 em, of the WinAnsi code in Helvetica.
uint16_t helvetica_winansi_width(uint8_t code);

// Returns the width, in points, of WinAnsi code bytes shown in Helvetica at
// font_size points.
double winansi_text_width(std::string_view winansi_bytes, double font_size);
