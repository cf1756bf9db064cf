// The stamp's text in the fonts that draw it: each line cut into runs of
// one font, each character as its code in that font, and the line's
// advance width.
//
// The built-in font is Helvetica, not embedded, in two font dictionaries:
// the main one in WinAnsiEncoding, and an extra one whose /Differences give
// codes to the glyphs of Helvetica's standard Latin set that WinAnsi lacks
// (Ł, ő, Ş, ... see helvetica_glyphs.h). The extra one is added only when
// the text needs it. Tabs show as spaces; other control characters show
// nothing; a byte that starts no UTF-8 sequence stands for its WinAnsi
// character, so Latin-1 text reads as it always did. A character neither
// dictionary holds is an error, never a stand-in glyph.
//
// An embedded font (font/font.h) draws a line as one run of glyph ids, two
// bytes each, shown as a hexadecimal string through Identity-H.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "font/font.h"
#include "pdf/string_value.h"  // the show strings' writers

// Which of the stamp's font resources a run is drawn in: the main one (the
// built-in Helvetica, or the embedded font), or the built-in font's extra one.
enum class RunFont : uint8_t { main = 0, extra = 1 };

// A piece of a line drawn in one font.
struct TextRun {
  RunFont font = RunFont::main;
  std::string codes;  // the show string's bytes: one code per character, two for a glyph id
};

// One line in its fonts, and its advance width in 1/1000 of the font size.
struct EncodedLine {
  std::vector<TextRun> runs;  // none for a line that shows nothing
  double width_units = 0;
};

// Returns true with the UTF-8 line encoded in the built-in Helvetica, or
// false with error naming the first character it has no glyph for
// ("character U+4E2D '中' is not in the built-in font; give a font file").
bool encode_builtin_line(std::string_view line, EncodedLine &out, std::string &error);

// Returns true with the UTF-8 line encoded in the embedded font, its glyphs
// added to used; false with error naming a character the font lacks.
bool encode_embedded_line(const FontFace &face, std::string_view line, EncodedLine &out,
                          GlyphChars &used, std::string &error);

// The extra Helvetica's font dictionary, as written in the output.
std::string builtin_extra_font_dict();
