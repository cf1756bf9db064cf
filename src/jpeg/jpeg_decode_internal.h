// Pieces of the baseline JPEG decoder shared by its source files: Huffman
// tables and the entropy-coded bit reader, the inverse DCT into sample
// planes, and the conversion of the planes to RGBA. The marker walk and the
// scan loop that drive them live in jpeg_decode.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace jpegdec {

// ZZ[k] is the natural (row-major) index of the k-th coefficient in zigzag
// order.
inline constexpr std::array<uint8_t, 64> ZZ = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// ---------------------------------------------------------------------------
// Huffman tables

// Codes up to this many bits are found with one table look-up; longer ones
// are found by comparing with the largest code of each length.
inline constexpr int kFastBits = 9;

// One decoding table, built from the sixteen code-length counts and the
// symbols of a DHT table. Codes are canonical: for each length they take
// consecutive values, and longer codes always have greater values, so a
// code read bit by bit matches at the first length k where its value is
// at most maxcode[k].
struct HuffTable {
  bool defined = false;
  // Index by the next kFastBits bits: the length of the code that starts
  // there (0 when it is longer than kFastBits) in the low byte, its symbol
  // in the high byte.
  std::array<uint16_t, 1 << kFastBits> fast{};
  std::array<int32_t, 17> maxcode{};  // per length 1..16; -1 when no code has it
  std::array<int32_t, 17> first{};    // value of the first code of each length
  std::array<int32_t, 17> offset{};   // index in symbols of that first code
  // Symbols in code order; sixteen counts of at most 255 give at most 4,080.
  std::vector<uint8_t> symbols;
};

enum class HuffBuild { ok, code_too_long };

// Builds table from counts (index 0 for length 1) and the symbols that
// follow them; code_too_long when a code value would reach 65,536.
HuffBuild build_huffman_table(std::span<const uint8_t, 16> counts, std::span<const uint8_t> symbols,
                              HuffTable &table);

// ---------------------------------------------------------------------------
// Bit reader over entropy-coded data

// Why the reader could not load further bytes: the end of the data (which
// includes an 0xFF that is the last byte) or a marker (0xFF followed by a
// byte other than 0x00).
enum : int { kStopNone = 0, kStopEnd = 1, kStopMarker = 2 };

// Bits are loaded ahead into acc, most significant first; `bits` counts the
// real ones, and everything below them is zero. The decoder may look at more
// bits than are real (they read as zeros), but consuming them sets status to
// the stop reason, which fails the next Huffman symbol.
struct BitReader {
  const uint8_t *data = nullptr;
  size_t size = 0;
  size_t pos = 0;        // next byte to load
  size_t run_start = 0;  // where loading began (scan start or after a restart marker)
  size_t stop_pos = 0;   // where loading stopped, when stop is not kStopNone
  uint64_t acc = 0;
  int bits = 0;
  int stop = kStopNone;
  int status = kStopNone;  // set when bits beyond the data were consumed
};

// Starts reading at pos, with no bits loaded and no status.
void reader_start(BitReader &br, size_t pos);

// Returns the offset of the first byte from which no bit has been consumed:
// where a marker must follow the entropy-coded data.
size_t reader_position(const BitReader &br);

enum class BlockResult {
  ok,
  failed_stored,    // a bad AC code or end of data: the block is kept, decoding stops
  failed_discarded  // a bad DC code or end of data: the block is dropped, decoding stops
};

// Decodes one block's coefficients (natural order, cleared first) with the
// given tables and DC predictor. used receives bit v for every row v and
// bit 8 + u for every column u that holds a coefficient other than 0.
BlockResult decode_block(BitReader &br, const HuffTable &dc, const HuffTable &ac, int32_t &pred,
                         int32_t coef[64], unsigned &used);

// ---------------------------------------------------------------------------
// Inverse DCT

// Dequantises coef with quant (both in natural order), transforms the block
// and writes its 8 x 8 samples into the plane with the top left corner at
// (x0, y0); samples outside the plane are dropped. used tells the rows and
// columns with coefficients other than 0, as decode_block gives it.
void idct_block_to_plane(const int32_t coef[64], unsigned used, const int32_t quant[64],
                         uint8_t *plane, size_t plane_w, size_t plane_h, size_t x0, size_t y0);

// ---------------------------------------------------------------------------
// Colour conversion

// How the samples of the planes become RGB.
enum class ColourModel {
  gray,          // first plane only (one or two components)
  ycbcr,         // three (or more) components
  rgb,           // three components stored as R, G, B (Adobe transform 0, no JFIF)
  cmyk_adobe,    // four components, inverted as Adobe writes them
  ycck_adobe,    // four components, Y, Cb, Cr of inverted C, M, Y, then K (Adobe transform 2)
  cmyk_plain     // four components as ink amounts (no Adobe segment)
};

// One decoded plane and its sampling factors.
struct PlaneView {
  const uint8_t *samples = nullptr;
  size_t width = 0, height = 0;
  int h = 1, v = 1;
};

// Writes width * height RGBA pixels (A = 255) into out. Each plane is
// sampled at (x * h / hmax, y * v / vmax): nearest-neighbour upsampling of
// subsampled components.
void convert_to_rgba(std::span<const PlaneView> planes, int hmax, int vmax, ColourModel model,
                     size_t width, size_t height, uint8_t *out);

}  // namespace jpegdec
