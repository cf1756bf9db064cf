// Turning decoded JPEG sample planes into RGBA pixels: nearest-neighbour
// upsampling of subsampled components and the colour conversions.
#include <algorithm>
#include <cstring>
#include <vector>

#include "jpeg/jpeg_decode_internal.h"

namespace jpegdec {
namespace {

inline uint8_t clamp_byte(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// YCbCr to RGB, defined in doubles with each result truncated toward zero
// and clamped:
//   R = Y + 1.402 (Cr - 128)
//   G = Y - 0.344136 (Cb - 128) - 0.714136 (Cr - 128)
//   B = Y + 1.772 (Cb - 128)
struct Rgb {
  uint8_t r, g, b;
};
inline Rgb ycc_to_rgb_doubles(int y, int cb, int cr) {
  const double yd = y;
  const double r = yd + 1.402 * (cr - 128);
  const double g = yd - 0.344136 * (cb - 128) - 0.714136 * (cr - 128);
  const double b = yd + 1.772 * (cb - 128);
  return {clamp_byte(static_cast<int>(r)), clamp_byte(static_cast<int>(g)),
          clamp_byte(static_cast<int>(b))};
}

// The same in integers. Truncation then clamping equals flooring then
// clamping, and with Y an integer, floor(Y + a) = Y + floor(a) unless the
// sum lands within rounding error of an integer. 1.402 n and 1.772 n are
// integers (or a thousandth or more away from one) only for n = 0, and
// 0.344136 m + 0.714136 n only for (m, n) = (0, 0) and (-100, 100) or
// (100, -100): those two pairs, whose double sums may round either way,
// take the double path. Every other result is exactly the double one.
struct YccTables {
  int r[256];   // floor(1.402 (Cr - 128))
  int b[256];   // floor(1.772 (Cb - 128))
  int gb[256];  // 344136 (Cb - 128): millionths
  int gr[256];  // 714136 (Cr - 128)
  // range[v + kRangeBias] is v clamped to 0..255, for v from -kRangeBias.
  uint8_t range[1024];
};
constexpr int kRangeBias = 384;

YccTables build_ycc_tables() {
  YccTables t{};
  auto floor_div = [](int a, int d) { return a >= 0 ? a / d : -((-a + d - 1) / d); };
  for (int i = 0; i < 256; ++i) {
    t.r[i] = floor_div(1402 * (i - 128), 1000);
    t.b[i] = floor_div(1772 * (i - 128), 1000);
    t.gb[i] = 344136 * (i - 128);
    t.gr[i] = 714136 * (i - 128);
  }
  for (int v = 0; v < 1024; ++v) t.range[v] = clamp_byte(v - kRangeBias);
  return t;
}

const YccTables &ycc_tables() {
  static const YccTables tables = build_ycc_tables();
  return tables;
}

inline Rgb ycc_to_rgb(const YccTables &t, int y, int cb, int cr) {
  const int s = t.gb[cb] + t.gr[cr];  // |s| < 1.4e8
  if (s == 37000000 || s == -37000000) return ycc_to_rgb_doubles(y, cb, cr);
  // floor(-s / 10^6), with a bias that keeps the dividend positive.
  const int g = (200000000 - s) / 1000000 - 200;
  return {clamp_byte(y + t.r[cr]), clamp_byte(y + g), clamp_byte(y + t.b[cb])};
}

// Adobe files store C, M, Y and K inverted (255 is no ink), so a colour
// channel is the product of its inverted ink and the inverted black.
inline uint8_t inverted_ink(int c, int k) { return static_cast<uint8_t>((c * k + 127) / 255); }

// Ink amounts (0 is no ink): 255 - C - K + C*K/255, never below 0.
inline uint8_t plain_ink(int c, int k) {
  return clamp_byte(255 - c - k + c * k / 255);
}

}  // namespace

void convert_to_rgba(std::span<const PlaneView> planes, int hmax, int vmax, ColourModel model,
                     size_t width, size_t height, uint8_t *out) {
  const size_t count = model == ColourModel::gray                                ? 1
                       : model == ColourModel::ycbcr || model == ColourModel::rgb ? 3
                                                                                  : 4;
  const YccTables &t = ycc_tables();
  // Each output row reads one row of every plane; a plane at full width is
  // read in place, a narrower one is first spread to the width.
  std::vector<uint8_t> spread[4];
  std::vector<uint32_t> columns[4];
  for (size_t c = 0; c < count; ++c) {
    const PlaneView &p = planes[c];
    if (p.h == hmax) continue;
    spread[c].resize(width);
    columns[c].resize(width);
    for (size_t x = 0; x < width; ++x)
      columns[c][x] = static_cast<uint32_t>(
          std::min(x * static_cast<size_t>(p.h) / static_cast<size_t>(hmax), p.width - 1));
  }

  for (size_t y = 0; y < height; ++y) {
    const uint8_t *row[4] = {};
    for (size_t c = 0; c < count; ++c) {
      const PlaneView &p = planes[c];
      const size_t py =
          std::min(y * static_cast<size_t>(p.v) / static_cast<size_t>(vmax), p.height - 1);
      const uint8_t *src = p.samples + py * p.width;
      if (spread[c].empty()) {
        row[c] = src;
      } else {
        uint8_t *dst = spread[c].data();
        const uint32_t *col = columns[c].data();
        for (size_t x = 0; x < width; ++x) dst[x] = src[col[x]];
        row[c] = dst;
      }
    }
    uint8_t *dst = out + y * width * 4;
    switch (model) {
      case ColourModel::gray:
        for (size_t x = 0; x < width; ++x, dst += 4) {
          const uint8_t g = row[0][x];
          dst[0] = g;
          dst[1] = g;
          dst[2] = g;
          dst[3] = 255;
        }
        break;
      case ColourModel::ycbcr: {
        const uint8_t *py = row[0], *pcb = row[1], *pcr = row[2];
        for (size_t x = 0; x < width; ++x) {
          const int cb = pcb[x], cr = pcr[x];
          const int s = t.gb[cb] + t.gr[cr];  // |s| < 1.4e8
          Rgb p;
          if (s == 37000000 || s == -37000000) {
            p = ycc_to_rgb_doubles(py[x], cb, cr);
          } else {
            // floor(-s / 10^6), with a bias that keeps the dividend positive.
            const int g = (200000000 - s) / 1000000 - 200;
            const int yb = py[x] + kRangeBias;
            p = {t.range[yb + t.r[cr]], t.range[yb + g], t.range[yb + t.b[cb]]};
          }
          const uint8_t pixel[4] = {p.r, p.g, p.b, 255};
          std::memcpy(dst + 4 * x, pixel, 4);
        }
        break;
      }
      case ColourModel::rgb:
        for (size_t x = 0; x < width; ++x, dst += 4) {
          dst[0] = row[0][x];
          dst[1] = row[1][x];
          dst[2] = row[2][x];
          dst[3] = 255;
        }
        break;
      case ColourModel::cmyk_adobe:
      case ColourModel::ycck_adobe:
      case ColourModel::cmyk_plain:
        for (size_t x = 0; x < width; ++x, dst += 4) {
          int c = row[0][x], m = row[1][x], ye = row[2][x];
          const int k = row[3][x];
          if (model == ColourModel::ycck_adobe) {
            // Y, Cb and Cr encode 255 - C, 255 - M and 255 - Y.
            const Rgb p = ycc_to_rgb(t, c, m, ye);
            c = 255 - p.r;
            m = 255 - p.g;
            ye = 255 - p.b;
          }
          if (model == ColourModel::cmyk_plain) {
            dst[0] = plain_ink(c, k);
            dst[1] = plain_ink(m, k);
            dst[2] = plain_ink(ye, k);
          } else {
            dst[0] = inverted_ink(c, k);
            dst[1] = inverted_ink(m, k);
            dst[2] = inverted_ink(ye, k);
          }
          dst[3] = 255;
        }
        break;
    }
  }
}

}  // namespace jpegdec
