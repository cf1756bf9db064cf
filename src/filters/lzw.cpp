// LZWDecode: variable-width codes, 9 to 12 bits, first bit highest, into a
// table of up to 4,096 strings.
//
// Every string of the table also stands in the output, where it was last
// written out whole: an entry is the previous code's string followed by the
// first byte of the current one, and those two were written back to back.
// So an entry is kept as a place and a length in the output, and a code is
// decoded by copying from there: no string is stored twice, and the work is
// linear in the output.
#include <cstring>

#include "filters/filter_output.h"
#include "filters/filters.h"

namespace {

constexpr unsigned kClear = 256;
constexpr unsigned kEndOfData = 257;
constexpr unsigned kFirstEntry = 258;
constexpr unsigned kTableSize = 4096;  // the 12-bit codes
constexpr unsigned kMaxWidth = 12;

struct Entry {
  uint64_t start;   // offset of the string in the output, from where decoding began
  uint32_t length;
};

// The codes of the input, read first bit highest.
struct CodeReader {
  std::span<const uint8_t> in;
  size_t pos = 0;
  uint32_t bits = 0;   // the low `count` bits are unread
  unsigned count = 0;

  // Returns true with the next code of width bits in *code; false at the
  // end of the input (bits left over that make no whole code are dropped).
  bool next(unsigned width, unsigned *code) {
    while (count < width) {
      if (pos == in.size()) return false;
      bits = bits << 8 | in[pos++];
      count += 8;
    }
    count -= width;
    *code = bits >> count & ((1u << width) - 1);
    return true;
  }
};

}  // namespace

FilterStatus lzw_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit, bool early_change) {
  FilterOutput o{out, limit};
  if (!out_room(o, 0)) return out_finish(o, FilterStatus::too_large);
  const uint64_t base = out.length;
  Entry table[kTableSize];
  CodeReader reader{in};
  unsigned width = 9;
  unsigned next_free = kFirstEntry;
  bool have_prev = false;  // false at the start and after a clear
  Entry prev{};            // where the previous code's string was written
  const unsigned early = early_change ? 1 : 0;
  unsigned code = 0;
  while (reader.next(width, &code)) {
    if (code == kClear) {
      width = 9;
      next_free = kFirstEntry;
      have_prev = false;
      continue;
    }
    if (code == kEndOfData) break;
    const Entry here{out.length - base, 0};
    if (code < 256) {
      if (!out_byte(o, static_cast<uint8_t>(code))) return out_finish(o, FilterStatus::too_large);
    } else if (code < next_free && code >= kFirstEntry) {
      const Entry &e = table[code];
      if (!out_room(o, e.length)) return out_finish(o, FilterStatus::too_large);
      std::memcpy(out.data + out.length, out.data + base + e.start, e.length);
      out.length += e.length;
    } else if (code == next_free && have_prev && next_free < kTableSize) {
      // The entry being made: the previous string and its own first byte.
      if (!out_room(o, uint64_t{prev.length} + 1)) return out_finish(o, FilterStatus::too_large);
      uint8_t *dst = out.data + out.length;
      std::memcpy(dst, out.data + base + prev.start, prev.length);
      dst[prev.length] = out.data[base + prev.start];
      out.length += prev.length + 1;
    } else {
      return out_finish(o, FilterStatus::damaged);
    }
    const uint32_t length = static_cast<uint32_t>(out.length - base - here.start);
    // Once the table is full, codes stay 12 bits wide and add nothing until
    // a clear, as the writers that fill it expect.
    if (have_prev && next_free < kTableSize) {
      table[next_free++] = {prev.start, prev.length + 1};
      if (next_free + early >= (1u << width) && width < kMaxWidth) ++width;
    }
    prev = {here.start, length};
    have_prev = true;
  }
  return out_finish(o, FilterStatus::ok);
}
