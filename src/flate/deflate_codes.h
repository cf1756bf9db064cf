// Compile-time lookup tables from match lengths and distances to their
// DEFLATE symbols, derived from the RFC 1951 tables in tables.h.
#pragma once

#include <cstdint>

#include "flate/tables.h"

namespace flate {

// Index k (0..28) of the length symbol 257 + k for a match length L (3..258):
// the smallest k with L < base_len[k + 1], and 28 when there is none.
struct LengthSymbols {
  uint8_t k[259] = {};
  constexpr LengthSymbols() {
    for (int L = 3; L <= 258; L++) {
      int s = 28;
      for (int j = 0; j <= 27; j++) {
        if (L < base_len[j + 1]) {
          s = j;
          break;
        }
      }
      k[L] = static_cast<uint8_t>(s);
    }
  }
};
inline constexpr LengthSymbols kLengthSymbols{};

constexpr int distance_symbol_linear(int d) {
  for (int k = 0; k <= 28; k++)
    if (d < base_dist[k + 1]) return k;
  return 29;
}

// Distance symbol of D (1..32,768): indexed by D - 1 below 256, and by
// 256 + ((D - 1) >> 7) above, since every distance base from 257 up is
// 1 + a multiple of 128.
struct DistanceSymbols {
  uint8_t s[512] = {};
  constexpr DistanceSymbols() {
    for (int d = 0; d < 256; d++) s[d] = static_cast<uint8_t>(distance_symbol_linear(d + 1));
    for (int d = 256; d < 32768; d += 128)
      s[256 + (d >> 7)] = static_cast<uint8_t>(distance_symbol_linear(d + 1));
  }
};
inline constexpr DistanceSymbols kDistanceSymbols{};

constexpr int distance_symbol(int dist) {
  const int d = dist - 1;
  return d < 256 ? kDistanceSymbols.s[d] : kDistanceSymbols.s[256 + (d >> 7)];
}

// The table is right for every distance if it is right at both ends of each
// symbol's range and every range from 257 up starts at 1 + a multiple of 128.
constexpr bool distance_table_agrees() {
  for (int k = 0; k < 30; k++) {
    const int first = base_dist[k];
    const int end = k < 29 ? base_dist[k + 1] : 32769;
    if (distance_symbol(first) != k || distance_symbol(end - 1) != k) return false;
    if (first >= 257 && (first - 1) % 128 != 0) return false;
  }
  for (int d = 1; d <= 256; d++)
    if (distance_symbol(d) != distance_symbol_linear(d)) return false;
  return true;
}
static_assert(distance_table_agrees(), "distance symbol table");

}  // namespace flate
