// Constant tables of the baseline JPEG encoder: the zigzag order, the four
// quantisation table pairs (the example tables of the JPEG standard scaled
// for four qualities) and the typical Huffman tables of the standard, with
// the code of every symbol worked out at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace jpeg_enc {

// ZZ[k] is the row-major index of the k-th coefficient in zigzag order.
inline constexpr std::array<uint8_t, 64> ZZ = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Example quantisation tables of the standard, row-major: luminance and
// chrominance.
inline constexpr std::array<int32_t, 64> kBaseLuma = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
inline constexpr std::array<int32_t, 64> kBaseChroma = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

using QuantTable = std::array<int32_t, 64>;

// A base table scaled for quality q (1 to 100), each entry kept in 1..255 so
// that it fits the 8-bit table of a baseline file.
constexpr QuantTable scaled_table(const QuantTable &base, int q) {
  const int32_t scale = q < 50 ? 5000 / q : 200 - 2 * q;
  QuantTable t{};
  for (size_t i = 0; i < 64; ++i) {
    int32_t v = (base[i] * scale + 50) / 100;
    t[i] = v < 1 ? 1 : v > 255 ? 255 : v;
  }
  return t;
}

// The qualities the four table sets stand for.
inline constexpr std::array<int, 4> kSetQualities = {45, 60, 70, 85};

inline constexpr std::array<QuantTable, 4> pc_q_luma = {
    scaled_table(kBaseLuma, kSetQualities[0]), scaled_table(kBaseLuma, kSetQualities[1]),
    scaled_table(kBaseLuma, kSetQualities[2]), scaled_table(kBaseLuma, kSetQualities[3])};
inline constexpr std::array<QuantTable, 4> pc_q_chroma = {
    scaled_table(kBaseChroma, kSetQualities[0]), scaled_table(kBaseChroma, kSetQualities[1]),
    scaled_table(kBaseChroma, kSetQualities[2]), scaled_table(kBaseChroma, kSetQualities[3])};

static_assert(pc_q_luma[0][0] == 18 && pc_q_luma[0][1] == 12 && pc_q_luma[0][2] == 11);
static_assert(pc_q_chroma[3][0] == 5 && pc_q_chroma[3][1] == 5 && pc_q_chroma[3][2] == 7);

// The smallest step of any table. The encoder relies on it being at least 3:
// a DCT coefficient of 8-bit samples is below 2048 in magnitude, so every AC
// value then needs at most 10 bits (the largest size the AC tables code) and
// every DC difference at most 11.
constexpr int32_t smallest_step() {
  int32_t m = 255;
  for (const QuantTable &t : pc_q_luma)
    for (int32_t v : t) m = v < m ? v : m;
  for (const QuantTable &t : pc_q_chroma)
    for (int32_t v : t) m = v < m ? v : m;
  return m;
}
static_assert(smallest_step() >= 3);

// Typical Huffman tables of the standard: 16 counts of codes per length,
// then the symbols in code order.
inline constexpr std::array<uint8_t, 16> s_luma_dc_counts = {0, 1, 5, 1, 1, 1, 1, 1,
                                                             1, 0, 0, 0, 0, 0, 0, 0};
inline constexpr std::array<uint8_t, 12> s_luma_dc_syms = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
inline constexpr std::array<uint8_t, 16> s_chroma_dc_counts = {0, 3, 1, 1, 1, 1, 1, 1,
                                                               1, 1, 1, 0, 0, 0, 0, 0};
inline constexpr std::array<uint8_t, 12> s_chroma_dc_syms = {0, 1, 2, 3, 4,  5,
                                                             6, 7, 8, 9, 10, 11};

inline constexpr std::array<uint8_t, 16> s_luma_ac_counts = {0, 2, 1, 3, 3, 2, 4, 3,
                                                             5, 5, 4, 4, 0, 0, 1, 0x7d};
inline constexpr std::array<uint8_t, 162> s_luma_ac_syms = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

inline constexpr std::array<uint8_t, 16> s_chroma_ac_counts = {0, 2, 1, 2, 4, 4, 3, 4,
                                                               7, 5, 4, 4, 0, 1, 2, 0x77};
inline constexpr std::array<uint8_t, 162> s_chroma_ac_syms = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// One Huffman table as written in a DHT segment.
struct HuffDef {
  const uint8_t *counts;  // 16 entries
  const uint8_t *syms;
  int nsyms;
};

// The tables in the order of the DHT segments and of their class and
// identifier bytes 00, 10, 01, 11.
inline constexpr std::array<HuffDef, 4> huffdefs = {{
    {s_luma_dc_counts.data(), s_luma_dc_syms.data(), 12},
    {s_luma_ac_counts.data(), s_luma_ac_syms.data(), 162},
    {s_chroma_dc_counts.data(), s_chroma_dc_syms.data(), 12},
    {s_chroma_ac_counts.data(), s_chroma_ac_syms.data(), 162},
}};
inline constexpr std::array<uint8_t, 4> kHuffClassId = {0x00, 0x10, 0x01, 0x11};

// Code and code length of every symbol of one table; length 0 marks a
// symbol the table does not have.
struct HuffCodes {
  std::array<uint16_t, 256> code{};
  std::array<uint8_t, 256> length{};
};

// The canonical assignment: codes of one length are consecutive in symbol
// order, and the next length starts at twice the code after the last one.
template <size_t N>
constexpr HuffCodes make_codes(const std::array<uint8_t, 16> &counts,
                               const std::array<uint8_t, N> &syms) {
  HuffCodes h{};
  unsigned code = 0;
  size_t k = 0;
  for (unsigned len = 1; len <= 16; ++len) {
    for (unsigned i = 0; i < counts[len - 1]; ++i, ++k) {
      h.code[syms[k]] = static_cast<uint16_t>(code);
      h.length[syms[k]] = static_cast<uint8_t>(len);
      ++code;
    }
    code <<= 1;
  }
  return h;
}

template <size_t N>
constexpr bool counts_match(const std::array<uint8_t, 16> &counts, const std::array<uint8_t, N> &) {
  size_t total = 0;
  for (uint8_t c : counts) total += c;
  return total == N;
}
static_assert(counts_match(s_luma_dc_counts, s_luma_dc_syms));
static_assert(counts_match(s_chroma_dc_counts, s_chroma_dc_syms));
static_assert(counts_match(s_luma_ac_counts, s_luma_ac_syms));
static_assert(counts_match(s_chroma_ac_counts, s_chroma_ac_syms));

inline constexpr HuffCodes kLumaDc = make_codes(s_luma_dc_counts, s_luma_dc_syms);
inline constexpr HuffCodes kLumaAc = make_codes(s_luma_ac_counts, s_luma_ac_syms);
inline constexpr HuffCodes kChromaDc = make_codes(s_chroma_dc_counts, s_chroma_dc_syms);
inline constexpr HuffCodes kChromaAc = make_codes(s_chroma_ac_counts, s_chroma_ac_syms);

// Every symbol the encoder can produce has a code: DC sizes 0 to 11, AC end
// of block, sixteen zeros and every run 0..15 with size 1..10.
constexpr bool covers_all(const HuffCodes &dc, const HuffCodes &ac) {
  for (int s = 0; s <= 11; ++s)
    if (dc.length[s] == 0) return false;
  if (ac.length[0x00] == 0 || ac.length[0xF0] == 0) return false;
  for (int run = 0; run < 16; ++run)
    for (int size = 1; size <= 10; ++size)
      if (ac.length[run * 16 + size] == 0) return false;
  return true;
}
static_assert(covers_all(kLumaDc, kLumaAc));
static_assert(covers_all(kChromaDc, kChromaAc));

}  // namespace jpeg_enc
