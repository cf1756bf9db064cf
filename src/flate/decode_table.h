// Huffman decode tables for inflate. One lookup on the next bits of the bit
// buffer (first bit lowest) gives a symbol's meaning and its code length;
// codes longer than the main table's width continue in a sub-table reached
// from the main entry of their first bits. Incomplete codes are allowed: bit
// patterns without a code get the entry 0, which decoding treats as damage.
// The builder is constexpr so that the fixed-code tables are made at compile
// time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "flate/tables.h"

namespace flate {

// Entry layout (uint32_t):
//   bits 0..5   bits the code takes at this level (sub-table link: the main
//               width); alone in the low 6 bits so that a shift by the entry
//               masked to 6 bits takes the code, which costs nothing on x86
//   bits 8..11  extra bits after the code (sub-table link: the sub-table's width)
//   bits 12..15 kind, one of the flags below; 0 for a pattern that has no code
//   bits 16..31 value: literal byte, base length or distance, code-length
//               symbol, or the index where the sub-table starts
inline constexpr uint32_t kEntryLiteral = 0x1000;  // also every code-length symbol
inline constexpr uint32_t kEntryMatch = 0x2000;    // base length or distance plus extra bits
inline constexpr uint32_t kEntryEnd = 0x4000;      // end of block
inline constexpr uint32_t kEntrySubTable = 0x8000;

constexpr unsigned entry_code_bits(uint32_t e) { return e & 63u; }
constexpr unsigned entry_extra_bits(uint32_t e) { return (e >> 8) & 15u; }
constexpr unsigned entry_value(uint32_t e) { return e >> 16; }

enum class Alphabet { lit_len, distance, code_length };

// DEFLATE codes are at most 15 bits long.
inline constexpr unsigned kMaxCodeBits = 15;
// The fixed literal/length code has 288 symbols; a dynamic one at most 286.
inline constexpr size_t kMaxSymbols = 288;

// Main widths: 11 bits hold every literal/length code of typical blocks and 8
// bits most distance codes, so sub-tables are rarely visited. Code-length
// codes are at most 7 bits long (3-bit fields), so they never need one.
inline constexpr unsigned kLitLenBits = 11;
inline constexpr unsigned kDistBits = 8;
inline constexpr unsigned kCodeLenBits = 7;

// Room for a main table and the worst case of its sub-tables. A sub-table
// whose longest code has length L takes 2^(L - main) entries and holds at
// least one code of length L. The codes of one length are consecutive, so
// the n_L codes of length L reach at most (n_L - 1) / 2^(L - main) + 2
// prefixes, whose sub-tables together take at most n_L - 1 + 2 * 2^(L - main)
// entries. Summed over L this is below symbols + 2 * (2^(15 - main + 1) - 2).
constexpr size_t decode_table_capacity(unsigned main_bits, size_t symbols) {
  size_t subs = 0;
  for (unsigned len = main_bits + 1; len <= kMaxCodeBits; ++len) subs += size_t{2} << (len - main_bits);
  return (size_t{1} << main_bits) + symbols + subs;
}
inline constexpr size_t kLitLenTableSize = decode_table_capacity(kLitLenBits, 288);
inline constexpr size_t kDistTableSize = decode_table_capacity(kDistBits, 30);
inline constexpr size_t kCodeLenTableSize = size_t{1} << kCodeLenBits;

// Returns the kind and value of a symbol's entries, or 0 for a symbol that
// has a code but may not appear in valid data (literal/length 286 and 287).
constexpr uint32_t symbol_entry(Alphabet alphabet, unsigned sym) {
  switch (alphabet) {
    case Alphabet::lit_len:
      if (sym < 256) return kEntryLiteral | sym << 16;
      if (sym == 256) return kEntryEnd;
      if (sym < 286) {
        const unsigned k = sym - 257;
        return kEntryMatch | static_cast<uint32_t>(base_len[k]) << 16 |
               static_cast<uint32_t>(extra_bits[k]) << 8;
      }
      return 0;
    case Alphabet::distance:
      if (sym < 30)
        return kEntryMatch | static_cast<uint32_t>(base_dist[sym]) << 16 |
               static_cast<uint32_t>(dist_bits[sym]) << 8;
      return 0;
    case Alphabet::code_length:
      return kEntryLiteral | sym << 16;
  }
  return 0;
}

struct ByteReversal {
  uint8_t r[256];
};
constexpr ByteReversal make_byte_reversal() {
  ByteReversal t{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned r = 0;
    for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1u) << (7 - i);
    t.r[b] = static_cast<uint8_t>(r);
  }
  return t;
}
inline constexpr ByteReversal kByteReversal = make_byte_reversal();

// Returns the n (at most 16) low bits of code in reverse order: codes are
// sent most significant bit first, while the bit buffer holds the first bit
// lowest.
constexpr unsigned reverse_bits(unsigned code, unsigned n) {
  const unsigned r16 = unsigned{kByteReversal.r[code & 0xFF]} << 8 | kByteReversal.r[(code >> 8) & 0xFF];
  return r16 >> (16 - n);
}

// Returns true after filling table with the canonical code of the code
// lengths in lens (each 0..15, 0 meaning no code), or false when the lengths
// over-subscribe the code space. Incomplete codes, the empty one included,
// are accepted: their free patterns decode as entry 0.
constexpr bool build_decode_table(std::span<const uint8_t> lens, Alphabet alphabet, unsigned main_bits,
                                  std::span<uint32_t> table) {
  const size_t main_size = size_t{1} << main_bits;
  if (lens.size() > kMaxSymbols || table.size() < main_size) return false;

  unsigned count[kMaxCodeBits + 1] = {};
  for (const uint8_t len : lens) ++count[len];
  count[0] = 0;
  int left = 1;
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
    left = 2 * left - static_cast<int>(count[len]);
    if (left < 0) return false;
  }

  // Symbols sorted by code length, then by value: the canonical order.
  unsigned next[kMaxCodeBits + 2] = {};
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) next[len + 1] = next[len] + count[len];
  uint16_t sorted[kMaxSymbols] = {};
  for (size_t s = 0; s < lens.size(); ++s)
    if (lens[s] != 0) sorted[next[lens[s]]++] = static_cast<uint16_t>(s);

  // A complete code writes every entry of each sub-table, so only an
  // incomplete one needs them cleared first.
  const bool incomplete = left > 0;
  size_t next_sub = main_size;
  unsigned sub_prefix = ~0u;  // first main_bits bits of the codes in the current sub-table
  size_t sub_base = 0;
  size_t sub_size = 0;

  // The main table grows with the code length: the codes of length len go
  // into its first 2^len entries, and before the next length that part is
  // copied behind itself, which repeats every shorter code over all the
  // patterns that begin with it (and the cleared start over the free ones).
  table[0] = 0;
  table[1] = 0;
  size_t filled = 2;
  unsigned code = 0;
  unsigned k = 0;
  for (unsigned len = 1; len <= kMaxCodeBits; ++len, code <<= 1) {
    if (len <= main_bits) {
      if (len > 1) {
        std::copy_n(table.begin(), filled, table.begin() + static_cast<std::ptrdiff_t>(filled));
        filled *= 2;
      }
      for (unsigned i = 0; i < count[len]; ++i, ++k, ++code) {
        const uint32_t kind = symbol_entry(alphabet, sorted[k]);
        table[reverse_bits(code, len)] = kind == 0 ? 0 : kind | len;
      }
      continue;
    }
    for (unsigned i = 0; i < count[len]; ++i, ++k, ++code) {
      const uint32_t kind = symbol_entry(alphabet, sorted[k]);
      const unsigned prefix = code >> (len - main_bits);
      if (prefix != sub_prefix) {
        // The sub-table is as wide as the longest code that shares this
        // prefix; those codes follow this one directly in canonical order.
        unsigned max_len = len;
        unsigned c = code, l = len, j = i;
        for (;;) {
          ++c;
          ++j;
          while (j >= count[l] && l < kMaxCodeBits) {
            c <<= 1;
            ++l;
            j = 0;
          }
          if (j >= count[l] || c >> (l - main_bits) != prefix) break;
          max_len = l;
        }
        sub_prefix = prefix;
        sub_base = next_sub;
        sub_size = size_t{1} << (max_len - main_bits);
        // Unreachable by the bound above; kept so that a mistake there
        // cannot write past the table.
        if (sub_base + sub_size > table.size() || sub_base > 0xFFFF) return false;
        next_sub += sub_size;
        if (incomplete)
          for (size_t at = 0; at < sub_size; ++at) table[sub_base + at] = 0;
        table[reverse_bits(prefix, main_bits)] = kEntrySubTable | static_cast<uint32_t>(sub_base) << 16 |
                                                 (max_len - main_bits) << 8 | main_bits;
      }
      const unsigned sub_len = len - main_bits;
      const uint32_t e = kind == 0 ? 0 : kind | sub_len;
      for (size_t at = reverse_bits(code, sub_len); at < sub_size; at += size_t{1} << sub_len)
        table[sub_base + at] = e;
    }
  }
  return true;
}

}  // namespace flate
