// Length-limited canonical Huffman codes and the run-length coding of code
// lengths for the compressor. Both are part of the defined output, so their
// tie-breaking is fixed: the queue orders by frequency, then by subtree
// depth, and codes longer than the limit are shortened by moving leaves
// between lengths. Pure functions over caller-owned arrays.
#pragma once

#include <cstdint>

namespace flate {

inline constexpr int kMaxAlphabet = 286;

// Builds the codes of an alphabet of elems symbols (2..286) from freq[0..elems),
// limited to max_length bits (at most 15). Writes every symbol's code length
// to lens[0..elems) and its code, bit-reversed for LSB-first output, to
// codes[0..elems). Returns the max code: the largest symbol with a nonzero
// length (which includes the one or two symbols added when fewer than two are
// used).
int huff_build(const uint32_t *freq, int elems, int max_length, uint8_t *lens, uint16_t *codes);

// One code-length symbol (0..18) and the value of its repeat bits (16: 2 bits,
// 17: 3 bits, 18: 7 bits; 0 for the others).
struct ClOp {
  uint8_t sym;
  uint8_t rep;
};

// Run-length codes lens[0..max_code] (the list ends as if followed by the
// guard length -1) into ops, at most max_code + 1 of them; returns the count.
int code_length_ops(const uint8_t *lens, int max_code, ClOp *ops);

// Extra-bit count of a code-length symbol.
constexpr int cl_extra_bits(int sym) { return sym < 16 ? 0 : sym == 16 ? 2 : sym == 17 ? 3 : 7; }

}  // namespace flate
