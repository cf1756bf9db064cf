#include "support/font_maker.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace testfont {

namespace {

void u16(std::string &out, uint32_t v) {
  out += static_cast<char>(v >> 8 & 0xFF);
  out += static_cast<char>(v & 0xFF);
}
void u32(std::string &out, uint32_t v) {
  u16(out, v >> 16);
  u16(out, v & 0xFFFF);
}

// A square from (100, 0) to (400, 600): one contour of four on-curve points
// with 16-bit coordinate deltas.
std::string square() {
  std::string g;
  u16(g, 1);                                    // numberOfContours
  u16(g, 100), u16(g, 0), u16(g, 400), u16(g, 600);  // xMin yMin xMax yMax
  u16(g, 3);                                    // endPtsOfContours[0]
  u16(g, 0);                                    // instructionLength
  for (int i = 0; i < 4; ++i) g += '\x01';     // on curve, long x and y
  for (const int dx : {100, 300, 0, -300}) u16(g, static_cast<uint16_t>(dx));
  for (const int dy : {0, 0, 600, 0}) u16(g, static_cast<uint16_t>(dy));
  return g;
}

std::string composite(const std::vector<uint16_t> &components) {
  std::string g;
  u16(g, 0xFFFF);  // numberOfContours -1
  u16(g, 100), u16(g, 0), u16(g, 400), u16(g, 600);
  for (size_t i = 0; i < components.size(); ++i) {
    // ARG_1_AND_2_ARE_WORDS | ARGS_ARE_XY_VALUES, and MORE_COMPONENTS but for the last.
    u16(g, 0x0003 | (i + 1 < components.size() ? 0x0020 : 0));
    u16(g, components[i]);
    u16(g, static_cast<uint32_t>(10 * i)), u16(g, 0);
  }
  return g;
}

std::string cmap_table(const FontRecipe &recipe) {
  std::vector<std::pair<char32_t, uint16_t>> pairs = recipe.cmap;
  std::sort(pairs.begin(), pairs.end());
  std::string sub;
  if (recipe.cmap_format == 12) {
    u16(sub, 12), u16(sub, 0);
    u32(sub, static_cast<uint32_t>(16 + 12 * pairs.size()));
    u32(sub, 0);  // language
    u32(sub, static_cast<uint32_t>(pairs.size()));
    for (const auto &[c, g] : pairs) u32(sub, c), u32(sub, c), u32(sub, g);
  } else {
    // One segment per character, then the closing one.
    const size_t count = pairs.size() + 1;
    u16(sub, 4);
    u16(sub, static_cast<uint32_t>(16 + 8 * count));
    u16(sub, 0);
    u16(sub, static_cast<uint32_t>(2 * count));
    u16(sub, 0), u16(sub, 0), u16(sub, 0);  // search fields, not read by anyone here
    for (const auto &p : pairs) u16(sub, p.first);
    u16(sub, 0xFFFF);
    u16(sub, 0);
    for (const auto &p : pairs) u16(sub, p.first);
    u16(sub, 0xFFFF);
    for (const auto &[c, g] : pairs) u16(sub, (g - c) & 0xFFFF);
    u16(sub, 1);
    for (size_t i = 0; i < count; ++i) u16(sub, 0);
  }
  std::string t;
  u16(t, 0), u16(t, 1);
  u16(t, 3), u16(t, recipe.cmap_format == 12 ? 10 : 1);
  u32(t, 12);
  return t + sub;
}

std::map<std::string, std::string> tables_of(const FontRecipe &recipe) {
  const auto count = static_cast<uint32_t>(recipe.glyphs.size());
  std::string glyf, loca, hmtx;
  for (uint32_t g = 0; g < count; ++g) {
    if (recipe.long_loca) u32(loca, static_cast<uint32_t>(glyf.size()));
    else u16(loca, static_cast<uint32_t>(glyf.size() / 2));
    glyf += recipe.glyphs[g].components.empty() ? square() : composite(recipe.glyphs[g].components);
    if (glyf.size() % 2 != 0) glyf += '\0';
    u16(hmtx, advance_of(static_cast<uint16_t>(g)));
    u16(hmtx, 100);
  }
  if (recipe.long_loca) u32(loca, static_cast<uint32_t>(glyf.size()));
  else u16(loca, static_cast<uint32_t>(glyf.size() / 2));

  std::string head;
  u32(head, 0x00010000), u32(head, 0x00010000);
  u32(head, 0);  // checkSumAdjustment
  u32(head, 0x5F0F3CF5);
  u16(head, 0), u16(head, recipe.units_per_em);
  head += std::string(16, '\0');  // created, modified
  u16(head, 0), u16(head, 0), u16(head, 1000), u16(head, 800);
  u16(head, 0), u16(head, 8), u16(head, 2);  // macStyle, lowestRecPPEM, fontDirectionHint
  u16(head, recipe.long_loca ? 1 : 0), u16(head, 0);

  std::string hhea;
  u32(hhea, 0x00010000);
  u16(hhea, 800), u16(hhea, static_cast<uint16_t>(-200)), u16(hhea, 0);
  u16(hhea, 1000), u16(hhea, 0), u16(hhea, 0), u16(hhea, 1000);
  u16(hhea, 1), u16(hhea, 0), u16(hhea, 0);
  hhea += std::string(8, '\0');
  u16(hhea, 0), u16(hhea, count);

  std::string maxp;
  u32(maxp, 0x00010000), u16(maxp, count);
  for (const int v : {4, 1, 8, 2, 2, 0, 0, 0, 0, 0, 0, 4, 2}) u16(maxp, static_cast<uint32_t>(v));

  std::string os2(96, '\0');
  poke16(os2, 0, 4);                          // version
  poke16(os2, 4, 400);                        // usWeightClass
  poke16(os2, 8, recipe.fs_type);
  poke16(os2, 68, 750);                       // sTypoAscender
  poke16(os2, 70, static_cast<uint16_t>(-250));  // sTypoDescender
  poke16(os2, 88, 700);                       // sCapHeight

  std::string post(32, '\0');
  poke32(post, 0, 0x00030000);

  std::string name;
  u16(name, 0), u16(name, 1), u16(name, 18);
  u16(name, 3), u16(name, 1), u16(name, 0x409), u16(name, 6);
  u16(name, static_cast<uint32_t>(2 * recipe.postscript_name.size())), u16(name, 0);
  for (const char c : recipe.postscript_name) u16(name, static_cast<uint8_t>(c));

  std::map<std::string, std::string> t = {{"head", head}, {"hhea", hhea}, {"maxp", maxp},
                                          {"hmtx", hmtx}, {"loca", loca}, {"glyf", glyf},
                                          {"OS/2", os2},  {"post", post}, {"name", name}};
  if (recipe.cmap_format != 0) t["cmap"] = cmap_table(recipe);
  return t;
}

}  // namespace

void poke16(std::string &bytes, size_t at, uint32_t v) {
  bytes.at(at) = static_cast<char>(v >> 8 & 0xFF);
  bytes.at(at + 1) = static_cast<char>(v & 0xFF);
}

void poke32(std::string &bytes, size_t at, uint32_t v) {
  poke16(bytes, at, v >> 16);
  poke16(bytes, at + 2, v & 0xFFFF);
}

std::string make_font(const FontRecipe &recipe) {
  const std::map<std::string, std::string> tables = tables_of(recipe);  // sorted by tag
  std::string out;
  u32(out, 0x00010000), u16(out, static_cast<uint32_t>(tables.size()));
  u16(out, 0), u16(out, 0), u16(out, 0);  // search fields
  size_t at = 12 + 16 * tables.size();
  std::string data;
  for (const auto &[tag, bytes] : tables) {
    out += tag;
    u32(out, 0);  // checksum: not checked by the reader
    u32(out, static_cast<uint32_t>(at + data.size()));
    u32(out, static_cast<uint32_t>(bytes.size()));
    data += bytes;
    data.resize((data.size() + 3) & ~size_t{3}, '\0');
  }
  return out + data;
}

std::string make_collection(const std::vector<std::string> &fonts) {
  std::string out = "ttcf";
  u32(out, 0x00010000), u32(out, static_cast<uint32_t>(fonts.size()));
  size_t at = 12 + 4 * fonts.size();
  for (const std::string &f : fonts) {
    u32(out, static_cast<uint32_t>(at));
    at += (f.size() + 3) & ~size_t{3};
  }
  for (const std::string &f : fonts) {
    // Each face's table offsets count from the collection's start.
    std::string face = f;
    const size_t base = out.size();
    const size_t count = static_cast<uint8_t>(f[4]) << 8 | static_cast<uint8_t>(f[5]);
    for (size_t i = 0; i < count; ++i) {
      const size_t record = 12 + 16 * i + 8;
      const uint32_t offset = static_cast<uint32_t>(static_cast<uint8_t>(f[record])) << 24 |
                              static_cast<uint32_t>(static_cast<uint8_t>(f[record + 1])) << 16 |
                              static_cast<uint32_t>(static_cast<uint8_t>(f[record + 2])) << 8 |
                              static_cast<uint8_t>(f[record + 3]);
      poke32(face, record, static_cast<uint32_t>(offset + base));
    }
    face.resize((face.size() + 3) & ~size_t{3}, '\0');
    out += face;
  }
  return out;
}

std::pair<size_t, size_t> table_place(const std::string &font, const char *tag) {
  const size_t count = static_cast<uint8_t>(font[4]) << 8 | static_cast<uint8_t>(font[5]);
  const auto be32 = [&](size_t at) {
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) v = v << 8 | static_cast<uint8_t>(font[at + k]);
    return v;
  };
  for (size_t i = 0; i < count; ++i) {
    const size_t record = 12 + 16 * i;
    if (font.compare(record, 4, tag) == 0) return {be32(record + 8), be32(record + 12)};
  }
  return {0, 0};
}

}  // namespace testfont
