#include "flate/huffman.h"

namespace flate {
namespace {

constexpr int kNodes = 2 * kMaxAlphabet;

unsigned reverse(unsigned code, int len) {
  unsigned r = 0;
  for (int i = 0; i < len; i++, code >>= 1) r = (r << 1) | (code & 1u);
  return r;
}

// Node arrays and the priority queue of one construction. Leaves are nodes
// 0..elems-1, internal nodes follow in creation order. A queue entry packs
// the node's frequency and depth above its number, so that comparing
// entries shifted by kNodeBits compares frequency, then depth, and the
// queue needs no lookups in the node arrays.
struct Builder {
  static constexpr int kNodeBits = 10;  // kNodes fits
  static constexpr int kDepthBits = 16;
  static_assert(kNodes <= (1 << kNodeBits));

  int16_t dad[kNodes];
  int16_t len[kNodes];
  uint64_t heap[kMaxAlphabet + 1];  // 1-based
  int heap_len = 0;
  // Nodes in the order they leave the queue (two per merge, the root last).
  int taken[kNodes];
  int ntaken = 0;

  static uint64_t entry(uint64_t freq, uint64_t depth, int node) {
    return (freq << kDepthBits | depth) << kNodeBits | static_cast<uint64_t>(node);
  }
  static uint64_t order(uint64_t e) { return e >> kNodeBits; }
  static int node(uint64_t e) { return static_cast<int>(e & ((1u << kNodeBits) - 1)); }
  static uint64_t freq(uint64_t e) { return e >> (kNodeBits + kDepthBits); }
  static uint64_t depth(uint64_t e) { return (e >> kNodeBits) & ((1u << kDepthBits) - 1); }

  // The queue order: a before b if freq(a) < freq(b), or equal and
  // depth(a) <= depth(b); the right child is taken only when strictly smaller.
  void sift_down(int k) {
    const uint64_t v = heap[k];
    for (int j = 2 * k; j <= heap_len; j = 2 * k) {
      if (j < heap_len && order(heap[j + 1]) < order(heap[j])) j++;
      if (order(v) <= order(heap[j])) break;
      heap[k] = heap[j];
      k = j;
    }
    heap[k] = v;
  }
};

}  // namespace

int huff_build(const uint32_t *freq_in, int elems, int max_length, uint8_t *lens, uint16_t *codes) {
  Builder b;
  int max_code = -1;
  for (int n = 0; n < elems; n++) {
    b.len[n] = 0;
    if (freq_in[n] != 0) {
      b.heap[++b.heap_len] = Builder::entry(freq_in[n], 0, n);
      max_code = n;
    }
  }
  // Fewer than two used symbols: add symbols so that a two-symbol code exists.
  while (b.heap_len < 2) {
    const int node = max_code < 2 ? ++max_code : 0;
    b.heap[++b.heap_len] = Builder::entry(1, 0, node);
  }
  for (int k = b.heap_len / 2; k >= 1; k--) b.sift_down(k);

  int next = elems;
  while (b.heap_len >= 2) {
    const uint64_t n = b.heap[1];
    b.heap[1] = b.heap[b.heap_len--];
    b.sift_down(1);
    const uint64_t m = b.heap[1];
    b.taken[b.ntaken++] = Builder::node(n);
    b.taken[b.ntaken++] = Builder::node(m);
    const uint64_t depth = (Builder::depth(n) > Builder::depth(m) ? Builder::depth(n) : Builder::depth(m)) + 1;
    b.dad[Builder::node(n)] = b.dad[Builder::node(m)] = static_cast<int16_t>(next);
    b.heap[1] = Builder::entry(Builder::freq(n) + Builder::freq(m), depth, next);
    b.sift_down(1);
    next++;
  }
  b.taken[b.ntaken++] = Builder::node(b.heap[1]);

  // Lengths from the root outwards: the later a node was taken, the nearer
  // the root, so walking the taken list backwards meets parents first.
  int count[16] = {0};
  int overflow = 0;
  b.len[b.taken[b.ntaken - 1]] = 0;
  for (int t = b.ntaken - 2; t >= 0; t--) {
    const int n = b.taken[t];
    int bits = b.len[b.dad[n]] + 1;
    if (bits > max_length) {
      bits = max_length;
      overflow++;
    }
    b.len[n] = static_cast<int16_t>(bits);
    if (n <= max_code) count[bits]++;
  }

  if (overflow > 0) {
    do {
      int bits = max_length - 1;
      while (bits > 0 && count[bits] == 0) bits--;
      if (bits == 0) break;
      count[bits]--;
      count[bits + 1] += 2;
      count[max_length]--;
      overflow -= 2;
    } while (overflow > 0);
    // Hand the lengths out again, longest first, to the leaves in the order
    // they were taken (least frequent first).
    int t = 0;
    for (int bits = max_length; bits >= 1; bits--) {
      for (int c = count[bits]; c != 0;) {
        const int n = b.taken[t++];
        if (n > max_code) continue;
        b.len[n] = static_cast<int16_t>(bits);
        c--;
      }
    }
  }

  int bl_count[16] = {0};
  for (int n = 0; n <= max_code; n++) bl_count[b.len[n]]++;
  unsigned next_code[16] = {0};
  for (int bits = 2; bits <= 15; bits++) next_code[bits] = (next_code[bits - 1] + bl_count[bits - 1]) << 1;
  for (int n = 0; n < elems; n++) {
    const int l = n <= max_code ? b.len[n] : 0;
    lens[n] = static_cast<uint8_t>(l);
    codes[n] = l ? static_cast<uint16_t>(reverse(next_code[l]++, l)) : 0;
  }
  return max_code;
}

int code_length_ops(const uint8_t *lens, int max_code, ClOp *ops) {
  int nops = 0;
  int prev = -1;
  int next = lens[0];
  int count = 0;
  int max_count = next == 0 ? 138 : 7;
  int min_count = next == 0 ? 3 : 4;
  for (int n = 0; n <= max_code; n++) {
    const int cur = next;
    next = n < max_code ? lens[n + 1] : -1;  // the guard
    if (++count < max_count && cur == next) continue;
    if (count < min_count) {
      for (; count > 0; count--) ops[nops++] = ClOp{static_cast<uint8_t>(cur), 0};
    } else if (cur != 0) {
      if (cur != prev) {
        ops[nops++] = ClOp{static_cast<uint8_t>(cur), 0};
        count--;
      }
      ops[nops++] = ClOp{16, static_cast<uint8_t>(count - 3)};
    } else if (count <= 10) {
      ops[nops++] = ClOp{17, static_cast<uint8_t>(count - 3)};
    } else {
      ops[nops++] = ClOp{18, static_cast<uint8_t>(count - 11)};
    }
    count = 0;
    prev = cur;
    if (next == 0) {
      max_count = 138;
      min_count = 3;
    } else if (cur == next) {
      max_count = 6;
      min_count = 3;
    } else {
      max_count = 7;
      min_count = 4;
    }
  }
  return nops;
}

}  // namespace flate
