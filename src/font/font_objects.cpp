// The PDF objects of an embedded font: a Type 0 font with Identity-H
// encoding over one CIDFont whose character ids are glyph ids, its font
// descriptor with the font program, and the ToUnicode CMap. A subset's
// name carries a tag derived from its glyphs, so that the same stamp gives
// the same bytes and different subsets of one font have different names.
#include <algorithm>
#include <string>
#include <vector>

#include "font/font_internal.h"
#include "pdf/number_text.h"

namespace {

// Font descriptor flags.
constexpr int32_t kFixedPitch = 1;
constexpr int32_t kSymbolic = 4;  // glyphs outside the standard Latin set
constexpr int32_t kItalic = 64;

// /W lists at most this many widths on a line.
constexpr size_t kWidthsPerLine = 16;

void append_ref(std::string &out, int32_t num) {
  out += std::to_string(num);
  out += " 0 R";
}

// Returns the width most of the used glyphs have (the smallest of equally
// common ones), written once as /DW instead of for each glyph.
int32_t common_width(const FontFace &face, const GlyphChars &used) {
  std::map<int32_t, size_t> counts;
  for (const auto &[g, c] : used) ++counts[advance_thousandths(face, g)];
  int32_t best = 1000;
  size_t best_count = 0;
  for (const auto &[w, n] : counts) {
    if (n > best_count) best = w, best_count = n;
  }
  return best;
}

// Returns the /W array: each run of consecutive glyphs whose widths differ
// from the default as "first [w1 w2 ...]".
std::string widths_array(const FontFace &face, const GlyphChars &used, int32_t default_width) {
  std::string out = "[";
  int32_t previous = -2;
  size_t in_run = 0;
  for (const auto &[g, c] : used) {
    const int32_t w = advance_thousandths(face, g);
    if (w == default_width) continue;
    if (g != previous + 1) {
      if (in_run > 0) out += "]\n";
      out += std::to_string(g);
      out += " [";
      in_run = 0;
    } else if (in_run % kWidthsPerLine == 0) {
      out += '\n';
    } else {
      out += ' ';
    }
    out += std::to_string(w);
    ++in_run;
    previous = g;
  }
  if (in_run > 0) out += ']';
  out += ']';
  return out;
}

// Returns the stem width the descriptor gives. No table holds it: regular
// weights (400) have vertical stems about 80 thousandths of an em wide and
// bold ones (700) about 140, which usWeightClass / 5 follows.
int32_t stem_width(const FontFace &face) { return face.weight_class / 5; }

std::string descriptor_text(const FontFace &face, const std::string &name, int32_t program) {
  int32_t flags = kSymbolic;
  if (face.fixed_pitch) flags |= kFixedPitch;
  if (face.italic || face.italic_angle != 0) flags |= kItalic;
  std::string out = "<< /Type /FontDescriptor /FontName /" + name;
  out += " /Flags " + std::to_string(flags);
  out += " /FontBBox [" + std::to_string(to_thousandths(face, face.x_min)) + ' ' +
         std::to_string(to_thousandths(face, face.y_min)) + ' ' +
         std::to_string(to_thousandths(face, face.x_max)) + ' ' +
         std::to_string(to_thousandths(face, face.y_max)) + ']';
  out += " /ItalicAngle " + fixed_text(face.italic_angle, 2);
  out += " /Ascent " + std::to_string(to_thousandths(face, face.ascent));
  out += " /Descent " + std::to_string(to_thousandths(face, face.descent));
  out += " /CapHeight " + std::to_string(to_thousandths(face, face.cap_height));
  out += " /StemV " + std::to_string(stem_width(face));
  out += face.cff ? " /FontFile3 " : " /FontFile2 ";
  append_ref(out, program);
  out += " >>";
  return out;
}

}  // namespace

std::string subset_tag(const FontFace &face, const GlyphChars &used) {
  // FNV-1a over the font's name and the glyph ids.
  uint64_t h = 0xCBF29CE484222325u;
  const auto mix = [&h](uint8_t b) { h = (h ^ b) * 0x100000001B3u; };
  for (const char c : face.postscript_name) mix(static_cast<uint8_t>(c));
  for (const auto &[g, c] : used) {
    mix(static_cast<uint8_t>(g >> 8));
    mix(static_cast<uint8_t>(g));
  }
  std::string tag(6, 'A');
  for (char &letter : tag) {
    letter = static_cast<char>('A' + h % 26);
    h /= 26;
  }
  return tag;
}

FontPdfObjects font_pdf_objects(const FontFace &face, const GlyphChars &used,
                                const FontObjectNums &nums, size_t program_size) {
  // A font embedded whole keeps its own name; a subset's name is tagged.
  const std::string name =
      face.cff ? face.postscript_name : subset_tag(face, used) + '+' + face.postscript_name;
  FontPdfObjects o;
  o.type0 = "<< /Type /Font /Subtype /Type0 /BaseFont /" + name +
            " /Encoding /Identity-H /DescendantFonts [";
  append_ref(o.type0, nums.cid_font);
  o.type0 += "] /ToUnicode ";
  append_ref(o.type0, nums.to_unicode);
  o.type0 += " >>";

  const int32_t default_width = common_width(face, used);
  o.cid_font = std::string("<< /Type /Font /Subtype ") +
               (face.cff ? "/CIDFontType0" : "/CIDFontType2") + " /BaseFont /" + name +
               " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
               " /FontDescriptor ";
  append_ref(o.cid_font, nums.descriptor);
  o.cid_font += " /DW " + std::to_string(default_width);
  o.cid_font += " /W " + widths_array(face, used, default_width);
  if (!face.cff) o.cid_font += " /CIDToGIDMap /Identity";
  o.cid_font += " >>";

  o.descriptor = descriptor_text(face, name, nums.program);
  o.program_entries =
      face.cff ? " /Subtype /OpenType" : " /Length1 " + std::to_string(program_size);
  o.to_unicode = to_unicode_cmap(used);
  return o;
}
