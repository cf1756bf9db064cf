// The subset of a font with TrueType outlines. It keeps glyph 0, the glyphs
// the stamp shows and, transitively, the components of composite ones, each
// under its own glyph id, so that a PDF's character ids are the glyph ids;
// the glyphs not kept have empty outlines and zero metrics, and those after
// the last kept one are dropped. The tables are those a PDF reader draws
// with (head, hhea, maxp, hmtx, loca, glyf, and cvt, fpgm, prep and OS/2 as
// the font has them), a post table without glyph names and a character map
// of the shown characters of the Basic Multilingual Plane.
#include <algorithm>
#include <vector>

#include "common/byte_reader.h"
#include "common/error.h"
#include "common/limits.h"
#include "font/font_internal.h"

namespace {

// Composite glyph component flags.
constexpr uint16_t kArgsAreWords = 0x0001;
constexpr uint16_t kHaveScale = 0x0008;
constexpr uint16_t kMoreComponents = 0x0020;
constexpr uint16_t kXyScale = 0x0040;
constexpr uint16_t kTwoByTwo = 0x0080;

constexpr size_t kGlyphHeader = 10;  // numberOfContours and the box
constexpr size_t kPostHeader = 32;   // post: version 3 is the header alone
constexpr uint32_t kPostNoNames = 0x00030000;
constexpr size_t kHeadLocFormat = 50;  // head: indexToLocFormat
constexpr size_t kHheaMetricsCount = 34;
constexpr size_t kMaxpGlyphCount = 4;
// loca's short form holds offsets / 2 in 16 bits.
constexpr size_t kShortLocaLimit = 0x1FFFE;

int damaged(const FontFace &face, const char *what, unsigned glyph) {
  return set_error(ErrorCode::damaged, "the font %s is damaged: glyph %u %s", face.name.c_str(),
                   glyph, what);
}

// Returns the glyph's outline (empty when it has none); ok false when loca
// places it out of order or outside glyf.
std::span<const uint8_t> glyph_bytes(const FontFace &face, uint16_t g, bool &ok) {
  uint64_t start = 0, end = 0;
  if (face.index_to_loc_format == 0) {
    start = 2 * uint64_t{u16_at(face.loca, 2 * size_t{g}, ok)};
    end = 2 * uint64_t{u16_at(face.loca, 2 * size_t{g} + 2, ok)};
  } else {
    start = u32_at(face.loca, 4 * size_t{g}, ok);
    end = u32_at(face.loca, 4 * size_t{g} + 4, ok);
  }
  if (!ok || end < start) {
    ok = false;
    return {};
  }
  return sub_range(face.glyf, start, end - start, ok);
}

// Returns 1 after marking the components of a composite glyph's outline as
// kept and queueing those not yet kept.
int keep_components(const FontFace &face, uint16_t g, std::span<const uint8_t> outline,
                    std::vector<uint8_t> &kept, std::vector<uint16_t> &queue) {
  ByteReader r = reader_at(outline, kGlyphHeader);
  uint16_t flags = 0;
  do {
    flags = read_u16(r);
    const uint16_t component = read_u16(r);
    reader_skip(r, (flags & kArgsAreWords) != 0 ? 4 : 2);
    if ((flags & kHaveScale) != 0) reader_skip(r, 2);
    else if ((flags & kXyScale) != 0) reader_skip(r, 4);
    else if ((flags & kTwoByTwo) != 0) reader_skip(r, 8);
    if (!r.ok) return damaged(face, "is a composite cut short", g);
    if (component >= face.num_glyphs) return damaged(face, "names a glyph the font lacks", g);
    if (kept[component] == 0) {
      kept[component] = 1;
      queue.push_back(component);
    }
  } while ((flags & kMoreComponents) != 0);
  return 1;
}

// Returns 1 with kept marking glyph 0, the used glyphs and their components.
int close_over_components(const FontFace &face, const GlyphChars &used,
                          std::vector<uint8_t> &kept) {
  kept.assign(face.num_glyphs, 0);
  std::vector<uint16_t> queue = {0};
  kept[0] = 1;
  for (const auto &[g, c] : used) {
    if (g < face.num_glyphs && kept[g] == 0) {
      kept[g] = 1;
      queue.push_back(g);
    }
  }
  const uint64_t budget = kMaxSubsetGlyphFactor * face.glyf.size();
  uint64_t walked = 0;
  while (!queue.empty()) {
    const uint16_t g = queue.back();
    queue.pop_back();
    bool ok = true;
    const std::span<const uint8_t> outline = glyph_bytes(face, g, ok);
    if (!ok) return damaged(face, "lies outside the glyf table", g);
    walked += outline.size();
    if (walked > budget) return damaged(face, "shares its outline with too many glyphs", g);
    if (outline.empty()) continue;
    if (outline.size() < kGlyphHeader) return damaged(face, "is cut short", g);
    const auto contours = static_cast<int16_t>(u16_at(outline, 0, ok));
    if (contours < 0 && !keep_components(face, g, outline, kept, queue)) return 0;
  }
  return 1;
}

int16_t left_side_bearing(const FontFace &face, uint16_t g) {
  bool ok = true;
  const size_t at = g < face.num_hmetrics
                        ? 4 * size_t{g} + 2
                        : 4 * size_t{face.num_hmetrics} + 2 * (size_t{g} - face.num_hmetrics);
  const uint16_t v = u16_at(face.hmtx, at, ok);
  return ok ? static_cast<int16_t>(v) : 0;
}

// Returns a copy of a table with one 16-bit field set.
std::vector<uint8_t> patched(std::span<const uint8_t> table, size_t at, uint32_t v) {
  std::vector<uint8_t> copy(table.begin(), table.end());
  set_u16(copy, at, v);
  return copy;
}

// Returns a post table of the face's header alone, version 3: no glyph names.
std::vector<uint8_t> post_without_names(const FontFace &face) {
  const std::span<const uint8_t> post = find_table(face, table_tag("post"));
  std::vector<uint8_t> out(kPostHeader, 0);
  if (post.size() >= kPostHeader) std::copy_n(post.begin(), kPostHeader, out.begin());
  set_u32(out, 0, kPostNoNames);
  return out;
}

// Returns a cmap table with one Windows Unicode format 4 subtable mapping the
// shown characters of the Basic Multilingual Plane to their glyphs, or an
// empty vector when they need more than the format's 64 KiB.
std::vector<uint8_t> shown_characters_cmap(const GlyphChars &used) {
  std::vector<std::pair<uint32_t, uint32_t>> pairs;  // character, glyph
  for (const auto &[g, c] : used)
    if (c < 0xFFFF) pairs.emplace_back(c, g);
  std::sort(pairs.begin(), pairs.end());
  // Segments of consecutive characters on consecutive glyphs, then the
  // final segment at U+FFFF that the format asks for.
  struct Segment {
    uint32_t start, end, glyph;
  };
  std::vector<Segment> segments;
  for (const auto &[c, g] : pairs) {
    if (!segments.empty() && segments.back().end + 1 == c &&
        segments.back().glyph + (c - segments.back().start) == g)
      segments.back().end = c;
    else
      segments.push_back({c, c, g});
  }
  segments.push_back({0xFFFF, 0xFFFF, 0});
  const size_t count = segments.size();
  const size_t length = 16 + 8 * count;
  if (length > 0xFFFF) return {};
  uint32_t power = 1, log2 = 0;
  while (power * 2 <= count) power *= 2, ++log2;

  std::vector<uint8_t> out;
  put_u16(out, 0);   // version
  put_u16(out, 1);   // one subtable
  put_u16(out, 3);   // Windows
  put_u16(out, 1);   // Unicode BMP
  put_u32(out, 12);  // its offset
  put_u16(out, 4);
  put_u16(out, static_cast<uint32_t>(length));
  put_u16(out, 0);  // language
  put_u16(out, static_cast<uint32_t>(2 * count));
  put_u16(out, 2 * power);                                    // searchRange
  put_u16(out, log2);                                         // entrySelector
  put_u16(out, static_cast<uint32_t>(2 * count - 2 * power));  // rangeShift
  for (const Segment &s : segments) put_u16(out, s.end);
  put_u16(out, 0);  // reservedPad
  for (const Segment &s : segments) put_u16(out, s.start);
  // The final segment's delta maps U+FFFF to glyph 0.
  for (const Segment &s : segments) put_u16(out, s.start == 0xFFFF ? 1 : (s.glyph - s.start));
  for (size_t i = 0; i < count; ++i) put_u16(out, 0);  // idRangeOffset
  return out;
}

}  // namespace

std::vector<uint8_t> subset_truetype(const FontFace &face, const GlyphChars &used) {
  std::vector<uint8_t> kept;
  if (!close_over_components(face, used, kept)) return {};
  // Glyph ids after the last kept glyph are dropped; glyph 0 is always kept.
  size_t count = kept.size();
  while (count > 1 && kept[count - 1] == 0) --count;

  std::vector<uint8_t> glyf;
  std::vector<uint32_t> offsets;
  std::vector<uint8_t> hmtx;
  offsets.reserve(count + 1);
  hmtx.reserve(4 * count);
  for (size_t g = 0; g < count; ++g) {
    offsets.push_back(static_cast<uint32_t>(glyf.size()));
    const auto glyph = static_cast<uint16_t>(g);
    if (kept[g] == 0) {
      put_u32(hmtx, 0);
      continue;
    }
    bool ok = true;
    const std::span<const uint8_t> outline = glyph_bytes(face, glyph, ok);
    glyf.insert(glyf.end(), outline.begin(), outline.end());
    glyf.resize((glyf.size() + 3) & ~size_t{3}, 0);
    put_u16(hmtx, advance_units(face, glyph));
    put_u16(hmtx, static_cast<uint16_t>(left_side_bearing(face, glyph)));
  }
  offsets.push_back(static_cast<uint32_t>(glyf.size()));
  const bool short_loca = glyf.size() <= kShortLocaLimit;
  std::vector<uint8_t> loca;
  for (const uint32_t at : offsets) {
    if (short_loca) put_u16(loca, at / 2);
    else put_u32(loca, at);
  }

  const auto glyphs = static_cast<uint32_t>(count);
  const std::vector<uint8_t> head =
      patched(find_table(face, table_tag("head")), kHeadLocFormat, short_loca ? 0 : 1);
  const std::vector<uint8_t> hhea =
      patched(find_table(face, table_tag("hhea")), kHheaMetricsCount, glyphs);
  const std::vector<uint8_t> maxp =
      patched(find_table(face, table_tag("maxp")), kMaxpGlyphCount, glyphs);
  const std::vector<uint8_t> post = post_without_names(face);
  const std::vector<uint8_t> cmap = shown_characters_cmap(used);

  std::vector<FontTable> tables = {
      {table_tag("head"), head}, {table_tag("hhea"), hhea}, {table_tag("maxp"), maxp},
      {table_tag("hmtx"), hmtx}, {table_tag("loca"), loca}, {table_tag("glyf"), glyf},
      {table_tag("post"), post}};
  if (!cmap.empty()) tables.push_back({table_tag("cmap"), cmap});
  for (const uint32_t t : {table_tag("cvt "), table_tag("fpgm"), table_tag("prep"),
                           table_tag("OS/2")}) {
    const std::span<const uint8_t> bytes = find_table(face, t);
    if (!bytes.empty()) tables.push_back({t, bytes});
  }
  return write_sfnt(0x00010000, std::move(tables));
}
