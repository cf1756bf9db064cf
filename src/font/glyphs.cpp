// Text as glyphs, one glyph per character through the character map, and
// the glyphs' advance widths.
#include <cmath>

#include "common/byte_reader.h"
#include "common/error.h"
#include "font/font_internal.h"
#include "pdf/winansi.h"

namespace {

// Control characters (C0, DEL and C1) show nothing, as with the built-in font.
bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

}  // namespace

int line_glyphs(const FontFace &face, std::string_view line, std::vector<uint16_t> &glyphs,
                GlyphChars &used) {
  size_t i = 0;
  while (i < line.size()) {
    const Utf8Char ch = utf8_char_at(line, i);
    if (!ch.valid)
      return set_error(ErrorCode::argument, "the text is not UTF-8: byte %#04x at %lu",
                       static_cast<unsigned>(static_cast<uint8_t>(line[i])),
                       static_cast<unsigned long>(i));
    i += ch.used;
    // A tab shows as a space, as with the built-in font.
    const char32_t c = ch.code_point == '\t' ? U' ' : ch.code_point;
    if (is_control(c)) continue;
    const uint16_t g = glyph_of(face, c);
    if (g == 0)
      return set_error(ErrorCode::unsupported, "character U+%04lX '%.*s' is not in the font %s",
                       static_cast<unsigned long>(c), static_cast<int>(ch.used),
                       line.data() + i - ch.used, face.name.c_str());
    glyphs.push_back(g);
    used.emplace(g, c);
  }
  return 1;
}

uint16_t advance_units(const FontFace &face, uint16_t glyph) {
  // Glyphs past the last full metric share its advance.
  const size_t k = glyph < face.num_hmetrics ? glyph : face.num_hmetrics - 1u;
  bool ok = true;
  return u16_at(face.hmtx, 4 * k, ok);
}

int32_t to_thousandths(const FontFace &face, int32_t units) {
  return static_cast<int32_t>(
      std::lround(static_cast<double>(units) * 1000.0 / static_cast<double>(face.units_per_em)));
}
