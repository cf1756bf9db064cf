#include "flate/lz_match.h"

#include <cstring>

#include "flate/deflate_codes.h"

namespace flate {
namespace {

constexpr int kMaxMatch = 258;
constexpr int kMaxChain = 128;
constexpr uint32_t kWindow = 32768;

inline uint32_t hash3(const unsigned char *p) {
  return (static_cast<uint32_t>(p[0]) * 961u + static_cast<uint32_t>(p[1]) * 31u + p[2]) & 0x7FFFu;
}

inline uint64_t load64(const unsigned char *p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline uint16_t load16(const unsigned char *p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Number of equal leading bytes of a and b, at most limit.
inline uint32_t common_length(const unsigned char *a, const unsigned char *b, uint32_t limit) {
  uint32_t k = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (k + 8 <= limit) {
    const uint64_t x = load64(a + k) ^ load64(b + k);
    if (x != 0) return k + static_cast<uint32_t>(__builtin_ctzll(x) >> 3);
    k += 8;
  }
#endif
  while (k < limit && a[k] == b[k]) k++;
  return k;
}

struct Match {
  uint32_t length;    // 2 when none was found
  uint32_t distance;  // 0 when none was found
};

// The longest match for position i among the first kMaxChain candidates of
// the chain that starts at cand (cand > limit); the nearest of equal ones.
inline Match longest_match(const unsigned char *data, uint32_t i, uint32_t cand, uint32_t limit, uint32_t len,
                           const uint16_t *prev) {
  const unsigned char *const s = data + i;
  const uint32_t maxlen = len - i < kMaxMatch ? len - i : kMaxMatch;
  uint32_t best = 2;
  uint32_t best_cand = i;
  // A candidate can beat best only if it also matches at offsets best - 1
  // and best; those two bytes reject most candidates with one compare.
  uint16_t tail = load16(s + best - 1);
  for (int chain = kMaxChain;;) {
    const unsigned char *const m = data + cand;
    if (load16(m + best - 1) == tail) {
      const uint32_t l = common_length(s, m, maxlen);
      if (l > best) {
        best = l;
        best_cand = cand;
        if (l >= maxlen) break;  // nothing can be longer
        tail = load16(s + best - 1);
      }
    }
    cand = prev[cand & 0x7FFF];
    if (cand <= limit || --chain == 0) break;
  }
  return Match{best, i - best_cand};
}

}  // namespace

size_t lz_block(const unsigned char *data, size_t len_in, MatchTables &t, uint32_t *syms,
                BlockFreqs &freqs) {
  std::memset(t.head, 0, sizeof t.head);
  std::memset(&freqs, 0, sizeof freqs);
  uint16_t *const head = t.head;
  uint16_t *const prev = t.prev;
  uint32_t *const lit = freqs.lit;
  uint32_t *const dist = freqs.dist;
  const uint32_t len = static_cast<uint32_t>(len_in);
  // Positions below this one have three bytes to hash.
  const uint32_t hash_end = len >= 3 ? len - 2 : 0;
  size_t n = 0;
  uint32_t i = 0;
  while (i < hash_end) {
    const unsigned char *const s = data + i;
    const uint32_t h = hash3(s);
    uint32_t cand = head[h];
    const uint32_t limit = i > kWindow ? i - kWindow : 0;
    uint32_t best = 2;
    uint32_t best_dist = 0;
    if (cand > limit) {
      const Match found = longest_match(data, i, cand, limit, len, prev);
      best = found.length;
      best_dist = found.distance;
    }
    uint32_t next;
    if (best_dist != 0) {
      syms[n++] = make_match(best, best_dist);
      lit[257 + kLengthSymbols.k[best]]++;
      dist[distance_symbol(static_cast<int>(best_dist))]++;
      next = i + best;
    } else {
      syms[n++] = *s;
      lit[*s]++;
      next = i + 1;
    }
    // Insert the covered positions that have three bytes.
    const uint32_t stop = next < hash_end ? next : hash_end;
    for (uint32_t p = i; p < stop; p++) {
      const uint32_t hp = hash3(data + p);
      prev[p & 0x7FFF] = head[hp];
      head[hp] = static_cast<uint16_t>(p);
    }
    i = next;
  }
  // The last one or two bytes are literals.
  for (; i < len; i++) {
    syms[n++] = data[i];
    lit[data[i]]++;
  }
  return n;
}

}  // namespace flate
