// Greedy LZ77 match search of one block: 3-byte hash chains, at most 128
// candidates per position, matches of 3 to 258 bytes, at most 32,767 back
// and never into an earlier block; no lazy evaluation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flate {

inline constexpr size_t kBlockSize = 65536;

// Hash chains of one block. Positions are offsets in the block (below 65,536,
// so 16 bits hold them); 0 doubles as the empty mark. prev needs no clearing:
// an entry is only read for a position inserted earlier in the same block.
struct MatchTables {
  uint16_t head[32768];
  uint16_t prev[32768];
};

// A coded symbol: a literal byte b is b; a match is (length << 16) | distance.
inline constexpr uint32_t make_match(uint32_t length, uint32_t dist) { return length << 16 | dist; }
inline constexpr bool is_match(uint32_t sym) { return sym >= 0x10000; }
inline constexpr uint32_t match_length(uint32_t sym) { return sym >> 16; }
inline constexpr uint32_t match_distance(uint32_t sym) { return sym & 0xFFFF; }

// Symbol frequencies of a block: literal/length (0..285) and distance (0..29).
struct BlockFreqs {
  uint32_t lit[286];
  uint32_t dist[30];
};

// Clears the tables and the frequencies, finds the symbols of data[0..len)
// (len at most kBlockSize) and stores them in syms (room for len entries);
// returns their count.
size_t lz_block(const unsigned char *data, size_t len, MatchTables &tables, uint32_t *syms,
                BlockFreqs &freqs);

}  // namespace flate
