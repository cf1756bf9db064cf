// A test-only writer of raw DEFLATE data (RFC 1951), bit by bit, so that
// tests can build valid and deliberately broken streams readably: stored,
// fixed and dynamic blocks, any header field value, any code lengths and any
// sequence of code-length instructions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "flate/tables.h"

namespace craft {

using Bytes = std::vector<unsigned char>;

struct BitWriter {
  Bytes bytes;
  uint32_t acc = 0;  // pending bits, first bit lowest
  int pending = 0;

  // Appends the n low bits of v, first bit lowest (header fields, extra bits).
  void bits(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
      acc |= ((v >> i) & 1u) << pending;
      if (++pending == 8) {
        bytes.push_back(static_cast<unsigned char>(acc));
        acc = 0;
        pending = 0;
      }
    }
  }

  // Appends a Huffman code of len bits, most significant bit first.
  void code(uint32_t c, int len) {
    for (int i = len - 1; i >= 0; --i) bits((c >> i) & 1u, 1);
  }

  // Pads with zero bits to the next byte boundary.
  void align() {
    if (pending) bits(0, 8 - pending);
  }

  void raw_bytes(std::span<const unsigned char> data) {
    align();
    bytes.insert(bytes.end(), data.begin(), data.end());
  }

  // Returns the bytes written so far, the last one zero-padded.
  Bytes finish() const {
    Bytes out = bytes;
    if (pending) out.push_back(static_cast<unsigned char>(acc));
    return out;
  }
};

// The canonical code of a list of code lengths (RFC 1951 3.2.2).
struct Code {
  std::vector<int> lens;
  std::vector<uint32_t> codes;
};

inline Code canonical(std::vector<int> lens) {
  Code c{lens, std::vector<uint32_t>(lens.size(), 0)};
  int count[16] = {};
  for (int len : lens) count[len]++;
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int len = 1; len < 16; ++len) {
    code = (code + static_cast<uint32_t>(count[len - 1])) << 1;
    next[len] = code;
  }
  for (size_t s = 0; s < lens.size(); ++s)
    if (lens[s]) c.codes[s] = next[lens[s]]++;
  return c;
}

inline void put(BitWriter &w, const Code &c, int sym) {
  w.code(c.codes[static_cast<size_t>(sym)], c.lens[static_cast<size_t>(sym)]);
}

// Length 3..258 as symbol 257..285 with its extra bits.
struct Coded {
  int sym;
  uint32_t extra;
  int extra_bits;
};

inline Coded length_symbol(int length) {
  int k = 28;
  while (flate::base_len[k] > length) --k;
  return {257 + k, static_cast<uint32_t>(length - flate::base_len[k]), flate::extra_bits[k]};
}

inline Coded distance_symbol(int dist) {
  int k = 29;
  while (flate::base_dist[k] > dist) --k;
  return {k, static_cast<uint32_t>(dist - flate::base_dist[k]), flate::dist_bits[k]};
}

// BFINAL and BTYPE.
inline void block_header(BitWriter &w, bool final, int type) {
  w.bits(final ? 1u : 0u, 1);
  w.bits(static_cast<uint32_t>(type), 2);
}

// A stored block with explicit LEN and NLEN, followed by data.
inline void stored_block(BitWriter &w, bool final, uint16_t len, uint16_t nlen, std::span<const unsigned char> data) {
  block_header(w, final, 0);
  w.align();
  w.bits(len, 16);
  w.bits(nlen, 16);
  w.raw_bytes(data);
}

inline void stored_block(BitWriter &w, bool final, std::span<const unsigned char> data) {
  const auto len = static_cast<uint16_t>(data.size());
  stored_block(w, final, len, static_cast<uint16_t>(~len), data);
}

inline const Code &fixed_lit_code() {
  static const Code c = [] {
    std::vector<int> lens(288);
    for (int s = 0; s < 288; ++s) lens[static_cast<size_t>(s)] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    return canonical(lens);
  }();
  return c;
}

// The fixed distance code has 32 patterns of 5 bits; 30 and 31 are invalid
// but writable.
inline const Code &fixed_dist_code() {
  static const Code c = canonical(std::vector<int>(32, 5));
  return c;
}

// The two codes of a Huffman block.
struct BlockCodes {
  Code lit;
  Code dist;
};

inline BlockCodes fixed_codes() { return {fixed_lit_code(), fixed_dist_code()}; }

inline void literals(BitWriter &w, const BlockCodes &c, std::string_view text) {
  for (const char ch : text) put(w, c.lit, static_cast<unsigned char>(ch));
}

inline void match(BitWriter &w, const BlockCodes &c, int length, int dist) {
  const Coded l = length_symbol(length);
  put(w, c.lit, l.sym);
  w.bits(l.extra, l.extra_bits);
  const Coded d = distance_symbol(dist);
  put(w, c.dist, d.sym);
  w.bits(d.extra, d.extra_bits);
}

inline void end_of_block(BitWriter &w, const BlockCodes &c) { put(w, c.lit, 256); }

// One instruction of the code-length alphabet: a length 0..15, or a repeat
// code 16, 17 or 18 with its extra-bit value.
struct LenOp {
  int sym;
  uint32_t extra = 0;
};

// A complete code-length code over all 19 symbols: 0..12 get 4 bits and
// 13..18 get 5 bits.
inline std::vector<int> default_cl_lens() {
  std::vector<int> lens(19, 4);
  for (int s = 13; s < 19; ++s) lens[static_cast<size_t>(s)] = 5;
  return lens;
}

// A dynamic block header with every field given: HLIT, HDIST and HCLEN as
// written (so out-of-range values can be sent), the code-length code lengths
// by symbol and the instructions that follow.
inline void dynamic_header_raw(BitWriter &w, bool final, uint32_t hlit, uint32_t hdist, uint32_t hclen,
                               const std::vector<int> &cl_lens, std::span<const LenOp> ops) {
  block_header(w, final, 2);
  w.bits(hlit, 5);
  w.bits(hdist, 5);
  w.bits(hclen, 4);
  for (uint32_t k = 0; k < hclen + 4; ++k)
    w.bits(static_cast<uint32_t>(cl_lens[static_cast<size_t>(flate::DECODE_ORDER[k])]), 3);
  const Code cl = canonical(cl_lens);
  for (const LenOp &op : ops) {
    put(w, cl, op.sym);
    if (op.sym == 16) w.bits(op.extra, 2);
    if (op.sym == 17) w.bits(op.extra, 3);
    if (op.sym == 18) w.bits(op.extra, 7);
  }
}

// Each length sent as itself, no repeat codes.
inline std::vector<LenOp> plain_ops(const std::vector<int> &lit_lens, const std::vector<int> &dist_lens) {
  std::vector<LenOp> ops;
  for (int len : lit_lens) ops.push_back({len});
  for (int len : dist_lens) ops.push_back({len});
  return ops;
}

// A dynamic block header for the given code lengths (257..286 literal/length
// lengths, 1..30 distance lengths); returns the two codes for the data.
inline BlockCodes dynamic_header(BitWriter &w, bool final, const std::vector<int> &lit_lens,
                                 const std::vector<int> &dist_lens) {
  const auto ops = plain_ops(lit_lens, dist_lens);
  dynamic_header_raw(w, final, static_cast<uint32_t>(lit_lens.size() - 257),
                     static_cast<uint32_t>(dist_lens.size() - 1), 15, default_cl_lens(), ops);
  return {canonical(lit_lens), canonical(dist_lens)};
}

}  // namespace craft
