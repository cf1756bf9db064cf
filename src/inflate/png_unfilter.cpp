// PNG's five row filters undone in place, closing the rows up over their
// filter bytes: the one home of row unfiltering for the inflater's callers
// (images of one byte per pixel) and for the PNG predictors of PDF streams
// (any whole number of bytes per pixel).
//
// Row i comes from bytes i * (stride + 1) ... and is rebuilt at i * stride,
// so each byte is written at or before the place it is read from, after it
// has been read: the rows close up over their filter bytes in one pass, with
// no second buffer and no moving of the rest of the buffer.
#include <cstdint>
#include <cstdlib>

#include "inflate/inflate.h"

namespace {

uint8_t paeth(int left, int up, int upper_left) {
  const int p = left + up - upper_left;
  const int pa = std::abs(p - left);
  const int pb = std::abs(p - up);
  const int pc = std::abs(p - upper_left);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(left);
  if (pb <= pc) return static_cast<uint8_t>(up);
  return static_cast<uint8_t>(upper_left);
}

// Rebuilds one row of n bytes from src into dst (dst <= src, the two may
// overlap that way); prior is the rebuilt row above, or null for the first
// row, whose row above counts as zeros. The left neighbour of a byte is the
// byte bpp before it, or 0 in the first pixel.
void unfilter_row(uint8_t filter, const uint8_t *src, uint8_t *dst, const uint8_t *prior, size_t n,
                  size_t bpp) {
  for (size_t k = 0; k < n; ++k) {
    const int x = src[k];
    const int left = k >= bpp ? dst[k - bpp] : 0;
    const int up = prior != nullptr ? prior[k] : 0;
    const int upper_left = prior != nullptr && k >= bpp ? prior[k - bpp] : 0;
    int predictor = 0;
    switch (filter) {
      case 1: predictor = left; break;                   // Sub
      case 2: predictor = up; break;                     // Up
      case 3: predictor = (left + up) / 2; break;        // Average
      case 4: predictor = paeth(left, up, upper_left); break;  // Paeth
      default: break;                                    // None
    }
    dst[k] = static_cast<uint8_t>(x + predictor);
  }
}

}  // namespace

extern "C" size_t inflate_png_unfilter_rows(unsigned char *buf, size_t len, size_t stride, size_t bpp) {
  if (stride == 0 || bpp == 0 || buf == nullptr) return 0;
  const size_t filtered_row = stride + 1;
  const uint8_t *prior = nullptr;
  size_t from = 0;  // the next filter byte
  size_t to = 0;    // where the next rebuilt row goes
  size_t rows = 0;
  while (len - from >= filtered_row) {
    const uint8_t filter = buf[from];
    if (filter > 4) break;
    unfilter_row(filter, buf + from + 1, buf + to, prior, stride, bpp);
    prior = buf + to;
    from += filtered_row;
    to += stride;
    ++rows;
  }
  return rows;
}

extern "C" int inflate_png_unfilter(unsigned char *buf, size_t len, int stride) {
  if (stride <= 0) return -1;
  if (len == 0) return 0;
  if (buf == nullptr) return -1;
  const auto row = static_cast<size_t>(stride);
  return inflate_png_unfilter_rows(buf, len, row, 1) == len / (row + 1) ? 0 : -1;
}
