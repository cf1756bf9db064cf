#include "pdf/text_font.h"

#include <cstdio>

#include "common/error.h"

#include "pdf/byte_buf.h"
#include "pdf/font_metrics.h"
#include "pdf/helvetica_glyphs.h"
#include "pdf/winansi.h"

namespace {

// Appends one code to the line, starting a new run when the font changes.
void add_code(EncodedLine &out, RunFont font, uint8_t code, uint16_t width) {
  if (out.runs.empty() || out.runs.back().font != font) out.runs.push_back({font, {}});
  out.runs.back().codes += static_cast<char>(code);
  out.width_units += width;
}

std::string missing_character(uint32_t code_point, std::string_view utf8) {
  char text[96];
  std::snprintf(text, sizeof text, "character U+%04X '%.*s' is not in the built-in font; ",
                static_cast<unsigned>(code_point), static_cast<int>(utf8.size()), utf8.data());
  return std::string(text) + "give a font file";
}

}  // namespace

bool encode_builtin_line(std::string_view line, EncodedLine &out, std::string &error) {
  out = {};
  size_t i = 0;
  while (i < line.size()) {
    const Utf8Char ch = utf8_char_at(line, i);
    const std::string_view utf8 = line.substr(i, ch.used);
    i += ch.used;
    if (!ch.valid) {
      add_code(out, RunFont::main, static_cast<uint8_t>(ch.code_point),
               helvetica_winansi_width(static_cast<uint8_t>(ch.code_point)));
      continue;
    }
    uint32_t cp = ch.code_point;
    if (cp == '\t') cp = ' ';
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) continue;  // controls show nothing
    const int winansi = winansi_code(cp);
    if (winansi >= 0) {
      const uint8_t code = static_cast<uint8_t>(winansi);
      add_code(out, RunFont::main, code, helvetica_winansi_width(code));
      continue;
    }
    const int extra = helvetica_extra_code(cp);
    if (extra < 0) {
      error = missing_character(cp, utf8);
      return false;
    }
    const uint8_t code = static_cast<uint8_t>(extra);
    add_code(out, RunFont::extra, code, helvetica_extra_width(code));
  }
  return true;
}

bool encode_embedded_line(const FontFace &face, std::string_view line, EncodedLine &out,
                          GlyphChars &used, std::string &error) {
  out = {};
  std::vector<uint16_t> glyphs;
  if (!line_glyphs(face, line, glyphs, used)) {
    error = error_text();
    return false;
  }
  if (glyphs.empty()) return true;
  TextRun run{RunFont::main, {}};
  for (const uint16_t g : glyphs) {
    run.codes += static_cast<char>(g >> 8);
    run.codes += static_cast<char>(g & 0xFF);
    out.width_units += advance_thousandths(face, g);
  }
  out.runs.push_back(std::move(run));
  return true;
}

std::string builtin_extra_font_dict() {
  return "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Type /Encoding "
         "/Differences " +
         helvetica_extra_differences() + " >> >>";
}
