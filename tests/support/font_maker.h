// Test-only TrueType fonts made in memory, readably: glyphs that are squares
// or composites of other glyphs, a character map of the chosen format, an
// embedding permission; and collections of such fonts. The tables are the
// format's own layout written field by field, so that a test can also break
// one on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testfont {

// A glyph: a square outline, or, when components are given, a composite of
// those glyphs, each shifted right by 10 units more than the one before.
struct Glyph {
  std::vector<uint16_t> components = {};
};

struct FontRecipe {
  std::vector<Glyph> glyphs = {{}, {}, {}};         // glyph 0 first
  std::vector<std::pair<char32_t, uint16_t>> cmap = {{'A', 1}, {'B', 2}};
  int cmap_format = 4;        // 4 or 12; 0 writes no cmap table
  uint16_t fs_type = 0;       // OS/2 embedding permissions
  bool long_loca = false;
  uint16_t units_per_em = 1000;
  std::string postscript_name = "Test-Regular";
};

// Each glyph's advance width in font units: 500 + 10 * its id.
inline uint16_t advance_of(uint16_t glyph) { return static_cast<uint16_t>(500 + 10 * glyph); }

// Returns a whole font file.
std::string make_font(const FontRecipe &recipe);

// Returns a collection file holding the fonts in order.
std::string make_collection(const std::vector<std::string> &fonts);

// Where a table of a font made here stands: offset and length in the file,
// or {0, 0} when there is none.
std::pair<size_t, size_t> table_place(const std::string &font, const char *tag);

// Overwrites the big-endian 16- or 32-bit number at `at`.
void poke16(std::string &bytes, size_t at, uint32_t v);
void poke32(std::string &bytes, size_t at, uint32_t v);

}  // namespace testfont
