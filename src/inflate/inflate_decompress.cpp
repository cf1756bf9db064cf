// inflate_decompress: a zlib stream decoded block by block into the caller's
// buffer, or only measured (count-only mode). Stored, fixed and dynamic
// blocks are read as RFC 1951 defines them; the Adler-32 trailer is not.
//
// Huffman codes are kept in canonical form, the number of codes of each
// length and the symbols in code order, and decoded a bit at a time. Codes of
// up to kFastBits bits are also looked up in a table indexed by the next
// input bits, which decides most symbols in one step; it gives the same
// symbol and consumes the same bits as the bitwise walk, which stays the
// authority for longer codes and for bit patterns that are no code.
//
// Input is taken a byte at a time into a bit buffer and every read knows
// where the input ends: running out is reported up the call chain as
// kShortInput. All working state is one record on the caller's stack; the
// fixed codes are constants built at compile time.
#include "inflate/inflate.h"

#include <cstdint>
#include <cstring>

namespace {

// Largest capacity a caller may give: sizes stay far from any overflow.
constexpr uint64_t kMaxCapacity = uint64_t{1} << 30;
constexpr int kMaxBits = 15;       // longest DEFLATE code
constexpr int kMaxLitLen = 286;    // literal/length codes a dynamic block may declare
constexpr int kMaxDist = 30;       // distance codes a dynamic block may declare
constexpr int kFixedLitLen = 288;  // the fixed code defines two unused symbols beyond 285
// Codes up to this length are decided by one table look-up: 9 bits cover
// every fixed literal/length code and most codes of dynamic blocks.
constexpr int kFastBits = 9;

// How a step of decoding ends: ok (the byte, match or whole block is done),
// or why decoding stops.
enum class End { ok, output_full, bad_data, short_input };

// Results of decode below 0.
constexpr int kShortInput = -1;
constexpr int kBadCode = -10;

// A canonical Huffman code. count[L] is the number of symbols of code length
// L (count[0] those without a code), symbol[] the symbols by code length and
// then by value. fast[] maps the next kFastBits input bits (first bit lowest)
// to length << 12 | symbol for codes of at most kFastBits bits, 0 elsewhere.
struct HuffCode {
  int16_t count[kMaxBits + 1] = {};
  int16_t symbol[kFixedLitLen] = {};
  uint16_t fast[1u << kFastBits] = {};
};

// Returns the lowest n bits of v in reverse order.
constexpr uint32_t reverse_bits(uint32_t v, int n) {
  uint32_t r = 0;
  for (int i = 0; i < n; ++i, v >>= 1) r = r << 1 | (v & 1u);
  return r;
}

// Fills code from the n code lengths at lengths. Returns 0 for a complete
// code or one without any codes, the number of 15-bit codes still free for an
// incomplete one, and a negative number for an over-subscribed one, which is
// left half built and must not be used.
constexpr int construct(HuffCode &code, const uint8_t *lengths, int n) {
  for (auto &c : code.count) c = 0;
  for (int s = 0; s < n; ++s) ++code.count[lengths[s]];
  for (auto &f : code.fast) f = 0;
  if (code.count[0] == n) return 0;

  int left = 1;  // codes of the current length still free
  for (int len = 1; len <= kMaxBits; ++len) {
    left = left * 2 - code.count[len];
    if (left < 0) return left;
  }

  int offs[kMaxBits + 2] = {};
  for (int len = 1; len <= kMaxBits; ++len) offs[len + 1] = offs[len] + code.count[len];
  for (int s = 0; s < n; ++s)
    if (lengths[s] != 0) code.symbol[offs[lengths[s]]++] = static_cast<int16_t>(s);

  // The look-up table: walk the symbols in code order with their canonical
  // codes, as the bitwise decoder would meet them.
  uint32_t next = 0;  // canonical code of the next symbol at length len
  int index = 0;
  for (int len = 1; len <= kFastBits; ++len) {
    for (int k = 0; k < code.count[len]; ++k, ++index, ++next) {
      const uint32_t first = reverse_bits(next, len);
      const auto entry = static_cast<uint16_t>(len << 12 | code.symbol[index]);
      for (uint32_t fill = first; fill < (1u << kFastBits); fill += 1u << len) code.fast[fill] = entry;
    }
    next <<= 1;
  }
  return left;
}

struct FixedCodes {
  HuffCode lit;
  HuffCode dist;
};

constexpr FixedCodes make_fixed_codes() {
  FixedCodes f;
  uint8_t lengths[kFixedLitLen] = {};
  int s = 0;
  for (; s < 144; ++s) lengths[s] = 8;
  for (; s < 256; ++s) lengths[s] = 9;
  for (; s < 280; ++s) lengths[s] = 7;
  for (; s < kFixedLitLen; ++s) lengths[s] = 8;
  construct(f.lit, lengths, kFixedLitLen);
  for (s = 0; s < kMaxDist; ++s) lengths[s] = 5;
  construct(f.dist, lengths, kMaxDist);
  return f;
}

constexpr FixedCodes kFixed = make_fixed_codes();

// Length bases and extra bits of symbols 257 ... 285, distance bases and
// extra bits of distance symbols 0 ... 29 (RFC 1951, 3.2.5).
constexpr int16_t lens[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                              31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int16_t lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int16_t dists[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                               33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                               1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int16_t dext[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                              6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the code-length code's lengths.
constexpr uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Everything one call works with.
struct State {
  uint8_t *out = nullptr;
  bool count_only = false; // nothing is written, only counted
  uint64_t capacity = 0;
  uint64_t count = 0;      // bytes produced, also in count-only mode
  const uint8_t *in = nullptr;
  size_t in_len = 0;
  size_t in_pos = 0;       // next byte to load
  uint32_t bitbuf = 0;     // loaded bits not yet used, next bit lowest
  int bitcnt = 0;
  HuffCode lit;            // the codes of the current dynamic block
  HuffCode dist;
};

// Stores the next n (at most 16) bits in v; false when the input runs out.
bool bits(State &s, int n, uint32_t &v) {
  while (s.bitcnt < n) {
    if (s.in_pos == s.in_len) return false;
    s.bitbuf |= uint32_t{s.in[s.in_pos++]} << s.bitcnt;
    s.bitcnt += 8;
  }
  v = s.bitbuf & ((1u << n) - 1);
  s.bitbuf >>= n;
  s.bitcnt -= n;
  return true;
}

// The code walked a bit at a time: after each bit, the codes of the length
// reached so far are numbered first ... first + count - 1.
int decode_slow(State &s, const HuffCode &h) {
  int code = 0;
  int first = 0;
  int index = 0;
  for (int len = 1; len <= kMaxBits; ++len) {
    uint32_t bit = 0;
    if (!bits(s, 1, bit)) return kShortInput;
    code |= static_cast<int>(bit);
    const int count = h.count[len];
    if (code - count < first) return h.symbol[index + (code - first)];
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return kBadCode;
}

// Returns the next symbol of code h, kBadCode when the next 15 bits are no
// code, or kShortInput when the input ends first.
int decode(State &s, const HuffCode &h) {
  while (s.bitcnt < kFastBits && s.in_pos < s.in_len) {
    s.bitbuf |= uint32_t{s.in[s.in_pos++]} << s.bitcnt;
    s.bitcnt += 8;
  }
  // Bits past the end of the input read as 0 here; an entry that needs them
  // means the code runs past the end.
  const uint16_t entry = h.fast[s.bitbuf & ((1u << kFastBits) - 1)];
  if (entry != 0) {
    const int len = entry >> 12;
    if (len > s.bitcnt) return kShortInput;
    s.bitbuf >>= len;
    s.bitcnt -= len;
    return entry & 0x1FF;
  }
  return decode_slow(s, h);
}

End put_byte(State &s, int byte) {
  if (!s.count_only) {
    if (s.count == s.capacity) return End::output_full;
    s.out[s.count] = static_cast<uint8_t>(byte);
  }
  ++s.count;
  return End::ok;
}

End copy_match(State &s, uint64_t length, uint64_t distance) {
  if (distance > s.count) return End::bad_data;
  if (s.count_only) {
    s.count += length;
    return End::ok;
  }
  if (length > s.capacity - s.count) return End::output_full;
  uint8_t *to = s.out + s.count;
  const uint8_t *from = to - distance;
  if (distance >= length) {
    std::memcpy(to, from, static_cast<size_t>(length));
  } else {
    // Overlapping: each byte may be one this copy has just written.
    for (uint64_t i = 0; i < length; ++i) to[i] = from[i];
  }
  s.count += length;
  return End::ok;
}

End short_or_bad(int symbol) { return symbol == kShortInput ? End::short_input : End::bad_data; }

// Decodes the symbols of one block up to its end-of-block code.
End codes(State &s, const HuffCode &lit, const HuffCode &dist) {
  for (;;) {
    const int sym = decode(s, lit);
    if (sym < 0) return short_or_bad(sym);
    if (sym < 256) {
      const End e = put_byte(s, sym);
      if (e != End::ok) return e;
      continue;
    }
    if (sym == 256) return End::ok;
    if (sym >= kMaxLitLen) return End::bad_data;  // 286 and 287 of the fixed code

    uint32_t extra = 0;
    if (!bits(s, lext[sym - 257], extra)) return End::short_input;
    const uint64_t length = static_cast<uint64_t>(lens[sym - 257]) + extra;
    const int dsym = decode(s, dist);
    if (dsym < 0) return short_or_bad(dsym);
    if (!bits(s, dext[dsym], extra)) return End::short_input;
    const uint64_t distance = static_cast<uint64_t>(dists[dsym]) + extra;
    const End e = copy_match(s, length, distance);
    if (e != End::ok) return e;
  }
}

End stored(State &s) {
  // Back to the byte boundary: whole bytes still in the bit buffer go back
  // to the input, the bits of the partly used byte are dropped.
  s.in_pos -= static_cast<size_t>(s.bitcnt / 8);
  s.bitbuf = 0;
  s.bitcnt = 0;

  if (s.in_len - s.in_pos < 4) return End::short_input;
  const uint8_t *h = s.in + s.in_pos;
  const uint32_t len = uint32_t{h[0]} | uint32_t{h[1]} << 8;
  if (h[2] != static_cast<uint8_t>(~h[0]) || h[3] != static_cast<uint8_t>(~h[1])) return End::bad_data;
  s.in_pos += 4;
  if (s.in_len - s.in_pos < len) return End::short_input;
  if (!s.count_only) {
    if (len > s.capacity - s.count) return End::output_full;
    if (len > 0) std::memcpy(s.out + s.count, s.in + s.in_pos, len);
  }
  s.count += len;
  s.in_pos += len;
  return End::ok;
}

// An incomplete code is accepted only when it is one code of one bit.
bool usable(int built, const HuffCode &code, int n) {
  if (built < 0) return false;
  return built == 0 || code.count[0] + code.count[1] == n;
}

End dynamic(State &s) {
  uint32_t v = 0;
  if (!bits(s, 5, v)) return End::short_input;
  const int nlen = static_cast<int>(v) + 257;
  if (!bits(s, 5, v)) return End::short_input;
  const int ndist = static_cast<int>(v) + 1;
  if (!bits(s, 4, v)) return End::short_input;
  const int ncode = static_cast<int>(v) + 4;
  if (nlen > kMaxLitLen || ndist > kMaxDist) return End::bad_data;

  uint8_t lengths[kMaxLitLen + kMaxDist] = {};
  for (int i = 0; i < ncode; ++i) {
    if (!bits(s, 3, v)) return End::short_input;
    lengths[order[i]] = static_cast<uint8_t>(v);
  }
  // The code-length code goes in the literal/length slot until the real
  // literal/length code replaces it.
  if (construct(s.lit, lengths, 19) != 0) return End::bad_data;

  const int total = nlen + ndist;
  int index = 0;
  while (index < total) {
    const int sym = decode(s, s.lit);
    if (sym < 0) return short_or_bad(sym);
    if (sym < 16) {
      lengths[index++] = static_cast<uint8_t>(sym);
      continue;
    }
    uint8_t repeat_len = 0;
    int repeat = 0;
    if (sym == 16) {
      if (index == 0) return End::bad_data;
      repeat_len = lengths[index - 1];
      if (!bits(s, 2, v)) return End::short_input;
      repeat = 3 + static_cast<int>(v);
    } else if (sym == 17) {
      if (!bits(s, 3, v)) return End::short_input;
      repeat = 3 + static_cast<int>(v);
    } else {
      if (!bits(s, 7, v)) return End::short_input;
      repeat = 11 + static_cast<int>(v);
    }
    if (repeat > total - index) return End::bad_data;
    while (repeat-- > 0) lengths[index++] = repeat_len;
  }
  if (lengths[256] == 0) return End::bad_data;

  if (!usable(construct(s.lit, lengths, nlen), s.lit, nlen)) return End::bad_data;
  if (!usable(construct(s.dist, lengths + nlen, ndist), s.dist, ndist)) return End::bad_data;
  return codes(s, s.lit, s.dist);
}

int run(const uint8_t *src, size_t src_len, uint8_t *dst, size_t dst_cap, size_t *out_len) {
  if (out_len == nullptr) return -1;
  *out_len = 0;
  if (src == nullptr || src_len < 2 || dst_cap > kMaxCapacity) return -1;
  const bool count_only = dst == INFLATE_COUNT_ONLY;
  if (!count_only && dst == nullptr && dst_cap > 0) return -1;
  // Header: CMF (method in the low nibble), FLG (bit 5: preset dictionary).
  if ((src[0] & 0x0F) != 8 || (src[1] & 0x20) != 0) return -1;

  State s;
  s.out = count_only ? nullptr : dst;
  s.count_only = count_only;
  s.capacity = dst_cap;
  s.in = src + 2;
  s.in_len = src_len - 2;

  bool last = false;
  while (!last) {
    uint32_t head = 0;
    if (!bits(s, 3, head)) return -1;
    last = (head & 1u) != 0;
    End e = End::bad_data;
    switch (head >> 1) {
      case 0: e = stored(s); break;
      case 1: e = codes(s, kFixed.lit, kFixed.dist); break;
      case 2: e = dynamic(s); break;
      default: break;  // block type 3
    }
    if (e == End::short_input || e == End::output_full) return -1;
    if (e == End::bad_data) break;
  }
  if constexpr (sizeof(size_t) < sizeof(uint64_t)) {
    if (s.count > SIZE_MAX) return -1;
  }
  *out_len = static_cast<size_t>(s.count);
  return 0;
}

}  // namespace

extern "C" int inflate_decompress(const unsigned char *src, size_t src_len, unsigned char *dst,
                                  size_t dst_cap, size_t *out_len) {
  return run(src, src_len, dst, dst_cap, out_len);
}
