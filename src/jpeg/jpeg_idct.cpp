// The floating-point inverse DCT of baseline JPEG decoding: a separable
// double-precision sum, rows first, then columns.
#include <algorithm>
#include <cmath>

#include "jpeg/jpeg_decode_internal.h"

namespace jpegdec {
namespace {

// c[u][x] = c(u) * cos((2x + 1) * u * pi / 16), with c(0) = 1 / sqrt(8) and
// c(u) = 1 / 2 otherwise.
struct CosTable {
  double c[8][8];
};

CosTable build_cos_table() {
  CosTable t{};
  for (int u = 0; u < 8; ++u)
    for (int x = 0; x < 8; ++x)
      t.c[u][x] = (u == 0 ? 0.3535533905932738 : 0.5) *
                  std::cos(static_cast<double>((2 * x + 1) * u) * 3.141592653589793 * 0.0625);
  return t;
}

// Built once, on first use; the initialisation of a local static is
// thread-safe, and the table never changes afterwards.
const CosTable &cos_table() {
  static const CosTable table = build_cos_table();
  return table;
}

// One transformed value as a sample: level-shifted by 128, clamped to 0..255
// and rounded (values below 0 give 0).
inline uint8_t to_sample(double value) {
  const double s = std::max(0.0, std::min(value + 128.0, 255.0));
  return static_cast<uint8_t>(static_cast<int>(s + 0.5));
}

// acc[x] += f * c[x] for the eight x: the form the compiler turns into
// vector operations, each element still summed in the same order.
inline void add_scaled(double acc[8], double f, const double c[8]) {
  acc[0] += f * c[0];
  acc[1] += f * c[1];
  acc[2] += f * c[2];
  acc[3] += f * c[3];
  acc[4] += f * c[4];
  acc[5] += f * c[5];
  acc[6] += f * c[6];
  acc[7] += f * c[7];
}

}  // namespace

// The transform is defined as two passes of sums accumulated from 0 in
// increasing index order: t[v][x] = sum over u of f[v][u] * c[u][x], then
// out[y][x] = sum over v of t[v][x] * c[v][y]. Terms with a zero factor add
// nothing and are skipped, and c[0][x] is the same for every x, so blocks
// with only a first row or only a first column of coefficients need a
// single row or column of sums; every result stays exactly that of the
// full sums.
void idct_block_to_plane(const int32_t coef[64], unsigned used, const int32_t quant[64],
                         uint8_t *plane, size_t plane_w, size_t plane_h, size_t x0, size_t y0) {
  const CosTable &ct = cos_table();
  const unsigned rows_used = used & 0xFF;           // bit v: row v has a coefficient
  const unsigned columns_used = used >> 8 & 0xFF;  // bit u: column u has one
  // Only the rows that hold coefficients are read below.
  double f[64];
  for (int v = 0; v < 8; ++v) {
    if ((rows_used >> v & 1) == 0) continue;
    for (int u = 0; u < 8; ++u) {
      // 64-bit: corrupt coefficients times a quantiser may exceed 32 bits.
      f[v * 8 + u] = static_cast<double>(int64_t{coef[v * 8 + u]} * quant[v * 8 + u]);
    }
  }
  if (rows_used == 0) f[0] = 0.0;

  uint8_t block[8][8];
  if ((rows_used | columns_used) <= 1) {
    // Only the DC term (or none): the same two products for every sample.
    const double t = 0.0 + f[0] * ct.c[0][0];
    const uint8_t s = to_sample(0.0 + t * ct.c[0][0]);
    for (auto &row : block) std::fill(std::begin(row), std::end(row), s);
  } else if (rows_used == 1) {
    // Only the first row: t[0][x] * c[0][y] is the same for every y.
    double t[8] = {};
    for (int u = 0; u < 8; ++u)
      if (f[u] != 0.0) add_scaled(t, f[u], ct.c[u]);
    for (int x = 0; x < 8; ++x) block[0][x] = to_sample(0.0 + t[x] * ct.c[0][0]);
    for (int y = 1; y < 8; ++y) std::copy(std::begin(block[0]), std::end(block[0]), block[y]);
  } else if (columns_used == 1) {
    // Only the first column: t[v][x] = f[v][0] * c(0) for every x, so each
    // output row is one value.
    for (int y = 0; y < 8; ++y) {
      double out = 0.0;
      for (int v = 0; v < 8; ++v)
        if ((rows_used >> v & 1) != 0) out += (0.0 + f[v * 8] * ct.c[0][0]) * ct.c[v][y];
      std::fill(std::begin(block[y]), std::end(block[y]), to_sample(out));
    }
  } else {
    double t[8][8] = {};
    for (int v = 0; v < 8; ++v) {
      if ((rows_used >> v & 1) == 0) continue;
      for (int u = 0; u < 8; ++u)
        if (f[v * 8 + u] != 0.0) add_scaled(t[v], f[v * 8 + u], ct.c[u]);
    }
    for (int y = 0; y < 8; ++y) {
      double out[8] = {};
      for (int v = 0; v < 8; ++v)
        if ((rows_used >> v & 1) != 0) add_scaled(out, ct.c[v][y], t[v]);
      for (int x = 0; x < 8; ++x) block[y][x] = to_sample(out[x]);
    }
  }

  if (x0 >= plane_w || y0 >= plane_h) return;
  const size_t cols = std::min<size_t>(8, plane_w - x0);
  const size_t rows = std::min<size_t>(8, plane_h - y0);
  for (size_t y = 0; y < rows; ++y) {
    uint8_t *dst = plane + (y0 + y) * plane_w + x0;
    for (size_t x = 0; x < cols; ++x) dst[x] = block[y][x];
  }
}

}  // namespace jpegdec
