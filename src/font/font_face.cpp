// Reading a face: the collection header, the table directory and the tables
// that describe the face as a whole (head, hhea, maxp, hmtx, OS/2, post,
// name, cmap). Outlines are only located here; the subset reads them.
#include <algorithm>
#include <string>

#include "common/byte_reader.h"
#include "common/error.h"
#include "common/limits.h"
#include "font/font_internal.h"

namespace {

constexpr uint32_t kTrueType = 0x00010000;
constexpr uint32_t kAppleTrueType = table_tag("true");
constexpr uint32_t kCffOutlines = table_tag("OTTO");
constexpr uint32_t kCollection = table_tag("ttcf");

// The smallest sizes of the fixed parts this module reads.
constexpr size_t kHeadSize = 54;
constexpr size_t kHheaSize = 36;
constexpr size_t kMaxpSize = 6;
constexpr size_t kPostSize = 32;
constexpr size_t kOs2TypoEnd = 78;      // version 0, through usWinDescent
constexpr size_t kOs2CapHeightEnd = 90;  // version 2, through sCapHeight

// head.unitsPerEm: the format allows 16 to 16384.
constexpr uint16_t kMinUnitsPerEm = 16;
constexpr uint16_t kMaxUnitsPerEm = 16384;

// OS/2 fsType: the four low bits say how the font may be embedded, and 2
// alone is the restricted licence, which allows no embedding.
constexpr uint16_t kUsagePermissions = 0x000F;
constexpr uint16_t kRestrictedLicence = 0x0002;

int damaged(const FontFace &face, const char *what) {
  return set_error(ErrorCode::damaged, "the font %s is damaged: %s", face.name.c_str(), what);
}

// Returns the offset of the face's table directory in the file, or -1
// after setting the error.
int64_t face_offset(const FontFace &face, int32_t index) {
  bool ok = true;
  const uint32_t version = u32_at(face.file, 0, ok);
  if (!ok) {
    damaged(face, "it is too short to be a font");
    return -1;
  }
  uint32_t faces = 1;
  if (version == kCollection) {
    faces = u32_at(face.file, 8, ok);
    if (!ok) {
      damaged(face, "its collection header is cut short");
      return -1;
    }
  } else if (version != kTrueType && version != kAppleTrueType && version != kCffOutlines) {
    set_error(ErrorCode::damaged, "%s is not a TrueType or OpenType font", face.name.c_str());
    return -1;
  }
  if (index < 0 || static_cast<uint32_t>(index) >= faces) {
    set_error(ErrorCode::argument, "the font %s holds no face %d: it holds %lu", face.name.c_str(),
              static_cast<int>(index), static_cast<unsigned long>(faces));
    return -1;
  }
  if (version != kCollection) return 0;
  const uint32_t offset = u32_at(face.file, 12 + 4 * static_cast<size_t>(index), ok);
  if (!ok) {
    damaged(face, "its collection header is cut short");
    return -1;
  }
  return offset;
}

// Returns 1 after reading the table directory at offset into face.tables.
int read_directory(FontFace &face, int64_t offset) {
  ByteReader r = reader_at(face.file, static_cast<size_t>(offset));
  const uint32_t version = read_u32(r);
  const uint16_t count = read_u16(r);
  reader_skip(r, 6);  // searchRange, entrySelector, rangeShift
  if (!r.ok) return damaged(face, "its table directory is cut short");
  if (version != kTrueType && version != kAppleTrueType && version != kCffOutlines)
    return damaged(face, "a face does not start as a TrueType or OpenType font");
  if (count > kMaxFontTables) return damaged(face, "its table directory is too long");
  face.cff = version == kCffOutlines;
  face.tables.reserve(count);
  uint64_t total = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const uint32_t tag = read_u32(r);
    read_u32(r);  // checksum: tables are taken as they are
    const uint32_t at = read_u32(r);
    const uint32_t length = read_u32(r);
    if (!r.ok) return damaged(face, "its table directory is cut short");
    bool inside = true;
    const std::span<const uint8_t> bytes = sub_range(face.file, at, length, inside);
    if (!inside) return damaged(face, "a table lies outside the file");
    // A face's tables never share bytes: more of them than the file holds
    // would make a copy of the face larger than the file.
    total += length;
    if (total > face.file.size()) return damaged(face, "its tables overlap");
    face.tables.push_back({tag, bytes});
  }
  return 1;
}

int read_head(FontFace &face) {
  const std::span<const uint8_t> head = find_table(face, table_tag("head"));
  if (head.size() < kHeadSize) return damaged(face, "it has no complete head table");
  ByteReader r = reader_at(head, 18);
  face.units_per_em = read_u16(r);
  reader_skip(r, 16);  // created, modified
  face.x_min = read_i16(r);
  face.y_min = read_i16(r);
  face.x_max = read_i16(r);
  face.y_max = read_i16(r);
  const uint16_t mac_style = read_u16(r);
  reader_skip(r, 4);  // lowestRecPPEM, fontDirectionHint
  face.index_to_loc_format = read_i16(r);
  if (face.units_per_em < kMinUnitsPerEm || face.units_per_em > kMaxUnitsPerEm)
    return damaged(face, "its units per em are out of range");
  face.bold = (mac_style & 1) != 0;
  face.italic = (mac_style & 2) != 0;
  return 1;
}

int read_horizontal_metrics(FontFace &face) {
  const std::span<const uint8_t> hhea = find_table(face, table_tag("hhea"));
  const std::span<const uint8_t> maxp = find_table(face, table_tag("maxp"));
  if (hhea.size() < kHheaSize) return damaged(face, "it has no complete hhea table");
  if (maxp.size() < kMaxpSize) return damaged(face, "it has no complete maxp table");
  bool ok = true;
  face.ascent = static_cast<int16_t>(u16_at(hhea, 4, ok));
  face.descent = static_cast<int16_t>(u16_at(hhea, 6, ok));
  face.num_hmetrics = u16_at(hhea, 34, ok);
  face.num_glyphs = u16_at(maxp, 4, ok);
  if (face.num_glyphs == 0) return damaged(face, "it holds no glyph");
  // Metrics for more glyphs than the font has are never looked up.
  if (face.num_hmetrics > face.num_glyphs) face.num_hmetrics = face.num_glyphs;
  if (face.num_hmetrics == 0) return damaged(face, "it gives no advance widths");
  face.hmtx = find_table(face, table_tag("hmtx"));
  if (face.hmtx.size() < 4 * static_cast<size_t>(face.num_hmetrics))
    return damaged(face, "its hmtx table is cut short");
  face.cap_height = face.ascent;
  return 1;
}

// OS/2 is optional in TrueType fonts; without it the font may be embedded.
int read_os2(FontFace &face) {
  const std::span<const uint8_t> os2 = find_table(face, table_tag("OS/2"));
  if (os2.size() < kOs2TypoEnd) return 1;
  bool ok = true;
  const uint16_t version = u16_at(os2, 0, ok);
  face.weight_class = u16_at(os2, 4, ok);
  face.fs_type = u16_at(os2, 8, ok);
  const uint16_t selection = u16_at(os2, 62, ok);
  const auto typo_ascender = static_cast<int16_t>(u16_at(os2, 68, ok));
  const auto typo_descender = static_cast<int16_t>(u16_at(os2, 70, ok));
  face.italic = face.italic || (selection & 1) != 0;
  face.bold = face.bold || (selection & 0x20) != 0;
  // Some fonts leave the typographic values zero: hhea's then stand.
  if (typo_ascender > 0 && typo_descender <= 0) {
    face.ascent = typo_ascender;
    face.descent = typo_descender;
  }
  face.cap_height = face.ascent;
  if (version >= 2 && os2.size() >= kOs2CapHeightEnd) {
    const auto cap = static_cast<int16_t>(u16_at(os2, 88, ok));
    if (cap > 0) face.cap_height = cap;
  }
  if ((face.fs_type & kUsagePermissions) == kRestrictedLicence)
    return set_error(ErrorCode::unsupported,
                     "the font %s may not be embedded: its licence restricts embedding "
                     "(OS/2 fsType %#06x)",
                     face.name.c_str(), static_cast<unsigned>(face.fs_type));
  return 1;
}

void read_post(FontFace &face) {
  const std::span<const uint8_t> post = find_table(face, table_tag("post"));
  if (post.size() < kPostSize) return;
  bool ok = true;
  const auto angle = static_cast<int32_t>(u32_at(post, 4, ok));  // 16.16 fixed
  face.italic_angle = static_cast<double>(angle) / 65536.0;
  face.fixed_pitch = u32_at(post, 12, ok) != 0;
}

int locate_outlines(FontFace &face) {
  if (face.cff) {
    if (find_table(face, table_tag("CFF ")).empty())
      return set_error(ErrorCode::unsupported,
                       "the font %s has no outlines that can be embedded (no CFF table)",
                       face.name.c_str());
    return 1;
  }
  face.loca = find_table(face, table_tag("loca"));
  face.glyf = find_table(face, table_tag("glyf"));
  // glyf may be empty (every glyph blank); it must be there.
  const bool has_glyf = std::any_of(face.tables.begin(), face.tables.end(),
                                    [](const FontTable &t) { return t.tag == table_tag("glyf"); });
  if (!has_glyf || face.loca.empty())
    return set_error(ErrorCode::unsupported,
                     "the font %s has no outlines that can be embedded (no glyf table)",
                     face.name.c_str());
  if (face.index_to_loc_format != 0 && face.index_to_loc_format != 1)
    return damaged(face, "its head table names no loca format");
  const size_t entry = face.index_to_loc_format == 0 ? 2 : 4;
  if (face.loca.size() / entry < static_cast<size_t>(face.num_glyphs) + 1)
    return damaged(face, "its loca table is cut short");
  return 1;
}

}  // namespace

std::span<const uint8_t> find_table(const FontFace &face, uint32_t tag) {
  for (const FontTable &t : face.tables)
    if (t.tag == tag) return t.bytes;
  return {};
}

int read_font_face(std::span<const uint8_t> file, int32_t index, std::string_view name,
                   FontFace &face) {
  face = FontFace{};
  face.file = file;
  face.name = std::string(name);
  if (file.size() > kMaxFontFileBytes) {
    set_error(ErrorCode::unsupported, "the font %s is too large to embed", face.name.c_str());
    return 0;
  }
  const int64_t offset = face_offset(face, index);
  if (offset < 0) return 0;
  if (!read_directory(face, offset) || !read_head(face) || !read_horizontal_metrics(face) ||
      !read_os2(face) || !locate_outlines(face))
    return 0;
  read_post(face);
  read_postscript_name(face, find_table(face, table_tag("name")));
  return choose_cmap(face, find_table(face, table_tag("cmap")));
}
