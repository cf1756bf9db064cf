// Embedded TrueType and OpenType fonts for text stamps. A face is read from
// a .ttf, an .otf (CFF outlines) or one face of a .ttc collection; text
// becomes glyphs one character at a time through the font's Unicode
// character map; the glyphs a stamp shows become a subset of the font
// (TrueType outlines) that keeps their glyph ids, described to PDF as a
// Type 0 font with Identity-H encoding, the glyphs' widths and a ToUnicode
// CMap, so that the text is drawn, searchable and copyable.
//
// Not supported: kerning and complex shaping (one glyph per character, no
// ligatures, joining or reordering), vertical writing, variable fonts'
// instances other than the default, fonts without outlines, symbol fonts
// that have no Unicode character map. Fonts with CFF outlines are embedded
// whole, not subset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One table of the face: its tag as a big-endian number and its bytes.
struct FontTable {
  uint32_t tag = 0;
  std::span<const uint8_t> bytes;
};

// A face as read from the font's bytes, which the caller keeps for as long
// as the face is used: the spans point into them.
struct FontFace {
  std::span<const uint8_t> file;  // the whole file (a collection's offsets count from its start)
  std::string name;               // what messages call the font (its path)
  bool cff = false;               // CFF outlines: embedded whole as OpenType
  std::vector<FontTable> tables;  // the face's tables, in the directory's order

  // What the glyph lookups and the subset read again.
  std::span<const uint8_t> hmtx, loca, glyf;
  std::span<const uint8_t> cmap;  // the chosen subtable, to the end of the cmap table
  uint16_t cmap_format = 0;       // 4 or 12

  // head
  uint16_t units_per_em = 0;
  int16_t x_min = 0, y_min = 0, x_max = 0, y_max = 0;  // the box of all glyphs
  int16_t index_to_loc_format = 0;                     // loca: 0 short, 1 long offsets
  bool bold = false, italic = false;                    // head.macStyle, OS/2 fsSelection
  // maxp, hhea
  uint16_t num_glyphs = 0;
  uint16_t num_hmetrics = 0;
  // OS/2 typographic ascender and descender when the font gives them, else
  // hhea's; the capital height (OS/2 version 2 and later, else the ascent).
  int16_t ascent = 0, descent = 0, cap_height = 0;
  uint16_t weight_class = 400;  // OS/2 usWeightClass
  uint16_t fs_type = 0;         // OS/2 embedding permissions
  // post
  double italic_angle = 0;  // degrees, counter-clockwise from vertical
  bool fixed_pitch = false;
  // name: the PostScript name (nameID 6) with what a PDF name cannot hold
  // left out, or a stand-in when the font has none.
  std::string postscript_name;
};

// Returns 1 with face read from the font's bytes: face `index` of a
// collection (0 for a single font). Returns 0 after setting the error:
// ErrorCode::argument for a face the collection does not hold,
// ErrorCode::damaged for bytes that are no font or a font damaged beyond
// use, ErrorCode::unsupported for a font whose licence forbids embedding
// (OS/2 fsType restricted) or one it cannot embed (no Unicode character map,
// no outlines it knows). `name` stands for the font in messages.
int read_font_face(std::span<const uint8_t> file, int32_t index, std::string_view name,
                   FontFace &face);

// Returns the glyph the face's character map gives the character, or 0 when
// it gives none.
uint16_t glyph_of(const FontFace &face, char32_t c);

// The glyphs a stamp shows: each glyph id with the character it first stood
// for, which its ToUnicode entry gives back.
using GlyphChars = std::map<uint16_t, char32_t>;

// Returns 1 with the glyphs of one UTF-8 line appended to glyphs and
// recorded in used; control characters show nothing and take no glyph.
// Returns 0 after setting the error (ErrorCode::argument) for bytes that are
// not UTF-8 or a character the font lacks, naming it and the font.
int line_glyphs(const FontFace &face, std::string_view line, std::vector<uint16_t> &glyphs,
                GlyphChars &used);

// Returns a glyph's advance width in font units.
uint16_t advance_units(const FontFace &face, uint16_t glyph);

// Returns font units as thousandths of an em, rounded to a whole number, as
// the PDF objects write widths and metrics.
int32_t to_thousandths(const FontFace &face, int32_t units);

// Returns a glyph's advance width in thousandths of an em: what /W says and
// what the text block is laid out with.
inline int32_t advance_thousandths(const FontFace &face, uint16_t glyph) {
  return to_thousandths(face, advance_units(face, glyph));
}

// Returns 1 with program holding the font program to embed: for TrueType
// outlines a TrueType font that keeps glyph 0, the used glyphs and the
// components of composite ones, each under its own glyph id; for CFF
// outlines the face whole as an OpenType font. Returns 0 after setting the
// error (ErrorCode::damaged) for outlines that cannot be read. Throws
// std::bad_alloc when memory runs out.
int font_program(const FontFace &face, const GlyphChars &used, std::vector<uint8_t> &program);

// The object numbers of a font's PDF objects, given by the caller.
struct FontObjectNums {
  int32_t type0 = 0;       // the font that pages' resources name
  int32_t cid_font = 0;    // its descendant
  int32_t descriptor = 0;  // the font descriptor
  int32_t program = 0;     // the stream that holds the font program
  int32_t to_unicode = 0;  // the ToUnicode CMap stream
};

// The text of a font's PDF objects: dictionaries whole, streams as their
// extra dictionary entries (each with a leading space; /Length and /Filter
// are the writer's) and their data.
struct FontPdfObjects {
  std::string type0;
  std::string cid_font;
  std::string descriptor;
  std::string program_entries;  // " /Length1 n" (TrueType) or " /Subtype /OpenType" (CFF)
  std::string to_unicode;       // the CMap stream's data
};

// Returns the PDF objects of the face showing the used glyphs, its font
// program program_size bytes long. The same face and glyphs always give
// the same text.
FontPdfObjects font_pdf_objects(const FontFace &face, const GlyphChars &used,
                                const FontObjectNums &nums, size_t program_size);

// Returns the six capital letters that tag a subset's name, derived from
// the font's name and the glyphs it keeps.
std::string subset_tag(const FontFace &face, const GlyphChars &used);
