// The PostScript name (name table, nameID 6) as a PDF name can hold it.
#include <string>

#include "common/byte_reader.h"
#include "font/font_internal.h"

namespace {

constexpr uint16_t kPostScriptNameId = 6;

// PostScript names are at most 63 characters long.
constexpr size_t kMaxPostScriptName = 63;

// What the face is called when its name table gives no usable name.
constexpr const char *kStandInName = "EmbeddedFont";

// Returns true for a byte a PDF name may hold as it stands: printable ASCII
// other than the delimiters and the '#' that starts an escape.
bool name_byte(uint32_t c) {
  if (c < 33 || c > 126) return false;
  switch (c) {
    case '(': case ')': case '<': case '>': case '[': case ']': case '{': case '}': case '/':
    case '%': case '#':
      return false;
    default:
      return true;
  }
}

// Returns how much a record's platform and encoding are preferred: Windows
// Unicode first, then Macintosh Roman, then Unicode; 0 for none of them.
int preference(uint16_t platform, uint16_t encoding) {
  if (platform == 3 && (encoding == 1 || encoding == 0)) return 3;
  if (platform == 1 && encoding == 0) return 2;
  if (platform == 0) return 1;
  return 0;
}

// Returns the name's usable characters: one byte each on the Macintosh
// platform, 16-bit big-endian units on the others.
std::string name_text(std::span<const uint8_t> bytes, bool wide) {
  std::string text;
  ByteReader r = reader_at(bytes, 0);
  while (text.size() < kMaxPostScriptName && reader_has(r, wide ? 2 : 1)) {
    const uint32_t c = wide ? read_u16(r) : read_u8(r);
    if (name_byte(c)) text += static_cast<char>(c);
  }
  return text;
}

}  // namespace

void read_postscript_name(FontFace &face, std::span<const uint8_t> table) {
  face.postscript_name = kStandInName;
  ByteReader r = reader_at(table, 2);
  const uint16_t count = read_u16(r);
  const uint16_t strings_at = read_u16(r);
  if (!r.ok) return;
  int best = 0;
  std::string best_text;
  for (uint16_t i = 0; i < count && r.ok; ++i) {
    const uint16_t platform = read_u16(r);
    const uint16_t encoding = read_u16(r);
    read_u16(r);  // language
    const uint16_t id = read_u16(r);
    const uint16_t length = read_u16(r);
    const uint16_t offset = read_u16(r);
    const int rank = preference(platform, encoding);
    if (!r.ok || id != kPostScriptNameId || rank <= best) continue;
    bool inside = true;
    const std::span<const uint8_t> bytes =
        sub_range(table, uint64_t{strings_at} + offset, length, inside);
    std::string text = name_text(bytes, platform != 1);
    if (!inside || text.empty()) continue;
    best = rank;
    best_text = std::move(text);
  }
  if (!best_text.empty()) face.postscript_name = std::move(best_text);
}
