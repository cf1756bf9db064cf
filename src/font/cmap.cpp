// The character map: the Unicode subtable chosen once (format 12, which
// reaches beyond the Basic Multilingual Plane, before format 4; Windows'
// platform before the Unicode platform), then characters looked up in it by
// binary search. A subtable whose segments or groups are out of order gives
// wrong glyphs, never a read outside the table.
#include "common/byte_reader.h"
#include "common/error.h"
#include "font/font_internal.h"

namespace {

constexpr size_t kFormat4Arrays = 16;  // format 4: where startCode follows endCode and a pad
constexpr size_t kFormat12Groups = 16;  // format 12: where the groups start
constexpr size_t kGroupSize = 12;       // startCharCode, endCharCode, startGlyphID

// Returns true when the format 4 subtable's four arrays lie inside it.
bool format4_fits(std::span<const uint8_t> sub) {
  bool ok = true;
  const uint16_t seg_x2 = u16_at(sub, 6, ok);
  return ok && seg_x2 > 0 && seg_x2 % 2 == 0 && sub.size() >= kFormat4Arrays + 4 * size_t{seg_x2};
}

// Returns true when the format 12 subtable's groups lie inside it.
bool format12_fits(std::span<const uint8_t> sub) {
  bool ok = true;
  const uint32_t groups = u32_at(sub, 12, ok);
  return ok && groups <= (sub.size() - kFormat12Groups) / kGroupSize;
}

// Returns the preference of a subtable: 0 for one that maps no Unicode or
// is of another format.
int rank(uint16_t platform, uint16_t encoding, uint16_t format) {
  const bool windows_unicode = platform == 3 && (encoding == 1 || encoding == 10);
  if (!windows_unicode && platform != 0) return 0;
  const int platform_rank = platform == 3 ? 2 : 1;
  if (format == 12) return 10 + platform_rank;
  if (format == 4) return platform_rank;
  return 0;
}

uint16_t format4_glyph(std::span<const uint8_t> sub, char32_t c) {
  if (c > 0xFFFF) return 0;
  bool ok = true;
  const size_t seg_x2 = u16_at(sub, 6, ok);
  const size_t starts = kFormat4Arrays + seg_x2;
  const size_t deltas = starts + seg_x2;
  const size_t range_offsets = deltas + seg_x2;
  // The first segment whose end is at or after c.
  size_t lo = 0, hi = seg_x2 / 2;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (u16_at(sub, 14 + 2 * mid, ok) < c) lo = mid + 1;
    else hi = mid;
  }
  if (lo == seg_x2 / 2) return 0;
  const uint16_t start = u16_at(sub, starts + 2 * lo, ok);
  const uint16_t delta = u16_at(sub, deltas + 2 * lo, ok);
  const size_t offset_at = range_offsets + 2 * lo;
  const uint16_t range_offset = u16_at(sub, offset_at, ok);
  if (!ok || c < start) return 0;
  if (range_offset == 0) return static_cast<uint16_t>(c + delta);
  // idRangeOffset counts bytes from its own place to the glyph id array entry.
  const uint16_t g = u16_at(sub, offset_at + range_offset + 2 * (c - start), ok);
  if (!ok || g == 0) return 0;
  return static_cast<uint16_t>(g + delta);
}

uint16_t format12_glyph(std::span<const uint8_t> sub, char32_t c) {
  bool ok = true;
  const size_t groups = u32_at(sub, 12, ok);
  size_t lo = 0, hi = groups;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (u32_at(sub, kFormat12Groups + kGroupSize * mid + 4, ok) < c) lo = mid + 1;
    else hi = mid;
  }
  if (lo == groups) return 0;
  const size_t at = kFormat12Groups + kGroupSize * lo;
  const uint32_t start = u32_at(sub, at, ok);
  const uint32_t first_glyph = u32_at(sub, at + 8, ok);
  if (!ok || c < start) return 0;
  const uint64_t g = uint64_t{first_glyph} + (c - start);
  return g > 0xFFFF ? 0 : static_cast<uint16_t>(g);
}

}  // namespace

int choose_cmap(FontFace &face, std::span<const uint8_t> table) {
  ByteReader r = reader_at(table, 2);
  const uint16_t count = read_u16(r);
  int best = 0;
  for (uint16_t i = 0; i < count && r.ok; ++i) {
    const uint16_t platform = read_u16(r);
    const uint16_t encoding = read_u16(r);
    const uint32_t offset = read_u32(r);
    if (!r.ok || offset >= table.size()) continue;
    const std::span<const uint8_t> sub = table.subspan(offset);
    bool ok = true;
    const uint16_t format = u16_at(sub, 0, ok);
    const int score = ok ? rank(platform, encoding, format) : 0;
    if (score <= best) continue;
    if (format == 4 ? !format4_fits(sub) : !format12_fits(sub)) continue;
    best = score;
    face.cmap = sub;
    face.cmap_format = format;
  }
  if (best == 0)
    return set_error(ErrorCode::unsupported, "the font %s has no Unicode character map",
                     face.name.c_str());
  return 1;
}

uint16_t glyph_of(const FontFace &face, char32_t c) {
  const uint16_t g = face.cmap_format == 12 ? format12_glyph(face.cmap, c)
                     : face.cmap_format == 4 ? format4_glyph(face.cmap, c)
                                             : 0;
  return g < face.num_glyphs ? g : 0;
}
