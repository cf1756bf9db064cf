// Bit-at-a-time decoding against canonical code tables (count, first code and
// symbol index per length), without lookahead: it fails the moment it needs
// a bit the input does not have.
#include "support/reference_inflate.h"

#include <cstdint>

#include "flate/tables.h"

namespace refinflate {
namespace {

using flate::base_dist;
using flate::base_len;
using flate::DECODE_ORDER;
using flate::dist_bits;
using flate::extra_bits;

struct Source {
  const unsigned char *data;
  size_t position;
  size_t length;
  int error;
  uint64_t bitbuf;
  int32_t bitcnt;
};

struct Output {
  unsigned char *dst;
  size_t count;
  size_t cap;
};

struct HuffTable {
  int32_t count[16];
  int32_t first[16];
  int32_t index[16];
  uint16_t symbol[288];
};

int in_bits(Source &s, int n) {
  while (s.bitcnt < n) {
    if (s.position == s.length) {
      s.error = 1;
      return 0;
    }
    s.bitbuf |= static_cast<uint64_t>(s.data[s.position]) << s.bitcnt;
    s.position++;
    s.bitcnt += 8;
  }
  const int v = static_cast<int>(s.bitbuf & ((uint64_t{1} << n) - 1));
  s.bitbuf >>= n;
  s.bitcnt -= n;
  return v;
}

int huff_build(Source &s, HuffTable &t, const int32_t *lengths, int n) {
  t = HuffTable{};
  for (int i = 0; i < n; ++i)
    if (lengths[i] > 0) t.count[lengths[i]]++;
  int left = 1;
  for (int len = 1; len <= 15; ++len) {
    left = left * 2 - t.count[len];
    if (left < 0) {
      s.error = 1;
      return 0;
    }
  }
  t.first[1] = 0;
  t.index[1] = 0;
  for (int len = 1; len < 15; ++len) {
    t.first[len + 1] = (t.first[len] + t.count[len]) * 2;
    t.index[len + 1] = t.index[len] + t.count[len];
  }
  int32_t seen[16] = {};
  for (int sym = 0; sym < n; ++sym) {
    const int len = lengths[sym];
    if (len > 0) t.symbol[t.index[len] + seen[len]++] = static_cast<uint16_t>(sym);
  }
  return 1;
}

int huff_decode(Source &s, const HuffTable &t) {
  int code = 0;
  for (int len = 1; len <= 15; ++len) {
    const int bit = in_bits(s, 1);
    if (s.error) return -1;
    code = code * 2 + bit;
    if (t.first[len] <= code && code < t.first[len] + t.count[len])
      return t.symbol[t.index[len] + code - t.first[len]];
  }
  s.error = 1;
  return -1;
}

int symbol_loop(Source &s, Output &o, const HuffTable &lit, const HuffTable &dist) {
  for (;;) {
    const int sym = huff_decode(s, lit);
    if (s.error || sym < 0) return 0;
    if (sym < 256) {
      if (o.count >= o.cap) return 0;
      o.dst[o.count++] = static_cast<unsigned char>(sym);
      continue;
    }
    if (sym == 256) return 1;
    if (sym > 285) return 0;
    const int k = sym - 257;
    const int length = base_len[k] + in_bits(s, extra_bits[k]);
    const int d = huff_decode(s, dist);
    if (d < 0 || d > 29) return 0;
    const size_t distance = static_cast<size_t>(base_dist[d] + in_bits(s, dist_bits[d]));
    if (s.error) return 0;
    if (distance > o.count) return 0;
    if (o.count + static_cast<size_t>(length) > o.cap) return 0;
    for (int i = 0; i < length; ++i) {
      o.dst[o.count] = o.dst[o.count - distance];
      o.count++;
    }
  }
}

int inflate_block_fixed(Source &s, Output &o) {
  int32_t lit_lens[288];
  int32_t dist_lens[30];
  for (int i = 0; i < 288; ++i) lit_lens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  for (int32_t &len : dist_lens) len = 5;
  HuffTable lit, dist;
  huff_build(s, lit, lit_lens, 288);
  huff_build(s, dist, dist_lens, 30);
  return symbol_loop(s, o, lit, dist);
}

int inflate_block_dynamic(Source &s, Output &o) {
  const int nlit = in_bits(s, 5) + 257;
  const int ndist = in_bits(s, 5) + 1;
  const int nclen = in_bits(s, 4) + 4;
  if (s.error || nlit > 286 || ndist > 30) return 0;
  int32_t cl_lens[19] = {};
  for (int k = 0; k < nclen; ++k) cl_lens[DECODE_ORDER[k]] = in_bits(s, 3);
  if (s.error) return 0;
  HuffTable cl;
  if (!huff_build(s, cl, cl_lens, 19)) return 0;
  int32_t all_lens[320] = {};
  const int total = nlit + ndist;
  int n = 0;
  while (n < total) {
    const int sym = huff_decode(s, cl);
    if (sym < 0) return 0;
    if (sym < 16) {
      all_lens[n++] = sym;
      continue;
    }
    int repeat = 0;
    int32_t value = 0;
    if (sym == 16) {
      if (n == 0) return 0;
      value = all_lens[n - 1];
      repeat = 3 + in_bits(s, 2);
    } else if (sym == 17) {
      repeat = 3 + in_bits(s, 3);
    } else {
      repeat = 11 + in_bits(s, 7);
    }
    if (n + repeat > total) return 0;
    while (repeat--) all_lens[n++] = value;
  }
  if (s.error) return 0;
  HuffTable lit, dist;
  if (!huff_build(s, lit, all_lens, nlit)) return 0;
  if (!huff_build(s, dist, all_lens + nlit, ndist)) return 0;
  return symbol_loop(s, o, lit, dist);
}

}  // namespace

int inflate(const unsigned char *src, size_t src_len, unsigned char *dst, size_t dst_cap) {
  Source s{src, 0, src_len, 0, 0, 0};
  Output o{dst, 0, dst_cap};
  for (;;) {
    const int header = in_bits(s, 3);
    if (s.error) return -1;
    const int type = header >> 1;
    if (type == 0) {
      s.bitbuf = 0;
      s.bitcnt = 0;
      if (s.position + 4 > src_len) return -1;
      const unsigned len = src[s.position] | static_cast<unsigned>(src[s.position + 1]) << 8;
      const unsigned nlen = src[s.position + 2] | static_cast<unsigned>(src[s.position + 3]) << 8;
      if (nlen != (~len & 0xFFFFu)) return -1;
      if (s.position + 4 + len > src_len || o.count + len > dst_cap) return -1;
      for (unsigned i = 0; i < len; ++i) dst[o.count + i] = src[s.position + 4 + i];
      s.position += 4 + len;
      o.count += len;
    } else if (type == 1) {
      if (!inflate_block_fixed(s, o)) return -1;
    } else if (type == 2) {
      if (!inflate_block_dynamic(s, o)) return -1;
    } else {
      return -1;
    }
    if (header & 1) return static_cast<int>(o.count);
  }
}

}  // namespace refinflate
