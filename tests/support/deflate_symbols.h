// A small, test-only zlib/DEFLATE parser that lists what a stream says:
// block boundaries, code lengths, literals and (length, distance) matches.
// It is strict: it refuses incomplete or over-subscribed codes, distances
// that reach before the start of the output, and nonzero padding bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace deflate_symbols {

struct Symbol {
  int length = 0;    // 0 for a literal
  int value = 0;     // the literal byte, or the distance
  bool is_literal() const { return length == 0; }
};

struct Block {
  bool final = false;
  int type = 0;                   // BTYPE: 0 stored, 1 fixed, 2 dynamic
  int hlit = 0, hdist = 0, hclen = 0;   // dynamic blocks: the header fields
  std::vector<int> cl_lengths;    // code-length code lengths, by symbol 0..18
  std::vector<int> lit_lengths;   // literal/length code lengths, symbols 0..hlit+256
  std::vector<int> dist_lengths;  // distance code lengths, symbols 0..hdist
  std::vector<Symbol> symbols;    // data symbols, end of block not included
  size_t out_start = 0;           // offset of the block's first output byte
};

struct Parsed {
  bool ok = false;
  std::string error;                // why parsing failed
  std::vector<Block> blocks;
  std::vector<unsigned char> output;  // the decoded bytes
  uint32_t adler_stored = 0;
  uint32_t adler_computed = 0;
  bool padding_zero = false;        // bits after the final block up to the byte boundary are 0
  size_t trailing_bytes = 0;        // bytes after the Adler-32 trailer
};

Parsed parse_zlib(const unsigned char *data, size_t len);
inline Parsed parse_zlib(const std::vector<unsigned char> &v) { return parse_zlib(v.data(), v.size()); }

}  // namespace deflate_symbols
