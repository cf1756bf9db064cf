// Any bytes as a font file: its first two faces read, the printable ASCII
// characters it maps taken as the stamp's glyphs, the font program and the
// PDF objects made. A failure must say why. A TrueType subset must read back
// as a font that maps those characters to the same glyphs.
#include <cstdint>
#include <span>
#include <vector>

#include "common/error.h"
#include "font/font.h"
#include "fuzz_target.h"

namespace {

void try_face(std::span<const uint8_t> bytes, int32_t index) {
  clear_error();
  FontFace face;
  if (!read_font_face(bytes, index, "input", face)) {
    if (error_text()[0] == '\0') __builtin_trap();
    return;
  }
  GlyphChars used;
  for (char32_t c = 0x20; c < 0x7F; ++c) {
    const uint16_t g = glyph_of(face, c);
    if (g >= face.num_glyphs) __builtin_trap();
    if (g != 0) used.emplace(g, c);
  }
  std::vector<uint8_t> program;
  if (!font_program(face, used, program)) {
    if (error_text()[0] == '\0') __builtin_trap();
    return;
  }
  font_pdf_objects(face, used, {1, 2, 3, 4, 5}, program.size());
  if (face.cff) return;
  FontFace subset;
  if (!read_font_face(program, 0, "subset", subset)) __builtin_trap();
  for (const auto &[g, c] : used)
    if (glyph_of(subset, c) != g || advance_units(subset, g) != advance_units(face, g))
      __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  try_face(bytes, 0);
  try_face(bytes, 1);
  return 0;
}
