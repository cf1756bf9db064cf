// inflate_png_unfilter: PNG's five row filters undone in place, for images of
// one byte per pixel (the left neighbour is always the byte just before).
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

// Rebuilds one row from src into dst (dst <= src, the two may overlap that
// way); prior is the rebuilt row above, or null for the first row.
void unfilter_row(uint8_t filter, const uint8_t *src, uint8_t *dst, const uint8_t *prior,
                  size_t stride) {
  for (size_t k = 0; k < stride; ++k) {
    const int x = src[k];
    const int left = k > 0 ? dst[k - 1] : 0;
    const int up = prior != nullptr ? prior[k] : 0;
    const int upper_left = prior != nullptr && k > 0 ? prior[k - 1] : 0;
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

extern "C" int inflate_png_unfilter(unsigned char *buf, size_t len, int stride) {
  if (stride <= 0) return -1;
  if (len == 0) return 0;
  if (buf == nullptr) return -1;
  const auto row = static_cast<size_t>(stride);
  const size_t filtered_row = row + 1;
  const uint8_t *prior = nullptr;
  size_t from = 0;  // the next filter byte
  size_t to = 0;    // where the next rebuilt row goes
  while (len - from >= filtered_row) {
    const uint8_t filter = buf[from];
    if (filter > 4) return -1;
    unfilter_row(filter, buf + from + 1, buf + to, prior, row);
    prior = buf + to;
    from += filtered_row;
    to += row;
  }
  return 0;
}
