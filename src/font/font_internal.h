// What the font module's files share: table tags, the table lookup,
// big-endian writing of the tables a subset rebuilds, the ToUnicode CMap.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "font/font.h"

// Returns the four-letter tag as the big-endian number the directory holds.
constexpr uint32_t table_tag(const char (&tag)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(tag[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(tag[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(tag[2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(tag[3]));
}

// Returns the face's table with the tag (the first when the directory lists
// it twice), or an empty range when it has none.
std::span<const uint8_t> find_table(const FontFace &face, uint32_t tag);

// Appends a big-endian number.
void put_u16(std::vector<uint8_t> &out, uint32_t v);
void put_u32(std::vector<uint8_t> &out, uint32_t v);

// Overwrites the big-endian number at `at`, which must lie inside out.
void set_u16(std::vector<uint8_t> &out, size_t at, uint32_t v);
void set_u32(std::vector<uint8_t> &out, size_t at, uint32_t v);

// Returns the sfnt checksum of bytes: the sum of their big-endian 32-bit
// words, the last one padded with zeros.
uint32_t sfnt_checksum(std::span<const uint8_t> bytes);

// Returns a whole font file: the directory of the tables sorted by tag, with
// each table's checksum, the tables 4-byte aligned, and head's
// checkSumAdjustment making the file's checksum come out as the format asks.
// sfnt_version is 0x00010000 for TrueType outlines, 'OTTO' for CFF.
std::vector<uint8_t> write_sfnt(uint32_t sfnt_version, std::vector<FontTable> tables);

// Returns the TrueType subset of the face (font_program's work for glyf
// outlines), or an empty vector after setting the error.
std::vector<uint8_t> subset_truetype(const FontFace &face, const GlyphChars &used);

// Reads the PostScript name of the face's name table into face.postscript_name.
void read_postscript_name(FontFace &face, std::span<const uint8_t> name_table);

// Returns 1 after choosing the face's Unicode character map subtable; 0
// after setting the error when it has none.
int choose_cmap(FontFace &face, std::span<const uint8_t> cmap_table);

// Returns the data of the ToUnicode CMap stream for the used glyphs.
std::string to_unicode_cmap(const GlyphChars &used);
