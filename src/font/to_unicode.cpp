// The ToUnicode CMap of a font whose character ids are glyph ids: each shown
// glyph gives back the character it stood for, in UTF-16BE (a surrogate pair
// beyond the Basic Multilingual Plane). Runs of consecutive glyphs on
// consecutive characters become ranges.
#include <string>
#include <vector>

#include "font/font_internal.h"

namespace {

// A CMap's bfchar and bfrange blocks hold at most 100 entries each.
constexpr size_t kMaxBlockEntries = 100;

constexpr const char *kHeader =
    "/CIDInit /ProcSet findresource begin\n"
    "12 dict begin\n"
    "begincmap\n"
    "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
    "/CMapName /Adobe-Identity-UCS def\n"
    "/CMapType 2 def\n"
    "1 begincodespacerange\n"
    "<0000> <FFFF>\n"
    "endcodespacerange\n";
constexpr const char *kTrailer =
    "endcmap\n"
    "CMapName currentdict /CMap defineresource pop\n"
    "end\n"
    "end\n";

// One mapping: glyphs first..last to the characters from `to` on.
struct Run {
  uint16_t first = 0, last = 0;
  char32_t to = 0;
};

void append_hex4(std::string &out, uint32_t v) {
  static const char digits[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out += digits[(v >> shift) & 0xF];
}

void append_utf16(std::string &out, char32_t c) {
  out += '<';
  if (c < 0x10000) {
    append_hex4(out, c);
  } else {
    const char32_t v = c - 0x10000;
    append_hex4(out, 0xD800 + (v >> 10));
    append_hex4(out, 0xDC00 + (v & 0x3FF));
  }
  out += '>';
}

// Returns true when the glyph may extend the run: the next glyph on the
// next character, inside one block of 256 glyph ids and 256 characters of
// the Basic Multilingual Plane (a range steps only the last byte).
bool extends(const Run &run, uint16_t g, char32_t c) {
  const char32_t next = run.to + (run.last - run.first) + 1;
  return g == run.last + 1 && c == next && c < 0x10000 && (g >> 8) == (run.first >> 8) &&
         (c >> 8) == (run.to >> 8);
}

void append_blocks(std::string &out, const std::vector<Run> &runs, bool ranges) {
  for (size_t at = 0; at < runs.size(); at += kMaxBlockEntries) {
    const size_t n = std::min(kMaxBlockEntries, runs.size() - at);
    out += std::to_string(n);
    out += ranges ? " beginbfrange\n" : " beginbfchar\n";
    for (size_t i = at; i < at + n; ++i) {
      out += '<';
      append_hex4(out, runs[i].first);
      out += "> ";
      if (ranges) {
        out += '<';
        append_hex4(out, runs[i].last);
        out += "> ";
      }
      append_utf16(out, runs[i].to);
      out += '\n';
    }
    out += ranges ? "endbfrange\n" : "endbfchar\n";
  }
}

}  // namespace

std::string to_unicode_cmap(const GlyphChars &used) {
  std::vector<Run> runs;
  for (const auto &[g, c] : used) {
    if (!runs.empty() && extends(runs.back(), g, c)) runs.back().last = g;
    else runs.push_back({g, g, c});
  }
  std::vector<Run> ranges, singles;
  for (const Run &r : runs) (r.first == r.last ? singles : ranges).push_back(r);
  std::string out = kHeader;
  append_blocks(out, ranges, true);
  append_blocks(out, singles, false);
  out += kTrailer;
  return out;
}
