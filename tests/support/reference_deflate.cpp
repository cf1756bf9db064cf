// The compressor's defined algorithm, step by step and without shortcuts,
// under the names its description uses (d_emit_block, d_build, d_pqdown,
// d_scan_tree, d_send_tree, ds_put, d_head, d_prev). The match tables live
// in a per-call record instead of file statics, the output is a std::vector,
// and a few counters are kept for the tests.
#include "support/reference_deflate.h"

#include <cstring>

#include "flate/tables.h"

namespace refdeflate {
namespace {

using flate::base_dist;
using flate::base_len;
using flate::dist_bits;
using flate::extra_bits;

const int32_t *const d_len_base = base_len;
const int32_t *const d_len_extra = extra_bits;
const int32_t *const d_dist_base = base_dist;
const int32_t *const d_dist_extra = dist_bits;
const int32_t *const d_bl_order = flate::DECODE_ORDER;

struct DeflateStream {
  uint32_t bitbuf = 0;
  int32_t bitcount = 0;
  std::vector<unsigned char> data;
};

struct LzSymbol {
  uint16_t length;
  uint16_t value;
};

struct HuffNode {
  uint32_t freq;
  int16_t len;
  uint16_t code;
  int16_t dad;
};

struct HuffWork {
  int32_t heap[575];
  int32_t heap_len;
  int32_t heap_top;
  int32_t max_code;
  int16_t depth[576];
};

struct Tables {
  int32_t d_head[32768];
  int32_t d_prev[32768];
};

struct Ctx {
  Tables tables;
  Stats stats;
};

void ds_put(DeflateStream *s, int value, int nbits) {
  s->bitbuf |= static_cast<uint32_t>(value) << s->bitcount;
  s->bitcount += nbits;
  while (s->bitcount > 7) {
    s->data.push_back(static_cast<unsigned char>(s->bitbuf & 0xFF));
    s->bitbuf >>= 8;
    s->bitcount -= 8;
  }
}

// a comes before b: smaller frequency, or equal frequency and depth not greater.
bool before(const HuffNode *tree, const HuffWork *w, int a, int b) {
  return tree[a].freq < tree[b].freq ||
         (tree[a].freq == tree[b].freq && w->depth[a] <= w->depth[b]);
}

void d_pqdown(HuffWork *w, HuffNode *tree, int k) {
  int v = w->heap[k];
  while (2 * k <= w->heap_len) {
    int j = 2 * k;
    if (j < w->heap_len) {
      int r = w->heap[j + 1];
      int l = w->heap[j];
      if (tree[r].freq < tree[l].freq ||
          (tree[r].freq == tree[l].freq && w->depth[r] < w->depth[l]))
        j = j + 1;
    }
    if (before(tree, w, v, w->heap[j])) break;
    w->heap[k] = w->heap[j];
    k = j;
  }
  w->heap[k] = v;
}

unsigned reverse_bits(unsigned code, int len) {
  unsigned r = 0;
  for (int i = 0; i < len; i++) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

int d_build(HuffWork *w, HuffNode *tree, int elems, int max_length, bool *overflowed) {
  // 1.
  std::memset(w, 0, sizeof *w);
  w->heap_top = 575;
  w->heap_len = 0;
  w->max_code = -1;
  // 2.
  for (int n = 0; n < elems; n++) {
    if (tree[n].freq != 0) {
      w->heap_len = w->heap_len + 1;
      w->heap[w->heap_len] = n;
      w->max_code = n;
    } else {
      tree[n].len = 0;
    }
  }
  // 3.
  while (w->heap_len < 2) {
    int node;
    if (w->max_code < 2) {
      node = w->max_code + 1;
      w->max_code = node;
    } else {
      node = 0;
    }
    w->heap_len = w->heap_len + 1;
    w->heap[w->heap_len] = node;
    tree[node].freq = 1;
    w->depth[node] = 0;
  }
  // 4.
  for (int k = w->heap_len / 2; k >= 1; k--) d_pqdown(w, tree, k);
  // 5.
  int next_node = elems;
  while (w->heap_len >= 2) {
    int n = w->heap[1];
    w->heap[1] = w->heap[w->heap_len];
    w->heap_len = w->heap_len - 1;
    d_pqdown(w, tree, 1);
    int m = w->heap[1];
    w->heap[w->heap_top - 1] = n;
    w->heap[w->heap_top - 2] = m;
    w->heap_top = w->heap_top - 2;
    tree[next_node].freq = tree[n].freq + tree[m].freq;
    int dn = w->depth[n];
    int dm = w->depth[m];
    w->depth[next_node] = static_cast<int16_t>((dn > dm ? dn : dm) + 1);
    tree[n].dad = static_cast<int16_t>(next_node);
    tree[m].dad = static_cast<int16_t>(next_node);
    w->heap[1] = next_node;
    d_pqdown(w, tree, 1);
    next_node = next_node + 1;
  }
  // 6.
  w->heap[w->heap_top - 1] = w->heap[1];
  w->heap_top = w->heap_top - 1;
  // 7.
  int count[16] = {0};
  int overflow = 0;
  tree[w->heap[w->heap_top]].len = 0;
  for (int s = w->heap_top + 1; s <= 574; s++) {
    int n = w->heap[s];
    int bits = tree[tree[n].dad].len + 1;
    if (bits > max_length) {
      bits = max_length;
      overflow = overflow + 1;
    }
    tree[n].len = static_cast<int16_t>(bits);
    if (n <= w->max_code) count[bits] = count[bits] + 1;
  }
  if (overflowed) *overflowed = overflow > 0;
  // 8.
  if (overflow > 0) {
    do {
      int bits = max_length - 1;
      while (bits > 0 && count[bits] == 0) bits = bits - 1;
      if (bits == 0) break;
      count[bits] = count[bits] - 1;
      count[bits + 1] = count[bits + 1] + 2;
      count[max_length] = count[max_length] - 1;
      overflow = overflow - 2;
    } while (overflow > 0);
    int s = 575;
    for (int bits = max_length; bits >= 1; bits--) {
      int c = count[bits];
      while (c != 0) {
        s = s - 1;
        int n = w->heap[s];
        if (n > w->max_code) continue;
        tree[n].len = static_cast<int16_t>(bits);
        c = c - 1;
      }
    }
  }
  // 9.
  int bl_count[16] = {0};
  for (int n = 0; n <= w->max_code; n++) bl_count[tree[n].len] = bl_count[tree[n].len] + 1;
  unsigned next_code[16] = {0};
  next_code[1] = 0;
  for (int b = 2; b <= 15; b++) next_code[b] = (next_code[b - 1] + bl_count[b - 1]) * 2;
  for (int n = 0; n <= w->max_code; n++) {
    int L = tree[n].len;
    if (L != 0) {
      tree[n].code = static_cast<uint16_t>(reverse_bits(next_code[L], L));
      next_code[L] = next_code[L] + 1;
    } else {
      tree[n].code = 0;
    }
  }
  // 10.
  return w->max_code;
}

void d_scan_tree(HuffNode *tree, int max_code, HuffNode *bl_tree) {
  int prev = -1;
  int next = tree[0].len;
  int count = 0;
  int max_count = 7;
  int min_count = 4;
  if (next == 0) {
    max_count = 138;
    min_count = 3;
  }
  for (int n = 0; n <= max_code; n++) {
    int cur = next;
    next = tree[n + 1].len;
    count = count + 1;
    if (count < max_count && cur == next) {
      continue;
    } else if (count < min_count) {
      bl_tree[cur].freq += static_cast<uint32_t>(count);
    } else if (cur != 0) {
      if (cur != prev) {
        bl_tree[cur].freq += 1;
        count = count - 1;
      }
      bl_tree[16].freq += 1;
    } else if (count <= 10) {
      bl_tree[17].freq += 1;
    } else {
      bl_tree[18].freq += 1;
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
}

void send_code(DeflateStream *s, const HuffNode *tree, int sym) {
  ds_put(s, tree[sym].code, tree[sym].len);
}

void d_send_tree(DeflateStream *s, HuffNode *tree, int max_code, HuffNode *bl_tree) {
  int prev = -1;
  int next = tree[0].len;
  int count = 0;
  int max_count = 7;
  int min_count = 4;
  if (next == 0) {
    max_count = 138;
    min_count = 3;
  }
  for (int n = 0; n <= max_code; n++) {
    int cur = next;
    next = tree[n + 1].len;
    count = count + 1;
    if (count < max_count && cur == next) {
      continue;
    } else if (count < min_count) {
      for (int k = 0; k < count; k++) send_code(s, bl_tree, cur);
    } else if (cur != 0) {
      if (cur != prev) {
        send_code(s, bl_tree, cur);
        count = count - 1;
      }
      send_code(s, bl_tree, 16);
      ds_put(s, count - 3, 2);
    } else if (count <= 10) {
      send_code(s, bl_tree, 17);
      ds_put(s, count - 3, 3);
    } else {
      send_code(s, bl_tree, 18);
      ds_put(s, count - 11, 7);
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
}

int hash3(const unsigned char *p) {
  int b0 = p[0];
  int b1 = p[1];
  int b2 = p[2];
  return (b0 * 961 + b1 * 31 + b2) & 0x7FFF;
}

int length_symbol(int L) {
  for (int k = 0; k <= 27; k++)
    if (L < d_len_base[k + 1]) return 257 + k;
  return 285;
}

int distance_symbol(int D) {
  for (int k = 0; k <= 28; k++)
    if (D < d_dist_base[k + 1]) return k;
  return 29;
}

void d_emit_block(Ctx *ctx, DeflateStream *s, const unsigned char *data, size_t len, int final) {
  Tables *t = &ctx->tables;
  // 1.
  std::vector<HuffNode> lit_tree(572);
  std::vector<HuffNode> dist_tree(61);
  std::vector<HuffNode> bl_tree(39);
  for (HuffNode &n : lit_tree) n = HuffNode{0, 0, 0, 0};
  for (HuffNode &n : dist_tree) n = HuffNode{0, 0, 0, 0};
  for (HuffNode &n : bl_tree) n = HuffNode{0, 0, 0, 0};
  HuffWork work;
  std::memset(&work, 0, sizeof work);
  std::memset(t->d_head, 0, sizeof t->d_head);
  std::memset(t->d_prev, 0, sizeof t->d_prev);
  // 2.
  std::vector<LzSymbol> syms(len == 0 ? 1 : len);
  size_t nsyms = 0;
  lit_tree[256].freq = 1;
  // 3.
  size_t i = 0;
  while (i < len) {
    int best_len = 0;
    int best_dist = 0;
    if (i + 3 <= len) {
      int h = hash3(data + i);
      long limit = i < 32768 ? 0 : static_cast<long>(i) - 32768;
      long c = t->d_head[h];
      int examined = 0;
      if (c > limit) {
        while (true) {
          examined = examined + 1;
          if (data[c] == data[i] && data[c + 1] == data[i + 1] && data[c + 2] == data[i + 2]) {
            long lim = len - i < 258 ? static_cast<long>(len - i) : 258;
            long k = 0;
            while (k < lim && data[c + k] == data[i + k]) k = k + 1;
            if (k > 2 && k > best_len) {
              best_len = static_cast<int>(k);
              best_dist = static_cast<int>(static_cast<long>(i) - c);
              if (k == 258) break;
            }
          }
          long nx = t->d_prev[c & 0x7FFF];
          if (nx <= limit) break;
          if (examined == 128) {
            ctx->stats.chain_limit_hits++;
            break;
          }
          c = nx;
        }
      }
    }
    size_t next;
    if (best_len >= 3) {
      syms[nsyms++] = LzSymbol{static_cast<uint16_t>(best_len), static_cast<uint16_t>(best_dist)};
      lit_tree[length_symbol(best_len)].freq += 1;
      dist_tree[distance_symbol(best_dist)].freq += 1;
      next = i + best_len;
      ctx->stats.matches++;
      if (best_dist > ctx->stats.max_distance) ctx->stats.max_distance = best_dist;
    } else {
      syms[nsyms++] = LzSymbol{0, data[i]};
      lit_tree[data[i]].freq += 1;
      next = i + 1;
      ctx->stats.literals++;
    }
    for (size_t p = i; p < next && p + 3 <= len; p++) {
      int hp = hash3(data + p);
      t->d_prev[p & 0x7FFF] = t->d_head[hp];
      t->d_head[hp] = static_cast<int32_t>(p);
    }
    i = next;
  }
  // 4.
  bool ov = false;
  int max_lit = d_build(&work, lit_tree.data(), 286, 15, &ov);
  if (ov) ctx->stats.lit_overflow_blocks++;
  int max_dist = d_build(&work, dist_tree.data(), 30, 15, &ov);
  if (ov) ctx->stats.dist_overflow_blocks++;
  // 5.
  lit_tree[max_lit + 1].len = -1;
  dist_tree[max_dist + 1].len = -1;
  // 6.
  d_scan_tree(lit_tree.data(), max_lit, bl_tree.data());
  d_scan_tree(dist_tree.data(), max_dist, bl_tree.data());
  // 7.
  d_build(&work, bl_tree.data(), 19, 7, &ov);
  if (ov) ctx->stats.bl_overflow_blocks++;
  // 8.
  int max_index = 3;
  for (int k = 18; k >= 4; k--) {
    if (bl_tree[d_bl_order[k]].len != 0) {
      max_index = k;
      break;
    }
  }
  // 9.
  ds_put(s, final, 1);
  ds_put(s, 2, 2);
  ds_put(s, max_lit - 256, 5);
  ds_put(s, max_dist, 5);
  ds_put(s, max_index - 3, 4);
  // 10.
  for (int k = 0; k <= max_index; k++) ds_put(s, bl_tree[d_bl_order[k]].len, 3);
  // 11.
  d_send_tree(s, lit_tree.data(), max_lit, bl_tree.data());
  d_send_tree(s, dist_tree.data(), max_dist, bl_tree.data());
  // 12.
  for (size_t q = 0; q < nsyms; q++) {
    const LzSymbol &sym = syms[q];
    if (sym.length == 0) {
      send_code(s, lit_tree.data(), sym.value);
    } else {
      int ls = length_symbol(sym.length);
      int k = ls - 257;
      send_code(s, lit_tree.data(), ls);
      if (d_len_extra[k] != 0) ds_put(s, sym.length - d_len_base[k], d_len_extra[k]);
      int ds = distance_symbol(sym.value);
      send_code(s, dist_tree.data(), ds);
      if (d_dist_extra[ds] != 0) ds_put(s, sym.value - d_dist_base[ds], d_dist_extra[ds]);
    }
  }
  // 13.
  send_code(s, lit_tree.data(), 256);
  ctx->stats.blocks++;
}

}  // namespace

std::vector<unsigned char> compress(const unsigned char *src, size_t len, Stats *stats) {
  std::vector<Ctx> holder(1);  // the tables are large; keep them off the stack
  Ctx *ctx = &holder[0];
  DeflateStream s;
  s.data.reserve(1048576);
  ds_put(&s, 0x78, 8);
  ds_put(&s, 0x01, 8);
  std::memset(ctx->tables.d_head, 0, sizeof ctx->tables.d_head);
  std::memset(ctx->tables.d_prev, 0, sizeof ctx->tables.d_prev);
  if (len == 0) {
    d_emit_block(ctx, &s, src, 0, 1);
  } else {
    for (size_t off = 0; off < len; off += 65536) {
      size_t piece = len - off < 65536 ? len - off : 65536;
      d_emit_block(ctx, &s, src + off, piece, off + piece == len ? 1 : 0);
    }
  }
  if (s.bitcount > 0) ds_put(&s, 0, 8);
  s.bitbuf = 0;
  s.bitcount = 0;
  uint32_t s1 = 1;
  uint32_t s2 = 0;
  size_t run = 0;
  for (size_t k = 0; k < len; k++) {
    s1 += src[k];
    s2 += s1;
    run = run + 1;
    if (run == 5552) {
      s1 %= 65521;
      s2 %= 65521;
      run = 0;
    }
  }
  s1 %= 65521;
  s2 %= 65521;
  s.data.push_back(static_cast<unsigned char>(s2 >> 8));
  s.data.push_back(static_cast<unsigned char>(s2 & 0xFF));
  s.data.push_back(static_cast<unsigned char>(s1 >> 8));
  s.data.push_back(static_cast<unsigned char>(s1 & 0xFF));
  if (stats) *stats = ctx->stats;
  return s.data;
}

int build(const uint32_t *freq, int elems, int max_length, int *lens, unsigned *codes,
          bool *overflowed) {
  std::vector<HuffNode> tree(static_cast<size_t>(2 * elems + 1), HuffNode{0, 0, 0, 0});
  for (int n = 0; n < elems; n++) tree[n].freq = freq[n];
  std::vector<HuffWork> work(1);
  int max_code = d_build(&work[0], tree.data(), elems, max_length, overflowed);
  for (int n = 0; n < elems; n++) {
    lens[n] = tree[n].len;
    codes[n] = tree[n].code;
  }
  return max_code;
}

}  // namespace refdeflate
