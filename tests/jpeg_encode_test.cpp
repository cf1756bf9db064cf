// The baseline JPEG encoder, judged by libjpeg-turbo: it decodes every file
// without a warning, reads back the quantised coefficients (which must equal
// those of a plain reference transform written here from the definition),
// and supplies its own standard Huffman and quantisation tables to compare
// the header segments with. A small scan walker written here checks what
// libjpeg-turbo does not look at: the fill bits at the end of the scan, the
// zero-run and end-of-block symbols, and byte stuffing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "jpeg/jpeg.h"
#include "jpeg/jpeg_encode_internal.h"
#include "support/jpeg_maker.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// ---------------------------------------------------------------------------
// Pictures

struct Picture {
  int width = 0, height = 0;
  Bytes rgba;  // 4 bytes a pixel
};

uint8_t clamp8(double v) {
  return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v))));
}

// A deterministic picture with what photographs have: smooth gradients, a
// few hard edges (a disc, a bar, a checker patch) and mild noise.
Picture natural_picture(int width, int height, uint32_t seed = 1) {
  Picture p{width, height, Bytes(static_cast<size_t>(width) * static_cast<size_t>(height) * 4)};
  uint32_t state = seed;
  auto noise = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>((state >> 24) & 0x0F) - 7.5;  // -7.5 .. 7.5
  };
  const double cx = width * 0.6, cy = height * 0.4, radius = std::min(width, height) * 0.25;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double r = 120 + 80 * std::sin(x / 37.0 + y / 53.0);
      double g = 60 + 140.0 * y / std::max(1, height - 1);
      double b = 200 - 120.0 * x / std::max(1, width - 1);
      const double dx = x - cx, dy = y - cy;
      if (dx * dx + dy * dy < radius * radius) {
        r = 230 - r * 0.2;
        g *= 0.5;
        b += 30;
      }
      if (x > width / 5 && x < width / 5 + 12) r = g = b = 20;
      if (x < width / 4 && y > height * 3 / 4 && ((x / 4 + y / 4) & 1)) r = g = b = 245;
      const double n = noise();
      const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4;
      p.rgba[i] = clamp8(r + n);
      p.rgba[i + 1] = clamp8(g + n * 0.7);
      p.rgba[i + 2] = clamp8(b - n);
      p.rgba[i + 3] = 255;
    }
  return p;
}

Picture noise_picture(int width, int height, uint32_t seed) {
  Picture p{width, height, Bytes(static_cast<size_t>(width) * static_cast<size_t>(height) * 4)};
  uint32_t state = seed;
  for (uint8_t &v : p.rgba) {
    state = state * 1103515245u + 12345u;
    v = static_cast<uint8_t>(state >> 23);
  }
  return p;
}

Picture solid_picture(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
  Picture p{width, height, {}};
  for (int i = 0; i < width * height; ++i) p.rgba.insert(p.rgba.end(), {r, g, b, a});
  return p;
}

// ---------------------------------------------------------------------------
// Encoding

struct FreeDeleter {
  void operator()(unsigned char *p) const { std::free(p); }
};

Bytes encode(const Picture &p, int quality) {
  size_t len = 0;
  std::unique_ptr<unsigned char, FreeDeleter> out(
      tvl_jpeg_write_mem(p.width, p.height, p.rgba.data(), quality, &len));
  if (!out) return {};
  return Bytes(out.get(), out.get() + len);
}

// ---------------------------------------------------------------------------
// Expected tables, worked out here from the example tables of the standard.

constexpr std::array<int, 64> kAnnexLuma = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

std::array<int, 64> annex_chroma() {
  std::array<int, 64> t;
  t.fill(99);
  const int top[4][4] = {{17, 18, 24, 47}, {18, 21, 26, 66}, {24, 26, 56, 99}, {47, 66, 99, 99}};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) t[static_cast<size_t>(r * 8 + c)] = top[r][c];
  return t;
}

// The table of set 0..3 (qualities 45, 60, 70, 85), row-major.
std::array<int, 64> expected_table(bool chroma, int set) {
  const int q = std::array{45, 60, 70, 85}[static_cast<size_t>(set)];
  const int s = q < 50 ? 5000 / q : 200 - 2 * q;
  const std::array<int, 64> base = chroma ? annex_chroma() : kAnnexLuma;
  std::array<int, 64> t{};
  for (size_t i = 0; i < 64; ++i) t[i] = std::clamp((base[i] * s + 50) / 100, 1, 255);
  return t;
}

// Zigzag order by walking the anti-diagonals.
std::array<int, 64> zigzag() {
  std::array<int, 64> zz{};
  size_t k = 0;
  for (int s = 0; s <= 14; ++s) {
    if (s % 2 == 0) {
      for (int row = std::min(s, 7); row >= std::max(0, s - 7); --row) zz[k++] = row * 8 + (s - row);
    } else {
      for (int row = std::max(0, s - 7); row <= std::min(s, 7); ++row) zz[k++] = row * 8 + (s - row);
    }
  }
  return zz;
}

// ---------------------------------------------------------------------------
// Reference coefficients: the conversion, transform and quantisation from
// their definition, over whole planes, as directly as they can be written.

using Block = std::array<int, 64>;  // row-major

struct Coefficients {
  int blocks_wide = 0, blocks_high = 0;
  std::array<std::vector<Block>, 3> comp;  // blocks in raster order
};

Coefficients reference_coefficients(const Picture &p, int quality) {
  const int set = quality <= 57 ? 0 : quality <= 66 ? 1 : quality <= 77 ? 2 : 3;
  const std::array<int, 64> qt[2] = {expected_table(false, set), expected_table(true, set)};
  const size_t n = static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
  std::array<std::vector<int>, 3> plane;
  for (auto &v : plane) v.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const double R = p.rgba[4 * i], G = p.rgba[4 * i + 1], B = p.rgba[4 * i + 2];
    plane[0][i] = static_cast<int>(0.299 * R + 0.587 * G + 0.114 * B + 0.5);
    plane[1][i] = static_cast<int>(-0.168736 * R - 0.331264 * G + 0.5 * B + 128);
    plane[2][i] = static_cast<int>(0.5 * R - 0.418688 * G - 0.081312 * B + 128);
  }
  double cosine[8][8];
  for (int u = 0; u < 8; ++u)
    for (int x = 0; x < 8; ++x)
      cosine[u][x] = (u == 0 ? 0.3535533905932738 : 0.5) *
                     std::cos((2 * x + 1) * u * 3.141592653589793 * 0.0625);
  Coefficients c;
  c.blocks_wide = (p.width + 7) / 8;
  c.blocks_high = (p.height + 7) / 8;
  for (int ci = 0; ci < 3; ++ci)
    for (int by = 0; by < c.blocks_high; ++by)
      for (int bx = 0; bx < c.blocks_wide; ++bx) {
        double s[8][8], t[8][8];
        for (int r = 0; r < 8; ++r)
          for (int col = 0; col < 8; ++col) {
            const int y = std::min(8 * by + r, p.height - 1), x = std::min(8 * bx + col, p.width - 1);
            s[r][col] = plane[static_cast<size_t>(ci)][static_cast<size_t>(y) * static_cast<size_t>(p.width) +
                                                       static_cast<size_t>(x)] -
                        128;
          }
        for (int r = 0; r < 8; ++r)
          for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int x = 0; x < 8; ++x) sum += s[r][x] * cosine[u][x];
            t[r][u] = sum;
          }
        Block b{};
        for (int v = 0; v < 8; ++v)
          for (int u = 0; u < 8; ++u) {
            double f = 0;
            for (int r = 0; r < 8; ++r) f += cosine[v][r] * t[r][u];
            const double q = qt[ci == 0 ? 0 : 1][static_cast<size_t>(v * 8 + u)];
            b[static_cast<size_t>(v * 8 + u)] = static_cast<int>(f >= 0 ? f / q + 0.5 : f / q - 0.5);
          }
        c.comp[static_cast<size_t>(ci)].push_back(b);
      }
  return c;
}

// Every block libjpeg-turbo read equals the reference; reports the first
// difference only.
void expect_reference_coefficients(const Bytes &file, const Picture &p, int quality,
                                   const std::string &what) {
  const testjpeg::LibjpegCoefficients got = testjpeg::read_coefficients_with_libjpeg(file);
  ASSERT_TRUE(got.ok) << what << ": " << got.message;
  EXPECT_EQ(got.warnings, 0) << what;
  const Coefficients want = reference_coefficients(p, quality);
  ASSERT_EQ(got.blocks_wide, want.blocks_wide) << what;
  ASSERT_EQ(got.blocks_high, want.blocks_high) << what;
  for (size_t ci = 0; ci < 3; ++ci) {
    ASSERT_EQ(got.comp[ci].size(), want.comp[ci].size()) << what;
    for (size_t b = 0; b < want.comp[ci].size(); ++b)
      if (got.comp[ci][b] != want.comp[ci][b]) {
        size_t k = 0;
        while (got.comp[ci][b][k] == want.comp[ci][b][k]) ++k;
        ADD_FAILURE() << what << ": component " << ci << " block " << b << " coefficient " << k
                      << ": " << got.comp[ci][b][k] << " instead of " << want.comp[ci][b][k];
        return;
      }
  }
}

// ---------------------------------------------------------------------------
// File structure

struct Segment {
  int marker = 0;
  size_t offset = 0;  // of the 0xFF
  Bytes payload;      // after the length field
};

struct Layout {
  bool ok = false;
  std::vector<Segment> segments;  // from APP0 to SOS
  size_t scan_begin = 0, scan_end = 0;  // entropy-coded bytes; EOI follows
};

// Walks the segments after SOI up to and including SOS; the scan runs from
// there to the final FF D9, which must end the file.
Layout layout(const Bytes &f) {
  Layout l;
  if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8) return l;
  size_t i = 2;
  for (;;) {
    if (i + 4 > f.size() || f[i] != 0xFF) return l;
    Segment s;
    s.marker = f[i + 1];
    s.offset = i;
    const size_t len = static_cast<size_t>(f[i + 2]) << 8 | f[i + 3];
    if (len < 2 || i + 2 + len > f.size()) return l;
    s.payload.assign(f.begin() + static_cast<long>(i + 4), f.begin() + static_cast<long>(i + 2 + len));
    l.segments.push_back(s);
    i += 2 + len;
    if (s.marker == 0xDA) break;
  }
  if (f.size() < i + 2 || f[f.size() - 2] != 0xFF || f.back() != 0xD9) return l;
  l.scan_begin = i;
  l.scan_end = f.size() - 2;
  l.ok = true;
  return l;
}

std::vector<Bytes> payloads(const Layout &l, int marker) {
  std::vector<Bytes> out;
  for (const Segment &s : l.segments)
    if (s.marker == marker) out.push_back(s.payload);
  return out;
}

// The entropy-coded bytes with stuffing removed; false when some 0xFF is
// not followed by 0x00.
bool unstuff(const Bytes &f, const Layout &l, Bytes &out, size_t *ff_count = nullptr) {
  size_t ff = 0;
  for (size_t i = l.scan_begin; i < l.scan_end; ++i) {
    out.push_back(f[i]);
    if (f[i] == 0xFF) {
      if (i + 1 >= l.scan_end || f[i + 1] != 0x00) return false;
      ++ff;
      ++i;
    }
  }
  if (ff_count) *ff_count = ff;
  return true;
}

// ---------------------------------------------------------------------------
// A scan walker: decodes the symbols of every block with the file's own
// Huffman tables and reports the bits left after the last block.

struct HuffLookup {
  std::vector<std::array<int, 3>> codes;  // length, code, symbol
  bool decode(const Bytes &bits_src, size_t &pos, int &symbol) const {
    unsigned code = 0;
    for (int len = 1; len <= 16; ++len) {
      if (pos >= bits_src.size() * 8) return false;
      code = code << 1 | ((bits_src[pos / 8] >> (7 - pos % 8)) & 1u);
      ++pos;
      for (const auto &c : codes)
        if (c[0] == len && static_cast<unsigned>(c[1]) == code) {
          symbol = c[2];
          return true;
        }
    }
    return false;
  }
};

HuffLookup lookup_from_dht(const Bytes &payload) {
  HuffLookup h;
  unsigned code = 0;
  size_t k = 17;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < payload[static_cast<size_t>(len)]; ++i, ++k)
      h.codes.push_back({len, static_cast<int>(code++), payload[k]});
    code <<= 1;
  }
  return h;
}

struct ScanWalk {
  bool ok = false;
  std::array<std::vector<std::vector<int>>, 3> ac_symbols;  // per component, per block
  size_t end_bit = 0, total_bits = 0;
  Bytes data;
};

ScanWalk walk_scan(const Bytes &f) {
  ScanWalk w;
  const Layout l = layout(f);
  if (!l.ok || !unstuff(f, l, w.data)) return w;
  HuffLookup tables[2][2];  // [class][id]
  for (const Bytes &p : payloads(l, 0xC4)) tables[p[0] >> 4][p[0] & 1] = lookup_from_dht(p);
  const Bytes sof = payloads(l, 0xC0).at(0);
  const int height = sof[1] << 8 | sof[2], width = sof[3] << 8 | sof[4];
  const size_t units = static_cast<size_t>((width + 7) / 8) * static_cast<size_t>((height + 7) / 8);
  size_t pos = 0;
  w.total_bits = w.data.size() * 8;
  for (size_t u = 0; u < units; ++u)
    for (size_t c = 0; c < 3; ++c) {
      const size_t id = c == 0 ? 0 : 1;
      int sym = 0;
      if (!tables[0][id].decode(w.data, pos, sym)) return w;
      pos += static_cast<size_t>(sym);
      std::vector<int> symbols;
      for (int k = 1; k < 64;) {
        if (!tables[1][id].decode(w.data, pos, sym)) return w;
        symbols.push_back(sym);
        if (sym == 0x00) break;
        k += (sym >> 4) + 1;
        pos += static_cast<size_t>(sym & 15);
        if (k > 64) return w;
      }
      w.ac_symbols[c].push_back(symbols);
    }
  if (pos > w.total_bits) return w;
  w.end_bit = pos;
  w.ok = true;
  return w;
}

// ---------------------------------------------------------------------------
// Comparisons

double mean_squared_error(const Bytes &rgba, const Bytes &rgb) {
  double sum = 0;
  const size_t n = rgb.size() / 3;
  for (size_t i = 0; i < n; ++i)
    for (size_t c = 0; c < 3; ++c) {
      const double d = static_cast<double>(rgba[4 * i + c]) - rgb[3 * i + c];
      sum += d * d;
    }
  return sum / static_cast<double>(3 * n);
}

double psnr_of(double mse) { return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse); }

// Mean squared error of libjpeg-turbo's own baseline file of the picture, in
// 4:4:4 with the tables of the given set (the same scaled example tables),
// as a yardstick.
double libjpeg_mse(const Picture &p, int set) {
  testjpeg::MakeOptions o;
  o.width = p.width;
  o.height = p.height;
  o.quality = std::array{45, 60, 70, 85}[static_cast<size_t>(set)];
  o.luma_h = o.luma_v = 1;
  for (size_t i = 0; i < p.rgba.size(); i += 4) o.pixels.insert(o.pixels.end(), {p.rgba[i], p.rgba[i + 1], p.rgba[i + 2]});
  const testjpeg::LibjpegPixels d = testjpeg::decode_with_libjpeg(testjpeg::make_jpeg(o));
  return d.ok ? mean_squared_error(p.rgba, d.pixels) : 1e9;
}

// Our error may exceed libjpeg-turbo's only by what the truncated chroma
// costs: Cb and Cr are half a level low on average, which adds 0.5 to 0.8 to
// the mean squared error in RGB (seen on the corpus).
void expect_close_to_libjpeg(double ours, double theirs, const std::string &what) {
  EXPECT_LE(ours, theirs * 1.03 + 1.0) << what << ": " << psnr_of(ours) << " dB against libjpeg-turbo's "
                                       << psnr_of(theirs) << " dB";
}

// libjpeg-turbo decodes the file without a warning to the picture's size.
void expect_decodes(const Bytes &file, const Picture &p, const std::string &what) {
  ASSERT_FALSE(file.empty()) << what;
  const testjpeg::LibjpegPixels d = testjpeg::decode_with_libjpeg(file);
  ASSERT_TRUE(d.ok) << what << ": " << d.message;
  EXPECT_EQ(d.warnings, 0) << what;
  EXPECT_EQ(d.width, p.width) << what;
  EXPECT_EQ(d.height, p.height) << what;
  EXPECT_EQ(d.components, 3) << what;
}

// ===========================================================================

TEST(JpegEncodeColour, ConvertsTheListedColours) {
  struct Case {
    uint8_t r, g, b, y, cb, cr;
  };
  const Case cases[] = {
      {128, 128, 128, 128, 128, 128}, {255, 255, 255, 255, 128, 128}, {0, 0, 0, 0, 128, 128},
      {255, 0, 0, 76, 84, 255},       {0, 0, 255, 29, 255, 107},
  };
  for (const Case &c : cases) {
    const jpeg_enc::Ycc got = jpeg_enc::rgb_to_ycc(c.r, c.g, c.b);
    EXPECT_EQ(got.y, c.y) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    EXPECT_EQ(got.cb, c.cb) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    EXPECT_EQ(got.cr, c.cr) << int(c.r) << "," << int(c.g) << "," << int(c.b);
  }
}

// The conversion narrows doubles to bytes: every 8-bit colour must land in
// 0..255 before that, or the narrowing would be undefined.
TEST(JpegEncodeColour, EveryColourStaysInRange) {
  int worst_low = 0, worst_high = 255;
  long mismatches = 0;
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b) {
        const double R = r, G = g, B = b;
        const double v[3] = {0.299 * R + 0.587 * G + 0.114 * B + 0.5,
                             -0.168736 * R - 0.331264 * G + 0.5 * B + 128,
                             0.5 * R - 0.418688 * G - 0.081312 * B + 128};
        for (double x : v) {
          worst_low = std::min(worst_low, static_cast<int>(std::floor(x)));
          worst_high = std::max(worst_high, static_cast<int>(std::floor(x)));
        }
        const jpeg_enc::Ycc c = jpeg_enc::rgb_to_ycc(r, g, b);
        mismatches += c.y != static_cast<int>(std::floor(v[0])) ||
                      c.cb != static_cast<int>(std::floor(v[1])) ||
                      c.cr != static_cast<int>(std::floor(v[2]));
      }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(worst_low, 0);
  EXPECT_EQ(worst_high, 255);
}

TEST(JpegEncodeTables, QualityPicksItsTableSet) {
  struct Case {
    int quality, set;
  };
  const Case cases[] = {{INT_MIN, 0}, {-5, 0},  {0, 0},  {1, 0},   {45, 0},  {57, 0},
                        {58, 1},      {60, 1},  {66, 1}, {67, 2},  {70, 2},  {75, 2},
                        {77, 2},      {78, 3},  {85, 3}, {100, 3}, {150, 3}, {INT_MAX, 3}};
  const std::array<int, 64> zz = zigzag();
  const Picture p = natural_picture(24, 16);
  for (const Case &c : cases) {
    const std::string what = "quality " + std::to_string(c.quality);
    EXPECT_EQ(jpeg_enc::quality_table_set(c.quality), c.set) << what;
    const Bytes f = encode(p, c.quality);
    const Layout l = layout(f);
    ASSERT_TRUE(l.ok) << what;
    const std::vector<Bytes> dqt = payloads(l, 0xDB);
    ASSERT_EQ(dqt.size(), 2u) << what;
    for (int id = 0; id < 2; ++id) {
      const Bytes &seg = dqt[static_cast<size_t>(id)];
      ASSERT_EQ(seg.size(), 65u) << what;
      EXPECT_EQ(seg[0], id) << what;  // 8-bit precision, table id
      const std::array<int, 64> want = expected_table(id == 1, c.set);
      for (size_t k = 0; k < 64; ++k)
        EXPECT_EQ(seg[1 + k], want[static_cast<size_t>(zz[k])]) << what << " table " << id << " k " << k;
    }
  }
  // The first entries, row-major, as the table sets are documented.
  EXPECT_EQ((std::array{expected_table(false, 0)[0], expected_table(false, 0)[1], expected_table(false, 0)[2]}),
            (std::array{18, 12, 11}));
  EXPECT_EQ((std::array{expected_table(true, 3)[0], expected_table(true, 3)[1], expected_table(true, 3)[2]}),
            (std::array{5, 5, 7}));
}

// libjpeg-turbo scales the same example tables with the same formula: its
// files at the four set qualities carry the same DQT segments.
TEST(JpegEncodeTables, QuantisationSegmentsMatchLibjpeg) {
  const Picture p = natural_picture(16, 16);
  const int set_quality[4] = {45, 60, 70, 85};
  const int our_quality[4] = {50, 62, 75, 90};
  for (int set = 0; set < 4; ++set) {
    testjpeg::MakeOptions o;
    o.quality = set_quality[set];
    const Layout theirs_layout = layout(testjpeg::make_jpeg(o));
    const Layout ours_layout = layout(encode(p, our_quality[set]));
    ASSERT_TRUE(theirs_layout.ok);
    ASSERT_TRUE(ours_layout.ok);
    EXPECT_EQ(payloads(ours_layout, 0xDB), payloads(theirs_layout, 0xDB)) << "set " << set;
  }
}

TEST(JpegEncodeHeaders, SegmentsAreTheDocumentedBytes) {
  struct Size {
    int width, height;
  };
  for (const Size s : {Size{300, 200}, Size{1, 1}, Size{65535, 1}, Size{1, 65535}, Size{258, 4097}}) {
    const std::string what = std::to_string(s.width) + "x" + std::to_string(s.height);
    const Bytes f = encode(solid_picture(s.width, s.height, 10, 200, 30), 75);
    ASSERT_GT(f.size(), 2u) << what;
    const Bytes soi_app0 = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                            0x00, 0x01, 0x01, 0x01, 0x00, 0x30, 0x00, 0x30, 0x00, 0x00};
    EXPECT_TRUE(std::equal(soi_app0.begin(), soi_app0.end(), f.begin())) << what;
    const Layout l = layout(f);
    ASSERT_TRUE(l.ok) << what;
    std::vector<int> markers;
    for (const Segment &seg : l.segments) markers.push_back(seg.marker);
    EXPECT_EQ(markers, (std::vector<int>{0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA}))
        << what;
    const unsigned w = static_cast<unsigned>(s.width), h = static_cast<unsigned>(s.height);
    const Bytes sof = {0x08, static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h), static_cast<uint8_t>(w >> 8),
                       static_cast<uint8_t>(w), 0x03, 0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    EXPECT_EQ(payloads(l, 0xC0).at(0), sof) << what;
    EXPECT_EQ(payloads(l, 0xDA).at(0),
              (Bytes{0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00}))
        << what;
    // DQT segments start right after APP0, with their documented lengths.
    EXPECT_EQ(f[20], 0xFF);
    EXPECT_EQ(f[21], 0xDB);
    EXPECT_EQ(f[22], 0x00);
    EXPECT_EQ(f[23], 0x43);
    if (s.width > 65500 || s.height > 65500) continue;  // beyond libjpeg-turbo's own limit
    const testjpeg::LibjpegHeader hdr = testjpeg::read_header_with_libjpeg(f);
    ASSERT_TRUE(hdr.read) << what << ": " << hdr.message;
    EXPECT_EQ(hdr.frame_code, 0xC0);
    EXPECT_EQ(hdr.width, s.width);
    EXPECT_EQ(hdr.height, s.height);
    EXPECT_EQ(hdr.components, 3);
  }
}

// The standard's typical Huffman tables, as libjpeg-turbo writes them when
// it does not optimise: the same four segments in the same order.
TEST(JpegEncodeHeaders, HuffmanSegmentsMatchLibjpeg) {
  testjpeg::MakeOptions o;
  o.optimize_coding = false;
  const Layout theirs = layout(testjpeg::make_jpeg(o));
  const Layout ours = layout(encode(natural_picture(16, 16), 75));
  ASSERT_TRUE(theirs.ok);
  ASSERT_TRUE(ours.ok);
  const std::vector<Bytes> dht = payloads(ours, 0xC4);
  ASSERT_EQ(dht.size(), 4u);
  EXPECT_EQ(dht, payloads(theirs, 0xC4));
  const uint8_t class_ids[4] = {0x00, 0x10, 0x01, 0x11};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(dht[i][0], class_ids[i]);
    const size_t symbols = dht[i].size() - 17;
    EXPECT_EQ(symbols, i % 2 == 0 ? 12u : 162u);
  }
  // The length fields: 12 + 19 and 162 + 19.
  const Bytes f = encode(natural_picture(16, 16), 75);
  int seen = 0;
  for (const Segment &s : ours.segments)
    if (s.marker == 0xC4) {
      EXPECT_EQ(f[s.offset + 2], 0x00);
      EXPECT_EQ(f[s.offset + 3], seen % 2 == 0 ? 0x1F : 0xB5);
      ++seen;
    }
}

// Many sizes, whole and partial blocks, every table set: libjpeg-turbo reads
// every file without a warning, and its coefficients are exactly the
// reference ones (which covers the edge repetition of partial blocks).
TEST(JpegEncodeDecode, LibjpegReadsEverySize) {
  struct Size {
    int width, height;
  };
  const Size sizes[] = {{1, 1},   {7, 7},    {8, 8},   {9, 9},  {17, 33}, {640, 480}, {1, 300},
                        {301, 1}, {15, 16},  {63, 65}, {333, 77}, {2, 3},  {31, 9}};
  for (const Size s : sizes)
    for (int quality : {50, 60, 75, 95}) {
      const std::string what =
          std::to_string(s.width) + "x" + std::to_string(s.height) + " q" + std::to_string(quality);
      const Picture p = natural_picture(s.width, s.height, static_cast<uint32_t>(s.width * 31 + s.height));
      const Bytes f = encode(p, quality);
      expect_decodes(f, p, what);
      expect_reference_coefficients(f, p, quality, what);
    }
}

TEST(JpegEncodeDecode, QualityAndSizeGrowWithTheTableSet) {
  const Picture p = natural_picture(512, 384, 7);
  double last_psnr = 0;
  size_t last_size = 0;
  for (int quality : {50, 60, 75, 90}) {
    const Bytes f = encode(p, quality);
    const testjpeg::LibjpegPixels d = testjpeg::decode_with_libjpeg(f);
    ASSERT_TRUE(d.ok) << d.message;
    const double mse = mean_squared_error(p.rgba, d.pixels), db = psnr_of(mse);
    const double theirs = libjpeg_mse(p, jpeg_enc::quality_table_set(quality));
    std::printf("[   INFO   ] quality %d (set %d): %.2f dB PSNR, %zu bytes; libjpeg-turbo 4:4:4 with "
                "the same tables: %.2f dB\n",
                quality, jpeg_enc::quality_table_set(quality), db, f.size(), psnr_of(theirs));
    expect_close_to_libjpeg(mse, theirs, "quality " + std::to_string(quality));
    RecordProperty("psnr_q" + std::to_string(quality), std::to_string(db));
    EXPECT_GT(db, last_psnr) << "quality " << quality;
    EXPECT_GT(f.size(), last_size) << "quality " << quality;
    if (quality == 75) {
      EXPECT_GE(db, 30.0);
    }
    last_psnr = db;
    last_size = f.size();
  }
}

TEST(JpegEncodeDecode, SolidColoursComeBack) {
  struct Colour {
    uint8_t r, g, b;
  };
  const Colour colours[] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},  {255, 255, 255},
                            {0, 0, 0},     {128, 128, 128}, {255, 255, 0}, {12, 200, 190}};
  for (const Colour c : colours)
    for (int quality : {50, 75, 90}) {
      const Picture p = solid_picture(13, 11, c.r, c.g, c.b);
      const std::string what = std::to_string(c.r) + "," + std::to_string(c.g) + "," +
                               std::to_string(c.b) + " q" + std::to_string(quality);
      const Bytes f = encode(p, quality);
      const testjpeg::LibjpegPixels d = testjpeg::decode_with_libjpeg(f);
      ASSERT_TRUE(d.ok) << what << ": " << d.message;
      EXPECT_EQ(d.warnings, 0) << what;
      int worst = 0;
      for (size_t i = 0; i < d.pixels.size(); ++i)
        worst = std::max(worst, std::abs(int(d.pixels[i]) - int(p.rgba[i / 3 * 4 + i % 3])));
      EXPECT_LE(worst, 4) << what;
      // A flat block has a DC value only.
      const testjpeg::LibjpegCoefficients rc = testjpeg::read_coefficients_with_libjpeg(f);
      ASSERT_TRUE(rc.ok) << what;
      for (const auto &comp : rc.comp)
        for (const Block &b : comp)
          for (size_t k = 1; k < 64; ++k) ASSERT_EQ(b[k], 0) << what;
    }
}

// The DC value of a flat block is 8 (sample - 128) over the step, so the
// documented conversions of red and blue show in the coefficients.
TEST(JpegEncodeDecode, FlatBlocksCarryTheConvertedColour) {
  struct Case {
    uint8_t r, g, b;
    int y, cb, cr;
  };
  for (const Case c : {Case{255, 0, 0, 76, 84, 255}, Case{0, 0, 255, 29, 255, 107},
                       Case{255, 255, 255, 255, 128, 128}, Case{0, 0, 0, 0, 128, 128}}) {
    const Bytes f = encode(solid_picture(8, 8, c.r, c.g, c.b), 90);
    const testjpeg::LibjpegCoefficients rc = testjpeg::read_coefficients_with_libjpeg(f);
    ASSERT_TRUE(rc.ok);
    const int want[3] = {c.y, c.cb, c.cr};
    for (size_t ci = 0; ci < 3; ++ci) {
      const double step = expected_table(ci != 0, 3)[0];
      const double dc = 8.0 * (want[ci] - 128) / step;
      EXPECT_EQ(rc.comp[ci].at(0)[0], static_cast<int>(dc >= 0 ? dc + 0.5 : dc - 0.5))
          << "component " << ci << " of " << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
  }
}

TEST(JpegEncodeDecode, AlphaIsIgnored) {
  Picture opaque = natural_picture(37, 21, 3);
  Picture varied = opaque;
  for (size_t i = 3; i < varied.rgba.size(); i += 4) varied.rgba[i] = static_cast<uint8_t>(i * 7);
  for (int quality : {50, 75, 90}) EXPECT_EQ(encode(opaque, quality), encode(varied, quality));
}

// ---------------------------------------------------------------------------
// Entropy-coded data

TEST(JpegEncodeScan, EveryFFIsStuffedAndTheLastByteIsFilledWithOnes) {
  size_t total_ff = 0;
  struct Case {
    Picture p;
    int quality;
  };
  std::vector<Case> cases;
  cases.push_back({noise_picture(64, 48, 5), 90});
  cases.push_back({noise_picture(33, 17, 9), 50});
  cases.push_back({natural_picture(200, 120, 11), 75});
  cases.push_back({solid_picture(1, 1, 255, 0, 0), 75});
  cases.push_back({solid_picture(9, 9, 0, 0, 0), 60});
  for (uint32_t seed = 1; seed <= 24; ++seed) cases.push_back({noise_picture(8, 8, seed), 95});
  std::array<int, 8> pad_seen{};
  for (const Case &c : cases) {
    const Bytes f = encode(c.p, c.quality);
    const Layout l = layout(f);
    ASSERT_TRUE(l.ok);
    Bytes data;
    size_t ff = 0;
    ASSERT_TRUE(unstuff(f, l, data, &ff)) << "an FF without a 00 after it";
    total_ff += ff;
    const ScanWalk w = walk_scan(f);
    ASSERT_TRUE(w.ok);
    // After the last block only 1-bits up to the byte boundary, and no
    // whole byte of fill.
    const size_t rest = w.total_bits - w.end_bit;
    ASSERT_LE(rest, 7u);
    for (size_t b = w.end_bit; b < w.total_bits; ++b)
      EXPECT_EQ((w.data[b / 8] >> (7 - b % 8)) & 1, 1) << "bit " << b - w.end_bit << " of the fill";
    ++pad_seen[rest];
    const testjpeg::LibjpegPixels d = testjpeg::decode_with_libjpeg(f);
    ASSERT_TRUE(d.ok) << d.message;
    EXPECT_EQ(d.warnings, 0) << rest << " fill bits";
  }
  EXPECT_GT(total_ff, 0u) << "no FF byte was produced, so stuffing went untested";
  int kinds = 0;
  for (int n : pad_seen) kinds += n > 0;
  EXPECT_GE(kinds, 6) << "too few different fill lengths were seen";
}

TEST(JpegEncodeScan, OneByOnePictureCodesOnlyDcValues) {
  const Picture p = solid_picture(1, 1, 40, 180, 99);
  const Bytes f = encode(p, 75);
  const ScanWalk w = walk_scan(f);
  ASSERT_TRUE(w.ok);
  for (const auto &comp : w.ac_symbols) {
    ASSERT_EQ(comp.size(), 1u);
    EXPECT_EQ(comp[0], std::vector<int>{0x00});  // end of block straight after DC
  }
  expect_reference_coefficients(f, p, 75, "1x1");
}

// A block made of the highest-frequency basis pattern alone: 62 zeros before
// the last coefficient give three sixteen-zero symbols, and no end of block
// follows the coefficient at zigzag position 63; the next block's DC comes
// straight after (libjpeg-turbo would misread everything after otherwise).
TEST(JpegEncodeScan, LongZeroRunsAndNoEndOfBlockAfterTheLastCoefficient) {
  Picture p{24, 8, Bytes(24 * 8 * 4)};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 24; ++x) {
      const double basis = std::cos((2 * x + 1) * 7 * 3.141592653589793 / 16) *
                           std::cos((2 * y + 1) * 7 * 3.141592653589793 / 16);
      // First block: the pattern; second: a gentle ramp; third: the pattern again.
      const double v = x >= 8 && x < 16 ? 60 + 4 * x + 3 * y : 128 + 100 * basis;
      const size_t i = (static_cast<size_t>(y) * 24 + static_cast<size_t>(x)) * 4;
      p.rgba[i] = p.rgba[i + 1] = p.rgba[i + 2] = clamp8(v);
      p.rgba[i + 3] = 255;
    }
  const Bytes f = encode(p, 50);
  const Coefficients ref = reference_coefficients(p, 50);
  // The construction works: in the first block only DC and (7, 7) survive.
  for (size_t k = 1; k < 63; ++k) ASSERT_EQ(ref.comp[0][0][k], 0) << "coefficient " << k;
  ASSERT_NE(ref.comp[0][0][63], 0);
  const ScanWalk w = walk_scan(f);
  ASSERT_TRUE(w.ok);
  const int size = std::bit_width(static_cast<unsigned>(std::abs(ref.comp[0][0][63])));
  const std::vector<int> want = {0xF0, 0xF0, 0xF0, 14 << 4 | size};
  EXPECT_EQ(w.ac_symbols[0].at(0), want);
  EXPECT_EQ(w.ac_symbols[0].at(2), want);
  expect_reference_coefficients(f, p, 50, "basis pattern");
  expect_decodes(f, p, "basis pattern");
}

// ---------------------------------------------------------------------------
// Arguments and failures

TEST(JpegEncodeArguments, BadArgumentsGiveNullAndLeaveOutLenAlone) {
  const Bytes pixels(4 * 70000, 100);
  struct Case {
    int width, height;
    bool pixels, out_len;
  };
  const Case cases[] = {{0, 1, true, true},       {1, 0, true, true},       {-1, 5, true, true},
                        {5, -1, true, true},      {INT_MIN, 1, true, true}, {65536, 1, true, true},
                        {1, 65536, true, true},   {INT_MAX, 1, true, true}, {2, 2, false, true},
                        {2, 2, true, false}};
  for (const Case &c : cases) {
    size_t len = 12345;
    unsigned char *out =
        tvl_jpeg_write_mem(c.width, c.height, c.pixels ? pixels.data() : nullptr, 75,
                           c.out_len ? &len : nullptr);
    EXPECT_EQ(out, nullptr) << c.width << "x" << c.height;
    std::free(out);
    EXPECT_EQ(len, 12345u) << c.width << "x" << c.height;
  }
}

// An allocator that counts the blocks it holds and fails its n-th request.
struct TestHeap {
  long fail_at = -1;  // requests before the failing one; negative: never
  long requests = 0;
  long reallocations = 0;
  long live = 0;
  bool failed = false;
};

void *test_allocate(void *ctx, size_t size) {
  auto *h = static_cast<TestHeap *>(ctx);
  if (h->requests++ == h->fail_at) {
    h->failed = true;
    return nullptr;
  }
  void *p = std::malloc(size ? size : 1);
  if (p) ++h->live;
  return p;
}

void *test_reallocate(void *ctx, void *block, size_t size) {
  auto *h = static_cast<TestHeap *>(ctx);
  if (h->requests++ == h->fail_at) {
    h->failed = true;
    return nullptr;
  }
  ++h->reallocations;
  return std::realloc(block, size);
}

void test_release(void *ctx, void *block) {
  auto *h = static_cast<TestHeap *>(ctx);
  if (block) --h->live;
  std::free(block);
}

TEST(JpegEncodeMemory, EveryFailedAllocationGivesNullAndLeaksNothing) {
  const Picture p = noise_picture(384, 256, 77);  // well over 128 KiB of output
  const Bytes expected = encode(p, 90);
  ASSERT_GT(expected.size(), 131072u);
  int failures = 0;
  for (long k = 0; k < 100; ++k) {
    TestHeap heap;
    heap.fail_at = k;
    const jpeg_enc::EncodeAllocator alloc = {test_allocate, test_reallocate, test_release, &heap};
    size_t len = 999;
    unsigned char *out = jpeg_enc::encode_with_allocator(p.width, p.height, p.rgba.data(), 90, &len, alloc);
    if (!heap.failed) {
      ASSERT_NE(out, nullptr);
      EXPECT_EQ(Bytes(out, out + len), expected);
      EXPECT_GE(heap.reallocations, 2) << "the output never grew";
      test_release(&heap, out);
      EXPECT_EQ(heap.live, 0);
      break;
    }
    ++failures;
    EXPECT_EQ(out, nullptr) << "allocation " << k;
    EXPECT_EQ(len, 0u) << "allocation " << k;
    EXPECT_EQ(heap.live, 0) << "allocation " << k << " leaked";
    if (out) test_release(&heap, out);
  }
  // The band buffer, the output, at least two growths and the final copy.
  EXPECT_GE(failures, 5);
}

// ---------------------------------------------------------------------------
// Files

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() /
           ("jpeg_encode_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

Bytes read_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(JpegEncodeFile, WritesTheQuality75Bytes) {
  TempDir dir;
  for (const Picture &p : {natural_picture(123, 45, 2), solid_picture(1, 1, 1, 2, 3)}) {
    const fs::path out = dir.path / "out.jpg";
    ASSERT_EQ(tvl_jpeg_write(out.string().c_str(), p.width, p.height, p.rgba.data()), 1);
    EXPECT_EQ(read_file(out), encode(p, 75));
  }
}

TEST(JpegEncodeFile, FailsCleanly) {
  TempDir dir;
  const Picture p = natural_picture(16, 16);
  EXPECT_EQ(tvl_jpeg_write(nullptr, p.width, p.height, p.rgba.data()), 0);
  EXPECT_EQ(tvl_jpeg_write((dir.path / "missing" / "x.jpg").string().c_str(), p.width, p.height,
                           p.rgba.data()),
            0);
  EXPECT_EQ(tvl_jpeg_write(dir.path.string().c_str(), p.width, p.height, p.rgba.data()), 0)
      << "a directory is no file";
  // Bad arguments fail before any file is made.
  const fs::path bad = dir.path / "bad.jpg";
  EXPECT_EQ(tvl_jpeg_write(bad.string().c_str(), 0, 16, p.rgba.data()), 0);
  EXPECT_EQ(tvl_jpeg_write(bad.string().c_str(), 16, 16, nullptr), 0);
  EXPECT_EQ(tvl_jpeg_write(bad.string().c_str(), 70000, 16, p.rgba.data()), 0);
  EXPECT_FALSE(fs::exists(bad));
}

// An existing file is replaced whole, and nothing is left beside it.
TEST(JpegEncodeFile, ReplacesAnExistingFile) {
  TempDir dir;
  const Picture p = natural_picture(20, 10);
  const fs::path out = dir.path / "old.jpg";
  { std::ofstream(out, std::ios::binary) << std::string(100000, 'x'); }
  ASSERT_EQ(tvl_jpeg_write(out.string().c_str(), p.width, p.height, p.rgba.data()), 1);
  EXPECT_EQ(read_file(out), encode(p, 75));
  size_t entries = 0;
  for (const auto &e : fs::directory_iterator(dir.path)) entries += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(entries, 1u);
}

// A device that takes no bytes: the small file stays in the stdio buffer
// until it is closed, so only the result of closing reveals the failure.
TEST(JpegEncodeFile, AFullDeviceIsAFailure) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const Picture p = natural_picture(16, 16);
  EXPECT_EQ(tvl_jpeg_write("/dev/full", p.width, p.height, p.rgba.data()), 0);
}

// ---------------------------------------------------------------------------
// The library's own decoder reads what the encoder writes as well as
// libjpeg-turbo does.

TEST(JpegEncodeRoundTrip, OwnDecoderReadsTheFiles) {
  for (int quality : {50, 62, 75, 90}) {
    const Picture p = natural_picture(203, 97, static_cast<uint32_t>(quality));
    const Bytes f = encode(p, quality);
    const std::string what = "quality " + std::to_string(quality);
    int width = 0, height = 0;
    const char *message = nullptr;
    std::unique_ptr<unsigned char, FreeDeleter> rgba(
        tvl_jpeg_decode_impl(f.data(), f.size(), &width, &height, &message));
    ASSERT_NE(rgba, nullptr) << what << ": " << (message ? message : "");
    ASSERT_EQ(width, p.width) << what;
    ASSERT_EQ(height, p.height) << what;
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    Bytes rgb;
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(rgba.get()[4 * i + 3], 255) << what;
      rgb.insert(rgb.end(), {rgba.get()[4 * i], rgba.get()[4 * i + 1], rgba.get()[4 * i + 2]});
    }
    const testjpeg::LibjpegPixels theirs = testjpeg::decode_with_libjpeg(f);
    ASSERT_TRUE(theirs.ok) << what;
    const double ours_mse = mean_squared_error(p.rgba, rgb);
    const double theirs_mse = mean_squared_error(p.rgba, theirs.pixels);
    EXPECT_LE(ours_mse, theirs_mse * 1.05 + 0.5) << what << ": " << psnr_of(ours_mse) << " dB against "
                                                 << psnr_of(theirs_mse) << " dB";
  }
}

// ---------------------------------------------------------------------------
// Real photographs: each readable file of the corpus, decoded by
// libjpeg-turbo, is encoded again; libjpeg-turbo must read the result
// without a warning, with the reference coefficients and a likeness no worse
// than libjpeg-turbo's own file with the same tables.

TEST(JpegEncodeCorpus, ReencodesRealPhotographs) {
  const fs::path dir = fs::path(FOLIMARK_CORPUS_DIR) / "jpeg";
  if (!fs::is_directory(dir)) GTEST_SKIP() << "corpus folder " << dir << " is absent";
  int encoded = 0;
  for (const auto &entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".jpeg") continue;
    const Bytes source = read_file(entry.path());
    const testjpeg::LibjpegPixels d = testjpeg::decode_with_libjpeg(source);
    if (!d.ok || d.warnings != 0) continue;  // the damaged files
    Picture p{d.width, d.height, {}};
    for (size_t i = 0; i < d.pixels.size(); i += static_cast<size_t>(d.components)) {
      const uint8_t r = d.pixels[i];
      const uint8_t g = d.components == 3 ? d.pixels[i + 1] : r;
      const uint8_t b = d.components == 3 ? d.pixels[i + 2] : r;
      p.rgba.insert(p.rgba.end(), {r, g, b, 255});
    }
    const int qualities[4] = {50, 62, 75, 90};  // one of each table set
    for (int i = 0; i < 4; ++i) {
      const int quality = qualities[i];
      const std::string what = entry.path().filename().string() + " q" + std::to_string(quality);
      const Bytes f = encode(p, quality);
      expect_decodes(f, p, what);
      // The exact comparison for one set a file, in turn, keeps the
      // sanitizer build quick.
      if (i == encoded % 4) expect_reference_coefficients(f, p, quality, what);
      const testjpeg::LibjpegPixels back = testjpeg::decode_with_libjpeg(f);
      ASSERT_TRUE(back.ok) << what;
      const double mse = mean_squared_error(p.rgba, back.pixels);
      expect_close_to_libjpeg(mse, libjpeg_mse(p, jpeg_enc::quality_table_set(quality)), what);
      EXPECT_GE(psnr_of(mse), 24.0) << what;
    }
    ++encoded;
  }
  EXPECT_GT(encoded, 10);
}

}  // namespace
