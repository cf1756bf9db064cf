// Raw DEFLATE decoding (RFC 1951) into a caller's fixed buffer. No zlib
// wrapper is read or checked. Huffman symbols are decoded through multi-level
// tables from a 64-bit bit buffer; the bulk of a block runs in a loop that
// needs no bounds checks because it only runs while the input and the output
// have room for its longest step, and the last bytes go through a careful loop
// that checks every step. All state lives on the caller's stack. An output
// that can grow is enlarged when the careful loop runs out of room, and the
// fast loop resumes in the larger buffer.
//
// Accepted as valid, as RFC 1951 allows or does not forbid: incomplete codes
// (a free pattern fails only when met), an all-zero length list (an empty
// code), references into earlier blocks of the same call.
#include <cstdint>
#include <cstring>
#include <span>

#include "flate/decode_table.h"
#include "flate/flate.h"
#include "flate/inflate_bits.h"
#include "flate/inflate_growing.h"
#include "flate/tables.h"

namespace flate {
namespace {

// Longest match of DEFLATE.
constexpr size_t kMaxMatch = 258;
// The fast loop reads at most two 8-byte words per step, each starting at most
// 7 bytes after the previous one.
constexpr ptrdiff_t kFastInputMargin = 16;
// ... and writes at most two literals followed by a longest match.
constexpr ptrdiff_t kFastOutputMargin = 2 + kMaxMatch;

struct FixedTables {
  uint32_t lit_len[size_t{1} << kLitLenBits];
  uint32_t dist[size_t{1} << kDistBits];
};

// The RFC 1951 fixed codes: literal/length 0-143 8 bits, 144-255 9 bits,
// 256-279 7 bits, 280-287 8 bits; 30 distance codes of 5 bits (the patterns
// of 30 and 31 stay free). No code is longer than the main widths.
constexpr FixedTables make_fixed_tables() {
  FixedTables t{};
  uint8_t lens[288] = {};
  for (unsigned s = 0; s < 288; ++s) lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  uint8_t dist_lens[30] = {};
  for (uint8_t &len : dist_lens) len = 5;
  build_decode_table(lens, Alphabet::lit_len, kLitLenBits, t.lit_len);
  build_decode_table(dist_lens, Alphabet::distance, kDistBits, t.dist);
  return t;
}
constexpr FixedTables kFixed = make_fixed_tables();

// The caller's buffer and the next byte to write; growable, when set, is
// the buffer's owner that can enlarge it.
struct Output {
  uint8_t *begin;
  uint8_t *next;
  uint8_t *end;
  GrowableOutput *growable;
  bool out_of_room;  // a write found no room and none could be had
};

// Returns true when n more bytes fit at o.next, enlarging the buffer when
// they do not and it can grow (o then points into the new buffer).
bool make_room(Output &o, size_t n) {
  if (static_cast<size_t>(o.end - o.next) >= n) return true;
  GrowableOutput *g = o.growable;
  const size_t used = static_cast<size_t>(o.next - o.begin);
  if (g == nullptr || g->grow == nullptr || n > SIZE_MAX - used || !g->grow(g->ctx, *g, used + n) ||
      g->capacity < used + n) {
    o.out_of_room = true;
    return false;
  }
  o.begin = g->data;
  o.next = g->data + used;
  o.end = g->data + g->capacity;
  return true;
}

struct DynamicTables {
  uint32_t lit_len[kLitLenTableSize];
  uint32_t dist[kDistTableSize];
};

// Looks up the next symbol of a table of the given main width and takes its
// code bits. Needs at least 15 bits in the buffer.
inline uint32_t decode_entry(const uint32_t *table, unsigned main_bits, uint64_t &bitbuf, unsigned &bitcnt) {
  uint32_t e = table[bitbuf & ((uint64_t{1} << main_bits) - 1)];
  if (e & kEntrySubTable) {
    bitbuf >>= main_bits;
    bitcnt -= main_bits;
    e = table[entry_value(e) + (bitbuf & ((uint64_t{1} << entry_extra_bits(e)) - 1))];
  }
  const unsigned n = entry_code_bits(e);
  bitbuf >>= n;
  bitcnt -= n;
  return e;
}

// Returns the base value of a match entry plus its extra bits, taking them.
inline size_t entry_with_extra(uint32_t e, uint64_t &bitbuf, unsigned &bitcnt) {
  const unsigned n = entry_extra_bits(e);
  const size_t v = entry_value(e) + static_cast<size_t>(bitbuf & ((uint64_t{1} << n) - 1));
  bitbuf >>= n;
  bitcnt -= n;
  return v;
}

inline void copy8(uint8_t *dst, const uint8_t *src) {
  uint64_t v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
}

inline void copy4(uint8_t *dst, const uint8_t *src) {
  uint32_t v;
  std::memcpy(&v, src, 4);
  std::memcpy(dst, &v, 4);
}

inline void copy2(uint8_t *dst, const uint8_t *src) {
  uint16_t v;
  std::memcpy(&v, src, 2);
  std::memcpy(dst, &v, 2);
}

// Copies length bytes from src to out, where src lies at least
// 8 bytes before out, or at least length bytes before it when length < 8:
// every word read then holds only bytes already written. Writes nothing past
// out + length.
inline void copy_far(uint8_t *out, const uint8_t *src, size_t length) {
  if (length >= 8) {
    size_t i = 0;
    while (length - i > 8) {
      copy8(out + i, src + i);
      i += 8;
    }
    copy8(out + length - 8, src + length - 8);
  } else if (length >= 4) {
    copy4(out, src);
    copy4(out + length - 4, src + length - 4);
  } else if (length >= 2) {
    copy2(out, src);
    copy2(out + length - 2, src + length - 2);
  } else if (length == 1) {
    out[0] = src[0];
  }
}

// Writes the match of length (3..258) bytes at distance dist (1..out's
// offset in the buffer) at out. Overlapping matches repeat the last dist
// bytes.
inline void copy_match(uint8_t *out, size_t dist, size_t length) {
  if (dist >= 8 || dist >= length) {
    copy_far(out, out - dist, length);
  } else if (dist == 1) {
    const uint8_t b = out[-1];
    if (length >= 8) {
      const uint64_t v = b * uint64_t{0x0101010101010101};
      size_t i = 0;
      while (length - i > 8) {
        std::memcpy(out + i, &v, 8);
        i += 8;
      }
      std::memcpy(out + length - 8, &v, 8);
    } else {
      for (size_t i = 0; i < length; ++i) out[i] = b;
    }
  } else {
    // The output repeats with period dist, so once far = the smallest
    // multiple of dist that is at least 8 lies behind, far works as well.
    const size_t far = (8 + dist - 1) / dist * dist;
    const size_t lead = length < far - dist ? length : far - dist;
    const uint8_t *src = out - dist;
    for (size_t i = 0; i < lead; ++i) out[i] = src[i];
    if (length > lead) copy_far(out + lead, out + lead - far, length - lead);
  }
}

enum class FastEnd { block_end, failed, margin };

// Decodes symbols while the input and output margins hold; no step of this
// loop can read past the input, write past the output or see bits past the
// input's end.
FastEnd decode_fast(BitReader &br, Output &o, const uint32_t *lt, const uint32_t *dt) {
  const uint8_t *in = br.next;
  const uint8_t *const in_end = br.end;
  uint64_t bitbuf = br.bitbuf;
  unsigned bitcnt = br.bitcnt;
  uint8_t *out = o.next;
  uint8_t *const out_begin = o.begin;
  uint8_t *const out_end = o.end;
  FastEnd result = FastEnd::margin;

  while (in_end - in >= kFastInputMargin && out_end - out >= kFastOutputMargin) {
    // 56 bits cover three codes of up to 15 bits and a length's 5 extra
    // bits; the distance (15 + 13 bits) gets a refill of its own.
    refill_unchecked(in, bitbuf, bitcnt);
    uint32_t e = decode_entry(lt, kLitLenBits, bitbuf, bitcnt);
    if (e & kEntryLiteral) {
      *out++ = static_cast<uint8_t>(entry_value(e));
      e = decode_entry(lt, kLitLenBits, bitbuf, bitcnt);
      if (e & kEntryLiteral) {
        *out++ = static_cast<uint8_t>(entry_value(e));
        e = decode_entry(lt, kLitLenBits, bitbuf, bitcnt);
        if (e & kEntryLiteral) {
          *out++ = static_cast<uint8_t>(entry_value(e));
          continue;
        }
      }
    }
    if (!(e & kEntryMatch)) {
      result = (e & kEntryEnd) ? FastEnd::block_end : FastEnd::failed;
      break;
    }
    const size_t length = entry_with_extra(e, bitbuf, bitcnt);
    refill_unchecked(in, bitbuf, bitcnt);
    const uint32_t d = decode_entry(dt, kDistBits, bitbuf, bitcnt);
    if (!(d & kEntryMatch)) {
      result = FastEnd::failed;
      break;
    }
    const size_t dist = entry_with_extra(d, bitbuf, bitcnt);
    if (dist > static_cast<size_t>(out - out_begin)) {
      result = FastEnd::failed;
      break;
    }
    copy_match(out, dist, length);
    out += length;
  }

  br.next = in;
  br.bitbuf = bitbuf;
  br.bitcnt = bitcnt;
  o.next = out;
  return result;
}

enum class CarefulEnd { block_end, failed, grown };

// Decodes symbols up to the end of the block, checking the input's end and
// the output's capacity at every step. Stops with `grown` after the step
// that enlarged the output, so that the fast loop can take over again.
CarefulEnd decode_careful(BitReader &br_state, Output &o_state, const uint32_t *lt, const uint32_t *dt) {
  // Local copies: stores through the byte pointer would otherwise force the
  // bit state back to memory after every byte.
  BitReader br = br_state;
  Output o = o_state;
  CarefulEnd result = CarefulEnd::failed;
  for (;;) {
    refill(br);
    const uint32_t e = decode_entry(lt, kLitLenBits, br.bitbuf, br.bitcnt);
    if (!br.only_real_bits_taken()) break;
    if (e & kEntryLiteral) {
      if (o.next == o.end) {
        if (!make_room(o, 1)) break;
        result = CarefulEnd::grown;
      }
      *o.next++ = static_cast<uint8_t>(entry_value(e));
      if (result == CarefulEnd::grown) break;
      continue;
    }
    if (!(e & kEntryMatch)) {
      if (e & kEntryEnd) result = CarefulEnd::block_end;
      break;
    }
    // A full refill leaves room for the length's extra bits and a whole
    // distance (at most 5 + 15 + 13 bits after a 15-bit code).
    const size_t length = entry_with_extra(e, br.bitbuf, br.bitcnt);
    const uint32_t d = decode_entry(dt, kDistBits, br.bitbuf, br.bitcnt);
    if (!(d & kEntryMatch)) break;
    const size_t dist = entry_with_extra(d, br.bitbuf, br.bitcnt);
    if (!br.only_real_bits_taken()) break;
    if (dist > static_cast<size_t>(o.next - o.begin)) break;
    if (length > static_cast<size_t>(o.end - o.next)) {
      if (!make_room(o, length)) break;
      result = CarefulEnd::grown;
    }
    copy_match(o.next, dist, length);
    o.next += length;
    if (result == CarefulEnd::grown) break;
  }
  br_state = br;
  o_state = o;
  return result;
}

// Returns true after decoding one Huffman block up to its end-of-block code.
bool decode_block(BitReader &br, Output &o, const uint32_t *lt, const uint32_t *dt) {
  for (;;) {
    switch (decode_fast(br, o, lt, dt)) {
      case FastEnd::block_end: return true;
      case FastEnd::failed: return false;
      case FastEnd::margin: break;
    }
    switch (decode_careful(br, o, lt, dt)) {
      case CarefulEnd::block_end: return true;
      case CarefulEnd::failed: return false;
      case CarefulEnd::grown: break;
    }
  }
}

// Returns true after reading a dynamic block's header (RFC 1951 3.2.7) and
// building its two tables.
bool read_dynamic_tables(BitReader &br, DynamicTables &t) {
  refill(br);
  // HLIT, HDIST, HCLEN
  const unsigned lit_count = take_bits(br, 5) + 257;
  const unsigned dist_count = take_bits(br, 5) + 1;
  const unsigned cl_count = take_bits(br, 4) + 4;
  if (!br.only_real_bits_taken() || lit_count > 286 || dist_count > 30) return false;

  uint8_t cl_lens[19] = {};
  for (unsigned k = 0; k < cl_count; ++k) {
    if (br.bitcnt < 3) refill(br);
    cl_lens[DECODE_ORDER[k]] = static_cast<uint8_t>(take_bits(br, 3));
  }
  if (!br.only_real_bits_taken()) return false;
  uint32_t cl_table[kCodeLenTableSize];
  if (!build_decode_table(cl_lens, Alphabet::code_length, kCodeLenBits, cl_table)) return false;

  // The literal/length and distance lengths form one list: a run may cross
  // from the first part into the second.
  uint8_t lens[286 + 30];
  const unsigned total = lit_count + dist_count;
  unsigned n = 0;
  while (n < total) {
    // Up to 7 code bits and 7 extra bits.
    if (br.bitcnt < 14) refill(br);
    const uint32_t e = cl_table[br.bitbuf & (kCodeLenTableSize - 1)];
    if (e == 0) return false;
    take_bits(br, entry_code_bits(e));
    const unsigned sym = entry_value(e);
    if (sym < 16) {
      lens[n++] = static_cast<uint8_t>(sym);
    } else {
      uint8_t value = 0;
      unsigned repeat;
      if (sym == 16) {
        if (n == 0) return false;
        value = lens[n - 1];
        repeat = 3 + take_bits(br, 2);
      } else if (sym == 17) {
        repeat = 3 + take_bits(br, 3);
      } else {
        repeat = 11 + take_bits(br, 7);
      }
      if (repeat > total - n) return false;
      std::memset(lens + n, value, repeat);
      n += repeat;
    }
    if (!br.only_real_bits_taken()) return false;
  }

  // No check that the end-of-block symbol has a code: such a block cannot end
  // and fails when the input runs out.
  return build_decode_table(std::span<const uint8_t>(lens, lit_count), Alphabet::lit_len, kLitLenBits,
                            t.lit_len) &&
         build_decode_table(std::span<const uint8_t>(lens + lit_count, dist_count), Alphabet::distance,
                            kDistBits, t.dist);
}

// Returns true after copying a stored block (RFC 1951 3.2.4): the rest of the
// current byte is skipped, then LEN, NLEN and LEN bytes follow.
bool copy_stored(BitReader &br, Output &o) {
  const size_t pos = br.byte_position();
  br.restart_at(pos);
  const size_t in_len = static_cast<size_t>(br.end - br.begin);
  if (in_len - pos < 4) return false;
  const uint8_t *h = br.begin + pos;
  const unsigned len = h[0] | unsigned{h[1]} << 8;
  const unsigned nlen = h[2] | unsigned{h[3]} << 8;
  if (nlen != (~len & 0xFFFFu)) return false;
  if (in_len - pos - 4 < len || !make_room(o, len)) return false;
  if (len != 0) std::memcpy(o.next, h + 4, len);
  o.next += len;
  br.restart_at(pos + 4 + len);
  return true;
}

}  // namespace

InflateResult inflate_growing(std::span<const uint8_t> src, GrowableOutput &out) {
  BitReader br = make_bit_reader(src);
  Output o{out.data, out.data, out.data + out.capacity, &out, false};
  DynamicTables dynamic;
  InflateResult result;
  for (;;) {
    refill(br);
    // BFINAL, BTYPE
    const unsigned header = take_bits(br, 3);
    bool ok = false;
    if (br.only_real_bits_taken()) {
      switch (header >> 1) {
        case 0: ok = copy_stored(br, o); break;
        case 1: ok = decode_block(br, o, kFixed.lit_len, kFixed.dist); break;
        case 2: ok = read_dynamic_tables(br, dynamic) && decode_block(br, o, dynamic.lit_len, dynamic.dist); break;
        default: break;
      }
    }
    result.written = static_cast<size_t>(o.next - o.begin);
    if (!ok) {
      result.end = o.out_of_room ? InflateEnd::no_room : InflateEnd::damaged;
      return result;
    }
    if (header & 1) {
      result.end = InflateEnd::complete;
      return result;
    }
  }
}

}  // namespace flate

int tvl_inflate(const unsigned char *src, size_t src_len, unsigned char *dst, size_t dst_cap) {
  if (src == nullptr) src_len = 0;
  if (dst == nullptr) dst_cap = 0;
  flate::GrowableOutput out;
  out.data = dst;
  out.capacity = dst_cap;
  const flate::InflateResult r = flate::inflate_growing(std::span<const uint8_t>(src, src_len), out);
  // dst_cap stays below 2^31 by contract, so the count fits.
  return r.end == flate::InflateEnd::complete ? static_cast<int>(r.written) : -1;
}
