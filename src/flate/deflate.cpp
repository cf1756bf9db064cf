// tvl_deflate: a zlib stream of greedy LZ77 with hash chains and one dynamic
// Huffman block per 64 KiB piece. The output is defined bit for bit (no
// levels, no options, the same input always gives the same bytes); what is
// free is how fast it is produced. All working state belongs to the call,
// so concurrent calls are safe. No stored or fixed-code blocks are written.
#include <cstdlib>
#include <cstring>

#include "flate/adler32.h"
#include "flate/bit_writer.h"
#include "flate/deflate_codes.h"
#include "flate/deflate_internal.h"
#include "flate/flate.h"
#include "flate/huffman.h"
#include "flate/lz_match.h"
#include "flate/tables.h"

namespace flate {
namespace {

// Worst case of one block in bytes, for len input bytes: a literal costs at
// most 15 bits and a match of L >= 3 bytes at most 15 + 5 + 15 + 13 = 48 bits,
// so the data takes at most 16 bits per byte; the header is at most
// 17 + 19 * 3 + 316 * (7 + 7) bits and the end of block 15 bits (565 bytes in
// all). The rest is room for a pending byte, the trailer and the 8-byte
// stores of the bit writer.
constexpr size_t block_bound(size_t len) { return 2 * len + 1024; }

constexpr size_t kInitialCapacity = 1048576;

// One allocation per call: the tables, then the symbols of one block.
struct Work {
  MatchTables tables;
  BlockFreqs freqs;
  uint32_t *syms;
};

struct Output {
  const DeflateAllocator &alloc;
  unsigned char *data;
  size_t capacity;

  // Makes room for need bytes in all; false when memory runs out (the old
  // buffer then stays valid and owned by this record).
  bool reserve(size_t need) {
    if (need <= capacity) return true;
    size_t cap = capacity;
    while (cap < need) {
      if (cap > static_cast<size_t>(-1) / 2) {
        cap = need;
        break;
      }
      cap *= 2;
    }
    void *p = alloc.reallocate(alloc.ctx, data, cap);
    if (!p) return false;
    data = static_cast<unsigned char *>(p);
    capacity = cap;
    return true;
  }
};

void emit_block(BitWriter &w, const unsigned char *data, size_t len, bool final, Work &work) {
  BlockFreqs &f = work.freqs;
  const size_t nsyms = lz_block(data, len, work.tables, work.syms, f);
  f.lit[256] = 1;

  uint8_t lit_len[286], dist_len[30], bl_len[19];
  uint16_t lit_code[286], dist_code[30], bl_code[19];
  const int max_lit = huff_build(f.lit, 286, 15, lit_len, lit_code);
  const int max_dist = huff_build(f.dist, 30, 15, dist_len, dist_code);

  ClOp ops[286 + 30];
  const int nlit_ops = code_length_ops(lit_len, max_lit, ops);
  const int nops = nlit_ops + code_length_ops(dist_len, max_dist, ops + nlit_ops);
  uint32_t bl_freq[19] = {0};
  for (int k = 0; k < nops; k++) bl_freq[ops[k].sym]++;
  huff_build(bl_freq, 19, 7, bl_len, bl_code);
  int max_index = 3;
  for (int k = 18; k >= 4; k--) {
    if (bl_len[DECODE_ORDER[k]] != 0) {
      max_index = k;
      break;
    }
  }

  // Header: BFINAL, BTYPE 2, HLIT, HDIST, HCLEN.
  w.put_flush(static_cast<uint64_t>(final ? 1 : 0) | 2u << 1 | static_cast<uint64_t>(max_lit - 256) << 3 |
                  static_cast<uint64_t>(max_dist) << 8 | static_cast<uint64_t>(max_index - 3) << 13,
              17);
  for (int k = 0; k <= max_index; k++) {
    w.put(bl_len[DECODE_ORDER[k]], 3);
    if ((k & 7) == 7) w.flush();
  }
  w.flush();
  for (int k = 0; k < nops; k++) {
    const int s = ops[k].sym;
    w.put_flush(bl_code[s] | static_cast<uint64_t>(ops[k].rep) << bl_len[s],
                bl_len[s] + static_cast<unsigned>(cl_extra_bits(s)));
  }

  // Each match length with its code and extra bits in one piece.
  uint32_t len_bits[259];
  uint8_t len_nbits[259];
  for (int L = 3; L <= 258; L++) {
    const int k = kLengthSymbols.k[L];
    const int sym = 257 + k;
    if (lit_len[sym] == 0) continue;  // never used in this block
    len_bits[L] = lit_code[sym] | static_cast<uint32_t>(L - base_len[k]) << lit_len[sym];
    len_nbits[L] = static_cast<uint8_t>(lit_len[sym] + extra_bits[k]);
  }

  const uint32_t *syms = work.syms;
  for (size_t q = 0; q < nsyms; q++) {
    const uint32_t s = syms[q];
    if (!is_match(s)) {
      w.put(lit_code[s], lit_len[s]);
      // A second literal fits before the flush (7 + 15 + 15 bits).
      if (q + 1 < nsyms && !is_match(syms[q + 1])) {
        const uint32_t t = syms[++q];
        w.put(lit_code[t], lit_len[t]);
      }
      w.flush();
    } else {
      const uint32_t L = match_length(s);
      const int d = static_cast<int>(match_distance(s));
      const int ds = distance_symbol(d);
      w.put(len_bits[L], len_nbits[L]);
      w.put(dist_code[ds] | static_cast<uint64_t>(d - base_dist[ds]) << dist_len[ds],
            dist_len[ds] + static_cast<unsigned>(dist_bits[ds]));
      w.flush();
    }
  }
  w.put_flush(lit_code[256], lit_len[256]);
}

}  // namespace

int deflate_with_allocator(const unsigned char *src, size_t len, unsigned char **out, size_t *out_len,
                           const DeflateAllocator &alloc) {
  const size_t largest_block = len < kBlockSize ? (len ? len : 1) : kBlockSize;
  Work *work = static_cast<Work *>(alloc.allocate(alloc.ctx, sizeof(Work) + largest_block * sizeof(uint32_t)));
  if (!work) return -1;
  work->syms = reinterpret_cast<uint32_t *>(reinterpret_cast<unsigned char *>(work) + sizeof(Work));

  // The whole stream's worst case when that is below 1 MiB, else 1 MiB.
  const size_t nblocks = len ? (len - 1) / kBlockSize + 1 : 1;
  size_t capacity = kInitialCapacity;
  if (len < kInitialCapacity / 2) {
    const size_t whole = 2 + 2 * len + block_bound(0) * nblocks;
    if (whole < capacity) capacity = whole;
  }
  Output o{alloc, static_cast<unsigned char *>(alloc.allocate(alloc.ctx, capacity)), capacity};
  if (!o.data) {
    alloc.release(alloc.ctx, work);
    return -1;
  }

  o.data[0] = 0x78;
  o.data[1] = 0x01;
  size_t length = 2;
  BitWriter w{o.data + length};
  uint32_t adler = 1;
  size_t off = 0;
  do {
    const size_t piece = len - off < kBlockSize ? len - off : kBlockSize;
    const size_t written = static_cast<size_t>(w.out - o.data);
    if (!o.reserve(written + block_bound(piece))) {
      alloc.release(alloc.ctx, o.data);
      alloc.release(alloc.ctx, work);
      return -1;
    }
    w.out = o.data + written;
    emit_block(w, src + off, piece, off + piece == len, *work);
    adler = adler32_update(adler, src + off, piece);
    off += piece;
  } while (off < len);
  w.finish();
  alloc.release(alloc.ctx, work);

  // block_bound left room for the trailer.
  unsigned char *t = w.out;
  t[0] = static_cast<unsigned char>(adler >> 24);
  t[1] = static_cast<unsigned char>(adler >> 16);
  t[2] = static_cast<unsigned char>(adler >> 8);
  t[3] = static_cast<unsigned char>(adler);
  length = static_cast<size_t>(t + 4 - o.data);
  *out = o.data;
  *out_len = length;
  return 0;
}

}  // namespace flate

namespace {

void *std_allocate(void *, size_t size) { return std::malloc(size); }
void *std_reallocate(void *, void *block, size_t size) { return std::realloc(block, size); }
void std_release(void *, void *block) { std::free(block); }

}  // namespace

int tvl_deflate(const unsigned char *src, size_t len, unsigned char **out, size_t *out_len) {
  static constexpr flate::DeflateAllocator kStd{std_allocate, std_reallocate, std_release, nullptr};
  return flate::deflate_with_allocator(src, len, out, out_len, kStd);
}
