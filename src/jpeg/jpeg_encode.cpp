// Baseline sequential JPEG (JFIF) encoder: three full-resolution components,
// one of four fixed quantisation table pairs, the typical Huffman tables, a
// direct floating-point DCT and no restart markers. The output is defined
// byte for byte by the arithmetic below (summation order included); what is
// free is how fast it is produced. The picture is converted to Y, Cb and Cr
// one band of eight rows at a time, so the working memory stays small
// whatever the size of the picture.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "jpeg/jpeg.h"
#include "jpeg/jpeg_encode_internal.h"
#include "jpeg/jpeg_encode_tables.h"
#include "platform/file_io.h"

namespace jpeg_enc {
namespace {

constexpr int kMaxDimension = 65535;  // the frame header holds 16-bit sizes
constexpr size_t kInitialCapacity = 65536;
// Most bytes one unit of three blocks can add to the output: a block takes
// at most 22 bits of DC, 63 * 26 bits of AC symbols and values and its end
// of block (under 1700 bits), the bit writer may still hold 31 bits, and
// byte stuffing at most doubles all of it.
constexpr size_t kUnitBound = 2048;
constexpr size_t kTailBound = 64;

// Two doubles that the compiler handles as one vector.
typedef double V2 __attribute__((vector_size(16)));

// costab[u][x] = a(u) cos((2x + 1) u pi / 16), and the same values
// transposed (t[x][j] holds u = 2j and 2j + 1) so that the DCT's inner
// loops run over whole vectors.
struct CosTable {
  double c[8][8];  // [u][x]
  V2 t[8][4];      // [x][u / 2]
};

// Built once, on first use; the initialisation of a function-local static
// is thread-safe.
const CosTable &costab() {
  static const CosTable table = [] {
    CosTable ct{};
    const double pi = 3.141592653589793;
    for (int u = 0; u < 8; ++u) {
      const double a = u == 0 ? 0.3535533905932738 : 0.5;
      for (int x = 0; x < 8; ++x) {
        const double angle = static_cast<double>((2 * x + 1) * u) * pi * 0.0625;
        ct.c[u][x] = a * std::cos(angle);
        ct.t[x][u / 2][u % 2] = ct.c[u][x];
      }
    }
    return ct;
  }();
  return table;
}

// The growable output: capacity doubles from 64 KiB. A failed growth leaves
// the old block valid and owned here.
struct Output {
  const EncodeAllocator &alloc;
  unsigned char *data = nullptr;
  size_t length = 0;
  size_t capacity = 0;

  bool reserve(size_t extra) {
    if (extra > SIZE_MAX - length) return false;
    const size_t need = length + extra;
    if (need <= capacity) return true;
    size_t cap = capacity ? capacity : kInitialCapacity;
    while (cap < need) {
      if (cap > SIZE_MAX / 2) {
        cap = need;
        break;
      }
      cap *= 2;
    }
    void *p = data ? alloc.reallocate(alloc.ctx, data, cap) : alloc.allocate(alloc.ctx, cap);
    if (!p) return false;
    data = static_cast<unsigned char *>(p);
    capacity = cap;
    return true;
  }

  // Room must have been reserved.
  void put(std::initializer_list<unsigned> bytes) {
    for (unsigned b : bytes) data[length++] = static_cast<unsigned char>(b);
  }
  void put(const uint8_t *bytes, size_t n) {
    std::memcpy(data + length, bytes, n);
    length += n;
  }
};

// Most significant bit first, with a 0x00 byte stuffed after every 0xFF.
// Pending bits sit in the low end of acc; whole 32-bit words leave as soon
// as they are complete, the rest at finish(). Room is reserved by the caller.
struct BitWriter {
  unsigned char *out;
  uint64_t acc = 0;
  int count = 0;  // pending bits, below 32 between calls

  // Appends the n low bits of bits (n <= 32, no higher bits set).
  void put(uint32_t bits, int n) {
    acc = (acc << n) | bits;
    count += n;
    if (count >= 32) {
      count -= 32;
      word(static_cast<uint32_t>(acc >> count));
    }
  }

  void byte(unsigned b) {
    *out++ = static_cast<unsigned char>(b);
    if (b == 0xFF) *out++ = 0;
  }

  void word(uint32_t w) {
    const uint32_t inv = ~w;
    if (((inv - 0x01010101u) & ~inv & 0x80808080u) == 0) {  // no 0xFF byte
      out[0] = static_cast<unsigned char>(w >> 24);
      out[1] = static_cast<unsigned char>(w >> 16);
      out[2] = static_cast<unsigned char>(w >> 8);
      out[3] = static_cast<unsigned char>(w);
      out += 4;
      return;
    }
    for (int shift = 24; shift >= 0; shift -= 8) byte((w >> shift) & 0xFF);
  }

  // The end of the scan: the last partial byte is completed with 1-bits
  // and everything still pending goes out. No whole byte of fill may follow
  // the last code: decoders that stop reading at the last block report such
  // bytes as corrupt data before the end-of-image marker.
  void finish() {
    if (count % 8 != 0) put((1u << (8 - count % 8)) - 1u, 8 - count % 8);
    while (count >= 8) {
      count -= 8;
      byte(static_cast<unsigned>(acc >> count) & 0xFF);
    }
  }
};

// Number of bits of |v| and the value bits that follow a size: v itself
// when positive, v + 2^size - 1 when negative.
inline int bit_size(int v) { return std::bit_width(static_cast<unsigned>(v < 0 ? -v : v)); }
inline uint32_t value_bits(int v, int size) {
  const int adjusted = v < 0 ? v - 1 : v;
  return static_cast<uint32_t>(adjusted) & ((1u << size) - 1u);
}

// Bit k set when z[k] is not 0.
inline uint64_t nonzero_mask(const int16_t *z) {
  uint64_t mask = 0;
#if defined(__SSE2__)
  // Sixteen values at a time: saturating packing keeps every nonzero value
  // nonzero, so one byte comparison and movemask give sixteen bits.
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 4; ++i) {
    const __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i *>(z + 16 * i));
    const __m128i hi = _mm_load_si128(reinterpret_cast<const __m128i *>(z + 16 * i + 8));
    const __m128i is_zero = _mm_cmpeq_epi8(_mm_packs_epi16(lo, hi), zero);
    const unsigned bits = ~static_cast<unsigned>(_mm_movemask_epi8(is_zero)) & 0xFFFFu;
    mask |= static_cast<uint64_t>(bits) << (16 * i);
  }
#else
  for (int k = 0; k < 64; ++k) mask |= static_cast<uint64_t>(z[k] != 0) << k;
#endif
  return mask;
}

struct Component {
  const V2 *q;  // quantisation steps, row-major, four vectors a row
  const HuffCodes *dc;
  const HuffCodes *ac;
  int predictor = 0;
};

// Transforms, quantises and codes one 8x8 block whose top-left sample is at
// src, rows stride bytes apart.
void encode_block(const uint8_t *src, size_t stride, Component &comp, BitWriter &bw,
                  const CosTable &ct) {
  // The passes run on pairs of coefficients at a time; every coefficient is
  // still the same sum of products in the same order.
  double s[8][8];
  for (int r = 0; r < 8; ++r)
    for (int x = 0; x < 8; ++x)
      s[r][x] = static_cast<double>(static_cast<int>(src[r * stride + x]) - 128);

  // T[r][u] = sum over x of s[r][x] * costab[u][x], summed in x order.
  V2 t[8][4];
  for (int r = 0; r < 8; ++r) {
    V2 acc[4] = {};
    for (int x = 0; x < 8; ++x) {
      const double sx = s[r][x];
      for (int j = 0; j < 4; ++j) acc[j] += sx * ct.t[x][j];
    }
    for (int j = 0; j < 4; ++j) t[r][j] = acc[j];
  }
  // F[v][u] = sum over r of costab[v][r] * T[r][u], summed in r order; then
  // each coefficient divided by its step and rounded half away from zero:
  // truncate(F / q + 0.5) when F >= 0, truncate(F / q - 0.5) otherwise.
  alignas(16) int zq[64];
  const V2 plus = {0.5, 0.5}, minus = {-0.5, -0.5};
  for (int v = 0; v < 8; ++v) {
    V2 acc[4] = {};
    for (int r = 0; r < 8; ++r) {
      const double c = ct.c[v][r];
      for (int j = 0; j < 4; ++j) acc[j] += c * t[r][j];
    }
    for (int j = 0; j < 4; ++j) {
      const V2 d = acc[j] / comp.q[4 * v + j] + (acc[j] >= 0 ? plus : minus);
      zq[8 * v + 2 * j] = static_cast<int>(d[0]);
      zq[8 * v + 2 * j + 1] = static_cast<int>(d[1]);
    }
  }

  const int dc = zq[0];
  const int diff = dc - comp.predictor;
  comp.predictor = dc;
  int size = bit_size(diff);
  bw.put((static_cast<uint32_t>(comp.dc->code[size]) << size) | value_bits(diff, size),
         comp.dc->length[size] + size);

  // The AC values in zigzag order (they fit 16 bits: below 2048 / 3 in
  // magnitude) and a mask of the nonzero ones; the DC slot is left 0.
  alignas(16) int16_t z[64];
  z[0] = 0;
  for (int k = 1; k < 64; ++k) z[k] = static_cast<int16_t>(zq[ZZ[k]]);
  uint64_t nonzero = nonzero_mask(z);
  const HuffCodes &ac = *comp.ac;
  int last = 0;
  while (nonzero) {
    const int k = std::countr_zero(nonzero);
    nonzero &= nonzero - 1;
    int run = k - last - 1;
    while (run > 15) {
      bw.put(ac.code[0xF0], ac.length[0xF0]);
      run -= 16;
    }
    size = bit_size(z[k]);
    const int sym = run * 16 + size;
    bw.put((static_cast<uint32_t>(ac.code[sym]) << size) | value_bits(z[k], size),
           ac.length[sym] + size);
    last = k;
  }
  if (last < 63) bw.put(ac.code[0x00], ac.length[0x00]);
}

// SOI, APP0 (JFIF 1.1, 48 dots per inch), the two quantisation tables in
// zigzag order, the frame header, the four Huffman tables and the scan
// header. Room must have been reserved.
void write_headers(Output &out, int width, int height, int set) {
  out.put({0xFF, 0xD8});
  out.put({0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x01, 0x00, 0x30, 0x00,
           0x30, 0x00, 0x00});
  const QuantTable *tables[2] = {&pc_q_luma[set], &pc_q_chroma[set]};
  for (unsigned id = 0; id < 2; ++id) {
    out.put({0xFF, 0xDB, 0x00, 0x43, id});
    for (int k = 0; k < 64; ++k) out.put({static_cast<unsigned>((*tables[id])[ZZ[k]])});
  }
  const unsigned w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  out.put({0xFF, 0xC0, 0x00, 0x11, 0x08, h >> 8, h & 0xFF, w >> 8, w & 0xFF, 0x03, 0x01, 0x11,
           0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01});
  for (size_t i = 0; i < huffdefs.size(); ++i) {
    const HuffDef &d = huffdefs[i];
    out.put({0xFF, 0xC4, 0x00, static_cast<unsigned>(d.nsyms + 19), kHuffClassId[i]});
    out.put(d.counts, 16);
    out.put(d.syms, static_cast<size_t>(d.nsyms));
  }
  out.put({0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
}

// Converts one picture row into one row of each band plane, repeating the
// last column up to the padded width. The pixels are first split into
// channel arrays, so that the conversion itself runs over contiguous memory
// and the compiler can vectorise it.
void convert_row(const unsigned char *row, int width, size_t padded, uint8_t *py, uint8_t *pcb,
                 uint8_t *pcr) {
  constexpr size_t kChunk = 64;
  const size_t w = static_cast<size_t>(width);
  for (size_t x0 = 0; x0 < w; x0 += kChunk) {
    const size_t n = std::min(kChunk, w - x0);
    int r[kChunk], g[kChunk], b[kChunk];
    for (size_t i = 0; i < n; ++i) {
      const unsigned char *p = row + 4 * (x0 + i);
      r[i] = p[0];
      g[i] = p[1];
      b[i] = p[2];
    }
    for (size_t i = 0; i < n; ++i) {
      const Ycc c = rgb_to_ycc(r[i], g[i], b[i]);
      py[x0 + i] = c.y;
      pcb[x0 + i] = c.cb;
      pcr[x0 + i] = c.cr;
    }
  }
  for (size_t x = w; x < padded; ++x) {
    py[x] = py[w - 1];
    pcb[x] = pcb[w - 1];
    pcr[x] = pcr[w - 1];
  }
}

}  // namespace

unsigned char *encode_with_allocator(int width, int height, const unsigned char *rgba,
                                     int quality, size_t *out_len, const EncodeAllocator &alloc) {
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension ||
      rgba == nullptr || out_len == nullptr)
    return nullptr;
  if constexpr (sizeof(size_t) < 8) {
    // The input must be addressable as one block.
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4u > SIZE_MAX)
      return nullptr;
  }
  const int set = quality_table_set(quality);
  *out_len = 0;

  const size_t cols = (static_cast<size_t>(width) + 7) / 8;
  const size_t rows = (static_cast<size_t>(height) + 7) / 8;
  const size_t padded = cols * 8;
  const size_t stride = 4 * static_cast<size_t>(width);
  const size_t plane = 8 * padded;

  // Y, Cb and Cr bands of eight padded rows, one block for the three.
  auto *band = static_cast<uint8_t *>(alloc.allocate(alloc.ctx, 3 * plane));
  if (!band) return nullptr;
  uint8_t *const bands[3] = {band, band + plane, band + 2 * plane};

  Output out{alloc};
  unsigned char *result = nullptr;
  if (out.reserve(kInitialCapacity)) {
    write_headers(out, width, height, set);

    V2 steps[2][32];
    for (int i = 0; i < 64; ++i) {
      steps[0][i / 2][i % 2] = pc_q_luma[set][static_cast<size_t>(i)];
      steps[1][i / 2][i % 2] = pc_q_chroma[set][static_cast<size_t>(i)];
    }
    Component comps[3] = {{steps[0], &kLumaDc, &kLumaAc},
                          {steps[1], &kChromaDc, &kChromaAc},
                          {steps[1], &kChromaDc, &kChromaAc}};
    const CosTable &ct = costab();
    BitWriter bw{out.data + out.length};
    bool ok = true;
    for (size_t br = 0; br < rows && ok; ++br) {
      // Rows past the bottom repeat the last row of the picture.
      for (size_t r = 0; r < 8; ++r) {
        const size_t y = std::min(8 * br + r, static_cast<size_t>(height) - 1);
        if (r > 0 && y == std::min(8 * br + r - 1, static_cast<size_t>(height) - 1)) {
          for (uint8_t *b : bands) std::memcpy(b + r * padded, b + (r - 1) * padded, padded);
          continue;
        }
        convert_row(rgba + y * stride, width, padded, bands[0] + r * padded,
                    bands[1] + r * padded, bands[2] + r * padded);
      }
      for (size_t bc = 0; bc < cols; ++bc) {
        out.length = static_cast<size_t>(bw.out - out.data);
        if (!out.reserve(kUnitBound)) {
          ok = false;
          break;
        }
        bw.out = out.data + out.length;
        for (int c = 0; c < 3; ++c) encode_block(bands[c] + 8 * bc, padded, comps[c], bw, ct);
      }
    }
    if (ok) {
      out.length = static_cast<size_t>(bw.out - out.data);
      ok = out.reserve(kTailBound);
    }
    if (ok) {
      bw.out = out.data + out.length;
      bw.finish();
      out.length = static_cast<size_t>(bw.out - out.data);
      out.put({0xFF, 0xD9});
      result = static_cast<unsigned char *>(alloc.allocate(alloc.ctx, out.length));
      if (result) {
        std::memcpy(result, out.data, out.length);
        *out_len = out.length;
      }
    }
  }
  if (out.data) alloc.release(alloc.ctx, out.data);
  alloc.release(alloc.ctx, band);
  return result;
}

}  // namespace jpeg_enc

namespace {

void *heap_allocate(void *, size_t size) { return std::malloc(size ? size : 1); }
void *heap_reallocate(void *, void *block, size_t size) { return std::realloc(block, size); }
void heap_release(void *, void *block) { std::free(block); }

constexpr jpeg_enc::EncodeAllocator kHeap = {heap_allocate, heap_reallocate, heap_release,
                                             nullptr};

}  // namespace

unsigned char *tvl_jpeg_write_mem(int width, int height, const unsigned char *rgba, int quality,
                                  size_t *out_len) {
  try {
    return jpeg_enc::encode_with_allocator(width, height, rgba, quality, out_len, kHeap);
  } catch (...) {
    // Nothing above is expected to throw; the C caller must never see it.
    return nullptr;
  }
}

int tvl_jpeg_write(const char *path, int width, int height, const unsigned char *rgba) {
  if (path == nullptr) return 0;
  size_t len = 0;
  unsigned char *bytes = tvl_jpeg_write_mem(width, height, rgba, 75, &len);
  if (!bytes) return 0;
  // The file is replaced only once every byte is on disk: a failed write
  // leaves no partial picture and keeps an earlier file of that name.
  int ok = 0;
  try {
    ok = replace_file(path, std::span<const uint8_t>(bytes, len)).status == WriteStatus::ok ? 1 : 0;
  } catch (...) {
    // Only the temporary file's name is allocated on the way.
    ok = 0;
  }
  std::free(bytes);
  return ok;
}
