// Writing font files: big-endian numbers, table checksums, the table
// directory, and the font program chosen by the kind of outlines.
#include <algorithm>

#include "font/font_internal.h"

namespace {

constexpr size_t kDirectoryHeader = 12;
constexpr size_t kTableRecord = 16;
constexpr size_t kCheckSumAdjustment = 8;  // head: where checkSumAdjustment stands
// What the whole file's checksum comes to once checkSumAdjustment is set.
constexpr uint32_t kFileChecksum = 0xB1B0AFBA;
constexpr uint32_t kCffVersion = table_tag("OTTO");

size_t padded(size_t n) { return (n + 3) & ~size_t{3}; }

// Returns the face's tables but its digital signature, which would no
// longer match the rewritten file.
std::vector<FontTable> tables_but_signature(const FontFace &face) {
  std::vector<FontTable> tables;
  for (const FontTable &t : face.tables) {
    const bool repeated = std::any_of(tables.begin(), tables.end(),
                                      [&](const FontTable &k) { return k.tag == t.tag; });
    if (t.tag != table_tag("DSIG") && !repeated) tables.push_back(t);
  }
  return tables;
}

}  // namespace

void put_u16(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void put_u32(std::vector<uint8_t> &out, uint32_t v) {
  put_u16(out, v >> 16);
  put_u16(out, v & 0xFFFF);
}

void set_u16(std::vector<uint8_t> &out, size_t at, uint32_t v) {
  out.at(at) = static_cast<uint8_t>(v >> 8);
  out.at(at + 1) = static_cast<uint8_t>(v);
}

void set_u32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
  set_u16(out, at, v >> 16);
  set_u16(out, at + 2, v & 0xFFFF);
}

uint32_t sfnt_checksum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes.size(); i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4; ++k)
      word = word << 8 | (i + k < bytes.size() ? bytes[i + k] : 0u);
    sum += word;
  }
  return sum;
}

std::vector<uint8_t> write_sfnt(uint32_t sfnt_version, std::vector<FontTable> tables) {
  std::stable_sort(tables.begin(), tables.end(),
                   [](const FontTable &a, const FontTable &b) { return a.tag < b.tag; });
  const auto count = static_cast<uint32_t>(tables.size());
  uint32_t power = 1, log2 = 0;
  while (power * 2 <= count) power *= 2, ++log2;

  size_t total = kDirectoryHeader + kTableRecord * count;
  for (const FontTable &t : tables) total += padded(t.bytes.size());
  std::vector<uint8_t> out;
  out.reserve(total);
  put_u32(out, sfnt_version);
  put_u16(out, count);
  put_u16(out, power * 16);              // searchRange
  put_u16(out, log2);                    // entrySelector
  put_u16(out, count * 16 - power * 16);  // rangeShift
  out.resize(kDirectoryHeader + kTableRecord * count);

  size_t head_at = 0;
  bool has_head = false;
  for (uint32_t i = 0; i < count; ++i) {
    const FontTable &t = tables[i];
    const size_t at = out.size();
    out.insert(out.end(), t.bytes.begin(), t.bytes.end());
    if (t.tag == table_tag("head") && t.bytes.size() >= kCheckSumAdjustment + 4) {
      // The table's checksum is taken with checkSumAdjustment zero.
      set_u32(out, at + kCheckSumAdjustment, 0);
      head_at = at;
      has_head = true;
    }
    out.resize(padded(out.size()), 0);
    const size_t record = kDirectoryHeader + kTableRecord * i;
    set_u32(out, record, t.tag);
    set_u32(out, record + 4, sfnt_checksum({out.data() + at, t.bytes.size()}));
    set_u32(out, record + 8, static_cast<uint32_t>(at));
    set_u32(out, record + 12, static_cast<uint32_t>(t.bytes.size()));
  }
  if (has_head)
    set_u32(out, head_at + kCheckSumAdjustment, kFileChecksum - sfnt_checksum(out));
  return out;
}

int font_program(const FontFace &face, const GlyphChars &used, std::vector<uint8_t> &program) {
  if (face.cff) {
    program = write_sfnt(kCffVersion, tables_but_signature(face));
    return 1;
  }
  program = subset_truetype(face, used);
  return program.empty() ? 0 : 1;
}
